// The "entities" menu: the definitions list (the selected one is placed),
// the definition column (entitydefs.cpp), and the selected instance's
// fields. On the map a click places (Shift: at the exact pixel) or selects,
// a drag moves, Delete removes, Escape lets it go. A point or reference
// field is set on the map: a click on its name, then on the point (Shift:
// the exact pixel) or on the instance it refers to; Escape gives up. Every
// instance change is one undo step (STEP_ENTITY).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor/zoom.h"
#include "editor/entitypanel.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/entities.h"
#include "net/entitynet.h"
#include "platform/os.h"
#include "toolkit/widgets.h"

namespace entitypanel {
PanelState st;

void say(const char* text, PanelKind kind) {
  setPanelMessage("entities", text, kind);
  setMenu("entities");
}
}  // namespace entitypanel

using namespace entitypanel;

namespace {
std::string textOf(const Entity* e) { return e ? entityToJson(*e).dump() : ""; }

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
    st.values[i].follow(shown, fresh);
    int y = kFieldsY + (int)i * kRowH;
    bool onMap = f.type == FIELD_POINT || f.type == FIELD_REFERENCE;
    if (textButton(f.name.c_str(), kListX, y, kFieldW) && onMap) {
      st.picking = f.name, st.pickingOf = e->id;
      std::string text = "Click " + std::string(f.type == FIELD_POINT ? "the point" : "the instance") + " for " +
                         f.name + " on the map (Escape: no change).";
      return say(text.c_str(), PANEL_INFO);
    }
    textAreaNew(st.values[i].text, kValueX, y, 170, ENTITY_NAME_MAX);
    if (!st.values[i].edited()) continue;
    nlohmann::json value;
    const char* why = nullptr;
    bool parsed = entityValueParse(f, st.values[i].text, &value, &why);
    st.values[i].drop();  // shown again from the instance
    if (!parsed) {
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
  say((field + " set.").c_str(), PANEL_INFO);
}

// Takes an instance step back or again: the instance goes from the state
// `from` (what the step left) to `to` (absent: removed), sending each
// change. Only what the step changed and nobody changed since goes back: a
// value another editor wrote after it stays (logged), as cells do.
bool applyState(Map* m, const std::string& from, const std::string& to) {
  Entity want, made;
  std::string why;
  nlohmann::json j = nlohmann::json::parse(to.empty() ? from : to, nullptr, false);
  if (j.is_discarded() || !entityFromJson(j, &want, &why)) return false;
  if (to.empty()) return action_entityDelete(m, want.id);
  Entity* have = entityFind(m, want.id);
  nlohmann::json was = from.empty() ? nlohmann::json() : nlohmann::json::parse(from, nullptr, false);
  if (!have || was.is_null() || was.is_discarded() || !entityFromJson(was, &made, &why)) {
    if (have) return false;
    if (MapEntities* me = entitiesOf(m)) me->deleted.erase(want.id);
    return action_entityPlace(m, want, nullptr);
  }
  int kept = 0;
  if (made.x != want.x || made.y != want.y) {
    if (have->x == made.x && have->y == made.y) action_entityMove(m, want.id, want.x, want.y);
    else kept++;
  }
  std::set<std::string> keys;
  for (const nlohmann::json* f : {&want.fields, &made.fields, &have->fields})
    for (auto it = f->begin(); it != f->end(); ++it) keys.insert(it.key());
  auto value = [](const nlohmann::json& f, const std::string& k) { return f.contains(k) ? f[k] : nlohmann::json(); };
  for (const std::string& k : keys) {
    nlohmann::json target = value(want.fields, k), left = value(made.fields, k);
    if (target == left) continue;  // the step did not touch it
    if (value(have->fields, k) != left) kept++;
    else action_entitySetField(m, want.id, k, target);
    have = entityFind(m, want.id);
  }
  if (kept) printf("Entite %s: %d valeur%s changee%s depuis par un autre editeur, laissee%s.\n", entityIdText(want.id).c_str(),
                   kept, kept == 1 ? "" : "s", kept == 1 ? "" : "s", kept == 1 ? "" : "s");
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
  definitionColumn();
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
