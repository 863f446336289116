// libFuzzer target: the map file parser. Whatever the bytes, parsing must not
// crash or read out of bounds; a map it accepts must write back and parse
// again to the same map.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "model/mapfile.h"

namespace {
void check(bool c) {
  if (!c) abort();
}

void sameMap(const Map& a, const Map& b) {
  check(a.w == b.w && a.h == b.h && a.viewX == b.viewX && a.viewY == b.viewY);
  check(a.layers == b.layers && strcmp(a.sysname, b.sysname) == 0);
  size_t cells = (size_t)a.w * a.h;
  for (int i = 0; i < a.layers; i++) {
    const Layer* x = a.layer[i];
    const Layer* y = b.layer[i];
    check(strcmp(x->layerGFX, y->layerGFX) == 0 && x->bg == y->bg && x->x == y->x && x->y == y->y);
    check(cells == 0 || memcmp(x->e, y->e, cells * 4) == 0);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Map m;
  MapRead r = readMapBytes(data, size, &m);
  if (r != MAP_READ_OK && r != MAP_READ_BAD_END) {
    check(m.layer == nullptr && m.sysname == nullptr && m.layers == 0);
    return 0;
  }
  check(m.layers >= 1 && (uint64_t)m.w * m.h <= (uint64_t)MAX_LAYER_CELLS);
  // Nothing allocated beyond what the file holds.
  check((uint64_t)m.w * m.h * 4 * m.layers <= size);
  for (int i = 0; i < m.layers; i++) check(m.layer[i] && m.layer[i]->e && m.layer[i]->layerGFX);
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  check(f && writeMapStream(f, &m));
  fclose(f);
  Map again;
  check(readMapBytes((const uint8_t*)buf, len, &again) == MAP_READ_OK);
  sameMap(m, again);
  free(buf);
  freeMapRecord(&again);
  freeMapRecord(&m);
  return 0;
}
