// Tiled maps written by hand (several tilesets, an external one, an empty
// cell, a layer mixing tilesets, a background image, collision rectangles,
// compressed data) imported; exports of the result imported back to the
// same bytes; each refusal leaving the project as it was; entities through
// object groups and back, what an import of objects leaves out listed; the
// PNG export equal to the map view's drawing.
#include <SDL/SDL.h>
#include <SDL/SDL_image.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "exchange/exchange.h"
#include "model/entities.h"
#include "model/mapfile.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "net/sync.h"
#include "shell/shell.h"
#include "testutil.h"
#include "tilesheet.h"
#include "toolkit/video.h"

using nlohmann::json;

namespace {

// Little-endian gids, zlib-compressed and base64-encoded, as Tiled stores them.
std::string packedGids(const std::vector<uint32_t>& gids) {
  std::string raw;
  for (uint32_t g : gids)
    for (int b = 0; b < 4; b++) raw += (char)(g >> (8 * b));
  std::string z = zlibBytes(raw);
  return base64Encode((const unsigned char*)z.data(), z.size());
}

const char TMX[] = R"(<?xml version="1.0"?>
<map orientation="orthogonal" width="3" height="2" tilewidth="16" tileheight="16" infinite="0">
 <properties><property name="name" value="Hand made"/></properties>
 <tileset firstgid="1" name="a" tilewidth="16" tileheight="16" tilecount="8" columns="4">
  <image source="a.png" width="64" height="32"/>
  <tile id="2"><objectgroup><object id="1" x="0" y="0" width="16" height="8"/></objectgroup></tile>
 </tileset>
 <tileset firstgid="9" source="b.tsx"/>
 <layer name="ground" width="3" height="2"><data encoding="csv">1,2,3,4,5,6</data></layer>
 <imagelayer name="sky"><image source="bg.png"/>
  <properties><property name="x" type="int" value="-4"/></properties></imagelayer>
 <objectgroup name="ignored"/>
 <layer name="mixed" width="3" height="2"><data encoding="base64" compression="zlib">MIXED</data></layer>
</map>)";
const char TSX[] = R"(<tileset name="b" tilewidth="16" tileheight="16" tilecount="4" columns="2">
 <image source="b.png"/>
 <tile id="1"><objectgroup><object x="9" y="9" width="2" height="2"/></objectgroup></tile>
</tileset>)";
const char JSON[] = R"({"orientation":"orthogonal","width":3,"height":2,"tilewidth":16,"tileheight":16,
 "infinite":false,"properties":[{"name":"name","type":"string","value":"Hand made"}],
 "tilesets":[{"firstgid":1,"name":"a","tilewidth":16,"tileheight":16,"image":"a.png",
   "tiles":[{"id":2,"objectgroup":{"objects":[{"x":0,"y":0,"width":16,"height":8}]}}]},
  {"firstgid":9,"source":"b.tsj"}],
 "layers":[{"type":"tilelayer","name":"ground","data":[1,2,3,4,5,6]},
  {"type":"group","layers":[{"type":"imagelayer","name":"sky","image":"bg.png",
    "properties":[{"name":"x","type":"int","value":-4}]}]},
  {"type":"tilelayer","name":"mixed","encoding":"base64","compression":"zlib","data":"MIXED"}]})";
const char TSJ[] = R"({"name":"b","tilewidth":16,"tileheight":16,"image":"b.png",
 "tiles":[{"id":1,"objectgroup":{"objects":[{"x":9,"y":9,"width":2,"height":2}]}}]})";
const std::vector<uint32_t> MIXED = {0, 10, 3, 12, 0, 0};

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

struct Fixture {
  std::string project, in;
};

// A project, and beside it the hand-written maps with their images.
Fixture setUp() {
  Fixture f;
  f.project = makeProject();
  writeFile(f.project + "PROJECT.MSK", "NAME hand\n");
  f.in = tempDir();
  writeSheetPng(f.in + "a.png", makeSheet(SHEET_RGB, 64, 32));
  writeSheetPng(f.in + "b.png", makeSheet(SHEET_RGBA, 32, 32));
  writeSheetPng(f.in + "bg.png", makeSheet(SHEET_PALETTED, 48, 48));
  writeFile(f.in + "hand.tmx", replaced(TMX, "MIXED", packedGids(MIXED)));
  writeFile(f.in + "b.tsx", TSX);
  writeFile(f.in + "hand.json", replaced(JSON, "MIXED", packedGids(MIXED)));
  writeFile(f.in + "b.tsj", TSJ);
  return f;
}

Map readMap(const std::string& path) {
  std::string bytes = readFile(path);
  Map m;
  EXPECT_EQ(readMapBytes((const unsigned char*)bytes.data(), bytes.size(), &m), MAP_READ_OK) << path;
  return m;
}

std::string passBytes(std::vector<int> blocked, int tiles) {
  std::string s(tiles * 4, 1);
  for (int q : blocked) s[q] = 0;
  return s;
}

TEST(Exchange, ImportsHandWrittenMapsAndExportsThemBackToTheSameBytes) {
  for (const char* file : {"hand.tmx", "hand.json"}) {
    SCOPED_TRACE(file);
    Fixture f = setUp();
    std::string error;
    ASSERT_TRUE(importMap(f.in + file, f.project, "hand", false, &error)) << error;
    Map m = readMap(f.project + "maps/hand.map");
    EXPECT_STREQ(m.sysname, "Hand made");
    ASSERT_EQ(m.w * m.h, 6u);
    // Bottom-up: ground; the background image; the mixed layer split per tileset.
    struct Want { const char* gfx; char bg; int x; std::vector<int32_t> cells; };
    std::vector<Want> want = {{"a", 0, 1, {0, 1, 2, 3, 4, 5}}, {"bg", 1, -4, {0, 0, 0, 0, 0, 0}},
                              {"a", 0, 1, {0, 0, 2, 0, 0, 0}}, {"b", 0, 1, {0, 1, 0, 3, 0, 0}}};
    ASSERT_EQ(m.layers, want.size());
    for (size_t i = 0; i < want.size(); i++) {
      EXPECT_STREQ(m.layer[i]->layerGFX, want[i].gfx) << i;
      EXPECT_EQ(m.layer[i]->bg, want[i].bg) << i;
      EXPECT_EQ(m.layer[i]->x, want[i].x) << i;
      EXPECT_EQ(std::vector<int32_t>(m.layer[i]->e, m.layer[i]->e + 6), want[i].cells) << i;
    }
    // The Tiled layers' names, in the map's sidecar.
    EXPECT_EQ(sidecarLoad(&m, "hand", false, nullptr, 0), SIDECAR_OK);
    const char* names[] = {"ground", "sky", "mixed", "mixed"};
    for (int i = 0; i < 4; i++) EXPECT_STREQ(layerName(m.layer[i]), names[i]) << i;
    freeMapRecord(&m);
    for (const char* img : {"a", "b", "bg"})
      EXPECT_EQ(readFile(f.project + "layers/" + img + ".png"), readFile(f.in + img + ".png")) << img;
    EXPECT_EQ(readFile(f.project + "layerspc/a.pss"), passBytes({8, 9}, 8));
    EXPECT_EQ(readFile(f.project + "layerspc/b.pss"), passBytes({7}, 4));
    EXPECT_EQ(readFile(f.project + "layerspc/bg.pss"), passBytes({}, 9));

    std::string first = readFile(f.project + "maps/hand.map"), out = tempDir();
    std::string side = readFile(f.project + "mapdata/hand.json");
    for (const char* back : {"back.tmx", "back.json"}) {
      ASSERT_TRUE(exportMap(f.project, "hand", out + back, &error)) << error;
      ASSERT_TRUE(importMap(out + back, f.project, "hand", true, &error)) << error;
      EXPECT_EQ(readFile(f.project + "maps/hand.map"), first) << back;
      EXPECT_EQ(readFile(f.project + "mapdata/hand.json"), side) << back;
    }
  }
}

// Every file under the project's maps and tileset folders.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Exchange, RefusesWhatAMapCannotHoldAndLeavesTheProjectAsItWas) {
  struct Case { const char* file; const char* from; const char* to; const char* error; };
  const std::string longName(NAME_LEN, 'n');
  const Case cases[] = {
      {"hand.tmx", "orthogonal", "isometric", "orientation 'isometric'"},
      {"hand.tmx", "tilewidth=\"16\" tileheight=\"16\" infinite",
       "tilewidth=\"32\" tileheight=\"16\" infinite", "tiles of 32x16"},
      {"hand.tmx", "infinite=\"0\"", "infinite=\"1\"", "infinite map"},
      {"hand.tmx", ">1,2,3", ">2147483649,2,3", "flipped or rotated tile at (0, 0)"},
      {"hand.tmx", "1,2,3,4,5,6", "1,2,3,4,5,99", "gid 99 names no tile at (2, 1)"},
      {"hand.tmx", "1,2,3,4,5,6", "1,2,3", "holds 3 cells"},
      {"hand.tmx", "b.tsx", "missing.tsx", "cannot read"},
      {"hand.tmx", "bg.png", "missing.png", "cannot read image"},
      {"hand.tmx", "columns=\"4\"", "columns=\"4\" spacing=\"1\"", "margin or spacing"},
      {"hand.tmx", "a.png", "a.bmp", "is not a PNG"},
      {"hand.tmx", "map", "mop", "is not a TMX map"},
      {"hand.tmx", "</map>", "</mop>", "cannot read"},
      {"hand.json", "\"infinite\":false", "\"infinite\":true", "infinite map"},
      {"hand.json", "[1,2,3", "[1,2,-3", "bad gid -3"},
      {"hand.json", "b.tsj", "missing.tsj", "cannot read"},
      {"hand.json", "Hand made", longName.c_str(), "name property longer than 255"},
      {"hand.json", "\"compression\":\"zlib\"", "\"compression\":\"zstd\"", "compression 'zstd'"},
      {"hand.tmx", "", "", "already exists (--force"},              // the map is there
      {"hand.tmx", "", "", "layers/a.png already exists and differs"},  // another a.png
      {"hand.png", "", "", "unknown input format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    Fixture f = setUp();
    std::string path = f.in + c.file, error;
    if (c.from[0]) writeFile(path, replaced(readFile(path), c.from, c.to));
    if (strstr(c.error, "already exists (")) writeFile(f.project + "maps/hand.map", "mine");
    if (strstr(c.error, "differs")) writeFile(f.project + "layers/a.png", "mine");
    std::vector<std::string> before = listing(f.project);
    EXPECT_FALSE(importMap(path, f.project, "hand", false, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(listing(f.project), before);
  }
}

// A map wider than the export's strips, with every kind of tileset and a
// background image between tiled layers.
TEST(Exchange, PngEqualsTheMapViewsDrawing) {
  Fixture f = setUp();
  std::string error;
  ASSERT_TRUE(importMap(f.in + "hand.tmx", f.project, "hand", false, &error)) << error;
  Map m = readMap(f.project + "maps/hand.map");
  const uint32_t w = 70, h = 3;
  uint32_t seed = 7;
  for (int i = 0; i < m.layers; i++) {
    free(m.layer[i]->e);
    m.layer[i]->e = allocCells(w * h);
    for (uint32_t c = 0; c < w * h; c++)
      m.layer[i]->e[c] = (int32_t)((seed = seed * 1664525u + 1013904223u) >> 24) % 10 - 1;
  }
  m.w = w, m.h = h;
  FILE* file = fopen((f.project + "maps/hand.map").c_str(), "wb");
  ASSERT_TRUE(writeMapStream(file, &m));
  fclose(file);
  freeMapRecord(&m);

  std::string png = tempDir() + "hand.png";
  ASSERT_TRUE(exportMap(f.project, "hand", png, &error)) << error;
  startVideo();
  ASSERT_GE(openMapInFreeSlot("hand"), 0);
  project.currentMap = 0;
  SDL_Surface* view = window;  // the view's own format, the map's size
  window = SDL_CreateRGBSurface(SDL_SWSURFACE, w * 16, h * 16, 32, 0, 0, 0, 0);
  drawWindow();
  SDL_Surface* got = IMG_Load(png.c_str());
  ASSERT_TRUE(got);
  ASSERT_EQ(got->w, window->w);
  ASSERT_EQ(got->h, window->h);
  int differ = 0;
  for (int y = 0; y < window->h; y++)
    for (int x = 0; x < window->w; x++) {
      Uint8 r1, g1, b1, r2, g2, b2;
      SDL_GetRGB(getpixel(window, x, y), window->format, &r1, &g1, &b1);
      SDL_GetRGB(getpixel(got, x, y), got->format, &r2, &g2, &b2);
      differ += r1 != r2 || g1 != g2 || b1 != b2;
    }
  EXPECT_EQ(differ, 0);
  SDL_FreeSurface(got);
  SDL_FreeSurface(window);
  window = view;
}

// [entities] Door has a field of every type; three instances, one referring
// to another, written in the map's sidecar.
EntityModel door() {
  EntityModel d;
  d.name = "Door";
  d.h = 2;
  const FieldType types[] = {FIELD_INTEGER, FIELD_NUMBER, FIELD_BOOLEAN, FIELD_TEXT,
                             FIELD_CHOICE,  FIELD_COLOUR, FIELD_POINT,   FIELD_REFERENCE};
  const char* names[] = {"hp", "speed", "open", "label", "kind", "tint", "target", "to"};
  for (int i = 0; i < 8; i++) d.fields.push_back({names[i], types[i], json(), {}, false, false, 0, 0});
  d.fields[4].choices = {"wood", "iron"};
  return d;
}

const json FIELDS = {{"hp", 7}, {"speed", 2.5}, {"open", true}, {"label", "two\nlines <&\""},
                     {"kind", "iron"}, {"tint", "#102030"}, {"target", {3, 4}}, {"to", "00000000000000a1"}};

void placeEntities(const Fixture& f) {
  std::string why;
  ASSERT_TRUE(entityModelStore(door(), &why)) << why;
  EntityModel start;
  start.name = "Start";
  ASSERT_TRUE(entityModelStore(start, &why)) << why;
  Map m = readMap(f.project + "maps/hand.map");
  ASSERT_EQ(sidecarLoad(&m, "hand", false, nullptr, 0), SIDECAR_OK);
  Entity a, b, c;
  a.id = 0xa1, a.model = "Door", a.x = 16, a.y = 5, a.fields = {{"hp", 1}};
  b.id = 0xfedcba9876543210ull, b.model = "Door", b.x = 40, b.y = 0, b.fields = FIELDS;
  c.id = 0xc3, c.model = "Start";
  entitiesOf(&m)->list = {a, c, b};  // in id order, as the model keeps them
  char err[256];
  ASSERT_TRUE(sidecarSave(&m, "hand", err, sizeof err)) << err;
  freeMapRecord(&m);
}

TEST(Exchange, EntitiesGoOutAsTypedObjectsAndComeBackWhole) {
  Fixture f = setUp();
  std::string error, out = tempDir();
  ASSERT_TRUE(importMap(f.in + "hand.tmx", f.project, "hand", false, &error)) << error;
  placeEntities(f);
  const std::string side = readFile(f.project + "mapdata/hand.json"), model = readFile(f.project + "models/Door.json");
  for (const char* back : {"back.tmx", "back.json"}) {
    SCOPED_TRACE(back);
    std::vector<std::string> dropped;
    ASSERT_TRUE(exportMap(f.project, "hand", out + back, &error)) << error;
    ASSERT_TRUE(importMap(out + back, f.project, "hand", true, &error, &dropped)) << error;
    EXPECT_TRUE(dropped.empty()) << dropped[0];
    EXPECT_EQ(readFile(f.project + "mapdata/hand.json"), side);
    EXPECT_EQ(readFile(f.project + "models/Door.json"), model);
    // Into a project without the definitions: made from the property types.
    Fixture g = setUp();
    ASSERT_TRUE(importMap(out + back, g.project, "hand", false, &error, &dropped)) << error;
    EntityModel made;
    std::string text = readFile(g.project + "models/Door.json"), why;
    ASSERT_TRUE(entityModelParse(text.data(), text.size(), &made, &why)) << why;
    EXPECT_EQ(made.h, 2);
    const FieldType want[] = {FIELD_INTEGER, FIELD_NUMBER, FIELD_BOOLEAN, FIELD_TEXT,
                              FIELD_TEXT,    FIELD_COLOUR, FIELD_TEXT,    FIELD_REFERENCE};
    ASSERT_EQ(made.fields.size(), 8u);
    for (int i = 0; i < 8; i++) EXPECT_EQ(made.fields[i].type, want[i]) << made.fields[i].name;
    Map m = readMap(g.project + "maps/hand.map");
    ASSERT_EQ(sidecarLoad(&m, "hand", false, nullptr, 0), SIDECAR_OK);
    ASSERT_EQ(entitiesOfConst(&m)->list.size(), 3u);
    const Entity& b = entitiesOfConst(&m)->list[2];
    EXPECT_EQ(b.id, 0xfedcba9876543210ull);
    json typed = FIELDS;
    typed["target"] = "3,4";  // a point is a string to Tiled
    EXPECT_EQ(b.fields, typed);
    freeMapRecord(&m);
  }
}

TEST(Exchange, ImportListsWhatObjectsLoseAndWritesNothingWithoutForce) {
  struct Case { const char* file; std::string object; const char* line; size_t kept; };
  const std::string door = R"(<object id="1" type="Door" x="0" y="0" width="16" height="16")";
  const std::string jdoor = R"({"id":1,"type":"Door","x":0,"y":0,"width":16,"height":16)";
  const Case cases[] = {
      {"hand.tmx", door + "><ellipse/></object>", "an ellipse, imported as a rectangle", 1},
      {"hand.tmx", door + "><polygon points=\"0,0 5,5\"/></object>", "a polygon, not imported", 0},
      {"hand.tmx", door + "><text>hi</text></object>", "a text, not imported", 0},
      {"hand.tmx", door + " rotation=\"45\"/>", "rotation of 45 degrees is dropped", 1},
      {"hand.tmx", R"(<object id="1" type="Door" x="0" y="16" width="16" height="16" gid="2147483649"/>)",
       "its tile's flip is dropped", 1},
      {"hand.tmx", door + "><properties><property name=\"f\" type=\"file\" value=\"a.png\"/></properties></object>",
       "property 'f': not a field of Door (no file fields here)", 1},
      {"hand.tmx", door + "><properties><property name=\"to\" type=\"object\" value=\"99\"/></properties></object>",
       "refers to object 99, which is not imported", 1},
      {"hand.tmx", door + "><properties><property name=\"moska_id\" value=\"../zz\"/></properties></object>",
       "is not a free id: a new one given", 1},
      {"hand.tmx", R"(<object id="1" class="../../x" x="0" y="0"/>)", "class '../../x' is not a definition's name", 0},
      {"hand.tmx", R"(<object id="1" name="tree" x="0" y="0"/>)", "object 1 'tree' (layer 'things'): no class", 0},
      {"hand.tmx", R"(<object id="1" type="Door" x="-5" y="0"/>)", "position off any map", 0},
      {"hand.tmx", R"(<object id="1" type="Door" x="1e300" y="0"/>)", "position off any map", 0},
      {"hand.tmx", R"(<object id="1" type="Door" x="abc" y="0"/>)", "not a number", 0},
      {"hand.tmx", R"(<object id="1" type="Door" x="0" y="0" width="9e9" height="16"/>)", "differs from Door's 4096x16", 1},
      {"hand.json", jdoor + R"(,"polyline":[{"x":0,"y":0}]})", "a polyline, not imported", 0},
      {"hand.json", R"({"id":1,"type":"Door","x":"12","y":0})", "not a number", 0},
      {"hand.json", R"(7)", "not a number", 0},
      {"hand.json", jdoor + R"(,"properties":[{"name":"hp","type":"int","value":1},{"name":"hp","type":"int","value":2},)"
                            R"({"name":"c","type":"color","value":"#80ff0000"}]})", "a second property of that name", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f = setUp();
    std::string path = f.in + c.file, error;
    bool tmx = strstr(c.file, ".tmx");
    writeFile(path, tmx ? replaced(readFile(path), "<objectgroup name=\"ignored\"/>",
                                   "<objectgroup name=\"things\">" + c.object + "</objectgroup>")
                        : replaced(readFile(path), R"({"type":"tilelayer","name":"ground")",
                                   R"({"type":"objectgroup","name":"things","objects":[)" + c.object +
                                       R"(]},{"type":"tilelayer","name":"ground")"));
    std::vector<std::string> before = listing(f.project), dropped;
    EXPECT_FALSE(importMap(path, f.project, "hand", false, &error, &dropped));
    EXPECT_NE(error.find("--force"), std::string::npos) << error;
    EXPECT_EQ(listing(f.project), before);
    ASSERT_FALSE(dropped.empty());
    EXPECT_NE(dropped[0].find(c.line), std::string::npos) << dropped[0];
    ASSERT_TRUE(importMap(path, f.project, "hand", true, &error, &dropped)) << error;
    Map m = readMap(f.project + "maps/hand.map");
    sidecarLoad(&m, "hand", false, nullptr, 0);
    EXPECT_EQ(entitiesOfConst(&m) ? entitiesOfConst(&m)->list.size() : 0, c.kept);
    freeMapRecord(&m);
    EXPECT_NE(access((f.project + "../x.json").c_str(), F_OK), 0);  // models/../../x.json
  }
  // More objects than a map holds: refused whole.
  Fixture f = setUp();
  std::string many, error;
  for (int i = 0; i <= ENTITY_INSTANCES_MAX; i++) many += "<object type=\"A\"/>";
  writeFile(f.in + "hand.tmx", replaced(readFile(f.in + "hand.tmx"), "<objectgroup name=\"ignored\"/>",
                                        "<objectgroup>" + many + "</objectgroup>"));
  EXPECT_FALSE(importMap(f.in + "hand.tmx", f.project, "hand", true, &error));
  EXPECT_NE(error.find("more than 65536 objects"), std::string::npos) << error;
}

}  // namespace
