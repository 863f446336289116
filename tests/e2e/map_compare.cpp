// Compares copies of one map saved by several editors: same size, same
// layers from the bottom up (tileset name, background flag and scroll
// values) and the same cells. The display name and the view position may
// differ (concurrent renames, local scrolling); both are printed.
//
//   map_compare FILE FILE...   exit 0 when all match, 1 when one differs,
//                              2 when one cannot be read
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "model/mapfile.h"

namespace {
const size_t MAX_FILE_BYTES = (size_t)1 << 30;

bool readWhole(const char* path, std::vector<unsigned char>& out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  out.clear();
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0 && out.size() <= MAX_FILE_BYTES)
    out.insert(out.end(), buf, buf + n);
  bool ok = !ferror(f) && out.size() <= MAX_FILE_BYTES;
  fclose(f);
  return ok;
}

const char* orEmpty(const char* s) { return s ? s : ""; }

void describe(const char* path, const Map& m) {
  printf("%s: \"%s\" %ux%u view %u,%u, %u layers:", path, orEmpty(m.sysname), m.w, m.h, m.viewX,
         m.viewY, m.layers);
  for (int i = 0; i < m.layers; i++) {
    const Layer* l = m.layer[i];
    size_t used = 0;
    for (size_t c = 0; c < (size_t)m.w * m.h; c++) used += l->e[c] != 0;
    printf(" [%d %s bg=%d x=%d y=%d cells=%zu]", i, orEmpty(l->layerGFX), l->bg, l->x, l->y, used);
  }
  printf("\n");
}

// Empty when a and b agree, else what differs first.
bool sameMap(const Map& a, const Map& b, char* why, size_t cap) {
  if (a.w != b.w || a.h != b.h) {
    snprintf(why, cap, "size %ux%u <> %ux%u", a.w, a.h, b.w, b.h);
    return false;
  }
  if (a.layers != b.layers) {
    snprintf(why, cap, "%u layers <> %u", a.layers, b.layers);
    return false;
  }
  for (int i = 0; i < a.layers; i++) {
    const Layer* la = a.layer[i];
    const Layer* lb = b.layer[i];
    if (strcmp(orEmpty(la->layerGFX), orEmpty(lb->layerGFX)) != 0 || la->bg != lb->bg ||
        la->x != lb->x || la->y != lb->y) {
      snprintf(why, cap, "layer %d: %s bg=%d %d,%d <> %s bg=%d %d,%d", i, orEmpty(la->layerGFX),
               la->bg, la->x, la->y, orEmpty(lb->layerGFX), lb->bg, lb->x, lb->y);
      return false;
    }
    size_t cells = (size_t)a.w * a.h, diff = 0, first = 0;
    for (size_t c = 0; c < cells; c++)
      if (la->e[c] != lb->e[c] && diff++ == 0) first = c;
    if (diff) {
      snprintf(why, cap, "layer %d: %zu cells differ, first (%zu, %zu): %d <> %d", i, diff,
               first % a.w, first / a.w, la->e[first], lb->e[first]);
      return false;
    }
  }
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s FILE FILE...\n", argv[0]);
    return 2;
  }
  std::vector<Map> maps((size_t)argc - 1);
  std::vector<unsigned char> bytes;
  for (int i = 1; i < argc; i++) {
    MapRead r = readWhole(argv[i], bytes) ? readMapBytes(bytes.data(), bytes.size(), &maps[i - 1])
                                          : MAP_READ_CORRUPT;
    if (r != MAP_READ_OK) {
      printf("%s: unreadable map file (%d)\n", argv[i], (int)r);
      return 2;
    }
    describe(argv[i], maps[i - 1]);
  }
  int status = 0;
  char why[256];
  for (size_t i = 1; i < maps.size(); i++) {
    if (!sameMap(maps[0], maps[i], why, sizeof why)) {
      printf("DIFFERENT: %s and %s: %s\n", argv[1], argv[i + 1], why);
      status = 1;
    }
  }
  for (Map& m : maps) freeMapRecord(&m);
  return status;
}
