// The map menu's layer name field and its map size fields with *Resize*.
// The names live in the map's sidecar (model/sidecar.h); both changes reach
// the peers that know them and are one undo step each.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "net/net.h"
#include "toolkit/widgets.h"

namespace {
const int kNameX = 10, kNameY = 270, kNameW = 200;  // under "Layer n/m", left of Add layer
const int kSizeY = 356;                             // under "Map size" (screen.cpp)
const int kWidthX = 10, kHeightX = 86, kSizeW = 60, kResizeX = 152, kResizeW = 62;

struct MapFields {
  char name[LAYER_NAME_MAX + 1] = "";
  char w[VERSION_LEN] = "", h[VERSION_LEN] = "";
  const Map* sizeOf = nullptr;  // the map and size the size fields were filled from
  uint32_t shownW = 0, shownH = 0;
} fields;

// A typed size: 0 (which the model refuses with its limits) unless digits.
unsigned long typedSize(const char* s) {
  char* end = nullptr;
  unsigned long v = strtoul(s, &end, 10);
  return end && end != s && !*end ? v : 0;
}

void resizeCommand(Map* m) {
  unsigned long w = typedSize(fields.w), h = typedSize(fields.h);
  char why[PANEL_MESSAGE_LEN], text[PANEL_MESSAGE_LEN];
  if (w == m->w && h == m->h) {
    snprintf(text, sizeof text, "The map is %lux%lu already.", w, h);
    setPanelMessage("map", text, PANEL_INFO);
  } else if (historyResize(m, w, h, why, sizeof why)) {
    snprintf(text, sizeof text, "Map resized to %lux%lu.", w, h);
    setPanelMessage("map", text, PANEL_INFO);
  } else {
    snprintf(text, sizeof text, "Resize refused: %s.", why);
    setPanelMessage("map", text);
  }
  setMenu("map");
}
}  // namespace

void layerNameField(Map* m) {
  Layer* l = currentLayerOrNull(m);
  if (!l || e_addlayer) return;
  std::string old = layerName(l);
  snprintf(fields.name, sizeof fields.name, "%s", old.c_str());
  textAreaNew(fields.name, kNameX, kNameY, kNameW, LAYER_NAME_MAX);
  if (old == fields.name) return;
  if (action_setLayerName(project.currentMap, project.currentLayer, fields.name)) {
    historyLayerNamed(m, l, old.c_str());
  } else {
    char text[PANEL_MESSAGE_LEN];
    const char* why = layerNameRefusal(fields.name);
    snprintf(text, sizeof text, "Layer name refused: %s.", why ? why : "no such layer");
    setPanelMessage("map", text);
  }
  setMenu("map");
}

void mapSizeFields(Map* m) {
  if (e_addlayer) return;
  // Filled from the map whenever it or its size changes (a peer's resize too).
  if (fields.sizeOf != m || fields.shownW != m->w || fields.shownH != m->h) {
    snprintf(fields.w, sizeof fields.w, "%lu", (unsigned long)m->w);
    snprintf(fields.h, sizeof fields.h, "%lu", (unsigned long)m->h);
    fields.sizeOf = m, fields.shownW = m->w, fields.shownH = m->h;
  }
  numberAreaNew(fields.w, kWidthX, kSizeY, kSizeW, NEWMAP_SIZE_LIMIT);
  numberAreaNew(fields.h, kHeightX, kSizeY, kSizeW, NEWMAP_SIZE_LIMIT);
  if (textButton("Resize", kResizeX, kSizeY, kResizeW)) resizeCommand(m);
}
