// Index:
//   [SECTION] fonts and text
//   [SECTION] cursors
//   [SECTION] the window
//   [SECTION] pixels and blits
//   [SECTION] labels and pictures
#include "toolkit/video.h"

#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "core/core.h"
#include "toolkit/files.h"
#include "toolkit/tilecache.h"

SDL_Surface* screen = nullptr;
SDL_Surface* menu = nullptr;
SDL_Surface* window = nullptr;
SDL_Surface* text = nullptr;
TTF_Font* police = nullptr;
SDL_Color fontColor = {128, 128, 128, 0};

SDL_Surface *menubg, *antenneWifiGFX, *moska, *brushpen, *brushsquare, *brushfill, *passnot, *b_MainMenu,
    *b_MapMenu, *b_EntitiesMenu, *b_join, *b_disconnect, *b_down, *b_up, *b_newmap, *b_addlayer,
    *b_delete, *b_tobg, *b_tolayer, *b_passconditions, *b_save, *b_new, *b_accept, *b_refuse;

// [SECTION] fonts and text
namespace {
// Fonts stay open by path, size and style: opening the font file and hinting
// its glyphs again for every label cost more than the rest of a frame, and
// a frame only waits for received edits between its draws.
struct OpenFont {
  char path[FILE_PATH_LEN];
  int size, style;
  TTF_Font* font;
};
const size_t kMaxOpenFonts = 16;
// A plain array, not a container: the fonts live until the process ends,
// like the surfaces, and stay reachable from it after static destructors.
OpenFont openFonts[kMaxOpenFonts];  // oldest first
size_t openFontCount = 0;

TTF_Font* labelFont(int size, int style) {
  char path[FILE_PATH_LEN];
  if (!imagePath(path, sizeof path, "", FONT_FILE)) return nullptr;
  for (size_t k = 0; k < openFontCount; k++) {
    const OpenFont& f = openFonts[k];
    if (f.size == size && f.style == style && strcmp(f.path, path) == 0) return f.font;
  }
  TTF_Font* font = openFont("", FONT_FILE, size);
  if (!font) return nullptr;  // not cached: a font put in place later is found
  TTF_SetFontStyle(font, style);
  if (openFontCount == kMaxOpenFonts) {
    TTF_CloseFont(openFonts[0].font);
    memmove(&openFonts[0], &openFonts[1], (kMaxOpenFonts - 1) * sizeof openFonts[0]);
    openFontCount--;
  }
  OpenFont& f = openFonts[openFontCount++];
  snprintf(f.path, sizeof f.path, "%s", path);
  f.size = size;
  f.style = style;
  f.font = font;
  return font;
}

struct InterfaceImage {
  const char* file;
  SDL_Surface** global;
  bool keyed;
};
const InterfaceImage kImages[] = {
    {"menubg.png", &menubg, false},
    {"netact.png", &antenneWifiGFX, false},
    {"moska.png", &moska, true},
    {"brushpen.png", &brushpen, true},
    {"brushsquare.png", &brushsquare, true},
    {"brushfill.png", &brushfill, true},
    {"passnot.png", &passnot, true},
    {"b_mmenu.png", &b_MainMenu, true},
    {"b_mmap.png", &b_MapMenu, true},
    {"b_mentit.png", &b_EntitiesMenu, true},
    {"b_join.png", &b_join, true},
    {"b_discnt.png", &b_disconnect, true},
    {"b_down.png", &b_down, true},
    {"b_up.png", &b_up, true},
    {"b_newmap.png", &b_newmap, true},
    {"b_addlayer.png", &b_addlayer, true},
    {"b_delete.png", &b_delete, true},
    {"b_tobg.png", &b_tobg, true},
    {"b_tolayr.png", &b_tolayer, true},
    {"b_passconditions.png", &b_passconditions, true},
    {"b_save.png", &b_save, true},
    {"b_new.png", &b_new, true},
    {"b_accept.png", &b_accept, true},
    {"b_refuse.png", &b_refuse, true},
};

struct NamedColour {
  const char* name;
  int r, g, b;
};
const NamedColour kColours[] = {
    {"white", 255, 255, 255}, {"grey", 128, 128, 128},  {"black", 0, 0, 0},
    {"red", 255, 0, 0},       {"pink", 255, 128, 128},  {"green", 0, 220, 0},
    {"blue", 0, 0, 255},      {"yellow", 255, 255, 128}, {"orange", 255, 165, 0},
    {"purple", 0, 200, 200},
};

int fontStyle(const char* style) {
  if (strcmp(style, "B") == 0) return TTF_STYLE_BOLD;
  if (strcmp(style, "I") == 0) return TTF_STYLE_ITALIC;
  if (strcmp(style, "U") == 0) return TTF_STYLE_UNDERLINE;
  if (strcmp(style, "BI") == 0 || strcmp(style, "IB") == 0) return TTF_STYLE_BOLD | TTF_STYLE_ITALIC;
  return TTF_STYLE_NORMAL;
}
}  // namespace

// [SECTION] cursors
namespace {
// The arrow pointer, 32 x 32 from its hot spot at the top-left corner: 'X'
// black, '.' white, anything else transparent; rows and columns not given
// are transparent.
const char* const kArrow[] = {
    "X",
    "XX",
    "X.X",
    "X..X",
    "X...X",
    "X....X",
    "X.....X",
    "X......X",
    "X.......X",
    "X........X",
    "X.....XXXXX",
    "X..X..X",
    "X.X X..X",
    "XX  X..X",
    "X    X..X",
    "     X..X",
    "      X..X",
    "      X..X",
    "       XX",
};
const int kCursorSide = 32;

SDL_Cursor* makeCursor(const char* const* rows, int count) {
  Uint8 data[kCursorSide * kCursorSide / 8] = {0};
  Uint8 mask[kCursorSide * kCursorSide / 8] = {0};
  for (int row = 0; row < count && row < kCursorSide; ++row) {
    for (int col = 0; col < kCursorSide && rows[row][col]; ++col) {
      int byte = (row * kCursorSide + col) / 8;
      Uint8 bit = (Uint8)(0x80 >> (col % 8));
      if (rows[row][col] == 'X') data[byte] |= bit;
      if (rows[row][col] == 'X' || rows[row][col] == '.') mask[byte] |= bit;
    }
  }
  return SDL_CreateCursor(data, mask, kCursorSide, kCursorSide, 0, 0);
}
}  // namespace

// [SECTION] the window
namespace {
// A window can be resized; full screen keeps its mode.
Uint32 videoFlags() {
  return SDL_HWSURFACE | SDL_DOUBLEBUF | (fullscreen ? SDL_FULLSCREEN : SDL_RESIZABLE);
}

SDL_Surface* newPanel(int h) { return SDL_CreateRGBSurface(SDL_HWSURFACE, PANEL_WIDTH, h, 32, 0, 0, 0, 0); }
SDL_Surface* newView(int w, int h) { return SDL_CreateRGBSurface(SDL_HWSURFACE, w - PANEL_WIDTH, h, 32, 0, 0, 0, 0); }
}  // namespace

VideoInit videoInit() {
  screen = SDL_SetVideoMode(video_x, video_y, 32, videoFlags());
  if (!screen) return VIDEO_NO_MODE;
  SDL_EnableUNICODE(1);  // key presses carry the typed character (text fields)
  // A second start (tests, a new mode) replaces what the first one made.
  SDL_FreeSurface(menu);
  SDL_FreeSurface(window);
  for (const InterfaceImage& im : kImages) {
    SDL_FreeSurface(*im.global);
    *im.global = nullptr;
  }
  menu = newPanel(screen->h);
  window = newView(screen->w, screen->h);
  if (!menu || !window) return VIDEO_NO_SURFACE;
  for (const InterfaceImage& im : kImages)
    *im.global = im.keyed ? loadImageT("", im.file) : loadImage("", im.file);
  return VIDEO_OK;
}

bool videoResize(int w, int h) {
  if (fullscreen || !screen || !menu || !window) return false;
  if (w < VIDEO_MIN_WIDTH) w = VIDEO_MIN_WIDTH;
  if (h < VIDEO_MIN_HEIGHT) h = VIDEO_MIN_HEIGHT;
  if (w == screen->w && h == screen->h) return false;
  SDL_Surface* panel = newPanel(h);
  SDL_Surface* view = newView(w, h);
  SDL_Surface* mode = panel && view ? SDL_SetVideoMode(w, h, 32, videoFlags()) : nullptr;
  if (!mode) {  // the old mode stays (SDL keeps it when the new one is refused)
    if (panel) SDL_FreeSurface(panel);
    if (view) SDL_FreeSurface(view);
    return false;
  }
  screen = mode;
  SDL_FillRect(panel, nullptr, 0);
  SDL_BlitSurface(menu, nullptr, panel, nullptr);  // the panel as it was until it is drawn again
  SDL_FreeSurface(menu);
  SDL_FreeSurface(window);
  menu = panel;
  window = view;
  // The tile cache knows the view by its format's address, which went with it.
  tileCacheClear();
  video_x = (uint32_t)w;
  video_y = (uint32_t)h;
  return true;
}

void initCursor() {
  SDL_ShowCursor(SDL_ENABLE);
  SDL_Cursor* c = makeCursor(kArrow, (int)(sizeof kArrow / sizeof kArrow[0]));
  if (c) SDL_SetCursor(c);
}

// [SECTION] pixels and blits
void setPixel(SDL_Surface* s, int x, int y, int r, int g, int b) {
  if (!s || x < 0 || y < 0 || x >= s->w || y >= s->h || s->format->BytesPerPixel != 4) return;
  Uint32 pixel = SDL_MapRGB(menu ? menu->format : s->format, r & 0xff, g & 0xff, b & 0xff);
  Uint8* row = (Uint8*)s->pixels + y * s->pitch;
  ((Uint32*)row)[x] = pixel;
}

uint32_t getpixel(SDL_Surface* s, int x, int y) {
  if (!s || x < 0 || y < 0 || x >= s->w || y >= s->h) return 0;
  int bpp = s->format->BytesPerPixel;
  Uint8* p = (Uint8*)s->pixels + y * s->pitch + x * bpp;
  switch (bpp) {
    case 1: return *p;
    case 2: return *(Uint16*)p;
    case 3: return p[0] | p[1] << 8 | p[2] << 16;
    case 4: return *(Uint32*)p;
    default: return 0;
  }
}

void setFontColor(SDL_Color* f, int r, int g, int b) {
  f->r = r;
  f->g = g;
  f->b = b;
}

void drawText(const char* s, int x, int y, const char* color, const char* style, int size,
              bool omenu) {
  for (const NamedColour& c : kColours)
    if (strcmp(color, c.name) == 0) setFontColor(&fontColor, c.r, c.g, c.b);
  if (!s || !s[0]) return;  // an empty line renders nothing
  police = labelFont(size, fontStyle(style));
  if (!police) return;
  text = TTF_RenderText_Blended(police, s, fontColor);
  if (text) {
    SDL_Rect dst = {(Sint16)x, (Sint16)y, 0, 0};
    SDL_Surface* target = omenu ? menu : screen;
    if (target) SDL_BlitSurface(text, nullptr, target, &dst);
    SDL_FreeSurface(text);
    text = nullptr;
  }
  police = nullptr;  // stays open in the font cache
}

void blitButton(SDL_Surface*& source, int x, int y, int style) {
  if (!source || !menu) return;
  int third = source->h / 3;
  SDL_Rect src = {0, (Sint16)(third * style), (Uint16)source->w, (Uint16)third};
  SDL_Rect dst = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(source, &src, menu, &dst);
}

void blitIt(SDL_Surface*& source, SDL_Surface*& destination, int x, int y) {
  if (!source || !destination) return;
  SDL_Rect dst = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(source, nullptr, destination, &dst);
}

void blitElement(SDL_Surface*& source, int x, int y, int element) {
  if (!source || !window || element < 0) return;
  int n = source->w / TILE;
  if (n == 0) return;  // narrower than one tile: nothing to draw
  SDL_Rect src = {(Sint16)((element % n) * TILE), (Sint16)((element / n) * TILE), TILE, TILE};
  SDL_Rect dst = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(source, &src, window, &dst);
}

void blitWindow() {
  if (!screen || !window) return;
  SDL_Rect dst = {PANEL_WIDTH, 0, 0, 0};
  SDL_BlitSurface(window, nullptr, screen, &dst);
  SDL_Flip(screen);
}

void blitMenu() {
  if (!screen || !menu) return;
  SDL_Rect dst = {0, 0, 0, 0};
  SDL_BlitSurface(menu, nullptr, screen, &dst);
  SDL_Flip(screen);
}

void fillRect(SDL_Surface* s, int x, int y, int w, int h, int r, int g, int b) {
  if (!s || w <= 0 || h <= 0) return;
  if (x < 0) { w += x; x = 0; }
  if (y < 0) { h += y; y = 0; }
  if (x >= s->w || y >= s->h || w <= 0 || h <= 0) return;
  if (w > s->w - x) w = s->w - x;
  if (h > s->h - y) h = s->h - y;
  SDL_Rect rc = {(Sint16)x, (Sint16)y, (Uint16)w, (Uint16)h};
  SDL_FillRect(s, &rc, SDL_MapRGB(s->format, r & 0xff, g & 0xff, b & 0xff));
}

void blitTileTranslucent(SDL_Surface* sheet, int element, SDL_Surface* dst, int x, int y, int alpha) {
  if (!sheet || !dst || element < 0 || sheet->w < TILE) return;
  int perRow = sheet->w / TILE;
  long long sy = (long long)(element / perRow) * TILE;
  if (sy + TILE > sheet->h || sy > INT16_MAX) return;
  // One tile in the target's format, keyed on a colour tiles rarely use: the
  // tile is cut into it with the sheet's own key, then blended as a whole.
  static SDL_Surface* scratch = nullptr;
  const SDL_PixelFormat* f = dst->format;
  if (scratch && (scratch->format->BitsPerPixel != f->BitsPerPixel || scratch->format->Rmask != f->Rmask)) {
    SDL_FreeSurface(scratch);
    scratch = nullptr;
  }
  if (!scratch) {
    scratch = SDL_CreateRGBSurface(SDL_SWSURFACE, TILE, TILE, f->BitsPerPixel, f->Rmask, f->Gmask, f->Bmask, 0);
    if (!scratch) return;
    SDL_SetColorKey(scratch, SDL_SRCCOLORKEY, SDL_MapRGB(scratch->format, 255, 0, 255));
  }
  SDL_SetAlpha(scratch, SDL_SRCALPHA, (Uint8)(alpha < 0 ? 0 : alpha > 255 ? 255 : alpha));
  SDL_FillRect(scratch, nullptr, SDL_MapRGB(scratch->format, 255, 0, 255));
  blitPart(sheet, (element % perRow) * TILE, (int)sy, TILE, TILE, scratch, 0, 0);
  SDL_Rect to = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(scratch, nullptr, dst, &to);
}

void blitPart(SDL_Surface* src, int sx, int sy, int w, int h, SDL_Surface* dst, int x, int y) {
  SDL_Rect from = {(Sint16)sx, (Sint16)sy, (Uint16)w, (Uint16)h};
  SDL_Rect to = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(src, &from, dst, &to);
}

uint32_t mapRGB(SDL_Surface* s, int r, int g, int b) {
  return SDL_MapRGB(s->format, r & 0xff, g & 0xff, b & 0xff);
}

void fillCell(SDL_Surface* s, int x, int y, int side, int r, int g, int b) {
  if (s->format->BytesPerPixel != 4 || SDL_MUSTLOCK(s)) {
    fillRect(s, x, y, side, side, r, g, b);
    return;
  }
  Uint32 pixel = mapRGB(s, r, g, b);
  for (int row = 0; row < side; row++) {
    Uint32* p = (Uint32*)((Uint8*)s->pixels + (y + row) * s->pitch) + x;
    for (int c = 0; c < side; c++) p[c] = pixel;
  }
}

void tintRect(SDL_Surface* s, int x, int y, int w, int h, int r, int g, int b, int alpha) {
  if (!s || s->format->BytesPerPixel != 4 || SDL_MUSTLOCK(s)) return;
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  if (w > s->w - x) w = s->w - x;
  if (h > s->h - y) h = s->h - y;
  const SDL_PixelFormat* f = s->format;
  for (int row = 0; row < h; row++) {
    Uint32* p = (Uint32*)((Uint8*)s->pixels + (y + row) * s->pitch) + x;
    for (int c = 0; c < w; c++) {
      Uint8 pr, pg, pb;
      SDL_GetRGB(p[c], f, &pr, &pg, &pb);
      p[c] = SDL_MapRGB(f, (Uint8)(pr + (r - pr) * alpha / 255), (Uint8)(pg + (g - pg) * alpha / 255),
                        (Uint8)(pb + (b - pb) * alpha / 255));
    }
  }
}

int surfaceWidth(const SDL_Surface* s) { return s ? s->w : 0; }
int surfaceHeight(const SDL_Surface* s) { return s ? s->h : 0; }

// [SECTION] labels and pictures
namespace {
// 32-bit pixels whose red and blue are either side of green in the low
// three bytes: two multiplications blend one (red and blue together).
bool plainRGB32(const SDL_PixelFormat* f) {
  return f->BytesPerPixel == 4 && (f->Rmask | f->Gmask | f->Bmask) == 0xffffff && f->Gmask == 0xff00;
}

// v moved a/256 of the way to c, whose red and blue and green are given
// already multiplied by a.
inline Uint32 blendPlain(Uint32 v, Uint32 a, Uint32 rbTimesA, Uint32 gTimesA) {
  return (v & 0xff000000) | ((((v & 0xff00ff) * (256 - a) + rbTimesA) >> 8) & 0xff00ff) |
         ((((v & 0xff00) * (256 - a) + gTimesA) >> 8) & 0xff00);
}

// A picture copied or blended onto a surface of the same plain format,
// clipped, its key colour left out when keyed; SDL's keyed blend would take
// several times as long, and its set-up alone more than a small copy.
void copyKeyedPlain(SDL_Surface* src, SDL_Surface* dst, int x, int y, int alpha) {
  int sx = x < 0 ? -x : 0, sy = y < 0 ? -y : 0;
  int w = src->w - sx, h = src->h - sy;
  x += sx, y += sy;
  if (w > dst->w - x) w = dst->w - x;
  if (h > dst->h - y) h = dst->h - y;
  if (w <= 0 || h <= 0) return;
  const bool keyed = src->flags & SDL_SRCCOLORKEY;
  const Uint32 key = src->format->colorkey & 0xffffff, a = (Uint32)alpha;
  for (int row = 0; row < h; row++) {
    const Uint32* from = (const Uint32*)((const Uint8*)src->pixels + (sy + row) * src->pitch) + sx;
    Uint32* to = (Uint32*)((Uint8*)dst->pixels + (y + row) * dst->pitch) + x;
    if (!keyed && alpha >= 255) {
      memcpy(to, from, (size_t)w * 4);
      continue;
    }
    for (int c = 0; c < w; c++) {
      Uint32 v = from[c];
      if (keyed && (v & 0xffffff) == key) continue;
      to[c] = alpha >= 255 ? v : blendPlain(to[c], a, (v & 0xff00ff) * a, (v & 0xff00) * a);
    }
  }
}
}  // namespace

SDL_Surface* makeLabel(const char* s, uint32_t rgb, int size) {
  TTF_Font* font = s && s[0] ? labelFont(size, TTF_STYLE_BOLD) : nullptr;
  if (!font) return nullptr;
  SDL_Color fg = {(Uint8)(rgb >> 16), (Uint8)(rgb >> 8), (Uint8)rgb, 0};
  SDL_Color box = {24, 24, 24, 0};  // dark: any colour of the palette reads on it
  SDL_Surface* shaded = TTF_RenderText_Shaded(font, s, fg, box);
  if (!shaded || !window) return shaded;
  SDL_Surface* label = SDL_ConvertSurface(shaded, window->format, SDL_SWSURFACE);
  SDL_FreeSurface(shaded);
  return label;
}

SDL_Surface* makePicture(int w, int h) {
  if (!window || w <= 0 || h <= 0) return nullptr;
  const SDL_PixelFormat* f = window->format;
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, f->BitsPerPixel, f->Rmask, f->Gmask, f->Bmask, 0);
  if (!s) return nullptr;
  // A colour no drawing here gives: near black, below the labels' box.
  Uint32 key = SDL_MapRGB(s->format, 1, 2, 3);
  SDL_FillRect(s, nullptr, key);
  SDL_SetColorKey(s, SDL_SRCCOLORKEY, key);
  return s;
}

void freeSurface(SDL_Surface* s) {
  if (s) SDL_FreeSurface(s);
}

void blitFaded(SDL_Surface* src, SDL_Surface* dst, int x, int y, int alpha) {
  if (!src || !dst || alpha <= 0) return;
  if (((src->flags & SDL_SRCCOLORKEY) || (alpha >= 255 && !(src->flags & SDL_SRCALPHA))) &&
      plainRGB32(src->format) && plainRGB32(dst->format) &&
      src->format->Rmask == dst->format->Rmask && !SDL_MUSTLOCK(src) && !SDL_MUSTLOCK(dst)) {
    copyKeyedPlain(src, dst, x, y, alpha);
    return;
  }
  // Changing the alpha makes SDL build the blit again: only when it changes.
  Uint32 flag = alpha >= 255 ? 0 : SDL_SRCALPHA;
  Uint8 value = (Uint8)(alpha >= 255 ? SDL_ALPHA_OPAQUE : alpha);
  if ((src->flags & SDL_SRCALPHA) != flag || src->format->alpha != value) SDL_SetAlpha(src, flag, value);
  // SDL's rectangles are 16-bit: anything that far off the surface is not drawn.
  if (x <= -src->w || y <= -src->h || x >= dst->w || y >= dst->h) return;
  SDL_Rect to = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(src, nullptr, dst, &to);
}

void blendRect(SDL_Surface* s, int x, int y, int w, int h, uint32_t rgb, int alpha) {
  if (!s || s->format->BytesPerPixel != 4 || SDL_MUSTLOCK(s) || alpha <= 0) return;
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  if (w > s->w - x) w = s->w - x;
  if (h > s->h - y) h = s->h - y;
  if (w <= 0 || h <= 0) return;
  const SDL_PixelFormat* f = s->format;
  Uint32 pixel = SDL_MapRGB(f, (Uint8)(rgb >> 16), (Uint8)(rgb >> 8), (Uint8)rgb);
  if (alpha >= 255) {
    for (int row = 0; row < h; row++) {
      Uint32* p = (Uint32*)((Uint8*)s->pixels + (y + row) * s->pitch) + x;
      for (int c = 0; c < w; c++) p[c] = pixel;
    }
    return;
  }
  // Each 8-bit channel moves alpha/256 of the way to the colour's.
  if (plainRGB32(f)) {
    const Uint32 a = (Uint32)alpha, rb = (pixel & 0xff00ff) * a, g = (pixel & 0xff00) * a;
    for (int row = 0; row < h; row++) {
      Uint32* p = (Uint32*)((Uint8*)s->pixels + (y + row) * s->pitch) + x;
      for (int c = 0; c < w; c++) p[c] = blendPlain(p[c], a, rb, g);
    }
    return;
  }
  const Uint32 masks[3] = {f->Rmask, f->Gmask, f->Bmask};
  const Uint8 shifts[3] = {f->Rshift, f->Gshift, f->Bshift};
  for (int row = 0; row < h; row++) {
    Uint32* p = (Uint32*)((Uint8*)s->pixels + (y + row) * s->pitch) + x;
    for (int c = 0; c < w; c++) {
      Uint32 v = p[c], out = v & ~(masks[0] | masks[1] | masks[2]);
      for (int k = 0; k < 3; k++) {
        int from = (int)((v & masks[k]) >> shifts[k]), to = (int)((pixel & masks[k]) >> shifts[k]);
        out |= (Uint32)(from + (((to - from) * alpha) >> 8)) << shifts[k];
      }
      p[c] = out;
    }
  }
}
