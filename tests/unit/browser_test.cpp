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

void touch(const std::string& path) { writeFile(path, "x"); }

class Browsers : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeProject();
    startVideo();
    platformScriptStart();
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

}

TEST_F(Browsers, UnreadableOrOverlongFolderListsNothing) {
  touch(root + "maps/one.map");
  EXPECT_TRUE(explorerRows("missing", 4).empty());

  std::string longPath = "/" + std::string(505, 'x') + "/";
  snprintf(projectPath, sizeof projectPath, "%s", longPath.c_str());
  EXPECT_NE(logOf([&] { EXPECT_TRUE(explorerRows("maps", 4).empty()); }).find("Chemin trop long"), std::string::npos);
  char it[PATH_LEN] = "";
  EXPECT_FALSE(gxplorer(it, BX, BY, 4, BW));  // cannot be opened either

  EXPECT_TRUE(isDir(root.c_str(), "maps"));
  EXPECT_FALSE(isDir(root.c_str(), "maps/one.map"));
  EXPECT_FALSE(isDir(root.c_str(), "nothing"));
  EXPECT_FALSE(isDir(std::string(2045, 'y').c_str(), "maps"));
}
