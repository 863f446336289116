// File location, pixels, text, blits, settings and the quit path.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include "model/model.h"
#include "net/auth.h"
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

// Pixels of a region within 8 of (r, g, b) in each channel.
int countPixels(SDL_Surface* s, int x0, int y0, int w, int h, int r, int g, int b) {
  int n = 0;
  for (int y = y0; y < y0 + h; y++)
    for (int x = x0; x < x0 + w; x++) {
      SDL_Color c = {0, 0, 0, 0};
      SDL_GetRGB(getpixel(s, x, y), s->format, &c.r, &c.g, &c.b);
      n += abs(c.r - r) < 8 && abs(c.g - g) < 8 && abs(c.b - b) < 8;
    }
  return n;
}

std::string settingsDir(const std::string& content) {
  std::string dir = tempDir();
  writeFile(dir + "settings.ini", content);
  snprintf(programPath, sizeof programPath, "%s", dir.c_str());
  return dir;
}

char* noArg[] = {(char*)"moska2", nullptr};
}  // namespace

TEST(FileLocation, FolderRule) {
  snprintf(programPath, sizeof programPath, "/opt/moska/");
  struct Case { const char *project, *rep, *want; } cases[] = {
      {"/home/u/game/", "maps", "/home/u/game/maps/map0.map"},
      {"/home/u/game/", "/", "/home/u/game/map0.map"},
      {"/home/u/game/", "", "/opt/moska/map0.map"},
      {"/home/u/game/", "?", "/home/u/game//map0.map"},
      {"/home/u/game", "maps", "/home/u/game/maps/map0.map"},  // separator added
      {"/home/u/game", "/", "/home/u/game/map0.map"},
  };
  for (const Case& c : cases) {
    snprintf(projectPath, sizeof projectPath, "%s", c.project);
    EXPECT_EQ(built(c.rep, "map0", "map"), c.want) << c.project << " " << c.rep;
  }
  char img[FILE_PATH_LEN];
  ASSERT_TRUE(imagePath(img, sizeof img, "layers", "default.png"));
  EXPECT_STREQ(img, "/home/u/gamelayers/default.png");  // images get no separator
}

TEST(FileLocation, OpenFileLogsAndRefusesCutNames) {
  std::string dir = makeProject();
  writeFile(dir + "maps/m.map", "$");
  // A name that fits only when cut must not open the cut name.
  std::string name(FILE_PATH_LEN - dir.size() - 6, 'b');
  writeFile(dir + "maps/" + name.substr(0, name.size() - 6), "x");
  EXPECT_EQ(built("maps", std::string(300, 'a').c_str(), "map"), "<refused>");
  captureLogBegin();
  FILE* ok = openFile("maps", "m", "map", "rb");
  FILE* missing = openFile("maps", "none", "map", "rb");
  FILE* cut = openFile("maps", name.c_str(), "map", "rb");
  std::string log = captureLogEnd();
  ASSERT_NE(ok, nullptr);
  closeFile(ok);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(cut, nullptr);
  EXPECT_NE(log.find("Loaded file(rb): " + dir + "maps/m.map!\n"), std::string::npos);
  EXPECT_NE(log.find("ERROR: can't load (rb) file: " + dir + "maps/none.map!\n"), std::string::npos);
}

TEST(Pixels, GetpixelAtEveryDepthAndSetPixelClips) {
  for (int bpp : {8, 16, 24, 32}) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 2, bpp, 0, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    const Uint8 bytes[4] = {0x11, 0x22, 0x33, 0x44};
    memcpy((Uint8*)s->pixels + s->pitch + 2 * s->format->BytesPerPixel, bytes, s->format->BytesPerPixel);
    uint32_t want[] = {0x11, 0x2211, 0x332211, 0x44332211};
    EXPECT_EQ(getpixel(s, 2, 1), want[s->format->BytesPerPixel - 1]) << bpp;
    EXPECT_EQ(getpixel(s, 4, 0), 0u);  // outside
    SDL_FreeSurface(s);
  }
  startVideo();
  fillRect(menu, 0, 0, menu->w, menu->h, 0, 0, 0);
  setPixel(menu, 5, 6, 10, 20, 30);
  const int outside[][2] = {{-1, 0}, {PANEL_WIDTH, 0}, {0, menu->h}};
  for (const auto& xy : outside) setPixel(menu, xy[0], xy[1], 255, 255, 255);
  setPixel(nullptr, 0, 0, 1, 1, 1);
  EXPECT_EQ(countPixels(menu, 0, 0, menu->w, menu->h, 10, 20, 30), 1);
  EXPECT_EQ(countPixels(menu, 0, 0, menu->w, menu->h, 255, 255, 255), 0);
}

TEST(Text, ColoursStylesAndMissingFont) {
  startVideo();
  auto ink = [](const char* text, const char* colour, const char* style, int r, int g, int b) {
    fillRect(menu, 0, 0, 300, 30, 0, 0, 0);
    drawText(text, 2, 2, colour, style, 16, true);
    return countPixels(menu, 0, 0, 300, 30, r, g, b);
  };
  struct Case { const char* name; int r, g, b; } cases[] = {
      {"red", 255, 0, 0}, {"purple", 0, 200, 200}, {"green", 0, 220, 0}, {"orange", 255, 165, 0},
      {"chartreuse", 255, 165, 0}};  // an unknown name keeps the previous colour
  for (const Case& c : cases) EXPECT_GT(ink("HHHH", c.name, "", c.r, c.g, c.b), 20) << c.name;
  // Empty text draws nothing but still sets the colour.
  EXPECT_EQ(ink("", "blue", "", 0, 0, 255), 0);
  EXPECT_TRUE(fontColor.b == 255 && fontColor.r == 0);
  // Bold covers more pixels; "IB" equals "BI"; lower-case "b" is normal.
  const char* t = "Moska map editor";
  int normal = ink(t, "white", "", 255, 255, 255), bold = ink(t, "white", "B", 255, 255, 255);
  int bi = ink(t, "white", "BI", 255, 255, 255);
  EXPECT_GT(bold, normal);
  EXPECT_EQ(bi, ink(t, "white", "IB", 255, 255, 255));
  EXPECT_NE(bi, bold);
  EXPECT_EQ(ink(t, "white", "b", 255, 255, 255), normal);
  snprintf(programPath, sizeof programPath, "/nonexistent/");
  EXPECT_EQ(ink("HHHH", "white", "", 255, 255, 255), 0);
}

TEST(Blits, ButtonThirdsAndTileRectangles) {
  startVideo();
  for (int h : {30, 31}) {  // a height not divisible by 3 never shows its last row
    SDL_Surface* b = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, h, 32, 0, 0, 0, 0);
    fillRect(b, 0, 0, 8, 10, 255, 0, 0);
    fillRect(b, 0, 10, 8, 10, 0, 255, 0);
    fillRect(b, 0, 20, 8, h - 20, 0, 0, 255);
    if (h == 31) fillRect(b, 0, 30, 8, 1, 255, 255, 255);
    for (int state : {1, 2}) {
      fillRect(menu, 0, 0, 40, 40, 0, 0, 0);
      blitButton(b, 0, 0, state);
      EXPECT_EQ(countPixels(menu, 0, 0, 40, 40, 0, state == 1 ? 255 : 0, state == 2 ? 255 : 0), 80);
      EXPECT_EQ(countPixels(menu, 0, 0, 40, 40, 0, 0, 0), 40 * 40 - 80) << h << " " << state;
    }
    SDL_FreeSurface(b);
  }
  for (int w : {48, 50, 10}) {  // 10: no whole tile, nothing drawn
    SDL_Surface* t = SDL_CreateRGBSurface(SDL_SWSURFACE, w, 32, 32, 0, 0, 0, 0);
    for (int e = 0; e < 6; e++) fillRect(t, (e % 3) * 16, (e / 3) * 16, 16, 16, 10 + e, 0, 0);
    fillRect(window, 0, 0, 16, 16, 0, 0, 0);
    blitElement(t, 0, 0, 4);  // tile 4 comes from (16, 16)
    EXPECT_EQ(countPixels(window, 0, 0, 16, 16, 14, 0, 0), w >= 48 ? 256 : 0) << w;
    SDL_FreeSurface(t);
  }
}

TEST(Video, MissingImagesAreLoggedAndDrawNothing) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_Init(SDL_INIT_VIDEO);
  snprintf(programPath, sizeof programPath, "%s", tempDir().c_str());
  captureLogBegin();
  videoInit();
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("ERROR: can't load image: " + std::string(programPath) + "b_new.png!"),
            std::string::npos);
  EXPECT_TRUE(b_new == nullptr && menu->w == PANEL_WIDTH && window->w == 640 - PANEL_WIDTH);
  fillRect(menu, 0, 0, menu->w, menu->h, 1, 2, 3);
  blitButton(b_new, 0, 0, 2);
  blitIt(menubg, menu, 0, 0);
  drawText("no font here", 0, 0, "red", "B", 16, true);
  EXPECT_EQ(countPixels(menu, 0, 0, menu->w, menu->h, 1, 2, 3), menu->w * menu->h);
}

TEST(Settings, ShortAndNonsenseFilesKeepSaneValues) {
  struct Case { std::string text; unsigned videoX; const char *user, *ip; bool net; const char* log; } cases[] = {
      {"FULLSCREEN 0\nVIDEO_X 800\nVIDEO_Y 600\nUSERNAME alice\n", 800, "alice", "10.0.0.2", true,
       "Reading software application parameters:\nfullscreen: 0\nvideo_x: 800\nvideo_y: 600\n"
       "username: alice\nipserver:10.0.0.2\nfps: 30\nnet: 1\n"},
      // Narrower than the panel plus a tile, over-long words, fps 0: the
      // seventh value is still read after the long words.
      {"A 0 B 100 C 480 D " + std::string(300, 'n') + " E " + std::string(40, '1') + " F 0 G 0\n", 640,
       "?", "10.0.0.2", false, "fps incorrect"},
  };
  for (const Case& c : cases) {
    shellReset();
    settingsDir(c.text);
    captureLogBegin();
    loadSettings(noArg);
    std::string log = captureLogEnd();
    EXPECT_EQ(video_x, c.videoX);
    EXPECT_STREQ(username, c.user);
    EXPECT_STREQ(ipServer, c.ip);
    EXPECT_EQ(fps, 30);
    EXPECT_EQ(net, c.net);
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
  }
  snprintf(programPath, sizeof programPath, "%s", tempDir().c_str());
  EXPECT_EXIT(loadSettings(noArg), ::testing::ExitedWithCode(8), "");
}

TEST(Settings, RecentFileChecks) {
  char* ask[] = {(char*)"moska2", (char*)"?", nullptr};
  std::string dir = settingsDir("A 0 B 640 C 480 D u E 1.2.3.4 F 30 G 0\n");
  std::string proj = tempDir(), good = proj + "PROJECT.MSK";
  writeFile(good, "NAME x\n");
  // Kept when it names a project file (a stored NUL is allowed); cleared when
  // short, empty, too long or naming nothing.
  struct Case { std::string content; std::string want; } cases[] = {
      {good, good}, {good + std::string(1, '\0'), good}, {"abc", ""}, {"", ""},
      {std::string(2000, 'x'), ""}, {"/nowhere/PROJECT.MSK", ""}};
  for (const Case& c : cases) {
    writeFile(dir + "recent.txt", c.content);
    loadSettings(noArg);
    EXPECT_EQ(std::string(recent), c.want) << c.content.size();
  }
  loadSettings(ask);  // "?" clears it
  EXPECT_STREQ(recent, "");
}

// Optional pairs after the seven are known by their label; the seven echo
// lines stay as they were. A bad allow list or key fails closed; the key is
// never logged.
TEST(Settings, OptionalPairs) {
  struct {
    const char* tail;
    double minutes;
    const char* logged;
    bool echoed;
  } cases[] = {{"", 2, "net: 1\n", false},
               {"AUTOSAVE 0.05\n", 0.05, "net: 1\nautosave: 0.05\n", true},
               {"autosave -3", 2, "autosave incorrect", false},
               {"colour red autosave 0", 0, "colour inconnu", true},
               {"allow 10.0.0.1,10.0.0.7 key s3cret  words \nautosave 1", 1,
                "autosave: 1\nallow: 10.0.0.1,10.0.0.7\nkey: 13 caracteres\n", true},
               {"ALLOW ask", 2, "net: 1\nallow: ask\n", false},
               {"allow 10.0.0.1,10.0.0.300", 2, "aucune connexion entrante admise.\n", false},
               {"key", 2, "aucun pair ne sera admis.\n", false}};
  char* argv[] = {(char*)"moska2", nullptr};
  for (auto c : cases) {
    autosaveMinutes = 2;
    authReset();
    settingsDir(std::string("A 0 B 640 C 480 D u E 1.2.3.4 F 30 G 1\n") + c.tail);
    captureLogBegin();
    loadSettings(argv);
    std::string log = captureLogEnd();
    EXPECT_EQ(autosaveMinutes, c.minutes) << c.tail;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(log.find("autosave:") != std::string::npos, c.echoed) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
  }
  EXPECT_EQ(strlen(authSettings.key), (size_t)2 * NONCE_BYTES);  // the bad key: a random one
}

TEST(QuitPath, StopNowSavesALoadedProjectOnlyAndExitWritesRecent) {
  std::string proj = makeProject();
  writeFile(proj + "PROJECT.MSK", "NAME precious\n");
  projectLoaded = false;
  stopNow();
  EXPECT_TRUE(stop);
  EXPECT_EQ(readFile(proj + "PROJECT.MSK"), "NAME precious\n");

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
