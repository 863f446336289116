// Export of a 2048x2048 map with 8 layers to TMX, JSON and PNG, each against
// a floor measured in the same run on the same cells: the gids printed as
// CSV with plain stdio (TMX, JSON), the picture's bytes copied once in
// memory (PNG). Median of several rounds; the processor time of all
// threads is printed too, as the load of other programs stretches the wall
// time.
//   exchange_bench [ROUNDS [FORMAT...]]   (formats: tmx json png)
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

#include "../tests/unit/tilesheet.h"
#include "benchmap.h"
#include "benchutil.h"
#include "exchange/exchange.h"
#include "model/mapfile.h"
#include "model/model.h"

namespace {
const uint32_t SIDE = 2048;
const int LAYERS = 8;
const int DEFAULT_ROUNDS = 3;

// The benchmark map (benchmap.h) and its two tilesets.
std::string makeProject(Map* m) {
  std::string p = benchProject();
  FILE* f = fopen((p + "PROJECT.MSK").c_str(), "w");
  fputs("NAME bench\n", f);
  fclose(f);
  writeSheetPng(p + "layers/ground.png", makeSheet(SHEET_RGB, 256, 128));
  writeSheetPng(p + "layers/items.png", makeSheet(SHEET_RGBA, 256, 128));
  makeBenchMap(m, SIDE, LAYERS);
  f = fopen((p + "maps/big.map").c_str(), "wb");
  if (!f || !writeMapStream(f, m)) abort();
  fclose(f);
  return p;
}

double csvFloor(const Map& m, const std::string& out) {
  double t = benchNow();
  FILE* f = fopen(out.c_str(), "wb");
  for (int i = 0; i < m.layers; i++)
    for (size_t c = 0; c < (size_t)m.w * m.h; c++) fprintf(f, "%d,", m.layer[i]->e[c] + 1);
  fclose(f);
  double d = benchNow() - t;
  unlink(out.c_str());
  return d;
}

double copyFloor(size_t bytes) {
  std::vector<unsigned char> a(bytes, 1), b(bytes);
  double t = benchNow();
  memcpy(b.data(), a.data(), bytes);
  double d = benchNow() - t;
  if (b[bytes / 2] != 1) abort();
  return d;
}

long long fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : DEFAULT_ROUNDS;
  if (rounds < 1) rounds = 1;
  Map m;
  std::string project = makeProject(&m);
  printf("Export of a %ux%u map with %d layers, median of %d rounds\n", SIDE, SIDE, LAYERS, rounds);
  std::vector<const char*> exts = {"tmx", "json", "png"};
  if (argc > 2) exts.assign(argv + 2, argv + argc);
  for (const char* ext : exts) {
    std::string out = project + "big." + ext, error;
    std::vector<double> ours, cpu, floor;
    long long size = 0;
    for (int r = 0; r < rounds; r++) {
      int q = benchLogAway();
      double t = benchNow(), c = benchCpuNow();
      bool ok = exportMap(project, "big", out, &error);
      double d = benchNow() - t;
      cpu.push_back(benchCpuNow() - c);
      benchLogBack(q);
      if (!ok) {
        printf("%s: export failed: %s\n", ext, error.c_str());
        return 1;
      }
      ours.push_back(d);
      size = fileSize(out);
      unlink(out.c_str());
      floor.push_back(strcmp(ext, "png") == 0 ? copyFloor((size_t)SIDE * 16 * SIDE * 16 * 3)
                                              : csvFloor(m, out));
    }
    const char* floorName = strcmp(ext, "png") == 0 ? "memcpy of the picture" : "stdio CSV of the cells";
    printf("%-4s | ours %7.2f s (processor %7.2f s) | %s %6.2f s | ratio %5.1f | file %lld MiB\n", ext,
           benchMedian(ours), benchMedian(cpu), floorName, benchMedian(floor), benchMedian(ours) / benchMedian(floor), size >> 20);
  }
  freeMapRecord(&m);
  std::string cmd = "rm -rf " + project;
  return system(cmd.c_str()) == 0 ? 0 : 1;
}
