// Project and folder browsers: listing order, hover colours, clicks and
// scrolling, checked on the panel pixels.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/browser.h"
#include "toolkit/video.h"

namespace {
// Browser geometry used throughout: (1, 1), width 200.
const int BX = 1, BY = 1, BW = 200;

int rowMouseY(int k) { return BY + 16 * k + 24; }
int bandTop(int k) { return BY + 16 * k + 14; }

bool isColour(int x, int y, int r, int g, int b) {
  return getpixel(menu, x, y) == SDL_MapRGB(menu->format, r, g, b);
}

SDL_Surface* plainImage(int r, int g, int b) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 30, 48, 32, 0, 0, 0, 0);
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, r, g, b));
  return s;
}

void touch(const std::string& path) { writeFile(path, "x"); }

class Browsers : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeProject();
    startVideo();
    platformScriptStart();
    // Scroll buttons of known colours, so their presence shows on the panel.
    SDL_FreeSurface(b_down);  // the ones videoInit loaded
    SDL_FreeSurface(b_up);
    b_down = plainImage(10, 20, 30);
    b_up = plainImage(40, 50, 60);
    gxplorer_index = 0;
    mouseX = mouseY = 400;
    leftClic = false;
  }
  // Clicks every row of the folder browser and collects the names taken.
  std::vector<std::string> explorerRows(const char* rep, int l) {
    std::vector<std::string> names;
    for (int k = 0; k < l; k++) {
      char it[PATH_LEN] = "";
      mouseX = 50;
      mouseY = rowMouseY(k);
      leftClic = true;
      if (explorer(it, BX, BY, l, BW, rep)) names.push_back(it);
    }
    leftClic = false;
    return names;
  }
  std::string root;
};
}  // namespace

TEST_F(Browsers, FolderBrowserListsSortedWithoutDotEntries) {
  for (const char* n : {"zeta.map", "alpha.map", "Beta.map", "m10.map", "m2.map"})
    touch(root + "maps/" + n);
  std::vector<std::string> want = {"Beta.map", "alpha.map", "m10.map", "m2.map", "zeta.map"};
  EXPECT_EQ(explorerRows("maps", 6), want);
  EXPECT_EQ(explorerRows("maps", 6), want);  // the same on every frame
}

TEST_F(Browsers, ProjectBrowserShowsParentFirstAndTakesOnlyFoldersAndProjectFile) {
  std::string dir = root + "maps";  // no final separator, as during selection
  snprintf(projectPath, sizeof projectPath, "%s", dir.c_str());
  mkdir((dir + "/sub").c_str(), 0755);
  touch(dir + "/PROJECT.MSK");
  touch(dir + "/project.msk");
  touch(dir + "/a.txt");
  // Rows: "..", "PROJECT.MSK", "a.txt", "project.msk", "sub".
  const char* rows[] = {"..", "PROJECT.MSK", nullptr, nullptr, "sub"};
  for (int k = 0; k < 5; k++) {
    char it[PATH_LEN] = "";
    mouseX = 50;
    mouseY = rowMouseY(k);
    leftClic = true;
    bool taken = gxplorer(it, BX, BY, 8, BW);
    EXPECT_EQ(taken, rows[k] != nullptr) << k;
    EXPECT_STREQ(it, rows[k] ? rows[k] : "") << k;
  }

  // Hover colours: folder blue with grey edges, project file green, plain
  // files (the lower-case project file among them) solid red, edges included.
  struct {
    int k, r, g, b;
    bool greyEdges;
  } looks[] = {{0, 128, 128, 255, true},
               {1, 0, 255, 0, true},
               {2, 255, 0, 0, false},
               {3, 255, 0, 0, false},
               {4, 128, 128, 255, true}};
  for (auto l : looks) {
    char it[PATH_LEN] = "";
    mouseX = 50;
    mouseY = rowMouseY(l.k);
    leftClic = false;
    EXPECT_FALSE(gxplorer(it, BX, BY, 8, BW));
    int y = bandTop(l.k) + 10;
    EXPECT_TRUE(isColour(BX + BW - 40, y, l.r, l.g, l.b)) << l.k;
    if (l.greyEdges)
      EXPECT_TRUE(isColour(BX, y, 128, 128, 128)) << l.k;
    else
      EXPECT_TRUE(isColour(BX, y, l.r, l.g, l.b)) << l.k;
    // The other rows stay idle.
    int other = l.k == 0 ? 1 : 0;
    EXPECT_TRUE(isColour(BX + BW - 40, bandTop(other) + 10, 255, 255, 128)) << l.k;
  }
}

TEST_F(Browsers, UnreadableOrOverlongFolderListsNothing) {
  touch(root + "maps/one.map");
  EXPECT_TRUE(explorerRows("missing", 4).empty());

  std::string longPath = "/" + std::string(505, 'x') + "/";
  snprintf(projectPath, sizeof projectPath, "%s", longPath.c_str());
  captureLogBegin();
  EXPECT_TRUE(explorerRows("maps", 4).empty());
  std::string log = captureLogEnd();
  EXPECT_NE(log.find("Chemin trop long"), std::string::npos);
  char it[PATH_LEN] = "";
  EXPECT_FALSE(gxplorer(it, BX, BY, 4, BW));  // cannot be opened either

  EXPECT_TRUE(isDir(root.c_str(), "maps"));
  EXPECT_FALSE(isDir(root.c_str(), "maps/one.map"));
  EXPECT_FALSE(isDir(root.c_str(), "nothing"));
  EXPECT_FALSE(isDir(std::string(2045, 'y').c_str(), "maps"));
}
