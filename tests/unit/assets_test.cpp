// The generated data files: interface images, tilesets and the bundled
// example project, read back with independent code.
#include <SDL/SDL.h>
#include <SDL/SDL_image.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

std::string repoDir() {
  std::string f = __FILE__;  // <repo>/tests/unit/assets_test.cpp
  for (int i = 0; i < 3; ++i) f = f.substr(0, f.find_last_of('/'));
  return f + "/";
}

std::string demoDir() { return repoDir() + "examples/demo/"; }

uint32_t rgbAt(SDL_Surface* s, int x, int y) {
  const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
  uint32_t raw = 0;
  for (int i = 0; i < s->format->BytesPerPixel; ++i) raw |= uint32_t(p[i]) << (8 * i);
  uint8_t r, g, b;
  SDL_GetRGB(raw, s->format, &r, &g, &b);
  return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

int tileCount(SDL_Surface* s) { return ((s->w / 16) * s->h) / 16; }

// Tile 0 is the transparent colour; ground, water, paths and walls must not
// contain it, objects use it around their shape.
TEST(Assets, DefaultTilesetKeepsItsKeyColourOutOfTheTerrain) {
  SDL_Surface* s = IMG_Load((appDir() + "default.png").c_str());
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->w, 256);
  ASSERT_GE(tileCount(s), 64);
  uint32_t key = rgbAt(s, 0, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(rgbAt(s, x, y), key) << x << "," << y;
  const int firstObjectTile = 64;  // terrain rows come first
  for (int t = 1; t < firstObjectTile; ++t)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        ASSERT_NE(rgbAt(s, (t % 16) * 16 + x, (t / 16) * 16 + y), key) << "tile " << t;
  for (int t = 1; t < tileCount(s); ++t) {
    int opaque = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) opaque += rgbAt(s, (t % 16) * 16 + x, (t / 16) * 16 + y) != key;
    EXPECT_GT(opaque, 16) << "tile " << t << " is (nearly) empty";
  }
  SDL_FreeSurface(s);
}

// ---- a small, independent reader of the map file

struct Reader {
  std::string b;
  size_t at = 0;
  bool ok = true;
  uint32_t num(int bytes) {
    if (at + bytes > b.size()) { ok = false; return 0; }
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    at += bytes;
    return v;
  }
  std::string str() {
    uint32_t n = num(2);
    if (!ok || n == 0 || at + n > b.size() || b[at + n - 1] != '\0') { ok = false; return ""; }
    std::string s = b.substr(at, n - 1);
    at += n;
    return s;
  }
};

struct ReadLayer {
  std::string gfx;
  std::vector<int32_t> cells;
};

bool readMap(const std::string& bytes, std::string& sysname, std::string& filename, uint32_t& w, uint32_t& h,
             std::vector<ReadLayer>& layers) {
  Reader r{bytes};
  if (bytes.empty() || bytes[0] != '$') return false;
  r.at = 1;
  sysname = r.str();
  filename = r.str();
  w = r.num(4);
  h = r.num(4);
  r.num(4);
  r.num(4);
  uint32_t count = r.num(2);
  if (!r.ok || w == 0 || h == 0 || count == 0) return false;
  layers.assign(count, {});
  for (uint32_t i = count; i-- > 0;) {  // stored from the top layer down
    layers[i].gfx = r.str();
    for (uint32_t c = 0; c < w * h; ++c) layers[i].cells.push_back(int32_t(r.num(4)));
    uint32_t bg = r.num(1);
    r.num(2);
    r.num(2);
    if (!r.ok || bg > 1) return false;
  }
  return r.num(1) == '$' && r.ok && r.at == bytes.size();
}

TEST(Assets, ExampleProjectIsCompleteAndItsMapsParse) {
  std::string project = readFile(demoDir() + "PROJECT.MSK");
  EXPECT_EQ(project.rfind("NAME demo\nCRC 777\nMAPINDEX 0\nMAPS 1\nCURRENTMAP 0\nCURRENTLAYER 0\nCURRENTELEMENT ", 0), 0u);
  EXPECT_NE(project.find("\nELEMENTINDEX 0\nCURRENTMENU main\nWORKINGMAP map0\n"), std::string::npos);
  // The project's default tileset is the program's own.
  EXPECT_EQ(readFile(demoDir() + "layers/default.png"), readFile(appDir() + "default.png"));

  struct Expect { const char* file; const char* sysname; uint32_t w, h; const char* gfx; };
  for (const Expect& e : {Expect{"map0", "Village", 64, 48, "default"}, Expect{"map1", "Dungeon", 40, 30, "dungeon"}}) {
    std::string sysname, filename;
    uint32_t w = 0, h = 0;
    std::vector<ReadLayer> layers;
    ASSERT_TRUE(readMap(readFile(demoDir() + "maps/" + e.file + ".map"), sysname, filename, w, h, layers)) << e.file;
    EXPECT_EQ(sysname, e.sysname);
    EXPECT_EQ(filename, e.file);
    EXPECT_EQ(w, e.w);
    EXPECT_EQ(h, e.h);
    ASSERT_EQ(layers.size(), 2u);
    for (const ReadLayer& l : layers) {
      EXPECT_EQ(l.gfx, e.gfx);
      SDL_Surface* s = IMG_Load((demoDir() + "layers/" + l.gfx + ".png").c_str());
      ASSERT_NE(s, nullptr) << l.gfx;
      int tiles = tileCount(s);
      EXPECT_EQ(readFile(demoDir() + "layerspc/" + l.gfx + ".pss").size(), size_t(tiles) * 4) << l.gfx;
      for (int32_t c : l.cells) ASSERT_TRUE(c >= 0 && c < tiles) << e.file << " cell " << c;
      SDL_FreeSurface(s);
    }
    // The ground layer is fully painted; the object layer leaves most cells empty.
    int emptyGround = 0, emptyObjects = 0;
    for (int32_t c : layers[0].cells) emptyGround += c == 0;
    for (int32_t c : layers[1].cells) emptyObjects += c == 0;
    EXPECT_EQ(emptyGround, 0) << e.file;
    EXPECT_GT(emptyObjects, int(w * h) / 2) << e.file;
  }
}

}  // namespace
