// Pixel work of the zoomed map view: a scratch surface in the view's
// format, pixels repeated to enlarge a picture, shaded lines (the grid) and
// blocks of pixel values copied in (the overview), lines (the entities'
// reference arrows).
#pragma once
#include <stdint.h>

struct SDL_Surface;

// A w x h surface in the format of `like`, kept in its slot and reused
// while the size and format hold. Null when it cannot be made.
enum ScratchSlot { SCRATCH_ENLARGED, SCRATCH_CELL, SCRATCH_SLOTS };
SDL_Surface* viewScratch(ScratchSlot slot, SDL_Surface* like, int w, int h);
// The w x h pixels at (sx, sy) of src copied to (x, y) of dst, both 32 bits
// a pixel, the rectangles inside them (a cell of the view: rows copied
// straight, without the library's blit set-up).
void copyPixels(SDL_Surface* src, int sx, int sy, int w, int h, SDL_Surface* dst, int x, int y);
// Every pixel (x, y) of dst becomes pixel (x / factor, y / factor) of src
// (both 32 bits a pixel; src covers dst).
void scaleNearest(SDL_Surface* src, SDL_Surface* dst, int factor);
// The pixels of a rectangle, clipped, made darker where they are light and
// lighter where they are dark (lines seen on any picture).
void shadeRect(SDL_Surface* s, int x, int y, int w, int h);
// Pixel values `px` (w x h, row by row, in s's format) copied to (x, y), clipped.
void putPixels(SDL_Surface* s, int x, int y, int w, int h, const uint32_t* px);
// A one-pixel line in colour 0xRRGGBB from (x0, y0) to (x1, y1), clipped to
// s first (its ends may lie anywhere: only the visible part costs).
void drawLine(SDL_Surface* s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t rgb);
