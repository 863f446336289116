// The per-map sidecar: broken, truncated and hostile files set aside (never
// overwritten, never costing memory); layer names following the layers
// through the model's operations, undo, saves and files changed elsewhere;
// map resize with its undo; names, resizes and sidecars on the wire only to
// the peers that announced them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "editor/history.h"
#include "editor/menu.h"
#include "model/digest.h"
#include "model/mapfile.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "net/net.h"
#include "net/netio.h"
#include "testutil.h"

namespace {
Map* cur() { return project.listeMaps[project.currentMap]; }

std::vector<std::string> names(const Map* m) {
  std::vector<std::string> out;
  for (int i = 0; i < m->layers; i++) out.push_back(layerName(m->layer[i]));
  return out;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

off_t sizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// n copies of s, joined by commas.
std::string repeated(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; i++) out += (i ? "," : "") + s;
  return out;
}

long peakKiB() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long v = 0;
  while (in >> key)
    if (key == "VmHWM:" && in >> v) return v;
  return 0;
}

// map0: 4 x 3 cells, two "default" layers, opened in a fresh project.
std::string freshMap0() {
  std::string dir = makeEditingProject();
  newMapFile("map0", 4, 3);
  project.currentMap = openMapInFreeSlot("map0");
  addLayer(cur(), "default", false);
  EXPECT_TRUE(closeMapi(project.currentMap, "map0"));
  mkdir((dir + "mapdata").c_str(), 0777);
  return dir;
}

int reopen() { return project.currentMap = openMapInFreeSlot("map0"); }
}  // namespace

TEST(SidecarFiles, BrokenAndHostileFilesAreSetAsideWholeAndCostNoMemory) {
  std::string dir = freshMap0(), file = dir + "mapdata/map0.json";
  const std::string ok = R"({"layerNames":[{"name":"Grass","tileset":"default"},null]})";
  struct Case {
    const char* what;
    std::string text;
    size_t sparse;  // > 0: a file of this many zero bytes instead
    bool taken;
    std::vector<std::string> names;
  } cases[] = {
      {"valid", ok, 0, true, {"Grass", "default"}},
      {"a path as a name is only a name", R"({"layerNames":[null,{"name":"../../x y","tileset":"default"}]})", 0,
       true, {"default", "../../x y"}},
      {"UTF-8 name", "{\"layerNames\":[{\"name\":\"For\xc3\xaat\",\"tileset\":\"default\"},null]}", 0, true,
       {"For\xc3\xaat", "default"}},
      {"empty file", "", 0, false, {}},
      {"truncated", ok.substr(0, 30), 0, false, {}},
      {"not an object", "[1, 2]", 0, false, {}},
      {"section of the wrong type", R"({"layerNames":{"0":"Grass"}})", 0, false, {}},
      {"name a number", R"({"layerNames":[{"name":5,"tileset":"default"}]})", 0, false, {}},
      {"tileset missing", R"({"layerNames":[{"name":"Grass"}]})", 0, false, {}},
      {"tileset leaving the project", R"({"layerNames":[{"name":"x","tileset":"../../etc/passwd"}]})", 0, false, {}},
      {"control character", R"({"layerNames":[{"name":"a\u0007b","tileset":"default"}]})", 0, false, {}},
      {"NUL in a name", R"({"layerNames":[{"name":"a\u0000b","tileset":"default"}]})", 0, false, {}},
      {"not UTF-8", "{\"layerNames\":[{\"name\":\"\xff\xfe\",\"tileset\":\"default\"}]}", 0, false, {}},
      {"name of 65 bytes", R"({"layerNames":[{"name":")" + std::string(65, 'a') + R"(","tileset":"default"}]})", 0,
       false, {}},
      {"more entries than layers can be", R"({"layerNames":[)" + repeated("null", 70000) + "]}", 0, false, {}},
      {"deep nesting", R"({"x":)" + std::string(100000, '[') + std::string(100000, ']') + "}", 0, false, {}},
      {"huge array", R"({"other":[)" + repeated("0", 300000) + "]}", 0, false, {}},
      {"larger than the bound", "", (size_t)SIDECAR_MAX_BYTES + 1, false, {}},
  };
  long before = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.sparse) {
      std::ofstream(file).close();
      ASSERT_EQ(truncate(file.c_str(), (off_t)c.sparse), 0);
    } else {
      ASSERT_TRUE(writeFile(file, c.text));
    }
    std::string log = logOf([] { ASSERT_GE(reopen(), 0); });
    if (c.taken) {
      EXPECT_EQ(names(cur()), c.names);
      EXPECT_TRUE(exists(file) && !exists(file + ".broken"));
    } else {
      // Set aside whole, reported, nothing taken; the next save writes none
      // (nothing to keep) and never the broken bytes' place.
      EXPECT_EQ(names(cur()), (std::vector<std::string>{"default", "default"}));
      EXPECT_FALSE(exists(file));
      EXPECT_EQ(sizeOf(file + ".broken"), (off_t)(c.sparse ? c.sparse : c.text.size()));
      if (!c.sparse) {
        EXPECT_EQ(readFile(file + ".broken"), c.text);
      }
      EXPECT_NE(log.find("kept as map0.json.broken"), std::string::npos) << log;
      ASSERT_TRUE(rename((file + ".broken").c_str(), (dir + "seen").c_str()) == 0);
    }
    ASSERT_TRUE(closeMapi(project.currentMap, "map0"));
    EXPECT_EQ(exists(file), c.taken);
    if (&c == &cases[2]) before = peakKiB();  // the valid cases' parsing is behind us
  }
  // The hostile files were refused before a parser built anything.
#ifdef __SANITIZE_ADDRESS__
  const long kBoundKiB = 32 * 1024;  // the sanitizer's allocator keeps freed blocks aside
#else
  const long kBoundKiB = 16 * 1024;
#endif
  EXPECT_LT(peakKiB() - before, kBoundKiB);
  // A broken file beside an earlier one goes to ".broken-2": neither is overwritten.
  ASSERT_TRUE(writeFile(file, "{") && writeFile(file + ".broken", "first"));
  reopen();
  EXPECT_EQ(readFile(file + ".broken"), "first");
  EXPECT_EQ(readFile(file + ".broken-2"), "{");
}

TEST(SidecarFiles, NamesFollowLayersThroughEditsUndoSavesAndChangesElsewhere) {
  std::string dir = freshMap0(), file = dir + "mapdata/map0.json";
  historyInstall();
  const std::string tooLong(LAYER_NAME_MAX + 1, 'x');
  ASSERT_TRUE(writeFile(file, R"({"notes":[{"kind":"door","x":2}],"layerNames":[null,{"name":"Trees","tileset":"default"}]})"));
  reopen();
  // A: add layer; N: name layer (one undo step); M: move from -> to; D: delete
  // (history first); U: undo; Y: redo; S: save, close and reopen. Then the
  // names bottom-up.
  struct {
    char op;
    int a, b;
    const char* name;
    std::vector<std::string> want;
  } steps[] = {
      {'A', 0, 0, "", {"default", "Trees", "default"}},
      {'N', 2, 0, "Sky", {"default", "Trees", "Sky"}},
      {'N', 0, 0, "Ground", {"Ground", "Trees", "Sky"}},
      {'U', 0, 0, "", {"default", "Trees", "Sky"}},
      {'Y', 0, 0, "", {"Ground", "Trees", "Sky"}},
      {'M', 2, 0, "", {"Sky", "Ground", "Trees"}},
      {'D', 1, 0, "", {"Sky", "Trees"}},
      {'S', 0, 0, "", {"Sky", "Trees"}},
      {'N', 1, 0, "default", {"Sky", "default"}},  // its tileset's name: the default again
      {'U', 0, 0, "", {"Sky", "Trees"}},
      {'N', 0, 0, tooLong.c_str(), {"Sky", "Trees"}},  // refused, no step
      {'U', 0, 0, "", {"Sky", "Ground", "Trees"}},  // the deletion: back at its index, with its name
  };
  for (auto& s : steps) {
    SCOPED_TRACE(&s - steps);
    Map* m = cur();
    if (s.op == 'A') action_addLayer(project.currentMap, "default", false), historyLayerAdded(m, m->layer[m->layers - 1]);
    if (s.op == 'N') {
      std::string old = layerName(m->layer[s.a]);
      if (action_setLayerName(project.currentMap, s.a, s.name)) historyLayerNamed(m, m->layer[s.a], old.c_str());
    }
    if (s.op == 'M' && action_moveLayer(project.currentMap, s.a, s.b)) historyLayerMoved(m, s.a, s.b);
    if (s.op == 'D') historyLayerDeleting(m, s.a), action_deleteLayer(project.currentMap, s.a);
    if (s.op == 'U') historyUndo();
    if (s.op == 'Y') historyRedo();
    if (s.op == 'S') {
      ASSERT_TRUE(closeMapi(project.currentMap, "map0"));
      reopen();
    }
    EXPECT_EQ(names(cur()), s.want);
  }
  // The section this editor does not know was written back.
  ASSERT_TRUE(closeMapi(project.currentMap, "map0"));
  EXPECT_NE(readFile(file).find("\"door\""), std::string::npos);
  // An editor that knows no names added a layer on top and saved; a hand
  // edit moved "Trees" to a tileset the map does not use: the other names
  // stay on their layers, that one is dropped.
  Map plain;
  std::string bytes = readFile(dir + "maps/map0.map");
  ASSERT_EQ(readMapBytes((const unsigned char*)bytes.data(), bytes.size(), &plain), MAP_READ_OK);
  addLayer(&plain, "default", false);
  ASSERT_TRUE(writeMapFile("map0", &plain));
  freeMapRecord(&plain);
  reopen();
  EXPECT_EQ(names(cur()), (std::vector<std::string>{"Sky", "Ground", "Trees", "default"}));
  ASSERT_TRUE(closeMapi(project.currentMap, "map0"));
  std::string text = readFile(file);
  text.replace(text.rfind("\"default\""), 9, "\"rock\"");
  ASSERT_TRUE(writeFile(file, text));
  // Compared closed as it would be open: editors holding it either way agree.
  std::string closedText;
  ASSERT_TRUE(sidecarTextOf("map0", &closedText));
  std::string log = logOf([] { reopen(); });
  EXPECT_EQ(names(cur()), (std::vector<std::string>{"Sky", "Ground", "default", "default"}));
  EXPECT_NE(log.find("1 sans layer correspondant"), std::string::npos);
  EXPECT_EQ(sidecarText(cur()), closedText);
}

TEST(MapResize, BiggerSmallerRefusedAndUndoneAsOneStep) {
  makeEditingProject();
  historyInstall();
  project.currentMap = openNewMap("map0", 4, 3);
  addLayer(cur(), "default", false);
  // Layer l's cell (x, y) holds 10 * l + 4 * y + x + 1.
  for (int l = 0; l < 2; l++)
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 4; x++) cur()->layer[l]->e[y * 4 + x] = 10 * l + 4 * y + x + 1;
  auto kept = [](uint32_t w, uint32_t h, uint32_t oldW, uint32_t oldH) {
    for (int l = 0; l < 2; l++)
      for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
          int32_t want = x < oldW && y < oldH ? 10 * l + 4 * y + x + 1 : 0;
          if (cur()->layer[l]->e[y * w + x] != want) return false;
        }
    return true;
  };
  char why[PANEL_MESSAGE_LEN];
  // R: resize to w x h (ok: taken); U / Y: undo / redo. Then the size, and
  // the cells of the original 4 x 3 inside it (new ones 0).
  struct {
    char op;
    unsigned long w, h;
    bool ok;
    uint32_t sizeW, sizeH, origW, origH;
  } steps[] = {
      {'R', 6, 5, true, 6, 5, 4, 3},
      {'R', 2, 2, true, 2, 2, 2, 2},
      {'U', 0, 0, true, 6, 5, 4, 3},  // the cut cells come back
      {'U', 0, 0, true, 4, 3, 4, 3},
      {'Y', 0, 0, true, 6, 5, 4, 3},
      {'Y', 0, 0, true, 2, 2, 2, 2},
      {'U', 0, 0, true, 6, 5, 4, 3},
      {'R', 0, 3, false, 6, 5, 4, 3},
      {'R', 3, 0, false, 6, 5, 4, 3},
      {'R', (unsigned long)MAX_LAYER_CELLS + 1, 1, false, 6, 5, 4, 3},
      {'R', 8193, 8193, false, 6, 5, 4, 3},   // past MAX_LAYER_CELLS a layer
      {'R', 0x100000001ul, 1, false, 6, 5, 4, 3},
      {'R', 3, 1, true, 3, 1, 3, 1},
      {'U', 0, 0, true, 6, 5, 4, 3},
      {'U', 0, 0, true, 4, 3, 4, 3},
      {'U', 0, 0, false, 4, 3, 4, 3},  // the first resize was the first step
  };
  for (auto& s : steps) {
    SCOPED_TRACE(&s - steps);
    bool ok = s.op == 'R' ? historyResize(cur(), s.w, s.h, why, sizeof why) : s.op == 'U' ? historyUndo() : historyRedo();
    EXPECT_EQ(ok, s.ok);
    EXPECT_EQ(cur()->w, s.sizeW);
    EXPECT_EQ(cur()->h, s.sizeH);
    EXPECT_TRUE(kept(s.sizeW, s.sizeH, s.origW, s.origH));
  }
  // More than PEER_MAP_CELLS in all: refused before any memory is taken.
  for (int i = 0; i < 3; i++) addLayer(cur(), "default", false);
  EXPECT_FALSE(resizeMap(cur(), 8192, 8192, why, sizeof why));
  EXPECT_EQ(cur()->w, 4u);
  // Saved at the new size, every layer.
  ASSERT_TRUE(resizeMap(cur(), 5, 2, why, sizeof why));
  ASSERT_TRUE(saveMap(project.currentMap));
  std::string bytes = readFile(std::string(projectPath) + "maps/map0.map");
  Map read;
  ASSERT_EQ(readMapBytes((const unsigned char*)bytes.data(), bytes.size(), &read), MAP_READ_OK);
  EXPECT_TRUE(read.w == 5 && read.h == 2 && read.layers == 5 && read.layer[0]->e[5 + 3] == 8);
  freeMapRecord(&read);
}
