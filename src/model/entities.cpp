// A map's instances: ids, the stamped changes and the sidecar section
// "entities": an array of {"id": "<16 hex>", "model": name, "x": px,
// "y": px, "fields": {name: value}}, in the order they were placed. An
// instance is kept whatever its definition says of it (misfits are marked);
// the file is broken only when an entry is not an instance at all (no id,
// a duplicate id, a path-like definition name, a position off any map).
//
// [SECTION] index
//   ids        entityNewId, entityIdText, entityIdParse
//   lookup     entitiesOf ... entitySize
//   changes    entityPlace ... entityRestore
//   section    the sidecar section's check, take, clear and write
#include <stdio.h>
#include <string.h>

#include <sodium.h>

#include <algorithm>

#include "model/entities.h"
#include "model/sidecar.h"
#include "model/sidecarsection.h"

using nlohmann::json;

// [SECTION] ids
uint64_t entityNewId() {
  static bool ready = sodium_init() >= 0;
  uint64_t id = 0;
  while (!id) {  // 0 is "none"
    if (ready) randombytes_buf(&id, sizeof id);
    else {
      FILE* f = fopen("/dev/urandom", "rb");
      if (!f || fread(&id, sizeof id, 1, f) != 1) id = 0;
      if (f) fclose(f);
      if (!id) return 0;
    }
  }
  return id;
}

std::string entityIdText(uint64_t id) {
  char t[17];
  snprintf(t, sizeof t, "%016llx", (unsigned long long)id);
  return t;
}

bool entityIdParse(const char* text, uint64_t* id) {
  if (strlen(text) != 16) return false;
  uint64_t v = 0;
  for (int i = 0; i < 16; i++) {
    char c = text[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;  // lower case: one text per id
    if (d < 0) return false;
    v = v << 4 | (uint64_t)d;
  }
  *id = v;
  return v != 0;
}

// [SECTION] lookup
MapEntities* entitiesOf(Map* m) {
  if (!m) return nullptr;
  if (!m->entities) m->entities = new (std::nothrow) MapEntities();
  return m->entities;
}

const MapEntities* entitiesOfConst(const Map* m) { return m ? m->entities : nullptr; }

namespace {
// The list is kept in id order: every copy writes the same sidecar and draws
// the same instance on top, whatever order the placements arrived in.
std::vector<Entity>::iterator byId(std::vector<Entity>& list, uint64_t id) {
  return std::lower_bound(list.begin(), list.end(), id, [](const Entity& e, uint64_t n) { return e.id < n; });
}
}  // namespace

Entity* entityFind(Map* m, uint64_t id) {
  if (!m || !m->entities) return nullptr;
  auto it = byId(m->entities->list, id);
  return it != m->entities->list.end() && it->id == id ? &*it : nullptr;
}

int entityCount(const Map* m, const std::string& model) {
  int n = 0;
  if (m && m->entities)
    for (const Entity& e : m->entities->list) n += e.model == model;
  return n;
}

bool entityMisfits(const Entity& e) {
  const EntityModel* d = entityModelFind(e.model);
  if (!d) return true;
  for (auto it = e.fields.begin(); it != e.fields.end(); ++it) {
    auto f = std::find_if(d->fields.begin(), d->fields.end(), [&](const EntityField& x) { return x.name == it.key(); });
    if (f == d->fields.end() || entityValueRefusal(*f, it.value())) return true;
  }
  return false;
}

void entitiesRecheck() {
  for (int i = 0; i < project.nbreMaps; i++)
    if (Map* m = openMapAt(i); m && m->entities)
      for (Entity& e : m->entities->list) e.misfit = entityMisfits(e);
}

void entitySize(const Entity& e, int* w, int* h) {
  const EntityModel* d = entityModelFind(e.model);
  *w = (d ? d->w : 1) * 16;
  *h = (d ? d->h : 1) * 16;
}

Entity* entityAt(Map* m, int32_t px, int32_t py) {
  if (!m || !m->entities) return nullptr;
  auto& list = m->entities->list;
  for (size_t i = list.size(); i-- > 0;) {
    int w, h;
    entitySize(list[i], &w, &h);
    if (px >= list[i].x && py >= list[i].y && px < list[i].x + w && py < list[i].y + h) return &list[i];
  }
  return nullptr;
}

// [SECTION] changes
namespace {
const char* mapName(const Map* m) { return m && m->filename ? m->filename : ""; }
bool inRange(int64_t v) { return v >= 0 && v < ENTITY_COORD_MAX; }
}  // namespace

bool entityPlace(Map* m, const Entity& given, const char** why) {
  Entity e = given;
  e.model = entityModelNow(given.model);  // a peer's or an undo's instance of a definition renamed since
  const char* refusal = nullptr;
  MapEntities* me = entitiesOf(m);
  const EntityModel* d = entityModelFind(e.model);
  if (!me) refusal = "no memory";
  else if (!e.id) refusal = "no id";
  else if (me->deleted.count(e.id)) refusal = "deleted meanwhile";
  else if (entityFind(m, e.id)) refusal = "that id is taken";
  else if (!inRange(e.x) || !inRange(e.y)) refusal = "off the map";
  else if (me->list.size() >= ENTITY_INSTANCES_MAX) refusal = "the map holds 65536 instances";
  else if (d && d->limit && entityCount(m, e.model) >= d->limit) refusal = "the definition's limit per map is reached";
  if (why) *why = refusal;
  if (refusal) {
    printf("Entite %s sur %s refusee: %s.\n", entityIdText(e.id).c_str(), mapName(m), refusal);
    return false;
  }
  auto at = me->list.insert(byId(me->list, e.id), e);
  at->misfit = entityMisfits(e);
  m->dirty = true;
  return true;
}
static_assert(ENTITY_INSTANCES_MAX == 65536, "the refusal above names the limit");

bool entityMove(Map* m, uint64_t id, int32_t x, int32_t y, EntityStamp s) {
  Entity* e = entityFind(m, id);
  if (!e) {
    if (m && m->entities && m->entities->deleted.count(id))
      printf("Entite %s de %s: deplacement ignore, supprimee entre-temps (la suppression l'emporte).\n",
             entityIdText(id).c_str(), mapName(m));
    return false;
  }
  if (!inRange(x) || !inRange(y) || s < e->moved) return false;
  e->x = x, e->y = y, e->moved = s;
  m->dirty = true;
  return true;
}

bool entitySetField(Map* m, uint64_t id, const std::string& field, const json& v, EntityStamp s) {
  Entity* e = entityFind(m, id);
  if (!e) {
    if (m && m->entities && m->entities->deleted.count(id))
      printf("Entite %s de %s: champ %s ignore, supprimee entre-temps (la suppression l'emporte).\n",
             entityIdText(id).c_str(), mapName(m), field.c_str());
    return false;
  }
  if (field.empty() || field.size() > ENTITY_NAME_MAX) return false;
  auto it = e->set.find(field);
  if (it != e->set.end() && s < it->second) return false;
  e->set[field] = s;
  if (v.is_null()) e->fields.erase(field);  // back to the default
  else e->fields[field] = v;
  e->misfit = entityMisfits(*e);
  m->dirty = true;
  return true;
}

bool entityDelete(Map* m, uint64_t id) {
  MapEntities* me = entitiesOf(m);
  if (!me) return false;
  me->deleted.insert(id);  // a deletion wins over any change of it still on its way
  auto it = byId(me->list, id);
  if (it == me->list.end() || it->id != id) return false;
  me->list.erase(it);
  m->dirty = true;
  return true;
}

bool entityRestore(Map* m, const Entity& e) {
  MapEntities* me = entitiesOf(m);
  if (!me) return false;
  me->deleted.erase(e.id);
  return entityPlace(m, e, nullptr);
}

void entitiesFree(Map* m) {
  delete m->entities;  // as freeMapRecord does
  m->entities = nullptr;
}

bool entitiesCopy(const Map* from, Map* to) {
  delete to->entities;
  to->entities = nullptr;
  if (!from->entities) return true;
  to->entities = new (std::nothrow) MapEntities(*from->entities);
  return to->entities != nullptr;
}

// [SECTION] section
namespace {
// Whether e is an instance at all (its definition may still be missing).
bool checkOne(const json& e, std::string* why) {
  if (!e.is_object()) return *why = "not an object", false;
  auto id = e.find("id"), model = e.find("model"), x = e.find("x"), y = e.find("y"), f = e.find("fields");
  uint64_t n;
  if (id == e.end() || !id->is_string() || !entityIdParse(id->get_ref<const std::string&>().c_str(), &n))
    return *why = "id is not 16 hex digits", false;
  if (model == e.end() || !model->is_string() || entityNameRefusal(model->get_ref<const std::string&>().c_str()))
    return *why = "not a definition's name", false;
  if (x == e.end() || y == e.end() || !x->is_number_integer() || !y->is_number_integer() ||
      !inRange(x->get<int64_t>()) || !inRange(y->get<int64_t>()))
    return *why = "position is not two pixels on a map", false;
  if (f != e.end() && !f->is_object()) return *why = "fields is not an object", false;
  if (f != e.end())
    for (auto it = f->begin(); it != f->end(); ++it)
      if (it.key().empty() || it.key().size() > ENTITY_NAME_MAX) return *why = "a field name is empty or too long", false;
  return true;
}

Entity fromChecked(const json& j) {
  Entity e;
  entityIdParse(j["id"].get_ref<const std::string&>().c_str(), &e.id);
  e.model = j["model"].get<std::string>();
  e.x = (int32_t)j["x"].get<int64_t>();
  e.y = (int32_t)j["y"].get<int64_t>();
  if (auto f = j.find("fields"); f != j.end()) e.fields = *f;
  e.misfit = entityMisfits(e);
  return e;
}

bool checkEntities(const Map*, const json& v, std::string* why) {
  if (!v.is_array()) return *why = "entities is not an array", false;
  if (v.size() > ENTITY_INSTANCES_MAX) return *why = "more than 65536 entities", false;
  std::vector<uint64_t> ids;
  ids.reserve(v.size());
  for (size_t i = 0; i < v.size(); i++) {
    if (!checkOne(v[i], why)) return *why = "entities[" + std::to_string(i) + "]: " + *why, false;
    entityIdParse(v[i]["id"].get_ref<const std::string&>().c_str(), &ids.emplace_back());
  }
  std::sort(ids.begin(), ids.end());
  if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) return *why = "two entities share an id", false;
  return true;
}

void clearEntities(Map* m) {
  if (m->entities) m->entities->list.clear();
}

void takeEntities(Map* m, const json& v) {
  MapEntities* me = entitiesOf(m);
  if (!me) return;
  me->list.clear();
  me->list.reserve(v.size());
  for (const json& j : v) me->list.push_back(fromChecked(j));
  std::sort(me->list.begin(), me->list.end(), [](const Entity& a, const Entity& b) { return a.id < b.id; });
}

json writeEntities(const Map* m) {
  if (!m->entities || m->entities->list.empty()) return nullptr;
  json a = json::array();
  for (const Entity& e : m->entities->list) a.push_back(entityToJson(e));
  return a;
}
}  // namespace

json entityToJson(const Entity& e) {
  json j = {{"id", entityIdText(e.id)}, {"model", e.model}, {"x", e.x}, {"y", e.y}};
  if (!e.fields.empty()) j["fields"] = e.fields;
  return j;
}

bool entityFromJson(const json& j, Entity* out, std::string* why) {
  if (!checkOne(j, why)) return false;
  *out = fromChecked(j);
  return true;
}

const SidecarSection entitiesSection = {"entities", checkEntities, takeEntities, clearEntities, writeEntities};
