// Entity definitions: one JSON file per definition, "models/<name>.json":
//   {"name": "Door", "size": [1, 2], "colour": "#e08020",
//    "tile": {"tileset": "default", "element": 12}, "limit": 0,
//    "fields": [{"name": "to", "type": "text", "default": ""},
//               {"name": "hp", "type": "integer", "min": 0, "max": 99}]}
// Read within bounds (sidecarParse); a broken file is reported and left
// where it is, never rewritten.
//
// [SECTION] index
//   types      the field types' table, values checked and typed
//   json       a definition from and to JSON
//   folder     the project's definitions: load, store, remove
#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "model/entities.h"
#include "model/sidecar.h"
#include "model/sidecarsection.h"

using nlohmann::json;

EntityModels entityModels;

// [SECTION] types
namespace {
const char* const kTypeNames[FIELD_TYPES] = {"integer", "number", "boolean", "text",
                                             "choice",  "colour", "point",   "reference"};
const char* const TEMP_SUFFIX = ".tmp";
const int FILE_INDENT = 1;
const double INTEGER_LIMIT = 9007199254740992.0;  // 2^53: integers a JSON reader elsewhere keeps exact

bool isColour(const std::string& s) {
  if (s.size() != 7 || s[0] != '#') return false;
  for (size_t i = 1; i < 7; i++)
    if (!isxdigit((unsigned char)s[i])) return false;
  return true;
}
}  // namespace

const char* fieldTypeName(FieldType t) { return t >= 0 && t < FIELD_TYPES ? kTypeNames[t] : "?"; }

bool fieldTypeOf(const char* name, FieldType* t) {
  for (int i = 0; i < FIELD_TYPES; i++)
    if (strcmp(name, kTypeNames[i]) == 0) return *t = (FieldType)i, true;
  return false;
}

const char* entityNameRefusal(const char* name) {
  if (!name[0]) return "empty";
  if (strlen(name) > ENTITY_NAME_MAX) return "longer than 64 bytes";
  if (const char* r = nameRefusal(name)) return r;  // it names a file
  return layerNameRefusal(name);
}

const char* entityValueRefusal(const EntityField& f, const json& v) {
  switch (f.type) {
    case FIELD_INTEGER:
    case FIELD_NUMBER: {
      if (!v.is_number()) return "not a number";
      double d = v.get<double>();
      if (!std::isfinite(d)) return "not a number";
      if (f.type == FIELD_INTEGER && (!v.is_number_integer() || fabs(d) > INTEGER_LIMIT)) return "not a whole number";
      if (f.hasMin && d < f.min) return "below the field's minimum";
      if (f.hasMax && d > f.max) return "above the field's maximum";
      return nullptr;
    }
    case FIELD_BOOLEAN:
      return v.is_boolean() ? nullptr : "not true or false";
    case FIELD_TEXT:
      if (!v.is_string()) return "not text";
      if (v.get_ref<const std::string&>().size() > ENTITY_TEXT_MAX) return "longer than 1024 bytes";
      return v.get_ref<const std::string&>().find('\0') == std::string::npos ? nullptr : "it holds a NUL";
    case FIELD_CHOICE:
      if (!v.is_string()) return "not one of the field's choices";
      return std::find(f.choices.begin(), f.choices.end(), v.get<std::string>()) != f.choices.end()
                 ? nullptr
                 : "not one of the field's choices";
    case FIELD_COLOUR:
      return v.is_string() && isColour(v.get<std::string>()) ? nullptr : "not a colour #rrggbb";
    case FIELD_POINT:
      return v.is_array() && v.size() == 2 && v[0].is_number_integer() && v[1].is_number_integer() &&
                     v[0].get<int64_t>() >= 0 && v[1].get<int64_t>() >= 0 && v[0].get<int64_t>() < ENTITY_COORD_MAX &&
                     v[1].get<int64_t>() < ENTITY_COORD_MAX
                 ? nullptr
                 : "not a point x y on the map";
    case FIELD_REFERENCE: {
      uint64_t id;
      return v.is_null() || (v.is_string() && entityIdParse(v.get<std::string>().c_str(), &id)) ? nullptr
                                                                                               : "not an entity id";
    }
    default:
      return "unknown type";
  }
}
static_assert(ENTITY_TEXT_MAX == 1024, "the refusal above names the limit");

json entityFieldDefault(const EntityField& f) {
  if (!f.def.is_null()) return f.def;
  switch (f.type) {
    case FIELD_INTEGER: return f.hasMin && f.min > 0 ? json((int64_t)ceil(f.min)) : json(0);
    case FIELD_NUMBER: return f.hasMin && f.min > 0 ? json(f.min) : json(0.0);
    case FIELD_BOOLEAN: return false;
    case FIELD_TEXT: return "";
    case FIELD_CHOICE: return f.choices.empty() ? json("") : json(f.choices[0]);
    case FIELD_COLOUR: return "#ffffff";
    case FIELD_POINT: return json::array({0, 0});
    default: return nullptr;
  }
}

bool entityValueParse(const EntityField& f, const char* text, json* out, const char** why) {
  std::string t = text;
  json v;
  char* end = nullptr;
  switch (f.type) {
    case FIELD_INTEGER: {
      errno = 0;
      long long n = strtoll(text, &end, 10);
      if (end == text || *end || errno) return *why = "not a whole number", false;
      v = (int64_t)n;
      break;
    }
    case FIELD_NUMBER: {
      double d = strtod(text, &end);
      if (end == text || *end) return *why = "not a number", false;
      v = d;
      break;
    }
    case FIELD_BOOLEAN:
      if (t == "true" || t == "1" || t == "yes") v = true;
      else if (t == "false" || t == "0" || t == "no") v = false;
      else return *why = "not true or false", false;
      break;
    case FIELD_POINT: {
      long long x, y;
      int used = 0;
      if (sscanf(text, "%lld %lld%n", &x, &y, &used) != 2 || text[used]) return *why = "not a point x y", false;
      v = json::array({x, y});
      break;
    }
    case FIELD_REFERENCE:
      v = t.empty() ? json(nullptr) : json(t);
      break;
    default:
      v = t;
  }
  if ((*why = entityValueRefusal(f, v))) return false;
  *out = std::move(v);
  return true;
}

std::string entityValueText(const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_array() && v.size() == 2) return v[0].dump() + " " + v[1].dump();
  if (v.is_null()) return "";
  return v.dump();
}

// [SECTION] json
namespace {
bool intIn(const json& j, int lo, int hi, int* out) {
  if (!j.is_number_integer()) return false;
  int64_t v = j.get<int64_t>();
  if (v < lo || v > hi) return false;
  *out = (int)v;
  return true;
}

bool fieldFromJson(const json& j, EntityField* f, std::string* why) {
  if (!j.is_object()) return *why = "a field is not an object", false;
  auto name = j.find("name"), type = j.find("type");
  if (name == j.end() || !name->is_string()) return *why = "a field has no name", false;
  f->name = name->get<std::string>();
  if (const char* r = entityNameRefusal(f->name.c_str())) return *why = "field name: " + std::string(r), false;
  if (type == j.end() || !type->is_string() || !fieldTypeOf(type->get_ref<const std::string&>().c_str(), &f->type))
    return *why = "field " + f->name + ": unknown type", false;
  if (auto c = j.find("choices"); c != j.end()) {
    if (!c->is_array() || c->size() > ENTITY_VALUES_MAX) return *why = "field " + f->name + ": bad choices", false;
    for (const json& v : *c) {
      if (!v.is_string() || v.get_ref<const std::string&>().size() > ENTITY_NAME_MAX)
        return *why = "field " + f->name + ": bad choices", false;
      f->choices.push_back(v.get<std::string>());
    }
  }
  if (f->type == FIELD_CHOICE && f->choices.empty()) return *why = "field " + f->name + ": no choices", false;
  for (const char* key : {"min", "max"}) {
    auto b = j.find(key);
    if (b == j.end() || b->is_null()) continue;
    if (!b->is_number() || !std::isfinite(b->get<double>()))
      return *why = "field " + f->name + ": " + key + " is not a number", false;
    (key[1] == 'i' ? f->hasMin : f->hasMax) = true;
    (key[1] == 'i' ? f->min : f->max) = b->get<double>();
  }
  if (f->hasMin && f->hasMax && f->min > f->max) return *why = "field " + f->name + ": min above max", false;
  if (auto d = j.find("default"); d != j.end() && !d->is_null()) {
    if (entityValueRefusal(*f, *d)) return *why = "field " + f->name + ": default does not fit", false;
    f->def = *d;
  }
  return true;
}
}  // namespace

bool entityModelFromJson(const json& j, EntityModel* out, std::string* why) {
  EntityModel m;
  if (!j.is_object()) return *why = "not a JSON object", false;
  auto name = j.find("name");
  if (name == j.end() || !name->is_string()) return *why = "no name", false;
  m.name = name->get<std::string>();
  if (const char* r = entityNameRefusal(m.name.c_str())) return *why = "name: " + std::string(r), false;
  if (auto s = j.find("size"); s != j.end()) {
    if (!s->is_array() || s->size() != 2 || !intIn((*s)[0], 1, ENTITY_SIZE_MAX, &m.w) ||
        !intIn((*s)[1], 1, ENTITY_SIZE_MAX, &m.h))
      return *why = "size is not two numbers of cells 1..256", false;
  }
  if (auto c = j.find("colour"); c != j.end()) {
    if (!c->is_string() || !isColour(c->get<std::string>())) return *why = "colour is not #rrggbb", false;
    m.colour = (uint32_t)strtoul(c->get<std::string>().c_str() + 1, nullptr, 16);
  }
  if (auto t = j.find("tile"); t != j.end() && !t->is_null()) {
    auto ts = t->is_object() ? t->find("tileset") : j.end();
    if (!t->is_object() || ts == t->end() || !ts->is_string() || !validName(ts->get<std::string>().c_str()) ||
        !intIn(t->value("element", json(0)), 0, INT32_MAX, &m.element))
      return *why = "tile is not a tileset name and an element", false;
    m.tileset = ts->get<std::string>();
  }
  if (auto l = j.find("limit"); l != j.end() && !l->is_null() && !intIn(*l, 0, ENTITY_INSTANCES_MAX, &m.limit))
    return *why = "limit is not a count", false;
  if (auto f = j.find("fields"); f != j.end()) {
    if (!f->is_array() || f->size() > ENTITY_FIELDS_MAX) return *why = "fields is not a list of at most 64", false;
    for (const json& fj : *f) {
      EntityField field;
      if (!fieldFromJson(fj, &field, why)) return false;
      for (const EntityField& o : m.fields)
        if (o.name == field.name) return *why = "two fields named " + o.name, false;
      m.fields.push_back(std::move(field));
    }
  }
  *out = std::move(m);
  return true;
}
static_assert(ENTITY_SIZE_MAX == 256 && ENTITY_FIELDS_MAX == 64, "the refusals above name the limits");

json entityModelToJson(const EntityModel& m) {
  char colour[8];
  snprintf(colour, sizeof colour, "#%06x", m.colour & 0xFFFFFF);
  json j = {{"name", m.name}, {"size", {m.w, m.h}}, {"colour", colour}};
  if (!m.tileset.empty()) j["tile"] = {{"tileset", m.tileset}, {"element", m.element}};
  if (m.limit) j["limit"] = m.limit;
  json fields = json::array();
  for (const EntityField& f : m.fields) {
    json fj = {{"name", f.name}, {"type", fieldTypeName(f.type)}};
    if (!f.def.is_null()) fj["default"] = f.def;
    if (!f.choices.empty()) fj["choices"] = f.choices;
    if (f.hasMin) fj["min"] = f.min;
    if (f.hasMax) fj["max"] = f.max;
    fields.push_back(std::move(fj));
  }
  j["fields"] = std::move(fields);
  return j;
}

bool entityModelParse(const char* text, size_t n, EntityModel* out, std::string* why) {
  if (n > ENTITY_MODEL_FILE_MAX) return *why = "larger than 256 KiB", false;
  json j;
  return sidecarParse(text, n, &j, why) && entityModelFromJson(j, out, why);
}

// [SECTION] folder
namespace {
bool modelPath(const std::string& name, char* path, size_t cap) {
  return !entityNameRefusal(name.c_str()) && filePath(path, cap, MODELS_DIR, name.c_str(), MAPDATA_EXT);
}

void keep(const EntityModel& m) {
  auto& list = entityModels.list;
  auto it = std::lower_bound(list.begin(), list.end(), m.name,
                             [](const EntityModel& a, const std::string& n) { return a.name < n; });
  if (it != list.end() && it->name == m.name) *it = m;
  else list.insert(it, m);
}
}  // namespace

int entityModelsLoad(std::string* why) {
  entityModels.list.clear();
  entityModels.renamed.clear();
  char dirPath[FILE_PATH_LEN];
  if (!filePath(dirPath, sizeof dirPath, MODELS_DIR, "x", MAPDATA_EXT)) return 0;
  *strrchr(dirPath, '/') = 0;
  DIR* d = opendir(dirPath);
  if (!d) return 0;
  int broken = 0;
  const size_t extLen = strlen(MAPDATA_EXT) + 1;
  while (struct dirent* e = readdir(d)) {
    size_t n = strlen(e->d_name);
    if (n <= extLen || strcmp(e->d_name + n - extLen + 1, MAPDATA_EXT) != 0 || e->d_name[n - extLen] != '.') continue;
    std::string name(e->d_name, n - extLen), reason;
    if (entityModels.list.size() >= ENTITY_MODELS_MAX) {
      reason = "more than 1024 definitions";
    } else {
      char path[FILE_PATH_LEN];
      std::string text;
      FILE* f = modelPath(name, path, sizeof path) ? fopen(path, "rb") : nullptr;
      struct stat st;
      EntityModel m;
      if (!f) reason = "not a definition's name";
      else if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > ENTITY_MODEL_FILE_MAX) reason = "not a file of at most 256 KiB";
      else {
        text.resize((size_t)st.st_size);
        if (fread(&text[0], 1, text.size(), f) != text.size()) reason = "unreadable";
        else if (entityModelParse(text.data(), text.size(), &m, &reason) && m.name != name) reason = "its name is not its file's";
        else if (reason.empty()) keep(m);
      }
      if (f) fclose(f);
    }
    if (!reason.empty()) {
      broken++;
      printf("Modele %s ignore: %s.\n", e->d_name, reason.c_str());
      if (why) *why += std::string(why->empty() ? "" : "; ") + MODELS_DIR + "/" + e->d_name + ": " + reason;
    }
  }
  closedir(d);
  entitiesRecheck();
  return broken;
}

const EntityModel* entityModelFind(const std::string& name) {
  auto& list = entityModels.list;
  auto it = std::lower_bound(list.begin(), list.end(), name,
                             [](const EntityModel& a, const std::string& n) { return a.name < n; });
  return it != list.end() && it->name == name ? &*it : nullptr;
}

bool entityModelStore(const EntityModel& m, std::string* why) {
  char path[FILE_PATH_LEN], temp[FILE_PATH_LEN + 8], dir[FILE_PATH_LEN];
  if (!modelPath(m.name, path, sizeof path)) return *why = "bad definition name", false;
  snprintf(dir, sizeof dir, "%s", path);
  if (char* slash = strrchr(dir, '/')) *slash = 0;
  if (mkdir(dir, 0777) != 0 && errno != EEXIST) return *why = strerror(errno), false;
  FILE* f = replacingOpen(path, TEMP_SUFFIX, temp, sizeof temp);
  if (!f) return *why = strerror(errno), false;
  std::string text = entityModelToJson(m).dump(FILE_INDENT, ' ', false, json::error_handler_t::replace) + "\n";
  int err = 0;
  if (!replacingCommit(f, temp, path, fwrite(text.data(), 1, text.size(), f) == text.size(), &err))
    return *why = strerror(err), false;
  keep(m);
  entitiesRecheck();
  return true;
}

bool entityModelRemove(const std::string& name, std::string* why) {
  char path[FILE_PATH_LEN];
  if (!modelPath(name, path, sizeof path)) return *why = "bad definition name", false;
  if (unlink(path) != 0 && errno != ENOENT) return *why = strerror(errno), false;
  auto& list = entityModels.list;
  list.erase(std::remove_if(list.begin(), list.end(), [&](const EntityModel& m) { return m.name == name; }),
             list.end());
  entitiesRecheck();
  return true;
}
