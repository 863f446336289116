// Loading and saving the project file, and choosing the project at start-up.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/mapfile.h"
#include "model/model.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "testutil.h"

namespace {
std::string projectText(const char* maps, const char* currentMap, const char* layer,
                        const char* working) {
  char buf[512];
  snprintf(buf, sizeof buf,
           "NAME demo\nCRC 777\nMAPINDEX 5\nMAPS %s\nCURRENTMAP %s\nCURRENTLAYER %s\n"
           "CURRENTELEMENT 9\nELEMENTINDEX 2\nCURRENTMENU map\nWORKINGMAP %s\n",
           maps, currentMap, layer, working);
  return buf;
}

// A project folder holding one new map file "map0"; returns the folder.
std::string projectWithMap(const std::string& text) {
  std::string dir = makeProject();
  writeFile(dir + "PROJECT.MSK", text);
  EXPECT_TRUE(newMapFile("map0", 8, 4));
  return dir;
}

int load(const std::string& arg) {
  char* argv[] = {(char*)"moska2", (char*)arg.c_str(), nullptr};
  return loadProject(argv);
}
}  // namespace

// The working map is loaded into slot 0 of MAPS slots; key words are not
// checked, a folder is taken as well as its file, and out-of-range values are
// brought back (the map has one layer); the quit path saves MAPS 1.
TEST(ProjectFile, LoadsWorkingMapIntoSlotZeroAndSavesItBack) {
  struct Case { std::string text, arg, log; int maps, layer; } cases[] = {
      {projectText("4", "3", "0", "map0"), "PROJECT.MSK",
       "project name:demo\ncrc: 777\nmapIndex: 5\nNbreMaps: 4\n", 4, 0},
      {"A demo\nB 777\nC 5\nD 1\nE 0\nF 0\nG 9\nH 2\nI map\nJ map0\n", "", "project name:demo\ncrc: 777", 1,
       0},
      {projectText("-3", "0", "7", "map0"), "PROJECT.MSK", "MAPS incorrect (-3)", 1, 0},
      {projectText("1", "0", "7", "map0"), "PROJECT.MSK", "CURRENTLAYER 7", 1, 0},
  };
  startVideo();
  for (const Case& c : cases) {
    modelReset();
    std::string dir = projectWithMap(c.text);
    std::string log = logOf([&] { EXPECT_EQ(load(dir + c.arg), 1); });
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    EXPECT_EQ(project.nbreMaps, c.maps);
    ASSERT_EQ(project.currentMap, 0);
    EXPECT_STREQ(project.listeMaps[0]->filename, "map0");
    for (int i = 1; i < c.maps; i++) EXPECT_EQ(project.listeMaps[i], nullptr);
    EXPECT_EQ(project.currentLayer, c.layer);
    EXPECT_TRUE(project.currentElement == 9 && project.elementIndex == 2);
    EXPECT_STREQ(project.workingMap, "map0");
    EXPECT_EQ(std::string(projectPath), dir);
    stopNow();
    EXPECT_EQ(readFile(dir + "PROJECT.MSK"), projectText("1", "0", "0", "map0")) << c.text;
  }
}

// A working map that is missing (or whose name held a blank and read back
// cut) starts a new map; a bare "PROJECT.MSK" names the current folder.
TEST(ProjectFile, MissingWorkingMapStartsANewMapAndBareNameOpensHere) {
  startVideo();
  for (const char* working : {"gone", "my map"}) {
    modelReset();
    std::string dir = projectWithMap(projectText("1", "0", "0", working));
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::string log = logOf([] { EXPECT_EQ(load("PROJECT.MSK"), 1); });
    EXPECT_NE(log.find("Carte de travail " + std::string(working).substr(0, 2)), std::string::npos)
        << log;
    ASSERT_NE(project.listeMaps[project.currentMap], nullptr);
    EXPECT_STREQ(project.workingMap, "map1");  // map0.map exists
    EXPECT_STREQ(projectPath, "./");
  }
}

// A new project is refused, saying so and creating nothing, in a taken
// folder, under a bad name or without the default tileset to copy.
TEST(ProjectCreation, RefusesExistingFoldersBadNamesAndMissingTileset) {
  startVideo();
  std::string browsed = tempDir();
  std::string prog = tempDir();
  snprintf(programPath, sizeof programPath, "%s", prog.c_str());
  std::string folder = browsed.substr(0, browsed.size() - 1);
  mkdir((browsed + "taken").c_str(), 0755);
  writeFile(browsed + "taken/PROJECT.MSK", "NAME precious\n");
  writeFile(prog + "default.png", "png");
  for (const char* name : {"taken", "two words", "a/b", "..", ""}) {
    snprintf(projectPath, sizeof projectPath, "%s", folder.c_str());
    snprintf(newproject, sizeof newproject, "%s", name);
    // The refusal is said.
    EXPECT_FALSE(logOf([&] { EXPECT_FALSE(createProject()) << name; }).empty()) << name;
    EXPECT_EQ(std::string(projectPath), folder) << name;
  }
  EXPECT_EQ(readFile(browsed + "taken/PROJECT.MSK"), "NAME precious\n");
  struct stat st;
  EXPECT_NE(stat((browsed + "two words").c_str(), &st), 0);
  // Without the default tileset nothing is created.
  unlink((prog + "default.png").c_str());
  snprintf(projectPath, sizeof projectPath, "%s", folder.c_str());
  snprintf(newproject, sizeof newproject, "fresh");
  EXPECT_FALSE(createProject());
  EXPECT_NE(stat((browsed + "fresh").c_str(), &st), 0);
}

// The model only reports; the shell's start turns a working map whose
// tilesets cannot all enter the library into status 4, as before.
TEST(ProjectFileDeathTest, WorkingMapFillingTheLibraryEndsWithStatus4) {
  startVideo();
  std::string dir = projectWithMap(projectText("1", "0", "0", "wide"));
  std::vector<Layer> layers(LIBRARY_SLOTS + 1);
  std::vector<Layer*> list;
  std::vector<std::string> names;
  for (size_t i = 0; i < layers.size(); i++) names.push_back("t" + std::to_string(i));
  for (size_t i = 0; i < layers.size(); i++) {
    layers[i].layerGFX = (char*)names[i].c_str();
    list.push_back(&layers[i]);
  }
  Map wide;
  wide.layer = list.data(), wide.layers = (uint16_t)list.size(), wide.w = wide.h = 1;
  wide.sysname = wide.filename = (char*)"wide";
  ASSERT_TRUE(writeMapFile("wide", &wide));
  EXPECT_EXIT(load(dir + "PROJECT.MSK"), ::testing::ExitedWithCode(EXIT_LIBRARY_FULL), "");
}
