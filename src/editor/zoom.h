// The map view's scale and place: which cell of the current map lies under
// which pixel of the screen. Every conversion between the two goes through
// viewToCell and cellToView (editor.h), so painting, picking, the brushes,
// the overview and the drawing agree at every scale.
#pragma once
#include <stdint.h>

struct Map;

// Scales of the view, smallest first: 1/8, 1/4, 1/2, 1, 2, 3, 4.
const int ZOOM_LEVELS = 7;
const int ZOOM_ONE = 3;  // 1:1, the scale at start

struct ZoomState {
  int level = ZOOM_ONE;
};
extern ZoomState zoom;

// Screen pixels a cell side at a level: 2, 4, 8, 16, 32, 48, 64.
int zoomCellPixels(int level);
// The tile cache's mip level drawn at a level (3, 2, 1 below 1:1, else 0),
// and the factor pixels are repeated by (2, 3, 4 above 1:1, else 1).
int zoomMipLevel(int level);
int zoomFactor(int level);
// "1/8" .. "4".
const char* zoomName(int level);

// Where the view is: the cell side on screen and the map's pixel at the
// view's top-left corner in screen pixels (viewX and viewY times the scale,
// rounded down), at the current level.
struct ViewPlace {
  int cell;
  int64_t ox, oy;
};
ViewPlace viewPlace(const Map* m);

// Screen pixels a cell side at the current scale (the cells cellToView places).
int viewCellSide();
// The map pixel under a screen pixel (rounded toward minus infinity).
void viewToMapPixel(int screenX, int screenY, int64_t* px, int64_t* py);
// The cells of m the view shows, whole or in part: cols x rows from (x0, y0).
struct ViewRange {
  uint64_t x0 = 0, y0 = 0;
  int cols = 0, rows = 0;
};
ViewRange viewRange(const Map* m);

// The view's size in screen pixels (the view surface's).
int viewWidth();
int viewHeight();
// Keeps the view within the map: from its top-left corner to where the
// map's far edges show a margin of black (and their outline) inside the view.
void viewClamp(Map* m);
// Moves the view by (dx, dy) screen pixels, then keeps it within the map.
void viewScrollBy(Map* m, int64_t dx, int64_t dy);
// Changes the scale to `level`, keeping the map point under screen pixel
// (sx, sy) where it is (as nearly as the new scale allows); logs the scale.
// False when the level is out of range or already the current one.
bool zoomTo(Map* m, int level, int sx, int sy);
// The screen pixel at the centre of the view.
void viewCentre(int* sx, int* sy);
