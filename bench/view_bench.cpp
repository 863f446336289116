// Map view frame times, headless. First a realistic map (the example
// village's tileset, an opaque ground and three mostly empty decoration
// layers filling 1920x1080) against SDL's fastest way to draw it, one
// colour-keyed RLE surface per tile; then synthetic maps against the
// per-cell blit from the sheet and a plain memcpy of the frame's tile bytes.
// Every figure is the median of several rounds of processor time, and every
// frame measured is first checked against the reference picture.
// "view_bench quick" skips the slow sheet blit.
#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../tests/unit/tilesheet.h"
#include "../tests/unit/viewref.h"
#include "editor/editor.h"
#include "editor/zoom.h"
#include "model/mapfile.h"
#include "model/model.h"
#include "shell/shell.h"
#include "toolkit/tilecache.h"
#include "toolkit/tilemip.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"

namespace {
bool quick = false;  // "quick": skip the slow sheet blit (for profiling)

// Processor time of this thread: the machine is shared, and time spent
// running other programs would otherwise count as drawing time.
double nowMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Which tiles the map's cells hold (never the empty tile 0).
enum MapKind {
  MAP_ANY,        // any tile on every layer (about a third of the test tiles are opaque)
  MAP_GROUND,     // opaque tiles on the bottom layer, partly transparent ones above
  MAP_NO_OPAQUE,  // partly transparent tiles only: nothing hides anything
};

const char* mapName(MapKind k) {
  return k == MAP_ANY ? "any tiles" : k == MAP_GROUND ? "opaque ground" : "no opaque tile";
}

Map* makeMap(SDL_Surface* sheet, int layers, uint32_t w, uint32_t h, MapKind kind) {
  Map* m = new Map;
  m->w = w, m->h = h;
  m->layers = (uint16_t)layers;
  m->layer = new Layer*[layers];
  int tiles = (sheet->w / 16) * (sheet->h / 16);
  const TileCache* cache = tileCacheGet(sheet, window);
  std::vector<int> opaque, other;
  for (int n = 1; n < tiles; n++) (tileCacheOpaque(cache, n) ? opaque : other).push_back(n);
  uint32_t seed = 12345;
  for (int i = 0; i < layers; i++) {
    Layer* l = new Layer;
    l->s = sheet;
    l->e = new int32_t[(size_t)w * h];
    const std::vector<int>* pick = kind == MAP_ANY ? nullptr : kind == MAP_GROUND && i == 0 ? &opaque : &other;
    if (pick && pick->empty()) pick = nullptr;  // no such tile in this sheet: any tile
    for (size_t c = 0; c < (size_t)w * h; c++) {
      seed = seed * 1664525u + 1013904223u;
      l->e[c] = pick ? (*pick)[(seed >> 8) % pick->size()] : 1 + (int)((seed >> 8) % (unsigned)(tiles - 1));
    }
    m->layer[i] = l;
  }
  return m;
}

// Cells the view shows at 1:1 from its corner, those cut by its right and
// bottom edges included.
int viewCols() { return (window->w + 15) / 16; }
int viewRows() { return (window->h + 15) / 16; }

void straightforward(const Map* m) {
  fillRect(window, 0, 0, window->w, window->h, 0, 0, 0);
  for (int i = 0; i < m->layers; i++)
    for (int r = 0; r < viewRows(); r++)
      for (int c = 0; c < viewCols(); c++)
        blitElement(m->layer[i]->s, c * 16, r * 16, m->layer[i]->e[(size_t)r * m->w + c]);
}

// The bytes the frame's tiles cover, copied row by row from a sheet already
// in the view's format: the cost of touching every tile pixel once.
void memcpyFrame(const Map* m, SDL_Surface* flat) {
  int perRow = flat->w / 16;
  for (int i = 0; i < m->layers; i++)
    for (int r = 0; r < viewRows(); r++)
      for (int c = 0; c < viewCols(); c++) {
        int n = m->layer[i]->e[(size_t)r * m->w + c];
        int w = std::min(16, window->w - c * 16), h = std::min(16, window->h - r * 16);
        const Uint8* src = (const Uint8*)flat->pixels + (n / perRow * 16) * flat->pitch + n % perRow * 64;
        Uint8* dst = (Uint8*)window->pixels + r * 16 * window->pitch + c * 64;
        for (int y = 0; y < h; y++) memcpy(dst + y * window->pitch, src + y * flat->pitch, (size_t)w * 4);
      }
}

const int kRounds = 5;

// Median over kRounds rounds of the mean time of `frames` calls.
template <typename F>
double perFrame(F f, int frames) {
  f();  // warm-up (mappings, caches)
  std::vector<double> rounds;
  for (int r = 0; r < kRounds; r++) {
    double t = nowMs();
    for (int i = 0; i < frames; i++) f();
    rounds.push_back((nowMs() - t) / frames);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[kRounds / 2];
}

// The same for two drawings of one frame, their rounds alternating, so a
// change in the machine's load falls on both alike.
template <typename F, typename G>
void perFramePair(F f, G g, int frames, double* fMs, double* gMs) {
  f();
  g();
  std::vector<double> a, b;
  for (int r = 0; r < kRounds; r++) {
    double t = nowMs();
    for (int i = 0; i < frames; i++) f();
    a.push_back((nowMs() - t) / frames);
    t = nowMs();
    for (int i = 0; i < frames; i++) g();
    b.push_back((nowMs() - t) / frames);
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  *fMs = a[kRounds / 2];
  *gMs = b[kRounds / 2];
}

std::vector<Uint32> picture() {
  std::vector<Uint32> px;
  for (int y = 0; y < window->h; y++)
    for (int x = 0; x < window->w; x++) px.push_back(getpixel(window, x, y));
  return px;
}

// Pixels where the view differs from the picture `draw` makes; the time
// `draw` took, once, in *took.
template <typename F>
long differsFrom(F draw, double* took = nullptr) {
  drawWindow();
  std::vector<Uint32> ours = picture();
  double t = nowMs();
  draw();
  if (took) *took = nowMs() - t;
  std::vector<Uint32> want = picture();
  long n = 0;
  for (size_t i = 0; i < want.size(); i++) n += ours[i] != want[i];
  return n;
}

// One 16x16 surface per tile in the view's format, colour-keyed (or
// alpha-blended) and run-length encoded like the sheet: SDL's fastest way
// to draw tiles.
std::vector<SDL_Surface*> tileSurfaces(SDL_Surface* sheet) {
  std::vector<SDL_Surface*> tiles;
  SDL_Surface* flat = SDL_ConvertSurface(sheet, window->format, SDL_SWSURFACE);
  Uint32 flags = flat->flags & (SDL_SRCCOLORKEY | SDL_SRCALPHA);
  if (flat->format->Amask) flat = SDL_DisplayFormatAlpha(sheet);
  for (int y = 0; y + 16 <= sheet->h; y += 16)
    for (int x = 0; x + 16 <= sheet->w; x += 16) {
      SDL_Surface* t = SDL_CreateRGBSurface(SDL_SWSURFACE, 16, 16, flat->format->BitsPerPixel, flat->format->Rmask,
                                            flat->format->Gmask, flat->format->Bmask, flat->format->Amask);
      for (int r = 0; r < 16; r++)
        memcpy((Uint8*)t->pixels + r * t->pitch, (Uint8*)flat->pixels + (y + r) * flat->pitch + x * 4, 64);
      if (flags & SDL_SRCCOLORKEY) SDL_SetColorKey(t, SDL_SRCCOLORKEY | SDL_RLEACCEL, flat->format->colorkey);
      if (t->format->Amask) SDL_SetAlpha(t, SDL_SRCALPHA | SDL_RLEACCEL, 255);
      tiles.push_back(t);
    }
  SDL_FreeSurface(flat);
  return tiles;
}

void perTileSurfaces(const Map* m, const std::vector<SDL_Surface*>& tiles) {
  fillRect(window, 0, 0, window->w, window->h, 0, 0, 0);
  for (int i = 0; i < m->layers; i++)
    for (int r = 0; r < viewRows(); r++)
      for (int c = 0; c < viewCols(); c++) {
        int n = m->layer[i]->e[(size_t)r * m->w + c];
        if (n <= 0 || n >= (int)tiles.size()) continue;
        SDL_Rect d = {(Sint16)(c * 16), (Sint16)(r * 16), 0, 0};
        SDL_BlitSurface(tiles[n], nullptr, window, &d);
      }
}

const char* kindName(int k) {
  static const char* names[] = {"paletted", "RGB", "RGBA", "RLE (view format)"};
  return names[k];
}

// A sheet of the given kind; kind 3 is the RGB sheet converted to the view's
// format, where the colour key is really run-length encoded.
SDL_Surface* sheetOf(const std::string& dir, int kind, int size) {
  char name[64];
  snprintf(name, sizeof name, "s%d_%d", kind % 3 == 0 && kind ? 1 : kind, size);
  writeSheetPng(dir + "layers/" + name + ".png", makeSheet((SheetKind)(kind == 3 ? 1 : kind), size, size));
  SDL_Surface* s = tilesetLoad(name);
  if (kind != 3 || !s) return s;
  SDL_Surface* v = SDL_ConvertSurface(s, window->format, SDL_SWSURFACE);
  SDL_SetColorKey(v, SDL_SRCCOLORKEY | SDL_RLEACCEL, getpixel(v, 0, 0));
  SDL_FreeSurface(s);
  return v;
}

void row(const std::string& dir, int vw, int vh, int layers, int kind, int size, MapKind map = MAP_ANY) {
  video_x = vw, video_y = vh;
  videoInit();
  SDL_Surface* sheet = sheetOf(dir, kind, size);
  if (!sheet) return;
  SDL_Surface* flat = SDL_ConvertSurface(sheet, window->format, SDL_SWSURFACE);
  double t0 = nowMs();
  tileCacheGet(sheet, window);
  double build = nowMs() - t0;
  Map* m = makeMap(sheet, layers, window->w / 16 + 1, window->h / 16 + 1, map);
  project.listeMaps = new pMap[1]{m};
  project.nbreMaps = 1;
  project.currentMap = 0;
  double plain = 0;  // the sheet blit is slow: timed once, as it draws the reference
  long wrong = quick ? 0 : differsFrom([&] { straightforward(m); }, &plain);
  double ours = 0, copy = 0;
  perFramePair(drawWindow, [&] { memcpyFrame(m, flat); }, 20, &ours, &copy);
  printf("%4dx%-4d %d layer%s %-17s %4dx%-4d %-14s | ours %7.2f ms | sheet blit %8.2f ms | memcpy %6.2f ms "
         "| ours/memcpy %5.2f | blit/ours %6.1f | cache built in %6.1f ms | %s\n",
         vw, vh, layers, layers > 1 ? "s" : " ", kindName(kind), size, size, mapName(map), ours, plain,
         copy, ours / copy, plain / ours, build, quick ? "picture not checked (quick)" : wrong ? "PICTURE DIFFERS" : "picture checked");
  fflush(stdout);
  tilesetFree(sheet);
  SDL_FreeSurface(flat);
}
// The village's ground layer (every cell an opaque tile) and object layer
// repeated over m, and its other layers made from the object layer shifted,
// the higher the emptier.
void villageLayers(Map* m, const Map& village) {
  for (int i = 0; i < m->layers; i++)
    for (uint32_t y = 0; y < m->h; y++)
      for (uint32_t x = 0; x < m->w; x++) {
        const Layer* src = village.layer[i == 0 ? 0 : 1];
        uint32_t vx = (x + 7 * (i > 1 ? i : 0)) % village.w, vy = (y + 5 * (i > 1 ? i : 0)) % village.h;
        int e = src->e[vy * village.w + vx];
        if (i > 1 && (vx + vy) % i) e = 0;
        m->layer[i]->e[(size_t)y * m->w + x] = e;
      }
}

// The example village's tileset and map (false when missing).
bool loadVillage(const std::string& demo, SDL_Surface** sheet, Map* village) {
  snprintf(projectPath, sizeof projectPath, "%s", demo.c_str());
  *sheet = tilesetLoad("default");
  std::string bytes;
  FILE* f = fopen((demo + "maps/map0.map").c_str(), "rb");
  for (int ch; f && (ch = fgetc(f)) != EOF;) bytes += (char)ch;
  if (f) fclose(f);
  if (*sheet && readMapBytes((const unsigned char*)bytes.data(), bytes.size(), village) == MAP_READ_OK &&
      village->layers >= 2)
    return true;
  printf("realistic map: the example project is missing (%s)\n", demo.c_str());
  return false;
}

// The example village's tileset and map, repeated to fill the view: its
// ground layer (every cell an opaque tile) and its object layer, and two
// thinner decoration layers made from the object layer shifted.
void realistic(const std::string& demo) {
  video_x = 1920, video_y = 1080;
  videoInit();
  SDL_Surface* sheet;
  Map village;
  if (!loadVillage(demo, &sheet, &village)) return;
  tileCacheClear();
  double t0 = nowMs();
  tileCacheGet(sheet, window);
  double build = nowMs() - t0;
  uint32_t w = window->w / 16 + 1, h = window->h / 16 + 1;
  Map* m = makeMap(sheet, 4, w, h, MAP_ANY);
  villageLayers(m, village);
  long drawn = 0;
  for (int i = 0; i < 4; i++)
    for (uint32_t y = 0; y < (uint32_t)window->h / 16; y++)
      for (uint32_t x = 0; x < (uint32_t)window->w / 16; x++) drawn += m->layer[i]->e[y * w + x] > 0;
  project.listeMaps = new pMap[1]{m};
  project.nbreMaps = 1;
  project.currentMap = 0;
  std::vector<SDL_Surface*> tiles = tileSurfaces(sheet);
  long wrong = differsFrom([&] { perTileSurfaces(m, tiles); });
  double ours = perFrame(drawWindow, 20), sdl = perFrame([&] { perTileSurfaces(m, tiles); }, 20);
  printf("realistic 1920x1080: village tileset, opaque ground + 3 decoration layers, %ld tiles drawn | ours %.3f ms"
         " | SDL per-tile surfaces %.3f ms | ours/SDL %.2f | ours %.1f ns per tile, SDL %.1f ns | cache built in"
         " %.2f ms | %s\n",
         drawn, ours, sdl, ours / sdl, ours * 1e6 / drawn, sdl * 1e6 / drawn, build,
         wrong ? "PICTURE DIFFERS" : "picture checked");
  fflush(stdout);
  for (SDL_Surface* t : tiles) SDL_FreeSurface(t);
  tilesetFree(sheet);
  freeMapRecord(&village);
}

// The sheet's pixels as an image the reference reads: its colours, and
// its key colour (pixel (0, 0)) where the sheet holds it.
SheetImage imageOf(SDL_Surface* s) {
  SheetImage im;
  im.kind = SHEET_RGB;
  im.w = s->w, im.h = s->h;
  im.pixels.resize((size_t)s->w * s->h * 3);
  for (int y = 0; y < s->h; y++)
    for (int x = 0; x < s->w; x++) {
      Uint8* p = &im.pixels[((size_t)y * s->w + x) * 3];
      SDL_GetRGB(getpixel(s, x, y), s->format, &p[0], &p[1], &p[2]);
    }
  return im;
}

// Units a channel of a zoomed-out pixel may lie from the reference: eight
// layers laid in turn, each rounded to a byte.
const int kZoomTolerance = 6;

// Zoomed: a frame of a 2048x2048 map of 8 layers at 1920x1080 at `scale`,
// the view in the map's middle, against a memcpy of the frame's bytes (the
// least any drawing of the frame costs); the picture is first checked
// against the reference worked out from the sheet's pixels (viewref.h).
void zoomRow(Map* m, SDL_Surface* sheet, const SheetImage& image, const char* scale, const char* what) {
  project.listeMaps = new pMap[1]{m};
  project.nbreMaps = 1;
  project.currentMap = 0;
  tileCacheClear();
  tileMipClear();
  for (zoom.level = 0; strcmp(zoomName(zoom.level), scale) != 0; zoom.level++) {
  }
  int cell = zoomCellPixels(zoom.level);
  m->viewX = (uint32_t)((int64_t)m->w * cell / 2 - window->w / 2) * 16 / cell;
  m->viewY = (uint32_t)((int64_t)m->h * cell / 2 - window->h / 2) * 16 / cell;
  double t0 = nowMs();
  int mip = zoomMipLevel(zoom.level);
  if (mip) tileMipGet(sheet, window, mip);
  double build = nowMs() - t0;
  long wrong = 0;
  if (!quick) {
    drawWindow();
    RefView v;
    v.width = window->w, v.height = window->h, v.cell = cell, v.viewX = m->viewX, v.viewY = m->viewY;
    v.mapW = m->w, v.mapH = m->h;
    std::vector<RefLayer> layers;
    for (int i = 0; i < m->layers; i++) layers.push_back({&image, m->layer[i]->e, false});
    std::vector<uint32_t> want = referenceView(v, layers);
    for (int y = 0; y < window->h; y++)
      for (int x = 0; x < window->w; x++) {
        uint32_t a = getpixel(window, x, y), b = want[(size_t)y * window->w + x];
        for (int sh = 0; sh < 24; sh += 8) {
          int d = (int)(a >> sh & 0xFF) - (int)(b >> sh & 0xFF);
          if (d > kZoomTolerance || d < -kZoomTolerance) {
            wrong++;
            break;
          }
        }
      }
  }
  std::vector<Uint32> frameCopy((size_t)window->w * window->h, 0x123456);
  auto copy = [&] {
    for (int y = 0; y < window->h; y++)
      memcpy((Uint8*)window->pixels + y * window->pitch, &frameCopy[(size_t)y * window->w], (size_t)window->w * 4);
  };
  double ours = 0, base = 0;
  perFramePair(drawWindow, copy, 20, &ours, &base);
  printf("zoom %-3s 1920x1080 %d layers %ux%u map, %-34s | ours %7.2f ms | memcpy of the frame %6.2f ms"
         " | ours/memcpy %5.2f | mip levels built in %6.1f ms | %s\n",
         scale, m->layers, m->w, m->h, what, ours, base, ours / base, build,
         quick ? "picture not checked (quick)" : wrong ? "PICTURE DIFFERS" : "picture checked");
  fflush(stdout);
  zoom.level = ZOOM_ONE;
  delete[] project.listeMaps;
  project.listeMaps = nullptr;
}

void freeMap(Map* m) {
  for (int i = 0; i < m->layers; i++) {
    delete[] m->layer[i]->e;
    delete m->layer[i];
  }
  delete[] m->layer;
  delete m;
}

// The example village repeated over 2048x2048 cells in 8 layers (a ground,
// objects, and decorations the higher the emptier), then the synthetic
// tiles of a 1024x1024 sheet (RGB, run-length keyed in the view's format).
void zoomRows(const std::string& dir, const std::string& demo) {
  printf("Zoomed (memcpy baseline: the frame's bytes copied once):\n");
  video_x = 1920, video_y = 1080;
  videoInit();
  const uint32_t kSide = 2048;
  const int kLayers = 8, kSize = 1024;
  SDL_Surface* sheet;
  Map village;
  if (loadVillage(demo, &sheet, &village)) {
    SheetImage image = imageOf(sheet);
    Map* m = makeMap(sheet, kLayers, kSide, kSide, MAP_ANY);
    villageLayers(m, village);
    for (const char* scale : {"1/8", "1/4", "1/2"}) zoomRow(m, sheet, image, scale, "village tileset, ground + 7 layers");
    freeMap(m);
    tilesetFree(sheet);
    freeMapRecord(&village);
  }
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  SheetImage image = makeSheet(SHEET_RGB, kSize, kSize);
  sheet = sheetOf(dir, 3, kSize);
  if (!sheet) return;
  for (MapKind map : {MAP_ANY, MAP_GROUND, MAP_NO_OPAQUE}) {
    Map* m = makeMap(sheet, kLayers, kSide, kSide, map);
    std::string what = std::string("RGB 1024x1024 sheet, ") + mapName(map);
    for (const char* scale : {"1/8", "1/4", "1/2", "2", "4"})
      if (map == MAP_ANY || strcmp(scale, "1/8") == 0) zoomRow(m, sheet, image, scale, what.c_str());
    freeMap(m);
  }
  tilesetFree(sheet);
}

}  // namespace

// view_bench [quick | zoom] [EXAMPLE_PROJECT_DIR/]   ("zoom": the zoomed rows only, quick)
int main(int argc, char** argv) {
  bool zoomOnly = argc > 1 && strcmp(argv[1], "zoom") == 0;
  quick = zoomOnly || (argc > 1 && strcmp(argv[1], "quick") == 0);
  std::string demo = argc > 1 + quick ? std::string(argv[1 + quick]) + "/" : "examples/demo/";
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) < 0) return 1;
  char tmpl[] = "/tmp/moska-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = std::string(tmpl) + "/";
  if (system(("mkdir -p " + dir + "layers").c_str()) != 0) return 1;
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  snprintf(programPath, sizeof programPath, "%s", dir.c_str());
  printf("Map view, processor time per frame (view = screen less the 322-pixel panel), median of %d rounds\n",
         kRounds);
  if (zoomOnly) {
    zoomRows(dir, demo);
    return 0;
  }
  realistic(demo);
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  printf("Synthetic maps, every cell non-empty:\n");
  printf("memcpy baseline: for every cell of every layer, the tile's 16 rows of 64 bytes copied with\n"
         "memcpy from a copy of the sheet in the view's format (no transparency, no layer skipped)\n");
  const int kRle = 3;
  for (int size : {256, 1024}) {
    row(dir, 640, 480, 1, kRle, size);
    row(dir, 640, 480, 8, kRle, size);
    row(dir, 1920, 1080, 8, kRle, size);
  }
  printf("Other maps, same tiles:\n");
  for (int size : {256, 1024})
    for (MapKind map : {MAP_GROUND, MAP_NO_OPAQUE}) row(dir, 1920, 1080, 8, kRle, size, map);
  printf("Tilesets as loaded from PNG files:\n");
  for (int kind = 0; kind < 3; kind++) row(dir, 1920, 1080, 8, kind, 1024);
  zoomRows(dir, demo);
  if (system(("rm -rf " + dir).c_str()) != 0) return 1;
  return 0;
}
