// File location, pixels, text, button states, tiles, settings and the quit path.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include "model/model.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/files.h"
#include "toolkit/video.h"

namespace {
std::string built(const char* rep, const char* name, const char* ext) {
  char p[FILE_PATH_LEN];
  return filePath(p, sizeof p, rep, name, ext) ? p : "<refused>";
}

// Colour of a pixel of a 32-bit surface as (r, g, b).
SDL_Color rgbAt(SDL_Surface* s, int x, int y) {
  SDL_Color c = {0, 0, 0, 0};
  SDL_GetRGB(getpixel(s, x, y), s->format, &c.r, &c.g, &c.b);
  return c;
}

// Counts the pixels of a region whose colour is "close to" (r, g, b) and not the background.
int countPixels(SDL_Surface* s, int x0, int y0, int w, int h, int r, int g, int b) {
  int n = 0;
  for (int y = y0; y < y0 + h; y++)
    for (int x = x0; x < x0 + w; x++) {
      SDL_Color c = rgbAt(s, x, y);
      if (abs(c.r - r) < 8 && abs(c.g - g) < 8 && abs(c.b - b) < 8) n++;
    }
  return n;
}
}  // namespace

TEST(FileLocation, FolderRule) {
  snprintf(programPath, sizeof programPath, "/opt/moska/");
  snprintf(projectPath, sizeof projectPath, "/home/u/game/");
  EXPECT_EQ(built("maps", "map0", "map"), "/home/u/game/maps/map0.map");
  EXPECT_EQ(built("/", "PROJECT", "MSK"), "/home/u/game/PROJECT.MSK");
  EXPECT_EQ(built("", "map0", "map"), "/opt/moska/map0.map");
  EXPECT_EQ(built("?", "PROJECT", "MSK"), "/home/u/game//PROJECT.MSK");
  char img[FILE_PATH_LEN];
  ASSERT_TRUE(imagePath(img, sizeof img, "layers", "default.png"));
  EXPECT_STREQ(img, "/home/u/game/layers/default.png");

  // Without the final separator openFile adds it, loadImage does not.
  snprintf(projectPath, sizeof projectPath, "/home/u/game");
  EXPECT_EQ(built("maps", "map0", "map"), "/home/u/game/maps/map0.map");
  EXPECT_EQ(built("/", "PROJECT", "MSK"), "/home/u/game/PROJECT.MSK");
  ASSERT_TRUE(imagePath(img, sizeof img, "layers", "default.png"));
  EXPECT_STREQ(img, "/home/u/gamelayers/default.png");
}

TEST(FileLocation, OverlongPathIsRefusedNotTruncated) {
  std::string dir = tempDir();
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  std::string longName(300, 'a');
  EXPECT_EQ(built("maps", longName.c_str(), "map"), "<refused>");
  // A name that fits only when cut must not open the cut name.
  std::string name(FILE_PATH_LEN - dir.size() - 6, 'b');
  std::string cut = dir + "maps/" + name.substr(0, name.size() - 6);
  mkdir((dir + "maps").c_str(), 0755);
  writeFile(cut, "x");
  captureLogBegin();
  FILE* f = openFile("maps", name.c_str(), "map", "rb");
  std::string log = captureLogEnd();
  EXPECT_EQ(f, nullptr);
  EXPECT_NE(log.find("ERROR: can't load (rb) file: "), std::string::npos);
}

TEST(FileLocation, OpenFileLogsSuccessAndFailure) {
  std::string dir = makeProject();
  writeFile(dir + "maps/m.map", "$");
  captureLogBegin();
  FILE* ok = openFile("maps", "m", "map", "rb");
  FILE* missing = openFile("maps", "none", "map", "rb");
  std::string log = captureLogEnd();
  ASSERT_NE(ok, nullptr);
  closeFile(ok);
  EXPECT_EQ(missing, nullptr);
  EXPECT_NE(log.find("Loaded file(rb): " + dir + "maps/m.map!\n"), std::string::npos);
  EXPECT_NE(log.find("ERROR: can't load (rb) file: " + dir + "maps/none.map!\n"), std::string::npos);
}

TEST(Pixels, GetpixelAtEveryDepth) {
  for (int bpp : {8, 16, 24, 32}) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 2, bpp, 0, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    Uint8* p = (Uint8*)s->pixels + 1 * s->pitch + 2 * s->format->BytesPerPixel;
    const Uint8 bytes[4] = {0x11, 0x22, 0x33, 0x44};
    memcpy(p, bytes, s->format->BytesPerPixel);
    uint32_t want[] = {0x11, 0x2211, 0x332211, 0x44332211};
    EXPECT_EQ(getpixel(s, 2, 1), want[s->format->BytesPerPixel - 1]) << bpp;
    EXPECT_EQ(getpixel(s, 4, 0), 0u);  // outside
    SDL_FreeSurface(s);
  }
}

TEST(Pixels, SetPixelClips) {
  startVideo();
  setPixel(menu, 5, 6, 10, 20, 30);
  SDL_Color c = rgbAt(menu, 5, 6);
  EXPECT_EQ(c.r, 10);
  EXPECT_EQ(c.g, 20);
  EXPECT_EQ(c.b, 30);
  setPixel(menu, -1, 0, 255, 255, 255);
  setPixel(menu, PANEL_WIDTH, 0, 255, 255, 255);
  setPixel(menu, 0, menu->h, 255, 255, 255);
  setPixel(nullptr, 0, 0, 1, 1, 1);
}

TEST(Video, SurfacesAndImages) {
  startVideo(640, 480);
  EXPECT_EQ(screen->w, 640);
  EXPECT_EQ(menu->w, 322);
  EXPECT_EQ(menu->h, 480);
  EXPECT_EQ(window->w, 318);
  EXPECT_EQ(window->h, 480);
  EXPECT_NE(b_new, nullptr);
  EXPECT_NE(menubg, nullptr);
  for (int i = 0; i < LIBRARY_SLOTS; i++) EXPECT_EQ(layersGFXnames[i], nullptr);
}

TEST(Text, ColoursAndStylesOnRenderedPixels) {
  startVideo();
  struct Case { const char* name; int r, g, b; } cases[] = {
      {"red", 255, 0, 0}, {"purple", 0, 200, 200}, {"green", 0, 220, 0}, {"orange", 255, 165, 0}};
  for (const Case& c : cases) {
    fillRect(menu, 0, 0, 200, 30, 0, 0, 0);
    drawText("HHHH", 2, 2, c.name, "", 16, true);
    EXPECT_GT(countPixels(menu, 0, 0, 200, 30, c.r, c.g, c.b), 20) << c.name;
  }
  // An unknown name keeps the colour of the previous call.
  fillRect(menu, 0, 0, 200, 30, 0, 0, 0);
  drawText("HHHH", 2, 2, "chartreuse", "", 16, true);
  EXPECT_GT(countPixels(menu, 0, 0, 200, 30, 255, 165, 0), 20);
  // Empty text draws nothing but still sets the colour.
  fillRect(menu, 0, 0, 200, 30, 0, 0, 0);
  drawText("", 2, 2, "blue", "", 16, true);
  EXPECT_EQ(countPixels(menu, 0, 0, 200, 30, 0, 0, 255), 0);
  EXPECT_EQ(fontColor.b, 255);
  EXPECT_EQ(fontColor.r, 0);

  // Bold covers more pixels than normal; "IB" equals "BI"; lower-case "b" is normal.
  auto ink = [](const char* style) {
    fillRect(menu, 0, 0, 300, 30, 0, 0, 0);
    drawText("Moska map editor", 2, 2, "white", style, 16, true);
    return countPixels(menu, 0, 0, 300, 30, 255, 255, 255);
  };
  int normal = ink(""), bold = ink("B"), bi = ink("BI"), ib = ink("IB"), lower = ink("b");
  EXPECT_GT(bold, normal);
  EXPECT_EQ(bi, ib);
  EXPECT_NE(bi, bold);
  EXPECT_EQ(lower, normal);
}

TEST(Text, MissingFontDrawsNothing) {
  startVideo();
  snprintf(programPath, sizeof programPath, "/nonexistent/");
  fillRect(menu, 0, 0, 200, 30, 0, 0, 0);
  drawText("HHHH", 2, 2, "white", "", 16, true);
  EXPECT_EQ(countPixels(menu, 0, 0, 200, 30, 255, 255, 255), 0);
}

TEST(Blits, ButtonThirds) {
  startVideo();
  for (int h : {30, 31}) {
    SDL_Surface* b = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, h, 32, 0, 0, 0, 0);
    fillRect(b, 0, 0, 8, 10, 255, 0, 0);
    fillRect(b, 0, 10, 8, 10, 0, 255, 0);
    fillRect(b, 0, 20, 8, h - 20, 0, 0, 255);
    if (h == 31) fillRect(b, 0, 30, 8, 1, 255, 255, 255);
    fillRect(menu, 0, 0, 40, 40, 0, 0, 0);
    blitButton(b, 0, 0, 1);
    EXPECT_EQ(countPixels(menu, 0, 0, 40, 40, 0, 255, 0), 80) << h;
    EXPECT_EQ(countPixels(menu, 0, 0, 40, 40, 255, 0, 0), 0);
    fillRect(menu, 0, 0, 40, 40, 0, 0, 0);
    blitButton(b, 0, 0, 2);
    EXPECT_EQ(countPixels(menu, 0, 0, 40, 40, 0, 0, 255), 80) << h;
    EXPECT_EQ(countPixels(menu, 0, 0, 40, 40, 255, 255, 255), 0) << "last row never shown";
    SDL_FreeSurface(b);
  }
  SDL_Surface* none = nullptr;
  blitButton(none, 0, 0, 1);
  blitIt(none, menu, 0, 0);
}

TEST(Blits, TileRectangles) {
  startVideo();
  for (int w : {48, 50}) {
    // Each tile is filled with its own number as the red component.
    SDL_Surface* t = SDL_CreateRGBSurface(SDL_SWSURFACE, w, 32, 32, 0, 0, 0, 0);
    for (int e = 0; e < 6; e++) fillRect(t, (e % 3) * 16, (e / 3) * 16, 16, 16, 10 + e, 0, 0);
    fillRect(window, 0, 0, 16, 16, 0, 0, 0);
    blitElement(t, 0, 0, 4);  // tile 4 comes from (16, 16)
    EXPECT_EQ(countPixels(window, 0, 0, 16, 16, 14, 0, 0), 256) << w;
    SDL_FreeSurface(t);
  }
  SDL_Surface* narrow = SDL_CreateRGBSurface(SDL_SWSURFACE, 10, 32, 32, 0, 0, 0, 0);
  blitElement(narrow, 0, 0, 3);  // no whole tile: nothing drawn, no division by zero
  SDL_FreeSurface(narrow);
  SDL_Surface* none = nullptr;
  blitElement(none, 0, 0, 0);
}

TEST(Cursor, ArrowTable) {
  startVideo();
  SDL_Cursor* c = init_system_cursor(arrow);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->hot_x, 0);
  EXPECT_EQ(c->hot_y, 0);
  // Row 0 is "X": the first pixel is black (data and mask bits set), the rest transparent.
  EXPECT_EQ(c->data[0], 0x80);
  EXPECT_EQ(c->mask[0], 0x80);
  // Row 2 is "X.X": black, white, black.
  EXPECT_EQ(c->data[8], 0xA0);
  EXPECT_EQ(c->mask[8], 0xE0);
  SDL_FreeCursor(c);
}

namespace {
std::string settingsDir(const std::string& content) {
  std::string dir = tempDir();
  writeFile(dir + "settings.ini", content);
  snprintf(programPath, sizeof programPath, "%s", dir.c_str());
  return dir;
}
}  // namespace

TEST(Settings, TruncatedFileKeepsInitialValues) {
  settingsDir("FULLSCREEN 0\nVIDEO_X 800\nVIDEO_Y 600\nUSERNAME alice\n");
  char* argv[] = {(char*)"moska2", nullptr};
  captureLogBegin();
  loadSettings(argv);
  std::string log = captureLogEnd();
  EXPECT_EQ(video_x, 800u);
  EXPECT_STREQ(username, "alice");
  EXPECT_NE(log.find("Reading software application parameters:\nfullscreen: 0\nvideo_x: 800\n"
                     "video_y: 600\nusername: alice\nipserver:10.0.0.2\nfps: 30\nnet: 1\n"),
            std::string::npos);
}

TEST(Settings, NonsenseValuesAreReplaced) {
  std::string longName(300, 'n');
  settingsDir("A 0 B 100 C 480 D " + longName + " E 1234567890123456789012345678901234567 F 0 G 1\n");
  char* argv[] = {(char*)"moska2", nullptr};
  captureLogBegin();
  loadSettings(argv);
  std::string log = captureLogEnd();
  EXPECT_EQ(video_x, 640u);  // narrower than the panel plus one tile
  EXPECT_STREQ(username, "?");
  EXPECT_STREQ(ipServer, "10.0.0.2");
  EXPECT_EQ(fps, 30);
  EXPECT_TRUE(net);  // the seventh value is still read after the long words
  EXPECT_NE(log.find("fps incorrect"), std::string::npos);
}

// Optional pairs after the seven are known by their label; the seven echo
// lines stay as they were.
TEST(Settings, OptionalAutosavePair) {
  struct {
    const char* tail;
    double minutes;
    const char* logged;
    bool echoed;
  } cases[] = {{"", 2, "net: 1\n", false},
               {"AUTOSAVE 0.05\n", 0.05, "net: 1\nautosave: 0.05\n", true},
               {"autosave -3", 2, "autosave incorrect", false},
               {"colour red autosave 0", 0, "colour inconnu", true}};
  char* argv[] = {(char*)"moska2", nullptr};
  for (auto c : cases) {
    autosaveMinutes = 2;
    settingsDir(std::string("A 0 B 640 C 480 D u E 1.2.3.4 F 30 G 1\n") + c.tail);
    captureLogBegin();
    loadSettings(argv);
    std::string log = captureLogEnd();
    EXPECT_EQ(autosaveMinutes, c.minutes) << c.tail;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(log.find("autosave:") != std::string::npos, c.echoed) << log;
  }
}

TEST(Settings, MissingFileExitsWithStatus8) {
  snprintf(programPath, sizeof programPath, "%s", tempDir().c_str());
  char* argv[] = {(char*)"moska2", nullptr};
  EXPECT_EXIT(loadSettings(argv), ::testing::ExitedWithCode(8), "");
}

TEST(Settings, RecentFileChecks) {
  char* noArg[] = {(char*)"moska2", nullptr};
  char* ask[] = {(char*)"moska2", (char*)"?", nullptr};
  std::string dir = settingsDir("A 0 B 640 C 480 D u E 1.2.3.4 F 30 G 0\n");
  std::string proj = tempDir();
  writeFile(proj + "PROJECT.MSK", "NAME x\n");
  // A valid recent project is kept, "?" clears it.
  writeFile(dir + "recent.txt", proj + "PROJECT.MSK");
  loadSettings(noArg);
  EXPECT_EQ(std::string(recent), proj + "PROJECT.MSK");
  loadSettings(ask);
  EXPECT_STREQ(recent, "");
  // Short, empty, stored with its NUL, too long, or naming nothing.
  for (std::string content : {std::string("abc"), std::string(""), std::string(2000, 'x'),
                              std::string("/nowhere/PROJECT.MSK")}) {
    writeFile(dir + "recent.txt", content);
    loadSettings(noArg);
    EXPECT_STREQ(recent, "") << content.size();
  }
  writeFile(dir + "recent.txt", proj + "PROJECT.MSK" + std::string(1, '\0'));
  loadSettings(noArg);
  EXPECT_EQ(std::string(recent), proj + "PROJECT.MSK");
}

TEST(QuitPath, StopNowSavesProjectAndExitWritesRecent) {
  std::string proj = makeProject();
  std::string prog = tempDir();
  snprintf(programPath, sizeof programPath, "%s", prog.c_str());
  snprintf(project.name, sizeof project.name, "demo");
  project.crc = 777;
  project.nbreMaps = 0;
  snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  snprintf(project.workingMap, sizeof project.workingMap, "map3");
  project.currentElement = 12;
  snprintf(recent, sizeof recent, "%sPROJECT.MSK", proj.c_str());
  projectLoaded = true;
  stopNow();
  EXPECT_TRUE(stop);
  EXPECT_EQ(readFile(proj + "PROJECT.MSK"),
            "NAME demo\nCRC 777\nMAPINDEX 0\nMAPS 1\nCURRENTMAP 0\nCURRENTLAYER 0\n"
            "CURRENTELEMENT 12\nELEMENTINDEX 0\nCURRENTMENU map\nWORKINGMAP map3\n");
  exitSequence();
  EXPECT_EQ(readFile(prog + "recent.txt"), proj + "PROJECT.MSK");
}

// A save that fails at quit loses nothing: the other files are still
// written, the map goes beside its file, the status and last line say so.
TEST(QuitPath, FailedSavesEndWithACopyAndANonZeroStatus) {
  struct {
    bool mapFails, projectFails;
    int status;
  } cases[] = {{true, false, 9}, {false, true, 6}};
  for (auto c : cases) {
    modelReset();
    std::string proj = makeProject();
    snprintf(programPath, sizeof programPath, "%s", tempDir().c_str());
    ASSERT_TRUE(newMapFile("map0", 4, 4));
    int slot = openMapInFreeSlot("map0");
    ASSERT_GE(slot, 0);
    setElementAbsolute(slot, 0, 1, 1, 77);
    if (c.mapFails) {  // a folder in the file's place: the rename fails
      remove((proj + "maps/map0.map").c_str());
      mkdir((proj + "maps/map0.map").c_str(), 0755);
    }
    writeFile(proj + "PROJECT.MSK", "NAME old\n");
    if (c.projectFails) mkdir((proj + "PROJECT.MSK.tmp").c_str(), 0755);  // no temporary file
    projectLoaded = true;
    stopNow();
    EXPECT_EQ(readFile(proj + "PROJECT.MSK") == "NAME old\n", c.projectFails);
    captureLogBegin();
    int status = exitSequence();
    std::string log = captureLogEnd();
    EXPECT_EQ(status, c.status);
    size_t last = log.rfind('\n', log.size() - 2);
    EXPECT_EQ(log.compare(last + 1, 7, "ERREUR:"), 0) << log;
    std::string saved = readFile(proj + (c.mapFails ? "maps/map0.map.unsaved" : "maps/map0.map"));
    ASSERT_EQ(saved.size(), 48u + 4 + 4 * 16);
    EXPECT_EQ(saved[46 + 4 * 5], 77);  // cell (1, 1)
  }
}

TEST(QuitPath, UnloadedProjectIsNeverWritten) {
  std::string proj = makeProject();
  writeFile(proj + "PROJECT.MSK", "NAME precious\n");
  projectLoaded = false;
  stopNow();
  EXPECT_TRUE(stop);
  EXPECT_EQ(readFile(proj + "PROJECT.MSK"), "NAME precious\n");
}

TEST(QuitPath, UnwritableRecentIsSkipped) {
  makeProject();
  snprintf(programPath, sizeof programPath, "/nonexistent/dir/");
  project.nbreMaps = 0;
  exitSequence();  // no crash, nothing written
}

TEST(Video, MissingImagesNeverCrashADraw) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_Init(SDL_INIT_VIDEO);
  snprintf(programPath, sizeof programPath, "%s", tempDir().c_str());
  captureLogBegin();
  videoInit();
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("ERROR: can't load image: " + std::string(programPath) + "b_new.png!"),
            std::string::npos);
  EXPECT_EQ(b_new, nullptr);
  blitButton(b_new, 0, 0, 2);
  blitIt(menubg, menu, 0, 0);
  blitElement(b_up, 0, 0, 3);
  blitWindow();
  blitMenu();
  drawText("no font here", 0, 0, "red", "B", 16, true);
}
