// The map file layout: "$", sysname, stored file name, w, h, viewX, viewY,
// the layer count, the layer records from the top layer down, "$".
// Integers little-endian; strings with a 16-bit length counting their NUL.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "model/entities.h"
#include "model/mapfile.h"

namespace {
const unsigned char MARKER = '$';
const size_t STRING_MAX = 0xFFFF;            // a 16-bit length, NUL included
const size_t LAYER_FIXED = 2 + 1 + 2 + 2;    // G, bg, x, y
const size_t HEADER_FIXED = 4 * 4 + 2;       // w, h, viewX, viewY, L
const size_t ZERO_CHUNK = 1 << 20;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
void swapCells(int32_t* e, size_t n) {
  for (size_t i = 0; i < n; i++) e[i] = (int32_t)__builtin_bswap32((uint32_t)e[i]);
}
#else
void swapCells(int32_t*, size_t) {}  // the file order is the host order
#endif

// Bytes still to read, from memory or from a stream.
struct Source {
  const unsigned char* data;
  FILE* f;
  size_t left;
};

bool take(Source& s, void* dst, size_t n) {
  if (n > s.left) return false;
  if (s.data) {
    if (n) memcpy(dst, s.data, n);
    s.data += n;
  } else if (n && fread(dst, 1, n, s.f) != n) {
    s.left = 0;
    return false;
  }
  s.left -= n;
  return true;
}

bool skip(Source& s, size_t n) {
  if (n > s.left) return false;
  if (s.data) {
    s.data += n;
  } else if (n && fseek(s.f, (long)n, SEEK_CUR) != 0) {
    s.left = 0;
    return false;
  }
  s.left -= n;
  return true;
}

bool take16(Source& s, uint16_t* v) {
  unsigned char b[2];
  if (!take(s, b, 2)) return false;
  *v = (uint16_t)(b[0] | b[1] << 8);
  return true;
}

bool take32(Source& s, uint32_t* v) {
  unsigned char b[4];
  if (!take(s, b, 4)) return false;
  *v = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  return true;
}

// A stored string: its length, then its bytes, the last of which must be
// the NUL. min is the size of the buffer to allocate at least.
MapRead takeString(Source& s, char** out, size_t min) {
  uint16_t n;
  if (!take16(s, &n) || n == 0 || n > s.left) return MAP_READ_CORRUPT;
  char* p = (char*)malloc(n > min ? n : min);
  if (!p) return MAP_READ_NO_MEMORY;
  if (!take(s, p, n) || p[n - 1] != 0) {
    free(p);
    return MAP_READ_CORRUPT;
  }
  *out = p;
  return MAP_READ_OK;
}

MapRead readLayer(Source& s, size_t cells, Layer* l) {
  MapRead r = takeString(s, &l->layerGFX, LAYER_NAME_LEN);
  if (r != MAP_READ_OK) return r;
  if (cells * 4 + 5 > s.left) return MAP_READ_CORRUPT;
  l->e = allocCells(cells);
  if (!l->e) return MAP_READ_NO_MEMORY;
  if (!take(s, l->e, cells * 4)) return MAP_READ_CORRUPT;
  swapCells(l->e, cells);
  unsigned char bg;
  uint16_t x, y;
  if (!take(s, &bg, 1) || !take16(s, &x) || !take16(s, &y)) return MAP_READ_CORRUPT;
  l->bg = (char)bg;
  l->x = (int16_t)x;
  l->y = (int16_t)y;
  return MAP_READ_OK;
}

MapRead readMap(Source& s, Map* m) {
  unsigned char c;
  if (!take(s, &c, 1) || c != MARKER) return MAP_READ_CORRUPT;
  MapRead r = takeString(s, &m->sysname, 1);
  if (r != MAP_READ_OK) return r;
  uint16_t stored;
  if (!take16(s, &stored) || stored == 0 || stored > s.left) return MAP_READ_CORRUPT;
  // The stored file name is not used, but it must be a string all the same.
  if (!skip(s, stored - 1) || !take(s, &c, 1) || c != 0) return MAP_READ_CORRUPT;
  uint16_t layers;
  if (s.left < HEADER_FIXED) return MAP_READ_CORRUPT;
  take32(s, &m->w);
  take32(s, &m->h);
  take32(s, &m->viewX);
  take32(s, &m->viewY);
  take16(s, &layers);
  uint64_t cells = (uint64_t)m->w * m->h;
  if (cells > (uint64_t)MAX_LAYER_CELLS) return MAP_READ_TOO_BIG;
  // A map keeps at least one layer; each record needs its fixed bytes, a
  // one-byte name and its cells, all before the end marker.
  if (layers == 0) return MAP_READ_CORRUPT;
  if ((uint64_t)layers * (LAYER_FIXED + 1 + 4 * cells) > s.left) return MAP_READ_CORRUPT;
  m->layer = new (std::nothrow) Layer*[layers]();
  if (!m->layer) return MAP_READ_NO_MEMORY;
  m->layers = layers;
  for (int i = layers - 1; i >= 0; i--) {
    m->layer[i] = new (std::nothrow) Layer();
    if (!m->layer[i]) return MAP_READ_NO_MEMORY;
    r = readLayer(s, (size_t)cells, m->layer[i]);
    if (r != MAP_READ_OK) return r;
  }
  if (!take(s, &c, 1) || c != MARKER) return MAP_READ_BAD_END;
  return MAP_READ_OK;
}

MapRead readSource(Source& s, Map* out) {
  *out = Map();
  MapRead r = readMap(s, out);
  if (r != MAP_READ_OK && r != MAP_READ_BAD_END) freeMapRecord(out);
  return r;
}

bool put(FILE* f, const void* p, size_t n) { return n == 0 || fwrite(p, 1, n, f) == n; }

bool put16(FILE* f, uint16_t v) {
  unsigned char b[2] = {(unsigned char)v, (unsigned char)(v >> 8)};
  return put(f, b, 2);
}

bool put32(FILE* f, uint32_t v) {
  unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
                        (unsigned char)(v >> 24)};
  return put(f, b, 4);
}

bool putString(FILE* f, const char* s) {
  size_t n = strlen(s ? s : "") + 1;
  if (n > STRING_MAX) return false;
  return put16(f, (uint16_t)n) && put(f, s ? s : "", n);
}

bool putCells(FILE* f, const int32_t* e, size_t cells) {
  if (!e) {
    static const unsigned char zeros[ZERO_CHUNK] = {0};
    for (size_t left = cells * 4; left > 0;) {
      size_t n = left < ZERO_CHUNK ? left : ZERO_CHUNK;
      if (!put(f, zeros, n)) return false;
      left -= n;
    }
    return true;
  }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (size_t i = 0; i < cells; i++)
    if (!put32(f, (uint32_t)e[i])) return false;
  return true;
#else
  return put(f, e, cells * 4);
#endif
}
}  // namespace

int32_t* allocCells(size_t cells) {
  // Plain pages: asking for huge pages (MADV_HUGEPAGE) made the kernel
  // compact memory first, which cost ten times the read of a big map.
  return (int32_t*)malloc(cells ? cells * 4 : 4);
}

MapRead readMapBytes(const unsigned char* data, size_t n, Map* out) {
  static const unsigned char none = 0;
  Source s = {data ? data : &none, nullptr, data ? n : 0};
  return readSource(s, out);
}

MapRead readMapStream(FILE* f, size_t size, Map* out) {
  Source s = {nullptr, f, size};
  return readSource(s, out);
}

bool writeMapStream(FILE* f, const Map* m) {
  size_t cells = (size_t)m->w * m->h;
  bool ok = put(f, &MARKER, 1) && putString(f, m->sysname) && putString(f, m->filename) &&
            put32(f, m->w) && put32(f, m->h) && put32(f, m->viewX) && put32(f, m->viewY) &&
            put16(f, m->layers);
  for (int i = m->layers - 1; ok && i >= 0; i--) {
    const Layer* l = m->layer[i];
    ok = putString(f, l->layerGFX) && putCells(f, l->e, cells) && put(f, &l->bg, 1) &&
         put16(f, (uint16_t)l->x) && put16(f, (uint16_t)l->y);
  }
  return ok && put(f, &MARKER, 1);
}

void freeMapRecord(Map* m) {
  if (m->layer) {
    for (int i = 0; i < m->layers; i++) {
      Layer* l = m->layer[i];
      if (!l) continue;
      free(l->e);
      free(l->layerGFX);
      free(l->name);
      delete l;
    }
    delete[] m->layer;
  }
  free(m->sysname);
  free(m->filename);
  free(m->sidecarKept);
  delete m->entities;  // the record's own: the reader alone (the fuzzer) frees it too
  *m = Map();
}
