// The editor's command handler, menus and map switch, driven turn by turn
// through scripted input on a real project folder.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

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

// One turn of the main loop: the event pump, then the command handler.
void turn(int x, int y, uint8_t buttons = 0, const SDL_Event* ev = nullptr) {
  pushFrame(x, y, buttons, {}, ev);
  boucle();
  eventMenu();
}

// A click on a button: pressed in one turn, released in the button's wait.
void click(int x, int y) {
  pushFrame(x, y, LEFT);
  pushFrame(x, y, 0);
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

class Editor : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = makeEditingProject();
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
    turn(322 + 4, 16 * 9 + 4, LEFT);   // row 9
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
  turn(322 + 15, 300);  // within 16 pixels of the view's left edge
  EXPECT_EQ(cur()->viewX, 1730u);
  turn(0, 300);  // the screen's left edge is the panel's
  EXPECT_EQ(cur()->viewX, 1730u);
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
  turn(1 + 2, 70 + 2, RIGHT);
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

// New maps from the main menu's fields; a bad name, an empty size, a size
// the model refuses or an existing map is refused and changes no file.
TEST_F(Editor, NewMapFieldsCreateAndRefuse) {
  snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  const char* cases[][3] = {{"wide", "64", "32"}, {"../x", "4", "4"},  {"my map", "4", "4"}, {"ok", "0", "4"},
                            {"ok", "70000", "70000"}, {"wide", "4", "4"}};
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
      continue;
    }
    EXPECT_NE(panelMessage[0], 0) << c[0];
    EXPECT_EQ(readFile(dir + "maps/wide.map"), before);
  }
  EXPECT_EQ(readFile(dir + "maps/wide.map").size(), 48u + 4 + 4 * 64 * 32);
}
}  // namespace
