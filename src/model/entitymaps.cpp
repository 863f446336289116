// A definition's instances across every map of the project: renamed with
// it, removed with it, counted before that is asked. Open maps are changed
// in memory (saved with them), closed maps in their sidecar files (checked
// whole, written crash-safe), so a map nobody has open keeps no instance of
// a definition that is gone or renamed.
//
// Renames are stamped like every entity change: when two editors rename one
// definition at once, the greater stamp wins on both, and the loser's
// instances follow the winner's name. An instance that arrives later under
// an old name (a peer's placement, an undo) follows the renames too
// (entityModelNow).
#include <stdio.h>

#include <algorithm>

#include "model/digest.h"
#include "model/entities.h"
#include "model/sidecar.h"
#include "model/sidecarsection.h"

using nlohmann::json;

namespace {
const int RENAME_HOPS_MAX = 16;  // a chain of renames followed this far (a loop ends there)

bool among(const std::string& model, const std::vector<std::string>& names) {
  return std::find(names.begin(), names.end(), model) != names.end();
}

// What to do with the instances of `names` on every map: rename them to
// `to`, remove them ("" to), or only count them (write false).
struct Pass {
  std::vector<std::string> names;
  std::string to;
  bool write = true;
};

// A closed map's sidecar file; how many of its instances the pass found.
int passFile(const std::string& map, const Pass& p) {
  std::string text, why;
  json doc;
  if (!sidecarTextOf(map.c_str(), &text) || text.empty() || !sidecarParse(text.data(), text.size(), &doc, &why))
    return 0;
  auto list = doc.find(entitiesSection.key);
  if (list == doc.end() || !list->is_array()) return 0;
  auto hit = [&](const json& e) {
    auto model = e.find("model");
    return model != e.end() && model->is_string() && among(model->get_ref<const std::string&>(), p.names);
  };
  int n = (int)std::count_if(list->begin(), list->end(), hit);
  if (!n || !p.write) return n;
  if (p.to.empty()) {
    list->erase(std::remove_if(list->begin(), list->end(), hit), list->end());
    if (list->empty()) doc.erase(entitiesSection.key);
  } else {
    for (json& e : *list)
      if (hit(e)) e["model"] = p.to;
  }
  std::string out = doc.empty() ? "" : sidecarValueText(doc);
  char err[160];
  if (!sidecarTake(map.c_str(), out.data(), out.size(), err, sizeof err)) {
    printf("Entites de la map fermee %s non changees: %s\n", map.c_str(), err);
    return 0;
  }
  return n;
}

int passMaps(const Pass& p) {
  int n = 0;
  for (const std::string& name : projectMapNames()) {
    Map* m = openMapAt(getMap(name.c_str()));
    if (!m) {
      n += passFile(name, p);
      continue;
    }
    if (!m->entities) continue;
    auto& list = m->entities->list;
    for (Entity& e : list) {
      if (!among(e.model, p.names)) continue;
      n++;
      if (!p.write) continue;
      if (p.to.empty()) m->entities->deleted.insert(e.id);  // a late change of it is refused
      else e.model = p.to;
      m->dirty = true;
    }
    if (p.write && p.to.empty())
      list.erase(std::remove_if(list.begin(), list.end(), [&](const Entity& e) { return among(e.model, p.names); }),
                 list.end());
  }
  return n;
}
}  // namespace

int entitiesCountModel(const std::string& model) { return passMaps(Pass{{model}, "", false}); }

int entitiesRemoveModel(const std::string& model) { return passMaps(Pass{{model}, "", true}); }

std::string entityModelNow(const std::string& name) {
  std::string now = name;
  for (int hop = 0; hop < RENAME_HOPS_MAX; hop++) {
    auto it = entityModels.renamed.find(now);
    if (it == entityModels.renamed.end() || it->second.to == now) break;
    now = it->second.to;
  }
  return now;
}

bool entityModelRename(const std::string& from, const EntityModel& to, EntityStamp s, int* moved, std::string* why) {
  if (moved) *moved = 0;
  if (const char* refusal = entityNameRefusal(to.name.c_str())) return *why = refusal, false;
  if (to.name == from) return *why = "that is its name already", false;
  auto done = entityModels.renamed.find(from);
  if (done != entityModels.renamed.end() && s < done->second.stamp)
    return *why = "renamed to " + done->second.to + " by a later change", false;
  // The names its instances may carry: the old one, and what a losing
  // rename of it made of it here.
  Pass p{{from}, to.name, true};
  if (done != entityModels.renamed.end() && done->second.to != to.name) p.names.push_back(entityModelNow(from));
  if (!entityModelStore(to, why)) return false;
  for (const std::string& old : p.names) {
    std::string ignored;
    if (old != to.name && entityModelFind(old) && !entityModelRemove(old, &ignored))
      printf("Definition %s: l'ancien fichier reste (%s).\n", old.c_str(), ignored.c_str());
  }
  entityModels.renamed[from] = EntityRenamed{to.name, s};
  int n = passMaps(p);
  entitiesRecheck();
  if (moved) *moved = n;
  return true;
}
