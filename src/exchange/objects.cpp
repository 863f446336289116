// Entities through Tiled's object groups. The export writes each instance
// as a rectangle object of the group "entities": its definition as the
// object's class (and type, for readers before Tiled 1.9), its pixel box,
// our id in the string property "moska_id", and each field as a typed
// property: integer "int", number "float", boolean "bool", text and choice
// "string", colour "color" (#aarrggbb), point "string" "x,y" (Tiled has no
// point type), reference "object" (the referenced object's id, 0 for none).
// The import reads them back; what cannot come over is listed, one line
// each, never dropped silently.
//
// [SECTION] index
//   export     planObjects: the instances as typed objects
//   lines      the import's list of what it leaves out
//   values     a property into a field's value, a field from a property type
//   import     planEntities, storeModels
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "core/files.h"
#include "exchange/internal.h"

using nlohmann::json;

namespace {
const int DROPPED_LINES_MAX = 200;   // lines listed; a hostile file would print millions
const char OPAQUE[] = "ff";          // Tiled's alpha of an opaque colour
const char* const kShapeNames[] = {"a rectangle", "an ellipse", "a point", "a polygon", "a polyline", "a text"};
}  // namespace

bool objectRoom(const InMap& m, std::string* error) {
  if (m.objects.size() < (size_t)ENTITY_INSTANCES_MAX) return true;
  *error = "more than " + std::to_string(ENTITY_INSTANCES_MAX) + " objects (a map holds at most that many entities)";
  return false;
}

// [SECTION] export
namespace {
OutProperty byValue(const std::string& name, const json& v) {
  if (v.is_number_integer()) return {name, "int", v};
  if (v.is_number()) return {name, "float", v};
  if (v.is_boolean()) return {name, "bool", v};
  if (v.is_string()) return {name, "string", v};
  if (v.is_array() && v.size() == 2) return {name, "string", entityValueText(v[0]) + "," + entityValueText(v[1])};
  return {name, "string", v.is_null() ? "" : v.dump()};
}

OutProperty byField(const EntityField& f, const json& v, const std::map<uint64_t, int>& order, const Entity& e) {
  switch (f.type) {
    case FIELD_INTEGER: return {f.name, "int", v};
    case FIELD_NUMBER: return {f.name, "float", v.get<double>()};
    case FIELD_COLOUR: return {f.name, "color", std::string("#") + OPAQUE + v.get<std::string>().substr(1)};
    case FIELD_REFERENCE: {
      uint64_t id = 0;
      if (v.is_string()) entityIdParse(v.get_ref<const std::string&>().c_str(), &id);
      auto it = order.find(id);
      if (id && it == order.end())
        fprintf(stderr, "warning: entity %s: field %s refers to %s, not on this map: written as no object\n",
                entityIdText(e.id).c_str(), f.name.c_str(), entityIdText(id).c_str());
      return {f.name, "object", it == order.end() ? -1 : it->second};
    }
    default: return byValue(f.name, v);  // booleans, text, choices and points as their values say
  }
}
}  // namespace

void planObjects(ExportPlan* p) {
  const MapEntities* me = entitiesOfConst(&p->map);
  if (!me || me->list.empty()) return;
  std::string why;
  if (entityModelsLoad(&why)) fprintf(stderr, "warning: %s\n", why.c_str());  // their instances go by value
  std::map<uint64_t, int> order;  // id -> index in p->objects
  for (size_t i = 0; i < me->list.size(); i++) order[me->list[i].id] = (int)i;
  for (const Entity& e : me->list) {
    OutObject o;
    o.cls = e.model;
    o.x = e.x, o.y = e.y;
    entitySize(e, &o.w, &o.h);
    o.props.push_back({ID_PROPERTY, "string", entityIdText(e.id)});
    const EntityModel* d = entityModelFind(e.model);
    std::set<std::string> written;
    for (size_t k = 0; d && k < d->fields.size(); k++) {
      const EntityField& f = d->fields[k];
      auto v = e.fields.find(f.name);
      json value = v != e.fields.end() ? *v : entityFieldDefault(f);
      o.props.push_back(entityValueRefusal(f, value) ? byValue(f.name, value) : byField(f, value, order, e));
      written.insert(f.name);
    }
    for (auto it = e.fields.begin(); it != e.fields.end(); ++it)  // a misfit's values its definition lacks
      if (!written.count(it.key())) o.props.push_back(byValue(it.key(), it.value()));
    p->objects.push_back(std::move(o));
  }
}

// [SECTION] lines
namespace {
struct Dropped {
  std::vector<std::string>* lines;
  size_t more = 0;  // past DROPPED_LINES_MAX
  void add(const InObject& o, const std::string& what) {
    if (lines->size() >= (size_t)DROPPED_LINES_MAX) {
      more++;
      return;
    }
    std::string who = "object " + std::to_string(o.id);
    if (!o.name.empty()) who += " '" + o.name.substr(0, ENTITY_NAME_MAX) + "'";
    lines->push_back(who + " (layer '" + o.layer.substr(0, ENTITY_NAME_MAX) + "'): " + what);
  }
  ~Dropped() {
    if (more) lines->push_back("and " + std::to_string(more) + " more");
  }
};

std::string quoted(const std::string& s) { return "'" + s.substr(0, ENTITY_TEXT_MAX) + "'"; }

std::string number(double v) {
  char s[32];
  snprintf(s, sizeof s, "%g", v);
  return s;
}

// [SECTION] values
// The field type a property's type becomes in a definition made by the import.
bool fieldOfType(const std::string& type, FieldType* t) {
  static const struct {
    const char* tiled;
    FieldType field;
  } kTypes[] = {{"", FIELD_TEXT},       {"string", FIELD_TEXT}, {"int", FIELD_INTEGER}, {"float", FIELD_NUMBER},
                {"bool", FIELD_BOOLEAN}, {"color", FIELD_COLOUR}, {"object", FIELD_REFERENCE}};
  for (const auto& k : kTypes)
    if (type == k.tiled) return *t = k.field, true;
  return false;
}

bool wholeNumber(const std::string& s, long long* v) {
  char* end;
  errno = 0;
  *v = strtoll(s.c_str(), &end, 10);
  return !s.empty() && !*end && !errno;
}

bool realNumber(const std::string& s, double* v) {
  char* end;
  *v = strtod(s.c_str(), &end);
  return !s.empty() && !*end && std::isfinite(*v);
}

// A property's value as field f holds it (null: the field's default);
// false with why.
bool valueOf(const EntityField& f, const InProperty& p, const std::map<long, uint64_t>& ids, json* out,
             std::string* why) {
  const std::string& t = p.type.empty() ? "string" : p.type;
  const std::string& s = p.value;
  bool text = t == "string";
  long long n;
  double d;
  json v;
  switch (f.type) {
    case FIELD_INTEGER:
      if (t == "int" && wholeNumber(s, &n)) v = (int64_t)n;
      else if (t == "float" && realNumber(s, &d) && d == floor(d) && fabs(d) < 1e15) v = (int64_t)d;
      break;
    case FIELD_NUMBER:
      if ((t == "int" || t == "float") && realNumber(s, &d)) v = d;
      break;
    case FIELD_BOOLEAN:
      if (t == "bool" && (s == "true" || s == "false")) v = s == "true";
      break;
    case FIELD_TEXT:
    case FIELD_CHOICE:
      if (text) v = s;
      break;
    case FIELD_COLOUR:
      if (t == "color" && s.empty()) return *out = nullptr, true;
      if (t == "color" && s.size() == 9 && strncasecmp(s.c_str() + 1, OPAQUE, 2) == 0) v = "#" + s.substr(3);
      else if (t == "color" && s.size() == 9) return *why = "a colour with transparency " + quoted(s), false;
      else if (t == "color") v = s;
      break;
    case FIELD_POINT: {
      long long x, y;
      int used = 0;
      if (text && sscanf(s.c_str(), "%lld,%lld%n", &x, &y, &used) == 2 && !s[used]) v = json::array({x, y});
      break;
    }
    case FIELD_REFERENCE:
      if (t != "object" || !wholeNumber(s, &n)) break;
      if (n == 0) return *out = nullptr, true;
      if (!ids.count((long)n)) return *why = "refers to object " + s + ", which is not imported", false;
      v = entityIdText(ids.at((long)n));
      break;
    default:
      break;
  }
  if (v.is_null()) return *why = "a " + t + " property " + quoted(s) + ", the field is " + fieldTypeName(f.type), false;
  if (const char* r = entityValueRefusal(f, v)) return *why = quoted(s) + ": " + r, false;
  *out = std::move(v);
  return true;
}

// [SECTION] import
struct Importer {
  std::vector<EntityModel>* made;
  Dropped dropped;
  std::map<long, uint64_t> ids;  // file object id -> instance id
  std::set<uint64_t> taken;

  // Cells of a definition made for a side of `px` pixels: 1 to ENTITY_SIZE_MAX.
  static int cells(double px) {
    return (int)lround(std::min(std::max(std::isfinite(px) ? px / TILE : 1, 1.0), (double)ENTITY_SIZE_MAX));
  }

  // The definition of class c: the project's, one made already, or a new one
  // sized after o; null (listed) when none may be made.
  const EntityModel* definition(const InObject& o) {
    if (const EntityModel* d = entityModelFind(o.cls)) return d;
    for (const EntityModel& m : *made)
      if (m.name == o.cls) return &m;
    char path[FILE_PATH_LEN];
    const char* refusal = entityNameRefusal(o.cls.c_str());
    if (refusal) return dropped.add(o, "class " + quoted(o.cls) + " is not a definition's name (" + refusal + "), not imported"), nullptr;
    if (!filePath(path, sizeof path, MODELS_DIR, o.cls.c_str(), MAPDATA_EXT))
      return dropped.add(o, "class " + quoted(o.cls) + " is too long a name, not imported"), nullptr;
    if (access(path, F_OK) == 0)
      return dropped.add(o, std::string(MODELS_DIR) + "/" + o.cls + ".json cannot be read, not imported"), nullptr;
    if (entityModels.list.size() + made->size() >= (size_t)ENTITY_MODELS_MAX)
      return dropped.add(o, "the project holds 1024 definitions, not imported"), nullptr;
    static_assert(ENTITY_MODELS_MAX == 1024, "the line above names the limit");
    EntityModel m;
    m.name = o.cls;
    m.w = cells(o.w);
    m.h = cells(o.h);
    made->push_back(m);
    return &made->back();
  }

  // A definition made here gains a field for each new property name.
  void addFields(const InObject& o, const EntityModel* d) {
    if (d < made->data() || d >= made->data() + made->size()) return;
    EntityModel* m = const_cast<EntityModel*>(d);
    for (const InProperty& p : o.props) {
      FieldType t;
      if (p.name == ID_PROPERTY || !fieldOfType(p.type, &t) || entityNameRefusal(p.name.c_str()) ||
          m->fields.size() >= (size_t)ENTITY_FIELDS_MAX)
        continue;  // listed when its value is taken
      bool known = false;
      for (const EntityField& f : m->fields) known |= f.name == p.name;
      if (known) continue;
      EntityField f;
      f.name = p.name;
      f.type = t;
      m->fields.push_back(f);
    }
  }

  // What of o is lost though o comes over: listed.
  void listLosses(const InObject& o, const EntityModel& d) {
    if (o.shape == SHAPE_ELLIPSE || o.shape == SHAPE_POINT) dropped.add(o, std::string(kShapeNames[o.shape]) + ", imported as a rectangle");
    if (o.rotation != 0) dropped.add(o, "its rotation of " + number(o.rotation) + " degrees is dropped");
    if (o.gid & GID_FLAGS) dropped.add(o, "its tile's flip is dropped");
    if (o.gid) dropped.add(o, "its tile picture is dropped (the definition's is drawn)");
    if (!o.name.empty() && o.name != o.cls) dropped.add(o, "its name " + quoted(o.name) + " is dropped");
    if (o.x != floor(o.x) || o.y != floor(o.y)) dropped.add(o, "its position is rounded to whole pixels");
    bool sized = o.shape != SHAPE_POINT && (o.w != 0 || o.h != 0);
    if (sized && (o.w != d.w * TILE || o.h != d.h * TILE))
      dropped.add(o, "its size " + number(o.w) + "x" + number(o.h) + " differs from " + d.name + "'s " +
                         std::to_string(d.w * TILE) + "x" + std::to_string(d.h * TILE) + ", which is kept");
  }

  // Whether a coordinate rounds to a pixel of some map (false for NaN).
  static bool onMaps(double v) { return floor(v + 0.5) >= 0 && floor(v + 0.5) < ENTITY_COORD_MAX; }
  static int32_t pixel(double v) { return (int32_t)floor(v + 0.5); }

  // Whether o can be an instance at all; listed when not.
  bool acceptable(const InObject& o) {
    const char* shapeLost = o.shape == SHAPE_POLYGON || o.shape == SHAPE_POLYLINE || o.shape == SHAPE_TEXT ? kShapeNames[o.shape] : nullptr;
    double top = o.gid ? o.y - o.h : o.y;  // a tile object stands on its bottom-left corner
    if (shapeLost) dropped.add(o, std::string(shapeLost) + ", not imported");
    else if (!o.templ.empty()) dropped.add(o, "made from the template " + quoted(o.templ) + ", not imported");
    else if (o.badNumber) dropped.add(o, "a position or size is not a number, not imported");
    else if (o.cls.empty()) dropped.add(o, "no class or type to name its definition, not imported");
    else if (!onMaps(o.x) || !onMaps(top)) dropped.add(o, "position off any map, not imported");
    else return true;
    return false;
  }

  // Our id from the moska_id property, else a new one.
  uint64_t idOf(const InObject& o) {
    for (const InProperty& p : o.props) {
      uint64_t id;
      if (p.name != ID_PROPERTY) continue;
      if (entityIdParse(p.value.c_str(), &id) && !taken.count(id)) return id;
      dropped.add(o, std::string(ID_PROPERTY) + " " + quoted(p.value) + " is not a free id: a new one given");
      break;
    }
    uint64_t id = entityNewId();
    while (id && taken.count(id)) id = entityNewId();
    return id;
  }

  void fields(const InObject& o, const EntityModel& d, Entity* e) {
    std::set<std::string> seen;
    for (const InProperty& p : o.props) {
      if (p.name == ID_PROPERTY) continue;
      auto f = std::find_if(d.fields.begin(), d.fields.end(), [&](const EntityField& x) { return x.name == p.name; });
      std::string why;
      json v;
      if (!seen.insert(p.name).second) why = "a second property of that name";
      else if (f == d.fields.end()) why = "not a field of " + d.name + (p.type == "class" || p.type == "file" ? " (no " + p.type + " fields here)" : "");
      else if (valueOf(*f, p, ids, &v, &why) && !v.is_null() && v != entityFieldDefault(*f)) e->fields[p.name] = v;
      if (!why.empty()) dropped.add(o, "property " + quoted(p.name) + ": " + why + ", dropped");
    }
  }
};
}  // namespace

bool planEntities(const InMap& in, Map* m, std::vector<EntityModel>* models, std::vector<std::string>* dropped,
                  std::string* error) {
  if (in.objects.empty()) return true;
  if (in.objects.size() > (size_t)ENTITY_INSTANCES_MAX) return objectRoom(in, error);
  std::string why;
  if (entityModelsLoad(&why)) fprintf(stderr, "warning: %s\n", why.c_str());
  models->reserve(ENTITY_MODELS_MAX);  // at most that many are made: they keep their addresses
  Importer im{models, Dropped{dropped}, {}, {}};
  // First the definitions and ids, so references to later objects resolve.
  std::vector<const EntityModel*> defs(in.objects.size());
  std::vector<uint64_t> chosen(in.objects.size());
  for (size_t i = 0; i < in.objects.size(); i++) {
    const InObject& o = in.objects[i];
    if (!im.acceptable(o) || !(defs[i] = im.definition(o))) continue;
    im.addFields(o, defs[i]);
    chosen[i] = im.idOf(o);
    if (!chosen[i]) return *error = "no random numbers for the entities' ids", false;
    im.taken.insert(chosen[i]);
    if (o.id && !im.ids.emplace(o.id, chosen[i]).second)  // 0: no id (Tiled before 0.11)
      im.dropped.add(o, "its id repeats an earlier object's; references go to the first");
  }
  for (size_t i = 0; i < in.objects.size(); i++) {
    const InObject& o = in.objects[i];
    if (!defs[i]) continue;
    Entity e;
    e.id = chosen[i];
    e.model = o.cls;
    e.x = Importer::pixel(o.x);
    e.y = Importer::pixel(o.gid ? o.y - o.h : o.y);
    im.listLosses(o, *defs[i]);
    im.fields(o, *defs[i], &e);
    const char* refused = nullptr;
    if (!entityPlace(m, e, &refused)) im.dropped.add(o, std::string(refused ? refused : "refused") + ", not imported");
  }
  return true;
}

bool storeModels(const std::vector<EntityModel>& models, std::string* error) {
  for (const EntityModel& m : models) {
    std::string why;
    if (!entityModelStore(m, &why)) return *error = "cannot write " + std::string(MODELS_DIR) + "/" + m.name + ".json: " + why, false;
  }
  return true;
}
