// Map file speed against plain stdio on the same bytes, save and load apart,
// and the cost of painting one cell on a small and a huge map.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "benchutil.h"
#include "model/model.h"
#include "shell/shell.h"

namespace {
const unsigned SIDE = 2048;
const int LAYERS = 8;
const int ROUNDS = 5;
const int PAINTS = 1000000;

// The baseline: the same cells with plain stdio, one block per layer, into
// a fresh file (fsync'd like a save) and back into fresh memory.
double rawWrite(const std::string& path, const std::vector<std::vector<int32_t>>& layers) {
  double t = benchNow();
  FILE* f = fopen(path.c_str(), "wb");
  for (auto& l : layers) fwrite(l.data(), 4, l.size(), f);
  fflush(f);
  fsync(fileno(f));
  fclose(f);
  return benchNow() - t;
}

double rawRead(const std::string& path, const std::vector<std::vector<int32_t>>& layers) {
  double t = benchNow();
  FILE* f = fopen(path.c_str(), "rb");
  std::vector<int32_t*> fresh;
  for (auto& l : layers) {
    int32_t* e = (int32_t*)malloc(l.size() * 4);
    if (!e || fread(e, 4, l.size(), f) != l.size()) abort();
    fresh.push_back(e);
  }
  fclose(f);
  double took = benchNow() - t;
  for (int32_t* e : fresh) free(e);
  return took;
}

// The loaded map against what was saved: every layer, cell and field.
bool sameMap(const Map* m, const std::vector<std::vector<int32_t>>& layers) {
  if (!m || m->w != SIDE || m->h != SIDE || m->layers != LAYERS || strcmp(m->sysname, "New map") != 0) return false;
  for (int l = 0; l < LAYERS; l++)
    if (memcmp(m->layer[l]->e, layers[l].data(), layers[l].size() * 4) != 0 ||
        strcmp(m->layer[l]->layerGFX, "default") != 0)
      return false;
  return true;
}

// One cell written at spread positions (a fixed pseudo-random walk over the
// whole map), with the log to /dev/null; and the log line alone, formatted
// the same way, so the difference is the cell's own cost.
void paintCost(unsigned side, double* withLog, double* logOnly) {
  int q = benchLogAway();
  newMapFile("paint", side, side);
  int slot = openMapInFreeSlot("paint");
  std::vector<double> cell, line;
  for (int round = 0; round < ROUNDS; round++) {
    uint32_t seed = 1;
    double t = benchNow();
    for (int i = 0; i < PAINTS; i++) {
      seed = seed * 1664525u + 1013904223u;
      setElementAbsolute(slot, 0, (seed >> 8) % side, (seed * 7 >> 8) % side, i);
    }
    cell.push_back((benchNow() - t) / PAINTS);
    seed = 1;
    t = benchNow();
    for (int i = 0; i < PAINTS; i++) {
      seed = seed * 1664525u + 1013904223u;
      printf("setElementAbsolute(%d,%d,%ld,%ld,%d);\n", slot, 0, (long)((seed >> 8) % side),
             (long)((seed * 7 >> 8) % side), i);
    }
    line.push_back((benchNow() - t) / PAINTS);
  }
  *withLog = benchMedian(cell);
  *logOnly = benchMedian(line);
  closeMapi(slot, "paint");
  benchLogBack(q);
}
}  // namespace

int main() {
  std::string p = benchProject();
  printf("Map %ux%u, %d layers: %.0f MiB of cells, project %s\n", SIDE, SIDE, LAYERS,
         (double)SIDE * SIDE * 4 * LAYERS / (1 << 20), p.c_str());
  std::vector<std::vector<int32_t>> raw(LAYERS, std::vector<int32_t>((size_t)SIDE * SIDE));
  for (int l = 0; l < LAYERS; l++)
    for (size_t i = 0; i < raw[l].size(); i++) raw[l][i] = (int32_t)(i * (l + 1));

  std::vector<double> save, load, rawSave, rawLoad;
  for (int round = 0; round < ROUNDS; round++) {
    // Fresh files on both sides every round; who goes first alternates.
    std::string name = "bench" + std::to_string(round), rawPath = p + "raw" + std::to_string(round) + ".bin";
    bool rawFirst = round % 2;
    if (rawFirst) rawSave.push_back(rawWrite(rawPath, raw));
    int q = benchLogAway();
    newMapFile(name.c_str(), SIDE, SIDE);
    int slot = openMapInFreeSlot(name.c_str());
    Map* m = project.listeMaps[slot];
    while (m->layers < LAYERS) addLayer(m, "default", false);
    for (int l = 0; l < LAYERS; l++) memcpy(m->layer[l]->e, raw[l].data(), raw[l].size() * 4);
    double t = benchNow();
    bool saved = closeMapi(slot, name.c_str());
    save.push_back(benchNow() - t);
    benchLogBack(q);
    if (!rawFirst) rawSave.push_back(rawWrite(rawPath, raw));
    if (rawFirst) rawLoad.push_back(rawRead(rawPath, raw));
    q = benchLogAway();
    t = benchNow();
    slot = openMapInFreeSlot(name.c_str());
    load.push_back(benchNow() - t);
    bool same = slot >= 0 && sameMap(project.listeMaps[slot], raw);
    if (slot >= 0) closeMapi(slot, name.c_str());
    benchLogBack(q);
    if (!rawFirst) rawLoad.push_back(rawRead(rawPath, raw));
    if (!saved || !same) {
      printf("save or reload failed: the loaded map differs\n");
      return 1;
    }
  }
  printf("median of %d rounds, fresh files, order alternating; every loaded map compared whole\n", ROUNDS);
  printf("save (closeMapi: write, fsync, rename): %7.1f ms   fwrite + fsync: %7.1f ms   ratio %.2f\n",
         benchMedian(save) * 1e3, benchMedian(rawSave) * 1e3, benchMedian(save) / benchMedian(rawSave));
  printf("load (openMapi):                        %7.1f ms   fread into new memory: %7.1f ms   ratio %.2f\n",
         benchMedian(load) * 1e3, benchMedian(rawLoad) * 1e3, benchMedian(load) / benchMedian(rawLoad));

  double small, smallLog, big, bigLog;
  paintCost(16, &small, &smallLog);
  paintCost(4096, &big, &bigLog);
  printf("paint one cell, spread cells, without the log line: 16x16 %.1f ns, 4096x4096 %.1f ns "
         "(with the log line to /dev/null %.0f / %.0f ns)\n",
         (small - smallLog) * 1e9, (big - bigLog) * 1e9, small * 1e9, big * 1e9);
  std::string cmd = "rm -rf '" + p + "'";
  if (system(cmd.c_str()) != 0) printf("could not remove %s\n", p.c_str());
  return 0;
}
