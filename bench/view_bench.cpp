// Map view frame times, headless: the tile-cache renderer (drawWindow), the
// straightforward per-cell blit from the run-length-encoded sheet, and a
// plain memcpy of the frame's tile bytes, in the same run. The maps: any
// tile on every layer, an opaque ground under partly transparent layers, and
// no opaque tile at all (nothing can be skipped). "view_bench quick" skips
// the slow sheet blit.
#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "../tests/unit/tilesheet.h"
#include "editor/editor.h"
#include "model/model.h"
#include "shell/shell.h"
#include "toolkit/tilecache.h"
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

void straightforward(const Map* m) {
  fillRect(window, 0, 0, window->w, window->h, 0, 0, 0);
  for (int i = 0; i < m->layers; i++)
    for (int r = 0; r < window->h / 16; r++)
      for (int c = 0; c < window->w / 16; c++)
        blitElement(m->layer[i]->s, c * 16, r * 16, m->layer[i]->e[(size_t)r * m->w + c]);
}

// The bytes the frame's tiles cover, copied row by row from a sheet already
// in the view's format: the cost of touching every tile pixel once.
void memcpyFrame(const Map* m, SDL_Surface* flat) {
  int perRow = flat->w / 16;
  for (int i = 0; i < m->layers; i++)
    for (int r = 0; r < window->h / 16; r++)
      for (int c = 0; c < window->w / 16; c++) {
        int n = m->layer[i]->e[(size_t)r * m->w + c];
        const Uint8* src = (const Uint8*)flat->pixels + (n / perRow * 16) * flat->pitch + n % perRow * 64;
        Uint8* dst = (Uint8*)window->pixels + r * 16 * window->pitch + c * 64;
        for (int y = 0; y < 16; y++) memcpy(dst + y * window->pitch, src + y * flat->pitch, 64);
      }
}

template <typename F>
double perFrame(F f, int frames) {
  f();  // warm-up (mappings, caches)
  double t = nowMs();
  for (int i = 0; i < frames; i++) f();
  return (nowMs() - t) / frames;
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
  double ours = perFrame(drawWindow, 30);
  double plain = quick ? 0 : perFrame([&] { straightforward(m); }, vw > 1000 ? 3 : 10);
  double copy = perFrame([&] { memcpyFrame(m, flat); }, 30);
  printf("%4dx%-4d %d layer%s %-17s %4dx%-4d %-14s | ours %7.2f ms | sheet blit %8.2f ms | memcpy %6.2f ms "
         "| ours/memcpy %5.2f | blit/ours %6.1f | cache built in %6.1f ms\n",
         vw, vh, layers, layers > 1 ? "s" : " ", kindName(kind), size, size, mapName(map), ours, plain,
         copy, ours / copy, plain / ours, build);
  fflush(stdout);
  tilesetFree(sheet);
  SDL_FreeSurface(flat);
}
}  // namespace

int main(int argc, char** argv) {
  quick = argc > 1 && strcmp(argv[1], "quick") == 0;
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) < 0) return 1;
  char tmpl[] = "/tmp/moska-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = std::string(tmpl) + "/";
  if (system(("mkdir -p " + dir + "layers").c_str()) != 0) return 1;
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  snprintf(programPath, sizeof programPath, "%s", dir.c_str());
  printf("Map view, processor time per frame (view = screen less the 322-pixel panel; every cell non-empty)\n");
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
  if (system(("rm -rf " + dir).c_str()) != 0) return 1;
  return 0;
}
