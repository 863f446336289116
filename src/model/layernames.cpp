// Layer names and their sidecar section "layerNames": an array parallel to
// the layers, bottom-up, null for a layer that keeps its tileset's name, else
// {"name": ..., "tileset": ...}. In memory a name is on its Layer record, so
// it follows the layer through moves, additions and deletions by itself. The
// tileset tells whether an entry still belongs to the layer at its index: of
// a map whose layers changed elsewhere (an editor of the base protocol knows
// nothing of names), the names whose layers can still be found are kept.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "model/sidecar.h"
#include "model/sidecarsection.h"

using nlohmann::json;

static_assert(LAYER_NAME_MAX == 64, "the refusal below names the limit");

namespace {
const char KEY_NAME[] = "name";
const char KEY_TILESET[] = "tileset";

// Well-formed UTF-8: no stray continuation byte, no overlong form, no
// surrogate, nothing past U+10FFFF.
bool validUtf8(const unsigned char* s, size_t n) {
  for (size_t i = 0; i < n;) {
    unsigned c = s[i];
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (!len || i + len > n) return false;
    unsigned v = len == 1 ? c : c & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      v = v << 6 | (s[i + k] & 0x3F);
    }
    static const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

const char* tilesetOf(const Layer* l) { return l->layerGFX ? l->layerGFX : ""; }

// The name a layer keeps: null for the default (empty, or its tileset's).
void assign(Layer* l, const char* name) {
  free(l->name);
  l->name = nullptr;
  if (name[0] && strcmp(name, tilesetOf(l)) != 0) l->name = strdup(name);
}

bool checkNames(const Map* m, const json& v, std::string* why) {
  if (!v.is_array()) return *why = "layerNames is not an array", false;
  if (v.size() > MAX_LAYERS) return *why = "layerNames has more entries than a map has layers", false;
  char at[64];
  for (size_t i = 0; i < v.size(); i++) {
    const json& e = v[i];
    snprintf(at, sizeof at, "layerNames[%zu]", i);
    if (e.is_null()) continue;
    auto name = e.is_object() ? e.find(KEY_NAME) : e.end();
    auto tileset = e.is_object() ? e.find(KEY_TILESET) : e.end();
    if (!e.is_object() || name == e.end() || tileset == e.end() || !name->is_string() || !tileset->is_string())
      return *why = std::string(at) + " is neither null nor a name and a tileset", false;
    const std::string& n = name->get_ref<const std::string&>();
    const char* refusal = n.find('\0') != std::string::npos ? "it holds a control character" : layerNameRefusal(n.c_str());
    if (refusal) return *why = std::string(at) + ": " + refusal, false;
    const std::string& t = tileset->get_ref<const std::string&>();
    if (t.find('\0') != std::string::npos || !validName(t.c_str()))
      return *why = std::string(at) + ": not a tileset name", false;
  }
  return true;
}

void clearNames(Map* m) {
  for (int i = 0; i < m->layers; i++) assign(m->layer[i], "");
}

void takeNames(Map* m, const json& v) {
  clearNames(m);
  // The same count: each entry belongs to its index. Otherwise the layers
  // changed elsewhere: each name goes to the next layer up on its tileset.
  bool parallel = v.size() == m->layers;
  int next = 0;
  size_t dropped = 0;
  for (size_t i = 0; i < v.size(); i++) {
    if (v[i].is_null()) continue;
    const std::string& name = v[i][KEY_NAME].get_ref<const std::string&>();
    const std::string& tileset = v[i][KEY_TILESET].get_ref<const std::string&>();
    int at = -1;
    for (int k = parallel ? (int)i : next; k < m->layers && at < 0; k++) {
      if (tileset == tilesetOf(m->layer[k])) at = k;
      if (parallel) break;
    }
    if (at < 0) {
      dropped++;
      continue;
    }
    assign(m->layer[at], name.c_str());
    next = at + 1;
  }
  if (dropped)
    printf("Noms de layers de %s: %zu sans layer correspondant, ignores.\n", m->filename ? m->filename : "", dropped);
}

json writeNames(const Map* m) {
  bool any = false;
  for (int i = 0; i < m->layers && !any; i++) any = m->layer[i]->name != nullptr;
  if (!any) return nullptr;
  json names = json::array();
  for (int i = 0; i < m->layers; i++) {
    const Layer* l = m->layer[i];
    if (l->name)
      names.push_back({{KEY_NAME, l->name}, {KEY_TILESET, tilesetOf(l)}});
    else
      names.push_back(nullptr);
  }
  return names;
}
}  // namespace

const SidecarSection layerNamesSection = {"layerNames", checkNames, takeNames, clearNames, writeNames};

const char* layerName(const Layer* l) { return !l ? "" : l->name ? l->name : tilesetOf(l); }

const char* layerNameRefusal(const char* name) {
  size_t n = strlen(name);
  if (n > LAYER_NAME_MAX) return "longer than 64 bytes";
  for (size_t i = 0; i < n; i++)
    if ((unsigned char)name[i] < 0x20 || name[i] == 0x7F) return "it holds a control character";
  if (!validUtf8((const unsigned char*)name, n)) return "not UTF-8 text";
  return nullptr;
}

bool setLayerName(Map* m, int layer, const char* name) {
  const char* refusal = !m || layer < 0 || layer >= m->layers ? "layer inexistant" : layerNameRefusal(name);
  if (refusal) {
    printf("setLayerName(%s,%d) refuse: %s!\n", m && m->filename ? m->filename : "", layer, refusal);
    return false;
  }
  assign(m->layer[layer], name);
  m->dirty = true;
  printf("Map %s: layer %d nomme %s.\n", m->filename ? m->filename : "", layer, layerName(m->layer[layer]));
  return true;
}
