// Getting around the map view, one turn of input at a time: the zoom keys
// and Ctrl+wheel, the overview and grid keys, dragging the view, the arrow
// keys and the pointer near the view's edges.
#include "editor/navigate.h"

#include <stdio.h>
#include <stdlib.h>

#include "editor/editor.h"
#include "editor/menu.h"
#include "editor/zoom.h"
#include "model/model.h"
#include "platform/os.h"

NavigateState navigate;

namespace {
const int kEdgeZone = 16;  // the pointer this close to the view's edges scrolls it
const int kDragStart = 3;  // pixels a middle press moves before it is a drag, not a click
const int kLeft = 1, kMiddle = 2;

bool overPanel() { return mouseX < PANEL_WIDTH; }

bool overOverview(const Map* m) {
  int x, y, w, h;
  return overviewRect(m, &x, &y, &w, &h) && mouseX >= x && mouseX < x + w && mouseY >= y && mouseY < y + h;
}

// Zoom around the pointer over the view, else around the view's centre.
void zoomBy(Map* m, int levels, bool atPointer) {
  int x = mouseX, y = mouseY;
  if (!atPointer || overPanel()) viewCentre(&x, &y);
  zoomTo(m, zoom.level + levels, x, y);
}

// Keys act once per press, on the turn that takes their key-down event.
void viewKey(Map* m, int k, unsigned mods) {
  bool shift = (mods & MOD_SHIFT) || inputShiftHeld();
  switch (k) {
    case KEY_PLUS: case KEY_EQUALS: case KEY_KP_PLUS: zoomBy(m, 1, false); break;
    case KEY_MINUS: case KEY_KP_MINUS: zoomBy(m, -1, false); break;
    case KEY_0: case KEY_KP0: zoomBy(m, ZOOM_ONE - zoom.level, false); break;
    case KEY_M:
      navigate.overview = !navigate.overview;
      if (navigate.overview) {
        int x, y, w, h;
        if (overviewRect(m, &x, &y, &w, &h)) printf("Apercu de la map en %dx%d (%dx%d).\n", x, y, w, h);
      }
      break;
    case KEY_G: navigate.grid = !navigate.grid; break;
    default:
      if (!shift || !m) break;
      // Shift+arrow: a whole view at a time.
      if (k == KEY_RIGHT) viewScrollBy(m, viewWidth(), 0);
      if (k == KEY_LEFT) viewScrollBy(m, -viewWidth(), 0);
      if (k == KEY_DOWN) viewScrollBy(m, 0, viewHeight());
      if (k == KEY_UP) viewScrollBy(m, 0, -viewHeight());
  }
}

void viewKeys(Map* m) {
  for (int i = 0; i < inputFrame.keyCount; i++) viewKey(m, inputFrame.keys[i].key, inputFrame.keys[i].mods);
}

// A drag of the view in progress or starting; true while it holds the pointer.
bool dragStep(Map* m) {
  NavigateState& n = navigate;
  if (n.dragButton) {
    if (!(n.dragButton == kMiddle ? middleClic : leftClic)) {
      n.middleClicked = n.dragButton == kMiddle && !n.dragMoved;
      n.dragButton = 0;
      return false;
    }
    if (abs(mouseX - n.dragX) + abs(mouseY - n.dragY) >= kDragStart) n.dragMoved = true;
    if (n.dragMoved && m && !(n.dragButton == kMiddle && n.dragX < PANEL_WIDTH)) {
      // The map point under the pointer at the start follows the pointer.
      m->viewX = n.dragViewX;
      m->viewY = n.dragViewY;
      viewScrollBy(m, n.dragX - mouseX, n.dragY - mouseY);
    }
    return true;
  }
  bool spaceDrag = leftClic && !navigate.leftBefore && !overPanel() && inputKeyHeld(KEY_SPACE);
  if (!middleClic && !spaceDrag) return false;
  n.dragButton = middleClic ? kMiddle : kLeft;
  n.dragX = mouseX;
  n.dragY = mouseY;
  n.dragViewX = m ? m->viewX : 0;
  n.dragViewY = m ? m->viewY : 0;
  n.dragMoved = n.dragButton == kLeft;
  return true;
}

// A left press on the overview moves the view there, and keeps moving it
// while the button is held.
bool overviewStep(Map* m) {
  if (navigate.overviewHeld && !leftClic) navigate.overviewHeld = false;
  if (!navigate.overviewHeld && leftClic && !navigate.leftBefore && overOverview(m)) navigate.overviewHeld = true;
  if (!navigate.overviewHeld) return false;
  overviewMoveView(m, mouseX, mouseY);
  return true;
}

// An arrow pressed during this frame without Shift, or still the last event
// taken (a held key scrolls every turn until another event comes).
bool arrowDown(int key) {
  for (int i = 0; i < inputFrame.keyCount; i++)
    if (inputFrame.keys[i].key == key && !(inputFrame.keys[i].mods & MOD_SHIFT)) return true;
  int k;
  unsigned mods = 0;
  return inputKeyPressed(&k, &mods) && k == key && !(mods & MOD_SHIFT);
}

// The arrow keys and the pointer near the view's edges scroll by one cell
// at 1:1 and above, 16 pixels below.
void scrollStep(Map* m) {
  int right = PANEL_WIDTH + viewWidth(), bottom = viewHeight();
  // Within the view only: a drag held past the window reports points outside it.
  bool edges = inputPointerInside() && !overPanel() && mouseX < right && mouseY >= 0 && mouseY < bottom;
  int cell = zoomCellPixels(zoom.level), step = cell > force ? cell : force;
  int dx = 0, dy = 0;
  if (arrowDown(KEY_RIGHT) || (edges && mouseX >= right - kEdgeZone)) dx += step;
  if (arrowDown(KEY_LEFT) || (edges && mouseX < PANEL_WIDTH + kEdgeZone)) dx -= step;
  if (arrowDown(KEY_DOWN) || (edges && mouseY >= bottom - kEdgeZone)) dy += step;
  if (arrowDown(KEY_UP) || (edges && mouseY < kEdgeZone)) dy -= step;
  if (dx || dy) viewScrollBy(m, dx, dy);
}
}  // namespace

bool navigateStep() {
  Map* m = currentMapOrNull();
  navigate.middleClicked = false;
  viewKeys(m);
  if ((wheelUp || wheelDown) && inputCtrlHeld()) zoomBy(m, wheelUp ? 1 : -1, true);
  viewClamp(m);  // also after the view's size changed
  bool taken = navigate.dragButton ? dragStep(m) : overviewStep(m) || dragStep(m);
  if (!taken && m) scrollStep(m);
  navigate.leftBefore = leftClic;
  return taken;
}
