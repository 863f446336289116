// Getting around the map view: zoom keys and Ctrl+wheel, dragging the view
// (middle button, or Space and the left button), the arrow keys (Shift: a
// view at a time), the pointer near the view's edges, the overview (M) and
// the grid (G).
#pragma once
#include <stdint.h>

struct Map;

struct NavigateState {
  bool grid = false;      // G: cell lines over the map
  bool overview = false;  // M: the whole map in a corner of the view
  // A drag that moves the view: the button that holds it (0: none, 1 left
  // with Space, 2 middle), where it started and the view then.
  int dragButton = 0;
  int dragX = 0, dragY = 0;
  uint32_t dragViewX = 0, dragViewY = 0;
  bool dragMoved = false;        // the pointer left its start: a drag, not a click
  bool middleClicked = false;    // a middle click without motion ended this turn
  bool overviewHeld = false;     // the left button went down on the overview and is held
  bool leftBefore = false;       // the left button was held last turn (a press is a new hold)
};
extern NavigateState navigate;

// One turn of navigation input. True while the pointer's buttons belong to
// it (a drag, a press on the overview): the map is then not painted.
bool navigateStep();

// The overview's place on the screen for map m: false when it is hidden.
bool overviewRect(const Map* m, int* x, int* y, int* w, int* h);
// Centres the view on the map point the overview shows at screen (sx, sy).
void overviewMoveView(Map* m, int sx, int sy);
