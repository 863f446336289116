// The editor's command handler, menus and map switch, driven turn by turn
// through scripted input on a real project folder.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"
#include "net/netio.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/browser.h"
#include "toolkit/video.h"

namespace {
const uint8_t LEFT = SDL_BUTTON(1), RIGHT = SDL_BUTTON(3);

class Editor : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = makeEditingProject();
    historyInstall();
    platformScriptStart();
    newMapFile("map0", 128, 128);
    newMapFile("map1", 8, 8);
    open("map0");
    snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  }
  void open(const char* name) {
    project.currentMap = openMapInFreeSlot(name);
    snprintf(project.workingMap, sizeof project.workingMap, "%s", name);
  }
  Map* cur() { return project.listeMaps[project.currentMap]; }
  int cell(int x, int y, int layer = 0) { return cur()->layer[layer]->e[y * cur()->w + x]; }
  // Switches to a map through the map-name field; returns the log.
  std::string switchTo(const char* name) {
    snprintf(e_openmap, sizeof e_openmap, "%s", name);
    return logOf(g_openmap);
  }
  std::string dir;
};

TEST_F(Editor, PenPaintsRightOfThePanelAndErasesWithTheRightButton) {
  project.currentElement = 7;
  turn(322, 20, LEFT);  // the view's first pixel column does not react
  turn(300, 430, LEFT);
  for (int x = 0; x < 20; x++) EXPECT_EQ(cell(x, 1), 0);
  EXPECT_EQ(cell(0, 26), 0);
  turn(323, 20, LEFT);
  EXPECT_EQ(cell(0, 1), 7);
  cur()->viewX = 32;
  turn(375, 40, LEFT);  // (375 - 322) / 16 = 3, plus 32 / 16 = 2
  EXPECT_EQ(cell(5, 2), 7);
  turn(375, 40, RIGHT);
  EXPECT_EQ(cell(5, 2), 0);
}

TEST_F(Editor, PaintsOutsideANarrowMapWriteNothing) {
  switchTo("map1");
  snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  project.currentElement = 3;
  std::string log = logOf([] {
    turn(322 + 16 * 10 + 4, 4, LEFT);  // column 10 of an 8-wide map
    turn(322 + 16 * 10 + 4, 4);
    turn(322 + 4, 16 * 9 + 4, LEFT);   // row 9
    turn(322 + 4, 16 * 9 + 4);
  });
  EXPECT_EQ(log.find("setElementAbsolute"), std::string::npos) << log;
  // A rectangle that leaves the map is cut to it; one wholly outside writes nothing.
  snprintf(brush, sizeof brush, "SQUARE");
  turn(322 + 16 * 6 + 4, 16 * 6 + 4, LEFT);
  turn(322 + 16 * 15 + 4, 16 * 20 + 4, RIGHT);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) EXPECT_EQ(cell(x, y), x >= 6 && y >= 6 ? 3 : 0) << x << "," << y;
  turn(322 + 16 * 9 + 4, 4, LEFT);
  log = logOf([] { turn(322 + 16 * 12 + 4, 16 * 3 + 4, RIGHT); });
  EXPECT_NE(log.find("Brush SQUARE 9x0->12x3\n"), std::string::npos);
  EXPECT_EQ(log.find("setElement"), std::string::npos) << log;
}

TEST_F(Editor, ViewScrollsOneCellPerTurnWithinTheMap) {
  SDL_Event right = keyEvent(SDLK_RIGHT), down = keyEvent(SDLK_DOWN), left = keyEvent(SDLK_LEFT),
            up = keyEvent(SDLK_UP);
  turn(100, 300, 0, &left);
  turn(100, 300, 0, &up);
  EXPECT_EQ(cur()->viewX, 0u);
  EXPECT_EQ(cur()->viewY, 0u);
  turn(100, 300, 0, &right);
  EXPECT_EQ(cur()->viewX, 16u);
  turn(100, 300);  // the key-down stays the last event: one more cell
  EXPECT_EQ(cur()->viewX, 32u);
  for (int i = 0; i < 200; i++) turn(639, 300);  // the view's right edge
  EXPECT_EQ(cur()->viewX, 1746u);  // the map's right edge 16 pixels inside the 318-pixel view
  for (int i = 0; i < 200; i++) turn(100, 479, 0, i == 0 ? &down : nullptr);
  EXPECT_EQ(cur()->viewY, 1584u);  // and its bottom edge in the 480-pixel view
  turn(0, 300);  // the screen's left edge is the panel's (the view's: ZoomEditor's edges)
  EXPECT_EQ(cur()->viewX, 1746u);
  for (int i = 0; i < 200; i++) turn(100, 0, 0, i == 0 ? &up : nullptr);
  EXPECT_EQ(cur()->viewY, 0u);
  // A map narrower than the view never scrolls sideways.
  switchTo("map1");
  turn(639, 300, 0, &right);
  EXPECT_EQ(cur()->viewX, 0u);
}

// A peer's layer deletion that arrives while a layer button is held lands
// after the command, on the layers the command left.
TEST_F(Editor, PeersEditsWaitUntilAHeldLayerButtonIsReleased) {
  struct {
    const char* what;
    int x, y;
    bool bg;
    int peerDeletes;
    int left[2];  // the layers that remain, by their first index
  } cases[] = {{"up", 270, 245, false, 2, {0, 2}},     {"down", 230, 245, false, 0, {0, 2}},
               {"delete", 250, 310, false, 2, {0, 2}}, {"bg x-", 154, 124, true, 1, {0, 2}},
               {"bg y+", 186, 164, true, 1, {0, 2}}};
  for (auto c : cases) {
    while (cur()->layers > 1) deleteLayer(cur(), cur()->layers - 1);
    action_addLayer(project.currentMap, "default", false);
    action_addLayer(project.currentMap, "default", false);
    Layer* was[3] = {cur()->layer[0], cur()->layer[1], cur()->layer[2]};
    was[1]->bg = c.bg;
    project.currentLayer = 1;
    pushFrame(c.x, c.y, LEFT);
    pushFrame(c.x, c.y, 0);
    boucle();
    char body[32];
    snprintf(body, sizeof body, "%d %d", project.currentMap, c.peerDeletes);
    netQueue(NetEvent{EV_ACTION, 0, peers[0].gen, false, "DELETELAYER", body});
    eventMenu();  // the button waits for the release inside
    netPump();    // the next turn
    ASSERT_EQ(cur()->layers, 2) << c.what;
    for (int i = 0; i < 2; i++) {
      EXPECT_EQ(cur()->layer[i], was[c.left[i]]) << c.what << " " << i;
      EXPECT_EQ(cur()->layer[i]->bg, 0) << c.what << " " << i;
    }
  }
}

// Pass conditions that cannot be written keep the mode and say why; they
// belong to a loaded tileset whose name stays in the project.
TEST_F(Editor, PassConditionsUnwritableOrWithoutATilesetAreRefused) {
  click(260, 390);
  ASSERT_TRUE(e_passconditions);
  turn(1 + 2, 70 + 2, LEFT);  // blocks a quarter
  // The file's place is taken by a folder: it cannot be opened for writing.
  remove((dir + "layerspc/default.pss").c_str());
  ASSERT_EQ(mkdir((dir + "layerspc/default.pss").c_str(), 0755), 0);
  std::string log = logOf([] { click(260, 390); });
  EXPECT_TRUE(e_passconditions);
  EXPECT_EQ(passconditions[0], 0);
  EXPECT_NE(log.find("impossible"), std::string::npos) << log;
  EXPECT_NE(std::string(panelMessage).find("impossible"), std::string::npos);
  rmdir((dir + "layerspc/default.pss").c_str());
  click(260, 390);
  EXPECT_FALSE(e_passconditions);
  EXPECT_EQ(readFile(dir + "layerspc/default.pss")[0], 0);
  writeFile(dir + "layerspc/missing.pss", std::string(8, 1));
  for (const char* name : {"../../../../x", "missing"}) {
    snprintf(cur()->layer[0]->layerGFX, LAYER_NAME_LEN, "%s", name);
    cur()->layer[0]->s = nullptr;  // as the library leaves a tileset it could not load
    panelMessage[0] = 0;
    click(260, 390);
    EXPECT_FALSE(e_passconditions) << name;
    EXPECT_NE(panelMessage[0], 0) << name;
  }
  EXPECT_EQ(readFile(dir + "layerspc/missing.pss").size(), 8u);
}

// A missing, broken or blank-named map, or a changed map whose save fails,
// leaves the current map in place.
TEST_F(Editor, MapSwitchToABadFileKeepsTheCurrentMap) {
  writeFile(dir + "maps/broken.map", "not a map");
  writeFile(dir + "maps/my map.map", readFile(dir + "maps/map1.map"));
  for (const char* name : {"nosuch", "my map", "broken"}) {
    switchTo(name);
    EXPECT_STREQ(project.workingMap, "map0") << name;
    ASSERT_NE(cur(), nullptr);
    EXPECT_STREQ(cur()->filename, "map0");
  }
  EXPECT_NE(std::string(panelMessage).find("broken"), std::string::npos);
  setElementAbsolute(project.currentMap, 0, 2, 2, 6);
  remove((dir + "maps/map0.map").c_str());
  ASSERT_EQ(mkdir((dir + "maps/map0.map").c_str(), 0755), 0);
  switchTo("map1");
  EXPECT_STREQ(project.workingMap, "map0");
  EXPECT_EQ(cell(2, 2), 6);
  rmdir((dir + "maps/map0.map").c_str());
  switchTo("map1");
  EXPECT_STREQ(project.workingMap, "map1");
  EXPECT_EQ(readFile(dir + "maps/map0.map")[46 + 4 * (2 * 128 + 2)], 6);
}

// New maps from the main menu's fields, named as typed; a bad name, an empty
// size, a size the model refuses or an existing map is refused, says why on
// the panel and changes no file.
TEST_F(Editor, NewMapFieldsCreateAndRefuse) {
  snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  const char* cases[][4] = {{"wide", "64", "32", ""},
                            {"../x", "4", "4", "Map name refused: no / or \\ in a name."},
                            {"my map", "4", "4", "Map name refused: no spaces in a name (use _ or -)."},
                            {"ok", "0", "4", "Size refused"},
                            {"ok", "70000", "70000", "Size refused"},
                            {"wide", "4", "4", "A map of this name exists already."}};
  for (auto& c : cases) {
    std::string before = readFile(dir + "maps/wide.map");
    snprintf(e_newmap, sizeof e_newmap, "%s", c[0]);
    snprintf(e_newmapw, sizeof e_newmapw, "%s", c[1]);
    snprintf(e_newmaph, sizeof e_newmaph, "%s", c[2]);
    panelMessage[0] = 0;
    click(260, 340);
    EXPECT_STREQ(project.workingMap, "wide") << c[0];
    EXPECT_EQ(readFile(dir + "maps/ok.map"), "");
    if (&c == &cases[0]) {
      EXPECT_EQ(e_newmapwi, 64u);
      EXPECT_STREQ(cur()->sysname, "wide");
      continue;
    }
    EXPECT_EQ(std::string(panelMessage).find(c[3]), 0u) << c[0] << ": " << panelMessage;
    EXPECT_EQ(panelMessageKind, PANEL_ERROR);
    EXPECT_EQ(readFile(dir + "maps/wide.map"), before);
  }
  EXPECT_EQ(readFile(dir + "maps/wide.map").size(), 48u + 4 + 4 * 64 * 32);
  // The header's place among the maps, as the browser lists them.
  int rank, count;
  struct {
    const char* file;
    int rank, count;
  } places[] = {{"map0.map", 1, 3}, {"wide.map", 3, 3}, {"gone.map", 0, 3}};
  for (auto p : places) {
    ASSERT_TRUE(folderRank("maps", p.file, &rank, &count));
    EXPECT_EQ(rank * 10 + count, p.rank * 10 + p.count) << p.file;
  }
}

// Join with networking off and a tileset whose size is not a multiple of 16:
// the panel says what happened, in its colour; one log line for the join.
TEST_F(Editor, PanelTellsRefusalsAndWarnings) {
  net = false;
  snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  std::string log = logOf([] { click(150, 105); });
  EXPECT_EQ(log, "Networking is off: set net 1 in settings.ini\n");
  EXPECT_STREQ(panelMessage, "Networking is off: set net 1 in settings.ini");
  EXPECT_EQ(panelMessageKind, PANEL_ERROR);
  setMenu("map");
  writeBmpTileset(dir, "odd", 40, 24);
  click(240, 275);                  // add layer: the browser lists default.png, odd.png
  click(50, 270 + 24 + 16 * 1 + 2);  // odd.png
  ASSERT_EQ(cur()->layers, 2);
  EXPECT_EQ(project.currentLayer, 1);  // the new layer is the current one
  EXPECT_NE(std::string(panelMessage).find("odd.png is 40x24"), std::string::npos) << panelMessage;
  EXPECT_EQ(panelMessageKind, PANEL_WARNING);
}
}  // namespace

namespace {
SDL_Event mouseEvent(Uint8 type, int x, int y, Uint8 state) {
  SDL_Event e{};
  e.type = type;
  if (type == SDL_MOUSEMOTION) {
    e.motion.x = (Uint16)x, e.motion.y = (Uint16)y, e.motion.state = state;
  } else {
    e.button.button = SDL_BUTTON_LEFT, e.button.x = (Uint16)x, e.button.y = (Uint16)y;
  }
  return e;
}

// Screen position of the middle of cell (x, y) with the view at the origin.
int sx(int x) { return 322 + 16 * x + 8; }
int sy(int y) { return 16 * y + 8; }

// One frame holding several events, taken by one pump, then the handler.
void frameOf(int x, int y, uint8_t buttons, std::initializer_list<SDL_Event> evs) {
  ScriptFrame f;
  f.mouseX = x, f.mouseY = y, f.buttons = buttons;
  for (const SDL_Event& e : evs) {
    if (!f.hasEvent) {
      f.hasEvent = true, f.ev = e;
    } else if (f.extraCount < ScriptFrame::EXTRA_MAX) {
      f.extra[f.extraCount++] = e;
    }
  }
  platformScriptPush(f);
  boucle();
  eventMenu();
}
}  // namespace

TEST(Stroke, CellLineStepsToANeighbourFromEndToEnd) {
  struct {
    long x0, y0, x1, y1;
  } cases[] = {{0, 0, 29, 0}, {3, 3, 3, 3}, {0, 0, 7, 7}, {10, 2, -5, 9}, {0, 0, 2, 17}, {5, 5, 0, 0}};
  for (auto c : cases) {
    std::vector<CellPos> line = cellLine(c.x0, c.y0, c.x1, c.y1);
    long dx = labs(c.x1 - c.x0), dy = labs(c.y1 - c.y0);
    ASSERT_EQ(line.size(), (size_t)std::max(dx, dy) + 1) << c.x0 << "," << c.y0 << "->" << c.x1 << "," << c.y1;
    EXPECT_TRUE(line.front().x == c.x0 && line.front().y == c.y0);
    EXPECT_TRUE(line.back().x == c.x1 && line.back().y == c.y1);
    for (size_t i = 1; i < line.size(); i++)
      EXPECT_LE(std::max(labs(line[i].x - line[i - 1].x), labs(line[i].y - line[i - 1].y)), 1) << i;
  }
}

// A fast stroke: the press and every motion of one frame paint the whole
// path, with the pen and with a stamp, and one Ctrl+Z takes it all back.
TEST_F(Editor, StrokePaintsEveryCellItsPathCrossesAsOneStep) {
  struct {
    uint32_t w, h;
  } stamps[] = {{1, 1}, {2, 2}};
  for (auto st : stamps) {
    Stamp s;
    s.w = st.w, s.h = st.h;
    for (uint32_t i = 0; i < st.w * st.h; i++) s.cells.push_back(40 + (int32_t)i);
    brushState.stamp = st.w * st.h > 1 ? s : Stamp();
    project.currentElement = 40;
    cur()->layer[0]->e[3 * 128 + 5] = 5;  // what undo gives back, under cells painted again and again
    // The second frame ends with the button let go: its path still paints.
    frameOf(sx(9), sy(3), LEFT,
            {mouseEvent(SDL_MOUSEBUTTONDOWN, sx(2), sy(3), 0), mouseEvent(SDL_MOUSEMOTION, sx(9), sy(3), LEFT)});
    frameOf(sx(33), sy(20), 0,
            {mouseEvent(SDL_MOUSEMOTION, sx(32), sy(3), LEFT), mouseEvent(SDL_MOUSEMOTION, sx(33), sy(20), LEFT),
             mouseEvent(SDL_MOUSEBUTTONUP, sx(33), sy(20), 0)});
    turn(sx(33), sy(20));
    EXPECT_EQ(historySteps("map0"), 1u);
    std::vector<CellPos> path = cellLine(2, 3, 32, 3), down = cellLine(32, 3, 33, 20);
    path.insert(path.end(), down.begin(), down.end());
    for (const CellPos& p : path)
      for (uint32_t r = 0; r < st.h; r++)
        for (uint32_t c = 0; c < st.w; c++)
          EXPECT_NE(cell(p.x + c, p.y + r), 0) << st.w << "x" << st.h << " at " << p.x + c << "," << p.y + r;
    EXPECT_EQ(cell(2, 3), 40);
    EXPECT_EQ(cell(1, 3), 0);
    EXPECT_EQ(cell(33, 20 + st.h - 1), 40 + (int)((st.h - 1) * st.w));
    EXPECT_TRUE(historyUndo());
    for (const CellPos& p : path) EXPECT_EQ(cell(p.x, p.y), p.x == 5 && p.y == 3 ? 5 : 0) << p.x << "," << p.y;
  }
}

// Every key of a frame acts once; a click pressed and let go within one
// frame still paints.
TEST_F(Editor, EveryEventOfAFrameIsTakenOnce) {
  std::string log = logOf([] {
    frameOf(100, 100, 0, {keyEvent(SDLK_f), keyEvent(SDLK_r), keyEvent(SDLK_b)});
    turn(100, 100);
  });
  EXPECT_NE(log.find("FILL\nSQUARE\nPEN\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("PEN\nPEN"), std::string::npos) << log;
  project.currentElement = 9;
  SDL_Event up = mouseEvent(SDL_MOUSEBUTTONUP, sx(4), sy(4), 0);
  frameOf(sx(4), sy(4), 0, {mouseEvent(SDL_MOUSEBUTTONDOWN, sx(4), sy(4), 0), up});
  EXPECT_EQ(cell(4, 4), 9);
}

// S and a drag select cells; Ctrl+C, Ctrl+V and a click copy them; Ctrl+X
// and Delete clear them; Escape drops the stamp and the selection first; a
// copy of another tileset is refused with a message.
TEST_F(Editor, SelectionCopiesCutsDeletesAndPastes) {
  int32_t* e = cur()->layer[0]->e;
  for (int y = 1; y <= 2; y++)
    for (int x = 1; x <= 3; x++) e[y * 128 + x] = 10 * y + x;
  SDL_Event s = keyEvent(SDLK_s), c = keyEvent(SDLK_c, KMOD_LCTRL), v = keyEvent(SDLK_v, KMOD_LCTRL),
            x = keyEvent(SDLK_x, KMOD_LCTRL),
            del = keyEvent(SDLK_DELETE);
  turn(100, 100, 0, &s);
  turn(sx(1), sy(1), LEFT);
  turn(sx(3), sy(2), LEFT);
  turn(sx(3), sy(2), 0, &c);
  ASSERT_TRUE(brushState.hasClipboard);
  turn(100, 100, 0, &v);
  EXPECT_TRUE(stampActive());
  turn(sx(20), sy(30), LEFT);
  turn(sx(20), sy(30));
  for (int y = 1; y <= 2; y++)
    for (int xx = 1; xx <= 3; xx++) EXPECT_EQ(cell(19 + xx, 29 + y), 10 * y + xx);
  EXPECT_TRUE(editorEscape());  // the stamp goes, Escape does not quit
  EXPECT_FALSE(stampActive());
  EXPECT_FALSE(editorEscape());
  // Cut: the cells go, the copy stays; Delete clears a selection.
  turn(100, 100, 0, &s);
  turn(sx(20), sy(30), LEFT);
  turn(sx(21), sy(30), LEFT);
  turn(sx(21), sy(30), 0, &x);
  EXPECT_EQ(cell(20, 30), 0);
  EXPECT_EQ(cell(21, 30), 0);
  EXPECT_EQ(cell(20, 31), 21);
  EXPECT_EQ(brushState.clipboard.cells, (std::vector<int32_t>{11, 12}));
  turn(sx(22), sy(31), LEFT);
  turn(sx(22), sy(31), 0, &del);
  EXPECT_EQ(cell(22, 31), 0);
  EXPECT_EQ(cell(21, 31), 22);
  EXPECT_TRUE(historyUndo());
  EXPECT_EQ(cell(22, 31), 23);
  // A copy of another tileset is refused on this layer.
  brushState.clipboard.tileset = "other";
  turn(100, 100, 0, &v);
  EXPECT_FALSE(stampActive());
  EXPECT_NE(std::string(panelMessage).find("refuse"), std::string::npos) << panelMessage;
}

// The rectangle brush with a stamp repeats it from the rectangle's top-left.
TEST_F(Editor, RectangleRepeatsTheStampFromItsCorner) {
  Stamp s;
  s.w = 2, s.h = 3;
  s.cells = {1, 2, 3, 4, 5, 6};
  brushState.stamp = s;
  snprintf(brush, sizeof brush, "SQUARE");
  turn(sx(9), sy(10), LEFT);
  turn(sx(9), sy(10));
  turn(sx(5), sy(5), RIGHT);
  turn(sx(5), sy(5));
  for (int y = 4; y <= 11; y++)
    for (int xx = 4; xx <= 10; xx++) {
      bool in = xx >= 5 && xx <= 9 && y >= 5 && y <= 10;
      EXPECT_EQ(cell(xx, y), in ? s.cells[((y - 5) % 3) * 2 + (xx - 5) % 2] : 0) << xx << "," << y;
    }
}
