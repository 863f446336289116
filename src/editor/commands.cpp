// The command handler: one turn of input turned into paints, scrolls and
// menu commands, and the two brushes.
#include <stdio.h>
#include <string.h>

#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "editor/navigate.h"
#include "model/model.h"
#include "net/net.h"
#include "platform/os.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

char brush[BRUSH_LEN] = "PEN";
bool brush_square_state = false;
unsigned long brush_squareX1 = 0, brush_squareY1 = 0, brush_squareX2 = 0, brush_squareY2 = 0;
const int force = SCROLL_STEP;

namespace {
bool currentLayerExists(const Map* m) {
  return m && project.currentLayer >= 0 && project.currentLayer < m->layers;
}

bool isPen() { return strcmp(brush, "PEN") == 0; }
bool isSquare() { return strcmp(brush, "SQUARE") == 0; }
bool isFill() { return strcmp(brush, "FILL") == 0; }
bool fillArmed = true;  // one fill per press


bool held(int a, int b) { return inputKeyHeld(a) || inputKeyHeld(b); }

void setBrush(const char* b) {
  brush_square_state = false;
  snprintf(brush, sizeof brush, "%s", b);
  printf("%s\n", brush);
  setMenu(project.currentMenu);  // the brush picture
}

// Keys act once per press: on the turn that takes their key-down event.
void shortcutStep() {
  int k;
  unsigned mods;
  if (!freshEvent || !inputKeyPressed(&k, &mods)) return;
  bool ctrl = (mods & MOD_CTRL) || held(KEY_LCTRL, KEY_RCTRL);
  bool shift = (mods & MOD_SHIFT) || held(KEY_LSHIFT, KEY_RSHIFT);
  if (ctrl && k == KEY_Z && !shift) {
    if (historyUndo()) setMenu(project.currentMenu);
  } else if (ctrl && (k == KEY_Y || k == KEY_Z)) {
    if (historyRedo()) setMenu(project.currentMenu);
  } else if (ctrl && k == KEY_S) {
    saveAllCommand();
  } else if (!ctrl && k == KEY_F) {
    setBrush("FILL");
  } else if (!ctrl && k == KEY_R) {
    setBrush("SQUARE");
  } else if (!ctrl && k == KEY_B) {
    setBrush("PEN");
  }
}

// Alt+click: the tile under the pointer becomes the element, its palette row shown.
void pickTile(Map* m) {
  Layer* l = currentLayerOrNull(m);
  unsigned long x = getElementX(), y = getElementY();
  if (!l || x >= m->w || y >= m->h) return;
  int32_t e = l->e[(size_t)y * m->w + x];
  if (e < 0) return;
  project.currentElement = e;
  int32_t row = e / PALETTE_COLUMNS;
  if (row < project.elementIndex || row >= project.elementIndex + PALETTE_ROWS)
    project.elementIndex = row;
  printf("Element %d pris en %ldx%ld.\n", e, (long)x, (long)y);
  setMenu(project.currentMenu);
}

void pen(int element) {
  historyOpen("pen stroke");
  LocalEdit local;
  setElementRelative(element);
}

void fillHere(Map* m, int element) {
  if (!fillArmed || !currentLayerExists(m)) return;
  fillArmed = false;
  unsigned long x = getElementX(), y = getElementY();
  if (x < m->w && y < m->h) fillAt(m, project.currentLayer, (uint32_t)x, (uint32_t)y, element);
}

// The rectangle brush: fills from the first corner to the cell under the
// mouse, cut to the map so that nothing is written outside it.
void fillSquare(Map* m) {
  brush_squareX2 = getElementX();
  brush_squareY2 = getElementY();
  printf("Brush SQUARE %ldx%ld->%ldx%ld\n", (long)brush_squareX1, (long)brush_squareY1,
         (long)brush_squareX2, (long)brush_squareY2);
  if (!currentLayerExists(m)) return;
  unsigned long x1 = brush_squareX1, y1 = brush_squareY1, x2 = brush_squareX2, y2 = brush_squareY2;
  if (clampRect(m, &x1, &y1, &x2, &y2) == RECT_OUTSIDE) return;
  action_SetElementSquare(m->filename, project.currentLayer, x1, y1, x2, y2,
                          project.currentElement);
}

void paintStep() {
  Map* m = currentMapOrNull();
  bool inView = mouseX > PANEL_WIDTH;
  if (!leftClic && !rightClic) {
    historyClose();  // a stroke or a rectangle ends with the release
    fillArmed = true;
  }
  if (leftClic && inView && held(KEY_LALT, KEY_RALT)) return pickTile(m);
  if (leftClic && inView) {
    if (isPen()) pen(project.currentElement);
    if (isSquare()) {
      brush_squareX1 = getElementX();
      brush_squareY1 = getElementY();
      brush_square_state = true;
    }
    if (isFill()) fillHere(m, project.currentElement);
  }
  if (rightClic && inView) {
    if (isPen()) pen(0);
    if (isSquare() && brush_square_state) {
      historyOpen("rectangle");
      LocalEdit local;
      fillSquare(m);
    }
    if (isFill()) fillHere(m, 0);
  }
}

}  // namespace

unsigned long getElementX() {
  long col, row;
  viewToCell(mouseX, mouseY, &col, &row);
  return (unsigned long)col;
}

unsigned long getElementY() {
  long col, row;
  viewToCell(mouseX, mouseY, &col, &row);
  return (unsigned long)row;
}

void setElementRelative(int element) {
  Map* m = currentMapOrNull();
  if (!currentLayerExists(m)) return;
  unsigned long x = getElementX(), y = getElementY();
  // Where the view is wider or taller than the map there is no cell: the
  // paint is dropped here rather than sent to the peers.
  if (x >= m->w || y >= m->h) return;
  action_SetElementAbsolute(m->filename, project.currentLayer, x, y, element);
}

void brushSwitch() {
  if (navigate.middleClicked) {  // a middle click without motion (a drag moves the view)
    brush_square_state = false;
    snprintf(brush, sizeof brush, "%s", isPen() ? "SQUARE" : "PEN");
    printf("%s\n", brush);
  }
  // The picture shows the brush the button switches to; the fill brush shows
  // its own and switches to the pen.
  if (isPen() && button(240, 46, brushsquare)) {
    snprintf(brush, sizeof brush, "SQUARE");
    platformDelay(BRUSH_SWITCH_MS);
  }
  if (isSquare() && button(240, 46, brushpen)) {
    snprintf(brush, sizeof brush, "PEN");
    platformDelay(BRUSH_SWITCH_MS);
  }
  if (isFill() && button(240, 46, brushfill ? brushfill : brushpen)) {
    snprintf(brush, sizeof brush, "PEN");
    platformDelay(BRUSH_SWITCH_MS);
  }
}

void eventMenu() {
  if (refreshMenu) {
    drawMenu();
    blitMenu();
    refreshMenu = false;
  }
  shortcutStep();
  savingStep();
  if (!navigateStep()) paintStep();  // a drag of the view or a press on the overview paints nothing
  bool prompt = joinPromptCommands();
  if (!prompt && strcmp(project.currentMenu, "main") == 0) mainMenuCommands();
  if (!prompt && strcmp(project.currentMenu, "map") == 0) mapMenuCommands();
  tabButtons();
  refreshUndoLine();
}
