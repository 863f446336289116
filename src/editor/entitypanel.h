// The entities menu's state and layout, shared by its two files: the
// definition column (entitydefs.cpp) and the instances and the map
// (entitypanel.cpp). Editor-internal.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "editor/menu.h"
#include "model/entities.h"

namespace entitypanel {
const int kListX = 10, kListY = 40, kRowH = 22, kListW = 140, kListRows = 8;
const int kNewX = 170, kNewW = 65, kDeleteX = 240, kDeleteW = 70, kNameY = 70, kNameW = 140;
const int kSizeY = 100, kFieldsY = 240, kFieldW = 120;
const int kValueX = 140, kFieldRows = 7, kDetailY = kFieldsY + kFieldRows * kRowH + 4;  // above the message line
const int kColourY = 152, kColourW = 80, kTileX = kNewX + 85, kTileW = 55;
const int kAddY = 178, kAddTypeY = 204, kTypeW = 70, kRemoveW = 30;
const int kAddX = kNewX + kTypeW + 2, kAddW = 78;  // "Add field" whole, inside the panel
const int kListText = 1024;  // characters of a field's choices as typed ("a, b, c")

// A panel field over a value that peers change too: it follows the value
// until the user types in it, and only what the user typed is an edit (a
// peer's change is never taken for one and sent back over it).
template <size_t N>
struct Followed {
  char text[N] = {};
  std::string shown;  // what it showed last
  // Shows v: always when fresh (another definition, field or instance), else while nothing is typed.
  void follow(const std::string& v, bool fresh) {
    if (!fresh && (shown != text || v == shown)) return;
    snprintf(text, N, "%s", v.c_str());
    shown = text;
  }
  bool edited() const { return shown != text; }
  // After an edit, taken or refused: the field shows the value again.
  void drop() { text[0] = 0, shown.clear(); }
};

struct PanelState {
  std::string chosen;        // the definition to place
  uint64_t selected = 0;     // the selected instance of the current map
  std::string askedDelete;   // a definition whose deletion waits for a second click
  bool dragging = false;
  int32_t grabDX = 0, grabDY = 0;
  std::string dragBefore;
  bool wasDown = false;
  std::string columnOf;      // the definition the name, size and colour fields show
  Followed<8> w, h;
  Followed<ENTITY_TEXT_MAX + 1> values[kFieldRows];
  uint64_t valuesOf = 0;
  Followed<8> colour;        // "#rrggbb"
  char newField[ENTITY_NAME_MAX + 1] = "";
  FieldType newType = FIELD_INTEGER;
  Followed<ENTITY_NAME_MAX + 1> name;  // the chosen definition's name
  std::string field;         // the field whose default and choices or range show under the rows
  std::string detailOf;      // "definition/field" the detail fields were filled from
  Followed<ENTITY_TEXT_MAX + 1> def;
  Followed<kListText + 1> list;
  std::string picking;       // a point or reference field waiting for its click on the map
  uint64_t pickingOf = 0;    // the instance whose field it is
};
extern PanelState st;

// A message on the panel, the menu shown again.
void say(const char* text, PanelKind kind = PANEL_ERROR);
// New, Delete, the name, size, colour and tile, and a new field.
void definitionColumn();
// With no instance selected: the chosen definition's fields, and the one clicked.
void definitionFieldRows();
}  // namespace entitypanel
