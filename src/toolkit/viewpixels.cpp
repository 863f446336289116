#include "toolkit/viewpixels.h"

#include <SDL/SDL.h>
#include <string.h>

namespace {
SDL_Surface* kept[SCRATCH_SLOTS] = {nullptr, nullptr};

Uint32* row32(SDL_Surface* s, int y) { return (Uint32*)((Uint8*)s->pixels + y * s->pitch); }

bool plain32(SDL_Surface* s) { return s && s->format->BytesPerPixel == 4 && !SDL_MUSTLOCK(s); }

// The part of a w x h rectangle at (x, y) inside s; false when none is.
bool clip(SDL_Surface* s, int* x, int* y, int* w, int* h, int* skipX, int* skipY) {
  *skipX = *x < 0 ? -*x : 0;
  *skipY = *y < 0 ? -*y : 0;
  int right = *x + *w < s->w ? *x + *w : s->w, bottom = *y + *h < s->h ? *y + *h : s->h;
  *x += *skipX;
  *y += *skipY;
  *w = right - *x;
  *h = bottom - *y;
  return *w > 0 && *h > 0;
}
}  // namespace

SDL_Surface* viewScratch(ScratchSlot slot, SDL_Surface* like, int w, int h) {
  if (!like || w <= 0 || h <= 0 || slot < 0 || slot >= SCRATCH_SLOTS) return nullptr;
  const SDL_PixelFormat* f = like->format;
  SDL_Surface*& s = kept[slot];
  if (s && s->w == w && s->h == h && s->format->BitsPerPixel == f->BitsPerPixel && s->format->Rmask == f->Rmask &&
      s->format->Gmask == f->Gmask && s->format->Bmask == f->Bmask && s->format->Amask == f->Amask)
    return s;
  if (s) SDL_FreeSurface(s);
  s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, f->BitsPerPixel, f->Rmask, f->Gmask, f->Bmask, f->Amask);
  return s;
}

void copyPixels(SDL_Surface* src, int sx, int sy, int w, int h, SDL_Surface* dst, int x, int y) {
  if (!plain32(src) || !plain32(dst) || w <= 0 || h <= 0 || sx < 0 || sy < 0 || x < 0 || y < 0 ||
      sx + w > src->w || sy + h > src->h || x + w > dst->w || y + h > dst->h)
    return;
  for (int r = 0; r < h; r++) memcpy(row32(dst, y + r) + x, row32(src, sy + r) + sx, (size_t)w * 4);
}

void scaleNearest(SDL_Surface* src, SDL_Surface* dst, int factor) {
  if (!plain32(src) || !plain32(dst) || factor < 1 || (dst->w + factor - 1) / factor > src->w ||
      (dst->h + factor - 1) / factor > src->h)
    return;
  for (int y = 0; y < dst->h; y += factor) {
    const Uint32* s = row32(src, y / factor);
    Uint32* d = row32(dst, y);
    for (int x = 0; x < dst->w; x++) d[x] = s[x / factor];
    // The row's copies below it.
    for (int k = 1; k < factor && y + k < dst->h; k++) memcpy(row32(dst, y + k), d, (size_t)dst->w * 4);
  }
}

void shadeRect(SDL_Surface* s, int x, int y, int w, int h) {
  int sx, sy;
  if (!plain32(s) || !clip(s, &x, &y, &w, &h, &sx, &sy)) return;
  const SDL_PixelFormat* f = s->format;
  Uint32 colour = f->Rmask | f->Gmask | f->Bmask, white = colour;
  for (int r = 0; r < h; r++) {
    Uint32* d = row32(s, y + r) + x;
    for (int c = 0; c < w; c++) {
      Uint32 p = d[c] & colour, half = (p >> 1) & 0x7F7F7F7Fu & colour;
      // Every byte halved, or halfway to white where the pixel is dark.
      int sum = (int)(p & 0xFF) + (int)(p >> 8 & 0xFF) + (int)(p >> 16 & 0xFF) + (int)(p >> 24 & 0xFF);
      d[c] = sum > 3 * 128 ? half : half + (((white >> 1) & 0x7F7F7F7Fu) & colour);
    }
  }
}

void putPixels(SDL_Surface* s, int x, int y, int w, int h, const uint32_t* px) {
  int sx, sy, rowLength = w;
  if (!plain32(s) || !px || !clip(s, &x, &y, &w, &h, &sx, &sy)) return;
  for (int r = 0; r < h; r++) memcpy(row32(s, y + r) + x, px + (size_t)(sy + r) * rowLength + sx, (size_t)w * 4);
}

void drawLine(SDL_Surface* s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t rgb) {
  if (!plain32(s)) return;
  // Liang-Barsky: the part of the segment inside [0, w - 1] x [0, h - 1].
  double t0 = 0, t1 = 1, dx = (double)(x1 - x0), dy = (double)(y1 - y0);
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {(double)x0, (double)(s->w - 1 - x0), (double)y0, (double)(s->h - 1 - y0)};
  for (int k = 0; k < 4; k++) {
    if (p[k] == 0) {
      if (q[k] < 0) return;
      continue;
    }
    double t = q[k] / p[k];
    if (p[k] < 0 && t > t0) t0 = t;
    if (p[k] > 0 && t < t1) t1 = t;
    if (t0 > t1) return;
  }
  int ax = (int)(x0 + t0 * dx + 0.5), ay = (int)(y0 + t0 * dy + 0.5);
  int bx = (int)(x0 + t1 * dx + 0.5), by = (int)(y0 + t1 * dy + 0.5);
  Uint32 pixel = SDL_MapRGB(s->format, (Uint8)(rgb >> 16), (Uint8)(rgb >> 8), (Uint8)rgb);
  int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  int ex = ax < bx ? bx - ax : ax - bx, ey = ay < by ? ay - by : by - ay, err = ex + ey;
  for (;;) {  // Bresenham, every point inside s after the clip (rounding kept in range below)
    if (ax >= 0 && ay >= 0 && ax < s->w && ay < s->h) row32(s, ay)[ax] = pixel;
    if (ax == bx && ay == by) return;
    int e2 = 2 * err;
    if (e2 >= ey) err += ey, ax += sx;
    if (e2 <= ex) err += ex, ay += sy;
  }
}
