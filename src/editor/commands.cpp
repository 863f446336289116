// The command handler: one turn of input turned into paints, scrolls and
// menu commands, and the two brushes.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "editor/brush.h"
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
bool isSelect() { return strcmp(brush, "SELECT") == 0; }
bool fillArmed = true;  // one fill per press


void setBrush(const char* b) {
  brush_square_state = false;
  snprintf(brush, sizeof brush, "%s", b);
  printf("%s\n", brush);
  setMenu(project.currentMenu);  // the brush picture
}

// Keys act once per press: each key-down event of the frame once.
void shortcut(int k, unsigned mods) {
  bool ctrl = (mods & MOD_CTRL) || inputCtrlHeld();
  bool shift = (mods & MOD_SHIFT) || inputShiftHeld();
  bool edit = (ctrl && (k == KEY_Z || k == KEY_Y || k == KEY_X || k == KEY_V)) || (!ctrl && k == KEY_DELETE);
  if (viewOnlyRefused(edit)) return;
  if (ctrl && k == KEY_Z && !shift) {
    if (historyUndo()) setMenu(project.currentMenu);
  } else if (ctrl && (k == KEY_Y || k == KEY_Z)) {
    if (historyRedo()) setMenu(project.currentMenu);
  } else if (ctrl && k == KEY_S) {
    saveAllCommand();
  } else if (!ctrl && k == KEY_DELETE && strcmp(project.currentMenu, "entities") == 0) {
    entityDeleteSelected();
  } else if (ctrl && (k == KEY_C || k == KEY_X)) {
    copySelection(k == KEY_X);
  } else if (ctrl && k == KEY_V) {
    pasteClipboard();
  } else if (!ctrl && k == KEY_DELETE) {
    deleteSelection();
  } else if (!ctrl && k == KEY_F) {
    setBrush("FILL");
  } else if (!ctrl && k == KEY_R) {
    setBrush("SQUARE");
  } else if (!ctrl && k == KEY_B) {
    setBrush("PEN");
  } else if (!ctrl && k == KEY_S) {
    setBrush("SELECT");
  }
}

void shortcutStep() {
  for (int i = 0; i < inputFrame.keyCount; i++) shortcut(inputFrame.keys[i].key, inputFrame.keys[i].mods);
}

// Alt+click: the tile under the pointer becomes the element, its palette row shown.
void pickTile(Map* m) {
  Layer* l = currentLayerOrNull(m);
  unsigned long x = getElementX(), y = getElementY();
  if (!l || x >= m->w || y >= m->h) return;
  int32_t e = l->e[(size_t)y * m->w + x];
  if (e < 0) return;
  project.currentElement = e;
  brushState.stamp = Stamp();
  paletteShow(e);
  printf("Element %d pris en %ldx%ld.\n", e, (long)x, (long)y);
  setMenu(project.currentMenu);
}

// Paints (or erases) the stamp with its top-left tile on cell (x, y).
void placeStamp(Map* m, long x, long y, bool erase) {
  if (stampActive()) {
    std::vector<CellRun> runs;
    stampRuns(brushState.stamp, x, y, m, erase, runs);
    return paintCells(m, project.currentLayer, runs, "pen stroke");
  }
  // Where the view is wider or taller than the map there is no cell: the
  // paint is dropped here rather than sent to the peers.
  if (x < 0 || y < 0 || x >= (long)m->w || y >= (long)m->h) return;
  historyOpen("pen stroke");
  LocalEdit local;
  action_SetElementAbsolute(m->filename, project.currentLayer, (unsigned long)x, (unsigned long)y,
                            erase ? 0 : project.currentElement);
}

// The pen along the pointer's path of this frame: every cell between two
// samples, from the cell painted last, while a button is held in the view.
void penStroke(Map* m) {
  BrushState& b = brushState;
  Layer* l = currentLayerOrNull(m);
  bool painted = false;
  for (int i = 0; i < inputFrame.pathLen; i++) {
    const InputPoint& p = inputFrame.path[i];
    bool left = p.buttons & BUTTON_LEFT, right = !left && (p.buttons & BUTTON_RIGHT);
    if ((!left && !right) || p.x <= PANEL_WIDTH || !l) {
      b.stroke = false;
      continue;
    }
    if (left && !stampFits(b.stamp, l)) {
      if (!b.refusedShown) {
        setPanelMessage(project.currentMenu, "Tampon d'un autre tileset: Echap, ou le layer de la copie.");
        setMenu(project.currentMenu);
        printf("Tampon refuse: autre tileset.\n");
      }
      b.refusedShown = true;
      continue;
    }
    long x, y;
    viewToCell(p.x, p.y, &x, &y);
    if (b.stroke && b.strokeErases == right && b.lastX == x && b.lastY == y) continue;
    painted = true;
    if (b.stroke && b.strokeErases == right) {
      std::vector<CellPos> line = cellLine(b.lastX, b.lastY, x, y);
      for (size_t k = 1; k < line.size(); k++) placeStamp(m, line[k].x, line[k].y, right);
    } else {
      placeStamp(m, x, y, right);
    }
    b.stroke = true;
    b.strokeErases = right;
    b.lastX = x;
    b.lastY = y;
  }
  // The single-tile pen held still writes its cell again every frame, as it
  // always has (a stamp only where it moves).
  if (!painted && b.stroke && !stampActive()) placeStamp(m, b.lastX, b.lastY, b.strokeErases);
}

// The cell of m under screen point (sx, sy), brought onto the map.
void cellOnMap(const Map* m, int sx, int sy, uint32_t* x, uint32_t* y) {
  long cx, cy;
  viewToCell(sx, sy, &cx, &cy);
  *x = (uint32_t)(cx < 0 ? 0 : cx >= (long)m->w ? (long)m->w - 1 : cx);
  *y = (uint32_t)(cy < 0 ? 0 : cy >= (long)m->h ? (long)m->h - 1 : cy);
}

// The selection tool: the left button, pressed in the view, marks the cells
// from where it was pressed to the cell under the pointer, also past the
// view's edge.
void selectStep(Map* m) {
  BrushState& b = brushState;
  if (!leftClic || !m || m->w == 0 || m->h == 0 || (!b.selecting && mouseX <= PANEL_WIDTH)) {
    b.selecting = false;
    return;
  }
  if (!b.selecting) {
    // The press may lie earlier on this frame's path.
    int px = mouseX, py = mouseY;
    for (int i = 0; i < inputFrame.pathLen; i++)
      if ((inputFrame.path[i].buttons & BUTTON_LEFT) && inputFrame.path[i].x > PANEL_WIDTH) {
        px = inputFrame.path[i].x, py = inputFrame.path[i].y;
        break;
      }
    cellOnMap(m, px, py, &b.anchorX, &b.anchorY);
    b.selecting = true;
  }
  uint32_t x, y;
  cellOnMap(m, mouseX, mouseY, &x, &y);
  b.hasSelection = true;
  b.selection.x1 = std::min(b.anchorX, x), b.selection.x2 = std::max(b.anchorX, x);
  b.selection.y1 = std::min(b.anchorY, y), b.selection.y2 = std::max(b.anchorY, y);
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
  if (!stampActive())
    return action_SetElementSquare(m->filename, project.currentLayer, x1, y1, x2, y2,
                                   project.currentElement);
  // A stamp is repeated from the rectangle's top-left corner; while the
  // button is held it is written again only when the corner moves.
  BrushState& b = brushState;
  if (b.squareFilled && b.squareX2 == brush_squareX2 && b.squareY2 == brush_squareY2) return;
  if (!stampFits(b.stamp, currentLayerOrNull(m))) return;
  b.squareFilled = true;
  b.squareX2 = brush_squareX2;
  b.squareY2 = brush_squareY2;
  std::vector<CellRun> runs;
  CellRect r;
  r.x1 = (uint32_t)x1, r.y1 = (uint32_t)y1, r.x2 = (uint32_t)x2, r.y2 = (uint32_t)y2;
  stampTileRuns(b.stamp, r, runs);
  paintCells(m, project.currentLayer, runs, "rectangle");
}

void paintStep() {
  Map* m = currentMapOrNull();
  bool inView = mouseX > PANEL_WIDTH;
  if (entitiesMapStep()) return;  // the entities menu places and moves instead of painting
  if (!leftClic && !rightClic) {
    historyClose();  // a stroke or a rectangle ends with the release
    fillArmed = true;
    brushState.stroke = brushState.refusedShown = brushState.squareFilled = false;
  }
  if (hiddenLayerRefused((leftClic || rightClic) && inView)) return;
  if (leftClic && inView && inputAltHeld()) return pickTile(m);
  if (isSelect()) return selectStep(m);
  if ((leftClic || rightClic) && inView && netViewOnly()) {  // told once a press
    if (!brushState.refusedShown) viewOnlyRefused(true);
    brushState.refusedShown = true;
    return;
  }
  if (isPen() && currentLayerExists(m)) penStroke(m);
  if (leftClic && inView) {
    if (isSquare()) {
      brush_squareX1 = getElementX();
      brush_squareY1 = getElementY();
      brush_square_state = true;
      brushState.squareFilled = false;
    }
    if (isFill()) fillHere(m, project.currentElement);
  }
  if (rightClic && inView) {
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
  // The picture shows the brush in use; a click switches the pen to the
  // rectangle and the others to the pen.
  if (isPen() && button(240, 46, brushpen)) {
    snprintf(brush, sizeof brush, "SQUARE");
    platformDelay(BRUSH_SWITCH_MS);
  }
  if (isSquare() && button(240, 46, brushsquare)) {
    snprintf(brush, sizeof brush, "PEN");
    platformDelay(BRUSH_SWITCH_MS);
  }
  if (isSelect() && button(240, 46, brushpen)) {
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
  viewKeysStep();
  savingStep();
  if (!navigateStep()) paintStep();  // a drag of the view or a press on the overview paints nothing
  bool prompt = joinPromptCommands();
  if (!prompt && strcmp(project.currentMenu, "main") == 0) mainMenuCommands();
  if (!prompt && strcmp(project.currentMenu, "map") == 0) mapMenuCommands();
  if (!prompt && strcmp(project.currentMenu, "entities") == 0) entitiesMenuCommands();
  tabButtons();
  presenceStep();
  refreshUndoLine();
}
