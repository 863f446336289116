// The editor's command handler, menus and map switch, driven turn by turn
// through scripted input on a real project folder.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"
#include "net/netio.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "testutil.h"
#include "tilesheet.h"
#include "toolkit/browser.h"
#include "toolkit/video.h"

namespace {
const uint8_t LEFT = SDL_BUTTON(1), MIDDLE = SDL_BUTTON(2), RIGHT = SDL_BUTTON(3);

void push(int x, int y, uint8_t buttons, const SDL_Event* ev = nullptr) {
  ScriptFrame f;
  f.mouseX = x;
  f.mouseY = y;
  f.buttons = buttons;
  if (ev) {
    f.hasEvent = true;
    f.ev = *ev;
  }
  platformScriptPush(f);
}

// One turn of the main loop: the event pump, then the command handler.
void turn(int x, int y, uint8_t buttons = 0, const SDL_Event* ev = nullptr) {
  push(x, y, buttons, ev);
  boucle();
  eventMenu();
}

// A click on a button: pressed in one turn, released in the button's wait.
void click(int x, int y) {
  push(x, y, LEFT);
  push(x, y, 0);
  boucle();
  eventMenu();
  // Without a button there, nothing took the release: it makes its own turn.
  while (platformScriptRemaining() > 0) {
    boucle();
    eventMenu();
  }
}

SDL_Event keyEvent(SDLKey k) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = k;
  return e;
}

SDL_Event wheel(uint8_t b) {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = b;
  return e;
}

class Editor : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = makeProject();
    writeFile(dir + "layers/default.png", readFile(appDir() + "default.png"));
    startVideo();
    platformScriptStart();
    net = false;
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
  snprintf(e_openmap, sizeof e_openmap, "map1");
  g_openmap();
  snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  project.currentElement = 3;
  captureLogBegin();
  turn(322 + 16 * 10 + 4, 4, LEFT);  // column 10 of an 8-wide map
  turn(322 + 4, 16 * 9 + 4, LEFT);   // row 9
  std::string log = captureLogEnd();
  EXPECT_EQ(log.find("setElementAbsolute"), std::string::npos) << log;
  // A rectangle that leaves the map is cut to it; one wholly outside writes nothing.
  snprintf(brush, sizeof brush, "SQUARE");
  turn(322 + 16 * 6 + 4, 16 * 6 + 4, LEFT);
  turn(322 + 16 * 15 + 4, 16 * 20 + 4, RIGHT);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) EXPECT_EQ(cell(x, y), x >= 6 && y >= 6 ? 3 : 0) << x << "," << y;
  turn(322 + 16 * 9 + 4, 4, LEFT);
  captureLogBegin();
  turn(322 + 16 * 12 + 4, 16 * 3 + 4, RIGHT);
  log = captureLogEnd();
  EXPECT_NE(log.find("Brush SQUARE 9x0->12x3\n"), std::string::npos);
  EXPECT_EQ(log.find("setElement"), std::string::npos) << log;
}

TEST_F(Editor, RectangleBrushFillsFromTheLeftCornerToTheRightClick) {
  snprintf(brush, sizeof brush, "SQUARE");
  project.currentElement = 9;
  turn(322 + 16 * 1 + 4, 16 * 7 + 4, RIGHT);  // no first corner yet
  for (int y = 0; y < 10; y++) EXPECT_EQ(cell(1, y), 0);
  turn(322 + 16 * 3 + 4, 16 * 4 + 4, LEFT);
  captureLogBegin();
  turn(322 + 16 * 1 + 4, 16 * 7 + 4, RIGHT);
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("Brush SQUARE 3x4->1x7\n"), std::string::npos) << log;
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 6; x++)
      EXPECT_EQ(cell(x, y), x >= 1 && x <= 3 && y >= 4 && y <= 7 ? 9 : 0) << x << "," << y;
  // The middle button switches back to the pen and forgets the corner.
  turn(100, 300, MIDDLE);
  EXPECT_STREQ(brush, "PEN");
  EXPECT_FALSE(brush_square_state);
  turn(100, 300, MIDDLE);
  EXPECT_STREQ(brush, "SQUARE");
  turn(322 + 4, 4, RIGHT);  // the corner was forgotten: no fill
  EXPECT_EQ(cell(0, 0), 0);
}

// Keys act once per key-down (the event stays the last one for a turn more):
// F and B pick the brush, Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo;
// Alt+click picks the tile and shows its palette row.
TEST_F(Editor, KeysAndAltClick) {
  historyInstall();
  auto key = [&](SDLKey k, int mod) {
    SDL_Event e = keyEvent(k);
    e.key.keysym.mod = (SDLMod)mod;
    turn(100, 300, 0, &e);
    turn(100, 300);
  };
  project.currentElement = 4;
  key(SDLK_f, 0);
  turn(330, 4, LEFT), turn(330, 4, LEFT), turn(330, 4);  // one fill of the whole map
  key(SDLK_b, 0);
  project.currentElement = 200;  // palette row 11
  turn(346, 4, LEFT), turn(346, 4);
  struct {
    SDLKey k;
    int mod, first, last;  // cells (1, 0) and (127, 127) afterwards
  } keys[] = {{SDLK_z, KMOD_LCTRL, 4, 4}, {SDLK_z, KMOD_LCTRL, 0, 0},
              {SDLK_z, KMOD_LCTRL | KMOD_LSHIFT, 4, 4}, {SDLK_y, KMOD_RCTRL, 200, 4}};
  for (auto& k : keys) {
    key(k.k, k.mod);
    EXPECT_EQ(cell(1, 0), k.first) << k.mod;
    EXPECT_EQ(cell(127, 127), k.last) << k.mod;
  }
  ScriptFrame alt;
  alt.mouseX = 346, alt.mouseY = 4, alt.buttons = LEFT, alt.keys[0] = SDLK_LALT;
  platformScriptPush(alt);
  boucle();
  eventMenu();
  EXPECT_EQ(project.currentElement, 200);
  EXPECT_EQ(project.elementIndex, 11);
}

TEST_F(Editor, BrushSwitchesOnlyInTheMapMenuAndTheButtonKeepsTheCorner) {
  snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  turn(100, 300, MIDDLE);
  EXPECT_STREQ(brush, "PEN");
  snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  click(250, 52);
  EXPECT_STREQ(brush, "SQUARE");
  turn(322 + 20, 20, LEFT);
  ASSERT_TRUE(brush_square_state);
  click(250, 52);
  EXPECT_STREQ(brush, "PEN");
  EXPECT_TRUE(brush_square_state);
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
  for (int i = 0; i < 200; i++) turn(639, 300);  // the right screen edge
  EXPECT_EQ(cur()->viewX, 1744u);                // first column 109 of 128, view 19 wide
  for (int i = 0; i < 200; i++) turn(100, 479, 0, i == 0 ? &down : nullptr);
  EXPECT_EQ(cur()->viewY, 1568u);  // first row 98, view 30 high
  turn(0, 300);
  EXPECT_EQ(cur()->viewX, 1728u);
  for (int i = 0; i < 200; i++) turn(100, 0, 0, i == 0 ? &up : nullptr);
  EXPECT_EQ(cur()->viewY, 0u);
  // A map narrower than the view never scrolls sideways.
  snprintf(e_openmap, sizeof e_openmap, "map1");
  g_openmap();
  turn(639, 300, 0, &right);
  EXPECT_EQ(cur()->viewX, 0u);
}

TEST_F(Editor, WheelAndOrderButtonsChangeOnlyTheLocalLayers) {
  action_addLayer(project.currentMap, "default", false);
  action_addLayer(project.currentMap, "default", false);
  Layer* l0 = cur()->layer[0];
  Layer* l1 = cur()->layer[1];
  Layer* l2 = cur()->layer[2];
  SDL_Event wd = wheel(SDL_BUTTON_WHEELDOWN), wu = wheel(SDL_BUTTON_WHEELUP);
  project.elementIndex = 2;
  turn(100, 300, 0, &wd);  // already the first layer
  EXPECT_EQ(project.currentLayer, 0);
  EXPECT_EQ(project.elementIndex, 2);
  turn(100, 300, 0, &wu);
  turn(100, 300, 0, &wu);
  turn(100, 300, 0, &wu);  // already the last layer
  EXPECT_EQ(project.currentLayer, 2);
  EXPECT_EQ(project.elementIndex, 0);
  turn(100, 300, 0, &wd);
  ASSERT_EQ(project.currentLayer, 1);
  SDL_Event release{};
  release.type = SDL_MOUSEBUTTONUP;
  turn(100, 300, 0, &release);  // the wheel event stops being the last one
  click(270, 245);  // up: layers 1 and 2 swap, layer number 1 stays current
  EXPECT_EQ(project.currentLayer, 1);
  EXPECT_EQ(cur()->layer[1], l2);
  EXPECT_EQ(cur()->layer[2], l1);
  click(230, 245);  // down: layers 1 and 0 swap
  EXPECT_EQ(cur()->layer[0], l2);
  EXPECT_EQ(cur()->layer[1], l0);
  click(250, 310);  // delete the current layer
  EXPECT_EQ(cur()->layers, 2);
  EXPECT_EQ(project.currentLayer, 0);
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
               {"bg x+", 186, 124, true, 1, {0, 2}},   {"bg y-", 154, 164, true, 1, {0, 2}},
               {"bg y+", 186, 164, true, 1, {0, 2}}};
  for (auto c : cases) {
    while (cur()->layers > 1) deleteLayer(cur(), cur()->layers - 1);
    action_addLayer(project.currentMap, "default", false);
    action_addLayer(project.currentMap, "default", false);
    Layer* was[3] = {cur()->layer[0], cur()->layer[1], cur()->layer[2]};
    was[1]->bg = c.bg;
    project.currentLayer = 1;
    push(c.x, c.y, LEFT);
    push(c.x, c.y, 0);
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

TEST_F(Editor, BackgroundValuesStopAtTheLimits) {
  click(250, 340);  // to background
  Layer* l = cur()->layer[0];
  ASSERT_EQ(l->bg, 1);
  for (int i = 0; i < 40; i++) click(186, 124);  // x + 1
  EXPECT_EQ(l->x, 33);
  for (int i = 0; i < 80; i++) click(154, 124);  // x - 1
  EXPECT_EQ(l->x, -33);
  for (int i = 0; i < 40; i++) click(154, 164);  // y - 1
  EXPECT_EQ(l->y, -33);
  click(250, 340);  // back to a tile layer, values kept
  EXPECT_EQ(l->bg, 0);
  EXPECT_EQ(l->x, -33);
}

TEST_F(Editor, AddLayerBrowserAddsTheTilesetAndCloses) {
  SheetImage im = makeSheet(SHEET_RGB, 64, 48);
  ASSERT_TRUE(writeSheetPng(dir + "layers/cave.png", im));
  ASSERT_TRUE(writeSheetPng(dir + "layers/a b.png", im));
  click(260, 280);
  ASSERT_TRUE(e_addlayer);
  project.elementIndex = 1;
  turn(50, 270 + 16 + 8, LEFT);  // row 0: "a b.png", a name with a blank
  turn(50, 270 + 16 + 8);
  EXPECT_TRUE(e_addlayer);
  EXPECT_EQ(cur()->layers, 1);
  EXPECT_NE(panelMessage[0], 0);
  turn(50, 270 + 32 + 8, LEFT);  // row 1: cave.png, before default.png
  turn(50, 270 + 32 + 8);
  EXPECT_FALSE(e_addlayer);
  ASSERT_EQ(cur()->layers, 2);
  EXPECT_STREQ(cur()->layer[1]->layerGFX, "cave");
  EXPECT_EQ(cur()->layer[1]->bg, 0);
  EXPECT_EQ(project.elementIndex, 0);
}

TEST_F(Editor, PassConditionsOf200TilesAreSavedWhole) {
  SheetImage im = makeSheet(SHEET_RGB, 160, 320);  // 10 x 20 = 200 tiles
  ASSERT_TRUE(writeSheetPng(dir + "layers/big.png", im));
  action_addLayer(project.currentMap, "big", false);
  project.currentLayer = 1;
  click(260, 390);
  ASSERT_TRUE(e_passconditions);
  EXPECT_EQ(passconditionsLen, 800u);
  turn(1 + 16 * 18 + 8, 70 + 160 - 32 + 8, LEFT);  // the scroll-down button: one row
  turn(1 + 16 * 18 + 8, 70 + 160 - 32 + 8);
  EXPECT_EQ(project.elementIndex, 1);
  project.elementIndex = 0;
  turn(1 + 8 + 2, 70 + 2, RIGHT);  // top-right quarter of element 0 blocked
  click(260, 390);
  EXPECT_FALSE(e_passconditions);
  std::string pss = readFile(dir + "layerspc/big.pss");
  ASSERT_EQ(pss.size(), 800u);
  EXPECT_EQ(pss.substr(0, 4), std::string("\x01\x00\x01\x01", 4));
  EXPECT_EQ(pss.find('\0', 2), std::string::npos);
}

// Pass conditions belong to a loaded tileset whose name stays in the project.
TEST_F(Editor, PassConditionsNeedALoadedTilesetWithASafeName) {
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

TEST_F(Editor, PassConditionsThatCannotBeWrittenKeepTheMode) {
  click(260, 390);
  ASSERT_TRUE(e_passconditions);
  turn(1 + 2, 70 + 2, RIGHT);
  // The file's place is taken by a folder: it cannot be opened for writing.
  remove((dir + "layerspc/default.pss").c_str());
  ASSERT_EQ(mkdir((dir + "layerspc/default.pss").c_str(), 0755), 0);
  captureLogBegin();
  click(260, 390);
  std::string log = captureLogEnd();
  EXPECT_TRUE(e_passconditions);
  EXPECT_EQ(passconditions[0], 0);
  EXPECT_NE(log.find("impossible"), std::string::npos) << log;
  EXPECT_NE(std::string(panelMessage).find("impossible"), std::string::npos);
  rmdir((dir + "layerspc/default.pss").c_str());
  click(260, 390);
  EXPECT_FALSE(e_passconditions);
  EXPECT_EQ(readFile(dir + "layerspc/default.pss")[0], 0);
}

TEST_F(Editor, MapSwitchLoadsSavesAndKeepsWhatPeersUse) {
  project.currentElement = 5;
  project.currentLayer = 0;
  turn(330, 4, LEFT);  // a paint that must reach map0's file when it is left
  captureLogBegin();
  snprintf(e_openmap, sizeof e_openmap, "map1");
  g_openmap();
  std::string log = captureLogEnd();
  EXPECT_STREQ(project.workingMap, "map1");
  EXPECT_EQ(project.currentMap, 1);  // slot 0 was still taken while map1 was read
  EXPECT_EQ(project.listeMaps[0], nullptr);
  EXPECT_EQ(project.currentElement, 0);
  size_t a = log.find("openmap!\n"), b = log.find("Map actuelle map0 inutilisee en reseau\n"),
         c = log.find("Map a ouvrir map1 inutilisee en reseau\n"),
         d = log.find("Map map1 ouverte avec succes.\n"), e = log.find("Map fermée.\n");
  EXPECT_TRUE(a < b && b < c && c < d && d < e) << log;
  EXPECT_EQ(readFile(dir + "maps/map0.map")[46], 5);  // cell (0, 0) after the header and tileset name
  // The same map again: only the panel.
  captureLogBegin();
  g_openmap();
  EXPECT_EQ(captureLogEnd(), "");
  // Back to map0 while a peer uses map1: map1 stays loaded; map0 goes to slot 0.
  usedMap[3] = cur();
  snprintf(e_openmap, sizeof e_openmap, "map0");
  captureLogBegin();
  g_openmap();
  log = captureLogEnd();
  EXPECT_EQ(project.currentMap, 0);
  EXPECT_NE(project.listeMaps[1], nullptr);
  EXPECT_NE(log.find("Map actuelle map1 utilisee en reseau\n"), std::string::npos);
  EXPECT_NE(log.find("Map map0 utilisee en reseau (0).\n"), std::string::npos);
  // Opening it again reuses the loaded copy and reads no file.
  snprintf(e_openmap, sizeof e_openmap, "map1");
  captureLogBegin();
  g_openmap();
  log = captureLogEnd();
  EXPECT_NE(log.find("Map a ouvrir map1 utilisee en reseau\n"), std::string::npos);
  EXPECT_EQ(log.find("Ouverture de la map"), std::string::npos);
  EXPECT_EQ(project.currentMap, 1);
}

TEST_F(Editor, MapSwitchToABadFileKeepsTheCurrentMap) {
  snprintf(e_openmap, sizeof e_openmap, "nosuch");
  g_openmap();
  EXPECT_STREQ(project.workingMap, "map0");
  ASSERT_NE(cur(), nullptr);
  EXPECT_STREQ(cur()->filename, "map0");
  writeFile(dir + "maps/broken.map", "not a map");
  snprintf(e_openmap, sizeof e_openmap, "broken");
  g_openmap();
  EXPECT_STREQ(project.workingMap, "map0");
  EXPECT_STREQ(cur()->filename, "map0");
  EXPECT_NE(std::string(panelMessage).find("broken"), std::string::npos);
  writeFile(dir + "maps/my map.map", readFile(dir + "maps/map1.map"));
  snprintf(e_openmap, sizeof e_openmap, "my map");  // a blank: refused
  g_openmap();
  EXPECT_STREQ(project.workingMap, "map0");
  // A changed map whose save fails stays the current map.
  setElementAbsolute(project.currentMap, 0, 2, 2, 6);
  remove((dir + "maps/map0.map").c_str());
  ASSERT_EQ(mkdir((dir + "maps/map0.map").c_str(), 0755), 0);
  snprintf(e_openmap, sizeof e_openmap, "map1");
  g_openmap();
  EXPECT_STREQ(project.workingMap, "map0");
  EXPECT_STREQ(cur()->filename, "map0");
  EXPECT_EQ(cell(2, 2), 6);
  rmdir((dir + "maps/map0.map").c_str());
  g_openmap();
  EXPECT_STREQ(project.workingMap, "map1");
  EXPECT_EQ(readFile(dir + "maps/map0.map")[46 + 4 * (2 * 128 + 2)], 6);
}

TEST_F(Editor, NewMapFieldsCreateAndRefuse) {
  snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  snprintf(e_newmap, sizeof e_newmap, "wide");
  snprintf(e_newmapw, sizeof e_newmapw, "64");
  snprintf(e_newmaph, sizeof e_newmaph, "32");
  captureLogBegin();
  click(260, 340);
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("NEWMAP: e_newmap: wide, e_openmap: .\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Fin de la creation de map.\n"), std::string::npos);
  EXPECT_EQ(readFile(dir + "maps/wide.map").size(), 48u + 4 + 4 * 64 * 32);
  EXPECT_STREQ(project.workingMap, "wide");
  EXPECT_EQ(e_newmapwi, 64u);
  // Refused: a bad name, an empty size, a size the model refuses, an existing map.
  const char* cases[][3] = {{"../x", "4", "4"}, {"my map", "4", "4"}, {"ok", "0", "4"},
                            {"ok", "70000", "70000"}, {"map0", "4", "4"}};
  for (auto& c : cases) {
    std::string before = readFile(dir + "maps/map0.map");
    snprintf(e_newmap, sizeof e_newmap, "%s", c[0]);
    snprintf(e_newmapw, sizeof e_newmapw, "%s", c[1]);
    snprintf(e_newmaph, sizeof e_newmaph, "%s", c[2]);
    panelMessage[0] = 0;
    click(260, 340);
    EXPECT_STREQ(project.workingMap, "wide") << c[0];
    EXPECT_NE(panelMessage[0], 0) << c[0];
    EXPECT_EQ(readFile(dir + "maps/ok.map"), "");
    EXPECT_EQ(readFile(dir + "maps/map0.map"), before);
  }
}

TEST_F(Editor, MapBrowserOpensThePickedMapWithoutItsExtension) {
  snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  turn(50, 240 + 16 * 1 + 24, LEFT);  // row 1: map1.map
  turn(50, 240 + 16 * 1 + 24);
  EXPECT_STREQ(e_openmap, "map1");
  EXPECT_STREQ(project.workingMap, "map1");
}

TEST_F(Editor, TabsSwitchTheMenu) {
  click(20, 10);
  EXPECT_STREQ(project.currentMenu, "main");
  click(250, 10);
  EXPECT_STREQ(project.currentMenu, "entities");
  click(150, 10);
  EXPECT_STREQ(project.currentMenu, "map");
}

// The peer list numbers peers by their slot, on the lines under "Clients".
TEST_F(Editor, PeerListShowsSlotNumbers) {
  peers[0].clientReady = true;
  snprintf(peers[0].clientNames, sizeof peers[0].clientNames, "bob");
  peers[5].clientReady = true;
  snprintf(peers[5].clientNames, sizeof peers[5].clientNames, "eve");
  usedMap[5] = cur();
  setMenu("main");
  SDL_Surface* shown = SDL_ConvertSurface(menu, menu->format, SDL_SWSURFACE);
  blitIt(menubg, menu, 0, 0);
  drawText("Clients: 2.", 0, 150, "black", "U", 16, true);
  drawText("0- bob ()", 0, 168, "black", "I", 16, true);
  drawText("5- eve (map0)", 0, 186, "black", "I", 16, true);
  int differ = 0;
  for (int y = 150; y < 230; y++)
    for (int x = 0; x < 322; x++) differ += getpixel(shown, x, y) != getpixel(menu, x, y);
  EXPECT_EQ(differ, 0);
  SDL_FreeSurface(shown);
  peers[0].clientReady = peers[5].clientReady = false;
}
}  // namespace
