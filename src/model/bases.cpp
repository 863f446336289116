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
#include "model/sidecar.h"

namespace {
const char MAGIC[] = "MOSKABASE";
const char SIDE_MAGIC[] = "MOSKABASESIDE";
const int FORMAT = 1;
const size_t HEADER_MAX = 128;                 // "MOSKABASESIDE 1 <32 hex> <32 hex> <size>\n"
const unsigned long long RAW_MAX = 1ull << 31;  // as the largest map file read whole
const size_t INFLATE_STEP = 1 << 20;

bool basePath(const char* name, char* out, size_t cap) {
  return validName(name) && filePath(out, cap, BASES_DIR, name, BASE_EXT);
}
bool sidePath(const char* name, char* out, size_t cap) {
  return validName(name) && filePath(out, cap, BASES_DIR, name, BASE_SIDECAR_EXT);
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

// A sidecar base's header: its map base's digest, the folded one, the size.
bool readSideHeader(FILE* f, MapDigest* map, MapDigest* folded, unsigned long long* raw) {
  char line[HEADER_MAX], magic[16], hex[DIGEST_HEX + 2], hex2[DIGEST_HEX + 2];
  int format = 0;
  if (!fgets(line, sizeof line, f) || !strchr(line, '\n')) return false;
  return sscanf(line, "%15s %d %33s %33s %llu", magic, &format, hex, hex2, raw) == 5 &&
         strcmp(magic, SIDE_MAGIC) == 0 && format == FORMAT && parseDigestHex(hex, map) &&
         parseDigestHex(hex2, folded) && *raw <= SIDECAR_MAX_BYTES;
}

// Inflates the rest of f into exactly `raw` bytes.
bool inflateRest(FILE* f, std::vector<unsigned char>& out, size_t raw) {
  out.clear();
  if (raw == 0) return fgetc(f) == EOF;  // an empty sidecar: no stream
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

namespace {
// `header` then `n` bytes as one zlib stream (none when n is 0), written
// crash-safe as `path`; `what` names the file in the log.
bool writeCompressed(const char* path, const std::string& header, const unsigned char* bytes, size_t n,
                     const char* what, const char* name) {
  char temp[FILE_PATH_LEN + 8];
  if (!makeFolder(temp, sizeof temp)) return false;
  std::vector<unsigned char> comp;
  uLongf c = n ? compressBound((uLong)n) : 0;
  try {
    comp.resize(c);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (n && compress2(comp.data(), &c, bytes, (uLong)n, Z_BEST_SPEED) != Z_OK) return false;
  FILE* f = replacingOpen(path, nullptr, temp, sizeof temp);
  int err = errno;
  bool ok = f && fputs(header.c_str(), f) >= 0 && (c == 0 || fwrite(comp.data(), 1, c, f) == c);  // an empty sidecar: no bytes (and no buffer)
  if (f && !replacingCommit(f, temp, path, ok, &err)) ok = false;
  if (!ok) printf("ERREUR: %s de la map %s impossible a ecrire (%s)!\n", what, name, strerror(err));
  return ok;
}

std::string hexOf(const MapDigest& d) {
  char hex[DIGEST_HEX + 1];
  digestHex(d, hex);
  return hex;
}

MapDigest folded(const MapDigest& d, const std::string& sidecar) {
  return sidecar.empty() ? d : digestFold(d, sidecar.data(), sidecar.size());
}
}  // namespace

bool writeBase(const char* name, const std::vector<unsigned char>& bytes, const MapDigest& d,
               const std::string& sidecar) {
  char path[FILE_PATH_LEN], side[FILE_PATH_LEN];
  if (bytes.empty() || !basePath(name, path, sizeof path) || !sidePath(name, side, sizeof side)) return false;
  // The sidecar first: a crash between the two leaves it naming the new map
  // base beside the old one, which makes it no base (never a wrong one).
  std::string head = std::string(SIDE_MAGIC) + " " + std::to_string(FORMAT) + " " + hexOf(d) + " " +
                     hexOf(folded(d, sidecar)) + " " + std::to_string(sidecar.size()) + "\n";
  bool sideOk = writeCompressed(side, head, (const unsigned char*)sidecar.data(), sidecar.size(), "base du sidecar", name);
  if (!sideOk) unlink(side);  // an old one would pair with the new map base
  head = std::string(MAGIC) + " " + std::to_string(FORMAT) + " " + hexOf(d) + " " + std::to_string(bytes.size()) + "\n";
  return writeCompressed(path, head, bytes.data(), bytes.size(), "base", name) && sideOk;
}

bool baseFoldedDigest(const char* name, MapDigest* d) {
  if (!baseDigest(name, d)) return false;
  char side[FILE_PATH_LEN];
  FILE* f = sidePath(name, side, sizeof side) ? fopen(side, "rb") : nullptr;
  if (!f) return true;
  MapDigest map, fold;
  unsigned long long raw = 0;
  if (readSideHeader(f, &map, &fold, &raw) && map == *d) *d = fold;
  fclose(f);
  return true;
}

bool readBaseSidecar(const char* name, const MapDigest& mapBase, std::string* out) {
  out->clear();
  char side[FILE_PATH_LEN];
  FILE* f = sidePath(name, side, sizeof side) ? fopen(side, "rb") : nullptr;
  if (!f) return false;
  MapDigest map, fold;
  unsigned long long raw = 0;
  std::vector<unsigned char> bytes;
  bool ok = false;
  try {
    ok = readSideHeader(f, &map, &fold, &raw) && map == mapBase && inflateRest(f, bytes, (size_t)raw);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  fclose(f);
  if (ok) out->assign(bytes.begin(), bytes.end());
  if (ok && folded(mapBase, *out) == fold) return true;
  printf("Base du sidecar de la map %s absente ou illisible: ignoree.\n", name);
  out->clear();
  return false;
}

int pruneBases(const std::vector<std::string>& names) {
  char path[FILE_PATH_LEN];
  if (!filePath(path, sizeof path, BASES_DIR, "x", BASE_EXT)) return 0;
  *strrchr(path, '/') = 0;
  DIR* dir = opendir(path);
  if (!dir) return 0;
  const std::string exts[] = {std::string(".") + BASE_EXT, std::string(".") + BASE_SIDECAR_EXT};
  int removed = 0;
  while (dirent* e = readdir(dir)) {
    std::string file = e->d_name, map;
    if (file == "." || file == "..") continue;
    bool base = false;
    for (const std::string& ext : exts)
      if (!base && file.size() > ext.size() && file.compare(file.size() - ext.size(), ext.size(), ext) == 0)
        base = true, map = file.substr(0, file.size() - ext.size());
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
