// Per-frame composition of the screen, the choice of the menu and the fixed
// content of the menu panel.
#include <stdio.h>
#include <string.h>

#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "net/auth.h"
#include "net/net.h"
#include "net/sync.h"
#include "core/core.h"
#include "core/files.h"
#include "toolkit/browser.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

char panelMessage[PANEL_MESSAGE_LEN] = "";
char panelMessageMenu[16] = "";
PanelKind panelMessageKind = PANEL_ERROR;

namespace {
const int kTextSize = 16;
const int kSmallText = 14;
const int kPeerListY = 150;   // "Clients: %d." line; peers follow every 18 pixels
const int kPeerLineStep = 18;
const int kLeaveOutX = 298, kLeaveOutW = 22;  // the "x" at the end of each peer's line
const int kViewOnlyX = 130;   // "view only", beside the "Clients" line
const int kSyncLineY = 130;   // "In sync with N editors", or what is being repaired
const int kMessageY = 420;    // refusals, under every command of the menus
const int kMessageLine = 16;  // a message's second line, below its first
const int kUndoLineRise = 34; // the undo line, above the version line
const int kSizeLabelY = 336;  // "Map size" over its fields (mapfields.cpp)
const char* const kPanelColours[] = {"red", "black", "blue"};  // by PanelKind
char shownUndo[HISTORY_LABEL_LEN] = "";

void drawMainMenu() {
  char line[NAME_LEN + 64];
  Map* m = currentMapOrNull();
  // Its place among the project's maps, as the map browser lists them.
  int rank = 0, count = 0;
  snprintf(line, sizeof line, "%s.map", project.workingMap);
  folderRank(MAPS_DIR, line, &rank, &count);
  char at[16] = "?";
  if (rank) snprintf(at, sizeof at, "%d", rank);
  snprintf(line, sizeof line, "map %s/%d   %ldx%ld", at, count, m ? (long)m->w : 0L, m ? (long)m->h : 0L);
  drawText(line, 166, 40, "black", "", kTextSize, true);
  blitButton(moska, 80, 40, 0);
  blitButton(b_MainMenu, 0, 0, 2);
  int k = drawClientList(kPeerListY + kPeerLineStep, kPeerLineStep);
  syncStatus(line, sizeof line);
  if (line[0]) drawText(line, 0, kSyncLineY, "black", "", kSmallText, true);
  snprintf(line, sizeof line, "Clients: %d.", k);
  drawText(line, 0, kPeerListY, "black", "U", kTextSize, true);
  if (netViewOnly()) drawText("view only", kViewOnlyX, kPeerListY, "red", "B", kTextSize, true);
  snprintf(line, sizeof line, "Current: %s.map", project.workingMap);
  drawText(line, 0, 74, "black", "B", kTextSize, true);
}

void drawMapMenu() {
  Map* m = currentMapOrNull();
  Layer* l = currentLayerOrNull(m);
  blitButton(b_MapMenu, 120, 0, 2);
  char line[NAME_LEN + 64];
  snprintf(line, sizeof line, "Layer %d/%d  %s%s", project.currentLayer + 1, m ? m->layers : 0, layerName(l),
           layerHidden(l) ? " (hidden)" : "");
  drawText(line, 0, 240, "blue", "", kTextSize, true);
  if (e_addlayer) blitButton(b_addlayer, 232, 270, 2);
  if (m && !e_addlayer && !e_passconditions) {
    drawText("Map size", 10, kSizeLabelY, "black", "", kSmallText, true);
    drawText("x", 74, kSizeLabelY + 22, "black", "", kSmallText, true);
  }
  if (!l) return;
  if (!l->bg) {
    // The pass buffer belongs to the tileset the mode was entered with: the
    // editing palette is only safe on that tileset.
    if (e_passconditions && l->layerGFX && strcmp(l->layerGFX, e_pcname) == 0)
      drawElementsPCH(PALETTE_X, PALETTE_Y, PALETTE_COLUMNS, PALETTE_ROWS);
    else
      drawElementsH(PALETTE_X, PALETTE_Y, PALETTE_COLUMNS, PALETTE_ROWS);
    return;
  }
  drawText("Scrolling background", 50, 90, "black", "U", kTextSize, true);
  snprintf(line, sizeof line, "x: %d", l->x);
  drawText(line, 100, 122, "black", "", kSmallText, true);
  snprintf(line, sizeof line, "y: %d", l->y);
  drawText(line, 100, 162, "black", "", kSmallText, true);
}
}  // namespace

void leaveOutButtons() {
  int k = 0;
  for (int i = 0; i < MAX_PEERS; i++) {
    PeerInfo peer;
    if (!peerInfo(i, &peer)) continue;
    k++;
    if (!textButton("x", kLeaveOutX, kPeerListY + kPeerLineStep * k, kLeaveOutW)) continue;
    char text[PANEL_MESSAGE_LEN];
    bool left = leavePeerOut(i);
    snprintf(text, sizeof text, left ? "%.40s left out for this session." : "%.40s is gone already.", peer.name);
    setPanelMessage("main", text, left ? PANEL_INFO : PANEL_ERROR);
    setMenu("main");
    return;  // the list changed
  }
}

bool viewOnlyRefused(bool editing) {
  if (!editing || !netViewOnly()) return false;
  logMarker("viewonly");
  setPanelMessage(project.currentMenu, "view only: this editor was admitted as a viewer.");
  setMenu(project.currentMenu);
  printf("Modification refusee: lecture seule.\n");
  return true;
}

void setPanelMessage(const char* menuName, const char* text, PanelKind kind) {
  panelMessageKind = kind;
  snprintf(panelMessageMenu, sizeof panelMessageMenu, "%s", menuName);
  snprintf(panelMessage, sizeof panelMessage, "%s", text);
}

void drawMenu() {
  blitIt(menubg, menu, 0, 0);
  if (!menu) return;
  char line[96];
  snprintf(line, sizeof line, "MOSKA2 v%s", version);
  drawText(line, 0, surfaceHeight(menu) - 16, "green", "I", kTextSize, true);
  if (strcmp(project.currentMenu, "main") == 0) drawMainMenu();
  if (strcmp(project.currentMenu, "map") == 0) drawMapMenu();
  if (strcmp(project.currentMenu, "entities") == 0) blitButton(b_EntitiesMenu, 221, 0, 2);
  if (panelMessage[0] && strcmp(panelMessageMenu, project.currentMenu) == 0) {
    // A message may hold a second line (after "\n"): a path that does not fit beside its words.
    char first[PANEL_MESSAGE_LEN];
    snprintf(first, sizeof first, "%s", panelMessage);
    char* second = strchr(first, '\n');
    if (second) *second++ = 0;
    drawText(first, 2, kMessageY, kPanelColours[panelMessageKind], "B", kSmallText, true);
    if (second) drawText(second, 2, kMessageY + kMessageLine, kPanelColours[panelMessageKind], "B", kSmallText, true);
  }
  drawJoinPrompt();
  snprintf(shownUndo, sizeof shownUndo, "%s", historyUndoLabel());
  if (shownUndo[0]) {
    snprintf(line, sizeof line, "Ctrl+Z: undo %s", shownUndo);
    drawText(line, 2, surfaceHeight(menu) - kUndoLineRise, "black", "", kSmallText, true);
  }
}

void refreshUndoLine() {
  if (strcmp(shownUndo, historyUndoLabel()) == 0) return;
  drawMenu();
  blitMenu();
}

void setMenu(const char* m) {
  gxplorer_index = 0;
  // A refusal stays on its menu until another menu is chosen.
  if (strcmp(m, project.currentMenu) != 0) panelMessage[0] = 0;
  if (m != project.currentMenu) snprintf(project.currentMenu, sizeof project.currentMenu, "%s", m);
  drawMenu();
  blitMenu();
}

void refresh() {
  eventMenu();
  blitIt(menu, screen, 0, 0);
  drawWindow();
  drawPeers();
  blitWindow();
}
