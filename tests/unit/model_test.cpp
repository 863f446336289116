// Cells, names, background fields, layers and the shared tileset library.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "model/model.h"
#include "testutil.h"

namespace {
// A w x h tileset image in the project's "layers" folder (BMP bytes under
// the ".png" name: the image loader goes by content).
void makeTileset(const std::string& project, const char* name, int w, int h) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  ASSERT_NE(s, nullptr);
  std::string path = project + "layers/" + name + ".png";
  ASSERT_EQ(SDL_SaveBMP(s, path.c_str()), 0);
  SDL_FreeSurface(s);
}

// A map opened from a fresh file of w x h cells, with the tileset "default".
int openNew(const char* name, unsigned long w, unsigned long h) {
  EXPECT_TRUE(newMapFile(name, w, h));
  return openMapInFreeSlot(name);
}

int librarySlot(const char* name) {
  for (int i = 0; i < LIBRARY_SLOTS; i++)
    if (layersGFXnames[i] && strcmp(layersGFXnames[i], name) == 0) return i;
  return -1;
}

long cellSum(const Map* m) {
  long s = 0;
  for (int l = 0; l < m->layers; l++)
    for (size_t i = 0; i < (size_t)m->w * m->h; i++) s += m->layer[l]->e[i];
  return s;
}

int lineCount(const std::string& log) {
  int n = 0;
  for (char c : log) n += c == '\n';
  return n;
}
}  // namespace

TEST(Cells, OutOfRangeDoesNothingAndLogsOneLine) {
  std::string p = makeProject();
  int slot = openNew("small", 4, 3);
  ASSERT_GE(slot, 0);
  Map* m = project.listeMaps[slot];
  struct Case { int map, layer; unsigned long x, y; } cases[] = {
      {slot + 1, 0, 0, 0}, {-1, 0, 0, 0}, {slot, 1, 0, 0}, {slot, -1, 0, 0},
      {slot, 0, 4, 0},     {slot, 0, 0, 3}, {slot, 0, (unsigned long)-1, 0}};
  for (const Case& c : cases) {
    captureLogBegin();
    setElementAbsolute(c.map, c.layer, c.x, c.y, 9);
    std::string log = captureLogEnd();
    EXPECT_EQ(lineCount(log), 1) << log;
    EXPECT_NE(log.find("refuse"), std::string::npos) << log;
  }
  EXPECT_EQ(cellSum(m), 0);
  for (auto op : {0, 1, 2}) {
    captureLogBegin();
    if (op == 0) setElementSquare("nosuchmap", 0, 0, 0, 2, 2, 5);
    if (op == 1) setElementSquare("small", 3, 0, 0, 2, 2, 5);
    if (op == 2) setElementSquare("small", 0, 4, 3, 9, 9, 5);
    EXPECT_EQ(lineCount(captureLogEnd()), 1);
  }
  captureLogBegin();
  setLayerBGXY("small", 1, 1, 2, 3);
  changeMapSysname("nosuchmap", "x");
  EXPECT_EQ(lineCount(captureLogEnd()), 2);
  EXPECT_EQ(cellSum(m), 0);
  EXPECT_EQ(m->layer[0]->bg, 0);
}

TEST(Cells, GetMapFindsLowerSlotOrReturnsCount) {
  makeProject();
  ASSERT_TRUE(newMapFile("twin", 2, 2));
  ASSERT_EQ(openMapInFreeSlot("twin"), 0);
  ASSERT_EQ(openMapInFreeSlot("twin"), 1);
  EXPECT_EQ(getMap("twin"), 0);
  EXPECT_EQ(getMap("Twin"), project.nbreMaps);
  EXPECT_EQ(getMap(nullptr), project.nbreMaps);
  ASSERT_TRUE(closeMapi(0, "twin"));
  EXPECT_EQ(getMap("twin"), 1);
}

TEST(Cells, RowMajorCellsAndRectanglesFilledInOrderClippedAtEdge) {
  makeProject();
  int slot = openNew("rect", 6, 8);
  ASSERT_GE(slot, 0);
  Map* m = project.listeMaps[slot];
  captureLogBegin();
  setElementAbsolute(slot, 0, 3, 2, 77);
  EXPECT_EQ(captureLogEnd(), "setElementAbsolute(" + std::to_string(slot) + ",0,3,2,77);\n");
  EXPECT_EQ(m->layer[0]->e[2 * 6 + 3], 77);
  EXPECT_EQ(cellSum(m), 77);
  m->layer[0]->e[2 * 6 + 3] = 0;
  captureLogBegin();
  setElementSquare("rect", 0, 2, 5, 0, 4, 3);
  std::string log = captureLogEnd();
  std::string want;
  for (int y = 4; y <= 5; y++)
    for (int x = 0; x <= 2; x++)
      want += "setElementAbsolute(" + std::to_string(slot) + ",0," + std::to_string(x) + "," +
              std::to_string(y) + ",3);\n";
  EXPECT_EQ(log, want);
  EXPECT_EQ(cellSum(m), 6 * 3);
  captureLogBegin();
  setElementSquare("rect", 0, 5, 7, 5, 7, 1);
  EXPECT_EQ(lineCount(captureLogEnd()), 1);
  EXPECT_EQ(m->layer[0]->e[7 * 6 + 5], 1);
  // Past the right and bottom edges: cut to the map, one extra line.
  captureLogBegin();
  setElementSquare("rect", 0, 4, 6, 100, 100, 2);
  log = captureLogEnd();
  EXPECT_EQ(lineCount(log), 1 + 4);
  EXPECT_EQ(cellSum(m), 6 * 3 + 4 * 2);
}

TEST(Cells, BackgroundFieldsKeepLow16BitsAndRenameCopies) {
  makeProject();
  int slot = openNew("bgmap", 2, 2);
  ASSERT_GE(slot, 0);
  Layer* l = project.listeMaps[slot]->layer[0];
  setLayerBGXY("bgmap", 0, 1, 70000, -33);
  EXPECT_EQ(l->bg, 1);
  EXPECT_EQ(l->x, 4464);
  EXPECT_EQ(l->y, -33);
  char name[] = "Forest";
  changeMapSysname("bgmap", name);
  name[0] = 'X';
  EXPECT_STREQ(project.listeMaps[slot]->sysname, "Forest");
}

TEST(Names, RefusesWhatCouldLeaveTheFolder) {
  std::string longName(LAYER_NAME_LEN, 'a');
  const char* bad[] = {"", "a/b", "a\\b", "..", "x..y", "tab\there", "del\x7f", "my map", longName.c_str()};
  for (const char* n : bad) {
    captureLogBegin();
    EXPECT_FALSE(validName(n)) << n;
    EXPECT_EQ(lineCount(captureLogEnd()), 1);
  }
  EXPECT_FALSE(validName(nullptr));
  longName.pop_back();
  for (const char* n : {"map0", "New_map.v2", "é", longName.c_str()}) EXPECT_TRUE(validName(n)) << n;
  // The library refuses them too.
  makeProject();
  newMap();
  Map* m = project.listeMaps[0];
  captureLogBegin();
  addLayer(m, "../../etc/passwd", false);
  EXPECT_EQ(layersGFXLoad("a/b"), nullptr);
  EXPECT_EQ(lineCount(captureLogEnd()), 2);
  EXPECT_EQ(m->layers, 1);
  EXPECT_EQ(librarySlot("../../etc/passwd"), -1);
}

TEST(Library, SharedTilesetLoadsOnceAndIsFreedWithItsLastLayer) {
  std::string p = makeProject();
  makeTileset(p, "default", 32, 32);
  makeTileset(p, "rock", 64, 48);
  makeTileset(p, "sand", 16, 16);
  int a = openNew("a", 3, 3), b = openNew("b", 3, 3);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  Map* ma = project.listeMaps[a];
  Map* mb = project.listeMaps[b];
  addLayer(ma, "rock", false);
  captureLogBegin();
  addLayer(mb, "rock", true);
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("layerGFX partage rock detecte! Chargement inutile.\n"), std::string::npos);
  ASSERT_NE(ma->layer[1]->s, nullptr);
  EXPECT_EQ(ma->layer[1]->s, mb->layer[1]->s);
  EXPECT_EQ(mb->layer[1]->bg, 1);
  EXPECT_EQ(mb->layer[1]->x, 1);
  EXPECT_EQ(mb->layer[1]->y, 1);
  int rock = librarySlot("rock");
  ASSERT_GE(rock, 0);

  captureLogBegin();
  deleteLayer(ma, 1);
  log = captureLogEnd();
  EXPECT_EQ(log, "1\n2\nSuppression d'un layer sans alterer la librairie layerGFX partagee...3\n4\nOK.\n");
  EXPECT_EQ(librarySlot("rock"), rock);
  project.currentLayer = 1;
  captureLogBegin();
  deleteLayer(mb, 1);
  log = captureLogEnd();
  EXPECT_EQ(log, "1\n2\nSuppression de la librairie layerGFX partagee...3\n4\nOK.\n");
  EXPECT_EQ(librarySlot("rock"), -1);
  EXPECT_EQ(layersGFX[rock], nullptr);
  EXPECT_EQ(project.currentLayer, 0);
  EXPECT_EQ(ma->layers, 1);

  // The freed slot is the first free one: the next tileset takes it.
  captureLogBegin();
  addLayer(ma, "sand", false);
  log = captureLogEnd();
  EXPECT_NE(log.find("Le layerGFX partage sand a ete charge en memoire.\n"), std::string::npos);
  EXPECT_EQ(librarySlot("sand"), rock);
}

TEST(Library, LayersOfTheSameMapCountAsSharingAndTheLastLayerStays) {
  std::string p = makeProject();
  makeTileset(p, "default", 32, 32);
  int a = openNew("same", 2, 2);
  Map* m = project.listeMaps[a];
  addLayer(m, "stone", false);
  addLayer(m, "stone", false);
  deleteLayer(m, 1);
  EXPECT_GE(librarySlot("stone"), 0);
  ASSERT_EQ(m->layers, 2);
  // Deleting keeps the remaining layers in order.
  setElementAbsolute(a, 1, 0, 0, 5);
  deleteLayer(m, 0);
  EXPECT_EQ(m->layers, 1);
  EXPECT_STREQ(m->layer[0]->layerGFX, "stone");
  EXPECT_EQ(m->layer[0]->e[0], 5);
  EXPECT_EQ(librarySlot("default"), -1);
  EXPECT_GE(librarySlot("stone"), 0);
  // The only layer left is never deleted; bad arguments log one line each.
  Layer* l = m->layer[0];
  project.currentLayer = 3;
  captureLogBegin();
  deleteLayer(m, 0);
  EXPECT_EQ(captureLogEnd(), "");
  EXPECT_TRUE(m->layers == 1 && m->layer[0] == l && project.currentLayer == 3);
  captureLogBegin();
  deleteLayer(m, 1);
  deleteLayer(nullptr, 0);
  EXPECT_EQ(lineCount(captureLogEnd()), 2);
}

TEST(Library, DefaultPassConditionsFiles) {
  std::string p = makeProject();
  makeTileset(p, "t6448", 64, 48);
  makeTileset(p, "t6440", 64, 40);
  makeTileset(p, "kept", 32, 32);
  writeFile(p + "layerspc/kept.pss", std::string("\0\1\0", 3));
  newMap();
  Map* m = project.listeMaps[0];
  addLayer(m, "t6448", false);
  addLayer(m, "t6440", false);
  addLayer(m, "kept", false);
  EXPECT_EQ(readFile(p + "layerspc/t6448.pss"), std::string(48, '\1'));
  EXPECT_EQ(readFile(p + "layerspc/t6440.pss"), std::string(40, '\1'));
  EXPECT_EQ(readFile(p + "layerspc/kept.pss"), std::string("\0\1\0", 3));
  // Cells (R * h) / 16 and whole tiles R * (h / 16), R = w / 16.
  EXPECT_EQ(tilesetCounts(64, 48).cells, 12);
  EXPECT_EQ(tilesetCounts(64, 40).cells, 10);
  EXPECT_EQ(tilesetCounts(64, 40).tiles, 8);
  EXPECT_EQ(tilesetCounts(15, 100).cells, 0);
  // A tileset that failed to load: a named slot without surface, no file.
  captureLogBegin();
  addLayer(m, "missing", false);
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("cannot load image 'missing.png'!\n"), std::string::npos);
  EXPECT_EQ(m->layer[m->layers - 1]->s, nullptr);
  EXPECT_GE(librarySlot("missing"), 0);
  EXPECT_EQ(readFile(p + "layerspc/missing.pss"), "");
}

TEST(LibraryDeathTest, FullLibraryExitsWithStatus4) {
  makeProject();
  for (int i = 0; i < LIBRARY_SLOTS; i++) {
    char name[16];
    snprintf(name, sizeof name, "t%d", i);
    layersGFXnames[i] = strdup(name);
  }
  EXPECT_EXIT(layersGFXLoad("onemore"), ::testing::ExitedWithCode(4),
              "");
  // A layer (a peer's or the user's) is refused instead, and the editor runs on.
  newMap();
  int layers = project.listeMaps[0]->layers;
  addLayer(project.listeMaps[0], "onemore", false);
  EXPECT_EQ(project.listeMaps[0]->layers, layers);
  free(layersGFXnames[5]);
  layersGFXnames[5] = nullptr;
  layersGFXLoad("onemore");
  EXPECT_EQ(librarySlot("onemore"), 5);
}
