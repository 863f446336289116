// Map files: the byte layout, open, save and close, new maps, the slot rule,
// files that lie about their contents, a full disk, a save killed midway.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/mapfile.h"
#include "model/model.h"
#include "testutil.h"

namespace {
std::string u16(unsigned v) { return std::string{(char)(v & 0xFF), (char)(v >> 8)}; }
std::string u32(uint32_t v) { return u16(v & 0xFFFF) + u16(v >> 16); }
std::string str(const std::string& s) { return u16(s.size() + 1) + s + '\0'; }

// A map file, layer records given top-down as they are stored.
struct LayerBytes {
  std::string gfx;
  std::vector<int32_t> cells;
  char bg;
  int16_t x, y;
};
std::string mapBytes(const std::string& sys, const std::string& stored, uint32_t w, uint32_t h,
                     const std::vector<LayerBytes>& topDown, bool end = true, uint32_t vx = 16,
                     uint32_t vy = 32) {
  std::string b = "$" + str(sys) + str(stored) + u32(w) + u32(h) + u32(vx) + u32(vy) +
                  u16(topDown.size());
  for (const LayerBytes& l : topDown) {
    b += str(l.gfx);
    for (int32_t c : l.cells) b += u32((uint32_t)c);
    b += std::string(1, l.bg) + u16((uint16_t)l.x) + u16((uint16_t)l.y);
  }
  return end ? b + "$" : b;
}

std::string mapPath(const std::string& p, const char* name) { return p + "maps/" + name + ".map"; }

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }
}  // namespace

TEST(MapFile, LayersKeepTheirOrderThroughSaveAndReload) {
  std::string p = makeProject();
  int slot = openNewMap("three", 3, 2);
  ASSERT_GE(slot, 0);
  Map* m = project.listeMaps[slot];
  addLayer(m, "mid", false);
  addLayer(m, "top", true);
  setElementAbsolute(slot, 0, 0, 0, 10);
  setElementAbsolute(slot, 1, 1, 0, 11);
  setElementAbsolute(slot, 2, 2, 1, 12);
  setLayerBGXY("three", 2, 1, -5, 7);
  changeMapSysname("three", "Three layers");
  m->viewX = 48;
  project.currentLayer = 2;
  ASSERT_TRUE(closeMapi(slot, "three"));
  EXPECT_EQ(project.currentLayer, 0);
  EXPECT_EQ(project.listeMaps[slot], nullptr);

  LayerBytes top{"top", {0, 0, 0, 0, 0, 12}, 1, -5, 7}, mid{"mid", {0, 11, 0, 0, 0, 0}, 0, 1, 1},
      bottom{"default", {10, 0, 0, 0, 0, 0}, 0, 0, 0};
  const std::string want = mapBytes("Three layers", "three", 3, 2, {top, mid, bottom}, true, 48, 0);
  EXPECT_EQ(readFile(mapPath(p, "three")), want);
  // Read back and saved again: the same bytes.
  slot = openMapInFreeSlot("three");
  ASSERT_GE(slot, 0);
  EXPECT_STREQ(project.listeMaps[slot]->layer[2]->layerGFX, "top");
  ASSERT_TRUE(closeMapi(slot, "three"));
  EXPECT_EQ(readFile(mapPath(p, "three")), want);
}

// Files opened, one cell painted, closed: what the log says and the bytes
// saved. The stored file name is replaced by the name on disk, tileset names
// are data (refused for loading, written back unchanged), and a file without
// its end marker opens and is saved well formed.
TEST(MapFile, OpenedFilesAreSavedWellFormed) {
  std::string p = makeProject();
  const LayerBytes plain{"default", {1, 2}, 0, 0, 0}, sly{"../../../etc/passwd", {1, 2}, 0, 0, 0};
  std::string good = mapBytes("E", "other", 2, 1, {plain});
  const std::string badEnd = "Fin de fichier MAP incorrect ou corrompu!\n";
  struct Case { std::string bytes; LayerBytes saved; std::vector<std::string> log; } cases[] = {
      {good, {"default", {1, 3}, 0, 0, 0},
       {"Ouverture de la map real...\n",
        "Map OK:\nsysname: E, filename: real, w: 2, h: 1, 16x32, layers: 1!\n"}},
      {mapBytes("E", "real", 2, 1, {sly}), {"../../../etc/passwd", {1, 3}, 0, 0, 0}, {"Nom refuse"}},
      {good.substr(0, good.size() - 1) + "#", {"default", {1, 3}, 0, 0, 0}, {badEnd}},
      {good.substr(0, good.size() - 1), {"default", {1, 3}, 0, 0, 0}, {badEnd}},
  };
  for (const Case& c : cases) {
    writeFile(mapPath(p, "real"), c.bytes);
    int slot;
    std::string log = logOf([&] { slot = openMapInFreeSlot("real"); });
    ASSERT_GE(slot, 0);
    for (const std::string& line : c.log) EXPECT_TRUE(contains(log, line)) << log;
    EXPECT_NE(contains(log, "Map OK"), contains(log, "Fin de fichier"));
    EXPECT_STREQ(project.listeMaps[slot]->filename, "real");
    setElementAbsolute(slot, 0, 1, 0, 3);
    ASSERT_TRUE(closeMapi(slot, "real"));
    EXPECT_EQ(readFile(mapPath(p, "real")), mapBytes("E", "real", 2, 1, {c.saved}));
  }
  for (int i = 0; i < LIBRARY_SLOTS; i++)  // the sly name never reached the library
    EXPECT_TRUE(!layersGFXnames[i] || !strstr(layersGFXnames[i], ".."));
}

TEST(MapFile, BrokenFilesAreRefusedAndLeaveTheSlotFree) {
  std::string p = makeProject();
  std::string good = mapBytes("Sys", "f", 2, 2, {{"a", {1, 2, 3, 4}, 0, 1, 1}, {"b", {5, 6, 7, 8}, 1, 0, 0}});
  std::vector<std::string> broken = {
      "", "#", "$",
      "$" + u16(0x7FFF) + "abc",                                // S beyond the file
      "$" + u16(3) + "abc" + str("f"),                           // sysname without NUL
      "$" + str("S") + u16(2) + "ff" + good.substr(9),           // stored name without NUL
      "$" + str("S") + str("f") + u32(0x10000) + u32(0x401) + u32(0) + u32(0) + u16(1),  // too big
      "$" + str("S") + str("f") + u32(1000) + u32(1000) + u32(0) + u32(0) + u16(1) + str("a"),
      "$" + str("S") + str("f") + u32(1) + u32(1) + u32(0) + u32(0) + u16(0) + "$",  // no layer
      "$" + str("S") + str("f") + u32(1) + u32(1) + u32(0) + u32(0) + u16(1) + u16(0) +
          std::string(9, '\0') + "$",  // G = 0
      "$" + str("S") + str("f") + u32(1) + u32(1) + u32(0) + u32(0) + u16(1) + u16(1) + "a" +
          std::string(9, '\0') + "$",  // layer name without NUL
  };
  // Every cut before the last layer is complete.
  for (size_t n = 1; n + 1 < good.size(); n++) broken.push_back(good.substr(0, n));
  for (const std::string& bytes : broken) {
    writeFile(mapPath(p, "bad"), bytes);
    std::string log = logOf([&] { EXPECT_EQ(openMapInFreeSlot("bad"), -1) << bytes.size(); });
    EXPECT_TRUE(contains(log, "Fichier MAP incorrect ou corrompu!\n")) << log;
    for (int i = 0; i < project.nbreMaps; i++) EXPECT_EQ(project.listeMaps[i], nullptr);
  }
  // The refused openings grew the list once, then reused its free slot.
  EXPECT_EQ(project.nbreMaps, 1);
  for (int i = 0; i < LIBRARY_SLOTS; i++) EXPECT_EQ(layersGFXnames[i], nullptr);
  writeFile(mapPath(p, "bad"), good);
  EXPECT_EQ(openMapInFreeSlot("bad"), 0);
}

TEST(MapFile, ReaderRefusesOversizedMaps) {
  Map m;
  std::string big = "$" + str("S") + str("f") + u32(8192) + u32(8193) + u32(0) + u32(0) + u16(1);
  EXPECT_EQ(readMapBytes((const unsigned char*)big.data(), big.size(), &m), MAP_READ_TOO_BIG);
  EXPECT_EQ(m.layer, nullptr);
  std::string edge = "$" + str("S") + str("f") + u32(8192) + u32(8192) + u32(0) + u32(0) + u16(1);
  EXPECT_EQ(readMapBytes((const unsigned char*)edge.data(), edge.size(), &m), MAP_READ_CORRUPT);
  std::string p = makeProject();
  std::string log = logOf([] {
    EXPECT_FALSE(newMapFile("huge", 8192, 8193));
    EXPECT_FALSE(newMapFile("wide", 1ul << 33, 1));
  });
  EXPECT_TRUE(contains(log, "trop grande"));
  EXPECT_EQ(readFile(mapPath(p, "huge")), "");
}

TEST(MapFile, SlotRuleTakesFirstFreeSlotElseGrows) {
  makeProject();
  ASSERT_TRUE(newMapFile("m", 1, 1));
  project.listeMaps = new pMap[3]();
  project.nbreMaps = 3;
  EXPECT_EQ(openMapInFreeSlot("m"), 0);
  EXPECT_EQ(openMapInFreeSlot("m"), 1);
  EXPECT_EQ(openMapInFreeSlot("m"), 2);
  EXPECT_EQ(openMapInFreeSlot("m"), 3);
  EXPECT_EQ(project.nbreMaps, 4);
  ASSERT_TRUE(closeMapi(1, "m"));
  EXPECT_EQ(openMapInFreeSlot("m"), 1);
  EXPECT_FALSE(openMapi(2, "m"));  // occupied: the map in it is kept
  EXPECT_NE(project.listeMaps[2], nullptr);
  // Closing forgets the peers pointing at the map.
  usedMap[7] = project.listeMaps[2];
  EXPECT_TRUE(mapUsedByPeers("m") && !mapUsedByPeers("other"));
  ASSERT_TRUE(closeMapi(2, "m"));
  EXPECT_EQ(usedMap[7], nullptr);
  EXPECT_FALSE(mapUsedByPeers("m"));
}

TEST(MapFile, FailedSaveKeepsOldFileAndTheOpenMap) {
  std::string p = makeProject();
  int slot = openNewMap("keep", 64, 64);
  std::string before = readFile(mapPath(p, "keep"));
  ASSERT_GE(slot, 0);
  addLayer(project.listeMaps[slot], "more", false);
  setElementAbsolute(slot, 1, 5, 5, 42);
  // A file size limit stands in for a full disk.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = {4096, old.rlim_max};  // the soft limit only, so it can be raised again
  setrlimit(RLIMIT_FSIZE, &small);
  bool saved;
  std::string log = logOf([&] { saved = closeMapi(slot, "keep"); });
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(saved);
  EXPECT_TRUE(contains(log, "ancien fichier conserve")) << log;
  EXPECT_FALSE(contains(log, "enregistree avec succ"));
  EXPECT_EQ(readFile(mapPath(p, "keep")), before);
  EXPECT_EQ(access((mapPath(p, "keep") + ".tmp").c_str(), F_OK), -1);
  ASSERT_NE(project.listeMaps[slot], nullptr);
  EXPECT_EQ(project.listeMaps[slot]->layers, 2);
  EXPECT_EQ(project.listeMaps[slot]->layer[1]->e[5 * 64 + 5], 42);
  ASSERT_TRUE(closeMapi(slot, "keep"));
  std::vector<int32_t> more(64 * 64), none(64 * 64);
  more[5 * 64 + 5] = 42;
  const std::vector<LayerBytes> layers = {{"more", more, 0, 1, 1}, {"default", none, 0, 0, 0}};
  EXPECT_EQ(readFile(mapPath(p, "keep")), mapBytes("New map", "keep", 64, 64, layers, true, 0, 0));
}

// An unreadable file is refused with its cause (the shell's start ends
// with status 7 on it); an unwritable one is refused and the map stays open
// (the quit path then writes a copy beside it).
TEST(MapFile, UnreadableAndUnwritableFilesAreRefused) {
  std::string p = makeProject();
  project.listeMaps = new pMap[1]();
  project.nbreMaps = 1;
  ModelError why = MODEL_OK;
  EXPECT_FALSE(openMapi(0, "absent", &why));
  EXPECT_EQ(why, MODEL_MAP_UNREADABLE);
  EXPECT_EQ(project.listeMaps[0], nullptr);
  rmdir((p + "maps").c_str());
  EXPECT_FALSE(newMapFile("nowhere", 1, 1));
  newMap();
  EXPECT_FALSE(closeMapi(1, "map0"));
  EXPECT_NE(project.listeMaps[1], nullptr);
}

// A map being saved by a process killed at a random moment: the file on
// disk must always open, holding either the old save or the new one.
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
