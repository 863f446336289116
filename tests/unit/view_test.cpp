// The map view: pictures equal to the cell-by-cell sheet blit for every
// tileset format (opaque tiles hiding lower layers, background layers
// between tiled ones, scrolling, the edges of the map, unusable layers);
// the blend of per-pixel-alpha tiles equal to the
// library's for every value.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/editor.h"
#include "model/model.h"
#include "net/net.h"
#include "shell/shell.h"
#include "testutil.h"
#include "tilesheet.h"
#include "viewref.h"
#include "toolkit/tilecache.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"

namespace {

int tileCount(SDL_Surface* s) { return s ? (s->w / 16) * ((s->h + 15) / 16) : 4; }

// Cells from a fixed sequence: many empty cells, every tile, and numbers
// just outside the tileset (which draw nothing).
void fillCells(Map* m, uint32_t seed) {
  for (int i = 0; i < m->layers; i++) {
    int n = tileCount(m->layer[i]->s);
    for (size_t c = 0; c < (size_t)m->w * m->h; c++) {
      seed = seed * 1664525u + 1013904223u;
      int v = (int)((seed >> 8) % (unsigned)(n + 5)) - 1;
      m->layer[i]->e[c] = (seed >> 28) < 5 ? 0 : v;
    }
  }
}

// The view drawn the straightforward way: each cell blitted from the sheet,
// the cells cut by the view's edges clipped by the library.
void referenceDraw(const Map* m) {
  fillRect(window, 0, 0, window->w, window->h, 0, 0, 0);
  int ox = m->viewX % 16, oy = m->viewY % 16;
  for (int i = 0; i < m->layers; i++) {
    Layer* l = m->layer[i];
    if (!l->s) continue;
    if (l->bg) {
      blitIt(l->s, window, 0, 0);
      continue;
    }
    for (uint32_t r = 0; (int)r * 16 - oy < window->h && m->viewY / 16 + r < m->h; r++)
      for (uint32_t c = 0; (int)c * 16 - ox < window->w && m->viewX / 16 + c < m->w; c++)
        blitElement(l->s, c * 16 - ox, r * 16 - oy, l->e[(m->viewY / 16 + r) * m->w + m->viewX / 16 + c]);
  }
}

Uint32 rgb(int r, int g, int b) { return SDL_MapRGB(window->format, r, g, b); }

std::vector<Uint32> frame() {
  std::vector<Uint32> px;
  for (int y = 0; y < window->h; y++)
    for (int x = 0; x < window->w; x++) px.push_back(getpixel(window, x, y));
  return px;
}

// The reference picture's outline of the map, where it shows.
void outline(const Map* m, std::vector<Uint32>& px) {
  RefView v;
  v.width = window->w, v.height = window->h, v.viewX = m->viewX, v.viewY = m->viewY, v.mapW = m->w, v.mapH = m->h;
  std::vector<uint32_t> marks = referenceView(v, {});
  for (size_t i = 0; i < px.size(); i++)
    if (marks[i] == REF_OUTLINE) px[i] = REF_OUTLINE;
}

// Number of pixels that differ between the fast view and the reference.
int differences(Map* m) {
  referenceDraw(m);
  std::vector<Uint32> want = frame();
  outline(m, want);
  size_t drawn = 0;
  for (Uint32 v : want) drawn += v != rgb(0, 0, 0);
  EXPECT_GT(drawn, want.size() / 20);  // the maps compared are not empty
  int diff = 0;
  for (bool wide : {true, false}) {  // AVX2 rows (where the processor has them) and the baseline ones
    tileCacheUseWide(wide);
    SDL_FillRect(window, nullptr, rgb(1, 2, 3));  // every pixel must be drawn
    drawWindow();
    std::vector<Uint32> got = frame();
    for (size_t i = 0; i < want.size(); i++) diff += want[i] != got[i];
  }
  tileCacheUseWide(true);
  return diff;
}

SDL_Surface* loadSheet(const std::string& project, const char* name, SheetKind kind, int w, int h) {
  return loadTestSheet(project, name, makeSheet(kind, w, h));
}

// A sheet in the view's own format: the one the library run-length encodes.
SDL_Surface* viewFormatSheet(SDL_Surface* from) {
  SDL_Surface* s = SDL_ConvertSurface(from, window->format, SDL_SWSURFACE);
  SDL_SetColorKey(s, SDL_SRCCOLORKEY | SDL_RLEACCEL, getpixel(s, 0, 0));
  return s;
}


}  // namespace

class ViewPixels : public ::testing::TestWithParam<SheetKind> {};

// Opaque tiles over every kind of tile; background layers (keyed, smaller
// than the view) at the bottom, between tiled layers and on top; a sheet with
// partial tiles, one already in the view's format (run-length encoded), one
// with whole-surface alpha (drawn from per-tile surfaces); layers without
// usable tiles (no sheet, a sheet narrower than a tile); blended tiles.
TEST_P(ViewPixels, SameFrameAsSheetBlits) {
  std::string p = makeProject();
  startVideo();
  tileCacheClear();
  SheetKind kind = GetParam();
  SDL_Surface* own = loadSheet(p, "own", kind, 256, 256);
  SDL_Surface* odd = loadSheet(p, "odd", kind, 200, 120);
  SDL_Surface* rgba = loadSheet(p, "rgba", SHEET_RGBA, 128, 192);
  SDL_Surface* pal = loadSheet(p, "pal", SHEET_PALETTED, 256, 64);
  SDL_Surface* faded = loadSheet(p, "faded", SHEET_RGB, 128, 128);
  SDL_SetAlpha(faded, SDL_SRCALPHA | SDL_RLEACCEL, 100);
  SDL_Surface* bgSmall = loadSheet(p, "bgsmall", SHEET_RGB, 200, 120);
  SDL_Surface* bgTall = loadSheet(p, "bgtall", kind, 256, 256);
  SDL_Surface* narrow = SDL_CreateRGBSurface(SDL_SWSURFACE, 15, 64, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  SDL_FillRect(narrow, nullptr, SDL_MapRGB(narrow->format, 255, 255, 255));
  Map* m = showNewMap(26, 37, {bgTall, own, pal, bgSmall, rgba, odd, viewFormatSheet(own), nullptr, narrow,
                               own, faded, bgSmall, pal, bgTall});
  for (int i : {0, 3, 11, 13}) m->layer[i]->bg = 1;
  m->layer[3]->x = 5;  // the view ignores the scroll settings
  m->layer[3]->y = -7;
  fillCells(m, 11);
  // Rows where the top layers are opaque everywhere, over blended ones.
  for (uint32_t x = 0; x < m->w; x++) {
    m->layer[12]->e[2 * m->w + x] = 3 * (int)(x % 20);
    m->layer[9]->e[3 * m->w + x] = 3 + 3 * (int)(x % 50);
  }
  for (uint32_t v : {0u, 21u, 17u * 16}) {  // the last: the map ends inside the view
    m->viewX = v;
    m->viewY = v / 2;
    EXPECT_EQ(differences(m), 0) << "view at " << v;
  }
  // Without the top background, the opaque rows show.
  m->layers = 13;
  m->viewX = m->viewY = 0;
  EXPECT_EQ(differences(m), 0);
  EXPECT_EQ(tileCacheSize(), 6);  // one per sheet with tiles, whatever its layers
  const TileCache* c = tileCacheGet(pal, window);  // opaque in every test format
  int opaque = 0;
  for (size_t t = 0; c && t < c->kind.size(); t++) opaque += c->kind[t] == TILE_OPAQUE;
  EXPECT_GT(opaque, 20);
  m->layer[0]->bg = 0;  // tiled at the bottom: cells start black under their first tiles
  EXPECT_EQ(differences(m), 0);
  // The cache map is destroyed at exit before the leak check: its tiles go now.
  tileCacheClear();
}

INSTANTIATE_TEST_SUITE_P(Formats, ViewPixels,
                         ::testing::Values(SHEET_PALETTED, SHEET_RGB, SHEET_RGBA));

namespace {
// A per-pixel-alpha sheet holding every source value of each channel (x)
// with every alpha (y): red x, green 255 - x, blue 7x + 3.
SDL_Surface* everyBlendSheet(const std::string& p) {
  SheetImage im;
  im.kind = SHEET_RGBA;
  im.w = im.h = 256;
  im.pixels.resize(256 * 256 * 4);
  for (int y = 0; y < 256; y++)
    for (int x = 0; x < 256; x++) {
      unsigned char* px = &im.pixels[(y * 256 + x) * 4];
      px[0] = (unsigned char)x, px[1] = (unsigned char)(255 - x), px[2] = (unsigned char)(x * 7 + 3);
      px[3] = (unsigned char)y;
    }
  EXPECT_TRUE(writeSheetPng(p + "layers/every.png", im));
  return tilesetLoad("every");
}

Uint32 at(SDL_Surface* s, int x, int y) { return ((Uint32*)((Uint8*)s->pixels + y * s->pitch))[x]; }

long mismatches(SDL_Surface* a, SDL_Surface* b) {
  long n = 0;
  for (int y = 0; y < 256; y++)
    for (int x = 0; x < 256; x++) n += at(a, x, y) != at(b, x, y);
  return n;
}
}  // namespace

// Every destination value of each channel (red d, green 255 - d, blue
// 13d + 1; top byte clear, full or 1) under every source value and alpha:
// the formula, the tiles drawn whole (by both row codes) and the tiles drawn
// clipped give the library's blit, bit for bit.
TEST(TileBlend, EqualsLibraryBlitForEveryValue) {
  std::string p = makeProject();
  startVideo();
  SDL_Surface* sheet = everyBlendSheet(p);
  ASSERT_NE(sheet, nullptr);
  SDL_Surface* want = SDL_CreateRGBSurface(SDL_SWSURFACE, 256, 256, 32, 0, 0, 0, 0);
  SDL_Surface* got = SDL_CreateRGBSurface(SDL_SWSURFACE, 256, 256, 32, 0, 0, 0, 0);
  const TileCache* c = tileCacheGet(sheet, got);
  ASSERT_NE(c, nullptr);
  for (Uint8 k : c->kind) ASSERT_NE(k, TILE_SURFACE);  // every pixel explained by the formula
  long wrongFormula = 0, wrongWhole = 0, wrongClipped = 0;
  for (int d = 0; d < 256; d++) {
    tileCacheUseWide(d % 2 == 0);  // AVX2 rows (where the processor has them) and the baseline ones
    Uint32 top = d % 3 == 0 ? 0 : d % 3 == 1 ? 0xFF000000u : 0x01000000u;
    Uint32 fill = top | (Uint32)d << 16 | (Uint32)(255 - d) << 8 | (Uint32)((d * 13 + 1) & 0xFF);
    SDL_FillRect(want, nullptr, fill);
    SDL_Rect origin = {0, 0, 0, 0};
    SDL_BlitSurface(sheet, nullptr, want, &origin);
    SDL_FillRect(got, nullptr, fill);
    for (int t = 0; t < 256; t++) tileCacheDrawWhole(c, t, got, t % 16 * 16, t / 16 * 16);
    for (int y = 0; y < 256; y++)
      for (int x = 0; x < 256; x++) {
        Uint32 s = (Uint32)x << 16 | (Uint32)(255 - x) << 8 | (Uint32)((x * 7 + 3) & 0xFF);
        wrongFormula += y > 0 && tileBlendPixel(s, (Uint32)y, fill) != at(want, x, y);
        wrongWhole += at(got, x, y) != at(want, x, y);
      }
    if (d % 16) continue;
    // Shifted half a tile left and up: the edge tiles are clipped.
    SDL_FillRect(want, nullptr, fill);
    SDL_Rect shifted = {-8, -8, 0, 0};
    SDL_BlitSurface(sheet, nullptr, want, &shifted);
    SDL_FillRect(got, nullptr, fill);
    for (int t = 0; t < 256; t++) tileCacheBlit(c, t, got, t % 16 * 16 - 8, t / 16 * 16 - 8);
    wrongClipped += mismatches(got, want);
  }
  EXPECT_EQ(wrongFormula, 0);
  EXPECT_EQ(wrongWhole, 0);
  EXPECT_EQ(wrongClipped, 0);
  // A target with red in the top byte is not blended by the formula, and
  // still gets the library's pixels.
  SDL_Surface* redTopWant = SDL_CreateRGBSurface(SDL_SWSURFACE, 256, 256, 32, 0xFF000000u, 0xFF00, 0xFF, 0);
  SDL_Surface* redTopGot = SDL_CreateRGBSurface(SDL_SWSURFACE, 256, 256, 32, 0xFF000000u, 0xFF00, 0xFF, 0);
  SDL_FillRect(redTopWant, nullptr, 0x336699);
  SDL_FillRect(redTopGot, nullptr, 0x336699);
  SDL_BlitSurface(sheet, nullptr, redTopWant, nullptr);
  const TileCache* redTop = tileCacheGet(sheet, redTopGot);
  for (int t = 0; redTop && t < 256; t++) tileCacheDrawWhole(redTop, t, redTopGot, t % 16 * 16, t / 16 * 16);
  EXPECT_EQ(mismatches(redTopGot, redTopWant), 0);
  SDL_FreeSurface(redTopWant);
  SDL_FreeSurface(redTopGot);
  tilesetFree(sheet);
  SDL_FreeSurface(want);
  SDL_FreeSurface(got);
}

namespace {
// A 64 x 64 sheet of one opaque colour.
SDL_Surface* solidSheet(int r, int g, int b) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 64, 64, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, r, g, b));
  return s;
}
}  // namespace

// Hidden layers and H, this editor's view settings: the frames they give
// against the two plain ones (the bottom layer alone, the top one over it).
TEST(ViewSettings, HiddenLayersAndDimmingShowWhatTheySay) {
  makeEditingProject();
  platformScriptStart();
  Map* m = showNewMap(8, 8, {solidSheet(200, 40, 40), solidSheet(40, 200, 40)});
  snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  auto draw = [] {
    drawWindow();
    return frame();
  };
  auto toggleHidden = [&](int layer) {  // the map menu's Hide / Show layer, clicked
    project.currentLayer = layer;
    mouseX = 60, mouseY = 310, leftClic = true;
    pushFrame(60, 310, 0);
    layerVisibilityCommand(m);
  };
  auto pressH = [] {
    SDL_Event e = keyEvent(SDLK_h);
    pushFrame(0, 0, 0, {}, &e);
    platformPumpInput();
    viewKeysStep();
  };
  std::vector<Uint32> top = draw();
  toggleHidden(1);
  std::vector<Uint32> bottom = draw();
  ASSERT_NE(top, bottom);
  EXPECT_EQ(bottom[0], rgb(200, 40, 40));
  toggleHidden(1);  // shown again
  EXPECT_EQ(draw(), top);
  // H: the current layer over the others dimmed.
  pressH();
  project.currentLayer = 0;
  EXPECT_EQ(draw(), bottom);
  project.currentLayer = 1;
  EXPECT_EQ(draw(), top);
  toggleHidden(1);  // the current layer hidden: only the dimmed bottom one
  std::vector<Uint32> dimmed = draw();
  Uint8 r, g, b;
  SDL_GetRGB(dimmed[0], window->format, &r, &g, &b);
  EXPECT_TRUE(r > 0 && r < 200 && g < 40 && b < 40) << (int)r << "," << (int)g << "," << (int)b;
  toggleHidden(1);
  pressH();  // off again
  EXPECT_EQ(draw(), top);
}
