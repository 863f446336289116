// Window, drawing surfaces, cursor, pixels, text and image copies.
#pragma once
#include <stdint.h>

#include "core/core.h"

// Surfaces are opaque here: callers outside the toolkit use these calls.
struct SDL_Surface;
struct SDL_Color;
struct _TTF_Font;

extern SDL_Surface* screen;  // video surface
extern SDL_Surface* menu;    // the panel, PANEL_WIDTH x screen height, at (0, 0)
extern SDL_Surface* window;  // the map view, the rest of the width, at (PANEL_WIDTH, 0)
extern SDL_Surface* text;
extern _TTF_Font* police;
extern SDL_Color fontColor;

// Interface images, loaded from the program folder by videoInit.
extern SDL_Surface *menubg, *antenneWifiGFX, *moska, *brushpen, *brushsquare, *brushfill,
    *passnot, *b_MainMenu, *b_MapMenu, *b_EntitiesMenu, *b_join, *b_disconnect,
    *b_down, *b_up, *b_newmap, *b_addlayer, *b_delete, *b_tobg, *b_tolayer,
    *b_passconditions, *b_save, *b_new, *b_accept, *b_refuse;

// A surface's size in pixels (0 for none).
int surfaceWidth(const SDL_Surface* s);
int surfaceHeight(const SDL_Surface* s);

// Sets the video mode and makes the panel and view surfaces: VIDEO_OK, or
// which step failed (the shell ends with its status).
enum VideoInit { VIDEO_OK, VIDEO_NO_MODE, VIDEO_NO_SURFACE };
VideoInit videoInit();
// The window resized to w x h (at least the panel and one cell by one
// cell): the screen, panel and view surfaces made again at that size, the
// panel's picture kept, video_x and video_y set to it. False (nothing
// changed) in full screen, for the current size, or when the new surfaces
// or mode cannot be had.
const int VIDEO_MIN_WIDTH = PANEL_WIDTH + TILE, VIDEO_MIN_HEIGHT = TILE;
bool videoResize(int w, int h);
void initCursor();

void setPixel(SDL_Surface* s, int x, int y, int r, int g, int b);
uint32_t getpixel(SDL_Surface* s, int x, int y);

void setFontColor(SDL_Color* f, int r, int g, int b);
void drawText(const char* s, int x, int y, const char* color, const char* style, int size,
              bool omenu);

void blitButton(SDL_Surface*& source, int x, int y, int style);
void blitIt(SDL_Surface*& source, SDL_Surface*& destination, int x, int y);
void blitElement(SDL_Surface*& source, int x, int y, int element);
void blitWindow();
void blitMenu();

// Copies the w x h rectangle at (sx, sy) of src to (x, y) of dst.
void blitPart(SDL_Surface* src, int sx, int sy, int w, int h, SDL_Surface* dst, int x, int y);
// Draws tile `element` of a sheet (its colour key respected) at (x, y) of
// dst, blended at alpha 0..255 (previews).
void blitTileTranslucent(SDL_Surface* sheet, int element, SDL_Surface* dst, int x, int y, int alpha);
// The pixel value of a colour in a surface's format.
uint32_t mapRGB(SDL_Surface* s, int r, int g, int b);
// Fills the side x side square at (x, y), which lies inside s, with a
// colour: written straight into a 32-bit surface (a library fill per map
// cell costs more than the cell).
void fillCell(SDL_Surface* s, int x, int y, int side, int r, int g, int b);
// Fills a rectangle of a surface, clipped (frames of fields and browser rows).
void fillRect(SDL_Surface* s, int x, int y, int w, int h, int r, int g, int b);
// Blends (r, g, b) over the rectangle, alpha 0 (nothing) to 255 (opaque);
// 32-bit surfaces that need no lock (the view), others are left alone.
void tintRect(SDL_Surface* s, int x, int y, int w, int h, int r, int g, int b, int alpha);

// A text in colour 0xRRGGBB on a dark box, drawn once and shown many times
// (peers' names over the view), in the view's pixel format: null when it
// cannot be drawn. freeSurface lets it go (null: nothing).
SDL_Surface* makeLabel(const char* s, uint32_t rgb, int size);
// A w x h picture in the view's pixel format, transparent until drawn on
// (blendRect, blitFaded): null when it cannot be made.
SDL_Surface* makePicture(int w, int h);
void freeSurface(SDL_Surface* s);
// Copies the whole of src to (x, y) of dst, clipped, with alpha 0 (nothing)
// to 255 (opaque).
void blitFaded(SDL_Surface* src, SDL_Surface* dst, int x, int y, int alpha);
// Blends colour 0xRRGGBB over a rectangle of a 32-bit surface that needs no
// lock (the view), clipped, alpha 0 to 255 (255 fills); others: left alone.
void blendRect(SDL_Surface* s, int x, int y, int w, int h, uint32_t rgb, int alpha);
