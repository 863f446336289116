// The model's records and the cell, name and background operations.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "model/mapfile.h"
#include "model/model.h"
#include "model/internal.h"
#include "toolkit/tileset.h"

Project project;
pMap usedMap[MAX_PEERS] = {nullptr};
SDL_Surface* layersGFX[LIBRARY_SLOTS] = {nullptr};
char* layersGFXnames[LIBRARY_SLOTS] = {nullptr};
unsigned char* passconditions = nullptr;
void (*cellsWriteHook)(Map*, int, uint32_t, uint32_t, uint32_t, uint32_t, int32_t) = nullptr;
void (*mapClosingHook)(const Map*) = nullptr;
void (*mapReplacedHook)(const char*) = nullptr;

void mapReplaced(const char* filename) {
  if (mapReplacedHook) mapReplacedHook(filename);
}

namespace {
const size_t STRING_MAX = 0xFFFF;  // a stored string's 16-bit length, NUL included
const unsigned long long SQUARE_LOGGED_CELLS = 4096;  // larger rectangles log one line
}  // namespace

Map* openMapAt(long slot) {
  if (slot < 0 || slot >= project.nbreMaps || !project.listeMaps) return nullptr;
  return project.listeMaps[slot];
}

Layer* mapLayer(Map* m, int layer) {
  if (!m || layer < 0 || layer >= m->layers) return nullptr;
  return m->layer[layer];
}

int getMap(const char* map) {
  for (int i = 0; map && i < project.nbreMaps; i++) {
    pMap m = project.listeMaps[i];
    if (m && m->filename && strcmp(m->filename, map) == 0) return i;
  }
  return project.nbreMaps;
}

namespace {
void putCell(int map, Map* m, int layer, unsigned long x, unsigned long y, int element) {
  printf("setElementAbsolute(%d,%d,%ld,%ld,%d);\n", map, layer, (long)x, (long)y, element);
  m->layer[layer]->e[(size_t)y * m->w + x] = element;
  m->dirty = true;
}
}  // namespace

void setElementAbsolute(int map, int layer, unsigned long x, unsigned long y, int element) {
  Map* m = openMapAt(map);
  const char* why = !m                          ? "map non ouverte"
                    : !mapLayer(m, layer)        ? "layer inexistant"
                    : x >= m->w || y >= m->h     ? "cellule hors de la map"
                                                 : nullptr;
  if (why) {
    printf("setElementAbsolute(%d,%d,%ld,%ld,%d) refuse: %s!\n", map, layer, (long)x, (long)y,
           element, why);
    return;
  }
  if (cellsWriteHook) cellsWriteHook(m, layer, (uint32_t)x, (uint32_t)y, (uint32_t)x, (uint32_t)y, element);
  putCell(map, m, layer, x, y, element);
}

RectFit clampRect(const Map* m, unsigned long* x1, unsigned long* y1, unsigned long* x2,
                  unsigned long* y2) {
  if (*x1 > *x2) std::swap(*x1, *x2);
  if (*y1 > *y2) std::swap(*y1, *y2);
  if (*x1 >= m->w || *y1 >= m->h) return RECT_OUTSIDE;
  if (*x2 < m->w && *y2 < m->h) return RECT_INSIDE;
  if (*x2 >= m->w) *x2 = m->w - 1;
  if (*y2 >= m->h) *y2 = m->h - 1;
  return RECT_CUT;
}

void setElementSquare(const char* map, int layer, unsigned long x1, unsigned long y1,
                      unsigned long x2, unsigned long y2, int element) {
  int i = getMap(map);
  Map* m = openMapAt(i);
  RectFit fit = m ? clampRect(m, &x1, &y1, &x2, &y2) : RECT_OUTSIDE;
  const char* why = !m                    ? "map non ouverte"
                    : !mapLayer(m, layer)  ? "layer inexistant"
                    : fit == RECT_OUTSIDE  ? "rectangle hors de la map"
                                           : nullptr;
  if (why) {
    printf("setElementSquare(%s,%d) refuse: %s!\n", map ? map : "", layer, why);
    return;
  }
  // A rectangle that runs past the edge is cut to the map.
  if (fit == RECT_CUT) {
    printf("setElementSquare(%s,%d): rectangle coupe au bord de la map.\n", map, layer);
  }
  if (cellsWriteHook)
    cellsWriteHook(m, layer, (uint32_t)x1, (uint32_t)y1, (uint32_t)x2, (uint32_t)y2, element);
  unsigned long long cells = (unsigned long long)(x2 - x1 + 1) * (y2 - y1 + 1);
  if (cells <= SQUARE_LOGGED_CELLS) {
    for (unsigned long y = y1; y <= y2; y++)
      for (unsigned long x = x1; x <= x2; x++) putCell(i, m, layer, x, y, element);
    return;
  }
  // A line per cell of millions would hold the editor for seconds: one line.
  printf("setElementSquare(%d,%d,%ld,%ld,%ld,%ld,%d): %llu cellules.\n", i, layer, (long)x1, (long)y1,
         (long)x2, (long)y2, element, cells);
  for (unsigned long y = y1; y <= y2; y++) setElementRun(m, layer, (uint32_t)y, (uint32_t)x1, (uint32_t)x2, element);
}

bool setElementRun(Map* m, int layer, uint32_t y, uint32_t x1, uint32_t x2, int32_t element) {
  Layer* l = mapLayer(m, layer);
  if (!l || x1 > x2 || x2 >= m->w || y >= m->h) {
    printf("setElementRun(%d,%ld,%ld-%ld) refuse: hors de la map!\n", layer, (long)y, (long)x1,
           (long)x2);
    return false;
  }
  int32_t* row = l->e + (size_t)y * m->w;
  for (uint32_t x = x1; x <= x2; x++) row[x] = element;
  m->dirty = true;
  return true;
}

bool setElementBlock(Map* m, int layer, uint32_t x, uint32_t y, uint32_t w, uint32_t h, const int32_t* cells) {
  if (!m || layer < 0 || layer >= m->layers || w == 0 || h == 0 || x >= m->w || y >= m->h) {
    printf("setElementBlock(%d,%u,%u) refuse: hors de la map!\n", layer, x, y);
    return false;
  }
  uint32_t cw = std::min(w, m->w - x), ch = std::min(h, m->h - y);
  Layer* l = m->layer[layer];
  for (uint32_t r = 0; r < ch; r++) memcpy(l->e + (size_t)(y + r) * m->w + x, cells + (size_t)r * w, cw * sizeof(int32_t));
  m->dirty = true;
  printf("setElementBlock(%d,%u,%u,%u,%u);\n", layer, x, y, cw, ch);
  if (cellsWriteHook) cellsWriteHook(m, layer, x, y, x + cw - 1, y + ch - 1, cells[0]);
  return true;
}

void changeMapSysname(const char* filename, const char* sysname) {
  Map* m = openMapAt(getMap(filename));
  if (!m || !sysname || strlen(sysname) + 1 > STRING_MAX) {
    printf("changeMapSysname(%s) refuse: %s!\n", filename ? filename : "",
           !m ? "map non ouverte" : "nom invalide");
    return;
  }
  size_t n = strlen(sysname) + 1;
  char* copy = (char*)malloc(n);
  if (!copy) {
    printf("changeMapSysname(%s) refuse: memoire insuffisante!\n", filename);
    return;
  }
  memcpy(copy, sysname, n);
  free(m->sysname);
  m->sysname = copy;
  m->dirty = true;
}

void setLayerBGXY(const char* map, int layer, char bg, int x, int y) {
  Map* m = openMapAt(getMap(map));
  Layer* l = mapLayer(m, layer);
  if (!l) {
    printf("setLayerBGXY(%s,%d) refuse: %s!\n", map ? map : "", layer,
           !m ? "map non ouverte" : "layer inexistant");
    return;
  }
  l->bg = bg;
  l->x = (int16_t)(uint16_t)x;  // the low 16 bits
  l->y = (int16_t)(uint16_t)y;
  m->dirty = true;
}

bool resizeMap(Map* m, unsigned long w, unsigned long h, char* why, size_t cap) {
  unsigned long long layerCells = (unsigned long long)w * h;
  unsigned long long all = layerCells * (m ? m->layers : 0);
  if (!m || w < 1 || h < 1 || w > 0xFFFFFFFFul || h > 0xFFFFFFFFul ||
      layerCells > (unsigned long long)MAX_LAYER_CELLS || all > (unsigned long long)PEER_MAP_CELLS) {
    snprintf(why, cap, "%lux%lu: from 1 to %d cells a layer, %d in all", w, h, (int)MAX_LAYER_CELLS,
             (int)PEER_MAP_CELLS);
    printf("resizeMap(%s,%lu,%lu) refuse: taille hors limites!\n", m && m->filename ? m->filename : "", w, h);
    return false;
  }
  // Every layer's new cells are taken before any layer changes: all or none.
  std::vector<int32_t*> cells((size_t)m->layers, nullptr);
  for (int i = 0; i < m->layers; i++) {
    cells[i] = (int32_t*)calloc((size_t)layerCells, sizeof(int32_t));
    if (cells[i]) continue;
    for (int32_t* c : cells) free(c);
    snprintf(why, cap, "not enough memory for %lux%lu cells", w, h);
    printf("resizeMap(%s,%lu,%lu) refuse: memoire insuffisante!\n", m->filename ? m->filename : "", w, h);
    return false;
  }
  uint32_t keepW = std::min<uint32_t>(m->w, (uint32_t)w), keepH = std::min<uint32_t>(m->h, (uint32_t)h);
  for (int i = 0; i < m->layers; i++) {
    Layer* l = m->layer[i];
    for (uint32_t y = 0; l->e && y < keepH; y++)
      memcpy(cells[i] + (size_t)y * w, l->e + (size_t)y * m->w, keepW * sizeof(int32_t));
    free(l->e);
    l->e = cells[i];
  }
  printf("Map %s redimensionnee: %lux%lu -> %lux%lu.\n", m->filename ? m->filename : "", (unsigned long)m->w,
         (unsigned long)m->h, w, h);
  m->w = (uint32_t)w;
  m->h = (uint32_t)h;
  // The view stays where the user had it, inside the new size.
  m->viewX = std::min<uint32_t>(m->viewX, (uint32_t)((w - 1) * TILE));
  m->viewY = std::min<uint32_t>(m->viewY, (uint32_t)((h - 1) * TILE));
  m->dirty = true;
  return true;
}

bool moveLayer(Map* m, int from, int to) {
  if (!m || from < 0 || to < 0 || from >= m->layers || to >= m->layers) {
    printf("moveLayer(%d,%d) refuse: %s!\n", from, to, !m ? "map absente" : "layer inexistant");
    return false;
  }
  Layer* moved = m->layer[from];
  int step = to > from ? 1 : -1;
  for (int k = from; k != to; k += step) m->layer[k] = m->layer[k + step];
  m->layer[to] = moved;
  if (from != to) m->dirty = true;  // the file keeps the order
  return true;
}

bool mapUsedByPeers(const char* filename) {
  for (pMap m : usedMap)
    if (m && m->filename && filename && strcmp(m->filename, filename) == 0) return true;
  return false;
}

void forgetPeerMap(const Map* m) {
  for (pMap& u : usedMap)
    if (u == m) u = nullptr;
}

void modelReset() {
  for (int i = 0; i < project.nbreMaps && project.listeMaps; i++) {
    if (!project.listeMaps[i]) continue;
    freeMapRecord(project.listeMaps[i]);
    delete project.listeMaps[i];
  }
  delete[] project.listeMaps;
  project = Project();
  libraryClear();
  for (pMap& u : usedMap) u = nullptr;
}

Map* currentMapOrNull() { return openMapAt(project.currentMap); }

Layer* currentLayerOrNull(const Map* m) {
  if (!m || !m->layer || project.currentLayer < 0 || project.currentLayer >= m->layers)
    return nullptr;
  return m->layer[project.currentLayer];
}
