// The generated data files: interface images, tilesets and the bundled
// example project, read back with independent code.
#include <SDL/SDL.h>
#include <SDL/SDL_image.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "model/mapfile.h"
#include "testutil.h"

namespace {

std::string repoDir() {
  std::string f = __FILE__;  // <repo>/tests/unit/assets_test.cpp
  for (int i = 0; i < 3; ++i) f = f.substr(0, f.find_last_of('/'));
  return f + "/";
}

std::string demoDir() { return repoDir() + "examples/demo/"; }

int tileCount(SDL_Surface* s) { return ((s->w / 16) * s->h) / 16; }

// The example's maps (read with the model's reader, which the map file tests
// check against bytes built by hand) use only tiles their tilesets hold.
TEST(Assets, ExampleProjectIsCompleteAndItsMapsParse) {
  std::string project = readFile(demoDir() + "PROJECT.MSK");
  EXPECT_EQ(project.rfind("NAME demo\nCRC 777\nMAPINDEX 0\nMAPS 1\nCURRENTMAP 0\nCURRENTLAYER 0\nCURRENTELEMENT ", 0), 0u);
  EXPECT_NE(project.find("\nELEMENTINDEX 0\nCURRENTMENU main\nWORKINGMAP map0\n"), std::string::npos);
  // The project's default tileset is the program's own.
  EXPECT_EQ(readFile(demoDir() + "layers/default.png"), readFile(appDir() + "default.png"));
  struct Expect { const char* file; const char* sysname; uint32_t w, h; const char* gfx; };
  for (const Expect& e : {Expect{"map0", "Village", 64, 48, "default"}, Expect{"map1", "Dungeon", 40, 30, "dungeon"}}) {
    std::string bytes = readFile(demoDir() + "maps/" + e.file + ".map");
    Map m;
    ASSERT_EQ(readMapBytes((const unsigned char*)bytes.data(), bytes.size(), &m), MAP_READ_OK) << e.file;
    EXPECT_STREQ(m.sysname, e.sysname);
    EXPECT_EQ(m.w, e.w);
    EXPECT_EQ(m.h, e.h);
    ASSERT_EQ(m.layers, 2);
    for (int i = 0; i < 2; i++) {
      EXPECT_STREQ(m.layer[i]->layerGFX, e.gfx);
      SDL_Surface* s = IMG_Load((demoDir() + "layers/" + e.gfx + ".png").c_str());
      ASSERT_NE(s, nullptr) << e.gfx;
      int tiles = tileCount(s);
      EXPECT_EQ(readFile(demoDir() + "layerspc/" + e.gfx + ".pss").size(), size_t(tiles) * 4) << e.gfx;
      for (size_t c = 0; c < (size_t)m.w * m.h; c++) ASSERT_TRUE(m.layer[i]->e[c] >= 0 && m.layer[i]->e[c] < tiles);
      SDL_FreeSurface(s);
    }
    // The ground layer is fully painted; the object layer leaves most cells empty.
    EXPECT_EQ(std::count(m.layer[0]->e, m.layer[0]->e + m.w * m.h, 0), 0) << e.file;
    EXPECT_GT(std::count(m.layer[1]->e, m.layer[1]->e + m.w * m.h, 0), int(m.w * m.h) / 2) << e.file;
    freeMapRecord(&m);
  }
}

}  // namespace
