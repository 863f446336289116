// Entities: typed game objects placed on maps. A definition ("model") is one
// JSON file in the project's "models" folder, named after it
// (entitymodels.cpp); a map's instances live in its sidecar, section
// "entities" (entities.cpp). Instances whose definition is missing or whose
// fields do not fit it are kept as they are and marked (`Entity::misfit`),
// never dropped. Main thread only, like the rest of the model.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/model.h"

enum {
  ENTITY_NAME_MAX = 64,         // bytes of a definition's or a field's name (shown, and a file name)
  ENTITY_FIELDS_MAX = 64,       // fields of a definition: a panel of them is already long
  ENTITY_VALUES_MAX = 64,       // choices of a one-of-a-list field
  ENTITY_TEXT_MAX = 1024,       // bytes of a text value
  ENTITY_SIZE_MAX = 256,        // cells a side of a definition
  ENTITY_MODELS_MAX = 1024,     // definition files read from a project
  ENTITY_MODEL_FILE_MAX = 256 << 10,  // bytes of a definition file (64 fields of 64 choices fit)
  ENTITY_INSTANCES_MAX = 65536, // instances of one map (the sidecar's value bound allows ~4 values each)
  ENTITY_COORD_MAX = 1 << 24,   // pixels: past any map (65535 layers' cells bound the size anyway)
};

// The field types, one table (entitymodels.cpp): their names in files.
enum FieldType { FIELD_INTEGER, FIELD_NUMBER, FIELD_BOOLEAN, FIELD_TEXT, FIELD_CHOICE, FIELD_COLOUR,
                 FIELD_POINT, FIELD_REFERENCE, FIELD_TYPES };
const char* fieldTypeName(FieldType t);
bool fieldTypeOf(const char* name, FieldType* t);

struct EntityField {
  std::string name;
  FieldType type = FIELD_INTEGER;
  nlohmann::json def;                 // the default; null: the type's own
  std::vector<std::string> choices;   // FIELD_CHOICE
  bool hasMin = false, hasMax = false;  // numbers
  double min = 0, max = 0;
};

struct EntityModel {
  std::string name;
  int w = 1, h = 1;                   // cells
  uint32_t colour = 0xE08020;         // 0xRRGGBB
  std::string tileset;                // "" : drawn as a rectangle of its colour
  int element = 0;                    // the tile of the tileset
  int limit = 0;                      // instances a map may hold; 0: any
  std::vector<EntityField> fields;
};

// The last write of a value: the network's logical clock and site id; the
// greater (clock, then site) wins on every copy. Kept in memory only.
struct EntityStamp {
  uint64_t clock = 0, site = 0;
  bool operator<(const EntityStamp& o) const { return clock != o.clock ? clock < o.clock : site < o.site; }
};

struct Entity {
  uint64_t id = 0;                    // random, written as 16 hex digits
  std::string model;
  int32_t x = 0, y = 0;               // top-left corner in pixels
  nlohmann::json fields = nlohmann::json::object();  // name -> value, as kept (may not fit the model)
  bool misfit = false;                // its definition is missing or a value does not fit it
  EntityStamp moved;
  std::map<std::string, EntityStamp> set;  // per field
};

// A map's instances (Map::entities).
struct MapEntities {
  std::vector<Entity> list;           // in id order (the same on every copy)
  std::set<uint64_t> deleted;         // ids removed this session: a late move or field for them is refused
};

// A definition renamed this session: what it is called now, and the stamp
// of the rename (of two renames of one name, the greater wins everywhere).
struct EntityRenamed {
  std::string to;
  EntityStamp stamp;
};

// The definitions of the open project.
struct EntityModels {
  std::vector<EntityModel> list;      // sorted by name
  std::string folder;                 // where they were read ("" : the project's)
  std::map<std::string, EntityRenamed> renamed;  // old name -> new: a late instance follows it
};
extern EntityModels entityModels;

// [definitions] entitymodels.cpp
// Why a definition's or a field's name is refused; null when it may be used.
const char* entityNameRefusal(const char* name);
// A definition from its JSON; false with why (one line) when it is not one.
bool entityModelFromJson(const nlohmann::json& j, EntityModel* out, std::string* why);
nlohmann::json entityModelToJson(const EntityModel& m);
// Reads a definition file's text (bounded); false with why.
bool entityModelParse(const char* text, size_t n, EntityModel* out, std::string* why);
// Reads every "models/*.json" of the project; broken files are reported
// (the count returned, each line in why) and left where they are.
int entityModelsLoad(std::string* why);
const EntityModel* entityModelFind(const std::string& name);
// Writes a definition's file (crash-safe) and keeps it in the list,
// replacing the one of that name; false with why.
bool entityModelStore(const EntityModel& m, std::string* why);
// Removes a definition's file and record (its instances stay, marked).
bool entityModelRemove(const std::string& name, std::string* why);
// [across the project] entitymaps.cpp
// A definition's instances on every map of the project (open, and closed in
// their sidecar files): counted, or removed (how many).
int entitiesCountModel(const std::string& model);
int entitiesRemoveModel(const std::string& model);
// Renames definition `from` to `to.name` (stored as `to`), stamped: the old
// file goes, and every instance of it on every map of the project follows
// (open maps in memory, closed ones in their sidecar files); how many in
// moved. A rename of `from` whose stamp is below one already made of it is
// refused (why says so), so two editors renaming one definition at once end
// with the same name. False with why.
bool entityModelRename(const std::string& from, const EntityModel& to, EntityStamp s, int* moved, std::string* why);
// The name a definition goes by now (its renames followed).
std::string entityModelNow(const std::string& name);

// Why a value is refused for a field, in the user's words; null when it fits.
const char* entityValueRefusal(const EntityField& f, const nlohmann::json& v);
// The field's default (its own, else the type's).
nlohmann::json entityFieldDefault(const EntityField& f);
// A value typed in the panel as the field's JSON value; false with why.
bool entityValueParse(const EntityField& f, const char* text, nlohmann::json* out, const char** why);
std::string entityValueText(const nlohmann::json& v);

// [instances] entities.cpp
uint64_t entityNewId();
std::string entityIdText(uint64_t id);
bool entityIdParse(const char* text, uint64_t* id);
MapEntities* entitiesOf(Map* m);                 // created when missing; null: no memory
const MapEntities* entitiesOfConst(const Map* m);  // null when the map has none
Entity* entityFind(Map* m, uint64_t id);
int entityCount(const Map* m, const std::string& model);
// Whether e's definition is missing or a value does not fit it.
bool entityMisfits(const Entity& e);
// Marks every instance of every open map again (after definitions changed).
void entitiesRecheck();
// The instance at pixel (px, py), the topmost; null for none.
Entity* entityAt(Map* m, int32_t px, int32_t py);
// Pixel size of an instance (its definition's cells; 1x1 without one).
void entitySize(const Entity& e, int* w, int* h);

// Changes, each stamped: applied only when newer than what the value holds
// (a place or a change of a deleted id is refused, a deletion always wins);
// false (logged) when refused. `why` may be null.
bool entityPlace(Map* m, const Entity& e, const char** why);
bool entityMove(Map* m, uint64_t id, int32_t x, int32_t y, EntityStamp s);
bool entitySetField(Map* m, uint64_t id, const std::string& field, const nlohmann::json& v, EntityStamp s);
bool entityDelete(Map* m, uint64_t id);
// Puts a deleted instance back (undo): its id leaves the deleted set.
bool entityRestore(Map* m, const Entity& e);
void entitiesFree(Map* m);
// One instance as the sidecar writes it, and back (checked; false with why).
nlohmann::json entityToJson(const Entity& e);
bool entityFromJson(const nlohmann::json& j, Entity* out, std::string* why);
bool entitiesCopy(const Map* from, Map* to);     // the background save's copy
