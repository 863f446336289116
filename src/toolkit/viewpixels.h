// Pixel work of the zoomed map view: a scratch surface in the view's
// format, pixels repeated to enlarge a picture, shaded lines (the grid) and
// blocks of pixel values copied in (the overview).
#pragma once
#include <stdint.h>

struct SDL_Surface;

// A w x h surface in the format of `like`, kept and reused while the size
// and format hold (one at a time). Null when it cannot be made.
SDL_Surface* viewScratch(SDL_Surface* like, int w, int h);
// Every pixel (x, y) of dst becomes pixel (x / factor, y / factor) of src
// (both 32 bits a pixel; src covers dst).
void scaleNearest(SDL_Surface* src, SDL_Surface* dst, int factor);
// The pixels of a rectangle, clipped, taken halfway to mid grey.
void shadeRect(SDL_Surface* s, int x, int y, int w, int h);
// Pixel values `px` (w x h, row by row, in s's format) copied to (x, y), clipped.
void putPixels(SDL_Surface* s, int x, int y, int w, int h, const uint32_t* px);
