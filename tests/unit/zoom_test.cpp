// The zoomed map view: pictures at every scale against a reference worked
// out from the tileset images' pixels alone (viewref.h); screen pixels to
// cells and back at every scale; painting, the rectangle brush, the fill,
// picking, zooming, dragging, scrolling and the overview driven by scripted
// input; a resized window.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor/menu.h"
#include "editor/navigate.h"
#include "editor/zoom.h"
#include "model/model.h"
#include "net/net.h"
#include "shell/shell.h"
#include "testutil.h"
#include "tilesheet.h"
#include "toolkit/tilecache.h"
#include "toolkit/tilemip.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"
#include "viewref.h"

namespace {
const uint8_t LEFT = SDL_BUTTON(1), MIDDLE = SDL_BUTTON(2), RIGHT = SDL_BUTTON(3);
const int kTolerance = 4;  // per channel: the coverage is read back from the library's 8-bit blends, a unit off a layer

// The channel of a and b that differs most.
int channelDistance(uint32_t a, uint32_t b) {
  int most = 0;
  for (int s = 0; s < 24; s += 8) most = std::max(most, abs((int)(a >> s & 0xFF) - (int)(b >> s & 0xFF)));
  return most;
}

}  // namespace

class ZoomPixels : public ::testing::TestWithParam<SheetKind> {};

// Tiles of every kind (opaque, keyed holes, per-pixel alpha), numbers past
// the sheet, a sheet with partial tiles, a background layer between tiled
// ones; the view at the map's corner, at an odd place, and with the map's
// far corner inside it: every pixel within a few units of the reference.
TEST_P(ZoomPixels, EveryScaleMatchesAPictureWorkedOutFromTheSheets) {
  std::string p = makeProject();
  startVideo();
  tileCacheClear();
  tileMipClear();
  SheetImage own = makeSheet(GetParam(), 256, 256), odd = makeSheet(GetParam(), 200, 120),
             rgba = makeSheet(SHEET_RGBA, 128, 192), back = makeSheet(SHEET_RGB, 200, 120);
  std::vector<const SheetImage*> images = {&own, &odd, &back, &rgba, &own};
  std::vector<SDL_Surface*> sheets = {loadTestSheet(p, "own", own), loadTestSheet(p, "odd", odd), loadTestSheet(p, "back", back),
                                      loadTestSheet(p, "rgba", rgba), nullptr};
  sheets[4] = sheets[0];
  Map* m = showNewMap(70, 50, sheets);
  m->layer[2]->bg = 1;
  uint32_t seed = 7;
  for (int i = 0; i < m->layers; i++)
    for (size_t c = 0; c < (size_t)m->w * m->h; c++) {
      seed = seed * 1664525u + 1013904223u;
      int tiles = (images[i]->w / 16) * ((images[i]->h + 15) / 16);
      // The top layer mostly empty, so the ones under it show.
      m->layer[i]->e[c] = i == 4 && seed >> 29 ? 0 : (int)((seed >> 8) % (unsigned)(tiles + 3)) - 1;
    }
  std::vector<RefLayer> layers;
  for (int i = 0; i < m->layers; i++) layers.push_back({images[i], m->layer[i]->e, i == 2});
  for (int level = 0; level < ZOOM_LEVELS; level++) {
    zoom.level = level;
    int cell = zoomCellPixels(level);
    // The corner, an odd place, and the far corner of the map inside the view.
    uint32_t farX = (uint32_t)std::max<int64_t>(0, (70 * cell - window->w / 2) * 16 / cell);
    uint32_t farY = (uint32_t)std::max<int64_t>(0, (50 * cell - window->h / 2) * 16 / cell);
    for (auto at : {std::make_pair(0u, 0u), std::make_pair(37u, 21u), std::make_pair(farX, farY)}) {
      m->viewX = at.first;
      m->viewY = at.second;
      RefView v;
      v.width = window->w, v.height = window->h, v.cell = cell;
      v.viewX = m->viewX, v.viewY = m->viewY, v.mapW = m->w, v.mapH = m->h;
      std::vector<uint32_t> want = referenceView(v, layers);
      for (bool wide : {true, false}) {  // AVX2 rows (where the processor has them) and the baseline ones
        tileMipUseWide(wide);
        SDL_FillRect(window, nullptr, SDL_MapRGB(window->format, 1, 2, 3));  // every pixel must be drawn
        drawWindow();
        int wrong = 0, worst = 0, lit = 0;
        for (int y = 0; y < window->h; y++)
          for (int x = 0; x < window->w; x++) {
            uint32_t got = getpixel(window, x, y), w = want[(size_t)y * window->w + x];
            int d = channelDistance(got, w);
            wrong += d > kTolerance;
            worst = std::max(worst, d);
            lit += w != 0;
          }
        EXPECT_EQ(wrong, 0) << "scale " << zoomName(level) << " at " << at.first << "," << at.second
                            << (wide ? " (wide)" : "") << ": worst channel off by " << worst;
        EXPECT_GT(lit, window->w * window->h / 20) << zoomName(level);  // something was drawn
      }
    }
  }
  tileMipUseWide(true);
  zoom.level = ZOOM_ONE;
  tileCacheClear();
}

INSTANTIATE_TEST_SUITE_P(Formats, ZoomPixels, ::testing::Values(SHEET_PALETTED, SHEET_RGB, SHEET_RGBA));

// Screen pixels to cells and back, at every scale: the view's first pixel,
// a cell's last pixel and the next one's first, odd view positions (the
// first cell cut), the view's last pixel, and the panel left of the view.
TEST(ZoomGeometry, ScreenPixelsToCellsAndBackAtEveryScale) {
  struct {
    const char* scale;
    uint32_t viewX, viewY;
    int sx, sy;
    int64_t col, row;
  } cases[] = {
      {"1", 0, 0, 322, 0, 0, 0},       {"1", 0, 0, 337, 15, 0, 0},     {"1", 0, 0, 338, 16, 1, 1},
      {"1", 32, 0, 375, 40, 5, 2},     {"1", 21, 7, 322, 8, 1, 0},     {"1", 21, 7, 332, 9, 1, 1},
      {"1", 0, 0, 321, 0, -1, 0},      {"1", 0, 0, 306, 0, -1, 0},     {"1", 0, 0, 305, 0, -2, 0},
      {"1/8", 0, 0, 322, 0, 0, 0},     {"1/8", 0, 0, 323, 1, 0, 0},    {"1/8", 0, 0, 324, 2, 1, 1},
      {"1/8", 64, 16, 322, 0, 4, 1},   {"1/8", 71, 0, 322, 0, 4, 0},   {"1/8", 0, 0, 639, 479, 158, 239},
      {"1/4", 0, 0, 400, 100, 19, 25}, {"1/4", 12, 4, 322, 3, 0, 1},   {"1/2", 16, 0, 322, 0, 1, 0},
      {"1/2", 15, 0, 329, 0, 1, 0},    {"2", 8, 0, 322, 0, 0, 0},      {"2", 8, 0, 338, 0, 1, 0},
      {"2", 1, 1, 351, 29, 0, 0},      {"2", 1, 1, 352, 30, 1, 1},     {"3", 16, 16, 354, 47, 1, 1},
      {"3", 5, 0, 354, 0, 0, 0},       {"3", 5, 0, 355, 0, 1, 0},      {"4", 0, 0, 639, 479, 4, 7},
      {"4", 100, 100, 322, 0, 6, 6},   {"4", 0, 0, 321, 0, -1, 0},
  };
  for (auto& c : cases) {
    for (zoom.level = 0; zoom.level < ZOOM_LEVELS && std::string(zoomName(zoom.level)) != c.scale; zoom.level++) {
    }
    ASSERT_LT(zoom.level, ZOOM_LEVELS) << c.scale;
    Map m;
    m.w = m.h = 4096;
    m.viewX = c.viewX;
    m.viewY = c.viewY;
    pMap open[1] = {&m};
    project.listeMaps = open;
    project.nbreMaps = 1;
    project.currentMap = 0;
    long col, row;
    int x, y;
    viewToCell(c.sx, c.sy, &col, &row);
    EXPECT_EQ(col, c.col) << c.scale << " view " << c.viewX << "," << c.viewY << " at " << c.sx << "," << c.sy;
    EXPECT_EQ(row, c.row) << c.scale << " view " << c.viewX << "," << c.viewY << " at " << c.sx << "," << c.sy;
    // The cell's square on the view holds the pixel.
    cellToView(col, row, &x, &y);
    int side = viewCellSide(), vx = c.sx - PANEL_WIDTH;
    EXPECT_TRUE(x <= vx && vx < x + side && y <= c.sy && c.sy < y + side) << c.scale << " cell " << col;
  }
  project.listeMaps = nullptr;
  project.nbreMaps = 0;
  zoom.level = ZOOM_ONE;
}

namespace {
SDL_Event buttonEvent(int button) {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = (Uint8)button;
  return e;
}
}  // namespace

class ZoomEditor : public ::testing::Test {
 protected:
  static const int kSide = 512;  // wider than the view at 1/8
  void SetUp() override {
    makeEditingProject();
    platformScriptStart();
    newMapFile("map0", kSide, kSide);
    project.currentMap = openMapInFreeSlot("map0");
    snprintf(project.workingMap, sizeof project.workingMap, "map0");
    snprintf(project.currentMenu, sizeof project.currentMenu, "map");
    zoom.level = ZOOM_ONE;
    navigate = NavigateState();
    snprintf(brush, sizeof brush, "PEN");
  }
  Map* cur() { return project.listeMaps[project.currentMap]; }
  int cell(int x, int y, int layer = 0) { return cur()->layer[layer]->e[y * cur()->w + x]; }
  int painted() {
    int n = 0;
    for (uint32_t i = 0; i < cur()->w * cur()->h; i++) n += cur()->layer[0]->e[i] != 0;
    return n;
  }
  void clear() {
    for (uint32_t i = 0; i < cur()->w * cur()->h; i++) cur()->layer[0]->e[i] = 0;
  }
  void release(int x, int y) {
    turn(x, y);
    turn(x, y);
  }
};

// At every scale and an odd view position, the pen, the rectangle brush,
// the fill and Alt+click act on the cell the pointer is over.
TEST_F(ZoomEditor, EveryToolTakesTheCellUnderThePointerAtEveryScale) {
  struct {
    const char* scale;
    uint32_t viewX, viewY;
    int x, y;    // the pen's pixel: cell (col, row)
    int col, row;
    int x2, y2;  // the rectangle's far corner: cell (col2, row2)
    int col2, row2;
  } cases[] = {
      // The pointer stays out of the edges' 16 pixels, which would scroll.
      {"1/8", 70, 40, 322 + 2 * 30 + 1, 2 * 20, 34, 22, 322 + 2 * 42, 2 * 44 + 1, 46, 47},
      {"1/4", 0, 0, 322 + 4 * 20 + 1, 4 * 30 + 3, 20, 30, 322 + 4 * 22, 4 * 33, 22, 33},
      {"1/2", 24, 8, 322 + 8 * 5, 8 * 7 + 7, 6, 8, 322 + 8 * 9, 8 * 7 + 8, 10, 8},
      {"1", 21, 9, 322 + 27, 23, 3, 2, 322 + 28, 40, 3, 3},
      {"2", 64, 32, 322 + 20, 20, 4, 2, 322 + 100, 80, 7, 4},
      {"3", 16, 16, 322 + 95, 47, 2, 1, 322 + 96, 48, 3, 2},
      {"4", 100, 100, 322 + 300, 400, 10, 12, 322 + 250, 300, 10, 10},
  };
  for (auto& c : cases) {
    zoom.level = 0;
    while (std::string(zoomName(zoom.level)) != c.scale) zoom.level++;
    cur()->viewX = c.viewX;
    cur()->viewY = c.viewY;
    clear();
    snprintf(brush, sizeof brush, "PEN");
    project.currentElement = 9;
    turn(c.x, c.y, LEFT);
    release(c.x, c.y);
    EXPECT_EQ(cell(c.col, c.row), 9) << c.scale;
    EXPECT_EQ(painted(), 1) << c.scale;
    // Alt+click takes the tile back.
    project.currentElement = 3;
    turn(c.x, c.y, LEFT, {KEY_LALT});
    release(c.x, c.y);
    EXPECT_EQ(project.currentElement, 9) << c.scale;
    // The rectangle from that cell to the far corner's.
    clear();
    snprintf(brush, sizeof brush, "SQUARE");
    project.currentElement = 4;
    turn(c.x, c.y, LEFT);
    release(c.x, c.y);
    turn(c.x2, c.y2, RIGHT);
    release(c.x2, c.y2);
    int area = (abs(c.col2 - c.col) + 1) * (abs(c.row2 - c.row) + 1);
    EXPECT_EQ(painted(), area) << c.scale;
    EXPECT_EQ(cell(c.col2, c.row2), 4) << c.scale;
    // The fill from the corner's cell: the rectangle's tiles become 6.
    snprintf(brush, sizeof brush, "FILL");
    project.currentElement = 6;
    turn(c.x2, c.y2, LEFT);
    release(c.x2, c.y2);
    EXPECT_EQ(cell(c.col, c.row), 6) << c.scale;
    EXPECT_EQ(painted(), area) << c.scale;
  }
}

// Ctrl+wheel zooms around the pointer (the cell under it stays under it)
// and leaves the layer; the wheel alone still selects the layer; + and -
// (main keys and keypad) zoom around the view's centre and 0 goes back to 1.
TEST_F(ZoomEditor, CtrlWheelZoomsAtThePointerAndTheKeysAtTheCentre) {
  action_addLayer(project.currentMap, "default", false);
  project.currentLayer = 0;
  cur()->viewX = 320;
  cur()->viewY = 480;
  SDL_Event up = buttonEvent(SDL_BUTTON_WHEELUP), down = buttonEvent(SDL_BUTTON_WHEELDOWN), notchUp = up;
  notchUp.type = SDL_MOUSEBUTTONUP;
  int x = 322 + 100 + 8, y = 200 + 8;  // the centre of cell (26, 43) at 1:1
  long col, row;
  const int levels[] = {4, 5, 6, 6, 5, 4, 3, 2, 1, 0, 0};
  for (int i = 0; i < 11; i++) {
    turn(x, y, 0, {KEY_LCTRL}, i < 4 ? &up : &down);
    EXPECT_EQ(zoom.level, levels[i]) << i;
    viewToCell(x, y, &col, &row);
    if (zoom.level >= 2) {  // where the map is wider than the view: it stays in place
      EXPECT_EQ(col, 26) << zoomName(zoom.level);
      EXPECT_EQ(row, 43) << zoomName(zoom.level);
    }
    turn(x, y, 0, {KEY_LCTRL}, &notchUp);  // the notch's button-up
  }
  EXPECT_EQ(project.currentLayer, 0);
  turn(x, y, 0, {}, &up);
  EXPECT_EQ(project.currentLayer, 1);
  EXPECT_EQ(zoom.level, 0);
  struct {
    SDLKey key;
    SDLMod mod;
    int level;
  } keys[] = {{SDLK_EQUALS, KMOD_LSHIFT, 1}, {SDLK_KP_PLUS, KMOD_NONE, 2}, {SDLK_PLUS, KMOD_NONE, 3},
              {SDLK_0, KMOD_NONE, 3},        {SDLK_KP_PLUS, KMOD_NONE, 4}, {SDLK_KP0, KMOD_NONE, 3},
              {SDLK_MINUS, KMOD_NONE, 2},    {SDLK_KP_MINUS, KMOD_NONE, 1}};
  cur()->viewX = cur()->viewY = 640;
  for (auto& k : keys) {
    int cx = 322 + 159, cy = 240;
    long c0, r0;
    viewToCell(cx, cy, &c0, &r0);
    SDL_Event e = keyEvent(k.key, k.mod);
    turn(100, 100, 0, {}, &e);
    turn(100, 100);  // the key-down stays the last event: no second step
    EXPECT_EQ(zoom.level, k.level) << k.key;
    viewToCell(cx, cy, &col, &row);
    EXPECT_LE(abs((int)(col - c0)) + abs((int)(row - r0)), 1) << k.key;  // the centre stays
  }
}

// A middle drag moves the map with the pointer and paints nothing; a middle
// click without motion switches the brush; Space and a left drag also move
// it; a press that starts on the overview moves the view there; Shift and
// an arrow move it a whole view; the pointer within 16 pixels of the view's
// edges scrolls it, at 1/8 by 16 pixels (8 cells).
TEST_F(ZoomEditor, DragsClicksOverviewAndEdgesMoveTheView) {
  project.currentElement = 5;
  cur()->viewX = 400;
  cur()->viewY = 400;
  turn(500, 200, MIDDLE);
  turn(480, 150, MIDDLE);
  turn(470, 140, MIDDLE);
  turn(470, 140);
  EXPECT_EQ(cur()->viewX, 430u);
  EXPECT_EQ(cur()->viewY, 460u);
  EXPECT_STREQ(brush, "PEN");
  turn(500, 200, MIDDLE);
  turn(501, 200, MIDDLE);
  turn(501, 200);
  EXPECT_STREQ(brush, "SQUARE");
  snprintf(brush, sizeof brush, "PEN");
  turn(500, 200, LEFT, {KEY_SPACE});
  turn(520, 210, LEFT, {KEY_SPACE});
  turn(540, 230, LEFT);  // Space let go: the drag holds until the button is
  turn(540, 230);
  EXPECT_EQ(cur()->viewX, 390u);
  EXPECT_EQ(cur()->viewY, 430u);
  EXPECT_EQ(painted(), 0);
  // At 2, a drag of 20 pixels is 10 map pixels.
  zoom.level = 4;
  turn(500, 200, MIDDLE);
  turn(480, 180, MIDDLE);
  turn(480, 180);
  EXPECT_EQ(cur()->viewX, 400u);
  EXPECT_EQ(cur()->viewY, 440u);
  zoom.level = ZOOM_ONE;
  // The overview, in the view's bottom-right corner.
  SDL_Event m = keyEvent(SDLK_m);
  turn(100, 100, 0, {}, &m);
  int ox, oy, ow, oh;
  ASSERT_TRUE(overviewRect(cur(), &ox, &oy, &ow, &oh));
  EXPECT_EQ(ox + ow, 640 - 24);
  EXPECT_EQ(oy + oh, 480 - 24);
  drawWindow();
  turn(ox + ow / 2, oy + oh / 2, LEFT);  // the map's centre to the view's
  release(ox + ow / 2, oy + oh / 2);
  double perPixel = kSide * 16.0 / ow;  // map pixels an overview pixel stands for
  EXPECT_NEAR((double)cur()->viewX, kSide * 8 - 159, perPixel / 2);
  EXPECT_NEAR((double)cur()->viewY, kSide * 8 - 240, perPixel / 2);
  turn(ox, oy + oh - 1, LEFT);  // dragged to its bottom-left: as far as the view goes
  turn(ox - 50, oy + oh + 10, LEFT);
  release(ox - 50, oy + oh + 10);
  EXPECT_EQ(cur()->viewX, 0u);
  EXPECT_EQ(cur()->viewY, (uint32_t)kSide * 16 + 16 - 480);
  EXPECT_EQ(painted(), 0);
  // A whole view at a time.
  cur()->viewX = cur()->viewY = 0;
  SDL_Event right = keyEvent(SDLK_RIGHT, KMOD_LSHIFT), downKey = keyEvent(SDLK_DOWN, KMOD_RSHIFT);
  turn(100, 100, 0, {KEY_LSHIFT}, &right);
  turn(100, 100, 0, {KEY_LSHIFT});  // the press stays the last event: no second step
  turn(100, 100, 0, {KEY_RSHIFT}, &downKey);
  EXPECT_EQ(cur()->viewX, 318u);
  EXPECT_EQ(cur()->viewY, 480u);
  // The pointer near the edges, not over the overview: the edge zones are clear of it.
  struct {
    int x, y, dx, dy;
  } edges[] = {{322 + 15, 300, -16, 0}, {322 + 16, 300, 0, 0}, {639 - 15, 100, 16, 0},  {639 - 16, 100, 0, 0},
               {400, 15, 0, -16},       {400, 16, 0, 0},       {400, 479 - 15, 0, 16}, {630, 5, 16, -16}};
  for (auto& e : edges) {
    for (int level : {ZOOM_ONE, 0}) {
      zoom.level = level;
      cur()->viewX = cur()->viewY = 800;
      turn(e.x, e.y);
      int step = level == 0 ? 8 : 1;  // 16 screen pixels: 128 map pixels at 1/8
      EXPECT_EQ((int)cur()->viewX - 800, e.dx * step) << e.x << "," << e.y << " at " << zoomName(level);
      EXPECT_EQ((int)cur()->viewY - 800, e.dy * step) << e.x << "," << e.y << " at " << zoomName(level);
    }
  }
  zoom.level = ZOOM_ONE;
}

// G lays lines on the cells' first pixel rows and columns only; M's
// overview shows the map's colours and frames what the view shows.
TEST_F(ZoomEditor, GridAndOverviewMarksOnThePicture) {
  for (uint32_t i = 0; i < cur()->w * cur()->h; i++) cur()->layer[0]->e[i] = 1 + i % 7;
  cur()->viewX = 8;  // cells start at x = 8 + 16k
  drawWindow();
  std::vector<uint32_t> plain;
  for (int y = 0; y < window->h; y++)
    for (int x = 0; x < window->w; x++) plain.push_back(getpixel(window, x, y));
  SDL_Event g = keyEvent(SDLK_g);
  turn(100, 100, 0, {}, &g);
  drawWindow();
  int lines = 0, elsewhere = 0;
  for (int y = 0; y < window->h; y++)
    for (int x = 0; x < window->w; x++) {
      bool onLine = (x + 8) % 16 == 0 || y % 16 == 0;
      bool changed = getpixel(window, x, y) != plain[(size_t)y * window->w + x];
      lines += onLine && changed;
      elsewhere += !onLine && changed;
    }
  EXPECT_EQ(elsewhere, 0);
  EXPECT_GT(lines, (window->w + window->h) * 10);
  turn(100, 100, 0, {}, &g);
  SDL_Event m = keyEvent(SDLK_m);
  turn(100, 100, 0, {}, &m);
  drawWindow();
  int ox, oy, ow, oh;
  ASSERT_TRUE(overviewRect(cur(), &ox, &oy, &ow, &oh));
  ox -= PANEL_WIDTH;
  int coloured = 0, framed = 0;
  for (int y = oy; y < oy + oh; y++)
    for (int x = ox; x < ox + ow; x++) {
      uint32_t px = getpixel(window, x, y) & 0xFFFFFF;
      coloured += px != 0 && px != 0xFFFFFF;
      framed += px == 0xFFFFFF;
    }
  EXPECT_GT(coloured, ow * oh / 2);
  EXPECT_GT(framed, 4);  // the view's rectangle, near the overview's top-left corner
  EXPECT_EQ(getpixel(window, ox, oy) & 0xFFFFFF, 0xFFFFFFu);
}

// A resize event, taken by the event pump, makes the screen, the panel and
// the view again at the new size (the panel keeping its picture and 322
// pixels); the view then fills the new width and painting still takes the
// cell under the pointer. Too small a size is raised to the panel and a cell.
TEST_F(ZoomEditor, ResizedWindowKeepsThePanelAndPaintsUnderThePointer) {
  setMenu("map");
  turn(100, 100);
  uint32_t panelPixel = getpixel(menu, 10, 300);
  SDL_Event e{};
  e.type = SDL_VIDEORESIZE;
  e.resize.w = 900;
  e.resize.h = 600;
  std::string log = logOf([&] { turn(100, 100, 0, {}, &e); });
  EXPECT_NE(log.find("Fenetre 900x600."), std::string::npos) << log;
  EXPECT_EQ(surfaceWidth(screen), 900);
  EXPECT_EQ(surfaceHeight(menu), 600);
  EXPECT_EQ(surfaceWidth(menu), PANEL_WIDTH);
  EXPECT_EQ(surfaceWidth(window), 900 - PANEL_WIDTH);
  EXPECT_EQ(getpixel(menu, 10, 300), panelPixel);
  EXPECT_EQ(video_x, 900u);
  project.currentElement = 8;
  turn(800, 550, LEFT);
  release(800, 550);
  EXPECT_EQ(cell((800 - 322) / 16, 550 / 16), 8);
  cur()->layer[0]->e[0] = 2;
  SDL_FillRect(window, nullptr, SDL_MapRGB(window->format, 1, 2, 3));
  drawWindow();
  EXPECT_NE(getpixel(window, 900 - PANEL_WIDTH - 1, 599) & 0xFFFFFF, 0x010203u);  // drawn to the corner
  e.resize.w = 100;
  e.resize.h = 5;
  turn(100, 100, 0, {}, &e);
  EXPECT_EQ(surfaceWidth(screen), PANEL_WIDTH + 16);
  EXPECT_EQ(surfaceHeight(screen), 16);
  EXPECT_EQ(surfaceWidth(window), 16);
}
