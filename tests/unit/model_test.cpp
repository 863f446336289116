// Cells, names, background fields, layers and the shared tileset library.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "model/mapfile.h"
#include "model/model.h"
#include "testutil.h"

namespace {
std::vector<int32_t> cells(const Map* m) {
  return std::vector<int32_t>(m->layer[0]->e, m->layer[0]->e + m->w * m->h);
}
}  // namespace

// Each write, refused or done, logs one line per cell (a rectangle cut at the
// map's edge one more); cells are row-major.
TEST(Cells, WritesInRangeOnlyOneLogLineEach) {
  makeProject();
  int slot = openNewMap("rect", 6, 8);
  ASSERT_GE(slot, 0);
  Map* m = project.listeMaps[slot];
  std::vector<int32_t> want(48);
  struct Case { std::function<void()> write; int lines; std::vector<int> set; int value; } cases[] = {
      {[&] { setElementAbsolute(slot + 1, 0, 0, 0, 9); }, 1, {}, 0},
      {[&] { setElementAbsolute(-1, 0, 0, 0, 9); }, 1, {}, 0},
      {[&] { setElementAbsolute(slot, 1, 0, 0, 9); }, 1, {}, 0},
      {[&] { setElementAbsolute(slot, -1, 0, 0, 9); }, 1, {}, 0},
      {[&] { setElementAbsolute(slot, 0, 6, 0, 9); }, 1, {}, 0},
      {[&] { setElementAbsolute(slot, 0, 0, 8, 9); }, 1, {}, 0},
      {[&] { setElementSquare("nosuchmap", 0, 0, 0, 2, 2, 5); }, 1, {}, 0},
      {[&] { setElementSquare("rect", 3, 0, 0, 2, 2, 5); }, 1, {}, 0},
      {[&] { setElementSquare("rect", 0, 6, 8, 9, 9, 5); }, 1, {}, 0},
      {[&] { setLayerBGXY("rect", 1, 1, 2, 3); changeMapSysname("nosuchmap", "x"); }, 2, {}, 0},
      {[&] { setElementAbsolute(slot, 0, 3, 2, 77); }, 1, {2 * 6 + 3}, 77},
      {[&] { setElementSquare("rect", 0, 2, 5, 0, 4, 3); }, 6, {24, 25, 26, 30, 31, 32}, 3},
      {[&] { setElementSquare("rect", 0, 4, 6, 100, 100, 2); }, 5, {40, 41, 46, 47}, 2},
  };
  for (const Case& c : cases) {
    std::string log = logOf(c.write);
    EXPECT_EQ(lineCount(log), c.lines) << log;
    for (int i : c.set) want[i] = c.value;
    EXPECT_EQ(cells(m), want) << log;
  }
  EXPECT_EQ(m->layer[0]->bg, 0);
  EXPECT_EQ(logOf([&] { setElementSquare("rect", 0, 1, 0, 0, 0, 4); }),
            "setElementAbsolute(" + std::to_string(slot) + ",0,0,0,4);\nsetElementAbsolute(" +
                std::to_string(slot) + ",0,1,0,4);\n");
}

TEST(Names, RefusesWhatCouldLeaveTheFolder) {
  std::string longName(LAYER_NAME_LEN, 'a');
  const char* bad[] = {"", "a/b", "a\\b", "..", "x..y", "tab\there", "del\x7f", "my map", longName.c_str()};
  for (const char* n : bad)
    EXPECT_EQ(logOf([&] { EXPECT_FALSE(validName(n)) << n; }).find("Nom refuse"), 0u) << n;
  EXPECT_FALSE(validName(nullptr));
  longName.pop_back();
  for (const char* n : {"map0", "New_map.v2", "é", longName.c_str()}) EXPECT_TRUE(validName(n)) << n;
  // The library refuses them too.
  makeProject();
  newMap();
  Map* m = project.listeMaps[0];
  std::string log = logOf([&] {
    addLayer(m, "../../etc/passwd", false);
    EXPECT_EQ(layersGFXLoad("a/b"), nullptr);
  });
  EXPECT_EQ(lineCount(log), 2);
  EXPECT_EQ(m->layers, 1);
  EXPECT_EQ(librarySlot("../../etc/passwd"), -1);
}

// A tileset two maps use is loaded once, kept while a layer (of any map, or
// of the same map) uses it, and its slot is the next one taken when freed.
TEST(Library, SharedTilesetLoadsOnceAndIsFreedWithItsLastLayer) {
  std::string p = makeProject();
  for (const char* t : {"default", "rock", "sand"}) writeBmpTileset(p, t, 64, 48);
  int a = openNewMap("a", 3, 3), b = openNewMap("b", 3, 3);
  ASSERT_GE(b, 0);
  Map* ma = project.listeMaps[a];
  Map* mb = project.listeMaps[b];
  addLayer(ma, "rock", false);
  std::string log = logOf([&] { addLayer(mb, "rock", true); });
  EXPECT_NE(log.find("layerGFX partage rock detecte! Chargement inutile.\n"), std::string::npos);
  ASSERT_NE(ma->layer[1]->s, nullptr);
  EXPECT_EQ(ma->layer[1]->s, mb->layer[1]->s);
  EXPECT_TRUE(mb->layer[1]->bg == 1 && mb->layer[1]->x == 1 && mb->layer[1]->y == 1);
  int rock = librarySlot("rock");
  ASSERT_GE(rock, 0);
  EXPECT_EQ(logOf([&] { deleteLayer(ma, 1); }),
            "1\n2\nSuppression d'un layer sans alterer la librairie layerGFX partagee...3\n4\nOK.\n");
  EXPECT_EQ(librarySlot("rock"), rock);
  project.currentLayer = 1;
  EXPECT_EQ(logOf([&] { deleteLayer(mb, 1); }),
            "1\n2\nSuppression de la librairie layerGFX partagee...3\n4\nOK.\n");
  EXPECT_EQ(librarySlot("rock"), -1);
  EXPECT_EQ(layersGFX[rock], nullptr);
  EXPECT_EQ(project.currentLayer, 0);
  addLayer(ma, "sand", false);
  EXPECT_EQ(librarySlot("sand"), rock);
  // Two layers of one map: deleting one keeps the tileset and the others' order.
  addLayer(ma, "stone", false);
  addLayer(ma, "stone", false);
  deleteLayer(ma, 2);
  EXPECT_GE(librarySlot("stone"), 0);
  setElementAbsolute(a, 2, 0, 0, 5);
  deleteLayer(ma, 0);
  deleteLayer(ma, 0);
  ASSERT_EQ(ma->layers, 1);
  EXPECT_STREQ(ma->layer[0]->layerGFX, "stone");
  EXPECT_EQ(ma->layer[0]->e[0], 5);
  EXPECT_EQ(librarySlot("sand"), -1);
  // The only layer left is never deleted; bad arguments log one line each.
  Layer* l = ma->layer[0];
  project.currentLayer = 3;
  EXPECT_EQ(logOf([&] { deleteLayer(ma, 0); }), "");
  EXPECT_TRUE(ma->layers == 1 && ma->layer[0] == l && project.currentLayer == 3);
  EXPECT_EQ(lineCount(logOf([&] { deleteLayer(ma, 1); deleteLayer(nullptr, 0); })), 2);
}

// A new tileset gets a pass-conditions file of one byte per cell (R * h / 16,
// R = w / 16), all passable, unless it has one; one that fails to load gets a
// named slot without surface and no file.
TEST(Library, DefaultPassConditionsFiles) {
  std::string p = makeProject();
  writeBmpTileset(p, "t6448", 64, 48);
  writeBmpTileset(p, "t6440", 64, 40);
  writeBmpTileset(p, "kept", 32, 32);
  writeFile(p + "layerspc/kept.pss", std::string("\0\1\0", 3));
  newMap();
  Map* m = project.listeMaps[0];
  for (const char* t : {"t6448", "t6440", "kept"}) addLayer(m, t, false);
  EXPECT_EQ(readFile(p + "layerspc/t6448.pss"), std::string(48, '\1'));
  EXPECT_EQ(readFile(p + "layerspc/t6440.pss"), std::string(40, '\1'));
  EXPECT_EQ(readFile(p + "layerspc/kept.pss"), std::string("\0\1\0", 3));
  EXPECT_EQ(tilesetCounts(64, 40).tiles, 8);
  EXPECT_EQ(tilesetCounts(15, 100).cells, 0);
  EXPECT_NE(logOf([&] { addLayer(m, "missing", false); }).find("cannot load image 'missing.png'!\n"),
            std::string::npos);
  EXPECT_EQ(m->layer[m->layers - 1]->s, nullptr);
  EXPECT_GE(librarySlot("missing"), 0);
  EXPECT_EQ(readFile(p + "layerspc/missing.pss"), "");
}

// A full library refuses, logged, whatever asks: a tileset load, a layer, a
// map to open (MODEL_LIBRARY_FULL, nothing taken); the process runs on.
TEST(Library, FullLibraryRefusesLoadsLayersAndMaps) {
  makeProject();
  newMap();
  Map* m = project.listeMaps[0];
  for (int i = 0; i < LIBRARY_SLOTS; i++)
    if (!layersGFXnames[i]) layersGFXnames[i] = strdup(("t" + std::to_string(i)).c_str());
  Map two;  // a map naming two tilesets the library lacks, on file
  Layer a, b;
  Layer* layers[] = {&a, &b};
  a.layerGFX = (char*)"sand", b.layerGFX = (char*)"stone";
  two.layer = layers, two.layers = 2, two.w = two.h = 2, two.sysname = two.filename = (char*)"two";
  ASSERT_TRUE(writeMapFile("two", &two));
  int layersBefore = m->layers;
  std::string log = logOf([&] {
    EXPECT_EQ(layersGFXLoad("onemore"), nullptr);
    addLayer(m, "onemore", false);
    ModelError why = MODEL_OK;
    EXPECT_EQ(openMapInFreeSlot("two", &why), -1);
    EXPECT_EQ(why, MODEL_LIBRARY_FULL);
  });
  EXPECT_EQ(m->layers, layersBefore);
  EXPECT_EQ(librarySlot("onemore"), -1);
  EXPECT_NE(log.find("maximum de 1000 layers"), std::string::npos) << log;
  EXPECT_NE(log.find("Map two refusee: librairie de tilesets pleine."), std::string::npos) << log;
  for (int i = 1; i < project.nbreMaps; i++) EXPECT_EQ(project.listeMaps[i], nullptr);
  // One slot free: one tileset loads, the two-tileset map still does not fit.
  free(layersGFXnames[5]);
  layersGFXnames[5] = nullptr;
  EXPECT_EQ(openMapInFreeSlot("two"), -1);
  layersGFXLoad("onemore");
  EXPECT_EQ(librarySlot("onemore"), 5);
}
