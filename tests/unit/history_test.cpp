// The undo history: steps, selective undo against peers' later writes,
// redo, bounds, layer deletion, per-map histories; the fill region.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "editor/history.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"
#include "testutil.h"

namespace {
class History : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = makeEditingProject();
    historyInstall();
    newMapFile("map0", 16, 8);
    newMapFile("map1", 16, 8);
    project.currentMap = openMapInFreeSlot("map0");
    snprintf(project.workingMap, sizeof project.workingMap, "map0");
  }
  Map* cur() { return project.listeMaps[project.currentMap]; }
  int cell(int x, int y = 0, int layer = 0) { return cur()->layer[layer]->e[y * cur()->w + x]; }
  // This user's cells x1..x2 of row 0: a pen cell or a rectangle, one step.
  void stroke(int x1, int x2, int v, int layer = 0) {
    historyOpen("pen stroke");
    LocalEdit local;
    action_SetElementSquare(cur()->filename, layer, x1, 0, x2, 0, v);
    historyClose();
  }
  std::string dir;
};

TEST_F(History, SelectiveUndoRedoAgainstAPeersLaterWrites) {
  // L: local rectangle over cells x1..x2 of row 0 (one cell: a pen stroke),
  // P: a peer's cell, U: undo, Y: redo; then cells 0..3 of row 0.
  struct {
    char op;
    int x1, x2, v;
    bool ok;
    int cells[4];
  } steps[] = {
      {'L', 0, 3, 5, true, {5, 5, 5, 5}},   {'L', 1, 1, 7, true, {5, 7, 5, 5}},
      {'L', 2, 2, 7, true, {5, 7, 7, 5}},   {'P', 2, 2, 9, true, {5, 7, 9, 5}},
      {'U', 0, 0, 0, true, {5, 7, 9, 5}},   // the peer's cell stays
      {'U', 0, 0, 0, true, {5, 5, 9, 5}},   {'U', 0, 0, 0, true, {0, 0, 9, 0}},
      {'Y', 0, 0, 0, true, {5, 5, 9, 5}},   {'L', 3, 3, 4, true, {5, 5, 9, 4}},
      {'Y', 0, 0, 0, false, {5, 5, 9, 4}},  // a new step ended the redo
      {'U', 0, 0, 0, true, {5, 5, 9, 5}},   {'P', 0, 0, 5, true, {5, 5, 9, 5}},
      {'U', 0, 0, 0, true, {5, 0, 9, 0}},   // rewritten with the same tile: still the peer's
      {'U', 0, 0, 0, false, {5, 0, 9, 0}},
  };
  for (auto& s : steps) {
    bool ok = true;
    if (s.op == 'L') stroke(s.x1, s.x2, s.v);
    if (s.op == 'P') setElementAbsolute(project.currentMap, 0, s.x1, 0, s.v);
    if (s.op == 'U') ok = historyUndo();
    if (s.op == 'Y') ok = historyRedo();
    int step = (int)(&s - steps);
    EXPECT_EQ(ok, s.ok) << step;
    for (int x = 0; x < 4; x++) EXPECT_EQ(cell(x), s.cells[x]) << step << " x=" << x;
  }
}

TEST_F(History, LayerDeletionUndoneWithItsCellsAndEarlierSteps) {
  action_addLayer(project.currentMap, "default", false);
  historyLayerAdded(cur(), cur()->layer[1]);
  stroke(2, 5, 3, 1);
  setLayerBGXY("map0", 1, 1, -4, 7);
  historyLayerDeleting(cur(), 1);
  action_deleteLayer(project.currentMap, 1);
  ASSERT_EQ(cur()->layers, 1);
  EXPECT_STREQ(historyUndoLabel(), "delete layer default");
  ASSERT_TRUE(historyUndo());
  ASSERT_EQ(cur()->layers, 2);
  EXPECT_STREQ(cur()->layer[1]->layerGFX, "default");
  EXPECT_EQ(cur()->layer[1]->bg, 1);
  EXPECT_EQ(cur()->layer[1]->x, -4);
  for (int x = 0; x < 8; x++) EXPECT_EQ(cell(x, 0, 1), x >= 2 && x <= 5 ? 3 : 0) << x;
  ASSERT_TRUE(historyRedo());
  EXPECT_EQ(cur()->layers, 1);
  ASSERT_TRUE(historyUndo());
  ASSERT_TRUE(historyUndo());  // the stroke, on the layer that came back
  EXPECT_EQ(cell(3, 0, 1), 0);
  ASSERT_TRUE(historyUndo());  // the layer's addition
  EXPECT_EQ(cur()->layers, 1);
}

TEST_F(History, LayerMovesAndDeletionsComeBackAtTheirIndex) {
  // Four layers told apart by their marker: layer i holds i + 1 in cell (i, 0).
  for (int i = 1; i < 4; i++) action_addLayer(project.currentMap, "default", false);
  for (int i = 0; i < 4; i++) setElementAbsolute(project.currentMap, i, i, 0, i + 1);
  auto order = [&] {
    std::string o;
    for (int i = 0; i < cur()->layers; i++)
      for (int x = 0; x < 4; x++)
        if (int v = cur()->layer[i]->e[x]) o += char('0' + v);
    return o;
  };
  // M: this user moves from -> to; P: a peer's copy moved (no step); D:
  // delete; U undo; Y redo. Then the order bottom-up and the current layer.
  struct {
    char op;
    int from, to;
    bool ok;
    const char* order;
    int current;
  } steps[] = {
      {'M', 1, 2, true, "1324", 2}, {'D', 0, 0, true, "324", 0},  {'U', 0, 0, true, "1324", 0},
      {'U', 0, 0, true, "1234", 1}, {'Y', 0, 0, true, "1324", 2}, {'Y', 0, 0, true, "324", 0},
      {'U', 0, 0, true, "1324", 0}, {'M', 3, 0, true, "4132", 0}, {'P', 0, 1, true, "1432", 0},
      {'U', 0, 0, true, "1432", 0},  // the layer is no longer where the move left it
      {'D', 2, 0, true, "142", 0},  {'U', 0, 0, true, "1432", 2},
  };
  for (auto& s : steps) {
    bool ok = true;
    if (s.op == 'M' || s.op == 'P') {
      ok = action_moveLayer(project.currentMap, s.from, s.to);
      if (s.op == 'M') historyLayerMoved(cur(), s.from, s.to), project.currentLayer = s.to;
    }
    if (s.op == 'D') {
      historyLayerDeleting(cur(), s.from);
      action_deleteLayer(project.currentMap, s.from);
    }
    if (s.op == 'U') ok = historyUndo();
    if (s.op == 'Y') ok = historyRedo();
    int step = (int)(&s - steps);
    EXPECT_EQ(ok, s.ok) << step;
    EXPECT_EQ(order(), s.order) << step;
    EXPECT_EQ(project.currentLayer, s.current) << step;
  }
  EXPECT_FALSE(action_moveLayer(project.currentMap, 0, 4));  // not a layer
  EXPECT_EQ(order(), "1432");
}

TEST_F(History, EachMapKeepsItsHistoryUntilASyncReplacesIt) {
  stroke(1, 1, 6);
  snprintf(e_openmap, sizeof e_openmap, "map1");
  g_openmap();  // map0 is saved and closed
  ASSERT_STREQ(cur()->filename, "map1");
  EXPECT_STREQ(historyUndoLabel(), "");
  stroke(2, 2, 8);
  snprintf(e_openmap, sizeof e_openmap, "map0");
  g_openmap();
  ASSERT_EQ(cell(1), 6);
  ASSERT_TRUE(historyUndo());
  EXPECT_EQ(cell(1), 0);
  EXPECT_EQ(historySteps("map1"), 1u);
  mapReplaced("map1");
  EXPECT_EQ(historySteps("map1"), 0u);
}

TEST_F(History, BoundedInMemoryOldestStepsFirst) {
  const int kStrokes = 1200, kCells = 64;
  for (int i = 0; i < kStrokes; i++) {
    std::vector<CellRun> runs;
    for (int k = 0; k < kCells; k++) runs.push_back({(uint32_t)k % 16, (uint32_t)k / 16, 1, 0, i});
    historyCells(cur(), 0, runs, "pen stroke");
  }
  EXPECT_EQ(historySteps("map0"), (size_t)kStrokes);
  EXPECT_LT(historyBytes(), (size_t)kStrokes * kCells * 32);
  // Three steps of 21 MiB each: the oldest small ones make room.
  for (int i = 0; i < 3; i++)
    historyCells(cur(), 0, std::vector<CellRun>((21 << 20) / sizeof(CellRun), {0, 0, 1, 0, 1}), "fill");
  EXPECT_LE(historyBytes(), (size_t)HISTORY_MAX_BYTES);
  EXPECT_LT(historySteps("map0"), (size_t)kStrokes + 3);
  EXPECT_GT(historySteps("map0"), 3u);
}

TEST_F(History, FillTakesTheFourConnectedRegionAsOneStep) {
  const char* rows[] = {"0010", "0010", "1110"};  // (3, 0) is reached only round the wall
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) cur()->layer[0]->e[y * 16 + x] = rows[y][x] - '0';
  fillAt(cur(), 0, 0, 0, 4);
  const char* want[] = {"4410", "4410", "1110"};
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(cell(x, y), want[y][x] - '0') << x << "," << y;
  ASSERT_TRUE(historyUndo());
  EXPECT_EQ(cell(0, 0) + cell(1, 1), 0);
  EXPECT_TRUE(fillRegion(cur(), cur()->layer[0], 0, 0, 0).empty());  // same tile: nothing
}
}  // namespace
