// Map digests, whole maps as bytes, and the replacement of a copy by a
// peer's that keeps the old copy in "conflicts".
#include "model/digest.h"

#include <dirent.h>
#include <fcntl.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <new>

#include "model/internal.h"
#include "model/mapfile.h"
#include "model/sidecar.h"
#include "core/files.h"

namespace {
const uint64_t MUL_A = 0x9E3779B97F4A7C15ull;  // odd constants of two independent lanes
const uint64_t MUL_B = 0xC2B2AE3D27D4EB4Full;
const size_t MAP_FILE_MAX = (size_t)1 << 31;  // larger files are not taken whole
const int CONFLICT_TRIES = 100;               // "-2" .. suffixes for one second
const size_t REASON_LEN = 160;                // a refusal's reason, one log line

struct Hasher {
  uint64_t a = 0x243F6A8885A308D3ull, b = 0x13198A2E03707344ull;
  void word(uint64_t v) {
    a = (a ^ v) * MUL_A;
    b = ((b + v) ^ (b >> 29)) * MUL_B;
  }
  void text(const char* s) {
    size_t n = s ? strlen(s) : 0;
    word(n);
    for (size_t i = 0; i < n; i++) word((unsigned char)s[i]);
  }
};

uint64_t finish(uint64_t v) {
  v ^= v >> 33;
  v *= 0xFF51AFD7ED558CCDull;
  v ^= v >> 33;
  return v;
}

bool readWholeFile(FILE* f, std::vector<unsigned char>& out) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || (size_t)st.st_size > MAP_FILE_MAX)
    return false;
  try {
    out.resize((size_t)st.st_size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return fread(out.data(), 1, out.size(), f) == out.size();
}

bool readMapFileBytes(const char* name, std::vector<unsigned char>& out) {
  if (!mapFileExists(name)) return false;
  FILE* f = openFile("maps", name, "map", "rb");
  if (!f) return false;
  bool ok = readWholeFile(f, out);
  closeFile(f);
  return ok;
}

bool mapBytes(const Map* m, std::vector<unsigned char>& out) {
  char* buf = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buf, &size);
  if (!f) return false;
  bool ok = writeMapStream(f, m);
  ok = fclose(f) == 0 && ok;
  if (ok && buf) out.assign(buf, buf + size);
  free(buf);
  return ok;
}

bool parsed(const unsigned char* bytes, size_t n, Map* out) {
  MapRead r = readMapBytes(bytes, n, out);
  return r == MAP_READ_OK || r == MAP_READ_BAD_END;
}

// Makes "<project>/conflicts" and writes `n` bytes there as
// "<name>-<time>.<ext>" (a new file, never over another); its path in kept.
bool writeConflict(const char* name, const char* ext, const void* bytes, size_t n, char* kept, size_t cap) {
  char stampName[LAYER_NAME_LEN + 64], path[FILE_PATH_LEN];
  time_t now = time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  char when[32];
  strftime(when, sizeof when, "%Y%m%d-%H%M%S", &t);
  if (!filePath(path, sizeof path, CONFLICTS_DIR, "x", ext)) return false;
  char* slash = strrchr(path, '/');
  if (slash) *slash = 0;
  if (mkdir(path, 0777) != 0 && errno != EEXIST) {
    printf("ERREUR: dossier %s impossible a creer (%s)!\n", path, strerror(errno));
    return false;
  }
  for (int k = 1; k <= CONFLICT_TRIES; k++) {
    if (k == 1)
      snprintf(stampName, sizeof stampName, "%s-%s", name, when);
    else
      snprintf(stampName, sizeof stampName, "%s-%s-%d", name, when, k);
    if (!filePath(path, sizeof path, CONFLICTS_DIR, stampName, ext)) return false;
    FILE* f = fopen(path, "wx");  // never over an earlier copy
    if (!f) {
      if (errno == EEXIST) continue;
      break;
    }
    bool ok = fwrite(bytes, 1, n, f) == n;
    ok = fflush(f) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (ok) {
      snprintf(kept, cap, "%s", path);
      return true;
    }
    remove(path);
    break;
  }
  printf("ERREUR: copie de la map %s dans conflicts impossible!\n", name);
  return false;
}

// Frees layers taken out of an open map, letting the library drop the
// tilesets no other layer uses, as deleting them one by one would.
void dropLayers(Map& old) {
  int current = project.currentLayer;  // deleting a layer resets it
  while (old.layers > 1) deleteLayer(&old, old.layers - 1);
  freeMapRecord(&old);
  project.currentLayer = current;
}

// Puts the content of `in` (parsed, no surfaces) into the open map m.
void takeContent(Map* m, Map& in) {
  for (int i = 0; i < in.layers; i++) in.layer[i]->s = layersGFXLoad(in.layer[i]->layerGFX);
  std::string side = sidecarText(m);  // taken back below onto the layers it still matches
  Map old;
  old.layer = m->layer;
  old.layers = m->layers;
  old.sysname = m->sysname;
  old.w = m->w;
  old.h = m->h;
  m->layer = in.layer;
  m->layers = in.layers;
  m->sysname = in.sysname;
  m->w = in.w;
  m->h = in.h;
  in.layer = nullptr;
  in.layers = 0;
  in.sysname = nullptr;
  // The view stays where the user had it, inside the new size.
  m->viewX = std::min<uint32_t>(m->viewX, m->w * 16);
  m->viewY = std::min<uint32_t>(m->viewY, m->h * 16);
  dropLayers(old);
  if (!side.empty()) sidecarTake(m->filename, side.data(), side.size(), nullptr, 0);
  Map* current = currentMapOrNull();
  if (current == m && project.currentLayer >= m->layers) project.currentLayer = 0;
  m->dirty = true;
}
}  // namespace

MapDigest mapDigest(const Map* m) {
  Hasher h;
  h.text(m->sysname);
  h.word(m->w);
  h.word(m->h);
  h.word(m->layers);
  size_t cells = (size_t)m->w * m->h;
  for (int i = 0; i < m->layers; i++) {
    const Layer* l = m->layer[i];
    h.text(l->layerGFX);
    h.word((uint64_t)(unsigned char)l->bg << 32 | (uint64_t)(uint16_t)l->x << 16 | (uint16_t)l->y);
    const int32_t* e = l->e;
    if (!e) {
      h.word(0);
      continue;
    }
    // Two cells a step: half the multiplies of one a step.
    size_t c = 0;
    for (; c + 1 < cells; c += 2) h.word((uint64_t)(uint32_t)e[c] << 32 | (uint32_t)e[c + 1]);
    if (c < cells) h.word((uint32_t)e[c]);
  }
  MapDigest d;
  d.a = finish(h.a ^ h.b);
  d.b = finish(h.b + MUL_A);
  return d;
}

MapDigest digestFold(const MapDigest& d, const char* bytes, size_t n) {
  Hasher h;
  h.word(d.a);
  h.word(d.b);
  h.word(n);
  for (size_t i = 0; i < n; i++) h.word((unsigned char)bytes[i]);
  MapDigest out;
  out.a = finish(h.a ^ h.b);
  out.b = finish(h.b + MUL_A);
  return out;
}

void digestHex(const MapDigest& d, char out[DIGEST_HEX + 1]) {
  snprintf(out, DIGEST_HEX + 1, "%016llx%016llx", (unsigned long long)d.a, (unsigned long long)d.b);
}

bool parseDigestHex(const char* text, MapDigest* d) {
  if (!text || strlen(text) != DIGEST_HEX || strspn(text, "0123456789abcdef") != DIGEST_HEX) return false;
  char half[17];
  memcpy(half, text, 16);
  half[16] = 0;
  d->a = strtoull(half, nullptr, 16);
  d->b = strtoull(text + 16, nullptr, 16);
  return true;
}

bool projectMapDigest(const char* name, MapDigest* d) {
  {
    Map* m = openMapAt(getMap(name));
    if (m) {
      *d = mapDigest(m);
      return true;
    }
  }
  std::vector<unsigned char> bytes;
  Map read;
  if (!readMapFileBytes(name, bytes) || !parsed(bytes.data(), bytes.size(), &read)) return false;
  *d = mapDigest(&read);
  freeMapRecord(&read);
  return true;
}

size_t projectMapsBytes() {
  char path[FILE_PATH_LEN];
  if (!filePath(path, sizeof path, MAPS_DIR, "x", MAP_EXT)) return 0;
  char* slash = strrchr(path, '/');
  if (slash) *slash = 0;
  size_t total = 0;
  DIR* d = opendir(path);
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    size_t n = strlen(e->d_name);
    struct stat st;
    if (n <= 4 || strcmp(e->d_name + n - 4, ".map") != 0 || fstatat(dirfd(d), e->d_name, &st, 0) != 0) continue;
    if (S_ISREG(st.st_mode)) total += (size_t)st.st_size;
  }
  closedir(d);
  return total;
}

std::vector<std::string> projectMapNames() {
  std::vector<std::string> names;
  {
    for (int i = 0; i < project.nbreMaps; i++) {
      Map* m = openMapAt(i);
      if (m && m->filename) names.push_back(m->filename);
    }
  }
  char path[FILE_PATH_LEN];
  if (filePath(path, sizeof path, "maps", "x", "map")) {
    char* slash = strrchr(path, '/');
    if (slash) *slash = 0;
    if (DIR* d = opendir(path)) {
      while (dirent* e = readdir(d)) {
        size_t n = strlen(e->d_name);
        if (n <= 4 || n - 4 >= LAYER_NAME_LEN || strcmp(e->d_name + n - 4, ".map") != 0) continue;
        std::string name(e->d_name, n - 4);
        if (name.find_first_of(" \t.") != std::string::npos) continue;  // not a name we write
        names.push_back(name);
      }
      closedir(d);
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool projectMapBytes(const char* name, std::vector<unsigned char>& out) {
  {
    Map* m = openMapAt(getMap(name));
    if (m) return mapBytes(m, out);
  }
  return readMapFileBytes(name, out);
}

bool replaceProjectMap(const char* name, const unsigned char* bytes, size_t n, char* kept, size_t cap, char* why,
                       size_t whyCap) {
  Map in;
  if (validName(name) && !parsed(bytes, n, &in)) {
    printf("Map %s recue illisible: ignoree.\n", name);
    if (why && whyCap) snprintf(why, whyCap, "illisible");
    kept[0] = 0;
    return false;
  }
  return replaceProjectMapWith(name, &in, true, kept, cap, why, whyCap);
}

bool replaceProjectMapWith(const char* name, Map* given, bool keepOld, char* kept, size_t cap, char* why,
                           size_t whyCap) {
  char reason[REASON_LEN];
  if (!why || !whyCap) why = reason, whyCap = sizeof reason;
  snprintf(why, whyCap, "nom invalide");
  kept[0] = 0;
  Map in = *given;
  *given = Map();
  if (!validName(name)) {
    freeMapRecord(&in);
    return false;
  }
  // Checked whole before anything changes: nothing of it is applied otherwise.
  if (!mapFitsHere(&in, getMap(name) < project.nbreMaps, why, whyCap)) {
    printf("Map %s recue refusee: %s.\n", name, why);
    freeMapRecord(&in);
    return false;
  }
  snprintf(why, whyCap, "ecriture impossible");
  MapDigest want = mapDigest(&in);
  MapDigest have;
  bool had = projectMapDigest(name, &have);
  if (had && have == want) {
    freeMapRecord(&in);
    return true;  // already this content
  }
  std::vector<unsigned char> old;
  if (had && keepOld &&
      (!projectMapBytes(name, old) || !writeConflict(name, MAP_EXT, old.data(), old.size(), kept, cap))) {
    freeMapRecord(&in);
    return false;
  }
  int slot = getMap(name);
  Map* m = openMapAt(slot);
  bool ok;
  if (m) {
    takeContent(m, in);
    ok = true;  // a failed save leaves the map changed: saved later
    if (!saveMap(slot)) printf("Map %s remplacee, enregistrement differe.\n", name);
  } else {
    free(in.filename);
    in.filename = strdup(name);
    ok = in.filename && writeMapFile(name, &in);
  }
  freeMapRecord(&in);
  if (ok) mapReplaced(name);
  return ok;
}

bool writeConflictText(const char* name, const std::string& text, char* path, size_t cap) {
  path[0] = 0;
  return validName(name) && writeConflict(name, CONFLICT_REPORT_EXT, text.data(), text.size(), path, cap);
}
