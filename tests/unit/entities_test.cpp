// Entities: definition files and the sidecar's instances against broken,
// truncated and hostile text; instances kept (marked) whatever their
// definition says; the merge rules giving every copy the same result
// whatever order the changes arrive in; fields set by clicks on the map.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "shell/shell.h"
#include "model/entities.h"
#include "model/mapfile.h"
#include "model/sidecar.h"
#include "net/entitynet.h"
#include "platform/platform.h"
#include "testutil.h"

using nlohmann::json;

namespace {
std::string repeated(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; i++) out += (i ? "," : "") + s;
  return out;
}
}  // namespace

TEST(EntityModels, DefinitionFilesBrokenTruncatedAndHostile) {
  const std::string ok =
      R"({"name":"Door","size":[1,2],"colour":"#e08020","tile":{"tileset":"default","element":3},)"
      R"("limit":2,"fields":[{"name":"hp","type":"integer","min":0,"max":9,"default":5},)"
      R"({"name":"kind","type":"choice","choices":["wood","iron"]},{"name":"to","type":"reference"}]})";
  struct Case {
    const char* what;
    std::string text;
    bool taken;
  } cases[] = {
      {"valid", ok, true},
      {"name alone: the defaults", R"({"name":"Start"})", true},
      {"truncated", ok.substr(0, 60), false},
      {"empty", "", false},
      {"not an object", "[]", false},
      {"path-like name", R"({"name":"../../etc/passwd"})", false},
      {"name with a blank", R"({"name":"a b"})", false},
      {"name a number", R"({"name":7})", false},
      {"size zero", R"({"name":"A","size":[0,1]})", false},
      {"size huge", R"({"name":"A","size":[1,100000]})", false},
      {"size of the wrong type", R"({"name":"A","size":"1x1"})", false},
      {"colour not hex", R"({"name":"A","colour":"red"})", false},
      {"tile leaving the project", R"({"name":"A","tile":{"tileset":"../x","element":1}})", false},
      {"negative limit", R"({"name":"A","limit":-1})", false},
      {"unknown field type", R"({"name":"A","fields":[{"name":"f","type":"blob"}]})", false},
      {"default out of range", R"({"name":"A","fields":[{"name":"f","type":"integer","max":3,"default":4}]})", false},
      {"min above max", R"({"name":"A","fields":[{"name":"f","type":"number","min":3,"max":1}]})", false},
      {"choice without choices", R"({"name":"A","fields":[{"name":"f","type":"choice"}]})", false},
      {"two fields of one name", R"({"name":"A","fields":[{"name":"f","type":"text"},{"name":"f","type":"text"}]})", false},
      {"too many fields", R"({"name":"A","fields":[)" + repeated(R"({"name":"f","type":"text"})", 65) + "]}", false},
      {"huge array", R"({"name":"A","x":[)" + repeated("0", 300000) + "]}", false},
      {"deep nesting", std::string(100000, '['), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EntityModel m;
    std::string why;
    EXPECT_EQ(entityModelParse(c.text.data(), c.text.size(), &m, &why), c.taken) << why;
    if (!c.taken) {
      EXPECT_FALSE(why.empty());
    }
  }
  // What is written is read back the same.
  EntityModel m, back;
  std::string why;
  ASSERT_TRUE(entityModelParse(ok.data(), ok.size(), &m, &why));
  std::string text = entityModelToJson(m).dump();
  ASSERT_TRUE(entityModelParse(text.data(), text.size(), &back, &why)) << why;
  EXPECT_EQ(entityModelToJson(back), entityModelToJson(m));
  EXPECT_EQ(m.h, 2);
  EXPECT_EQ(m.fields[0].def, 5);
}

TEST(EntityModels, FieldValuesCheckedAgainstTypeAndRange) {
  std::string why;
  EntityModel m;
  const std::string def = R"({"name":"A","fields":[{"name":"i","type":"integer","min":-2,"max":10},)"
                          R"({"name":"n","type":"number","max":1.5},{"name":"b","type":"boolean"},)"
                          R"({"name":"c","type":"choice","choices":["x","y"]},{"name":"k","type":"colour"},)"
                          R"({"name":"p","type":"point"},{"name":"r","type":"reference"}]})";
  ASSERT_TRUE(entityModelParse(def.data(), def.size(), &m, &why)) << why;
  struct Case {
    int field;
    const char* typed;
    bool fits;
  } cases[] = {
      {0, "10", true},      {0, "11", false},    {0, "-3", false},    {0, "1.5", false}, {0, "", false},
      {0, "99999999999999999999", false},        {1, "1.5", true},    {1, "1.6", false}, {1, "nan", false},
      {2, "true", true},    {2, "maybe", false}, {3, "y", true},      {3, "z", false},   {4, "#a0b0c0", true},
      {4, "#12345", false}, {5, "3 4", true},    {5, "3", false},     {5, "-1 2", false},
      {6, "00000000000000ff", true},             {6, "../x", false},  {6, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(m.fields[c.field].name) + "=" + c.typed);
    json v;
    const char* refusal = nullptr;
    EXPECT_EQ(entityValueParse(m.fields[c.field], c.typed, &v, &refusal), c.fits);
    EXPECT_EQ(refusal == nullptr, c.fits);
  }
}

TEST(EntityInstances, SidecarKeepsMisfitsAndRefusesHostileFiles) {
  std::string dir = makeEditingProject();
  newMapFile("map0", 4, 3);
  mkdir((dir + "mapdata").c_str(), 0777);
  EntityModel door;
  door.name = "Door";
  door.fields.push_back({"hp", FIELD_INTEGER, json(), {}, true, true, 0, 9});
  std::string why;
  ASSERT_TRUE(entityModelStore(door, &why)) << why;
  const std::string file = dir + "mapdata/map0.json";
  const std::string one = R"({"id":"00000000000000a1","model":"Door","x":16,"y":32,"fields":{"hp":3}})";
  struct Case {
    const char* what;
    std::string text;
    int kept;       // instances taken; -1: the file is set aside
    int misfits;
  } cases[] = {
      {"valid", R"({"entities":[)" + one + "]}", 1, 0},
      {"missing definition kept, marked", R"({"entities":[{"id":"00000000000000a2","model":"Gone","x":0,"y":0}]})", 1, 1},
      {"field out of range kept, marked",
       R"({"entities":[{"id":"00000000000000a3","model":"Door","x":0,"y":0,"fields":{"hp":"lots"}}]})", 1, 1},
      {"unknown field kept, marked",
       R"({"entities":[{"id":"00000000000000a4","model":"Door","x":0,"y":0,"fields":{"zz":1}}]})", 1, 1},
      {"truncated", R"({"entities":[)" + one.substr(0, 40), -1, 0},
      {"duplicate ids", R"({"entities":[)" + one + "," + one + "]}", -1, 0},
      {"id not hex", R"({"entities":[{"id":"zz","model":"Door","x":0,"y":0}]})", -1, 0},
      {"path-like definition", R"({"entities":[{"id":"00000000000000a5","model":"../../x","x":0,"y":0}]})", -1, 0},
      {"negative position", R"({"entities":[{"id":"00000000000000a6","model":"Door","x":-5,"y":0}]})", -1, 0},
      {"position of the wrong type", R"({"entities":[{"id":"00000000000000a7","model":"Door","x":"0","y":0}]})", -1, 0},
      {"fields not an object", R"({"entities":[{"id":"00000000000000a8","model":"Door","x":0,"y":0,"fields":[1]}]})", -1, 0},
      {"not an array", R"({"entities":{"a":1}})", -1, 0},
      {"huge array", R"({"entities":[)" + repeated("{}", 300000) + "]}", -1, 0},
      {"deep nesting", R"({"entities":[{"id":"00000000000000a9","model":"Door","x":0,"y":0,"fields":{"f":)" +
                           std::string(40, '[') + std::string(40, ']') + "}}]}", -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(writeFile(file, c.text));
    int slot = openMapInFreeSlot("map0");
    ASSERT_GE(slot, 0);
    Map* m = openMapAt(slot);
    const MapEntities* me = entitiesOfConst(m);
    int kept = me ? (int)me->list.size() : 0, misfits = 0;
    if (me)
      for (const Entity& e : me->list) misfits += e.misfit;
    if (c.kept < 0) {
      EXPECT_EQ(kept, 0);
      EXPECT_EQ(readFile(file + ".broken"), c.text);
      ASSERT_EQ(unlink((file + ".broken").c_str()), 0);
    } else {
      EXPECT_EQ(kept, c.kept);
      EXPECT_EQ(misfits, c.misfits);
    }
    // Saved and read back: the instances, misfits too, come back as they were.
    std::string before = sidecarText(m);
    m->dirty = true;
    ASSERT_TRUE(closeMapi(slot, "map0"));
    slot = openMapInFreeSlot("map0");
    EXPECT_EQ(sidecarText(openMapAt(slot)), before);
    ASSERT_TRUE(closeMapi(slot, "map0"));
    unlink(file.c_str());
  }
}

// Two copies take the same changes in two orders; every field of every
// instance ends alike, and a deletion wins over what it overlapped.
TEST(EntityMerge, CopiesConvergeWhateverTheOrder) {
  makeEditingProject();
  EntityModel d;
  d.name = "Chest";
  d.fields.push_back({"gold", FIELD_INTEGER, json(), {}, false, false, 0, 0});
  d.fields.push_back({"label", FIELD_TEXT, json(), {}, false, false, 0, 0});
  std::string why;
  ASSERT_TRUE(entityModelStore(d, &why));
  enum Op { MOVE, FIELD, DELETE };
  struct Change {
    Op op;
    EntityStamp s;
    int x;
    const char* field;
    int value;
  };
  const uint64_t A = 1, B = 2;
  struct Case {
    const char* what;
    std::vector<Change> changes;
    bool present;
    int x;
    json gold, label;
  } cases[] = {
      {"concurrent move and field both kept", {{MOVE, {5, A}, 48, "", 0}, {FIELD, {5, B}, 0, "gold", 7}}, true, 48, 7, nullptr},
      {"same field, two writers: the greater site at one clock",
       {{FIELD, {5, A}, 0, "gold", 1}, {FIELD, {5, B}, 0, "gold", 2}}, true, 16, 2, nullptr},
      {"same field: the later clock", {{FIELD, {9, A}, 0, "gold", 1}, {FIELD, {5, B}, 0, "gold", 2}}, true, 16, 1, nullptr},
      {"two moves", {{MOVE, {3, B}, 32, "", 0}, {MOVE, {4, A}, 64, "", 0}}, true, 64, nullptr, nullptr},
      {"delete wins over a concurrent move", {{DELETE, {5, A}, 0, "", 0}, {MOVE, {6, B}, 80, "", 0}}, false, 0, nullptr, nullptr},
      {"delete wins over a concurrent field", {{FIELD, {7, B}, 0, "label", 3}, {DELETE, {5, A}, 0, "", 0}}, false, 0, nullptr, nullptr},
      {"fields apart both kept", {{FIELD, {2, A}, 0, "gold", 4}, {FIELD, {2, B}, 0, "label", 5}}, true, 16, 4, "5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> texts;
    for (int order = 0; order < 2; order++) {
      int slot = openNewMap(order ? "copy1" : "copy0", 8, 8);
      Map* m = openMapAt(slot);
      Entity e;
      e.id = 0xabc;
      e.model = "Chest";
      e.x = 16;
      ASSERT_TRUE(entityPlace(m, e, nullptr));
      std::vector<Change> ch = c.changes;
      if (order) std::reverse(ch.begin(), ch.end());
      for (const Change& k : ch) {
        if (k.op == MOVE) entityMove(m, e.id, k.x, 0, k.s);
        if (k.op == FIELD)
          entitySetField(m, e.id, k.field, std::string(k.field) == "label" ? json(std::to_string(k.value)) : json(k.value), k.s);
        if (k.op == DELETE) entityDelete(m, e.id);
      }
      Entity* got = entityFind(m, e.id);
      EXPECT_EQ(got != nullptr, c.present);
      if (got) {
        EXPECT_EQ(got->x, c.x);
        EXPECT_EQ(got->fields.value("gold", json()), c.gold);
        EXPECT_EQ(got->fields.value("label", json()), c.label);
      }
      texts.push_back(sidecarText(m));
    }
    EXPECT_EQ(texts[0], texts[1]);
  }
}

namespace {
// A project with map0 shown in the Entities tab, scripted input, and the
// definition d.
void panelProject(const EntityModel& d) {
  makeEditingProject();
  historyInstall();
  platformScriptStart();
  project.currentMap = openNewMap("map0", 64, 48);
  std::string why;
  ASSERT_TRUE(entityModelStore(d, &why)) << why;
  setMenu("entities");
}

void escapeKey() {
  SDL_Event esc{};
  esc.type = SDL_KEYDOWN, esc.key.keysym.sym = SDLK_ESCAPE;
  turn(100, 100, 0, &esc);
}
}  // namespace

// A point and a reference set by clicks on the map in the Entities tab,
// each one undo step; a click on the instance itself is no reference;
// Escape gives a waiting click up, and Escape is not a quit then.
TEST(EntityPanel, PointAndReferenceFieldsAreSetByClicksOnTheMap) {
  EntityModel d;
  d.name = "Guard";
  d.fields.push_back({"patrol", FIELD_POINT, json(), {}, false, false, 0, 0});
  d.fields.push_back({"door", FIELD_REFERENCE, json(), {}, false, false, 0, 0});
  panelProject(d);
  Map* m = openMapAt(project.currentMap);
  Entity a, b;
  a.id = 0xA1, a.model = b.model = "Guard", a.x = 32, a.y = 32;
  b.id = 0xB2, b.x = 160, b.y = 64;
  ASSERT_TRUE(action_entityPlace(m, a, nullptr) && action_entityPlace(m, b, nullptr));
  setMenu("entities");  // drawn with them
  auto onMap = [](int px, int py) { click(PANEL_WIDTH + px, py); };
  auto field = [&](const char* name) { return entityFind(m, a.id)->fields.value(name, json()); };
  const int patrolY = 245, doorY = 267;  // the selected instance's field rows, name buttons at x 10..130
  onMap(40, 40);  // selects a
  ASSERT_EQ(entitySelected(), a.id);
  click(20, doorY), onMap(40, 40);  // a itself: refused, nothing set
  EXPECT_TRUE(field("door").is_null());
  click(20, doorY), onMap(170, 70);
  EXPECT_EQ(field("door"), entityIdText(b.id));
  click(20, patrolY), onMap(5 * 16 + 7, 3 * 16 + 2);  // the cell's corner
  EXPECT_EQ(field("patrol"), json::array({80, 48}));
  size_t count = entitiesOfConst(m)->list.size();
  click(20, patrolY);
  escapeKey();
  EXPECT_FALSE(stop);
  onMap(300, 300);  // no pick waiting: a new instance
  EXPECT_EQ(field("patrol"), json::array({80, 48}));
  EXPECT_EQ(entitiesOfConst(m)->list.size(), count + 1);
  EXPECT_TRUE(historyUndo());  // the placement
  EXPECT_TRUE(historyUndo());
  EXPECT_TRUE(field("patrol").is_null());
  EXPECT_TRUE(historyUndo());
  EXPECT_TRUE(field("door").is_null());
}

namespace {
// Types `text` into the panel field at (x, y) as a user does: a click on
// it, Delete (the field emptied), the keys, Enter.
void typeInto(int x, int y, const std::string& text) {
  pushFrame(x, y, SDL_BUTTON(1));
  pushFrame(x, y, 0);
  for (char c : "\x7f" + text + "\r") {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = c == '\r' ? SDLK_RETURN : c == 0x7f ? SDLK_DELETE : (SDLKey)tolower((unsigned char)c);
    e.key.keysym.unicode = (Uint16)c;
    pushFrame(x, y, 0, {}, &e);
  }
  while (platformScriptRemaining() > 0) {
    boucle();
    eventMenu();
  }
}
}  // namespace

// The chosen definition edited on the panel: its colour typed (a wrong one
// refused), a field added by name and type (a second of that name
// refused), then retyped and removed from its row.
TEST(EntityPanel, DefinitionColourAndFieldsEditedOnThePanel) {
  EntityModel d;
  d.name = "Lamp";
  panelProject(d);
  auto lamp = [] { return *entityModelFind("Lamp"); };
  turn(100, 100);
  const int right = 175, colourY = 157, nameY = 183, typeY = 209, addX = 250, rowY = 245;
  typeInto(right, colourY, "#112233");
  EXPECT_EQ(lamp().colour, 0x112233u);
  typeInto(right, colourY, "#blue");
  EXPECT_EQ(lamp().colour, 0x112233u);
  for (int k = 0; k < 2; k++) {
    typeInto(right, nameY, "lit");
    click(right, typeY), click(right, typeY);  // integer, number, boolean
    click(addX, typeY);
  }
  ASSERT_EQ(lamp().fields.size(), 1u);
  EXPECT_EQ(lamp().fields[0].name, "lit");
  EXPECT_EQ(lamp().fields[0].type, FIELD_BOOLEAN);
  click(145, rowY);  // the row's type: the next one
  EXPECT_EQ(lamp().fields[0].type, FIELD_TEXT);
  click(225, rowY);  // x
  EXPECT_TRUE(lamp().fields.empty());
}

// The chosen definition renamed on the panel (a taken or bad name refused):
// its instances follow on the open map and in a closed map's sidecar, and
// an undone placement comes back under the new name. Its tile is the
// brush's; a field's choices, range and default are typed under the rows,
// a default that does not fit refused. Its deletion takes the instances of
// the closed map too.
TEST(EntityPanel, DefinitionRenamedTiledAndItsFieldsDetailed) {
  EntityModel d, door;
  d.name = "Lamp", door.name = "Door";
  d.fields.push_back({"kind", FIELD_CHOICE, json(), {"a", "b"}, false, false, 0, 0});
  d.fields.push_back({"hp", FIELD_INTEGER, json(), {}, false, false, 0, 0});
  panelProject(d);
  std::string why;
  ASSERT_TRUE(entityModelStore(door, &why));
  int other = openNewMap("map1", 8, 8);
  Entity far;
  far.id = 0xF1, far.model = "Lamp";
  ASSERT_TRUE(entityPlace(openMapAt(other), far, nullptr));
  ASSERT_TRUE(closeMapi(other, "map1"));
  setMenu("entities");
  click(30, 67);  // the list's second row: Lamp (Door is first)
  click(PANEL_WIDTH + 40, 40);  // placed on map0
  Map* m = openMapAt(project.currentMap);
  ASSERT_EQ(entityCount(m, "Lamp"), 1);
  escapeKey();    // let it go: the rows show the definition's fields
  const int nameX = 175, nameY = 75;
  for (const char* refused : {"Door", "../x", ""}) {
    typeInto(nameX, nameY, refused);
    EXPECT_TRUE(entityModelFind("Lamp")) << refused;
  }
  typeInto(nameX, nameY, "Torch");
  EXPECT_FALSE(entityModelFind("Lamp"));
  ASSERT_TRUE(entityModelFind("Torch"));
  EXPECT_EQ(entityCount(m, "Torch"), 1);
  std::string closed;
  ASSERT_TRUE(sidecarTextOf("map1", &closed));
  EXPECT_NE(closed.find("\"Torch\""), std::string::npos) << closed;
  EXPECT_EQ(closed.find("Lamp"), std::string::npos) << closed;
  EXPECT_TRUE(historyUndo() && historyRedo());  // the placement, made under the old name
  EXPECT_EQ(entityCount(m, "Torch"), 1);
  EXPECT_EQ(entityCount(m, "Lamp"), 0);

  project.currentElement = 7;
  click(260, 157);  // Tile
  EXPECT_EQ(entityModelFind("Torch")->tileset, "default");
  EXPECT_EQ(entityModelFind("Torch")->element, 7);
  click(260, 157);  // No tile
  EXPECT_TRUE(entityModelFind("Torch")->tileset.empty());

  auto field = [](int i) { return entityModelFind("Torch")->fields[i]; };
  const int rowY = 245, detailY = 403, defX = 15, listX = 145;
  click(20, rowY);  // kind: its default and choices under the rows
  typeInto(listX, detailY, "red,  green ,blue,");
  EXPECT_EQ(field(0).choices, (std::vector<std::string>{"red", "green", "blue"}));
  typeInto(defX, detailY, "green");
  EXPECT_EQ(field(0).def, "green");
  typeInto(defX, detailY, "pink");  // no choice of it
  typeInto(listX, detailY, " , ");
  EXPECT_EQ(field(0).choices.size(), 3u);
  EXPECT_EQ(field(0).def, "green");
  typeInto(listX, detailY, "red, blue");  // green is gone: so is the default
  EXPECT_TRUE(field(0).def.is_null());
  click(20, rowY + 22);  // hp: its range
  typeInto(listX, detailY, "0 99");
  EXPECT_TRUE(field(1).hasMin && field(1).hasMax && field(1).max == 99);
  for (const char* refused : {"5 1", "x 3", "1 2 3"}) typeInto(listX, detailY, refused);
  typeInto(defX, detailY, "120");  // out of range
  EXPECT_TRUE(field(1).def.is_null());
  typeInto(listX, detailY, "- 10");
  EXPECT_TRUE(!field(1).hasMin && field(1).max == 10);

  // Deleted: asked first with the count on every map, the closed one's too.
  click(260, 45);
  EXPECT_NE(std::string(panelMessage).find("its 2 instances?"), std::string::npos) << panelMessage;
  click(260, 45);
  EXPECT_FALSE(entityModelFind("Torch"));
  EXPECT_EQ(entityCount(m, "Torch"), 0);
  ASSERT_TRUE(sidecarTextOf("map1", &closed));
  EXPECT_EQ(closed.find("Torch"), std::string::npos) << closed;
}

// Two editors rename one definition at once: whichever order the renames
// arrive in, the greater stamp's name is the definition's and its
// instances', and a placement still on its way under the first name follows.
TEST(EntityRename, ConcurrentRenamesEndAlikeInEitherOrder) {
  for (bool swapped : {false, true}) {
    EntityModel lamp;
    lamp.name = "Lamp";
    panelProject(lamp);
    Map* m = openMapAt(project.currentMap);
    Entity e;
    e.id = 0xE1, e.model = "Lamp";
    ASSERT_TRUE(entityPlace(m, e, nullptr));
    EntityModel torch = lamp, candle = lamp;
    torch.name = "Torch", candle.name = "Candle";
    std::pair<EntityModel, EntityStamp> first{torch, {5, 1}}, second{candle, {5, 2}};
    if (swapped) std::swap(first, second);
    std::string why;
    EXPECT_TRUE(entityModelRename("Lamp", first.first, first.second, nullptr, &why)) << why;
    EXPECT_EQ(entityModelRename("Lamp", second.first, second.second, nullptr, &why), !swapped) << why;
    Entity late;
    late.id = 0xE2, late.model = "Lamp";
    ASSERT_TRUE(entityPlace(m, late, nullptr));
    EXPECT_EQ(entityCount(m, "Candle"), 2) << swapped;
    std::vector<std::string> names;
    for (const EntityModel& x : entityModels.list) names.push_back(x.name);
    EXPECT_EQ(names, std::vector<std::string>{"Candle"}) << swapped;
  }
}

// What a peer changes under the panel's fields (the selected instance's
// value, the definition's colour, a field's choices) is shown there and
// never taken for the user's edit and written back over the peer's.
TEST(EntityPanel, PeersChangesShownNotWrittenBack) {
  EntityModel d;
  d.name = "Chest";
  d.fields.push_back({"gold", FIELD_INTEGER, json(), {}, false, false, 0, 0});
  d.fields.push_back({"kind", FIELD_CHOICE, json(), {"a", "b"}, false, false, 0, 0});
  panelProject(d);
  Map* m = openMapAt(project.currentMap);
  turn(100, 100);  // the panel drawn: Chest chosen
  click(PANEL_WIDTH + 40, 40);  // placed and selected: its rows show
  ASSERT_TRUE(entitiesOfConst(m) && entitiesOfConst(m)->list.size() == 1u);
  uint64_t id = entitiesOfConst(m)->list[0].id;
  std::string why;
  ASSERT_TRUE(entitySetField(m, id, "gold", 9, EntityStamp{1000, 1}));
  for (int i = 0; i < 3; i++) turn(100, 100);
  EXPECT_EQ(entityFind(m, id)->fields.value("gold", json()), 9);
  escapeKey();  // the definition's rows
  click(20, 267);  // kind: its choices under the rows
  EntityModel changed = *entityModelFind("Chest");
  changed.colour = 0x123456, changed.fields[1].choices = {"x", "y", "z"};
  ASSERT_TRUE(entityModelStore(changed, &why));
  for (int i = 0; i < 3; i++) turn(100, 100);
  EXPECT_EQ(entityModelFind("Chest")->colour, 0x123456u);
  EXPECT_EQ(entityModelFind("Chest")->fields[1].choices.size(), 3u);
}
