// The entities menu's definition column: New, Delete (asked twice, with the
// count of instances it removes), the chosen definition's name (typed: a
// rename its instances follow on every map), size, colour and tile (the
// brush's element), a new field's name and type; and, with no instance
// selected, the definition's fields: each with its type (a click changes it)
// and a button that removes it, and under them the default and the choices
// or range of the field clicked last.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor/entitypanel.h"
#include "net/entitynet.h"
#include "toolkit/widgets.h"

namespace entitypanel {
namespace {
void newModel() {
  EntityModel d;
  for (int n = 1; n < 1000; n++) {
    d.name = "Entity" + std::to_string(n);
    if (!entityModelFind(d.name)) break;
  }
  std::string why;
  if (!action_entityModel(d, &why)) return say(("New definition refused: " + why).c_str());
  st.chosen = d.name;
  say(("Definition " + d.name + " created.").c_str(), PANEL_INFO);
}

void deleteModel() {
  int n = entitiesCountModel(st.chosen);
  if (st.askedDelete != st.chosen) {
    st.askedDelete = st.chosen;
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Delete %.40s and its %d instance%s? Click Delete again.", st.chosen.c_str(), n,
             n == 1 ? "" : "s");
    return say(text, PANEL_WARNING);
  }
  std::string why;
  int removed = 0;
  st.askedDelete.clear();
  if (!action_entityModelDelete(st.chosen, &removed, &why)) return say(("Delete refused: " + why).c_str());
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "%.40s deleted with %d instance%s.", st.chosen.c_str(), removed, removed == 1 ? "" : "s");
  st.chosen = entityModels.list.empty() ? "" : entityModels.list[0].name;
  say(text, PANEL_INFO);
}

// The chosen definition's name; typing another renames it everywhere.
void renameField() {
  const EntityModel* d = entityModelFind(st.chosen);
  if (!d) return;
  st.name.follow(d->name, st.columnOf != d->name);
  textAreaNew(st.name.text, kNewX, kNameY, kNameW, ENTITY_NAME_MAX);
  if (!st.name.edited()) return;
  EntityModel c = *d;
  c.name = st.name.text;
  std::string why, from = d->name;
  int moved = 0;
  if (entityModelFind(c.name)) why = "a definition has that name";
  st.name.drop();
  if (!why.empty() || !action_entityModelRename(from, c, &moved, &why))
    return say(("Rename refused: " + why + ".").c_str());
  st.chosen = c.name;
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "%.30s renamed %.30s (%d instance%s).", from.c_str(), c.name.c_str(), moved,
           moved == 1 ? "" : "s");
  say(text, PANEL_INFO);
}

void sizeFields() {
  const EntityModel* d = entityModelFind(st.chosen);
  if (!d) return;
  bool fresh = st.columnOf != d->name;
  st.w.follow(std::to_string(d->w), fresh), st.h.follow(std::to_string(d->h), fresh);
  numberAreaNew(st.w.text, kNewX, kSizeY, 50, 4);
  numberAreaNew(st.h.text, kNewX + 60, kSizeY, 50, 4);
  int w = atoi(st.w.text), h = atoi(st.h.text);
  if ((w == d->w && h == d->h) || !textButton("Size", kNewX, kSizeY + 26, 110)) return;
  EntityModel c = *d;
  c.w = w, c.h = h;
  std::string why = "size 1..256 cells";
  st.w.drop(), st.h.drop();
  if (w < 1 || h < 1 || w > ENTITY_SIZE_MAX || h > ENTITY_SIZE_MAX || !action_entityModel(c, &why))
    return say(("Size refused: " + why).c_str());
  say("Size changed.", PANEL_INFO);
}

// A change of the chosen definition, sent; the panel says what happened.
void storeModel(const EntityModel& c, const std::string& done) {
  std::string why;
  if (!action_entityModel(c, &why)) return say(("Definition refused: " + why).c_str());
  say(done.c_str(), PANEL_INFO);
}

// "Tile" takes the brush's element of the current layer's tileset as the
// definition's picture; "No tile" goes back to the rectangle of its colour.
void tileButton(const EntityModel& d) {
  EntityModel c = d;
  if (!d.tileset.empty()) {
    c.tileset.clear(), c.element = 0;
    return storeModel(c, "No tile: drawn in its colour.");
  }
  Map* m = currentMapOrNull();
  Layer* l = currentLayerOrNull(m);
  if (!l || !l->layerGFX || !l->layerGFX[0])
    return say("Tile refused: open a map, pick a tile on a layer of its tileset (Map tab), then click Tile.");
  c.tileset = l->layerGFX, c.element = project.currentElement;
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "Tile %d of %.60s.", c.element, c.tileset.c_str());
  storeModel(c, text);
}

// The colour beside the size, and a new field's name, type and Add.
void definitionFields() {
  const EntityModel* d = entityModelFind(st.chosen);
  if (!d) return;
  char shown[8];
  snprintf(shown, sizeof shown, "#%06x", (unsigned)(d->colour & 0xFFFFFF));
  st.colour.follow(shown, st.columnOf != d->name);
  textAreaNew(st.colour.text, kNewX, kColourY, kColourW, 7);
  if (textButton(d->tileset.empty() ? "Tile" : "No tile", kTileX, kColourY, kTileW)) return tileButton(*d);
  if (st.colour.edited()) {
    unsigned rgb = 0;
    int used = 0;
    bool typed = sscanf(st.colour.text, "#%6x%n", &rgb, &used) == 1 && used == 7;
    st.colour.drop();
    if (!typed) return say("Colour refused: type #rrggbb.");
    EntityModel c = *d;
    c.colour = rgb;
    return storeModel(c, "Colour changed.");
  }
  textAreaNew(st.newField, kNewX, kAddY, 140, ENTITY_NAME_MAX);
  if (textButton(fieldTypeName(st.newType), kNewX, kAddTypeY, kTypeW)) {
    st.newType = (FieldType)((st.newType + 1) % FIELD_TYPES);
    setMenu("entities");
  }
  if (!textButton("Add field", kAddX, kAddTypeY, kAddW)) return;
  std::string name = st.newField;
  const char* why = entityNameRefusal(name.c_str());
  for (const EntityField& f : d->fields)
    if (f.name == name) why = "the definition has a field of that name";
  if (!why && d->fields.size() >= (size_t)ENTITY_FIELDS_MAX) why = "too many fields";
  if (why) return say(("Field refused: " + std::string(why) + ".").c_str());
  EntityModel c = *d;
  EntityField f;
  f.name = name, f.type = st.newType;
  if (f.type == FIELD_CHOICE) f.choices = {"a", "b"};  // a list to edit in the file
  c.fields.push_back(f);
  st.newField[0] = 0;
  storeModel(c, "Field " + name + " added.");
}

std::string joined(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& c : list) out += (out.empty() ? "" : ", ") + c;
  return out;
}

std::string rangeText(const EntityField& f) {
  if (!f.hasMin && !f.hasMax) return "";
  auto one = [](bool has, double v) { return has ? nlohmann::json(v).dump() : std::string("-"); };
  return one(f.hasMin, f.min) + " " + one(f.hasMax, f.max);
}

// "a, b, c" as a field's choices, or "min max" ("-" for no bound, empty for
// none) as its range; false with why.
bool takeList(EntityField* f, const char* text, std::string* why) {
  if (f->type == FIELD_CHOICE) {
    f->choices.clear();
    std::string t = text;
    for (size_t at = 0; at <= t.size();) {
      size_t comma = std::min(t.find(',', at), t.size());
      std::string c = t.substr(at, comma - at);
      c.erase(0, c.find_first_not_of(' '));
      c.erase(c.find_last_not_of(' ') + 1);
      if (!c.empty()) f->choices.push_back(c);
      at = comma + 1;
    }
    if (f->choices.empty()) return *why = "a choice field needs at least one choice", false;
    return true;
  }
  char lo[32] = "", hi[32] = "", extra[2] = "";
  int n = sscanf(text, "%31s %31s %1s", lo, hi, extra);
  if (n <= 0) return f->hasMin = f->hasMax = false, true;
  if (n != 2) return *why = "type the minimum and the maximum (- for none)", false;
  for (int i = 0; i < 2; i++) {
    const char* t = i ? hi : lo;
    bool* has = i ? &f->hasMax : &f->hasMin;
    double* v = i ? &f->max : &f->min;
    char* end = nullptr;
    *has = strcmp(t, "-") != 0;
    if (*has) *v = strtod(t, &end);
    if (*has && (end == t || *end)) return *why = std::string(t) + " is not a number", false;
  }
  if (f->hasMin && f->hasMax && f->min > f->max) return *why = "the minimum is above the maximum", false;
  return true;
}

// Under the rows, the field clicked last: its default, and its choices (a
// choice) or its range (a number). Each is taken when typed, checked by
// reading the definition back as its file would be read.
void fieldDetail(const EntityModel& d) {
  size_t i = 0;
  while (i < d.fields.size() && d.fields[i].name != st.field) i++;
  if (i == d.fields.size()) return;
  const EntityField& f = d.fields[i];
  bool listed = f.type == FIELD_CHOICE || f.type == FIELD_INTEGER || f.type == FIELD_NUMBER;
  std::string def = f.def.is_null() ? "" : entityValueText(f.def);
  std::string list = f.type == FIELD_CHOICE ? joined(f.choices) : rangeText(f);
  std::string key = d.name + "/" + f.name + "/" + fieldTypeName(f.type);
  st.def.follow(def, st.detailOf != key), st.list.follow(list, st.detailOf != key);
  st.detailOf = key;
  textAreaNew(st.def.text, kListX, kDetailY, kFieldW, ENTITY_NAME_MAX);
  if (listed) textAreaNew(st.list.text, kValueX, kDetailY, 175, kListText);
  if (!st.def.edited() && (!listed || !st.list.edited())) return;
  EntityModel c = d;
  EntityField& g = c.fields[i];
  std::string why;
  const char* refusal = nullptr;
  bool ok = !st.list.edited() || takeList(&g, st.list.text, &why);
  if (ok && st.def.edited()) {
    ok = !st.def.text[0] || entityValueParse(g, st.def.text, &g.def, &refusal);
    if (!st.def.text[0]) g.def = nullptr;  // the type's own
    if (!ok) why = refusal;
  } else if (ok && !g.def.is_null() && entityValueRefusal(g, g.def)) {
    g.def = nullptr;  // the old default is no longer a choice or in range
  }
  EntityModel checked;
  if (ok && !entityModelFromJson(entityModelToJson(c), &checked, &why)) ok = false;
  st.def.drop(), st.list.drop();
  if (!ok) return say(("Field " + f.name + " refused: " + why + ".").c_str());
  storeModel(checked, "Field " + f.name + " changed.");
}

// With no instance selected: the definition's fields, each with its type
// (a click gives the next type) and a button that removes it.
}  // namespace

void definitionFieldRows() {
  const EntityModel* d = entityModelFind(st.chosen);
  for (size_t i = 0; d && i < d->fields.size() && i < (size_t)kFieldRows; i++) {
    const EntityField& f = d->fields[i];
    int y = kFieldsY + (int)i * kRowH;
    if (textButton(((f.name == st.field ? "> " : "") + f.name).c_str(), kListX, y, kFieldW)) {
      st.field = f.name, st.detailOf.clear();
      say(("Under the fields: " + f.name + "'s default" +
           (f.type == FIELD_CHOICE ? ", then its choices (a, b, c)."
            : f.type == FIELD_INTEGER || f.type == FIELD_NUMBER ? ", then its range (min max, or empty)." : "."))
              .c_str(),
          PANEL_INFO);
      return;
    }
    if (textButton(fieldTypeName(f.type), kValueX, y, kTypeW)) {
      EntityModel c = *d;
      c.fields[i].type = (FieldType)((f.type + 1) % FIELD_TYPES);
      c.fields[i].def = nullptr;  // the old default may not fit the new type
      if (c.fields[i].type == FIELD_CHOICE && c.fields[i].choices.empty()) c.fields[i].choices = {"a", "b"};
      return storeModel(c, "Field " + f.name + " is now " + fieldTypeName(c.fields[i].type) + ".");
    }
    if (textButton("x", kValueX + kTypeW + 5, y, kRemoveW)) {
      EntityModel c = *d;
      c.fields.erase(c.fields.begin() + (long)i);
      return storeModel(c, "Field " + f.name + " removed (instances keep their values).");
    }
  }
  if (d) fieldDetail(*d);
}


void definitionColumn() {
  if (textButton("New", kNewX, kListY, kNewW)) newModel();
  if (!st.chosen.empty() && textButton("Delete", kDeleteX, kListY, kDeleteW)) deleteModel();
  renameField();
  sizeFields();
  definitionFields();
  if (const EntityModel* d = entityModelFind(st.chosen)) st.columnOf = d->name;
}
}  // namespace entitypanel
