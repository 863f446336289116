// The view's scale and place, and the conversions between screen pixels and
// map cells that everything else uses.
#include "editor/zoom.h"

#include <math.h>
#include <stdio.h>

#include "core/core.h"
#include "editor/editor.h"
#include "model/model.h"
#include "toolkit/video.h"

ZoomState zoom;

namespace {
struct Scale {
  int cell;          // screen pixels a cell side
  int mip;           // tile cache mip level drawn (0: none)
  int factor;        // pixels repeated (1: none)
  const char* name;
};
const Scale kScales[ZOOM_LEVELS] = {
    {2, 3, 1, "1/8"}, {4, 2, 1, "1/4"}, {8, 1, 1, "1/2"}, {16, 0, 1, "1"},
    {32, 0, 2, "2"},  {48, 0, 3, "3"},  {64, 0, 4, "4"},
};
// Screen pixels of black the view may show past the map's right and bottom
// edges: there the map's outline is always in reach.
const int64_t kFarMargin = TILE;

const Scale& scaleOf(int level) {
  return kScales[level < 0 ? 0 : level >= ZOOM_LEVELS ? ZOOM_LEVELS - 1 : level];
}

int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The largest view position (map pixels) along one axis: the map's far
// edge kFarMargin pixels inside a view `view` pixels long, or 0.
uint32_t farthest(uint32_t cells, int view, int cell) {
  int64_t screenPixels = (int64_t)cells * cell + kFarMargin - view;
  if (screenPixels <= 0) return 0;
  int64_t mapPixels = screenPixels * TILE / cell;
  return mapPixels > UINT32_MAX ? UINT32_MAX : (uint32_t)mapPixels;
}

// Far past any view, either way: a cell's corner that still fits an int.
int toInt(int64_t v) { return v < -(1 << 30) ? -(1 << 30) : v > (1 << 30) ? (1 << 30) : (int)v; }

uint32_t toView(double mapPixels) {
  if (!(mapPixels > 0)) return 0;
  return mapPixels >= (double)UINT32_MAX ? UINT32_MAX : (uint32_t)llround(mapPixels);
}
}  // namespace

int zoomCellPixels(int level) { return scaleOf(level).cell; }
int zoomMipLevel(int level) { return scaleOf(level).mip; }
int zoomFactor(int level) { return scaleOf(level).factor; }
const char* zoomName(int level) { return scaleOf(level).name; }

ViewPlace viewPlace(const Map* m) {
  ViewPlace p;
  p.cell = zoomCellPixels(zoom.level);
  p.ox = m ? (int64_t)m->viewX * p.cell / TILE : 0;
  p.oy = m ? (int64_t)m->viewY * p.cell / TILE : 0;
  return p;
}

void viewToCell(int screenX, int screenY, long* col, long* row) {
  ViewPlace p = viewPlace(currentMapOrNull());
  *col = (long)floorDiv(p.ox + screenX - PANEL_WIDTH, p.cell);
  *row = (long)floorDiv(p.oy + screenY, p.cell);
}

void cellToView(long col, long row, int* x, int* y) {
  ViewPlace p = viewPlace(currentMapOrNull());
  *x = toInt((int64_t)col * p.cell - p.ox);
  *y = toInt((int64_t)row * p.cell - p.oy);
}

int viewCellSide() { return zoomCellPixels(zoom.level); }

void viewToMapPixel(int screenX, int screenY, int64_t* px, int64_t* py) {
  ViewPlace p = viewPlace(currentMapOrNull());
  *px = floorDiv((p.ox + screenX - PANEL_WIDTH) * TILE, p.cell);
  *py = floorDiv((p.oy + screenY) * TILE, p.cell);
}

void viewCellOrigin(const Map* m, int64_t cx, int64_t cy, int64_t* x, int64_t* y) {
  ViewPlace p = viewPlace(m);
  *x = cx * p.cell - p.ox;
  *y = cy * p.cell - p.oy;
}

ViewRange viewRange(const Map* m) {
  ViewRange r;
  if (!m) return r;
  ViewPlace p = viewPlace(m);
  int64_t x0 = floorDiv(p.ox, p.cell), y0 = floorDiv(p.oy, p.cell);
  int64_t x1 = floorDiv(p.ox + viewWidth() + p.cell - 1, p.cell), y1 = floorDiv(p.oy + viewHeight() + p.cell - 1, p.cell);
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > (int64_t)m->w) x1 = m->w;
  if (y1 > (int64_t)m->h) y1 = m->h;
  r.x0 = (uint64_t)x0, r.y0 = (uint64_t)y0;
  r.cols = x1 > x0 ? (int)(x1 - x0) : 0;
  r.rows = y1 > y0 ? (int)(y1 - y0) : 0;
  return r;
}

int viewWidth() { return surfaceWidth(window); }
int viewHeight() { return surfaceHeight(window); }

void viewClamp(Map* m) {
  if (!m) return;
  int cell = zoomCellPixels(zoom.level);
  uint32_t maxX = farthest(m->w, viewWidth(), cell), maxY = farthest(m->h, viewHeight(), cell);
  if (m->viewX > maxX) m->viewX = maxX;
  if (m->viewY > maxY) m->viewY = maxY;
}

void viewScrollBy(Map* m, int64_t dx, int64_t dy) {
  if (!m) return;
  int cell = zoomCellPixels(zoom.level);
  m->viewX = toView(m->viewX + (double)dx * TILE / cell);
  m->viewY = toView(m->viewY + (double)dy * TILE / cell);
  viewClamp(m);
}

bool zoomTo(Map* m, int level, int sx, int sy) {
  if (level < 0 || level >= ZOOM_LEVELS || level == zoom.level) return false;
  ViewPlace before = viewPlace(m);
  int after = zoomCellPixels(level);
  // The map point (in map pixels) at the centre of the pointer's pixel.
  double vx = sx - PANEL_WIDTH + 0.5, vy = sy + 0.5;
  double px = (before.ox + vx) * TILE / before.cell, py = (before.oy + vy) * TILE / before.cell;
  zoom.level = level;
  if (m) {
    m->viewX = toView(px - vx * TILE / after);
    m->viewY = toView(py - vy * TILE / after);
    viewClamp(m);
  }
  printf("Zoom %s\n", zoomName(level));
  return true;
}

void viewCentre(int* sx, int* sy) {
  *sx = PANEL_WIDTH + viewWidth() / 2;
  *sy = viewHeight() / 2;
}
