// Map file speed against plain stdio on the same bytes, and the cost of
// painting one cell on a small and a huge map.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/model.h"
#include "shell/shell.h"

namespace {
const unsigned SIDE = 2048;
const int LAYERS = 8;
const int ROUNDS = 3;
const int PAINTS = 200000;

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// The log goes to /dev/null while timing; figures go to the real output.
int quietBegin() {
  fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  return saved;
}

void quietEnd(int saved) {
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

std::string makeProjectFolder() {
  char tmpl[] = "/var/tmp/moska-bench-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  std::string p = std::string(tmpl) + "/";
  for (const char* sub : {"layers", "layerspc", "maps", "models"}) mkdir((p + sub).c_str(), 0755);
  snprintf(projectPath, sizeof projectPath, "%s", p.c_str());
  return p;
}

// The cells of a map as the raw baseline writes them: one block per layer.
struct Raw {
  double write, read, readFresh;
};
Raw rawCopy(const std::string& path, std::vector<std::vector<int32_t>>& layers, bool sync) {
  Raw r;
  double t = now();
  FILE* f = fopen(path.c_str(), "wb");
  for (auto& l : layers) fwrite(l.data(), 4, l.size(), f);
  if (sync) fflush(f), fsync(fileno(f));
  fclose(f);
  r.write = now() - t;
  t = now();
  f = fopen(path.c_str(), "rb");
  for (auto& l : layers) {
    if (fread(l.data(), 4, l.size(), f) != l.size()) abort();
  }
  fclose(f);
  r.read = now() - t;
  // As a loader must: into memory allocated for the read.
  t = now();
  f = fopen(path.c_str(), "rb");
  std::vector<int32_t*> fresh;
  for (auto& l : layers) {
    int32_t* e = (int32_t*)malloc(l.size() * 4);
    if (!e || fread(e, 4, l.size(), f) != l.size()) abort();
    fresh.push_back(e);
  }
  fclose(f);
  r.readFresh = now() - t;
  for (int32_t* e : fresh) free(e);
  return r;
}

// The same 16x16 cells on both maps: only the map's size differs.
double paintCost(unsigned side) {
  int q = quietBegin();
  newMapFile("paint", side, side);
  int slot = openMapInFreeSlot("paint");
  double t = now();
  for (int i = 0; i < PAINTS; i++)
    setElementAbsolute(slot, 0, (unsigned long)i % 16, (unsigned long)(i / 16) % 16, i);
  double cost = (now() - t) / PAINTS;
  closeMapi(slot, "paint");
  quietEnd(q);
  return cost;
}
}  // namespace

int main() {
  std::string p = makeProjectFolder();
  printf("Map %ux%u, %d layers: %.0f MiB of cells, project %s\n", SIDE, SIDE, LAYERS,
         (double)SIDE * SIDE * 4 * LAYERS / (1 << 20), p.c_str());
  std::vector<std::vector<int32_t>> raw(LAYERS, std::vector<int32_t>((size_t)SIDE * SIDE));
  for (int l = 0; l < LAYERS; l++)
    for (size_t i = 0; i < raw[l].size(); i++) raw[l][i] = (int32_t)(i * (l + 1));

  double best[5] = {1e9, 1e9, 1e9, 1e9, 1e9};  // save, load, raw write+fsync, raw read, into new memory
  double bestNoSync[2] = {1e9, 1e9};
  for (int round = 0; round < ROUNDS; round++) {
    int q = quietBegin();
    newMapFile("bench", SIDE, SIDE);
    int slot = openMapInFreeSlot("bench");
    Map* m = project.listeMaps[slot];
    while (m->layers < LAYERS) addLayer(m, "default", false);
    for (int l = 0; l < LAYERS; l++) memcpy(m->layer[l]->e, raw[l].data(), raw[l].size() * 4);
    double t = now();
    bool saved = closeMapi(slot, "bench");
    double save = now() - t;
    t = now();
    slot = openMapInFreeSlot("bench");
    double load = now() - t;
    bool same = slot >= 0 && memcmp(project.listeMaps[slot]->layer[3]->e, raw[3].data(), raw[3].size() * 4) == 0;
    closeMapi(slot, "bench");
    quietEnd(q);
    if (!saved || !same) {
      printf("save or reload failed\n");
      return 1;
    }
    Raw r = rawCopy(p + "raw.bin", raw, true);
    Raw n = rawCopy(p + "raw.bin", raw, false);
    best[0] = std::min(best[0], save);
    best[1] = std::min(best[1], load);
    best[2] = std::min(best[2], r.write);
    best[3] = std::min(best[3], r.read);
    best[4] = std::min(best[4], r.readFresh);
    bestNoSync[0] = std::min(bestNoSync[0], n.write);
    bestNoSync[1] = std::min(bestNoSync[1], n.read);
  }
  printf("best of %d rounds\n", ROUNDS);
  printf("closeMapi save (fsync, rename): %7.1f ms   fwrite + fsync: %7.1f ms   ratio %.2f\n",
         best[0] * 1e3, best[2] * 1e3, best[0] / best[2]);
  printf("openMapi load:                  %7.1f ms   fread:          %7.1f ms   ratio %.2f\n",
         best[1] * 1e3, best[3] * 1e3, best[1] / best[3]);
  printf("openMapi load:                  %7.1f ms   fread, new malloc memory: %7.1f ms   ratio %.2f\n",
         best[1] * 1e3, best[4] * 1e3, best[1] / best[4]);
  printf("save + load:                    %7.1f ms   raw (fsync):    %7.1f ms   ratio %.2f\n",
         (best[0] + best[1]) * 1e3, (best[2] + best[3]) * 1e3,
         (best[0] + best[1]) / (best[2] + best[3]));
  printf("fwrite without fsync, for reference: %.1f ms (save ratio %.2f)\n", bestNoSync[0] * 1e3,
         best[0] / bestNoSync[0]);

  double small = paintCost(16), big = paintCost(4096);
  printf("paint one cell (setElementAbsolute, log to /dev/null): 16x16 %.0f ns, 4096x4096 %.0f ns\n",
         small * 1e9, big * 1e9);
  std::string cmd = "rm -rf '" + p + "'";
  if (system(cmd.c_str()) != 0) printf("could not remove %s\n", p.c_str());
  return 0;
}
