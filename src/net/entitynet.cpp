// Entities on the wire, between editors that announced "ENTITIES":
//   ENTPLACE filename clock site {instance}
//   ENTMOVE filename id x y clock site
//   ENTFIELD filename id clock site field value   (value: JSON, null = the default)
//   ENTDEL filename id
//   ENTMODEL {definition}  /  ENTMODELDEL name
//   ENTMODELREN old clock site {definition under its new name}
// Every value of every instance takes the greatest (clock, site) that wrote
// it; a deletion wins over a concurrent move or field change (the instance's
// id stays deleted for the session). A base peer sees none of it; the join
// sync and the quiet check carry instances in the maps' sidecars.
#include "net/entitynet.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "net/handlers.h"
#include "net/net.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/syncstate.h"
#include "model/sidecarsection.h"

using nlohmann::json;

namespace {
const int ID_WORD = 17;  // 16 hex digits
const char* mapOf(const Map* m) { return m && m->filename ? m->filename : ""; }

void send(const char* header, const std::string& body) {
  if (!net) return;
  if (body.size() >= RECV_BUFFER) {
    printf("Action %s non envoyee: %zu octets (la verification de synchro la reparera).\n", header, body.size());
    return;
  }
  actionSendTo(EXT_ENTITIES, header, body.c_str());
  syncNoteActivity();
}

// A peer's clock taken as the Lamport rule says (a jump too far is not believed).
bool takeClock(unsigned long long c) {
  if (c >= syncState.lamport + CLOCK_JUMP_MAX) return false;
  if (c > syncState.lamport) syncState.lamport = c;
  return true;
}

json parsed(const char* text) {
  std::string why;
  json j;
  if (!sidecarParseValue(text, strlen(text), &j, &why)) return json::value_t::discarded;
  return j;
}

void malformed(const char* header) { printf("Action %s ignoree: corps mal forme.\n", header); }
}  // namespace

EntityStamp entityStampNext() { return EntityStamp{++syncState.lamport, siteId()}; }

bool action_entityPlace(Map* m, const Entity& e, const char** why) {
  if (!entityPlace(m, e, why)) return false;
  EntityStamp s = entityStampNext();
  send("ENTPLACE", std::string(mapOf(m)) + " " + std::to_string(s.clock) + " " + std::to_string(s.site) + " " +
                       sidecarValueText(entityToJson(e)));
  return true;
}

bool action_entityMove(Map* m, uint64_t id, int32_t x, int32_t y) {
  EntityStamp s = entityStampNext();
  if (!entityMove(m, id, x, y, s)) return false;
  char body[NAME_WORD + 96];
  snprintf(body, sizeof body, "%s %s %d %d %" PRIu64 " %" PRIu64, mapOf(m), entityIdText(id).c_str(), x, y, s.clock,
           s.site);
  send("ENTMOVE", body);
  return true;
}

bool action_entitySetField(Map* m, uint64_t id, const std::string& field, const json& v) {
  EntityStamp s = entityStampNext();
  if (!entitySetField(m, id, field, v, s)) return false;
  send("ENTFIELD", std::string(mapOf(m)) + " " + entityIdText(id) + " " + std::to_string(s.clock) + " " +
                       std::to_string(s.site) + " " + field + " " +
                       sidecarValueText(v));
  return true;
}

bool action_entityDelete(Map* m, uint64_t id) {
  if (!entityDelete(m, id)) return false;
  send("ENTDEL", std::string(mapOf(m)) + " " + entityIdText(id));
  return true;
}

bool action_entityModel(const EntityModel& d, std::string* why) {
  if (!entityModelStore(d, why)) return false;
  send("ENTMODEL", sidecarValueText(entityModelToJson(d)));
  return true;
}

bool action_entityModelDelete(const std::string& name, int* removed, std::string* why) {
  if (!entityModelRemove(name, why)) return false;
  int n = entitiesRemoveModel(name);
  if (removed) *removed = n;
  send("ENTMODELDEL", name);
  return true;
}

bool action_entityModelRename(const std::string& from, const EntityModel& to, int* moved, std::string* why) {
  EntityStamp s = entityStampNext();
  if (!entityModelRename(from, to, s, moved, why)) return false;
  send("ENTMODELREN", from + " " + std::to_string(s.clock) + " " + std::to_string(s.site) + " " +
                          sidecarValueText(entityModelToJson(to)));
  return true;
}

void onEntityPlace(const char* header, const char* corps, int) {
  char name[NAME_WORD];
  unsigned long long c = 0, site = 0;
  int used = 0;
  if (sscanf(corps, "%255s %llu %llu %n", name, &c, &site, &used) != 3 || !used) return malformed(header);
  json j = parsed(corps + used);
  Entity e;
  std::string why;
  if (j.is_discarded() || !entityFromJson(j, &e, &why) || !takeClock(c)) return malformed(header);
  e.moved = EntityStamp{c, site};
  int m = openMapNamed(header, name);
  if (m >= 0) entityPlace(openMapAt(m), e, nullptr);
}

void onEntityMove(const char* header, const char* corps, int) {
  char name[NAME_WORD], id[ID_WORD + 1];
  int x = 0, y = 0;
  unsigned long long c = 0, site = 0;
  uint64_t n = 0;
  if (sscanf(corps, "%255s %17s %d %d %llu %llu", name, id, &x, &y, &c, &site) != 6 || !entityIdParse(id, &n) ||
      !takeClock(c))
    return malformed(header);
  int m = openMapNamed(header, name);
  if (m >= 0) entityMove(openMapAt(m), n, x, y, EntityStamp{c, site});
}

void onEntityField(const char* header, const char* corps, int) {
  char name[NAME_WORD], id[ID_WORD + 1], field[ENTITY_NAME_MAX + 1];
  unsigned long long c = 0, site = 0;
  uint64_t n = 0;
  int used = 0;
  if (sscanf(corps, "%255s %17s %llu %llu %64s %n", name, id, &c, &site, field, &used) != 5 || !used ||
      !entityIdParse(id, &n) || !takeClock(c))
    return malformed(header);
  json v = parsed(corps + used);
  if (v.is_discarded()) return malformed(header);
  int m = openMapNamed(header, name);
  if (m >= 0) entitySetField(openMapAt(m), n, field, v, EntityStamp{c, site});
}

void onEntityDelete(const char* header, const char* corps, int) {
  char name[NAME_WORD], id[ID_WORD + 1];
  uint64_t n = 0;
  if (sscanf(corps, "%255s %17s", name, id) != 2 || !entityIdParse(id, &n)) return malformed(header);
  int m = openMapNamed(header, name);
  if (m >= 0) entityDelete(openMapAt(m), n);
}

void onEntityModel(const char* header, const char* corps, int) {
  EntityModel d;
  std::string why;
  if (!entityModelParse(corps, strlen(corps), &d, &why) || !entityModelStore(d, &why))
    printf("Action %s ignoree: %s.\n", header, why.c_str());
}

void onEntityModelDelete(const char* header, const char* corps, int) {
  std::string why;
  if (!entityModelRemove(corps, &why)) printf("Action %s ignoree: %s.\n", header, why.c_str());
  else entitiesRemoveModel(corps);
}

void onEntityModelRename(const char* header, const char* corps, int) {
  char from[ENTITY_NAME_MAX + 1];
  unsigned long long c = 0, site = 0;
  int used = 0;
  EntityModel d;
  std::string why;
  if (sscanf(corps, "%64s %llu %llu %n", from, &c, &site, &used) != 3 || !used || !takeClock(c) ||
      !entityModelParse(corps + used, strlen(corps + used), &d, &why))
    return malformed(header);
  int moved = 0;
  if (!entityModelRename(from, d, EntityStamp{c, site}, &moved, &why))
    printf("Action %s ignoree: %s.\n", header, why.c_str());
  else
    printf("Definition %s renommee en %s (%d instance%s).\n", from, d.name.c_str(), moved, moved == 1 ? "" : "s");
}
