// The shared tileset library, layer creation and deletion, and the default
// pass-conditions files.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <set>
#include <string>

#include "core/core.h"
#include "core/files.h"
#include "model/internal.h"
#include "model/model.h"
#include "toolkit/tileset.h"

namespace {
char* copyName(const char* s, size_t min) {
  size_t n = strlen(s) + 1;
  char* p = (char*)calloc(n > min ? n : min, 1);
  if (p) memcpy(p, s, n);
  return p;
}

// Creates "<chipset>.pss" in "layerspc" with every quarter passable, unless
// the file exists. Without a surface the tile count is unknown: no file.
void defaultPassConditions(const char* chipset, SDL_Surface* s) {
  FILE* f = openFile(PASS_DIR, chipset, PASS_EXT, "rb");
  if (f) {
    closeFile(f);
    return;
  }
  int w, h;
  if (!tilesetSize(s, &w, &h)) {
    printf("Pas de fichier de passabilite par defaut pour %s: tileset absent.\n", chipset);
    return;
  }
  size_t n = (size_t)tilesetCounts(w, h).cells * PASS_BYTES_PER_TILE;
  unsigned char* buf = (unsigned char*)malloc(n ? n : 1);
  if (!buf) {
    printf("Fichier de passabilite %s non cree: memoire insuffisante!\n", chipset);
    return;
  }
  memset(buf, 1, n);
  // Written whole or not at all, so a later layer retries.
  if (!writePassConditions(chipset, buf, n))
    printf("ERREUR: ecriture du fichier de passabilite %s impossible!\n", chipset);
  free(buf);
}

// True when a layer other than layer l of map m names the tileset.
bool tilesetShared(const Map* m, long l, const char* name) {
  auto usesIt = [&](const Map* o) {
    for (int i = 0; i < o->layers; i++)
      if ((o != m || i != l) && o->layer[i]->layerGFX && strcmp(o->layer[i]->layerGFX, name) == 0)
        return true;
    return false;
  };
  // The map's own other layers count even when it is not in the list.
  if (usesIt(m)) return true;
  for (int i = 0; i < project.nbreMaps; i++) {
    const Map* o = project.listeMaps[i];
    if (o && o != m && usesIt(o)) return true;
  }
  return false;
}
// The library slot holding the tileset of that name, or -1.
int librarySlotOf(const char* chipset) {
  for (int i = 0; i < LIBRARY_SLOTS; i++)
    if (layersGFXnames[i] && strcmp(layersGFXnames[i], chipset) == 0) return i;
  return -1;
}

// The tileset names m's layers hold, each once.
std::set<std::string> tilesetNames(const Map* m) {
  std::set<std::string> names;
  for (int i = 0; i < m->layers; i++)
    if (m->layer[i]->layerGFX) names.insert(m->layer[i]->layerGFX);
  return names;
}

// The tileset's image is in the project's "layers" folder.
bool tilesetFileExists(const char* chipset) {
  char path[FILE_PATH_LEN];
  return filePath(path, sizeof path, LAYERS_DIR, chipset, IMAGE_EXT) && access(path, R_OK) == 0;
}

// The tileset is in the library already, or a slot is free for it.
bool libraryTakes(const char* chipset) {
  if (librarySlotOf(chipset) >= 0) return true;
  for (int i = 0; i < LIBRARY_SLOTS; i++)
    if (!layersGFXnames[i]) return true;
  return false;
}
}  // namespace

void printLibraryFull() { printf("Vous avez déjà chargé le maximum de %d layers en mémoire!!!\n", (int)LIBRARY_SLOTS); }

bool libraryRoomFor(const Map* m) {
  std::set<std::string> names = tilesetNames(m);
  size_t fresh = 0, free = 0;
  for (const std::string& n : names) fresh += librarySlotOf(n.c_str()) < 0;
  for (int i = 0; i < LIBRARY_SLOTS; i++) free += !layersGFXnames[i];
  return fresh <= free;
}

bool mapFitsHere(const Map* m, bool open, char* why, size_t cap) {
  unsigned long long cells = (unsigned long long)m->w * m->h * m->layers;
  if (m->layers > MAX_LAYERS || cells > (unsigned long long)PEER_MAP_CELLS) {
    snprintf(why, cap, "%d layers, %llu cellules en tout (%d au maximum)", m->layers, cells, (int)PEER_MAP_CELLS);
    return false;
  }
  std::set<std::string> names = tilesetNames(m);
  for (int i = 0; i < m->layers; i++)
    if (!m->layer[i]->layerGFX) names.insert("");  // refused below as an invalid name
  // Stops at the first one missing: a copy may name tens of thousands.
  for (const std::string& n : names)
    if (!validName(n.c_str()) || (librarySlotOf(n.c_str()) < 0 && !tilesetFileExists(n.c_str()))) {
      snprintf(why, cap, "tileset %.64s absent ici (%zu tilesets nommes)", n.c_str(), names.size());
      return false;
    }
  if (open && !libraryRoomFor(m)) {
    snprintf(why, cap, "librairie de tilesets pleine (%zu tilesets nommes)", names.size());
    return false;
  }
  return true;
}

bool writePassConditions(const char* chipset, const unsigned char* pass, size_t n) {
  char path[FILE_PATH_LEN], temp[FILE_PATH_LEN + 8];
  FILE* f = nullptr;
  if (validName(chipset) && filePath(path, sizeof path, PASS_DIR, chipset, PASS_EXT))
    f = replacingOpen(path, ".tmp", temp, sizeof temp);
  else
    snprintf(path, sizeof path, "layerspc%s.pss", chipset ? chipset : "");
  if (!f) {
    printf("ERROR: can't load (wb) file: %s!\n", path);
    return false;
  }
  printf("Loaded file(wb): %s!\n", path);
  return replacingCommit(f, temp, path, n == 0 || fwrite(pass, 1, n, f) == n, nullptr);
}

TileCounts tilesetCounts(int w, int h) {
  if (w <= 0 || h <= 0) return {0, 0};
  long long perRow = w / TILE;
  return {perRow * h / TILE, perRow * (h / TILE)};
}

TileCounts tilesetCountsOf(SDL_Surface* s) {
  int w, h;
  tilesetSize(s, &w, &h);
  return tilesetCounts(w, h);
}

void libraryClear() {
  for (int i = 0; i < LIBRARY_SLOTS; i++) {
    tilesetFree(layersGFX[i]);
    layersGFX[i] = nullptr;
    free(layersGFXnames[i]);
    layersGFXnames[i] = nullptr;
  }
}

bool tilesetSizeByName(const char* chipset, int* w, int* h) {
  *w = *h = 0;
  int slot = librarySlotOf(chipset);
  if (slot >= 0 && tilesetSize(layersGFX[slot], w, h)) return true;
  // Not in use here: the image itself.
  return tilesetSizeOnDisk(chipset, w, h);
}

bool tilesetSizeOnDisk(const char* chipset, int* w, int* h) {
  *w = *h = 0;
  return validName(chipset) && tilesetMeasure(chipset, w, h);
}

SDL_Surface* libraryFind(const char* chipset) {
  int slot = chipset ? librarySlotOf(chipset) : -1;
  return slot >= 0 ? layersGFX[slot] : nullptr;
}

SDL_Surface* layersGFXLoad(const char* chipset) {
  if (!validName(chipset)) return nullptr;
  int slot = librarySlotOf(chipset);
  if (slot >= 0) {
    printf("layerGFX partage %s detecte! Chargement inutile.\n", chipset);
    return layersGFX[slot];
  }
  slot = 0;
  while (slot < LIBRARY_SLOTS && layersGFXnames[slot]) slot++;
  if (slot == LIBRARY_SLOTS) {
    printLibraryFull();
    return nullptr;
  }
  char* name = copyName(chipset, 1);
  if (!name) {
    printf("cannot load image '%s.png'!\n", chipset);
    return nullptr;
  }
  layersGFX[slot] = tilesetLoad(chipset);
  layersGFXnames[slot] = name;
  if (layersGFX[slot])
    printf("Le layerGFX partage %s a ete charge en memoire.\n", chipset);
  else
    printf("cannot load image '%s.png'!\n", chipset);
  return layersGFX[slot];
}

void addLayer(Map* map, const char* chipset, bool bg) {
  if (!map) {
    printf("addLayer refuse: map absente!\n");
    return;
  }
  if (!validName(chipset)) return;
  // A full library refuses the layer: the editor keeps running.
  if (!libraryTakes(chipset)) {
    printLibraryFull();
    printf("addLayer(%s) refuse: librairie pleine!\n", chipset);
    return;
  }
  if (map->layers >= MAX_LAYERS) {
    printf("addLayer(%s) refuse: %d layers au maximum!\n", chipset, MAX_LAYERS);
    return;
  }
  size_t cells = (size_t)map->w * map->h;
  Layer* l = new (std::nothrow) Layer();
  Layer** grown = new (std::nothrow) Layer*[map->layers + 1];
  if (l) l->e = (int32_t*)calloc(cells ? cells : 1, sizeof(int32_t));
  if (l) l->layerGFX = copyName(chipset, LAYER_NAME_LEN);
  if (!l || !grown || !l->e || !l->layerGFX) {
    printf("addLayer(%s) refuse: memoire insuffisante!\n", chipset);
    if (l) free(l->e), free(l->layerGFX);
    delete l;
    delete[] grown;
    return;
  }
  for (int i = 0; i < map->layers; i++) grown[i] = map->layer[i];
  grown[map->layers] = l;  // the new top layer
  delete[] map->layer;
  map->layer = grown;
  l->s = layersGFXLoad(chipset);
  map->layers++;
  map->dirty = true;
  defaultPassConditions(chipset, l->s);
  l->bg = bg ? 1 : 0;
  l->x = 1;
  l->y = 1;
}

void deleteLayer(Map* map, long l) {
  if (!map || l < 0 || l >= map->layers) {
    printf("deleteLayer(%ld) refuse: %s!\n", l, !map ? "map absente" : "layer inexistant");
    return;
  }
  if (map->layers == 1) return;  // a map keeps at least one layer
  Layer* gone = map->layer[l];
  logMarker("1");
  bool shared = !gone->layerGFX || tilesetShared(map, l, gone->layerGFX);
  logMarker("2");
  if (!shared) {
    printf("Suppression de la librairie layerGFX partagee...");
    for (int i = 0; i < LIBRARY_SLOTS; i++) {
      if (layersGFXnames[i] && strcmp(layersGFXnames[i], gone->layerGFX) == 0) {
        tilesetFree(layersGFX[i]);
        free(layersGFXnames[i]);
        layersGFX[i] = nullptr;
        layersGFXnames[i] = nullptr;
        break;
      }
    }
  } else {
    printf("Suppression d'un layer sans alterer la librairie layerGFX partagee...");
  }
  logMarker("3");
  free(gone->layerGFX);
  free(gone->name);
  free(gone->e);
  delete gone;
  map->layers--;
  logMarker("4");
  for (long i = l; i < map->layers; i++) map->layer[i] = map->layer[i + 1];
  map->layer[map->layers] = nullptr;
  map->dirty = true;
  project.currentLayer = 0;
  printf("OK.\n");
}
