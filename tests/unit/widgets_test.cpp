// Widgets, modal text entry and the project and folder browsers, driven frame
// by frame through scripted input.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <ctype.h>
#include <string.h>
#include <sys/stat.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/browser.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
// One key press (down and up events) as the library gives it: key `sym`
// typing `unicode`.
void press(int sym, int unicode) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = (SDLKey)sym;
  e.key.keysym.unicode = (Uint16)unicode;
  pushFrame(20, 110, 0, {}, &e);
  e.type = SDL_KEYUP;
  pushFrame(20, 110, 0, {}, &e);
}
// Types a text as a US keyboard gives it: the key of the unshifted character.
void type(const std::string& text) {
  const std::string shifted = "~!@#$%^&*()_+{}|:\"<>?", base = "`1234567890-=[]\\;',./";
  for (char c : text) {
    size_t k = shifted.find(c);
    int sym = isupper((unsigned char)c) ? tolower((unsigned char)c) : k != std::string::npos ? base[k] : c;
    press(sym, (unsigned char)c);
  }
}
void pressEnter() { press(SDLK_RETURN, '\r'); }

void clickAt(int x, int y) {
  mouseX = x;
  mouseY = y;
  leftClic = true;
}

// A 30 x 30 three-state image: red normal, green hovered, blue pressed.
SDL_Surface* threeStateImage() {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 30, 30, 32, 0, 0, 0, 0);
  SDL_Rect r0 = {0, 0, 30, 10}, r1 = {0, 10, 30, 10}, r2 = {0, 20, 30, 10};
  SDL_FillRect(s, &r0, SDL_MapRGB(s->format, 255, 0, 0));
  SDL_FillRect(s, &r1, SDL_MapRGB(s->format, 0, 255, 0));
  SDL_FillRect(s, &r2, SDL_MapRGB(s->format, 0, 0, 255));
  return s;
}

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeProject();
    startVideo();
    platformScriptStart();
    img = threeStateImage();
  }
  void TearDown() override { SDL_FreeSurface(img); }
  SDL_Surface* img = nullptr;
  std::string root;
};

// Clicks rows 0..n-1 of a browser at (1, 1), 200 wide: the names taken, "-"
// where none is (and the name is left empty).
template <class F>
std::vector<std::string> rowsTaken(int n, F browse) {
  std::vector<std::string> names;
  for (int k = 0; k < n; k++) {
    char it[PATH_LEN] = "";
    clickAt(50, 1 + 16 * k + 24);
    names.push_back(browse(it) ? it : "-" + std::string(it));
  }
  leftClic = false;
  return names;
}

}  // namespace

TEST_F(Widgets, ButtonHitAreaIsOpen) {
  // Image 30 x 30 at (10, 10): states 10 high, hits 10 < x < 40 and 10 < y < 20.
  struct {
    int x, y;
    bool hit;
  } cases[] = {{10, 15, false}, {11, 15, true}, {39, 15, true}, {40, 15, false},
               {15, 10, false}, {15, 11, true}, {15, 19, true}, {15, 20, false}};
  for (auto c : cases) {
    clickAt(c.x, c.y);
    EXPECT_EQ(buttonList(10, 10, img), c.hit) << c.x << "," << c.y;
    // A hit waits for the release; a press on an edge pixel returns at once.
    if (c.hit) pushFrame(c.x, c.y, 0);
    clickAt(c.x, c.y);
    EXPECT_EQ(button(10, 10, img), c.hit) << c.x << "," << c.y;
    EXPECT_EQ(platformScriptRemaining(), 0u);
  }
}

// One entry per case: the text typed (or single presses: sym, unicode),
// then Enter.
struct Entry {
  const char* start;
  int limit;
  std::string typed;
  std::vector<std::pair<int, int>> presses;
  const char* want;
  bool number = false;
};

TEST_F(Widgets, EntryTypesWhatTheKeyboardTypes) {
  std::string ascii;
  for (int c = 32; c <= 126; c++) ascii += (char)c;
  const Entry cases[] = {
      {"", 16, "Forest_Gate", {}, "Forest_Gate"},
      {"", 100, ascii, {}, ascii.c_str()},  // every printable character, Shift and all
      // No translation: the key's own character; keys that type nothing, and
      // characters outside ASCII, add nothing.
      {"", 16, "", {{SDLK_a, 0}, {SDLK_F1, 0}, {SDLK_LSHIFT, 0}, {SDLK_a, 0xE9}, {SDLK_UP, 0}}, "a"},
      {"abcdefghijklmnop", 16, "q", {{SDLK_BACKSPACE, 8}, {SDLK_BACKSPACE, 8}}, "abcdefghijklmn"},
      {"abcdefghijklmnop", 16, "", {{SDLK_CLEAR, 0}, {SDLK_q, 'q'}}, "q"},
      {"abcdefghijklmnop", 16, "", {{SDLK_DELETE, 127}}, ""},
      {"12", 10, "", {{SDLK_DELETE, 127}}, "0", true},
      // Leading zero refused, keypad period adds ".", main-row "." and letters do not.
      {"", 10, "", {{SDLK_0, '0'}, {SDLK_KP0, '0'}, {SDLK_1, '1'}, {SDLK_0, '0'}, {SDLK_KP_PERIOD, '.'},
                    {SDLK_PERIOD, '.'}, {SDLK_a, 'a'}, {SDLK_KP7, 0}}, "10.7", true},
  };
  for (const Entry& c : cases) {
    type(c.typed);
    for (auto p : c.presses) press(p.first, p.second);
    pressEnter();
    char buf[128];
    snprintf(buf, sizeof buf, "%s", c.start);
    clickAt(20, 110);
    if (c.number)
      numberArea(buf, 8, 100, 200, c.limit, false);
    else
      textArea(buf, 8, 100, 200, c.limit, false);
    EXPECT_STREQ(buf, c.want) << c.start << c.typed;
    // The key-up of Enter is left for the main loop.
    EXPECT_EQ(platformScriptRemaining(), 1u) << c.start;
    while (platformScriptRemaining()) platformPumpInput();
  }
}

TEST_F(Widgets, EntryNeverWritesPastTheBufferAndEndsOnWindowClose) {
  // A buffer smaller than the limit: its capacity wins; the guard stays.
  struct {
    char buf[8];
    char guard[8];
  } b;
  memset(b.guard, 'G', sizeof b.guard);
  snprintf(b.buf, sizeof b.buf, "abcd");
  type("abcdefgh");
  pressEnter();
  inputText(b.buf, sizeof b.buf, 8, 100, 200, 64);
  EXPECT_STREQ(b.buf, "abcdabc");
  for (char g : b.guard) EXPECT_EQ(g, 'G');

  // Closing the window ends either entry and runs the quit path once, though
  // the close event stays the last one while no other comes.
  for (bool number : {true, false}) {
    stop = false;
    char n[16] = "";
    clickAt(20, 110);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    pushFrame(20, 110, 0, {}, &quit);
    for (int i = 0; i < 5; i++) pushFrame(20, 110, 0);
    std::string log = logOf([&] {
      if (number)
        numberArea(n, 8, 100, 200, 10, false);
      else
        textArea(n, 8, 100, 200, 10, false);
    });
    EXPECT_TRUE(stop);
    EXPECT_STREQ(n, number ? "0" : "");
    size_t first = log.find("Aucun projet charge");
    EXPECT_NE(first, std::string::npos) << number;
    EXPECT_EQ(log.find("Aucun projet charge", first + 1), std::string::npos) << log;
  }
}

TEST_F(Widgets, FolderBrowserListsSortedWithoutDotEntries) {
  for (const char* n : {"zeta.map", "alpha.map", "Beta.map", "m10.map", "m2.map"})
    writeFile(root + "maps/" + n, "x");
  auto folder = [](char* it) { return explorer(it, 1, 1, 6, 200, "maps"); };
  std::vector<std::string> want = {"Beta.map", "alpha.map", "m10.map", "m2.map", "zeta.map", "-"};
  EXPECT_EQ(rowsTaken(6, folder), want);
  EXPECT_EQ(rowsTaken(6, folder), want);  // the same on every frame
}

TEST_F(Widgets, ProjectBrowserShowsParentFirstAndTakesOnlyFoldersAndProjectFile) {
  std::string dir = root + "maps";  // no final separator, as during selection
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  mkdir((dir + "/sub").c_str(), 0755);
  mkdir((dir + "/.moska").c_str(), 0755);  // the editor's state: never listed
  for (const char* n : {"/PROJECT.MSK", "/project.msk", "/a.txt"}) writeFile(dir + n, "x");
  auto projects = [](char* it) { return gxplorer(it, 1, 1, 8, 200); };
  EXPECT_EQ(rowsTaken(5, projects), (std::vector<std::string>{"..", "PROJECT.MSK", "-", "-", "sub"}));
}

TEST_F(Widgets, UnreadableOrOverlongFolderListsNothing) {
  writeFile(root + "maps/one.map", "x");
  const std::vector<std::string> none(4, "-");
  EXPECT_EQ(rowsTaken(4, [](char* it) { return explorer(it, 1, 1, 4, 200, "missing"); }), none);
  std::string longPath = "/" + std::string(505, 'x') + "/";
  snprintf(projectPath, sizeof projectPath, "%s", longPath.c_str());
  auto maps = [](char* it) { return explorer(it, 1, 1, 4, 200, "maps"); };
  EXPECT_NE(logOf([&] { EXPECT_EQ(rowsTaken(4, maps), none); }).find("Chemin trop long"), std::string::npos);
  char it[PATH_LEN] = "";
  EXPECT_FALSE(gxplorer(it, 1, 1, 4, 200));  // cannot be opened either
  EXPECT_TRUE(isDir(root.c_str(), "maps"));
  EXPECT_FALSE(isDir(root.c_str(), "maps/one.map"));
  EXPECT_FALSE(isDir(root.c_str(), "nothing"));
  EXPECT_FALSE(isDir(std::string(2045, 'y').c_str(), "maps"));
}
