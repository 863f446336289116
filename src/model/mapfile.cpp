// Map files in the project's "maps" folder and the life of a map in the
// open-map list: open, save and close, new file, new map in memory.
// Index:
//   [SECTION] writing a map
//   [SECTION] opening, closing and new maps
//   [SECTION] saving
//   [SECTION] snapshots
//   [SECTION] saving in the background
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <string>

#include "model/entities.h"
#include <thread>
#include <vector>

#include "model/internal.h"
#include "model/mapfile.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "core/core.h"
#include "core/files.h"

// [SECTION] writing a map
namespace {
const char TEMP_SUFFIX[] = ".tmp";  // the project file's too
const char UNSAVED_SUFFIX[] = ".unsaved";
const int NEW_MAP_PROBES = 65000;

char* copyString(const char* s) {
  size_t n = strlen(s) + 1;
  char* p = (char*)malloc(n);
  if (p) memcpy(p, s, n);
  return p;
}

// Writes m to path through "<path>.tmp", flushed to the disk and then
// renamed over the old file, so no half-written file ever takes its place.
// Logs like openFile; false (old file untouched) when anything fails.
bool writeMapAtomically(const char* path, const char* smap, const Map* m) {
  char temp[FILE_PATH_LEN + sizeof TEMP_SUFFIX];
  FILE* f = replacingOpen(path, TEMP_SUFFIX, temp, sizeof temp);
  if (!f) {
    printf("ERROR: can't load (wb) file: %s!\n", path);
    printf("ERREUR: ecriture de la map %s impossible (%s), ancien fichier conserve!\n", smap,
           strerror(errno));
    return false;
  }
  printf("Loaded file(wb): %s!\n", path);
  int err;
  if (!replacingCommit(f, temp, path, writeMapStream(f, m), &err)) {
    printf("ERREUR: ecriture de la map %s impossible (%s), ancien fichier conserve!\n", smap,
           strerror(err));
    return false;
  }
  return true;
}

// Writes m to the map file smap in "maps" (see writeMapAtomically).
bool saveMapFile(const char* smap, const Map* m) {
  char path[FILE_PATH_LEN];
  if (!filePath(path, sizeof path, MAPS_DIR, smap, MAP_EXT)) {
    printf("ERREUR: chemin de la map %s trop long!\n", smap);
    return false;
  }
  return writeMapAtomically(path, smap, m);
}

bool sizeAllowed(unsigned long w, unsigned long h) {
  return w <= 0xFFFFFFFFul && h <= 0xFFFFFFFFul &&
         (unsigned long long)w * h <= (unsigned long long)MAX_LAYER_CELLS;
}

void printTooBig(const char* smap, unsigned long long w, unsigned long long h) {
  printf("Map %s trop grande: %llux%llu cellules, %d par layer au maximum!\n", smap, w, h,
         (int)MAX_LAYER_CELLS);
}

// Grows the open-map list by one null slot at its end; its index, or -1.
int appendSlot() {
  pMap* grown = new (std::nothrow) pMap[project.nbreMaps + 1]();
  if (!grown) return -1;
  for (int i = 0; i < project.nbreMaps; i++) grown[i] = project.listeMaps[i];
  delete[] project.listeMaps;
  project.listeMaps = grown;
  return project.nbreMaps++;
}
}  // namespace

bool writeMapFile(const char* smap, const Map* m) { return saveMapFile(smap, m); }

// [SECTION] opening, closing and new maps
bool openMapi(int nmap, const char* smap, ModelError* why) {
  ModelError unused;
  if (!why) why = &unused;
  *why = MODEL_REFUSED;
  if (!validName(smap)) return false;
  if (nmap < 0 || nmap >= project.nbreMaps || !project.listeMaps || project.listeMaps[nmap]) {
    printf("openMapi(%d,%s) refuse: emplacement invalide ou occupe!\n", nmap, smap);
    return false;
  }
  FILE* f = openFile(MAPS_DIR, smap, MAP_EXT, "rb");
  if (!f) {
    *why = MODEL_MAP_UNREADABLE;
    return false;
  }
  printf("Ouverture de la map %s...\n", smap);
  struct stat st;
  Map read;
  MapRead r = MAP_READ_CORRUPT;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode))
    r = readMapStream(f, (size_t)st.st_size, &read);
  closeFile(f);
  Map* m = nullptr;
  char* filename = nullptr;
  // Every tileset it names gets a library slot before anything is loaded.
  bool room = (r != MAP_READ_OK && r != MAP_READ_BAD_END) || libraryRoomFor(&read);
  if (!room) {
    printLibraryFull();
    printf("Map %s refusee: librairie de tilesets pleine.\n", smap);
    freeMapRecord(&read);
    *why = MODEL_LIBRARY_FULL;
    return false;
  }
  if (r == MAP_READ_OK || r == MAP_READ_BAD_END) {
    m = new (std::nothrow) Map();
    filename = copyString(smap);
    if (!m || !filename) r = MAP_READ_NO_MEMORY;
  }
  if (r == MAP_READ_TOO_BIG) printf("Map %s trop grande: %d cellules par layer au maximum!\n", smap, (int)MAX_LAYER_CELLS);
  if (r == MAP_READ_NO_MEMORY) printf("Map %s: memoire insuffisante!\n", smap);
  if (r != MAP_READ_OK && r != MAP_READ_BAD_END) {
    printf("Fichier MAP incorrect ou corrompu!\n");
    freeMapRecord(&read);
    delete m;
    free(filename);
    return false;
  }
  *m = read;
  m->filename = filename;
  m->dirty = r != MAP_READ_OK;  // a bad end marker is rewritten by the next save
  sidecarLoad(m, smap, true, nullptr, 0);  // a broken one is set aside and reported
  for (int i = m->layers - 1; i >= 0; i--) m->layer[i]->s = layersGFXLoad(m->layer[i]->layerGFX);
  project.listeMaps[nmap] = m;
  *why = MODEL_OK;
  if (r == MAP_READ_OK)
    printf("Map OK:\nsysname: %s, filename: %s, w: %ld, h: %ld, %ldx%ld, layers: %d!\n", m->sysname,
           m->filename, (long)m->w, (long)m->h, (long)m->viewX, (long)m->viewY, m->layers);
  else
    printf("Fin de fichier MAP incorrect ou corrompu!\n");
  return true;
}

bool closeMapi(int nmap, const char* smap) {
  backgroundSaveWait();  // an older copy must not land after this save
  Map* m = openMapAt(nmap);
  if (!m) {
    printf("closeMapi(%d) refuse: aucune map ouverte a cet emplacement!\n", nmap);
    return false;
  }
  if (!validName(smap)) return false;
  // The whole file is written and in place before any layer is let go, so
  // a failed save keeps the map open with everything in it.
  printf("LAYERS:%d\n", m->layers);
  if (!saveMapFile(smap, m) || !sidecarSave(m, smap, nullptr, 0)) return false;
  if (mapClosingHook) mapClosingHook(m);
  for (int i = m->layers - 1; i >= 0; i--) {
    printf("Sauvegarde du layer %d:%s...\n", i, m->layer[i]->layerGFX);
    printf("Suppression du layer...\n");
    deleteLayer(m, i);
  }
  printf("Map %s enregistree avec succès!\n", m->filename);
  forgetPeerMap(m);
  freeMapRecord(m);
  delete m;
  project.listeMaps[nmap] = nullptr;
  printf("Map fermée.\n");
  return true;
}

bool newMapFile(const char* smap, unsigned long w, unsigned long h) {
  printf("Creation de la map '%s' %ldx%ld...\n", smap ? smap : "", (long)w, (long)h);
  if (!validName(smap)) return false;
  if (!sizeAllowed(w, h)) {
    printTooBig(smap, w, h);
    return false;
  }
  char sysname[] = "New map";
  Layer layer;
  layer.layerGFX = const_cast<char*>(DEFAULT_TILESET);  // only written; null cells: zeros
  layer.x = layer.y = 0;
  Layer* layers[1] = {&layer};
  Map m;
  m.layer = layers;
  m.layers = 1;
  m.sysname = sysname;
  m.filename = const_cast<char*>(smap);
  m.w = (uint32_t)w;
  m.h = (uint32_t)h;
  if (!saveMapFile(smap, &m)) return false;
  printf("Map %s creee avec succès!\n", smap);
  return true;
}

void newMap(unsigned long w, unsigned long h) {
  int slot = appendSlot();
  Map* m = slot < 0 ? nullptr : new (std::nothrow) Map();
  char* sysname = (char*)malloc(NAME_LEN);
  char* filename = (char*)malloc(NAME_LEN);
  if (!m || !sysname || !filename) {
    printf("newMap: memoire insuffisante!\n");
    delete m;
    free(sysname);
    free(filename);
    return;
  }
  if (!sizeAllowed(w, h)) {
    printTooBig("map0", w, h);
    w = NEW_MAP_W, h = NEW_MAP_H;
  }
  m->w = (uint32_t)w;
  m->h = (uint32_t)h;
  project.listeMaps[slot] = m;
  addLayer(m, DEFAULT_TILESET, false);
  int k = 0;
  for (; k < NEW_MAP_PROBES; k++) {
    char name[NAME_LEN];
    snprintf(name, sizeof name, "map%d", k);
    FILE* f = openFile(MAPS_DIR, name, MAP_EXT, "rb");
    if (!f) break;
    closeFile(f);
  }
  snprintf(sysname, NAME_LEN, "New map %d", k);
  snprintf(filename, NAME_LEN, "map%d", k);
  m->sysname = sysname;
  m->filename = filename;
  m->dirty = true;  // it has no file yet
}

int openMapInFreeSlot(const char* smap, ModelError* why) {
  if (why) *why = MODEL_REFUSED;
  if (!validName(smap)) return -1;
  int slot = 0;
  while (slot < project.nbreMaps && project.listeMaps[slot]) slot++;
  if (slot == project.nbreMaps) slot = appendSlot();
  if (slot < 0) {
    printf("openMapi(%s) refuse: memoire insuffisante!\n", smap);
    return -1;
  }
  return openMapi(slot, smap, why) ? slot : -1;
}

// [SECTION] saving
bool saveMap(int nmap) {
  backgroundSaveWait();
  Map* m = openMapAt(nmap);
  if (!m || !validName(m->filename)) return false;
  if (!saveMapFile(m->filename, m) || !sidecarSave(m, m->filename, nullptr, 0)) return false;
  m->dirty = false;
  return true;
}

bool writeUnsavedCopy(const Map* m, char* path, size_t cap) {
  char file[FILE_PATH_LEN];
  if (!m || !validName(m->filename) || !filePath(file, sizeof file, MAPS_DIR, m->filename, MAP_EXT))
    return false;
  if (snprintf(path, cap, "%s%s", file, UNSAVED_SUFFIX) >= (int)cap) return false;
  return writeMapAtomically(path, m->filename, m);
}

bool mapFileExists(const char* name) {
  char path[FILE_PATH_LEN];
  return filePath(path, sizeof path, MAPS_DIR, name, MAP_EXT) && access(path, R_OK) == 0;
}

// [SECTION] snapshots
Map* snapshotBegin(const Map* m) {
  Map* c = new (std::nothrow) Map();
  if (!c) return nullptr;
  c->w = m->w;
  c->h = m->h;
  c->filename = copyString(m->filename ? m->filename : "");
  c->layer = new (std::nothrow) Layer*[m->layers ? m->layers : 1]();
  bool ok = c->filename && c->layer;
  size_t cells = (size_t)m->w * m->h;
  for (int i = 0; ok && i < m->layers; i++) {
    Layer* l = new (std::nothrow) Layer();
    if (!l) break;
    c->layer[c->layers++] = l;
    l->uid = m->layer[i]->uid;
    l->layerGFX = copyString(m->layer[i]->layerGFX ? m->layer[i]->layerGFX : "");
    l->e = allocCells(cells);
    ok = l->layerGFX && l->e;
  }
  if (ok && c->layers == m->layers) return c;
  printf("Copie de la map %s: memoire insuffisante!\n", m->filename ? m->filename : "");
  freeMapRecord(c);
  delete c;
  return nullptr;
}

int snapshotContinue(const Map* m, Map* c, size_t* cursor, size_t maxCells) {
  if (c->layers != m->layers || c->w != m->w || c->h != m->h) return -1;
  for (int i = 0; i < m->layers; i++)
    if (c->layer[i]->uid != m->layer[i]->uid) return -1;
  size_t cells = (size_t)m->w * m->h, total = cells * m->layers;
  while (*cursor < total && maxCells) {
    size_t layer = *cursor / cells, at = *cursor % cells, n = cells - at;
    if (n > maxCells) n = maxCells;
    memcpy(c->layer[layer]->e + at, m->layer[layer]->e + at, n * sizeof(int32_t));
    *cursor += n;
    maxCells -= n;
  }
  if (*cursor < total) return 0;
  // The small fields as they are now, with the last cells.
  char* sysname = copyString(m->sysname ? m->sysname : "");
  if (!sysname) return -1;
  free(c->sysname);
  c->sysname = sysname;
  c->viewX = m->viewX;
  c->viewY = m->viewY;
  bool ok = true;
  for (int i = 0; i < m->layers; i++) {
    Layer* l = c->layer[i];
    l->bg = m->layer[i]->bg;
    l->x = m->layer[i]->x;
    l->y = m->layer[i]->y;
    free(l->name);
    l->name = m->layer[i]->name ? copyString(m->layer[i]->name) : nullptr;
    ok = ok && (l->name || !m->layer[i]->name);
  }
  // The sidecar's own fields go with it (written with the copy).
  free(c->sidecarKept);
  c->sidecarKept = m->sidecarKept ? copyString(m->sidecarKept) : nullptr;
  c->sidecarHeld = m->sidecarHeld;
  ok = ok && entitiesCopy(m, c);
  return ok && (c->sidecarKept || !m->sidecarKept) ? 1 : -1;
}

void snapshotFree(Map* c) {
  if (!c) return;
  freeMapRecord(c);
  delete c;
}

// [SECTION] saving in the background
namespace {
// The background writer's state, shared with its thread under saveLock.
struct SaveBatch {
  std::mutex lock;
  std::condition_variable ended;
  bool running = false, collected = true;
  int saved = 0;
  std::vector<std::string> failed;
};
SaveBatch& batch() {
  static SaveBatch* b = new SaveBatch;  // never destroyed: the thread may outlive exit
  return *b;
}

void writeBatch(std::vector<Map*> copies) {
  int saved = 0;
  std::vector<std::string> failed;
  for (Map* c : copies) {
    if (saveMapFile(c->filename, c) && sidecarSave(c, c->filename, nullptr, 0))
      saved++;
    else
      failed.push_back(c->filename);
    freeMapRecord(c);
    delete c;
  }
  SaveBatch& b = batch();
  std::lock_guard<std::mutex> g(b.lock);
  b.saved = saved;
  b.failed = failed;
  b.running = false;
  b.collected = false;
  b.ended.notify_all();
}
}  // namespace

bool backgroundSaveStart(Map** copies, int n) {
  SaveBatch& b = batch();
  std::vector<Map*> list(copies, copies + n);
  {
    std::lock_guard<std::mutex> g(b.lock);
    if (!b.running) {
      b.running = true;
      std::thread(writeBatch, list).detach();
      return true;
    }
  }
  for (Map* c : list) {
    freeMapRecord(c);
    delete c;
  }
  return false;
}

bool backgroundSaveBusy() {
  SaveBatch& b = batch();
  std::lock_guard<std::mutex> g(b.lock);
  return b.running;
}

void backgroundSaveWait() {
  SaveBatch& b = batch();
  std::unique_lock<std::mutex> g(b.lock);
  b.ended.wait(g, [&] { return !b.running; });
}

bool backgroundSaveCollect(int* saved, char* failed, size_t cap, int* failedCount) {
  std::vector<std::string> names;
  {
    SaveBatch& b = batch();
    std::lock_guard<std::mutex> g(b.lock);
    if (b.running || b.collected) return false;
    b.collected = true;
    *saved = b.saved;
    names = b.failed;
  }
  *failedCount = (int)names.size();
  if (cap) failed[0] = 0;
  for (const std::string& n : names) {
    size_t have = strlen(failed);
    snprintf(failed + have, cap - have, "%s%s", have ? " " : "", n.c_str());
    Map* m = openMapAt(getMap(n.c_str()));
    if (m) m->dirty = true;  // still to be saved
  }
  return true;
}
