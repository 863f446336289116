// Renaming a definition. Its instances name it, on every map of the
// project: open maps are changed in memory (saved with them), closed maps
// in their sidecar files (checked whole, written crash-safe). Renames are
// stamped like every entity change: when two editors rename one definition
// at once, the greater stamp wins on both, and the loser's instances follow
// the winner's name. An instance that arrives later under an old name (a
// peer's placement, an undo) follows the renames too (entityModelNow).
#include <stdio.h>

#include "model/digest.h"
#include "model/entities.h"
#include "model/sidecar.h"
#include "model/sidecarsection.h"

using nlohmann::json;

namespace {
const int RENAME_HOPS_MAX = 16;  // a chain of renames followed this far (a loop ends there)

bool renamesFrom(const std::string& model, const std::vector<std::string>& from) {
  for (const std::string& f : from)
    if (model == f) return true;
  return false;
}

// The instances of a closed map's sidecar file renamed; how many.
int renameInFile(const std::string& map, const std::vector<std::string>& from, const std::string& to) {
  std::string text, why;
  json doc;
  if (!sidecarTextOf(map.c_str(), &text) || text.empty() || !sidecarParse(text.data(), text.size(), &doc, &why))
    return 0;
  auto list = doc.find(entitiesSection.key);
  if (list == doc.end() || !list->is_array()) return 0;
  int n = 0;
  for (json& e : *list)
    if (auto model = e.find("model"); model != e.end() && model->is_string() &&
                                      renamesFrom(model->get_ref<const std::string&>(), from))
      *model = to, n++;
  if (!n) return 0;
  std::string out = doc.dump(-1, ' ', false, json::error_handler_t::replace);
  char err[160];
  if (!sidecarTake(map.c_str(), out.data(), out.size(), err, sizeof err)) {
    printf("Renommage de %s dans la map fermee %s impossible: %s\n", to.c_str(), map.c_str(), err);
    return 0;
  }
  return n;
}
}  // namespace

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
  std::vector<std::string> names = {from};
  if (done != entityModels.renamed.end() && done->second.to != to.name) names.push_back(entityModelNow(from));
  if (!entityModelStore(to, why)) return false;
  for (const std::string& old : names) {
    std::string ignored;
    if (old != to.name && entityModelFind(old) && !entityModelRemove(old, &ignored))
      printf("Definition %s: l'ancien fichier reste (%s).\n", old.c_str(), ignored.c_str());
  }
  entityModels.renamed[from] = EntityRenamed{to.name, s};
  int n = 0;
  for (const std::string& map : projectMapNames()) {
    Map* m = openMapAt(getMap(map.c_str()));
    if (!m) {
      n += renameInFile(map, names, to.name);
      continue;
    }
    if (!m->entities) continue;
    for (Entity& e : m->entities->list)
      if (renamesFrom(e.model, names)) e.model = to.name, m->dirty = true, n++;
  }
  entitiesRecheck();
  if (moved) *moved = n;
  return true;
}
