// Three-way merge of per-map sidecars (sidecarmerge.h).
//
// [SECTION] index
//   values     the three-way rule on one JSON value, conflicts noted
//   reading    the three texts checked as the sidecar's sections check them
//   names      layer names by layer, merged along the map merge's layers
//   entities   instances by id, field by field
//   public     mergeSidecars, sidecarConflictText
#include "model/sidecarmerge.h"

#include <map>
#include <set>

#include "model/entities.h"
#include "model/sidecar.h"
#include "model/sidecarsection.h"

using nlohmann::json;

namespace {
// [SECTION] values
std::string shown(const json& v) {
  if (v.is_null()) return "-";  // absent
  std::string s = sidecarValueText(v);
  if (s.size() > SIDECAR_VALUE_SHOWN) s = s.substr(0, SIDECAR_VALUE_SHOWN) + "...";
  return s;
}

struct Merge {
  MergeSide winner;
  SidecarMergeReport* r;

  void note(const std::string& subject, const std::string& b, const std::string& o, const std::string& t) {
    r->total++;
    if (r->conflicts.size() < SIDECAR_CONFLICTS_LISTED) r->conflicts.push_back({subject, b, o, t});
  }

  // The three-way rule on one value (null: absent); a conflict is noted
  // under `subject`.
  const json& pick(const json& b, const json& o, const json& t, const std::string& subject) {
    if (o == b) return t;
    if (t == b || t == o) return o;
    note(subject, shown(b), shown(o), shown(t));
    return winner == MERGE_OURS ? o : t;
  }
};

const json NONE;  // a value absent

const json& member(const json& doc, const char* key) {
  auto it = doc.find(key);
  return it == doc.end() ? NONE : *it;
}

// [SECTION] reading
bool readSide(const std::string& text, const char* which, json* doc, std::string* why) {
  if (text.empty()) return *doc = json::object(), true;
  Map none;  // the checks need no layers
  std::string reason;
  bool ok = sidecarParse(text.data(), text.size(), doc, &reason);
  for (const SidecarSection* s : {&layerNamesSection, &entitiesSection}) {
    const json& v = ok ? member(*doc, s->key) : NONE;
    if (!v.is_null() && !s->check(&none, v, &reason)) ok = false;
  }
  if (!ok) *why = std::string(which) + ": " + reason;
  return ok;
}

// [SECTION] names
// The name of each layer ("" for its tileset's), from a "layerNames" value
// as the section takes it onto layers of these tilesets: by index when the
// counts agree, else each name on the next layer up with its tileset.
std::vector<std::string> namesOf(const json& v, const std::vector<std::string>& tilesets) {
  std::vector<std::string> names(tilesets.size());
  if (!v.is_array()) return names;
  bool parallel = v.size() == tilesets.size();
  size_t next = 0;
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i].is_null()) continue;
    const std::string& name = v[i]["name"].get_ref<const std::string&>();
    const std::string& tileset = v[i]["tileset"].get_ref<const std::string&>();
    for (size_t k = parallel ? i : next; k < tilesets.size(); k++) {
      if (tileset == tilesets[k]) {
        names[k] = name == tileset ? "" : name;
        next = k + 1;
        break;
      }
      if (parallel) break;
    }
  }
  return names;
}

json mergeNames(Merge& g, const json& b, const json& o, const json& t, const SidecarLayers& L) {
  std::vector<std::string> nb = namesOf(b, L.base), no = namesOf(o, L.ours), nt = namesOf(t, L.theirs);
  auto at = [](const std::vector<std::string>& v, int i) -> json {
    return i >= 0 && (size_t)i < v.size() && !v[i].empty() ? json(v[i]) : json();
  };
  json out = json::array();
  bool any = false;
  for (size_t k = 0; k < L.merged.size(); k++) {
    MergeLayerOrigin from = k < L.origins.size() ? L.origins[k] : MergeLayerOrigin{-1, -1, -1};
    json vb = at(nb, from.base), vo = at(no, from.ours), vt = at(nt, from.theirs);
    json name = from.ours >= 0 && from.theirs >= 0 ? g.pick(vb, vo, vt, "layer " + std::to_string(k) + " name")
                : from.ours >= 0                   ? vo
                                                   : vt;
    any = any || !name.is_null();
    out.push_back(name.is_null() ? json() : json{{"name", name}, {"tileset", L.merged[k]}});
  }
  return any ? out : json();
}

// [SECTION] entities
struct Instances {
  std::vector<std::string> order;
  std::map<std::string, const json*> byId;
};

Instances instancesOf(const json& v) {
  Instances in;
  if (v.is_array())
    for (const json& e : v) {
      const std::string& id = e["id"].get_ref<const std::string&>();
      in.order.push_back(id);
      in.byId[id] = &e;
    }
  return in;
}

const json* find(const Instances& in, const std::string& id) {
  auto it = in.byId.find(id);
  return it == in.byId.end() ? nullptr : it->second;
}

// One instance both copies hold (b null: added on both sides), value by value.
json mergeOne(Merge& g, const std::string& id, const json* b, const json& o, const json& t) {
  const json& base = b ? *b : NONE;
  std::string who = "entity " + id;
  json out = {{"id", id}};
  out["model"] = g.pick(member(base, "model"), o["model"], t["model"], who + " definition");
  auto pos = [](const json& e) { return e.is_null() ? json() : json::array({e["x"], e["y"]}); };
  json p = g.pick(pos(base), pos(o), pos(t), who + " position");
  out["x"] = p[0], out["y"] = p[1];
  const json &fb = member(base, "fields"), &fo = member(o, "fields"), &ft = member(t, "fields");
  std::set<std::string> keys;
  for (const json* f : {&fb, &fo, &ft})
    if (f->is_object())
      for (auto it = f->begin(); it != f->end(); ++it) keys.insert(it.key());
  json fields = json::object();
  for (const std::string& k : keys) {
    auto value = [&](const json& f) -> const json& { return f.is_object() ? member(f, k.c_str()) : NONE; };
    const json& v = g.pick(value(fb), value(fo), value(ft), who + " field " + k);
    if (!v.is_null()) fields[k] = v;
  }
  if (!fields.empty()) out["fields"] = fields;
  return out;
}

json mergeEntities(Merge& g, const json& b, const json& o, const json& t, std::string* why) {
  Instances ib = instancesOf(b), io = instancesOf(o), it = instancesOf(t);
  // Order: the side that changed its list keeps its order; otherwise ours',
  // then what theirs alone holds, in theirs' order.
  const Instances &first = o == b ? it : io, &second = o == b ? io : it;
  std::vector<std::string> ids = first.order;
  for (const std::string& id : second.order)
    if (!find(first, id)) ids.push_back(id);
  json out = json::array();
  for (const std::string& id : ids) {
    const json *eb = find(ib, id), *eo = find(io, id), *et = find(it, id);
    if (eo && et) {
      out.push_back(mergeOne(g, id, eb, *eo, *et));
    } else if (!eb) {
      out.push_back(eo ? *eo : *et);  // added on one side
    } else if (*(eo ? eo : et) != *eb) {
      // Deleted on one side, changed on the other: kept as changed.
      out.push_back(eo ? *eo : *et);
      g.note("entity " + id, "present", eo ? "changed" : "deleted", eo ? "deleted" : "changed");
    }
  }
  if (out.size() > ENTITY_INSTANCES_MAX) return *why = "more than 65536 entities once merged", json();
  return out.empty() ? json() : out;
}
}  // namespace

// [SECTION] public
bool mergeSidecars(const std::string& base, const std::string& ours, const std::string& theirs,
                   const SidecarLayers& layers, MergeSide winner, std::string* out, SidecarMergeReport* report,
                   std::string* why) {
  *report = SidecarMergeReport();
  out->clear();
  json b, o, t;
  if (!readSide(base, "base", &b, why) || !readSide(ours, "ours", &o, why) || !readSide(theirs, "theirs", &t, why))
    return false;
  Merge g = {winner, report};
  json doc = json::object();
  const char* names = layerNamesSection.key;
  const char* entities = entitiesSection.key;
  json v = mergeNames(g, member(b, names), member(o, names), member(t, names), layers);
  if (!v.is_null()) doc[names] = std::move(v);
  why->clear();
  v = mergeEntities(g, member(b, entities), member(o, entities), member(t, entities), why);
  if (!why->empty()) return false;
  if (!v.is_null()) doc[entities] = std::move(v);
  // Sections this editor does not know, each whole.
  std::set<std::string> keys;
  for (const json* d : {&b, &o, &t})
    for (auto it = d->begin(); it != d->end(); ++it)
      if (it.key() != names && it.key() != entities) keys.insert(it.key());
  for (const std::string& k : keys) {
    const json& kept = g.pick(member(b, k.c_str()), member(o, k.c_str()), member(t, k.c_str()), "section " + k);
    if (!kept.is_null()) doc[k] = kept;
  }
  if (!doc.empty()) *out = sidecarValueText(doc);
  return true;
}

std::string sidecarConflictText(const std::string& map, const SidecarConflict& c) {
  return map + " " + c.subject + ": base " + c.base + ", ours " + c.ours + ", theirs " + c.theirs;
}
