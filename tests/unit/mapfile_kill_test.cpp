// A map being saved by a process killed at a random moment: the file on
// disk must always open, holding either the old save or the new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "model/mapfile.h"
#include "model/model.h"
#include "testutil.h"

namespace {
const unsigned SIDE = 1024;   // 4 MiB of cells per layer
const int LAYERS = 3;
const double RUN_SECONDS = 15;

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Saves generation after generation until killed: every cell of every layer
// and the display name carry the generation number, one more than the file's.
[[noreturn]] void saveForever() {
  int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, 1);
  for (int gen = 0;;) {
    int slot = openMapInFreeSlot("victim");
    if (slot < 0) _exit(3);
    Map* m = project.listeMaps[slot];
    sscanf(m->sysname, "gen %d", &gen);  // continue from the file's generation
    gen++;
    while (m->layers < LAYERS) addLayer(m, "default", false);
    for (int l = 0; l < m->layers; l++)
      for (size_t i = 0; i < (size_t)SIDE * SIDE; i++) m->layer[l]->e[i] = gen;
    char name[32];
    snprintf(name, sizeof name, "gen %d", gen);
    changeMapSysname("victim", name);
    if (!closeMapi(slot, "victim")) _exit(4);
  }
}

// The generation the file holds, or -1 when it does not open whole.
int savedGeneration(const std::string& path) {
  std::string bytes = readFile(path);
  Map m;
  if (readMapBytes((const unsigned char*)bytes.data(), bytes.size(), &m) != MAP_READ_OK) return -1;
  int gen = 0;
  sscanf(m.sysname, "gen %d", &gen);  // "New map": generation 0
  bool ok = true;
  for (int l = 0; ok && l < m.layers; l++)
    for (size_t i = 0; ok && i < (size_t)m.w * m.h; i++) ok = m.layer[l]->e[i] == gen;
  freeMapRecord(&m);
  return ok ? gen : -1;
}
}  // namespace

TEST(MapFileKill, SaveKilledAtRandomLeavesAWholeFile) {
  std::string p = makeProject();
  ASSERT_TRUE(newMapFile("victim", SIDE, SIDE));
  std::string path = p + "maps/victim.map";
  srand((unsigned)time(nullptr));
  int kills = 0, newer = 0, last = 0;
  double end = now() + RUN_SECONDS;
  while (now() < end) {
    fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) saveForever();
    usleep(20000 + rand() % 400000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "saver ended by itself, status " << WEXITSTATUS(status);
    kills++;
    int gen = savedGeneration(path);
    ASSERT_GE(gen, 0) << "after kill " << kills << " the map file does not open whole";
    // Each child starts from the file left by the one before it.
    if (gen != last) newer++;
    last = gen;
  }
  printf("%d kills, %d of them after a completed save\n", kills, newer);
  EXPECT_GE(kills, 10);
  EXPECT_GE(newer, 1);
}
