// The "entities" menu: the definitions list (the selected one is placed),
// New / Delete (asked twice, with the count of instances it removes), the
// selected definition's size, and the selected instance's fields; on the map
// a click places (Shift: at the exact pixel) or selects, a drag moves, Delete
// removes, Escape lets it go. The definition's colour is typed beside its
// size, and a field is added with a name and a type; with no instance
// selected the rows below list the definition's fields, each with its type
// (a click changes it) and a button that removes it. A point or reference field is set on the map: a click on its
// name, then on the point (Shift: the exact pixel) or on the instance it
// refers to; Escape gives up. Every instance change is one undo step
// (STEP_ENTITY).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "editor/editor.h"
#include "editor/zoom.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/entities.h"
#include "net/entitynet.h"
#include "platform/os.h"
#include "toolkit/widgets.h"

namespace {
const int kListX = 10, kListY = 40, kRowH = 22, kListW = 140, kListRows = 8;
const int kNewX = 170, kDeleteX = 170, kDeleteY = 70, kSizeY = 100, kFieldsY = 240, kFieldW = 120;
const int kValueX = 140, kFieldRows = 7;
const int kColourY = 152, kAddY = 178, kAddTypeY = 204, kTypeW = 70, kRemoveW = 30;

struct PanelState {
  std::string chosen;        // the definition to place
  uint64_t selected = 0;     // the selected instance of the current map
  std::string askedDelete;   // a definition whose deletion waits for a second click
  bool dragging = false;
  int32_t dragX = 0, dragY = 0, grabDX = 0, grabDY = 0;
  std::string dragBefore;
  bool wasDown = false;
  char w[8] = "", h[8] = "";
  std::string sizeOf;
  char values[kFieldRows][ENTITY_TEXT_MAX + 1] = {};
  uint64_t valuesOf = 0;
  char colour[8] = "";        // "#rrggbb" as typed
  std::string colourOf;      // the definition the colour field shows
  char newField[ENTITY_NAME_MAX + 1] = "";
  FieldType newType = FIELD_INTEGER;
  std::string picking;       // a point or reference field waiting for its click on the map
  uint64_t pickingOf = 0;    // the instance whose field it is
} st;

std::string textOf(const Entity* e) { return e ? entityToJson(*e).dump() : ""; }

void say(const char* text, PanelKind kind = PANEL_ERROR) {
  setPanelMessage("entities", text, kind);
  setMenu("entities");
}

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
  int n = 0;
  for (int i = 0; i < project.nbreMaps; i++) n += entityCount(openMapAt(i), st.chosen);
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

void sizeFields() {
  const EntityModel* d = entityModelFind(st.chosen);
  if (!d) return;
  if (st.sizeOf != d->name) {
    snprintf(st.w, sizeof st.w, "%d", d->w), snprintf(st.h, sizeof st.h, "%d", d->h);
    st.sizeOf = d->name;
  }
  numberAreaNew(st.w, kNewX, kSizeY, 50, 4);
  numberAreaNew(st.h, kNewX + 60, kSizeY, 50, 4);
  int w = atoi(st.w), h = atoi(st.h);
  if ((w == d->w && h == d->h) || !textButton("Size", kNewX, kSizeY + 26, 110)) return;
  EntityModel c = *d;
  c.w = w, c.h = h;
  std::string why = "size 1..256 cells";
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

// The colour beside the size, and a new field's name, type and Add.
void definitionFields() {
  const EntityModel* d = entityModelFind(st.chosen);
  if (!d) return;
  if (st.colourOf != d->name) {
    snprintf(st.colour, sizeof st.colour, "#%06x", (unsigned)(d->colour & 0xFFFFFF));
    st.colourOf = d->name;
  }
  textAreaNew(st.colour, kNewX, kColourY, 80, 7);
  char shown[8];
  snprintf(shown, sizeof shown, "#%06x", (unsigned)(d->colour & 0xFFFFFF));
  if (strcmp(shown, st.colour) != 0) {
    unsigned rgb = 0;
    int used = 0;
    if (sscanf(st.colour, "#%6x%n", &rgb, &used) != 1 || used != 7) {
      snprintf(st.colour, sizeof st.colour, "%s", shown);
      return say("Colour refused: type #rrggbb.");
    }
    EntityModel c = *d;
    c.colour = rgb;
    return storeModel(c, "Colour changed.");
  }
  textAreaNew(st.newField, kNewX, kAddY, 140, ENTITY_NAME_MAX);
  if (textButton(fieldTypeName(st.newType), kNewX, kAddTypeY, kTypeW)) {
    st.newType = (FieldType)((st.newType + 1) % FIELD_TYPES);
    setMenu("entities");
  }
  if (!textButton("Add field", kNewX + kTypeW + 5, kAddTypeY, 65)) return;
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

// With no instance selected: the definition's fields, each with its type
// (a click gives the next type) and a button that removes it.
void definitionFieldRows() {
  const EntityModel* d = entityModelFind(st.chosen);
  for (size_t i = 0; d && i < d->fields.size() && i < (size_t)kFieldRows; i++) {
    const EntityField& f = d->fields[i];
    int y = kFieldsY + (int)i * kRowH;
    textButton(f.name.c_str(), kListX, y, kFieldW);
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
}

void fieldEditors(Map* m) {
  Entity* e = entityFind(m, st.selected);
  const EntityModel* d = e ? entityModelFind(e->model) : nullptr;
  if (!e) return definitionFieldRows();
  if (!d) return;
  bool fresh = st.valuesOf != e->id;
  for (size_t i = 0; i < d->fields.size() && i < (size_t)kFieldRows; i++) {
    const EntityField& f = d->fields[i];
    auto v = e->fields.find(f.name);
    std::string shown = entityValueText(v != e->fields.end() ? *v : entityFieldDefault(f));
    if (fresh) snprintf(st.values[i], sizeof st.values[i], "%s", shown.c_str());
    int y = kFieldsY + (int)i * kRowH;
    bool onMap = f.type == FIELD_POINT || f.type == FIELD_REFERENCE;
    if (textButton(f.name.c_str(), kListX, y, kFieldW) && onMap) {
      st.picking = f.name, st.pickingOf = e->id;
      std::string text = "Click " + std::string(f.type == FIELD_POINT ? "the point" : "the instance") + " for " +
                         f.name + " on the map (Escape: no change).";
      return say(text.c_str(), PANEL_INFO);
    }
    textAreaNew(st.values[i], kValueX, y, 170, ENTITY_NAME_MAX);
    if (shown == st.values[i]) continue;
    nlohmann::json value;
    const char* why = nullptr;
    if (!entityValueParse(f, st.values[i], &value, &why)) {
      snprintf(st.values[i], sizeof st.values[i], "%s", shown.c_str());
      char text[PANEL_MESSAGE_LEN];
      snprintf(text, sizeof text, "%.30s refused: %.80s.", f.name.c_str(), why);
      return say(text);
    }
    std::string before = textOf(e);
    if (action_entitySetField(m, e->id, f.name, value)) historyEntity(m, "entity field", before, textOf(entityFind(m, e->id)));
    setMenu("entities");
  }
  st.valuesOf = e->id;
}

// The click that sets the field being picked: a point (the cell's corner,
// Shift: the pixel), or the instance under the pointer. One undo step.
void pickOnMap(Map* m, int32_t px, int32_t py, bool exact) {
  Entity* e = entityFind(m, st.pickingOf);
  const EntityModel* d = e ? entityModelFind(e->model) : nullptr;
  const EntityField* f = nullptr;
  for (size_t i = 0; d && i < d->fields.size() && !f; i++)
    if (d->fields[i].name == st.picking) f = &d->fields[i];
  std::string field = st.picking;
  st.picking.clear();
  if (!f) return say(("The field " + field + " is gone: nothing set.").c_str());
  nlohmann::json value;
  if (f->type == FIELD_POINT) {
    value = nlohmann::json::array({exact ? px : px / TILE * TILE, exact ? py : py / TILE * TILE});
  } else {
    Entity* to = entityAt(m, px, py);
    if (!to || to->id == e->id) return say(("No other instance there: " + field + " not set.").c_str());
    value = entityIdText(to->id);
  }
  const char* why = entityValueRefusal(*f, value);
  std::string before = textOf(e);
  if (why || !action_entitySetField(m, e->id, f->name, value))
    return say((field + " refused: " + (why ? why : "not set") + ".").c_str());
  historyEntity(m, "entity field", before, textOf(entityFind(m, e->id)));
  st.valuesOf = 0;  // the panel shows the new value
  say((field + " set.").c_str(), PANEL_INFO);
}

// Makes the instance of m match `to` (absent: removed), sending each change.
bool applyState(Map* m, const std::string& from, const std::string& to) {
  Entity want;
  std::string why;
  nlohmann::json j = nlohmann::json::parse(to.empty() ? from : to, nullptr, false);
  if (j.is_discarded() || !entityFromJson(j, &want, &why)) return false;
  if (to.empty()) return action_entityDelete(m, want.id);
  Entity* have = entityFind(m, want.id);
  if (!have) {
    if (MapEntities* me = entitiesOf(m)) me->deleted.erase(want.id);
    return action_entityPlace(m, want, nullptr);
  }
  if (have->x != want.x || have->y != want.y) action_entityMove(m, want.id, want.x, want.y);
  nlohmann::json old = have->fields;
  for (auto it = want.fields.begin(); it != want.fields.end(); ++it)
    if (!old.contains(it.key()) || old[it.key()] != it.value()) action_entitySetField(m, want.id, it.key(), it.value());
  for (auto it = old.begin(); it != old.end(); ++it)
    if (!want.fields.contains(it.key())) action_entitySetField(m, want.id, it.key(), nullptr);
  st.valuesOf = 0;
  return true;
}
}  // namespace

void entitiesMenuCommands() {
  if (!entityStepHook) entityStepHook = applyState;
  if (st.chosen.empty() || !entityModelFind(st.chosen))
    st.chosen = entityModels.list.empty() ? "" : entityModels.list[0].name;
  int row = 0;
  for (const EntityModel& d : entityModels.list) {
    if (row >= kListRows) break;
    std::string label = (d.name == st.chosen ? "> " : "  ") + d.name;
    if (textButton(label.c_str(), kListX, kListY + row++ * kRowH, kListW)) {
      st.chosen = d.name;
      setMenu("entities");
    }
  }
  if (textButton("New", kNewX, kListY, 110)) newModel();
  if (!st.chosen.empty() && textButton("Delete", kDeleteX, kDeleteY, 110)) deleteModel();
  sizeFields();
  definitionFields();
  if (Map* m = currentMapOrNull()) fieldEditors(m);
  else definitionFieldRows();
}

bool entitiesMapStep() {
  if (strcmp(project.currentMenu, "entities") != 0) return false;
  Map* m = currentMapOrNull();
  bool down = leftClic && mouseX > PANEL_WIDTH;
  if (!m) return true;
  int64_t mapX, mapY;
  viewToMapPixel(mouseX, mouseY, &mapX, &mapY);
  int32_t px = (int32_t)(mapX > INT32_MAX ? INT32_MAX : mapX), py = (int32_t)(mapY > INT32_MAX ? INT32_MAX : mapY);
  bool exact = inputShiftHeld();  // the pixel, not the cell
  if (down && !st.wasDown && !st.picking.empty()) {
    pickOnMap(m, px, py, exact);
  } else if (down && !st.wasDown) {
    if (Entity* e = entityAt(m, px, py)) {
      st.selected = e->id, st.dragging = true, st.dragBefore = textOf(e);
      st.grabDX = px - e->x, st.grabDY = py - e->y;
      setMenu("entities");
    } else if (!st.chosen.empty()) {
      Entity e;
      e.id = entityNewId();
      e.model = st.chosen;
      e.x = exact ? px : px / TILE * TILE, e.y = exact ? py : py / TILE * TILE;
      const char* why = nullptr;
      if (action_entityPlace(m, e, &why)) {
        historyEntity(m, "place entity", "", textOf(entityFind(m, e.id)));
        st.selected = e.id;
        setMenu("entities");
      } else {
        say((std::string("Placing refused: ") + (why ? why : "")).c_str());
      }
    }
  } else if (down && st.dragging) {
    Entity* e = entityFind(m, st.selected);
    int32_t x = (px - st.grabDX) / TILE * TILE, y = (py - st.grabDY) / TILE * TILE;
    if (exact) x = px - st.grabDX, y = py - st.grabDY;
    if (e && x >= 0 && y >= 0 && (x != e->x || y != e->y)) action_entityMove(m, e->id, x, y);
  } else if (!down && st.dragging) {
    st.dragging = false;
    std::string after = textOf(entityFind(m, st.selected));
    if (!after.empty() && after != st.dragBefore) historyEntity(m, "move entity", st.dragBefore, after);
  }
  st.wasDown = down;
  return true;
}

void entityDeleteSelected() {
  Map* m = currentMapOrNull();
  std::string before = textOf(entityFind(m, st.selected));
  if (before.empty() || !action_entityDelete(m, st.selected)) return;
  historyEntity(m, "delete entity", before, "");
  st.selected = 0;
  setMenu("entities");
}

uint64_t entitySelected() { return st.selected; }

bool entityEscape() {
  if (!st.picking.empty()) {
    say(("No change to " + st.picking + ".").c_str(), PANEL_INFO);
    st.picking.clear();
    return true;
  }
  if (!st.selected || strcmp(project.currentMenu, "entities") != 0) return false;
  st.selected = 0;  // the rows show the definition's fields again
  setMenu("entities");
  return true;
}
