// Maps in git at scale: three copies of a 2048x2048 map of 8 layers, each
// side with 1% of its cells repainted (a few of them the same cells, so
// there are conflicts). Times, median of several rounds: reading the three
// files with the checked reader (the floor), the merge in memory, the whole
// `moska2 --merge` (read, merge, crash-safe write), reading two files and
// the whole `moska2 --diff` (its text to /dev/null).
//   merge_bench [ROUNDS]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "benchmap.h"
#include "benchutil.h"
#include "exchange/exchange.h"
#include "model/mapfile.h"
#include "model/merge.h"

namespace {
const uint32_t SIDE = 2048;
const int LAYERS = 8;
const int DEFAULT_ROUNDS = 3;
const int CHANGED_PER_MILLE = 10;  // 1% of the cells on each side

void makeBase(Map* m) { makeBenchMap(m, SIDE, LAYERS); }

// 1% of all cells of m, spread at random, take a new tile.
void repaint(Map* m, uint32_t seed) {
  size_t cells = (size_t)SIDE * SIDE, n = cells * LAYERS * CHANGED_PER_MILLE / 1000;
  for (size_t k = 0; k < n; k++) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t r = seed;
    seed = seed * 1664525u + 1013904223u;
    m->layer[(r >> 16) % LAYERS]->e[((size_t)seed << 8 ^ r >> 8) % cells] = 16 + (int32_t)(r >> 28);
  }
}

void writeMap(const std::string& path, const Map* m) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f || !writeMapStream(f, m) || fclose(f) != 0) abort();
}

void readMap(const std::string& path, Map* m) {
  FILE* f = fopen(path.c_str(), "rb");
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0 || readMapStream(f, (size_t)st.st_size, m) != MAP_READ_OK) abort();
  fclose(f);
}

int run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return exchangeCommand((int)argv.size(), argv.data());
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : DEFAULT_ROUNDS;
  std::string dir = benchProject() + "maps/";
  std::string base = dir + "base.map", ours = dir + "ours.map", theirs = dir + "theirs.map", work = dir + "work.map";
  Map m;
  makeBase(&m);
  writeMap(base, &m);
  repaint(&m, 7);
  writeMap(ours, &m);
  freeMapRecord(&m);
  makeBase(&m);
  repaint(&m, 11);
  writeMap(theirs, &m);
  freeMapRecord(&m);

  std::vector<double> read3, merge, command, read2, diff, write1;
  size_t conflicts = 0;
  int mergeStatus = -1, diffStatus = -1;
  for (int r = 0; r < rounds; r++) {
    Map b, o, t, out;
    double t0 = benchNow();
    readMap(base, &b), readMap(ours, &o), readMap(theirs, &t);
    read3.push_back(benchNow() - t0);
    MergeReport report;
    t0 = benchNow();
    if (mergeMapsTakingOurs(&b, &o, &t, MERGE_OURS, &out, &report) != MERGE_OK) abort();
    merge.push_back(benchNow() - t0);
    conflicts = report.total;
    freeMapRecord(&b), freeMapRecord(&o), freeMapRecord(&t), freeMapRecord(&out);

    t0 = benchNow();
    readMap(base, &b), readMap(ours, &o);
    read2.push_back(benchNow() - t0);
    freeMapRecord(&b), freeMapRecord(&o);

    std::string copy = "cp " + ours + " " + work;
    if (system(copy.c_str()) != 0) abort();
    sync();  // the copy's dirty pages are not the merge's to write
    readMap(ours, &o);
    t0 = benchNow();
    std::string floorPath = dir + "floor.map";
    FILE* f = fopen(floorPath.c_str(), "wb");
    if (!f || !writeMapStream(f, &o) || fflush(f) != 0 || fsync(fileno(f)) != 0 || fclose(f) != 0) abort();
    write1.push_back(benchNow() - t0);
    freeMapRecord(&o);
    unlink(floorPath.c_str());
    sync();
    FILE* err = freopen("/dev/null", "w", stderr);
    t0 = benchNow();
    mergeStatus = run({"moska2", "--merge", base, work, theirs, work});
    command.push_back(benchNow() - t0);
    int saved = benchLogAway();
    t0 = benchNow();
    diffStatus = run({"moska2", "--diff", base, ours});
    diff.push_back(benchNow() - t0);
    benchLogBack(saved);
    if (err) fflush(stderr);
  }
  std::string clean = "rm -rf " + dir.substr(0, dir.size() - 5);
  if (getenv("KEEP_FILES")) printf("files kept in %s\n", dir.c_str());
  else if (system(clean.c_str()) != 0) return 1;
  printf("map 2048x2048 x 8 layers, 1%% of the cells repainted on each side, %zu conflicts, median of %d\n",
         conflicts, rounds);
  printf("three-way merge in memory: %.0f ms | reading the three files %.0f ms\n", benchMedian(merge) * 1000,
         benchMedian(read3) * 1000);
  printf("moska2 --merge (read, merge, write): %.0f ms, status %d | reading the three files and writing one "
         "(fsync) %.0f ms\n",
         benchMedian(command) * 1000, mergeStatus, (benchMedian(read3) + benchMedian(write1)) * 1000);
  printf("moska2 --diff (read, compare, describe): %.0f ms, status %d | reading the two files %.0f ms\n",
         benchMedian(diff) * 1000, diffStatus, benchMedian(read2) * 1000);
  return 0;
}
