// mkassets: draws the editor's interface images and tilesets, and the bundled
// example project.
//
//   mkassets <outdir>            the program folder's images and default.png
//   mkassets --example <dir>     the example project (layers, pass conditions,
//                                maps, project file)
//
// Everything is drawn procedurally with fixed seeds, so two runs give the same
// bytes. Labels are rendered with DejaVu Sans through SDL_ttf.
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/files.h"
#include "model/mapfile.h"
#include "model/model.h"
#include "png.h"

namespace {

// ---------------------------------------------------------------- pictures

struct RGB {
  int r, g, b;
};

const RGB kMagenta = {255, 0, 255};  // transparent colour of keyed interface images
const RGB kKey = {255, 0, 255};      // tile 0 of a tileset: the colour made transparent

struct Image {
  int w = 0, h = 0;
  std::vector<uint8_t> px;  // RGB rows
};

Image makeImage(int w, int h, RGB c) {
  Image im;
  im.w = w;
  im.h = h;
  im.px.resize(size_t(w) * h * 3);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    im.px[i * 3] = uint8_t(c.r);
    im.px[i * 3 + 1] = uint8_t(c.g);
    im.px[i * 3 + 2] = uint8_t(c.b);
  }
  return im;
}

int clamp255(double v) { return v < 0 ? 0 : v > 255 ? 255 : int(v + 0.5); }

RGB getPx(const Image& im, int x, int y) {
  const uint8_t* p = &im.px[(size_t(y) * im.w + x) * 3];
  return {p[0], p[1], p[2]};
}

void putPx(Image& im, int x, int y, RGB c) {
  if (x < 0 || y < 0 || x >= im.w || y >= im.h) return;
  uint8_t* p = &im.px[(size_t(y) * im.w + x) * 3];
  p[0] = uint8_t(clamp255(c.r));
  p[1] = uint8_t(clamp255(c.g));
  p[2] = uint8_t(clamp255(c.b));
}

RGB mix(RGB a, RGB b, double t) {
  return {clamp255(a.r + (b.r - a.r) * t), clamp255(a.g + (b.g - a.g) * t),
          clamp255(a.b + (b.b - a.b) * t)};
}

RGB scale(RGB a, double f) { return {clamp255(a.r * f), clamp255(a.g * f), clamp255(a.b * f)}; }

bool same(RGB a, RGB b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

void blendPx(Image& im, int x, int y, RGB c, double a) {
  if (x < 0 || y < 0 || x >= im.w || y >= im.h || a <= 0) return;
  putPx(im, x, y, mix(getPx(im, x, y), c, std::min(1.0, a)));
}

void fillRect(Image& im, int x0, int y0, int w, int h, RGB c) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) putPx(im, x, y, c);
}

// Deterministic hash noise in [0, 1).
double hash2(int x, int y, int seed) {
  uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return (h & 0xFFFFFF) / double(0x1000000);
}

// Smooth value noise that repeats every 16 pixels, so tiles join seamlessly.
double tileNoise(double x, double y, int cell, int seed) {
  int n = TILE / cell;
  double fx = x / cell, fy = y / cell;
  int ix = int(std::floor(fx)), iy = int(std::floor(fy));
  double tx = fx - ix, ty = fy - iy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  auto at = [&](int a, int b) { return hash2(((a % n) + n) % n, ((b % n) + n) % n, seed); };
  double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * tx;
  double bot = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * tx;
  return top + (bot - top) * ty;
}

// Fraction of the pixel (x, y) that `inside` covers, 4 x 4 samples.
template <class F>
double coverage(int x, int y, F inside) {
  int n = 0;
  for (int sy = 0; sy < 4; ++sy)
    for (int sx = 0; sx < 4; ++sx)
      if (inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)) ++n;
  return n / 16.0;
}

// Anti-aliased shape over an opaque picture.
template <class F>
void fillShape(Image& im, int x0, int y0, int x1, int y1, RGB c, F inside, double alpha = 1) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) blendPx(im, x, y, c, coverage(x, y, inside) * alpha);
}

double roundRectDist(double x, double y, double w, double h, double r) {
  double qx = std::fabs(x - w / 2) - (w / 2 - r), qy = std::fabs(y - h / 2) - (h / 2 - r);
  double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - r;
}

double segDist(double px, double py, double ax, double ay, double bx, double by) {
  double dx = bx - ax, dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = std::max(0.0, std::min(1.0, t));
  double ex = ax + t * dx - px, ey = ay + t * dy - py;
  return std::sqrt(ex * ex + ey * ey);
}

bool inTriangle(double px, double py, double ax, double ay, double bx, double by, double cx, double cy) {
  auto side = [](double x1, double y1, double x2, double y2, double x3, double y3) {
    return (x1 - x3) * (y2 - y3) - (x2 - x3) * (y1 - y3);
  };
  double d1 = side(px, py, ax, ay, bx, by), d2 = side(px, py, bx, by, cx, cy), d3 = side(px, py, cx, cy, ax, ay);
  bool neg = d1 < 0 || d2 < 0 || d3 < 0, pos = d1 > 0 || d2 > 0 || d3 > 0;
  return !(neg && pos);
}

// ---------------------------------------------------------------- text

const char* kFontRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* kFontBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const char* kFontCondensed = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf";

struct Fonts {
  TTF_Font* bold11 = nullptr;
  TTF_Font* bold12 = nullptr;
  TTF_Font* bold16 = nullptr;
  TTF_Font* bold20 = nullptr;
  TTF_Font* regular12 = nullptr;
  TTF_Font* label = nullptr;  // button labels
  TTF_Font* logo = nullptr;
};
Fonts fonts;

bool openFonts() {
  if (TTF_Init() != 0) return false;
  fonts.bold11 = TTF_OpenFont(kFontBold, 11);
  fonts.bold12 = TTF_OpenFont(kFontBold, 12);
  fonts.bold16 = TTF_OpenFont(kFontBold, 16);
  fonts.bold20 = TTF_OpenFont(kFontBold, 20);
  fonts.regular12 = TTF_OpenFont(kFontRegular, 12);
  fonts.label = TTF_OpenFont(kFontCondensed, 12);
  fonts.logo = TTF_OpenFont(kFontCondensed, 16);
  return fonts.logo && fonts.bold11 && fonts.bold12 && fonts.bold16 && fonts.bold20 && fonts.regular12 && fonts.label;
}

int textWidth(TTF_Font* f, const char* s) {
  int w = 0, h = 0;
  TTF_SizeUTF8(f, s, &w, &h);
  return w;
}

// Ink extent of the font's lines, for vertical centring.
int textHeight(TTF_Font* f) { return TTF_FontAscent(f) - TTF_FontDescent(f); }

// Blends the rendered text onto the picture using the glyph coverage.
void drawLabel(Image& im, TTF_Font* f, const char* s, int x, int y, RGB c, double alpha = 1) {
  SDL_Color col = {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b), 0};
  SDL_Surface* t = TTF_RenderUTF8_Blended(f, s, col);
  if (!t) return;
  SDL_LockSurface(t);
  const SDL_PixelFormat* fmt = t->format;
  for (int ty = 0; ty < t->h; ++ty) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(t->pixels) + ty * t->pitch);
    for (int tx = 0; tx < t->w; ++tx) {
      uint32_t a = (row[tx] & fmt->Amask) >> fmt->Ashift;
      if (a) blendPx(im, x + tx, y + ty, c, alpha * a / 255.0);
    }
  }
  SDL_UnlockSurface(t);
  SDL_FreeSurface(t);
}

void drawLabelCentred(Image& im, TTF_Font* f, const char* s, int cx, int cy, RGB c, double alpha = 1) {
  drawLabel(im, f, s, cx - textWidth(f, s) / 2, cy - textHeight(f) / 2, c, alpha);
}

// ---------------------------------------------------------------- interface

// The panel's own colour at height y: keyed edges are blended against it.
RGB panelAt(int y) {
  if (y < 28) return mix({64, 72, 88}, {48, 55, 68}, y / 27.0);
  double t = std::min(1.0, (y - 28) / 700.0);
  return mix({226, 230, 236}, {198, 205, 215}, t);
}

Image makeMenuBg() {
  Image im = makeImage(PANEL_WIDTH, 1080, {0, 0, 0});
  for (int y = 0; y < im.h; ++y)
    for (int x = 0; x < im.w; ++x) {
      RGB c = panelAt(y);
      double n = (hash2(x, y, 11) - 0.5) * 5 + (tileNoise(x * 0.5, y * 0.5, 8, 12) - 0.5) * 4;
      if (y >= 28 && y % 3 == 0) n -= 1.5;  // faint brushed grooves
      c = {clamp255(c.r + n), clamp255(c.g + n), clamp255(c.b + n)};
      if (y == 28) c = {34, 40, 52};          // tab bar bottom edge
      if (y == 29) c = mix(c, {255, 255, 255}, 0.5);
      if (x == PANEL_WIDTH - 2) c = scale(c, 0.82);  // separator from the map view
      if (x == PANEL_WIDTH - 1) c = scale(c, 0.62);
      putPx(im, x, y, c);
    }
  return im;
}

struct Theme {
  RGB top, bottom, border;
};

const Theme kBlue = {{104, 140, 188}, {52, 80, 124}, {26, 38, 60}};
const Theme kGreen = {{104, 172, 100}, {46, 110, 52}, {22, 56, 26}};
const Theme kRed = {{206, 96, 86}, {142, 44, 40}, {70, 20, 18}};
const Theme kSlate = {{128, 138, 154}, {84, 94, 110}, {36, 42, 54}};

RGB lighten(RGB c, double t) { return mix(c, {255, 255, 255}, t); }

// A pictogram drawn inside a button face, in colour c, centred at (cx, cy).
enum Icon { kNoIcon, kPlus, kCross, kArrowUp, kArrowDown, kPen, kSquare, kDisk, kPlug, kUnplug, kGrid, kArrowRight, kLayers, kFolder };

void drawIcon(Image& im, Icon icon, double cx, double cy, RGB c) {
  int x0 = int(cx) - 12, y0 = int(cy) - 12, x1 = int(cx) + 13, y1 = int(cy) + 13;
  auto seg = [&](double ax, double ay, double bx, double by, double r) {
    fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return segDist(x, y, cx + ax, cy + ay, cx + bx, cy + by) <= r; });
  };
  switch (icon) {
    case kNoIcon:
      break;
    case kPlus:
      seg(-4, 0, 4, 0, 1.1);
      seg(0, -4, 0, 4, 1.1);
      break;
    case kCross:
      seg(-3.5, -3.5, 3.5, 3.5, 1.1);
      seg(-3.5, 3.5, 3.5, -3.5, 1.1);
      break;
    case kArrowUp:
    case kArrowDown: {
      double s = icon == kArrowUp ? 1 : -1;
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) {
        return inTriangle(x, y, cx, cy - 5 * s, cx - 7, cy + 4 * s, cx + 7, cy + 4 * s);
      });
      break;
    }
    case kArrowRight:
      seg(-5, 0, 3, 0, 1.0);
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return inTriangle(x, y, cx + 6, cy, cx + 1, cy - 4.5, cx + 1, cy + 4.5); });
      break;
    case kPen:
      seg(-5, 5, 4, -4, 1.6);
      fillShape(im, x0, y0, x1, y1, {250, 214, 120}, [&](double x, double y) { return segDist(x, y, cx - 3, cy + 3, cx + 3.4, cy - 3.4) <= 0.9; });
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return inTriangle(x, y, cx - 7, cy + 7, cx - 6.2, cy + 3.6, cx - 3.6, cy + 6.2); });
      break;
    case kSquare:
      for (double t = -5; t <= 5; t += 2.5) {  // dashed rectangle outline
        seg(t - 0.8, -5, std::min(t + 0.8, 5.0), -5, 0.7);
        seg(t - 0.8, 5, std::min(t + 0.8, 5.0), 5, 0.7);
        seg(-5, t - 0.8, -5, std::min(t + 0.8, 5.0), 0.7);
        seg(5, t - 0.8, 5, std::min(t + 0.8, 5.0), 0.7);
      }
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return std::fabs(x - cx) < 3 && std::fabs(y - cy) < 3; }, 0.45);
      break;
    case kDisk:
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return roundRectDist(x - cx + 5, y - cy + 5, 10, 10, 1.2) <= 0; });
      fillShape(im, x0, y0, x1, y1, {60, 60, 70}, [&](double x, double y) { return x > cx - 3 && x < cx + 3 && y > cy - 5 && y < cy - 1.5; });
      fillShape(im, x0, y0, x1, y1, {60, 60, 70}, [&](double x, double y) { return x > cx - 3.5 && x < cx + 3.5 && y > cy + 0.5 && y < cy + 4; }, 0.6);
      break;
    case kPlug:
    case kUnplug: {
      double gap = icon == kPlug ? 0 : 2.5;
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return roundRectDist(x - (cx - 6 - gap), y - (cy - 3), 5, 6, 1) <= 0; });
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return roundRectDist(x - (cx + 1 + gap), y - (cy - 3), 5, 6, 1) <= 0; });
      seg(-1 - gap, -1.5, 1 + gap - (icon == kPlug ? 0 : 2 * gap), -1.5, icon == kPlug ? 0.6 : 0);
      seg(-1 - gap, 1.5, 1 + gap - (icon == kPlug ? 0 : 2 * gap), 1.5, icon == kPlug ? 0.6 : 0);
      seg(-9 - gap, 0, -6 - gap, 0, 0.8);
      seg(6 + gap, 0, 9 + gap, 0, 0.8);
      break;
    }
    case kGrid:
      for (int q = 0; q < 4; ++q) {
        double qx = cx - 5 + (q % 2) * 5.5, qy = cy - 5 + (q / 2) * 5.5;
        RGB qc = q == 1 ? RGB{240, 70, 60} : c;
        fillShape(im, x0, y0, x1, y1, qc, [&](double x, double y) { return x > qx && x < qx + 4.5 && y > qy && y < qy + 4.5; });
      }
      break;
    case kLayers:
      for (int k = 0; k < 2; ++k)
        fillShape(im, x0, y0, x1, y1, k ? c : scale(c, 0.7), [&](double x, double y) {
          double oy = cy + (k ? -1.5 : 1.5);
          return std::fabs(x - cx) / 6 + std::fabs(y - oy) / 3 <= 1;
        });
      break;
    case kFolder:
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return roundRectDist(x - cx + 6, y - cy + 3, 12, 9, 1) <= 0; });
      fillShape(im, x0, y0, x1, y1, c, [&](double x, double y) { return roundRectDist(x - cx + 6, y - cy + 5, 5, 3, 1) <= 0; });
      break;
  }
}

// One face of a button: rounded, gradient-filled, bordered; state 0 normal,
// 1 hovered (lighter, warm outline), 2 pressed (darker, inset, label moved).
void drawButtonFace(Image& im, int oy, int w, int h, const Theme& th, int state, const char* label, Icon icon, TTF_Font* font) {
  const double r = 4;
  RGB top = th.top, bottom = th.bottom, border = th.border;
  if (state == 1) {
    top = lighten(top, 0.22);
    bottom = lighten(bottom, 0.16);
    border = {238, 188, 72};
  } else if (state == 2) {
    top = scale(th.bottom, 0.78);
    bottom = scale(th.top, 0.85);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double d = roundRectDist(x + 0.5, y + 0.5, w, h, r);
      if (d > 0.15) {
        putPx(im, x, oy + y, kMagenta);
        continue;
      }
      RGB c = mix(top, bottom, h > 1 ? double(y) / (h - 1) : 0);
      c = scale(c, 1 + (hash2(x, y, 5) - 0.5) * 0.03);
      if (state != 2 && y == 1) c = lighten(c, 0.35);   // top sheen
      if (state != 2 && y == 2) c = lighten(c, 0.12);
      if (state == 2 && y <= 2) c = scale(c, 0.75 + 0.08 * y);  // inset shadow
      if (d > -1.2) c = border;
      else if (state == 1 && d > -2.2) c = mix(c, border, 0.35);
      putPx(im, x, oy + y, c);
    }
  int shift = state == 2 ? 1 : 0;
  int tw = label && *label ? textWidth(font, label) : 0;
  int iw = icon != kNoIcon ? 14 : 0;
  int gap = (tw && iw) ? 4 : 0;
  int x = (w - tw - iw - gap) / 2 + shift;
  int cy = h / 2 + shift;
  RGB ink = state == 1 ? RGB{255, 255, 240} : RGB{246, 248, 252};
  if (iw) {
    drawIcon(im, icon, x + 7 + 0.5, oy + cy + 1.5, scale(th.border, 0.6));  // shadow
    drawIcon(im, icon, x + 7, oy + cy, ink);
  }
  if (tw) {
    int tx = x + iw + gap, ty = oy + cy - textHeight(font) / 2;
    drawLabel(im, font, label, tx + 1, ty + 1, scale(th.border, 0.7), 0.7);
    drawLabel(im, font, label, tx, ty, ink);
  }
}

Image makeButton(int w, int h, const Theme& th, const char* label, Icon icon, TTF_Font* font) {
  Image im = makeImage(w, h * 3, kMagenta);
  for (int s = 0; s < 3; ++s) drawButtonFace(im, s * h, w, h, th, s, label, icon, font);
  return im;
}

// Tab along the panel's top edge; state 2 is the selected tab, which merges
// with the panel below it.
Image makeTab(int w, int h, const char* label, Icon icon) {
  Image im = makeImage(w, h * 3, kMagenta);
  for (int s = 0; s < 3; ++s) {
    int oy = s * h;
    RGB top = {126, 138, 158}, bottom = {92, 104, 124}, ink = {226, 232, 240};
    if (s == 1) top = {156, 170, 192}, bottom = {116, 130, 152}, ink = {255, 255, 255};
    if (s == 2) top = {236, 239, 243}, bottom = {226, 230, 236}, ink = {28, 40, 64};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        // rounded top corners only
        double d = roundRectDist(x + 0.5, y + 0.5, w, h + 12, 6);
        if (d > 0.15) {
          putPx(im, x, oy + y, kMagenta);
          continue;
        }
        RGB c = mix(top, bottom, double(y) / (h - 1));
        if (d > -1.2) c = s == 2 ? RGB{34, 40, 52} : RGB{40, 46, 60};
        if (s == 2 && y >= 2 && y <= 4 && d <= -1.2) c = {240, 150, 48};  // accent of the open tab
        if (s != 2 && y == h - 1) c = {34, 40, 52};
        if (s == 2 && y == h - 1 && d <= -1.2) c = bottom;
        putPx(im, x, oy + y, c);
      }
    int tw = textWidth(fonts.bold12, label);
    int x = (w - tw - 16) / 2;
    int cy = oy + h / 2 + 2;
    drawIcon(im, icon, x + 6, cy, s == 2 ? RGB{60, 90, 140} : ink);
    drawLabel(im, fonts.bold12, label, x + 16, cy - textHeight(fonts.bold12) / 2, ink);
  }
  return im;
}

// Blocked-quarter marker: a red frame and cross over a transparent middle.
Image makePassNot() {
  Image im = makeImage(8, 8, kMagenta);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool frame = x == 0 || y == 0 || x == 7 || y == 7;
      bool cross = x == y || x + y == 7;
      if (frame) putPx(im, x, y, {150, 10, 10});
      else if (cross) putPx(im, x, y, {255, 48, 40});
    }
  return im;
}

// The logo in three stacked states (only the first is shown by the panel).
Image makeLogo() {
  const int w = 84, h = 32;
  Image im = makeImage(w, h * 3, kMagenta);
  for (int s = 0; s < 3; ++s) {
    int oy = s * h;
    Image face = makeImage(w, h, panelAt(40 + h / 2));
    Image ink = makeImage(w, h, {0, 0, 0});  // coverage mask of what is drawn
    auto shapeBoth = [&](RGB c, auto inside) {
      fillShape(face, 0, 0, w, h, c, inside);
      fillShape(ink, 0, 0, w, h, {255, 255, 255}, inside);
    };
    // badge with the "2"
    double bx = 73, by = 16;
    RGB badge = s == 1 ? RGB{255, 170, 60} : s == 2 ? RGB{200, 110, 20} : RGB{240, 140, 36};
    shapeBoth({120, 60, 10}, [&](double x, double y) { return std::hypot(x - bx, y - by) <= 10.5; });
    shapeBoth(badge, [&](double x, double y) { return std::hypot(x - bx, y - by) <= 9.3; });
    fillShape(face, 0, 0, w, h, {255, 220, 150}, [&](double x, double y) { return std::hypot(x - bx + 2, y - by + 3) <= 5; }, 0.35);
    drawLabelCentred(face, fonts.bold16, "2", int(bx) + 1, int(by) + 1, {255, 255, 255});
    // the word, with a soft shadow
    RGB word = s == 1 ? RGB{40, 80, 150} : s == 2 ? RGB{20, 36, 70} : RGB{28, 52, 100};
    drawLabel(face, fonts.logo, "MOSKA", 2, 16 - textHeight(fonts.logo) / 2 + 1, {120, 130, 150}, 0.6);
    drawLabel(ink, fonts.logo, "MOSKA", 2, 16 - textHeight(fonts.logo) / 2 + 1, {255, 255, 255}, 0.6);
    drawLabel(face, fonts.logo, "MOSKA", 1, 16 - textHeight(fonts.logo) / 2, word);
    drawLabel(ink, fonts.logo, "MOSKA", 1, 16 - textHeight(fonts.logo) / 2, {255, 255, 255});
    // underline stroke
    fillShape(face, 0, 0, w, h, {240, 140, 36}, [&](double x, double y) { return x > 2 && x < 56 && y > 25.5 && y < 27.5; });
    fillShape(ink, 0, 0, w, h, {255, 255, 255}, [&](double x, double y) { return x > 2 && x < 56 && y > 25.5 && y < 27.5; });
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) putPx(im, x, oy + y, getPx(ink, x, y).r >= 90 ? getPx(face, x, y) : kMagenta);
  }
  return im;
}

// Shown in place of the map while an action travels between editors.
Image makeNetAct() {
  const int w = 318, h = 480;
  Image im = makeImage(w, h, {0, 0, 0});
  const double ax = w / 2.0, ay = 190;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double d = std::hypot(x - ax, y - ay) / 300.0;
      RGB c = mix({34, 52, 84}, {10, 14, 26}, std::min(1.0, d));
      double n = (hash2(x, y, 77) - 0.5) * 4;
      putPx(im, x, y, {clamp255(c.r + n), clamp255(c.g + n), clamp255(c.b + n)});
    }
  RGB steel = {176, 190, 210};
  auto seg = [&](double x0, double y0, double x1, double y1, double r, RGB c, double a = 1) {
    fillShape(im, int(std::min(x0, x1) - r - 2), int(std::min(y0, y1) - r - 2), int(std::max(x0, x1) + r + 3),
              int(std::max(y0, y1) + r + 3), c, [&](double x, double y) { return segDist(x, y, x0, y0, x1, y1) <= r; }, a);
  };
  // lattice mast
  double topY = ay + 12, baseY = 300, half = 34;
  seg(ax, topY, ax - half, baseY, 2.2, steel);
  seg(ax, topY, ax + half, baseY, 2.2, steel);
  for (int k = 1; k < 5; ++k) {
    double t0 = k / 5.0, t1 = (k + 1) / 5.0 > 1 ? 1 : (k + 1) / 5.0;
    double y0 = topY + (baseY - topY) * t0, y1 = topY + (baseY - topY) * t1;
    seg(ax - half * t0, y0, ax + half * t0, y0, 1.2, steel);
    seg(ax - half * t0, y0, ax + half * t1, y1, 1.0, steel, 0.8);
    seg(ax + half * t0, y0, ax - half * t1, y1, 1.0, steel, 0.8);
  }
  seg(ax - half - 14, baseY + 2, ax + half + 14, baseY + 2, 2.5, {120, 134, 156});
  // glowing emitter
  fillShape(im, int(ax) - 40, int(ay) - 40, int(ax) + 41, int(ay) + 41, {255, 170, 60},
            [&](double x, double y) { return std::hypot(x - ax, y - ay) <= 30; }, 0.12);
  fillShape(im, int(ax) - 40, int(ay) - 40, int(ax) + 41, int(ay) + 41, {255, 170, 60},
            [&](double x, double y) { return std::hypot(x - ax, y - ay) <= 18; }, 0.18);
  fillShape(im, int(ax) - 12, int(ay) - 12, int(ax) + 13, int(ay) + 13, {255, 150, 40},
            [&](double x, double y) { return std::hypot(x - ax, y - ay) <= 8; });
  fillShape(im, int(ax) - 12, int(ay) - 12, int(ax) + 13, int(ay) + 13, {255, 236, 190},
            [&](double x, double y) { return std::hypot(x - ax + 2, y - ay + 2) <= 3.5; });
  // radio waves on both sides
  for (int k = 0; k < 3; ++k) {
    double rad = 26 + k * 20, a = 0.95 - k * 0.25;
    fillShape(im, int(ax - rad - 4), int(ay - rad - 4), int(ax + rad + 5), int(ay + rad + 5), {110, 200, 255},
              [&](double x, double y) {
                double dx = x - ax, dy = y - ay, d = std::hypot(dx, dy);
                if (std::fabs(d - rad) > 2.4) return false;
                double ang = std::fabs(std::atan2(dy, std::fabs(dx)));
                return ang < 0.62;
              },
              a);
  }
  const char* title = "Network activity...";
  drawLabelCentred(im, fonts.bold20, title, w / 2 + 1, 343, {0, 0, 0}, 0.6);
  drawLabelCentred(im, fonts.bold20, title, w / 2, 342, {236, 242, 250});
  drawLabelCentred(im, fonts.regular12, "Exchanging edits with the other editors", w / 2, 372, {150, 170, 200});
  return im;
}

// ---------------------------------------------------------------- tilesets

// A sheet plus, per pixel, whether it blocks walking (for pass conditions).
struct Sheet {
  Image im;
  std::vector<uint8_t> solid;
  int cols = 0;
};

Sheet makeSheet(int cols, int rows) {
  Sheet s;
  s.cols = cols;
  s.im = makeImage(cols * TILE, rows * TILE, {0, 0, 0});
  s.solid.assign(size_t(s.im.w) * s.im.h, 0);
  fillRect(s.im, 0, 0, TILE, TILE, kKey);
  return s;
}

int tileX(const Sheet& s, int t) { return (t % s.cols) * TILE; }
int tileY(const Sheet& s, int t) { return (t / s.cols) * TILE; }

void setSolid(Sheet& s, int x, int y, bool v) { s.solid[size_t(y) * s.im.w + x] = v ? 1 : 0; }

// Material textures, each a function of the pixel inside a 16 x 16 tile.
enum Mat { kGrass, kGrass2, kGrass3, kDirt, kSand, kWater, kDeepWater, kCobble, kSlab, kWood, kRedTile, kGravel,
           kForest, kFarm, kSnow, kStoneWall, kBrick, kPlank, kRoofRed, kRoofBlue, kThatch, kDungeonFloor,
           kDungeonWall, kLava, kMossFloor };

RGB noisy(RGB base, double amount, double n) { return scale(base, 1 + (n - 0.5) * amount); }

RGB material(Mat m, int x, int y, int seed) {
  double n = tileNoise(x, y, 4, seed), f = hash2(x, y, seed + 1);
  switch (m) {
    case kGrass:
    case kGrass2:
    case kGrass3: {
      RGB base = m == kGrass ? RGB{82, 150, 60} : m == kGrass2 ? RGB{92, 158, 64} : RGB{70, 134, 54};
      RGB c = noisy(base, 0.3, n);
      if (f > 0.9) c = lighten(c, 0.25);
      else if (f < 0.1) c = scale(c, 0.78);
      if (m == kGrass3 && hash2(x / 2, y / 3, seed + 9) > 0.8) c = scale(c, 0.85);
      return c;
    }
    case kDirt: {
      RGB c = noisy({146, 108, 70}, 0.28, n);
      if (f > 0.93) c = {176, 150, 118};
      else if (f < 0.07) c = {112, 80, 52};
      return c;
    }
    case kSand: {
      RGB c = noisy({224, 204, 146}, 0.16, n);
      if (f > 0.92) c = {240, 226, 180};
      else if (f < 0.06) c = {190, 166, 112};
      return c;
    }
    case kWater:
    case kDeepWater: {
      RGB base = m == kWater ? RGB{58, 118, 190} : RGB{36, 80, 150};
      RGB c = noisy(base, 0.15, n);
      double wave = std::sin((x + 2.0 * std::sin(y * 0.785 + seed)) * 0.785 + y * 0.39);
      if (wave > 0.93 && (y % 4) == (seed % 4)) c = lighten(c, 0.38);
      return c;
    }
    case kCobble: {
      // rounded stones on a staggered 8 x 8 grid
      int row = y / 8, ox = (row % 2) * 4;
      int sx = ((x + ox) % 8), sy = y % 8;
      double d = roundRectDist(sx + 0.5, sy + 0.5, 8, 8, 2.5);
      int id = ((x + ox) / 8) * 7 + row * 3;
      RGB stone = noisy({150, 146, 138}, 0.25, hash2(id, row, seed));
      if (d > -0.8) return {84, 80, 74};
      RGB c = noisy(stone, 0.14, f);
      if (sy <= 1) c = lighten(c, 0.2);
      if (sy >= 6) c = scale(c, 0.85);
      return c;
    }
    case kSlab: {
      if (x % 8 == 7 || y % 8 == 7) return {96, 96, 100};
      RGB c = noisy({168, 168, 172}, 0.18, n);
      if (x % 8 == 0 || y % 8 == 0) c = lighten(c, 0.15);
      return noisy(c, 0.06, f);
    }
    case kWood: {
      int row = y / 4;
      int seam = (row * 7 + 3) % 16;
      if (y % 4 == 3) return {92, 58, 30};
      if (x == seam) return {104, 66, 36};
      RGB c = noisy({178, 124, 72}, 0.2, tileNoise(x, row * 4, 8, seed + row));
      double grain = std::sin(x * 0.9 + row * 2.1 + std::sin(x * 0.3) * 2);
      if (grain > 0.8) c = scale(c, 0.9);
      return c;
    }
    case kRedTile: {
      if (x % 8 == 7 || y % 8 == 7) return {120, 96, 84};
      RGB c = noisy({186, 86, 60}, 0.18, hash2(x / 8, y / 8, seed));
      if (x % 8 == 0 || y % 8 == 0) c = lighten(c, 0.15);
      return noisy(c, 0.08, f);
    }
    case kGravel: {
      RGB c = noisy({140, 136, 128}, 0.2, n);
      if (f > 0.7) c = lighten(c, 0.2 * f);
      else if (f < 0.3) c = scale(c, 0.8 + f * 0.2);
      return c;
    }
    case kForest: {
      RGB c = noisy({58, 96, 44}, 0.3, n);
      if (f > 0.88) c = {110, 84, 50};
      else if (f < 0.1) c = {40, 70, 34};
      return c;
    }
    case kFarm: {
      RGB c = noisy({124, 86, 54}, 0.2, n);
      if (y % 4 == 0) c = scale(c, 0.72);
      else if (y % 4 == 1) c = lighten(c, 0.1);
      if (y % 4 == 2 && f > 0.8) c = {96, 150, 60};
      return c;
    }
    case kSnow: {
      RGB c = noisy({236, 242, 250}, 0.08, n);
      if (f < 0.08) c = {200, 212, 232};
      return c;
    }
    case kStoneWall:
    case kBrick:
    case kDungeonWall: {
      bool brick = m == kBrick;
      int row = y / 4, ox = (row % 2) * 4;
      bool mortar = y % 4 == 3 || (x + ox) % 8 == 7;
      RGB mortarC = brick ? RGB{200, 188, 170} : m == kDungeonWall ? RGB{34, 32, 40} : RGB{70, 70, 72};
      if (mortar) return mortarC;
      int id = ((x + ox) / 8) * 5 + row * 11;
      RGB base = brick ? RGB{168, 72, 52} : m == kDungeonWall ? RGB{92, 88, 104} : RGB{142, 140, 136};
      RGB c = noisy(base, 0.24, hash2(id, row, seed));
      if (y % 4 == 0) c = lighten(c, 0.18);
      if (y % 4 == 2) c = scale(c, 0.9);
      return noisy(c, 0.08, f);
    }
    case kPlank: {
      if (x % 4 == 3) return {84, 52, 28};
      RGB c = noisy({160, 110, 64}, 0.22, hash2(x / 4, seed, 3));
      if (x % 4 == 0) c = lighten(c, 0.12);
      if ((y * 5 + x / 4 * 7) % 16 == 0) c = scale(c, 0.8);
      return noisy(c, 0.08, f);
    }
    case kRoofRed:
    case kRoofBlue:
    case kThatch: {
      if (m == kThatch) {
        RGB c = noisy({206, 170, 84}, 0.3, hash2(x, y / 3, seed));
        if (y % 5 == 4) c = scale(c, 0.75);
        return c;
      }
      int row = y / 4, ox = (row % 2) * 2;
      double sx = (x + ox) % 4 + 0.5, sy = y % 4 + 0.5;
      RGB base = m == kRoofRed ? RGB{176, 64, 48} : RGB{60, 92, 150};
      RGB c = noisy(base, 0.16, hash2((x + ox) / 4, row, seed));
      double edge = std::hypot(sx - 2, sy - 0.5);  // scalloped shingles
      if (sy > 3 || edge > 2.6) c = scale(c, 0.7);
      else if (sy < 1.2) c = lighten(c, 0.15);
      return c;
    }
    case kDungeonFloor:
    case kMossFloor: {
      if (x % 8 == 7 || y % 8 == 7) return {44, 42, 50};
      RGB c = noisy({106, 102, 112}, 0.2, hash2(x / 8, y / 8, seed));
      if (x % 8 == 0 || y % 8 == 0) c = lighten(c, 0.1);
      c = noisy(c, 0.1, f);
      if (m == kMossFloor && tileNoise(x, y, 4, seed + 40) > 0.58) c = mix(c, {70, 110, 56}, 0.65);
      return c;
    }
    case kLava: {
      double v = tileNoise(x, y, 4, seed) * 0.7 + tileNoise(x, y, 8, seed + 3) * 0.3;
      return v > 0.55 ? mix({255, 180, 40}, {255, 230, 120}, (v - 0.55) * 3) : mix({150, 30, 10}, {230, 90, 20}, v / 0.55);
    }
  }
  return {0, 0, 0};
}

void paintMaterial(Sheet& s, int t, Mat m, int seed, bool solid) {
  for (int y = 0; y < TILE; ++y)
    for (int x = 0; x < TILE; ++x) {
      putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, material(m, x, y, seed));
      setSolid(s, tileX(s, t) + x, tileY(s, t) + y, solid);
    }
}

// Nine edge pieces (NW N NE W C E SW S SE) and four inner corners of a blob
// of material `in` surrounded by `out`, the edge wobbling a little and
// drawn with a rim colour. Pieces land at tiles first..first+8, corners at
// corners..corners+3 (grass at NW, NE, SW, SE).
void paintTransition(Sheet& s, int first, int corners, Mat in, Mat out, RGB rim, bool inSolid, int seed) {
  auto piece = [&](int t, int vx, int vy, bool swapped) {
    for (int y = 0; y < TILE; ++y)
      for (int x = 0; x < TILE; ++x) {
        double gx = vx * TILE + x + 0.5, gy = vy * TILE + y + 0.5;
        double d = roundRectDist(gx, gy, 48, 48, 9) + 6;  // inner blob from 6 to 42
        d += (tileNoise(x, y, 4, seed + 50) - 0.5) * 2.4;
        if (vx == 1 && vy == 1 && !swapped) d = -10;
        bool inside = swapped ? d > 0 : d < 0;
        RGB c = material(inside ? in : out, x, y, seed + (inside ? 0 : 20));
        if (std::fabs(d) < 1.1) c = mix(c, rim, 0.8);
        else if (inside && std::fabs(d) < 2.3) c = mix(c, rim, 0.3);
        putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, c);
        setSolid(s, tileX(s, t) + x, tileY(s, t) + y, inside ? inSolid : false);
      }
  };
  for (int k = 0; k < 9; ++k) piece(first + k, k % 3, k / 3, false);
  // an inner corner is the opposite corner piece of the swapped blob
  piece(corners + 0, 2, 2, true);
  piece(corners + 1, 0, 2, true);
  piece(corners + 2, 2, 0, true);
  piece(corners + 3, 0, 0, true);
}

// Objects are drawn on the key colour, outlined, then copied into the sheet.
struct Sprite {
  Image im;
  std::vector<uint8_t> solid;
};

Sprite makeSprite(int tilesW, int tilesH) {
  Sprite sp;
  sp.im = makeImage(tilesW * TILE, tilesH * TILE, kKey);
  sp.solid.assign(size_t(sp.im.w) * sp.im.h, 0);
  return sp;
}

// Hard-edged shape (no blending with the key colour), coloured per pixel.
template <class In, class Col>
void spriteShape(Sprite& sp, In inside, Col colour, bool solid) {
  for (int y = 0; y < sp.im.h; ++y)
    for (int x = 0; x < sp.im.w; ++x)
      if (coverage(x, y, inside) >= 0.5) {
        RGB c = colour(x, y);
        if (same(c, kKey)) c.b -= 1;
        putPx(sp.im, x, y, c);
        if (solid) sp.solid[size_t(y) * sp.im.w + x] = 1;
      }
}

// Pixel-art outline: key pixels next to the object take a dark edge colour.
void outlineSprite(Sprite& sp, RGB edge) {
  Image src = sp.im;
  for (int y = 0; y < sp.im.h; ++y)
    for (int x = 0; x < sp.im.w; ++x) {
      if (!same(getPx(src, x, y), kKey)) continue;
      bool near = false;
      const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
      for (int k = 0; k < 4; ++k) {
        int nx = x + dx[k], ny = y + dy[k];
        if (nx >= 0 && ny >= 0 && nx < src.w && ny < src.h && !same(getPx(src, nx, ny), kKey)) near = true;
      }
      if (near) putPx(sp.im, x, y, edge);
    }
}

void placeSprite(Sheet& s, const Sprite& sp, int t) {
  int ox = tileX(s, t), oy = tileY(s, t);
  for (int y = 0; y < sp.im.h; ++y)
    for (int x = 0; x < sp.im.w; ++x) {
      putPx(s.im, ox + x, oy + y, getPx(sp.im, x, y));
      setSolid(s, ox + x, oy + y, sp.solid[size_t(y) * sp.im.w + x] != 0);
    }
}

auto circle(double cx, double cy, double r) {
  return [=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; };
}
auto ellipse(double cx, double cy, double rx, double ry) {
  return [=](double x, double y) { return std::pow((x - cx) / rx, 2) + std::pow((y - cy) / ry, 2) <= 1; };
}
auto box(double x0, double y0, double x1, double y1) {
  return [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}
// Colour lit from the top-left of a round body centred at (cx, cy).
auto shaded(RGB base, double cx, double cy, double r, int seed) {
  return [=](int x, int y) {
    double l = ((cx - x - 0.5) + (cy - y - 0.5)) / (2 * r);
    RGB c = l > 0 ? lighten(base, l * 0.35) : scale(base, 1 + l * 0.45);
    return scale(c, 1 + (hash2(x, y, seed) - 0.5) * 0.16);
  };
}
auto flat(RGB c) {
  return [=](int, int) { return c; };
}

const RGB kLeaf = {70, 140, 56}, kDarkLeaf = {40, 100, 48}, kTrunk = {112, 74, 42}, kStone = {150, 148, 144};
const RGB kEdge = {28, 34, 24}, kWoodEdge = {52, 32, 18};

Sprite spriteTree(int seed) {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(6.5, 9, 9.5, 15.5), flat(kTrunk), true);
  spriteShape(sp, circle(8, 7, 6.6), shaded(kLeaf, 8, 7, 6.6, seed), false);
  spriteShape(sp, circle(5.5, 5, 1.6), flat(lighten(kLeaf, 0.3)), false);
  outlineSprite(sp, kEdge);
  return sp;
}

Sprite spritePine(int seed) {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(7, 12, 9, 15.5), flat(kTrunk), true);
  for (int k = 0; k < 3; ++k) {
    double top = 1 + k * 3.5, base = 7 + k * 3.2, half = 3.5 + k * 1.6;
    spriteShape(sp, [=](double x, double y) { return inTriangle(x, y, 8, top, 8 - half, base, 8 + half, base); },
                shaded(kDarkLeaf, 7, 6, 7, seed + k), false);
  }
  outlineSprite(sp, kEdge);
  return sp;
}

Sprite spriteBush(int seed) {
  Sprite sp = makeSprite(1, 1);
  auto in = [](double x, double y) { return circle(5.5, 9.5, 4.5)(x, y) || circle(10.5, 9.5, 4.5)(x, y) || circle(8, 6.5, 4.5)(x, y); };
  spriteShape(sp, in, shaded({84, 150, 60}, 7, 7, 6, seed), true);
  spriteShape(sp, circle(6, 5, 0.9), flat({220, 60, 70}), true);
  spriteShape(sp, circle(11, 9, 0.9), flat({220, 60, 70}), true);
  outlineSprite(sp, kEdge);
  return sp;
}

Sprite spriteBigTree(int seed) {
  Sprite sp = makeSprite(2, 2);
  spriteShape(sp, box(13, 20, 19, 31), [&](int x, int) { return x < 15 ? lighten(kTrunk, 0.15) : kTrunk; }, true);
  spriteShape(sp, [](double x, double y) { return y > 29 && std::fabs(x - 16) < 5.5 - (31 - y); }, flat(kTrunk), true);
  auto crown = [](double x, double y) {
    return circle(16, 12, 10.5)(x, y) || circle(8.5, 15, 6.5)(x, y) || circle(23.5, 15, 6.5)(x, y) || circle(16, 18, 6)(x, y);
  };
  spriteShape(sp, crown, [&](int x, int y) {
    RGB c = shaded({66, 136, 52}, 16, 13, 12, seed)(x, y);
    if (tileNoise(x, y, 4, seed + 5) > 0.64) c = scale(c, 0.82);
    return c;
  }, false);
  outlineSprite(sp, kEdge);
  return sp;
}

Sprite spriteRock(bool small, int seed) {
  Sprite sp = makeSprite(1, 1);
  if (small) {
    spriteShape(sp, ellipse(5, 11, 3, 2.2), shaded(kStone, 5, 11, 3, seed), true);
    spriteShape(sp, ellipse(11, 8, 2.6, 2), shaded(kStone, 11, 8, 2.6, seed), true);
    spriteShape(sp, ellipse(10, 13, 1.8, 1.4), shaded(kStone, 10, 13, 1.8, seed), true);
  } else {
    spriteShape(sp, ellipse(8, 9.5, 6.5, 5), shaded(kStone, 7, 8, 6, seed), true);
    spriteShape(sp, ellipse(6, 7.5, 2, 1), flat(lighten(kStone, 0.4)), true);
  }
  outlineSprite(sp, {50, 50, 54});
  return sp;
}

Sprite spriteFlowers(RGB petal, int seed) {
  Sprite sp = makeSprite(1, 1);
  const double pos[5][2] = {{3.5, 4.5}, {10.5, 3.5}, {6.5, 9.5}, {12.5, 11.5}, {3.5, 13}};
  for (const auto& p : pos) {
    double x = p[0] + (hash2(int(p[0]), seed, 1) - 0.5), y = p[1];
    spriteShape(sp, box(x - 0.5, y + 1, x + 0.5, y + 3), flat({60, 120, 40}), false);
    spriteShape(sp, circle(x, y, 1.6), flat(petal), false);
    spriteShape(sp, circle(x, y, 0.6), flat({250, 230, 90}), false);
  }
  return sp;
}

Sprite spriteMushroom() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(6.5, 8, 9.5, 13.5), flat({236, 228, 210}), false);
  spriteShape(sp, [](double x, double y) { return y < 8.5 && ellipse(8, 8.5, 5.5, 5)(x, y); }, shaded({206, 40, 36}, 7, 5, 5, 3), false);
  spriteShape(sp, circle(6, 5.5, 0.9), flat({255, 255, 255}), false);
  spriteShape(sp, circle(10, 6.5, 0.9), flat({255, 255, 255}), false);
  outlineSprite(sp, {60, 20, 20});
  return sp;
}

Sprite spriteStump() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(3.5, 8, 12.5, 13), flat(kTrunk), true);
  spriteShape(sp, ellipse(8, 13, 4.5, 1.5), flat(kTrunk), true);
  spriteShape(sp, ellipse(8, 8, 4.5, 2), flat({200, 160, 110}), true);
  spriteShape(sp, ellipse(8, 8, 2.2, 0.9), flat({150, 110, 70}), true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteFence(int kind) {  // 0 horizontal, 1 vertical, 2 post
  Sprite sp = makeSprite(1, 1);
  RGB wood = {176, 130, 80};
  auto lit = [=](int x, int y) { return (x + y) % 5 == 0 ? scale(wood, 0.9) : wood; };
  if (kind == 0) {
    spriteShape(sp, box(0, 6, 16, 8), lit, true);
    spriteShape(sp, box(0, 10, 16, 12), lit, true);
    spriteShape(sp, box(2, 4, 5, 14), flat(lighten(wood, 0.1)), true);
    spriteShape(sp, box(11, 4, 14, 14), flat(lighten(wood, 0.1)), true);
  } else if (kind == 1) {
    spriteShape(sp, box(6.5, 0, 9.5, 16), lit, true);
    spriteShape(sp, box(5.5, 2, 10.5, 5), flat(lighten(wood, 0.1)), true);
    spriteShape(sp, box(5.5, 10, 10.5, 13), flat(lighten(wood, 0.1)), true);
  } else {
    spriteShape(sp, box(5.5, 3, 10.5, 14), flat(lighten(wood, 0.1)), true);
    spriteShape(sp, box(5.5, 3, 10.5, 4.5), flat(lighten(wood, 0.35)), true);
  }
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteSign() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(7, 8, 9, 15.5), flat(kTrunk), true);
  spriteShape(sp, box(2, 2.5, 14, 9), flat({190, 146, 92}), true);
  spriteShape(sp, box(4, 4.5, 12, 5.3), flat({90, 60, 30}), true);
  spriteShape(sp, box(4, 6.5, 10, 7.3), flat({90, 60, 30}), true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteBarrel() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, [](double x, double y) { return roundRectDist(x - 3, y - 2, 10, 13, 3) <= 0; },
              [](int x, int y) {
                RGB c = shaded({150, 96, 52}, 6, 6, 6, 4)(x, y);
                if (y == 4 || y == 11) c = {70, 70, 76};
                return c;
              }, true);
  spriteShape(sp, ellipse(8, 3.5, 3.6, 1.2), flat({112, 70, 38}), true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteCrate() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(2, 3, 14, 15), [](int x, int y) {
    RGB c = {190, 140, 80};
    if (x == 2 || x == 13 || y == 3 || y == 14) c = {150, 104, 56};
    if (std::abs((x - 2) - (y - 3)) <= 0 || std::abs((13 - x) - (y - 3)) <= 0) c = {150, 104, 56};
    return c;
  }, true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteWell() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, circle(8, 8.5, 7), [](int x, int y) { return scale(kStone, 0.85 + hash2(x / 2, y / 2, 7) * 0.3); }, true);
  spriteShape(sp, circle(8, 8.5, 4.3), flat({30, 60, 110}), true);
  spriteShape(sp, circle(7, 7.5, 1.2), flat({90, 140, 200}), true);
  spriteShape(sp, box(1, 7.5, 15, 9.5), flat({150, 104, 60}), true);
  outlineSprite(sp, {40, 40, 44});
  return sp;
}

Sprite spriteChest() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(2, 5, 14, 14), [](int x, int y) { return y < 8 ? RGB{170, 104, 50} : RGB{142, 84, 40}; }, true);
  spriteShape(sp, box(2, 8, 14, 9), flat({230, 190, 60}), true);
  spriteShape(sp, box(7, 7.5, 9, 11), flat({250, 220, 90}), true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteLamp() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(7, 5, 9, 15.5), flat({50, 52, 60}), true);
  spriteShape(sp, box(5, 14, 11, 15.5), flat({50, 52, 60}), true);
  spriteShape(sp, [](double x, double y) { return roundRectDist(x - 5, y - 0.5, 6, 6, 1.5) <= 0; }, flat({255, 226, 120}), true);
  spriteShape(sp, box(6.5, 2, 9.5, 4.5), flat({255, 250, 220}), true);
  outlineSprite(sp, {30, 30, 36});
  return sp;
}

Sprite spriteReeds(int seed) {
  Sprite sp = makeSprite(1, 1);
  for (int k = 0; k < 5; ++k) {
    double x = 2.5 + k * 2.7 + (hash2(k, seed, 2) - 0.5), top = 2 + hash2(k, seed, 3) * 5;
    spriteShape(sp, box(x - 0.5, top, x + 0.5, 15.5), flat({86, 140, 56}), false);
    if (k % 2 == 0) spriteShape(sp, box(x - 1, top, x + 1, top + 3), flat({120, 80, 40}), false);
  }
  return sp;
}

Sprite spriteLily() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, [](double x, double y) {
    double a = std::atan2(y - 8.5, x - 8);
    return ellipse(8, 8.5, 6, 4.5)(x, y) && !(a > -0.35 && a < 0.35);
  }, shaded({70, 150, 60}, 8, 8, 6, 9), false);
  spriteShape(sp, circle(6, 7.5, 1.8), flat({246, 160, 200}), false);
  spriteShape(sp, circle(6, 7.5, 0.7), flat({255, 230, 120}), false);
  outlineSprite(sp, {24, 70, 40});
  return sp;
}

Sprite spriteLog() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(2, 7, 13, 13), [](int, int y) { return y < 9 ? lighten(kTrunk, 0.15) : kTrunk; }, true);
  spriteShape(sp, ellipse(13, 10, 1.8, 3), flat({200, 160, 110}), true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteHay() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, [](double x, double y) { return y < 14 && ellipse(8, 14, 7, 11)(x, y); },
              [](int x, int y) { return scale({226, 190, 90}, 0.85 + hash2(x, y / 2, 3) * 0.3); }, true);
  outlineSprite(sp, {110, 80, 30});
  return sp;
}

Sprite spriteTomb() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, [](double x, double y) { return (y > 6 && x > 4 && x < 12 && y < 14) || circle(8, 6.5, 4)(x, y); },
              shaded({160, 160, 168}, 7, 6, 5, 2), true);
  spriteShape(sp, box(7.5, 5, 8.5, 11), flat({90, 90, 98}), true);
  spriteShape(sp, box(6, 6.5, 10, 7.5), flat({90, 90, 98}), true);
  outlineSprite(sp, {50, 50, 56});
  return sp;
}

Sprite spritePot() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, [](double x, double y) { return ellipse(8, 10, 5, 4.5)(x, y) || box(5.5, 4, 10.5, 7)(x, y); },
              shaded({190, 110, 70}, 7, 9, 5, 1), true);
  spriteShape(sp, box(5, 3.5, 11, 5), flat({150, 80, 50}), true);
  outlineSprite(sp, {70, 36, 20});
  return sp;
}

Sprite spriteTuft(int seed) {
  Sprite sp = makeSprite(1, 1);
  for (int k = 0; k < 9; ++k) {
    double bx = 3 + k * 1.2, top = 4 + hash2(k, seed, 1) * 6, lean = (k - 4) * 0.5;
    spriteShape(sp, [=](double x, double y) { return segDist(x, y, bx, 14, bx + lean, top) <= 0.6; },
                flat(k % 2 ? RGB{104, 170, 70} : RGB{70, 130, 50}), false);
  }
  return sp;
}

Sprite spriteBench() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, box(1, 6, 15, 9), flat({170, 120, 70}), true);
  spriteShape(sp, box(1, 9.5, 15, 11), flat({150, 104, 60}), true);
  spriteShape(sp, box(2, 11, 4, 14), flat({70, 70, 76}), true);
  spriteShape(sp, box(12, 11, 14, 14), flat({70, 70, 76}), true);
  outlineSprite(sp, kWoodEdge);
  return sp;
}

Sprite spriteCampfire() {
  Sprite sp = makeSprite(1, 1);
  for (int k = 0; k < 6; ++k) {
    double a = k * 1.047;
    spriteShape(sp, circle(8 + std::cos(a) * 5, 10 + std::sin(a) * 3.5, 1.6), shaded(kStone, 7, 9, 2, k), true);
  }
  spriteShape(sp, [](double x, double y) { return inTriangle(x, y, 8, 2, 4.5, 11, 11.5, 11); }, flat({250, 120, 30}), true);
  spriteShape(sp, [](double x, double y) { return inTriangle(x, y, 8, 5, 6, 11, 10, 11); }, flat({255, 220, 90}), true);
  return sp;
}

Sprite spriteSack() {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, [](double x, double y) { return ellipse(8, 10.5, 5, 4.5)(x, y) || inTriangle(x, y, 8, 3, 5, 8, 11, 8); },
              shaded({214, 190, 140}, 7, 9, 5, 6), true);
  spriteShape(sp, box(6.5, 5.5, 9.5, 6.5), flat({130, 90, 50}), true);
  outlineSprite(sp, {100, 80, 50});
  return sp;
}

Sprite spriteHedge(bool top) {
  Sprite sp = makeSprite(1, 1);
  spriteShape(sp, top ? box(0, 4, 16, 16) : box(0, 0, 16, 16), [](int x, int y) {
    RGB c = scale({60, 120, 50}, 0.8 + tileNoise(x, y, 4, 31) * 0.4);
    return hash2(x, y, 32) > 0.85 ? lighten(c, 0.2) : c;
  }, true);
  if (top) outlineSprite(sp, kEdge);
  return sp;
}

// Wall and roof tiles, opaque and blocking.
void paintWallTile(Sheet& s, int t, Mat m, int seed) { paintMaterial(s, t, m, seed, true); }

void paintWindow(Sheet& s, int t, Mat wall) {
  paintWallTile(s, t, wall, 8);
  int ox = tileX(s, t), oy = tileY(s, t);
  fillRect(s.im, ox + 3, oy + 3, 10, 10, {70, 48, 28});
  for (int y = 4; y < 12; ++y)
    for (int x = 4; x < 12; ++x) {
      RGB c = mix({120, 170, 220}, {60, 100, 160}, (y - 4) / 8.0);
      if (x == 7 || x == 8 || y == 7 || y == 8) c = {90, 60, 34};
      if ((x == 5 && y == 5) || (x == 10 && y == 10)) c = lighten(c, 0.5);
      putPx(s.im, ox + x, oy + y, c);
    }
}

void paintDoor(Sheet& s, int t, Mat wall) {
  paintWallTile(s, t, wall, 9);
  int ox = tileX(s, t), oy = tileY(s, t);
  for (int y = 2; y < 16; ++y)
    for (int x = 3; x < 13; ++x) {
      bool arch = y < 5 && std::hypot(x + 0.5 - 8, y + 0.5 - 5) > 5;
      if (arch) continue;
      RGB c = material(kPlank, x, y, 2);
      if (x == 3 || x == 12 || (y < 5 && std::hypot(x + 0.5 - 8, y + 0.5 - 5) > 4)) c = {60, 36, 20};
      if (x == 10 && y == 9) c = {230, 200, 80};
      putPx(s.im, ox + x, oy + y, c);
      setSolid(s, ox + x, oy + y, false);
    }
}

// Roof ridge: the shingles with a capping band along the top.
void paintRidge(Sheet& s, int t, Mat roof) {
  paintWallTile(s, t, roof, 3);
  int ox = tileX(s, t), oy = tileY(s, t);
  RGB cap = roof == kRoofRed ? RGB{120, 40, 30} : roof == kRoofBlue ? RGB{36, 56, 100} : RGB{150, 120, 50};
  for (int x = 0; x < 16; ++x)
    for (int y = 0; y < 4; ++y) putPx(s.im, ox + x, oy + y, y == 0 ? scale(cap, 0.7) : y == 3 ? scale(cap, 0.8) : lighten(cap, 0.1 * (x % 4 == 0)));
}

// Wall top seen from above: a capstone band.
void paintWallTop(Sheet& s, int t, Mat wall) {
  for (int y = 0; y < TILE; ++y)
    for (int x = 0; x < TILE; ++x) {
      RGB c = wall == kDungeonWall ? RGB{46, 44, 54} : RGB{110, 108, 104};
      c = scale(c, 0.9 + tileNoise(x, y, 4, 60) * 0.2);
      if (wall != kDungeonWall && y >= 13) c = material(wall, x, y, 4);  // dungeon void has no face
      if (wall != kDungeonWall && y == 12) c = scale(c, 0.6);
      putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, c);
      setSolid(s, tileX(s, t) + x, tileY(s, t) + y, true);
    }
}

void paintTorch(Sheet& s, int t, Mat wall) {
  paintWallTile(s, t, wall, 5);
  int ox = tileX(s, t), oy = tileY(s, t);
  fillRect(s.im, ox + 7, oy + 7, 2, 6, {90, 60, 30});
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      double d = std::hypot(x + 0.5 - 8, y + 0.5 - 5);
      if (d < 6) blendPx(s.im, ox + x, oy + y, {255, 190, 80}, (6 - d) / 12);
    }
  fillRect(s.im, ox + 7, oy + 3, 2, 4, {255, 170, 40});
  putPx(s.im, ox + 7, oy + 4, {255, 240, 160});
  putPx(s.im, ox + 8, oy + 2, {255, 120, 30});
}

void paintStairs(Sheet& s, int t, Mat step, bool down) {
  for (int y = 0; y < TILE; ++y)
    for (int x = 0; x < TILE; ++x) {
      int k = y / 4;
      RGB c = material(step, x, y, 7);
      double shade = down ? 1 - k * 0.18 : 0.5 + k * 0.16;
      if (y % 4 == 0) c = lighten(c, 0.2);
      c = scale(c, shade);
      putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, c);
      setSolid(s, tileX(s, t) + x, tileY(s, t) + y, false);
    }
}

// Bridge planks across water, posts at the sides.
void paintBridge(Sheet& s, int t, bool horizontal) {
  for (int y = 0; y < TILE; ++y)
    for (int x = 0; x < TILE; ++x) {
      int a = horizontal ? x : y, b = horizontal ? y : x;
      RGB c;
      if (b < 2 || b > 13) c = material(kWater, x, y, 3);
      else if (b == 2 || b == 13) c = {92, 60, 30};
      else {
        c = scale({172, 124, 74}, 0.9 + hash2(a / 3, 0, 5) * 0.2);
        if (a % 3 == 2) c = {110, 72, 38};
      }
      putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, c);
      setSolid(s, tileX(s, t) + x, tileY(s, t) + y, b < 2 || b > 13);
    }
}

void paintSteppingStones(Sheet& s, int t) {
  paintMaterial(s, t, kWater, 6, true);
  const double st[3][3] = {{4.5, 4.5, 3.2}, {11.5, 7, 3.4}, {6, 12, 3}};
  for (const auto& p : st)
    for (int y = 0; y < TILE; ++y)
      for (int x = 0; x < TILE; ++x) {
        double d = std::hypot(x + 0.5 - p[0], y + 0.5 - p[1]);
        if (d <= p[2]) {
          putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, shaded(kStone, p[0], p[1], p[2], 3)(x, y));
          setSolid(s, tileX(s, t) + x, tileY(s, t) + y, false);
        } else if (d <= p[2] + 1) {
          putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, {200, 226, 246});
        }
      }
}

// Crops on farmland: rows of small plants.
void paintCrops(Sheet& s, int t, RGB leaf, RGB fruit) {
  paintMaterial(s, t, kFarm, 4, false);
  for (int y = 0; y < TILE; ++y)
    for (int x = 0; x < TILE; ++x) {
      int row = y / 4;
      double cx = (x / 4) * 4 + 2, cy = row * 4 + 2;
      double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      if (d < 1.8) putPx(s.im, tileX(s, t) + x, tileY(s, t) + y, d < 0.8 ? fruit : leaf);
    }
}

// Tile numbers of the default tileset, by the picture they hold.
enum DefaultTile {
  T_KEY = 0, T_GRASS = 1, T_GRASS2 = 2, T_GRASS3 = 3, T_GRASS_FLOWERS = 4, T_DIRT = 5, T_DIRT_PEBBLES = 6, T_SAND = 7,
  T_SAND2 = 8, T_COBBLE = 9, T_SLAB = 10, T_WOOD = 11, T_REDTILE = 12, T_GRAVEL = 13, T_FOREST = 14, T_FARM = 15,
  T_WATER_NW = 16, T_WATER = 20, T_WATER_INNER = 25, T_WATER_SPARKLE = 29, T_WATER_LILY = 30, T_DEEP_WATER = 31,
  T_PATH_NW = 32, T_PATH = 36, T_PATH_INNER = 41, T_BRIDGE_H = 45, T_BRIDGE_V = 46, T_STEPPING = 47,
  T_STONEWALL = 48, T_STONEWALL_TOP = 49, T_BRICK = 50, T_BRICK_WINDOW = 51, T_PLANK = 52, T_PLANK_WINDOW = 53,
  T_DOOR = 54, T_ROOF_RED = 55, T_ROOF_RED_RIDGE = 56, T_ROOF_BLUE = 57, T_ROOF_BLUE_RIDGE = 58, T_THATCH = 59,
  T_THATCH_RIDGE = 60, T_STONEWALL_TORCH = 61, T_STAIRS = 62, T_PLANK_DOOR = 63,
  T_BUSH = 64, T_TREE = 65, T_PINE = 66, T_BOULDER = 67, T_ROCKS = 68, T_FLOWERS_RED = 69, T_FLOWERS_YELLOW = 70,
  T_FLOWERS_BLUE = 71, T_MUSHROOM = 72, T_STUMP = 73, T_FENCE_H = 74, T_FENCE_V = 75, T_FENCE_POST = 76, T_SIGN = 77,
  T_BARREL = 78, T_CRATE = 79,
  T_BIGTREE = 80, /* 80 81 / 96 97 */ T_WELL = 82, T_CHEST = 83, T_LAMP = 84, T_REEDS = 85, T_LILY = 86, T_LOG = 87,
  T_HAY = 88, T_TOMB = 89, T_POT = 90, T_TUFT = 91, T_BENCH = 92, T_CAMPFIRE = 93, T_SACK = 94, T_HEDGE_TOP = 95,
  T_HEDGE = 98, T_SNOW = 99, T_SAND_NW = 100, /* 100..108 */ T_SAND_INNER = 109, /* 109..112 */
  T_CROPS_WHEAT = 113, T_CROPS_CABBAGE = 114, T_LAVA = 115, T_MOSS = 116,
  T_FOREST_NW = 117, /* 117..125 */ T_DIRT_ROAD = 126, T_GRASS_DARK = 127,
  kDefaultTiles = 128
};

Sheet makeDefaultTileset() {
  Sheet s = makeSheet(16, kDefaultTiles / 16);
  paintMaterial(s, T_GRASS, kGrass, 1, false);
  paintMaterial(s, T_GRASS2, kGrass2, 2, false);
  paintMaterial(s, T_GRASS3, kGrass3, 3, false);
  paintMaterial(s, T_GRASS_FLOWERS, kGrass, 4, false);
  for (int k = 0; k < 6; ++k) {  // a few tiny blossoms
    int x = 2 + int(hash2(k, 0, 44) * 12), y = 2 + int(hash2(k, 1, 44) * 12);
    RGB c = k % 3 == 0 ? RGB{250, 240, 110} : k % 3 == 1 ? RGB{255, 255, 255} : RGB{240, 120, 160};
    putPx(s.im, tileX(s, T_GRASS_FLOWERS) + x, tileY(s, T_GRASS_FLOWERS) + y, c);
  }
  paintMaterial(s, T_DIRT, kDirt, 5, false);
  paintMaterial(s, T_DIRT_PEBBLES, kDirt, 6, false);
  for (int k = 0; k < 5; ++k) {
    int x = 1 + int(hash2(k, 2, 45) * 13), y = 1 + int(hash2(k, 3, 45) * 13);
    fillRect(s.im, tileX(s, T_DIRT_PEBBLES) + x, tileY(s, T_DIRT_PEBBLES) + y, 2, 2, {170, 160, 150});
    putPx(s.im, tileX(s, T_DIRT_PEBBLES) + x, tileY(s, T_DIRT_PEBBLES) + y, {210, 204, 196});
  }
  paintMaterial(s, T_SAND, kSand, 7, false);
  paintMaterial(s, T_SAND2, kSand, 8, false);
  for (int x = 0; x < 16; ++x)  // wind ripples
    for (int k = 0; k < 3; ++k) {
      int y = 3 + k * 5 + int(std::round(std::sin(x * 0.6 + k) * 1.2));
      putPx(s.im, tileX(s, T_SAND2) + x, tileY(s, T_SAND2) + y, {200, 178, 120});
    }
  paintMaterial(s, T_COBBLE, kCobble, 9, false);
  paintMaterial(s, T_SLAB, kSlab, 10, false);
  paintMaterial(s, T_WOOD, kWood, 11, false);
  paintMaterial(s, T_REDTILE, kRedTile, 12, false);
  paintMaterial(s, T_GRAVEL, kGravel, 13, false);
  paintMaterial(s, T_FOREST, kForest, 14, false);
  paintMaterial(s, T_FARM, kFarm, 15, false);

  paintTransition(s, T_WATER_NW, T_WATER_INNER, kWater, kGrass, {230, 240, 250}, true, 16);
  paintMaterial(s, T_WATER_SPARKLE, kWater, 29, true);
  for (int k = 0; k < 4; ++k) {
    int x = 2 + int(hash2(k, 5, 46) * 11), y = 2 + int(hash2(k, 6, 46) * 11);
    putPx(s.im, tileX(s, T_WATER_SPARKLE) + x, tileY(s, T_WATER_SPARKLE) + y, {240, 250, 255});
    putPx(s.im, tileX(s, T_WATER_SPARKLE) + x + 1, tileY(s, T_WATER_SPARKLE) + y, {170, 210, 245});
  }
  paintMaterial(s, T_WATER_LILY, kWater, 30, true);
  {
    Sprite lily = spriteLily();
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        if (!same(getPx(lily.im, x, y), kKey)) putPx(s.im, tileX(s, T_WATER_LILY) + x, tileY(s, T_WATER_LILY) + y, getPx(lily.im, x, y));
  }
  paintMaterial(s, T_DEEP_WATER, kDeepWater, 31, true);

  paintTransition(s, T_PATH_NW, T_PATH_INNER, kDirt, kGrass, {110, 86, 50}, false, 32);
  paintBridge(s, T_BRIDGE_H, true);
  paintBridge(s, T_BRIDGE_V, false);
  paintSteppingStones(s, T_STEPPING);

  paintWallTile(s, T_STONEWALL, kStoneWall, 48);
  paintWallTop(s, T_STONEWALL_TOP, kStoneWall);
  paintWallTile(s, T_BRICK, kBrick, 50);
  paintWindow(s, T_BRICK_WINDOW, kBrick);
  paintWallTile(s, T_PLANK, kPlank, 52);
  paintWindow(s, T_PLANK_WINDOW, kPlank);
  paintDoor(s, T_DOOR, kBrick);
  paintWallTile(s, T_ROOF_RED, kRoofRed, 55);
  paintRidge(s, T_ROOF_RED_RIDGE, kRoofRed);
  paintWallTile(s, T_ROOF_BLUE, kRoofBlue, 57);
  paintRidge(s, T_ROOF_BLUE_RIDGE, kRoofBlue);
  paintWallTile(s, T_THATCH, kThatch, 59);
  paintRidge(s, T_THATCH_RIDGE, kThatch);
  paintTorch(s, T_STONEWALL_TORCH, kStoneWall);
  paintStairs(s, T_STAIRS, kSlab, true);
  paintDoor(s, T_PLANK_DOOR, kPlank);

  placeSprite(s, spriteBush(64), T_BUSH);
  placeSprite(s, spriteTree(65), T_TREE);
  placeSprite(s, spritePine(66), T_PINE);
  placeSprite(s, spriteRock(false, 67), T_BOULDER);
  placeSprite(s, spriteRock(true, 68), T_ROCKS);
  placeSprite(s, spriteFlowers({230, 50, 50}, 69), T_FLOWERS_RED);
  placeSprite(s, spriteFlowers({250, 220, 60}, 70), T_FLOWERS_YELLOW);
  placeSprite(s, spriteFlowers({90, 120, 240}, 71), T_FLOWERS_BLUE);
  placeSprite(s, spriteMushroom(), T_MUSHROOM);
  placeSprite(s, spriteStump(), T_STUMP);
  placeSprite(s, spriteFence(0), T_FENCE_H);
  placeSprite(s, spriteFence(1), T_FENCE_V);
  placeSprite(s, spriteFence(2), T_FENCE_POST);
  placeSprite(s, spriteSign(), T_SIGN);
  placeSprite(s, spriteBarrel(), T_BARREL);
  placeSprite(s, spriteCrate(), T_CRATE);

  {  // the big tree spans tiles 80, 81, 96 and 97
    Sprite big = spriteBigTree(80);
    for (int q = 0; q < 4; ++q) {
      Sprite part = makeSprite(1, 1);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          int sx = (q % 2) * 16 + x, sy = (q / 2) * 16 + y;
          putPx(part.im, x, y, getPx(big.im, sx, sy));
          part.solid[size_t(y) * 16 + x] = big.solid[size_t(sy) * 32 + sx];
        }
      placeSprite(s, part, T_BIGTREE + (q % 2) + (q / 2) * 16);
    }
  }
  placeSprite(s, spriteWell(), T_WELL);
  placeSprite(s, spriteChest(), T_CHEST);
  placeSprite(s, spriteLamp(), T_LAMP);
  placeSprite(s, spriteReeds(85), T_REEDS);
  placeSprite(s, spriteLily(), T_LILY);
  placeSprite(s, spriteLog(), T_LOG);
  placeSprite(s, spriteHay(), T_HAY);
  placeSprite(s, spriteTomb(), T_TOMB);
  placeSprite(s, spritePot(), T_POT);
  placeSprite(s, spriteTuft(91), T_TUFT);
  placeSprite(s, spriteBench(), T_BENCH);
  placeSprite(s, spriteCampfire(), T_CAMPFIRE);
  placeSprite(s, spriteSack(), T_SACK);
  placeSprite(s, spriteHedge(true), T_HEDGE_TOP);
  placeSprite(s, spriteHedge(false), T_HEDGE);
  paintMaterial(s, T_SNOW, kSnow, 99, false);
  paintTransition(s, T_SAND_NW, T_SAND_INNER, kSand, kGrass, {196, 176, 120}, false, 100);
  paintCrops(s, T_CROPS_WHEAT, {170, 160, 70}, {236, 206, 100});
  paintCrops(s, T_CROPS_CABBAGE, {90, 160, 70}, {160, 210, 120});
  paintMaterial(s, T_LAVA, kLava, 115, true);
  paintMaterial(s, T_MOSS, kMossFloor, 116, false);
  // forest floor blob: 9 pieces only, corners would not fit the row
  {
    Sheet tmp = makeSheet(16, 2);
    paintTransition(tmp, 0, 9, kForest, kGrass, {50, 84, 40}, false, 117);
    for (int k = 0; k < 9; ++k)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          putPx(s.im, tileX(s, T_FOREST_NW + k) + x, tileY(s, T_FOREST_NW + k) + y, getPx(tmp.im, tileX(tmp, k) + x, tileY(tmp, k) + y));
        }
  }
  paintMaterial(s, T_DIRT_ROAD, kGravel, 126, false);
  paintMaterial(s, T_GRASS_DARK, kForest, 127, false);
  return s;
}

enum DungeonTile {
  D_KEY = 0, D_FLOOR = 1, D_FLOOR2 = 2, D_CRACKED = 3, D_MOSS = 4, D_SLAB = 5, D_CARPET = 6, D_GRATE = 7,
  D_WALL = 8, D_WALL2 = 9, D_WALL_TORCH = 10, D_WALL_BANNER = 11, D_WALL_TOP = 12, D_DOOR = 13, D_STAIRS = 14, D_PIT = 15,
  D_CHEST = 16, D_BARREL = 17, D_CRATE = 18, D_BONES = 19, D_SKULL = 20, D_PILLAR = 21, D_WEB = 22, D_POTION = 23,
  D_WATER = 24, D_LAVA = 25, D_RUBBLE = 26, D_BRAZIER = 27, D_KEYITEM = 28, D_COINS = 29, D_STATUE = 30, D_TABLE = 31,
  kDungeonTiles = 32
};

Sheet makeDungeonTileset() {
  Sheet s = makeSheet(8, kDungeonTiles / 8);
  paintMaterial(s, D_FLOOR, kDungeonFloor, 1, false);
  paintMaterial(s, D_FLOOR2, kDungeonFloor, 2, false);
  paintMaterial(s, D_CRACKED, kDungeonFloor, 3, false);
  for (int k = 0; k < 12; ++k) {  // a crack zig-zagging across
    int x = 2 + k, y = 4 + int(std::round(std::sin(k * 1.3) * 2 + k * 0.5));
    putPx(s.im, tileX(s, D_CRACKED) + x, tileY(s, D_CRACKED) + y, {30, 28, 34});
  }
  paintMaterial(s, D_MOSS, kMossFloor, 4, false);
  paintMaterial(s, D_SLAB, kSlab, 5, false);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      RGB c = scale({150, 30, 40}, 0.9 + hash2(x, y, 6) * 0.15);
      if (y == 1 || y == 14) c = {220, 180, 70};
      putPx(s.im, tileX(s, D_CARPET) + x, tileY(s, D_CARPET) + y, c);
    }
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      putPx(s.im, tileX(s, D_GRATE) + x, tileY(s, D_GRATE) + y,
            (x % 4 == 0 || y % 4 == 0) ? RGB{80, 80, 90} : RGB{14, 12, 18});
  paintWallTile(s, D_WALL, kDungeonWall, 8);
  paintWallTile(s, D_WALL2, kDungeonWall, 9);
  paintTorch(s, D_WALL_TORCH, kDungeonWall);
  paintWallTile(s, D_WALL_BANNER, kDungeonWall, 11);
  for (int y = 0; y < 14; ++y)
    for (int x = 4; x < 12; ++x) {
      if (y > 10 && std::abs(x * 2 + 1 - 16) < (y - 10) * 3) continue;  // swallow-tail end
      RGB c = x == 4 || x == 11 ? RGB{110, 20, 30} : RGB{170, 30, 44};
      if (y >= 4 && y <= 7 && x >= 6 && x <= 9) c = {230, 190, 70};
      putPx(s.im, tileX(s, D_WALL_BANNER) + x, tileY(s, D_WALL_BANNER) + y, c);
    }
  paintWallTop(s, D_WALL_TOP, kDungeonWall);
  paintDoor(s, D_DOOR, kDungeonWall);
  paintStairs(s, D_STAIRS, kDungeonFloor, true);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      double d = roundRectDist(x + 0.5, y + 0.5, 16, 16, 3);
      RGB c = d > -2 ? material(kDungeonFloor, x, y, 15) : mix({30, 26, 34}, {4, 4, 8}, std::min(1.0, -d / 5));
      putPx(s.im, tileX(s, D_PIT) + x, tileY(s, D_PIT) + y, c);
      setSolid(s, tileX(s, D_PIT) + x, tileY(s, D_PIT) + y, d <= -2);
    }
  placeSprite(s, spriteChest(), D_CHEST);
  placeSprite(s, spriteBarrel(), D_BARREL);
  placeSprite(s, spriteCrate(), D_CRATE);
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, [](double x, double y) { return segDist(x, y, 3, 12, 12, 8) <= 0.9 || segDist(x, y, 4, 6, 11, 13) <= 0.9; },
                flat({226, 220, 200}), false);
    spriteShape(sp, [](double x, double y) { return circle(3, 12, 1.4)(x, y) || circle(12, 8, 1.4)(x, y) || circle(4, 6, 1.4)(x, y) || circle(11, 13, 1.4)(x, y); },
                flat({240, 236, 220}), false);
    placeSprite(s, sp, D_BONES);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, [](double x, double y) { return circle(8, 7, 5)(x, y) || box(5, 9, 11, 13.5)(x, y); }, shaded({236, 230, 210}, 7, 6, 5, 2), false);
    spriteShape(sp, [](double x, double y) { return circle(6, 7.5, 1.4)(x, y) || circle(10, 7.5, 1.4)(x, y); }, flat({30, 24, 30}), false);
    spriteShape(sp, box(7, 11, 9, 12.5), flat({60, 50, 50}), false);
    outlineSprite(sp, {60, 56, 50});
    placeSprite(s, sp, D_SKULL);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, box(3, 0, 13, 16), [](int x, int y) {
      RGB c = scale({150, 146, 160}, 0.75 + (x - 3) * 0.0 + (x < 6 ? 0.3 : x > 10 ? -0.1 : 0.15));
      if (y < 2 || y > 13) c = {120, 116, 130};
      return c;
    }, true);
    placeSprite(s, sp, D_PILLAR);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, [](double x, double y) {
      double r = std::hypot(x, y);
      double a = std::atan2(y, x);
      for (int k = 0; k < 5; ++k) if (std::fabs(a - k * 0.39) < 0.05) return r < 15;
      for (int k = 1; k < 4; ++k) if (std::fabs(r - k * 4.5) < 0.45) return true;
      return false;
    }, flat({220, 220, 230}), false);
    placeSprite(s, sp, D_WEB);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, [](double x, double y) { return circle(8, 10.5, 4.5)(x, y) || box(6.5, 3, 9.5, 7)(x, y); }, shaded({60, 120, 230}, 7, 10, 4.5, 3), false);
    spriteShape(sp, box(6, 2, 10, 3.5), flat({150, 100, 60}), false);
    spriteShape(sp, circle(6.5, 9, 1), flat({200, 230, 255}), false);
    outlineSprite(sp, {20, 30, 60});
    placeSprite(s, sp, D_POTION);
  }
  paintMaterial(s, D_WATER, kDeepWater, 24, true);
  paintMaterial(s, D_LAVA, kLava, 25, true);
  {
    Sprite sp = makeSprite(1, 1);
    for (int k = 0; k < 7; ++k) {
      double x = 2 + hash2(k, 0, 26) * 12, y = 2 + hash2(k, 1, 26) * 12, r = 1.2 + hash2(k, 2, 26) * 1.8;
      spriteShape(sp, circle(x, y, r), shaded({120, 116, 128}, x, y, r, k), k < 3);
    }
    outlineSprite(sp, {40, 38, 46});
    placeSprite(s, sp, D_RUBBLE);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, box(7, 8, 9, 15), flat({60, 60, 66}), true);
    spriteShape(sp, box(4, 14, 12, 16), flat({60, 60, 66}), true);
    spriteShape(sp, [](double x, double y) { return y > 6 && ellipse(8, 6, 5, 3)(x, y); }, flat({90, 90, 100}), true);
    spriteShape(sp, [](double x, double y) { return inTriangle(x, y, 8, 0, 4.5, 7, 11.5, 7); }, flat({255, 140, 30}), true);
    spriteShape(sp, [](double x, double y) { return inTriangle(x, y, 8, 3, 6.5, 7, 9.5, 7); }, flat({255, 230, 110}), true);
    placeSprite(s, sp, D_BRAZIER);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, [](double x, double y) { return (std::hypot(x - 5, y - 8) <= 3 && std::hypot(x - 5, y - 8) >= 1.4) || box(7.5, 7.3, 14, 8.8)(x, y) || box(11, 8.5, 12.5, 11)(x, y) || box(13, 8.5, 14, 10.5)(x, y); },
                flat({240, 200, 60}), false);
    outlineSprite(sp, {90, 60, 10});
    placeSprite(s, sp, D_KEYITEM);
  }
  {
    Sprite sp = makeSprite(1, 1);
    const double cs[6][2] = {{5, 10}, {8, 11}, {11, 10}, {6.5, 8}, {9.5, 8}, {8, 6}};
    for (const auto& c : cs) spriteShape(sp, ellipse(c[0], c[1], 2.2, 1.3), shaded({240, 200, 50}, c[0], c[1], 2, 1), false);
    outlineSprite(sp, {110, 80, 10});
    placeSprite(s, sp, D_COINS);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, [](double x, double y) { return circle(8, 4, 2.5)(x, y) || box(5, 6, 11, 12)(x, y) || box(3.5, 12, 12.5, 15.5)(x, y); },
                shaded({170, 170, 180}, 7, 7, 7, 5), true);
    outlineSprite(sp, {50, 50, 58});
    placeSprite(s, sp, D_STATUE);
  }
  {
    Sprite sp = makeSprite(1, 1);
    spriteShape(sp, box(1, 4, 15, 11), [](int x, int y) { return scale({150, 100, 58}, 0.9 + ((x + y) % 4 == 0 ? -0.1 : 0.05)); }, true);
    spriteShape(sp, box(2, 11, 4, 15), flat({100, 64, 34}), true);
    spriteShape(sp, box(12, 11, 14, 15), flat({100, 64, 34}), true);
    spriteShape(sp, circle(6, 7, 1.5), flat({230, 230, 220}), true);
    outlineSprite(sp, kWoodEdge);
    placeSprite(s, sp, D_TABLE);
  }
  return s;
}

// Pass conditions: 4 bytes per tile (top-left, top-right, bottom-left,
// bottom-right quarter), 1 passable, 0 blocked when at least `share` of the
// quarter's pixels block.
std::string passConditions(const Sheet& s) {
  long long tiles = tilesetCounts(s.im.w, s.im.h).cells;
  std::string out;
  for (int t = 0; t < (int)tiles; ++t)
    for (int q = 0; q < 4; ++q) {
      int ox = tileX(s, t) + (q % 2) * 8, oy = tileY(s, t) + (q / 2) * 8, n = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) n += s.solid[size_t(oy + y) * s.im.w + ox + x];
      out += char(n >= 20 ? 0 : 1);
    }
  return out;
}

// ---------------------------------------------------------------- maps

struct MapLayer {
  std::string gfx;
  std::vector<int32_t> cells;
  bool bg = false;
  int16_t x = 1, y = 1;
};

struct MapFile {
  std::string sysname, filename;
  uint32_t w = 0, h = 0, viewX = 0, viewY = 0;
  std::vector<MapLayer> layers;  // index 0 is the bottom layer
};

struct Grid {
  int w, h;
  std::vector<int32_t> c;
  int32_t& at(int x, int y) { return c[size_t(y) * w + x]; }
  bool in(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
};

Grid makeGrid(int w, int h, int32_t v) { return {w, h, std::vector<int32_t>(size_t(w) * h, v)}; }

// Picks the edge piece of a blob: the 3 x 3 pieces from `first`, inner
// corners from `corners`. Cells beyond the map edge count as inside.
int32_t autotile(const std::vector<uint8_t>& mask, int w, int h, int x, int y, int first, int corners) {
  auto m = [&](int cx, int cy) { return cx < 0 || cy < 0 || cx >= w || cy >= h || mask[size_t(cy) * w + cx]; };
  bool n = m(x, y - 1), s = m(x, y + 1), wv = m(x - 1, y), e = m(x + 1, y);
  int col = !wv ? 0 : !e ? 2 : 1, row = !n ? 0 : !s ? 2 : 1;
  if (col != 1 || row != 1) return first + row * 3 + col;
  if (!m(x - 1, y - 1)) return corners + 0;
  if (!m(x + 1, y - 1)) return corners + 1;
  if (!m(x - 1, y + 1)) return corners + 2;
  if (!m(x + 1, y + 1)) return corners + 3;
  return first + 4;
}

MapFile makeVillage() {
  const int W = 64, H = 48;
  Grid ground = makeGrid(W, H, T_GRASS), objects = makeGrid(W, H, 0);
  std::vector<uint8_t> used(size_t(W) * H, 0), water(size_t(W) * H, 0), path(size_t(W) * H, 0);
  auto mark = [&](std::vector<uint8_t>& m, int x0, int y0, int x1, int y1) {
    for (int y = std::max(0, y0); y < std::min(H, y1); ++y)
      for (int x = std::max(0, x0); x < std::min(W, x1); ++x) m[size_t(y) * W + x] = 1;
  };
  auto isSet = [&](const std::vector<uint8_t>& m, int x, int y) { return x >= 0 && y >= 0 && x < W && y < H && m[size_t(y) * W + x]; };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double r = hash2(x, y, 901);
      ground.at(x, y) = r < 0.62 ? T_GRASS : r < 0.8 ? T_GRASS2 : r < 0.93 ? T_GRASS3 : T_GRASS_FLOWERS;
    }
  // forest floor in the south-east corner
  for (int y = 36; y < H; ++y)
    for (int x = 46; x < W; ++x) ground.at(x, y) = hash2(x, y, 7) < 0.8 ? T_FOREST : T_GRASS_DARK;
  // pond, two overlapping basins
  mark(water, 44, 5, 55, 13);
  mark(water, 40, 9, 48, 16);
  // roads: east-west and north-south, crossing at the plaza
  mark(path, 0, 23, W, 26);
  mark(path, 30, 0, 33, H);
  mark(path, 14, 20, 17, 23);  // lane to house A's door
  mark(path, 41, 26, 44, 29);  // lane to house C
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (isSet(water, x, y)) ground.at(x, y) = autotile(water, W, H, x, y, T_WATER_NW, T_WATER_INNER);
      else if (isSet(path, x, y)) ground.at(x, y) = autotile(path, W, H, x, y, T_PATH_NW, T_PATH_INNER);
    }
  for (int y = 6; y < 15; ++y)  // sparkles on open water
    for (int x = 41; x < 55; ++x)
      if (ground.at(x, y) == T_WATER && hash2(x, y, 33) < 0.12) ground.at(x, y) = T_WATER_SPARKLE;
  // cobbled plaza at the crossing
  for (int y = 20; y < 29; ++y)
    for (int x = 27; x < 36; ++x) ground.at(x, y) = T_COBBLE;
  mark(used, 27, 20, 36, 29);
  mark(used, 0, 22, W, 27);
  mark(used, 29, 0, 34, H);
  // farm field with fences
  for (int y = 31; y < 41; ++y)
    for (int x = 5; x < 19; ++x) ground.at(x, y) = (y - 31) % 3 == 2 ? T_FARM : (x < 12 ? T_CROPS_WHEAT : T_CROPS_CABBAGE);
  for (int x = 4; x < 20; ++x) objects.at(x, 30) = objects.at(x, 41) = T_FENCE_H;
  for (int y = 31; y < 41; ++y) objects.at(4, y) = objects.at(19, y) = T_FENCE_V;
  objects.at(4, 30) = objects.at(19, 30) = objects.at(4, 41) = objects.at(19, 41) = T_FENCE_POST;
  objects.at(11, 30) = 0;  // gate
  mark(used, 3, 29, 21, 43);
  objects.at(21, 31) = T_HAY;
  objects.at(21, 33) = T_HAY;
  objects.at(22, 32) = T_SACK;
  // houses: ridge row, roof rows, wall rows with windows and a door
  auto house = [&](int x0, int y0, int w, int roofRows, int ridge, int roof, int wall, int window, int door) {
    for (int x = x0; x < x0 + w; ++x) {
      objects.at(x, y0) = ridge;
      for (int r = 1; r <= roofRows; ++r) objects.at(x, y0 + r) = roof;
      objects.at(x, y0 + roofRows + 1) = (x - x0) % 2 == 1 ? window : wall;
      objects.at(x, y0 + roofRows + 2) = x == x0 + w / 2 ? door : ((x - x0) % 3 == 1 ? window : wall);
    }
    mark(used, x0 - 1, y0 - 1, x0 + w + 1, y0 + roofRows + 4);
  };
  house(12, 14, 7, 2, T_ROOF_RED_RIDGE, T_ROOF_RED, T_BRICK, T_BRICK_WINDOW, T_DOOR);
  house(21, 15, 5, 2, T_THATCH_RIDGE, T_THATCH, T_PLANK, T_PLANK_WINDOW, T_PLANK_DOOR);
  house(38, 17, 6, 1, T_ROOF_BLUE_RIDGE, T_ROOF_BLUE, T_BRICK, T_BRICK_WINDOW, T_DOOR);
  house(39, 29, 7, 2, T_ROOF_RED_RIDGE, T_ROOF_RED, T_PLANK, T_PLANK_WINDOW, T_PLANK_DOOR);
  // yard of house A: wooden deck and barrels
  objects.at(11, 18) = T_BARREL;
  objects.at(19, 18) = T_CRATE;
  objects.at(46, 32) = T_BARREL;
  objects.at(46, 33) = T_CRATE;
  // the plaza: well, benches, lamps, a sign
  objects.at(31, 24) = T_WELL;
  objects.at(28, 21) = T_BENCH;
  objects.at(34, 27) = T_BENCH;
  objects.at(27, 20) = objects.at(35, 20) = objects.at(27, 28) = objects.at(35, 28) = T_LAMP;
  for (int x = 4; x < W; x += 9)
    if (x < 26 || x > 37) objects.at(x, 22) = T_LAMP;
  objects.at(34, 21) = T_SIGN;
  objects.at(28, 27) = T_POT;
  // pond life
  for (int y = 4; y < 17; ++y)
    for (int x = 39; x < 56; ++x) {
      if (isSet(water, x, y) || used[size_t(y) * W + x]) continue;
      bool shore = isSet(water, x - 1, y) || isSet(water, x + 1, y) || isSet(water, x, y - 1) || isSet(water, x, y + 1);
      if (shore && hash2(x, y, 55) < 0.35) objects.at(x, y) = T_REEDS, used[size_t(y) * W + x] = 1;
    }
  objects.at(47, 8) = objects.at(51, 10) = objects.at(44, 13) = T_LILY;
  mark(used, 39, 4, 56, 17);
  // a small graveyard in the north-west
  for (int k = 0; k < 6; ++k) objects.at(4 + (k % 3) * 2, 4 + (k / 3) * 2) = T_TOMB;
  for (int x = 2; x < 11; ++x) objects.at(x, 2) = objects.at(x, 9) = T_HEDGE_TOP;
  mark(used, 1, 1, 12, 11);
  // camp in the forest
  objects.at(52, 40) = T_CAMPFIRE;
  objects.at(50, 40) = T_LOG;
  objects.at(54, 41) = T_LOG;
  mark(used, 49, 39, 56, 43);
  // big trees (2 x 2), then single trees, bushes and flowers on free grass
  const int big[][2] = {{24, 4}, {7, 43}, {56, 20}, {36, 8}, {22, 36}, {58, 44}, {48, 44}, {60, 30}};
  for (const auto& b : big) {
    int x = b[0], y = b[1];
    bool free = true;
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx) free = free && isSet(used, x + dx, y + dy) == false && x + dx < W && y + dy < H;
    if (!free) continue;
    objects.at(x, y) = T_BIGTREE;
    objects.at(x + 1, y) = T_BIGTREE + 1;
    objects.at(x, y + 1) = T_BIGTREE + 16;
    objects.at(x + 1, y + 1) = T_BIGTREE + 17;
    mark(used, x - 1, y - 1, x + 3, y + 3);
  }
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (used[size_t(y) * W + x] || objects.at(x, y)) continue;
      bool edge = x < 2 || y < 1 || x >= W - 2 || y >= H - 2;
      bool forest = x >= 46 && y >= 36;
      double r = hash2(x, y, 321);
      int32_t t = 0;
      if (edge || forest) t = r < 0.45 ? T_PINE : r < 0.75 ? T_TREE : r < 0.82 ? T_BUSH : r < 0.86 ? T_MUSHROOM : 0;
      else if (r < 0.025) t = T_TREE;
      else if (r < 0.04) t = T_PINE;
      else if (r < 0.055) t = T_BUSH;
      else if (r < 0.075) t = r < 0.062 ? T_FLOWERS_RED : r < 0.069 ? T_FLOWERS_YELLOW : T_FLOWERS_BLUE;
      else if (r < 0.085) t = T_ROCKS;
      else if (r < 0.09) t = T_BOULDER;
      else if (r < 0.1) t = T_TUFT;
      else if (r < 0.103) t = T_STUMP;
      if (t) objects.at(x, y) = t;
    }
  MapFile m;
  m.sysname = "Village";
  m.filename = "map0";
  m.w = W;
  m.h = H;
  m.layers.push_back({"default", ground.c, false, 1, 1});
  m.layers.push_back({"default", objects.c, false, 1, 1});
  return m;
}

MapFile makeDungeon() {
  const int W = 40, H = 30;
  Grid ground = makeGrid(W, H, D_WALL_TOP), decor = makeGrid(W, H, 0);
  std::vector<uint8_t> floor(size_t(W) * H, 0);
  auto room = [&](int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) floor[size_t(y) * W + x] = 1;
  };
  room(3, 4, 12, 11);    // entrance hall
  room(18, 3, 32, 12);   // great hall
  room(4, 17, 13, 26);   // store room
  room(20, 17, 36, 27);  // crypt
  room(12, 7, 18, 9);    // corridors, two cells wide
  room(7, 11, 9, 17);
  room(25, 12, 27, 17);
  room(13, 21, 20, 23);
  auto isFloor = [&](int x, int y) { return x >= 0 && y >= 0 && x < W && y < H && floor[size_t(y) * W + x]; };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double r = hash2(x, y, 501);
      if (isFloor(x, y)) ground.at(x, y) = r < 0.55 ? D_FLOOR : r < 0.8 ? D_FLOOR2 : r < 0.9 ? D_CRACKED : D_MOSS;
      else if (isFloor(x, y + 1)) ground.at(x, y) = r < 0.12 ? D_WALL_TORCH : r < 0.6 ? D_WALL : D_WALL2;
    }
  // carpet up the great hall to the throne statue, banners behind it
  for (int y = 5; y < 12; ++y) ground.at(24, y) = ground.at(25, y) = D_CARPET;
  ground.at(22, 2) = ground.at(27, 2) = D_WALL_BANNER;
  decor.at(24, 4) = D_STATUE;
  for (int y = 4; y < 12; y += 3) decor.at(20, y) = decor.at(29, y) = D_PILLAR;
  decor.at(19, 3) = decor.at(31, 3) = D_WEB;
  // entrance: stairs up from the surface, braziers
  ground.at(4, 5) = D_STAIRS;
  decor.at(6, 5) = decor.at(10, 5) = D_BRAZIER;
  decor.at(3, 10) = D_RUBBLE;
  ground.at(7, 10) = D_GRATE;
  // store room
  const int store[][3] = {{4, 17, D_BARREL}, {5, 17, D_BARREL}, {6, 17, D_CRATE}, {12, 17, D_CRATE}, {12, 18, D_BARREL},
                          {4, 25, D_CRATE}, {9, 20, D_TABLE}, {10, 20, D_POTION}, {5, 21, D_SKULL}, {11, 24, D_COINS}};
  for (const auto& s : store) decor.at(s[0], s[1]) = s[2];
  // crypt: slab floor, lava pit, treasure guarded by bones
  for (int y = 17; y < 27; ++y)
    for (int x = 20; x < 36; ++x) ground.at(x, y) = hash2(x, y, 9) < 0.95 ? D_SLAB : D_CRACKED;
  for (int y = 20; y < 23; ++y)
    for (int x = 27; x < 31; ++x) ground.at(x, y) = D_LAVA;
  ground.at(21, 25) = D_PIT;
  ground.at(34, 25) = D_STAIRS;
  decor.at(34, 18) = D_CHEST;
  decor.at(33, 18) = D_COINS;
  decor.at(33, 19) = D_BONES;
  decor.at(22, 18) = D_SKULL;
  decor.at(26, 24) = D_BONES;
  decor.at(35, 17) = D_WEB;
  decor.at(20, 17) = D_WEB;
  decor.at(31, 25) = D_KEYITEM;
  MapFile m;
  m.sysname = "Dungeon";
  m.filename = "map1";
  m.w = W;
  m.h = H;
  m.layers.push_back({"dungeon", ground.c, false, 1, 1});
  m.layers.push_back({"dungeon", decor.c, false, 1, 1});
  return m;
}

// ---------------------------------------------------------------- output

bool writeBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return (std::fclose(f) == 0) && ok;
}

// The map through the model's own writer (its layers borrowed, not copied).
bool writeMap(const std::string& dir, const MapFile& mf) {
  std::vector<Layer> layers(mf.layers.size());
  std::vector<Layer*> order;
  std::vector<std::string> names;
  for (size_t i = 0; i < mf.layers.size(); ++i) {
    layers[i].e = const_cast<int32_t*>(mf.layers[i].cells.data());
    layers[i].layerGFX = const_cast<char*>(mf.layers[i].gfx.c_str());
    layers[i].bg = mf.layers[i].bg ? 1 : 0;
    layers[i].x = mf.layers[i].x;
    layers[i].y = mf.layers[i].y;
    order.push_back(&layers[i]);
  }
  Map m;
  m.layer = order.data();
  m.layers = (uint16_t)order.size();
  m.sysname = const_cast<char*>(mf.sysname.c_str());
  m.filename = const_cast<char*>(mf.filename.c_str());
  m.w = mf.w;
  m.h = mf.h;
  m.viewX = mf.viewX;
  m.viewY = mf.viewY;
  FILE* f = std::fopen((dir + "/maps/" + mf.filename + ".map").c_str(), "wb");
  if (!f) return false;
  bool ok = writeMapStream(f, &m);
  return std::fclose(f) == 0 && ok;
}

bool writeProject(const std::string& dir, int32_t element) {
  Project p;
  std::snprintf(p.name, sizeof p.name, "demo");
  p.crc = 777;
  p.currentElement = element;
  std::snprintf(p.currentMenu, sizeof p.currentMenu, "main");
  std::snprintf(p.workingMap, sizeof p.workingMap, "map0");
  FILE* f = std::fopen((dir + "/" + PROJECT_FILE).c_str(), "wb");
  if (!f) return false;
  bool ok = writeProjectStream(f, p, 1);
  return std::fclose(f) == 0 && ok;
}

bool writePass(const char* name, const Sheet& s) {
  std::string pass = passConditions(s);
  return writePassConditions(name, (const unsigned char*)pass.data(), pass.size());
}

bool save(const std::string& dir, const char* name, const Image& im) {
  std::string path = dir + "/" + name;
  if (!writePng(path, im.w, im.h, 3, im.px.data())) {
    std::fprintf(stderr, "mkassets: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool writeInterface(const std::string& dir) {
  struct Btn {
    const char* file;
    int w, h;
    const Theme* theme;
    const char* label;
    Icon icon;
  };
  // Sizes fit the places where the panel draws each button.
  const Btn buttons[] = {
      {"brushpen.png", 72, 22, &kSlate, "Pen", kPen},
      {"brushsquare.png", 72, 22, &kSlate, "Rect", kSquare},
      {"brushfill.png", 72, 22, &kSlate, "Fill", kGrid},
      {"b_join.png", 92, 24, &kGreen, "Join", kPlug},
      {"b_discnt.png", 80, 24, &kRed, "Disconnect", kNoIcon},
      {"b_down.png", 32, 32, &kBlue, "", kArrowDown},
      {"b_up.png", 32, 32, &kBlue, "", kArrowUp},
      {"b_newmap.png", 80, 24, &kGreen, "New map", kPlus},
      {"b_addlayer.png", 86, 26, &kBlue, "Add layer", kPlus},
      {"b_delete.png", 86, 26, &kRed, "Delete", kCross},
      {"b_tobg.png", 98, 26, &kBlue, "Background", kArrowRight},
      {"b_tolayr.png", 98, 26, &kBlue, "Tile layer", kArrowRight},
      {"b_passconditions.png", 94, 26, &kBlue, "Passability", kGrid},
      {"b_save.png", 82, 26, &kGreen, "Save", kDisk},
      {"b_new.png", 98, 28, &kGreen, "New project", kNoIcon},
      {"b_accept.png", 92, 24, &kGreen, "Accept", kPlug},
      {"b_refuse.png", 92, 24, &kRed, "Refuse", kCross},
  };
  bool ok = save(dir, "menubg.png", makeMenuBg());
  ok = save(dir, "netact.png", makeNetAct()) && ok;
  ok = save(dir, "moska.png", makeLogo()) && ok;
  ok = save(dir, "passnot.png", makePassNot()) && ok;
  ok = save(dir, "b_mmenu.png", makeTab(118, 28, "Main", kFolder)) && ok;
  ok = save(dir, "b_mmap.png", makeTab(99, 28, "Map", kLayers)) && ok;
  ok = save(dir, "b_mentit.png", makeTab(100, 28, "Entities", kGrid)) && ok;
  for (const Btn& b : buttons)
    ok = save(dir, b.file, makeButton(b.w, b.h, *b.theme, b.label, b.icon, fonts.label)) && ok;
  return ok;
}

bool writeTileset(const std::string& dir, const char* name, const Sheet& s) { return save(dir, name, s.im); }

bool writeExample(const std::string& dir) {
  for (const char* sub : {"", "/layers", "/layerspc", "/maps", "/models"}) mkdir((dir + sub).c_str(), 0755);
  Sheet def = makeDefaultTileset(), dun = makeDungeonTileset();
  std::snprintf(projectPath, sizeof projectPath, "%s/", dir.c_str());  // where the model writes
  bool ok = writeProject(dir, T_GRASS_FLOWERS);
  ok = writeTileset(dir + "/layers", "default.png", def) && ok;
  ok = writeTileset(dir + "/layers", "dungeon.png", dun) && ok;
  ok = writePass("default", def) && ok;
  ok = writePass("dungeon", dun) && ok;
  ok = writeMap(dir, makeVillage()) && ok;
  ok = writeMap(dir, makeDungeon()) && ok;
  ok = writeBytes(dir + "/models/.gitkeep", "") && ok;
  if (!ok) std::fprintf(stderr, "mkassets: cannot write the example project in %s\n", dir.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool example = argc == 3 && std::strcmp(argv[1], "--example") == 0;
  if (!(argc == 2 || example) || argv[argc - 1][0] == '\0') {
    std::fprintf(stderr, "usage: mkassets <outdir> | mkassets --example <projectdir>\n");
    return 2;
  }
  std::string dir = argv[argc - 1];
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (example) return writeExample(dir) ? 0 : 1;
  mkdir(dir.c_str(), 0755);
  if (!openFonts()) {
    std::fprintf(stderr, "mkassets: cannot open the DejaVu fonts (%s)\n", TTF_GetError());
    return 1;
  }
  bool ok = writeInterface(dir) && writeTileset(dir, "default.png", makeDefaultTileset());
  return ok ? 0 : 1;
}
