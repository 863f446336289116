// Stamps and strokes: the cells a stroke crosses, a stamp's cells at a place
// or repeated over a rectangle, stamps cut from the palette or the map, and
// the one place painted cells become an undo step and network actions.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "net/net.h"
#include "platform/os.h"

BrushState brushState;

namespace {
const uint32_t kWaitingShownMs = 500;
}  // namespace

bool stampActive() {
  const Stamp& s = brushState.stamp;
  return s.copied || (uint64_t)s.w * s.h > 1;
}

std::vector<CellPos> cellLine(long x0, long y0, long x1, long y1) {
  std::vector<CellPos> cells;
  long dx = labs(x1 - x0), dy = -labs(y1 - y0);
  long sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
  cells.reserve((size_t)(dx > -dy ? dx : -dy) + 1);
  for (;;) {
    cells.push_back({x0, y0});
    if (x0 == x1 && y0 == y1) break;
    long e2 = 2 * err;
    if (e2 >= dy) err += dy, x0 += sx;
    if (e2 <= dx) err += dx, y0 += sy;
  }
  return cells;
}

void stampRuns(const Stamp& s, long x, long y, const Map* m, bool erase, std::vector<CellRun>& out) {
  if (!m || s.cells.size() != (size_t)s.w * s.h) return;
  for (uint32_t r = 0; r < s.h; r++) {
    long cy = y + (long)r;
    if (cy < 0 || cy >= (long)m->h) continue;
    for (uint32_t c = 0; c < s.w; c++) {
      long cx = x + (long)c;
      if (cx < 0 || cx >= (long)m->w) continue;
      int32_t v = erase ? 0 : s.cells[(size_t)r * s.w + c];
      CellRun* last = out.empty() ? nullptr : &out.back();
      if (last && last->y == (uint32_t)cy && last->x + last->n == (uint32_t)cx && last->after == v)
        last->n++;  // equal neighbours: one run
      else
        out.push_back({(uint32_t)cx, (uint32_t)cy, 1, 0, v});
    }
  }
}

void stampTileRuns(const Stamp& s, const CellRect& r, std::vector<CellRun>& out) {
  if (s.w == 0 || s.h == 0 || s.cells.size() != (size_t)s.w * s.h) return;
  for (uint32_t y = r.y1; y <= r.y2; y++) {
    const int32_t* row = &s.cells[(size_t)((y - r.y1) % s.h) * s.w];
    for (uint32_t x = r.x1; x <= r.x2; x++) out.push_back({x, y, 1, 0, row[(x - r.x1) % s.w]});
  }
}

Stamp stampOfCells(const Map* m, const Layer* l, const CellRect& r) {
  Stamp s;
  s.w = r.x2 - r.x1 + 1;
  s.h = r.y2 - r.y1 + 1;
  s.cells.reserve((size_t)s.w * s.h);
  for (uint32_t y = r.y1; y <= r.y2; y++)
    for (uint32_t x = r.x1; x <= r.x2; x++) s.cells.push_back(l->e[(size_t)y * m->w + x]);
  s.tileset = l->layerGFX ? l->layerGFX : "";
  return s;
}

bool stampFits(const Stamp& s, const Layer* l) {
  if (!l) return false;
  return !s.copied || s.tileset == (l->layerGFX ? l->layerGFX : "");
}

long long paletteElement(int c, int r, long long perRow, long long cells, long firstCol, long firstRow) {
  long long col = firstCol + (long long)c, row = firstRow + (long long)r;
  if (perRow <= 0 || c < 0 || r < 0 || col >= perRow) return -1;
  long long n = row * perRow + col;
  return n < cells ? n : -1;
}

Stamp paletteStamp(long col1, long row1, long col2, long row2, long long perRow, long long cells,
                   const char* tileset) {
  Stamp s;
  long x1 = col1 < col2 ? col1 : col2, x2 = col1 < col2 ? col2 : col1;
  long y1 = row1 < row2 ? row1 : row2, y2 = row1 < row2 ? row2 : row1;
  s.w = (uint32_t)(x2 - x1 + 1);
  s.h = (uint32_t)(y2 - y1 + 1);
  for (long y = y1; y <= y2; y++)
    for (long x = x1; x <= x2; x++) {
      long long n = paletteElement((int)(x - x1), (int)(y - y1), perRow, cells, x1, y1);
      s.cells.push_back(n < 0 ? 0 : (int32_t)n);  // past the sheet: the empty tile
    }
  s.tileset = tileset ? tileset : "";
  return s;
}

void paintCells(Map* m, int layer, std::vector<CellRun>& runs, const char* label) {
  if (!m || runs.empty()) return;
  historyOpen(label);
  LocalEdit local;
  historyCapture(m, layer, runs);
  action_setCells(m, layer, runs);
  // More than the peers' queues take at once goes out over the next
  // seconds; the panel says so, redrawn at most twice a second.
  static uint32_t shownAt = 0;
  size_t waiting = outboxPending();
  if (waiting && platformTicks() - shownAt >= kWaitingShownMs) {
    shownAt = platformTicks();
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Envoi aux pairs par tranches: %zu actions.", waiting);
    setPanelMessage(project.currentMenu, text);
    setMenu(project.currentMenu);
  }
}
