// Bases of maps in the project's hidden state folder (bases.h).
#include "model/bases.h"

#include <dirent.h>
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <new>

#include "core/files.h"
#include "model/mapfile.h"

namespace {
const char MAGIC[] = "MOSKABASE";
const int FORMAT = 1;
const size_t HEADER_MAX = 96;                  // "MOSKABASE 1 <32 hex> <size>\n"
const unsigned long long RAW_MAX = 1ull << 31;  // as the largest map file read whole
const size_t INFLATE_STEP = 1 << 20;

bool basePath(const char* name, char* out, size_t cap) {
  return validName(name) && filePath(out, cap, BASES_DIR, name, BASE_EXT);
}

// The bases folder (and the state folder above it) made when missing.
bool makeFolder(char* path, size_t cap) {
  if (!filePath(path, cap, BASES_DIR, "x", BASE_EXT)) return false;
  *strrchr(path, '/') = 0;
  char* inner = strrchr(path, '/');
  *inner = 0;
  bool ok = mkdir(path, 0777) == 0 || errno == EEXIST;
  *inner = '/';
  ok = ok && (mkdir(path, 0777) == 0 || errno == EEXIST);
  if (!ok) printf("ERREUR: dossier %s impossible a creer (%s)!\n", path, strerror(errno));
  return ok;
}

// The header's digest and raw size; f is left at the start of the stream.
bool readHeader(FILE* f, MapDigest* d, unsigned long long* raw) {
  char line[HEADER_MAX], magic[16], hex[DIGEST_HEX + 2];
  int format = 0;
  if (!fgets(line, sizeof line, f) || !strchr(line, '\n')) return false;
  return sscanf(line, "%15s %d %33s %llu", magic, &format, hex, raw) == 4 && strcmp(magic, MAGIC) == 0 &&
         format == FORMAT && parseDigestHex(hex, d) && *raw > 0 && *raw <= RAW_MAX;
}

// Inflates the rest of f into exactly `raw` bytes.
bool inflateRest(FILE* f, std::vector<unsigned char>& out, size_t raw) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  out.resize(raw);
  z.next_out = out.data();
  z.avail_out = (uInt)raw;
  std::vector<unsigned char> in(INFLATE_STEP);
  int r = Z_OK;
  while (r == Z_OK) {
    size_t n = fread(in.data(), 1, in.size(), f);
    if (n == 0) break;
    z.next_in = in.data();
    z.avail_in = (uInt)n;
    r = inflate(&z, Z_NO_FLUSH);
    if (r == Z_OK && z.avail_out == 0 && z.avail_in > 0) r = Z_DATA_ERROR;  // more than announced
  }
  bool ok = r == Z_STREAM_END && z.avail_out == 0 && z.avail_in == 0 && fgetc(f) == EOF;
  inflateEnd(&z);
  return ok;
}
}  // namespace

bool baseDigest(const char* name, MapDigest* d) {
  char path[FILE_PATH_LEN];
  if (!basePath(name, path, sizeof path)) return false;
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  unsigned long long raw = 0;
  bool ok = readHeader(f, d, &raw);
  fclose(f);
  return ok;
}

bool readBase(const char* name, Map* out, MapDigest* d) {
  *out = Map();
  char path[FILE_PATH_LEN];
  if (!basePath(name, path, sizeof path)) return false;
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  unsigned long long raw = 0;
  std::vector<unsigned char> bytes;
  bool ok = false;
  try {
    ok = readHeader(f, d, &raw) && inflateRest(f, bytes, (size_t)raw);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  fclose(f);
  if (ok) {
    MapRead r = readMapBytes(bytes.data(), bytes.size(), out);
    ok = (r == MAP_READ_OK || r == MAP_READ_BAD_END) && mapDigest(out) == *d;
  }
  if (!ok) {
    printf("Base de la map %s illisible: ignoree.\n", name);
    freeMapRecord(out);
  }
  return ok;
}

bool writeBase(const char* name, const std::vector<unsigned char>& bytes, const MapDigest& d) {
  char path[FILE_PATH_LEN], temp[FILE_PATH_LEN + 8], hex[DIGEST_HEX + 1];
  if (bytes.empty() || !basePath(name, path, sizeof path) || !makeFolder(temp, sizeof temp)) return false;
  std::vector<unsigned char> comp;
  uLongf n = compressBound((uLong)bytes.size());
  try {
    comp.resize(n);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (compress2(comp.data(), &n, bytes.data(), (uLong)bytes.size(), Z_BEST_SPEED) != Z_OK) return false;
  FILE* f = replacingOpen(path, nullptr, temp, sizeof temp);
  if (!f) {
    printf("ERREUR: base de la map %s impossible a ecrire (%s)!\n", name, strerror(errno));
    return false;
  }
  digestHex(d, hex);
  bool ok = fprintf(f, "%s %d %s %zu\n", MAGIC, FORMAT, hex, bytes.size()) > 0 &&
            fwrite(comp.data(), 1, n, f) == n;
  int err = 0;
  if (!replacingCommit(f, temp, path, ok, &err)) {
    printf("ERREUR: base de la map %s impossible a ecrire (%s)!\n", name, strerror(err));
    return false;
  }
  return true;
}

int pruneBases(const std::vector<std::string>& names) {
  char path[FILE_PATH_LEN];
  if (!filePath(path, sizeof path, BASES_DIR, "x", BASE_EXT)) return 0;
  *strrchr(path, '/') = 0;
  DIR* dir = opendir(path);
  if (!dir) return 0;
  const std::string ext = std::string(".") + BASE_EXT;
  int removed = 0;
  while (dirent* e = readdir(dir)) {
    std::string file = e->d_name;
    if (file == "." || file == "..") continue;
    bool base = file.size() > ext.size() && file.compare(file.size() - ext.size(), ext.size(), ext) == 0;
    std::string map = base ? file.substr(0, file.size() - ext.size()) : "";
    // Anything else in the folder is ours too: a temporary file a crash left.
    if (base && std::find(names.begin(), names.end(), map) != names.end()) continue;
    if (unlinkat(dirfd(dir), e->d_name, 0) == 0) {
      printf("Base: %s retire (aucune map de ce nom).\n", e->d_name);
      removed++;
    }
  }
  closedir(dir);
  return removed;
}
