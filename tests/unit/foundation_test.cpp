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
  FILE* ok = nullptr;
  std::string log = logOf([&] {
    ok = openFile("maps", "m", "map", "rb");
    EXPECT_EQ(openFile("maps", "none", "map", "rb"), nullptr);
    EXPECT_EQ(openFile("maps", name.c_str(), "map", "rb"), nullptr);
  });
  ASSERT_NE(ok, nullptr);
  closeFile(ok);
  EXPECT_NE(log.find("Loaded file(rb): " + dir + "maps/m.map!\n"), std::string::npos);
  EXPECT_NE(log.find("ERROR: can't load (rb) file: " + dir + "maps/none.map!\n"), std::string::npos);
}

TEST(Blits, ButtonThirds) {
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
}

// The seven values are read by position, whatever their labels; short or
// nonsense files keep sane values. Optional pairs after the seven are known
// by their label; the seven echo lines stay as they were. A bad allow list
// or key fails closed; the key is never logged.
TEST(Settings, SevenValuesAndOptionalPairs) {
  const std::string seven = "A 0 B 640 C 480 D u E 1.2.3.4 F 30 G 1\n";
  struct {
    std::string text;
    unsigned videoX;
    const char* user;
    bool net;
    double minutes;
    const char* logged;
    bool echoed;  // an autosave line
  } cases[] = {
      {"FULLSCREEN 0\nVIDEO_X 800\nVIDEO_Y 600\nUSERNAME alice\n", 800, "alice", true, 2,
       "Reading software application parameters:\nfullscreen: 0\nvideo_x: 800\nvideo_y: 600\n"
       "username: alice\nipserver:10.0.0.2\nfps: 30\nnet: 1\n", false},
      // Narrower than the panel plus a tile, over-long words, fps 0: the
      // seventh value is still read after the long words.
      {"A 0 B 100 C 480 D " + std::string(300, 'n') + " E " + std::string(80, '1') + " F 0 G 0\n", 640, "?",
       false, 2, "fps incorrect", false},
      {seven + "autosave -3", 640, "u", true, 2, "autosave incorrect", false},
      {seven + "shade red autosave 0", 640, "u", true, 0, "shade inconnu", true},
      {seven + "colour red colour #00FF00", 640, "u", true, 2, "colour incorrect (red)", false},
      {seven + "allow 10.0.0.1,FD79:0::7 key s3cret  words \nautosave 1", 640, "u", true, 1,
       "autosave: 1\nallow: 10.0.0.1,fd79::7\nkey: 13 caracteres\n", true},
      {seven + "allow 10.0.0.1,10.0.0.300", 640, "u", true, 2, "aucune connexion entrante admise.\n", false},
      {seven + "allow fe80::1%eth0", 640, "u", true, 2, "aucune connexion entrante admise.\n", false},
      {seven + "key", 640, "u", true, 2, "aucun pair ne sera admis.\n", false}};
  for (auto c : cases) {
    shellReset();
    autosaveMinutes = 2;
    authReset();
    settingsDir(c.text);
    std::string log = logOf([] { loadSettings(noArg); });
    EXPECT_EQ(video_x, c.videoX) << c.text;
    EXPECT_STREQ(username, c.user);
    EXPECT_EQ(fps, 30);
    EXPECT_EQ(net, c.net);
    EXPECT_EQ(autosaveMinutes, c.minutes) << c.text;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(log.find("autosave:") != std::string::npos, c.echoed) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
  }
  EXPECT_EQ(strlen(authSettings.key), (size_t)2 * NONCE_BYTES);  // the bad key: a random one
}

// Before a project is loaded the quit path writes no project file (the
// project file tests check what it writes once one is).
TEST(QuitPath, StopNowSavesALoadedProjectOnly) {
  std::string proj = makeProject();
  writeFile(proj + "PROJECT.MSK", "NAME precious\n");
  projectLoaded = false;
  stopNow();
  EXPECT_TRUE(stop);
  EXPECT_EQ(readFile(proj + "PROJECT.MSK"), "NAME precious\n");
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
    int slot = openNewMap("map0", 4, 4);
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
    int status;
    std::string log = logOf([&] { status = exitSequence(); });
    EXPECT_EQ(status, c.status);
    size_t last = log.rfind('\n', log.size() - 2);
    EXPECT_EQ(log.compare(last + 1, 7, "ERREUR:"), 0) << log;
    std::string saved = readFile(proj + (c.mapFails ? "maps/map0.map.unsaved" : "maps/map0.map"));
    ASSERT_EQ(saved.size(), 48u + 4 + 4 * 16);
    EXPECT_EQ(saved[46 + 4 * 5], 77);  // cell (1, 1)
  }
}
