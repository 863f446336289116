// The widgets of the "main" and "map" menus and the tab buttons, in the
// order they are drawn and handled every turn.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "editor/navigate.h"
#include "model/model.h"
#include "net/net.h"
#include "core/core.h"
#include "platform/os.h"
#include "toolkit/browser.h"
#include "toolkit/files.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

char e_newmap[NAME_LEN] = "map";
char e_newmapw[VERSION_LEN] = "128", e_newmaph[VERSION_LEN] = "128";
unsigned long e_newmapwi = 128, e_newmaphi = 128;
bool e_addlayer = false;
char e_openlayer[PATH_LEN] = "";
bool e_passconditions = false;
size_t passconditionsLen = 0;
char e_pcname[NAME_LEN] = "";

namespace {
const int kMaxLayers = 50000;  // the add-layer button hides at this many layers
const char kMapExt[] = ".map";
const char kImageExt[] = ".png";
const size_t kExtLen = 4;

// Cuts the 4-character extension off a picked name; false when the name
// does not end with it (that file is not a map or a tileset).
bool cutExtension(char* name, const char* ext) {
  size_t n = strlen(name);
  if (n <= kExtLen || strcmp(name + n - kExtLen, ext) != 0) return false;
  name[n - kExtLen] = 0;
  return true;
}

void refuseNewMap(const char* text) {
  printf("Nouvelle map refusee: %s\n", text);
  setPanelMessage("main", text);
  setMenu("main");
}

// ---- "main" menu ----

void joinCommand() {
  char text[PANEL_MESSAGE_LEN];
  if (!net) {
    snprintf(text, sizeof text, "Networking is off: set net 1 in settings.ini");
    printf("%s\n", text);
    setPanelMessage("main", text);
  } else {
    int joined = joinServer(ipServer);
    if (joined == JOIN_LEFT_OUT)
      snprintf(text, sizeof text, "Could not join %.54s: that editor left this one out for its session.", ipServer);
    else if (joined < 0)
      snprintf(text, sizeof text, "Could not join %.54s: unknown host, or not host, host:port or [IPv6]:port.", ipServer);
    else if (joined == 0)
      snprintf(text, sizeof text, "Could not join %.54s: no editor of this version answered there.", ipServer);
    if (joined <= 0) setPanelMessage("main", text);
  }
  setMenu("main");
}

void mapBrowser() {
  if (!explorer(e_openmap, 10, 240, 6, 200, MAPS_DIR)) return;
  if (!cutExtension(e_openmap, kMapExt)) {
    setPanelMessage("main", "This file is not a map (.map).");
    setMenu("main");
    return;
  }
  g_openmap();
}

// ---- "map" menu ----

void mapNameField(Map* m) {
  const char* old = m->sysname ? m->sysname : "";
  size_t n = strlen(old) + 1;
  char* buffer = new char[n];
  memcpy(buffer, old, n);
  buffer = textArea(buffer, 20, 46, 200, SYSNAME_LIMIT, true);
  if (strcmp(buffer, m->sysname ? m->sysname : "") != 0 && !viewOnlyRefused(true)) {
    std::string old = m->sysname ? m->sysname : "";
    changeMapSysname(m->filename, buffer);
    historyRename(m, old.c_str(), m->sysname);
    action_sendMapSysname(m->filename, m->sysname);
    setMenu("map");
  }
  delete[] buffer;
}

void sendBG(Map* m, Layer* l) {
  action_setLayerBGXY(m->filename, project.currentLayer, l->bg, l->x, l->y);
  setMenu("map");
}

void setBG(Map* m, Layer* l, char bg, int x, int y) {
  if (viewOnlyRefused(true)) return;
  char oldBg = l->bg;
  int oldX = l->x, oldY = l->y;
  setLayerBGXY(m->filename, project.currentLayer, bg, x, y);
  historyBackground(m, l, oldBg, oldX, oldY);
  sendBG(m, l);
}

void backgroundButtons(Map* m, Layer* l) {
  if (l->bg) {
    if (l->x > -BG_LIMIT && button(144, 114, b_down)) setBG(m, l, l->bg, l->x - 1, l->y);
    if (l->x < BG_LIMIT && button(176, 114, b_up)) setBG(m, l, l->bg, l->x + 1, l->y);
    if (l->y > -BG_LIMIT && button(144, 154, b_down)) setBG(m, l, l->bg, l->x, l->y - 1);
    if (l->y < BG_LIMIT && button(176, 154, b_up)) setBG(m, l, l->bg, l->x, l->y + 1);
  }
  if (!l->bg && button(220, 330, b_tobg)) setBG(m, l, 1, l->x, l->y);
  // The layer may have just become a background: the other button waits a turn.
  else if (l->bg && button(220, 330, b_tolayer))
    setBG(m, l, 0, l->x, l->y);
}

// An image whose size is not a multiple of the tile is taken: its whole
// tiles are used and the partial ones at its right and bottom edges are not.
void tilesetWarning(const Layer* l) {
  if (!l->s) return;
  int w = surfaceWidth(l->s), h = surfaceHeight(l->s);
  if (w % TILE == 0 && h % TILE == 0) return;
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "%.40s.png is %dx%d, not a multiple of %d: its partial edge tiles are ignored.",
           l->layerGFX, w, h, TILE);
  printf("Tileset %s de %dx%d: tuiles partielles ignorees.\n", l->layerGFX, w, h);
  setPanelMessage("map", text, PANEL_WARNING);
}

void addLayerCommand(Map* m) {
  if (!e_addlayer) {
    if (m->layers < kMaxLayers && button(232, 270, b_addlayer) && !viewOnlyRefused(true)) {
      e_addlayer = true;
      setMenu("map");
    }
    return;
  }
  if (!explorer(e_openlayer, 10, 270, 8, 200, LAYERS_DIR)) return;
  char text[PANEL_MESSAGE_LEN];
  if (!cutExtension(e_openlayer, kImageExt)) {
    setPanelMessage("map", "Pick a .png image.");
    setMenu("map");
    return;
  }
  if (!validName(e_openlayer)) {
    snprintf(text, sizeof text, "Tileset name refused: %s.", nameRefusal(e_openlayer));
    setPanelMessage("map", text);
    setMenu("map");
    return;
  }
  int before = m->layers;
  action_addLayer(project.currentMap, e_openlayer, false);
  if (m->layers > before) {
    historyLayerAdded(m, m->layer[m->layers - 1]);
    project.currentLayer = m->layers - 1;  // the next strokes go where the user looks
    tilesetWarning(m->layer[project.currentLayer]);
  } else {
    snprintf(text, sizeof text, "Layer not added: %.40s.png could not be loaded or shared.", e_openlayer);
    setPanelMessage("map", text);
  }
  project.elementIndex = 0;
  e_addlayer = false;
  setMenu("map");
}

void wheelLayers(Map* m) {
  if (inputCtrlHeld()) return;  // Ctrl+wheel zooms
  if (wheelDown && project.currentLayer > 0) {
    project.currentLayer--;
    project.elementIndex = 0;
    setMenu("map");
  }
  if (wheelUp && m->layers >= 1 && project.currentLayer < m->layers - 1) {
    project.currentLayer++;
    project.elementIndex = 0;
    setMenu("map");
  }
}

// The moved layer stays the current one, at its new place; one undo step.
void moveCurrentLayer(Map* m, int from, int to) {
  if (viewOnlyRefused(true)) return;
  if (action_moveLayer(project.currentMap, from, to)) {
    historyLayerMoved(m, from, to);
    project.currentLayer = to;
  }
  setMenu("map");
}

void layerOrder(Map* m) {
  int l = project.currentLayer;
  if (l < m->layers - 1 && button(260, 234, b_up)) moveCurrentLayer(m, l, l + 1);
  l = project.currentLayer;
  if (l > 0 && l < m->layers && button(220, 234, b_down)) moveCurrentLayer(m, l, l - 1);
}

void layerCommands(Map* m) {
  if (m->layers > 1 && button(232, 300, b_delete) && !viewOnlyRefused(true)) {
    historyLayerDeleting(m, project.currentLayer);
    action_deleteLayer(project.currentMap, project.currentLayer);
    project.elementIndex = 0;
    setMenu("map");
  }
  // A command above may have removed the layer or the map's last layers.
  Layer* l = currentLayerOrNull(m);
  if (l) backgroundButtons(m, l);
  addLayerCommand(m);
  layerVisibilityCommand(m);
  layerNameField(m);
  mapSizeFields(m);
  wheelLayers(m);
  layerOrder(m);
}

void palette(Layer* l) {
  if (!l || l->bg) return;
  if (e_passconditions && l->layerGFX && strcmp(l->layerGFX, e_pcname) == 0)
    drawElementsPC(PALETTE_X, PALETTE_Y, PALETTE_COLUMNS, PALETTE_ROWS, true);
  else if (!e_passconditions)
    drawElements(PALETTE_X, PALETTE_Y, PALETTE_COLUMNS, PALETTE_ROWS);
}
}  // namespace

void action_newMap() {
  e_newmapwi = 0;
  e_newmaphi = 0;
  long w = 0, h = 0;
  bool wOk = sscanf(e_newmapw, "%ld", &w) == 1, hOk = sscanf(e_newmaph, "%ld", &h) == 1;
  e_newmapwi = (unsigned long)w;
  e_newmaphi = (unsigned long)h;
  printf("NEWMAP: e_newmap: %s, e_openmap: %s.\n", e_newmap, e_openmap);
  // Refused before anything reaches the peers or the disk.
  if (!validName(e_newmap)) {
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Map name refused: %s.", nameRefusal(e_newmap));
    return refuseNewMap(text);
  }
  if (!wOk || !hOk || w < 1 || h < 1 || (unsigned long long)w * (unsigned long long)h >
                                              (unsigned long long)MAX_LAYER_CELLS) {
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Size refused: from 1 to %d cells.", (int)MAX_LAYER_CELLS);
    return refuseNewMap(text);
  }
  if (getMap(e_newmap) < project.nbreMaps || mapFileExists(e_newmap))
    return refuseNewMap("A map of this name exists already.");
  if (!action_newMap(e_newmap, e_newmapwi, e_newmaphi))
    return refuseNewMap("The map file could not be written (disk full or read-only?).");
  snprintf(e_openmap, sizeof e_openmap, "%s", e_newmap);
  g_openmap();
  // Its display name is the name typed, on every copy (an ordinary rename).
  Map* m = currentMapOrNull();
  if (m && m->filename && strcmp(m->filename, e_newmap) == 0) {
    changeMapSysname(m->filename, e_newmap);
    action_sendMapSysname(m->filename, m->sysname);
  }
  printf("Fin de la creation de map.\n");
}

void enterPassConditions() {
  Layer* l = currentLayerOrNull(currentMapOrNull());
  if (!l || !l->layerGFX) return;
  // The file is named after the tileset and sized by its image: a name that
  // could leave the project, or an image that did not load, would make Save
  // write outside the project or truncate the file.
  if (!validName(l->layerGFX) || !l->s) {
    printf("Conditions de passage de %s refusees: tileset non charge.\n", l->layerGFX);
    setPanelMessage("map", "Tileset non charge: conditions de passage indisponibles.");
    setMenu("map");
    return;
  }
  e_passconditions = true;
  snprintf(e_pcname, sizeof e_pcname, "%s", l->layerGFX);
  FILE* f = openFile(PASS_DIR, l->layerGFX, PASS_EXT, "rb");
  size_t n = (size_t)tilesetCountsOf(l->s).cells * PASS_BYTES_PER_TILE;
  free(passconditions);
  passconditions = (unsigned char*)malloc(n ? n : 1);
  passconditionsLen = passconditions ? n : 0;
  if (passconditions) memset(passconditions, 1, n);
  if (f) {
    // A short file leaves the missing tiles passable.
    if (passconditions && fread(passconditions, 1, n, f) != n)
      printf("Fichier de passabilite %s plus court que le tileset.\n", l->layerGFX);
    closeFile(f);
  }
  logMarker("pcok");
  setMenu("map");
}

bool leavePassConditions() {
  char text[PANEL_MESSAGE_LEN];
  if (!writePassConditions(e_pcname, passconditions, passconditionsLen)) {
    // The edits stay in the buffer and the mode stays on, so nothing is lost.
    printf("Sauvegarde des conditions de passage %s impossible: mode maintenu.\n", e_pcname);
    snprintf(text, sizeof text, "Sauvegarde de %.40s.pss impossible!", e_pcname);
    setPanelMessage("map", text);
    setMenu("map");
    return false;
  }
  e_passconditions = false;
  action_sendPC(e_pcname);
  panelMessage[0] = 0;
  setMenu("map");
  return true;
}

void mainMenuCommands() {
  textArea(ipServer, 10, 100, 120, ADDRESS_LIMIT, false);
  if (button(140, 100, b_join)) joinCommand();
  if (connectedPeers() > 0 && button(240, 100, b_disconnect)) disconnect(true);
  textArea(e_newmap, 216, 260, 100, NEWMAP_NAME_LIMIT, false);
  numberArea(e_newmapw, 216, 290, 100, NEWMAP_SIZE_LIMIT, false);
  numberArea(e_newmaph, 216, 310, 100, NEWMAP_SIZE_LIMIT, false);
  if (button(240, 330, b_newmap) && !viewOnlyRefused(true)) action_newMap();
  mapBrowser();
  leaveOutButtons();
}

void mapMenuCommands() {
  Map* m = currentMapOrNull();
  if (!m) return;
  mapNameField(m);
  brushSwitch();
  if (!e_passconditions) layerCommands(m);
  palette(currentLayerOrNull(m));
  if (!e_passconditions && !e_addlayer && button(224, 380, b_passconditions) && !viewOnlyRefused(true))
    enterPassConditions();
  else if (e_passconditions && button(236, 380, b_save))
    leavePassConditions();
}

void tabButtons() {
  // Each menu is tested afresh: a tab that switches the menu lets the new
  // menu's tabs run in the same turn.
  if (strcmp(project.currentMenu, "main") == 0) {
    if (button(120, 0, b_MapMenu)) setMenu("map");
    if (button(221, 0, b_EntitiesMenu)) setMenu("entities");
  }
  if (strcmp(project.currentMenu, "map") == 0) {
    if (button(0, 0, b_MainMenu)) setMenu("main");
    if (button(221, 0, b_EntitiesMenu)) setMenu("entities");
  }
  if (strcmp(project.currentMenu, "entities") == 0) {
    if (button(0, 0, b_MainMenu)) setMenu("main");
    if (button(120, 0, b_MapMenu)) setMenu("map");
  }
}
