// The map to export and its tilesets, the project folder, whole-file
// writes, and the pieces of Tiled's layer data both readers share.
#include <SDL/SDL.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>

#include "exchange/exchange.h"
#include "exchange/internal.h"
#include "model/sidecar.h"
#include "model/mapfile.h"
#include "core/core.h"
#include "core/files.h"
#include "toolkit/files.h"
#include "toolkit/tilecache.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"

namespace fs = std::filesystem;

namespace {
const size_t INFLATE_CHUNK = 1 << 16;

bool endsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The map file's bytes, fully checked by the model's reader.
bool readMapRecord(const std::string& name, Map* m, std::string* error) {
  char path[FILE_PATH_LEN];
  if (!validName(name.c_str()) || !filePath(path, sizeof path, MAPS_DIR, name.c_str(), MAP_EXT)) {
    *error = "bad map name '" + name + "'";
    return false;
  }
  return readMapPath(path, m, error);
}

// The pass conditions of a tileset: its file's bytes, passable past its end.
std::vector<unsigned char> readPass(const std::string& name, int tiles) {
  std::vector<unsigned char> pass((size_t)tiles * PASS_BYTES_PER_TILE, 1);
  char path[FILE_PATH_LEN];
  if (!filePath(path, sizeof path, PASS_DIR, name.c_str(), PASS_EXT)) return pass;
  FILE* f = fopen(path, "rb");
  if (!f) return pass;
  size_t got = fread(pass.data(), 1, pass.size(), f);
  (void)got;
  fclose(f);
  return pass;
}

// Tiles of a sheet as the view draws them, to tell an empty tile 0.
bool tileZeroEmpty(SDL_Surface* s) {
  static SDL_Surface* probe = SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0, 0, 0, 0);
  const TileCache* c = probe ? tileCacheGet(s, probe) : nullptr;
  return c && !c->kind.empty() && c->kind[0] == TILE_EMPTY;
}

std::string imageRef(const std::string& name, const std::string& outDir) {
  std::error_code ec;
  fs::path image = fs::weakly_canonical(fs::absolute(std::string(projectPath) + "layers/" + name + ".png"), ec);
  fs::path base = fs::weakly_canonical(fs::absolute(outDir.empty() ? "." : outDir), ec);
  fs::path rel = image.lexically_relative(base);
  return rel.empty() ? image.string() : rel.string();
}

bool loadSet(const std::string& name, const std::string& outDir, OutTileset* t, std::string* error) {
  t->name = name;
  t->s = tilesetLoad(name.c_str());
  if (!t->s) {
    *error = "cannot read tileset image layers/" + name + ".png";
    return false;
  }
  t->w = t->s->w;
  t->h = t->s->h;
  t->columns = t->w / TILE;
  t->count = (int)tilesetCounts(t->w, t->h).tiles;
  Uint8 r, g, b;
  SDL_GetRGB(getpixel(t->s, 0, 0), t->s->format, &r, &g, &b);
  t->trans = (unsigned)r << 16 | (unsigned)g << 8 | b;
  t->emptyZero = t->count > 0 && tileZeroEmpty(t->s);
  t->pass = readPass(name, t->count);
  t->image = imageRef(name, outDir);
  return true;
}

bool checkCells(const ExportPlan& p, int i, std::string* error) {
  const Layer* l = p.map.layer[i];
  const OutTileset& t = p.sets[p.layerSet[i]];
  size_t cells = (size_t)p.map.w * p.map.h;
  for (size_t c = 0; c < cells; c++) {
    int32_t v = l->e[c];
    if (v >= 0 && v < t.count) continue;
    char line[256];
    snprintf(line, sizeof line, "layer %d, cell (%zu, %zu) holds tile %d, outside tileset '%s' (%d tiles)",
             i, c % p.map.w, c / p.map.w, (int)v, t.name.c_str(), t.count);
    *error = line;
    return false;
  }
  return true;
}
}  // namespace

bool readMapPath(const std::string& path, Map* m, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (f) fclose(f);
    *error = "cannot read map file " + path;
    return false;
  }
  MapRead r = readMapStream(f, (size_t)st.st_size, m);
  fclose(f);
  if (r == MAP_READ_OK || r == MAP_READ_BAD_END) return true;
  *error = "map file " + path +
           (r == MAP_READ_TOO_BIG ? " is too big" : r == MAP_READ_NO_MEMORY ? " does not fit in memory" : " is not a readable map");
  return false;
}

ExportPlan::~ExportPlan() {
  for (OutTileset& t : sets) tilesetFree(t.s);
  freeMapRecord(&map);
}

ExchangeFormat exchangeFormatOf(const std::string& path) {
  std::string p = lower(path);
  if (endsWith(p, ".tmx")) return FORMAT_TMX;
  if (endsWith(p, ".tmj") || endsWith(p, ".json")) return FORMAT_JSON;
  if (endsWith(p, ".png")) return FORMAT_PNG;
  return FORMAT_NONE;
}

bool useProject(const std::string& arg, std::string* error) {
  std::string dir = arg;
  if (endsWith(dir, PROJECT_FILE)) dir.resize(dir.size() - strlen(PROJECT_FILE));
  if (dir.empty()) dir = "./";
  if (dir.back() != '/') dir += '/';
  if (dir.size() >= sizeof projectPath || !isFile(dir + PROJECT_FILE)) {
    *error = "no project at " + arg + " (" + PROJECT_FILE + " not found)";
    return false;
  }
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  return true;
}

bool loadExportPlan(const std::string& map, const std::string& outDir, bool check,
                    ExportPlan* p, std::string* error) {
  if (!readMapRecord(map, &p->map, error)) return false;
  // The layers' names and the instances from the map's sidecar; a broken one
  // is left as it is (the export writes nothing into the project) and the
  // tilesets' names go, and no instance.
  char why[NAME_LEN];
  if (sidecarLoad(&p->map, map.c_str(), false, why, sizeof why) == SIDECAR_BROKEN)
    fprintf(stderr, "warning: %s\n", why);
  planObjects(p);
  return planTilesets(outDir, check, p, error);
}

bool planTilesets(const std::string& outDir, bool check, ExportPlan* p, std::string* error) {
  for (int i = 0; i < p->map.layers; i++) {
    const Layer* l = p->map.layer[i];
    int found = -1;
    for (size_t k = 0; k < p->sets.size() && found < 0; k++)
      if (p->sets[k].name == l->layerGFX) found = (int)k;
    if (found < 0) {
      if (!validName(l->layerGFX)) {
        *error = std::string("layer ") + std::to_string(i) + " names a bad tileset";
        return false;
      }
      p->sets.emplace_back();
      if (!loadSet(l->layerGFX, outDir, &p->sets.back(), error)) return false;
      found = (int)p->sets.size() - 1;
    }
    p->layerSet.push_back(found);
  }
  // Gids of the tilesets that tiled layers use, in order of first use.
  uint32_t next = 1;
  for (int i = 0; i < p->map.layers; i++) {
    OutTileset& t = p->sets[p->layerSet[i]];
    if (p->map.layer[i]->bg || t.firstgid) continue;
    if (t.count == 0 && check) {
      *error = "tileset '" + t.name + "' has no whole 16x16 tile";
      return false;
    }
    t.firstgid = next;
    next += (uint32_t)t.count;
  }
  for (int i = 0; check && i < p->map.layers; i++)
    if (!p->map.layer[i]->bg && !checkCells(*p, i, error)) return false;
  return true;
}

uint32_t exportGid(const OutTileset& t, int32_t element) {
  return element == 0 && t.emptyZero ? 0 : t.firstgid + (uint32_t)element;
}

std::string cellsCsv(const ExportPlan& p, int layer, bool gids) {
  const Layer* l = p.map.layer[layer];
  const OutTileset& t = p.sets[p.layerSet[layer]];
  std::string out;
  out.reserve((size_t)p.map.w * p.map.h * 4 + p.map.h);
  char num[16];
  for (uint32_t y = 0; y < p.map.h; y++) {
    out += '\n';
    for (uint32_t x = 0; x < p.map.w; x++) {
      int32_t v = l->e[(size_t)y * p.map.w + x];
      int n = gids ? snprintf(num, sizeof num, "%u", exportGid(t, v)) : snprintf(num, sizeof num, "%d", (int)v);
      out.append(num, (size_t)n);
      if (x + 1 < p.map.w || y + 1 < p.map.h) out += ',';
    }
  }
  out += '\n';
  return out;
}

bool writeFileAtomically(const std::string& path, bool (*write)(FILE*, const void*), const void* ctx,
                         std::string* error) {
  // A unique temporary name: an editor may be saving the same file.
  std::vector<char> temp(path.size() + 16);
  FILE* f = replacingOpen(path.c_str(), nullptr, temp.data(), temp.size());
  int err = errno;
  if (f && replacingCommit(f, temp.data(), path.c_str(), write(f, ctx) && !ferror(f), &err)) return true;
  *error = "cannot write " + path + ": " + strerror(err ? err : EIO);
  return false;
}

bool exportMap(const std::string& project, const std::string& map, const std::string& out,
               std::string* error) {
  ExchangeFormat f = exchangeFormatOf(out);
  if (f == FORMAT_NONE) {
    *error = "unknown output format for " + out + " (use .tmx, .tmj, .json or .png)";
    return false;
  }
  if (!useProject(project, error)) return false;
  std::string dir = fs::path(out).parent_path().string();
  ExportPlan p;
  if (!loadExportPlan(map, dir, f != FORMAT_PNG, &p, error)) return false;
  if (f == FORMAT_TMX) return exportTmx(p, out, error);
  if (f == FORMAT_JSON) return exportJson(p, out, error);
  return exportPng(p, out, error);
}

bool parseLong(const std::string& s, long* v) {
  if (s.empty()) return false;
  char* end;
  errno = 0;
  long n = strtol(s.c_str(), &end, 10);
  if (errno || *end) return false;
  *v = n;
  return true;
}

bool parseCsvGids(const std::string& text, std::vector<uint32_t>* gids) {
  const char* p = text.c_str();
  for (;;) {
    while (*p == ',' || isspace((unsigned char)*p)) p++;
    if (!*p) return true;
    char* end;
    errno = 0;
    unsigned long v = strtoul(p, &end, 10);
    if (end == p || errno || v > 0xFFFFFFFFul || *p == '-') return false;
    gids->push_back((uint32_t)v);
    p = end;
  }
}

namespace {
int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool base64Decode(const std::string& text, std::string* out) {
  unsigned acc = 0;
  int bits = 0;
  for (char c : text) {
    if (isspace((unsigned char)c) || c == '=') continue;
    int v = base64Value(c);
    if (v < 0) return false;
    acc = acc << 6 | (unsigned)v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      *out += (char)(acc >> bits & 0xFF);
    }
  }
  return true;
}

// zlib or gzip (told apart by their headers).
bool inflateAll(const std::string& in, std::string* out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, 15 + 32) != Z_OK) return false;
  z.next_in = (Bytef*)in.data();
  z.avail_in = (uInt)in.size();
  std::vector<char> buf(INFLATE_CHUNK);
  int r;
  do {
    z.next_out = (Bytef*)buf.data();
    z.avail_out = (uInt)buf.size();
    r = inflate(&z, Z_NO_FLUSH);
    out->append(buf.data(), buf.size() - z.avail_out);
  } while (r == Z_OK);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}
}  // namespace

bool decodeLayerData(const std::string& text, const std::string& compression,
                     std::vector<uint32_t>* gids, std::string* error) {
  std::string raw, bytes;
  if (!base64Decode(text, &raw)) {
    *error = "bad base64 layer data";
    return false;
  }
  if (compression == "zlib" || compression == "gzip") {
    if (!inflateAll(raw, &bytes)) {
      *error = "bad " + compression + " layer data";
      return false;
    }
  } else if (compression.empty()) {
    bytes.swap(raw);
  } else {
    *error = "unsupported layer data compression '" + compression + "'";
    return false;
  }
  const unsigned char* b = (const unsigned char*)bytes.data();
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
    gids->push_back((uint32_t)b[i] | (uint32_t)b[i + 1] << 8 | (uint32_t)b[i + 2] << 16 | (uint32_t)b[i + 3] << 24);
  return true;
}

std::string resolveBeside(const std::string& from, const std::string& name) {
  fs::path p(name);
  if (p.is_absolute()) return p.lexically_normal().string();
  return (fs::path(from).parent_path() / p).lexically_normal().string();
}

bool readExternalTileset(const std::string& path, InTileset* t, std::string* error) {
  ExchangeFormat f = exchangeFormatOf(path);
  if (f == FORMAT_JSON || endsWith(lower(path), ".tsj")) return readTsj(path, t, error);
  return readTsx(path, t, error);
}
