// Instances over the map view: drawn on the cells they stand on at every
// scale (a colour rectangle, and a tile from each of the three kinds of tile
// pictures), nothing drawn for those out of view, and a name cache that
// stays bounded however many definitions there are.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor/zoom.h"
#include "model/entities.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"
#include "testutil.h"

namespace {
std::vector<uint32_t> pixels() {
  std::vector<uint32_t> px;
  for (int y = 0; y < window->h; y++)
    for (int x = 0; x < window->w; x++) px.push_back(getpixel(window, x, y));
  return px;
}

Entity instanceAt(const char* model, int cx, int cy, uint64_t id) {
  Entity e;
  e.id = id;
  e.model = model;
  e.x = cx * TILE, e.y = cy * TILE;
  return e;
}

EntityModel definition(const std::string& name, const std::string& tileset, int w) {
  EntityModel d;
  d.name = name, d.tileset = tileset, d.w = w, d.element = 5;
  return d;
}
}  // namespace

TEST(EntityView, DrawnOnItsCellsAtEveryScaleAndNowhereElse) {
  std::string p = makeEditingProject();
  SDL_Surface* sheet = tilesetLoad("default");
  ASSERT_TRUE(sheet);
  Map* m = showNewMap(64, 64, {sheet});
  entityModels.list = {definition("Crate", "", 1), definition("Door", "default", 2)};
  struct Case {
    const char* scale;
    uint32_t viewX, viewY;
    const char* model;
    int cx, cy;
    bool inView;
  } cases[] = {
      {"1", 5, 3, "Crate", 3, 2, true},      {"2", 13, 7, "Crate", 4, 3, true},
      {"1/4", 42, 26, "Crate", 9, 5, true},   {"1", 5, 3, "Door", 3, 2, true},  // the tile cache
      {"2", 13, 7, "Door", 4, 3, true},       // the tile enlarged
      {"1/4", 42, 26, "Door", 9, 5, true},    // the mip level (a view between pixels)
      {"1", 0, 0, "Crate", 40, 2, false},     // right of the view
      {"2", 0, 64, "Crate", 2, 1, false},     // above it
  };
  for (const Case& c : cases) {
    for (zoom.level = 0; std::string(zoomName(zoom.level)) != c.scale; zoom.level++) {
    }
    m->viewX = c.viewX, m->viewY = c.viewY;
    entitiesFree(m);
    drawWindow();
    std::vector<uint32_t> before = pixels();
    ASSERT_TRUE(entityPlace(m, instanceAt(c.model, c.cx, c.cy, 7), nullptr));
    drawWindow();
    std::vector<uint32_t> after = pixels();
    int64_t x, y, side = viewCellSide();
    viewCellOrigin(m, c.cx, c.cy, &x, &y);
    int64_t w = side * entityModelFind(c.model)->w, bottom = y + side;
    // The changed pixels above the name: exactly the instance's rectangle.
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = -1, y1 = -1;
    for (int py = 0; py < window->h && py < bottom; py++)
      for (int px = 0; px < window->w; px++)
        if (before[(size_t)py * window->w + px] != after[(size_t)py * window->w + px])
          x0 = std::min<int64_t>(x0, px), y0 = std::min<int64_t>(y0, py), x1 = std::max<int64_t>(x1, px),
          y1 = std::max<int64_t>(y1, py);
    if (c.inView && std::string(c.model) == "Door") {
      // Its tile, not the rectangle a definition without one gets.
      entitiesFree(m);
      ASSERT_TRUE(entityPlace(m, instanceAt("Crate", c.cx, c.cy, 7), nullptr));
      drawWindow();
      std::vector<uint32_t> crate = pixels();
      int differ = 0;
      for (int64_t py = std::max<int64_t>(y, 0); py < bottom && py < window->h; py++)
        for (int64_t px = std::max<int64_t>(x, 0); px < x + side && px < window->w; px++)
          differ += crate[(size_t)py * window->w + px] != after[(size_t)py * window->w + px];
      EXPECT_GT(differ, side * side / 4) << c.scale;
    }
    if (c.inView) {
      EXPECT_EQ(x0, x) << c.scale << " " << c.model;
      EXPECT_EQ(y0, y) << c.scale << " " << c.model;
      EXPECT_EQ(x1, x + w - 1) << c.scale << " " << c.model;
      EXPECT_EQ(y1, bottom - 1) << c.scale << " " << c.model;
    } else {
      EXPECT_EQ(before, after) << c.scale << " " << c.cx << "," << c.cy;
    }
  }
  zoom.level = ZOOM_ONE;
  entityModels.list.clear();
  modelReset();
  SDL_FreeSurface(sheet);  // the layer's, loaded here: no library holds it
}

// More definitions than names are kept, all in view, drawn frame after frame;
// one far away is not counted among those drawn.
TEST(EntityView, NameCacheBoundedAndOnlyInstancesInViewDrawn) {
  makeEditingProject();
  Map* m = showNewMap(1000, 64, {});
  const int kNames = ENTITY_LABELS_KEPT + 44, perRow = window->w / TILE;
  ASSERT_LE(kNames, perRow * (window->h / TILE));
  char name[16];
  for (int i = 0; i < kNames; i++) {
    snprintf(name, sizeof name, "D%03d", i);  // sorted as the list must be
    entityModels.list.push_back(definition(name, "", 1));
  }
  for (int i = 0; i < kNames; i++) {
    snprintf(name, sizeof name, "D%03d", i);
    ASSERT_TRUE(entityPlace(m, instanceAt(name, i % perRow, i / perRow, 100 + i), nullptr));
  }
  ASSERT_TRUE(entityPlace(m, instanceAt("D000", 900, 0, 99), nullptr));
  EntityViewConv conv;
  conv.scale = conv.unit = TILE;
  for (int frame = 0; frame < 3; frame++) {
    EXPECT_EQ(drawEntities(m, conv, 0), kNames);
    EXPECT_LE(entityLabelsKept(), ENTITY_LABELS_KEPT);
  }
  EXPECT_GT(entityLabelsKept(), 0);
  entityModels.list.clear();
  modelReset();
}
