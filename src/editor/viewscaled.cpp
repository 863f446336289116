// The map view zoomed out, drawn from the tilesets' mip levels (tiles
// averaged once, never the frame scaled), and the marks drawn over the map
// at every scale: its outline and the grid.
#include <stdint.h>

#include <vector>

#include "editor/editor.h"
#include "editor/navigate.h"
#include "editor/viewdraw.h"
#include "editor/zoom.h"
#include "model/model.h"
#include "net/net.h"
#include "toolkit/tilemip.h"
#include "toolkit/video.h"
#include "toolkit/viewpixels.h"

namespace {
const int kOutline[3] = {90, 110, 160};  // the map's edge, seen against the black outside it
const int kGridFine = 8;                 // cell side on screen from which every cell gets its lines
const int kGridCoarse = 8;               // below it, a line every this many cells

// The visible cells at one mip level: cols x rows from (x0, y0), the first
// starting (ox, oy) pixels left of and above the view's corner.
struct Cells {
  uint64_t x0 = 0, y0 = 0;
  int ox = 0, oy = 0, cols = 0, rows = 0, side = 0;
};

Cells visibleCells(const Map* m, int mip) {
  Cells v;
  v.side = TILE >> mip;
  uint64_t px = m->viewX >> mip, py = m->viewY >> mip;
  v.x0 = px / v.side;
  v.y0 = py / v.side;
  v.ox = (int)(px % v.side);
  v.oy = (int)(py % v.side);
  uint64_t cols = (surfaceWidth(window) + v.ox + v.side - 1) / v.side;
  uint64_t rows = (surfaceHeight(window) + v.oy + v.side - 1) / v.side;
  v.cols = (int)(v.x0 >= m->w ? 0 : m->w - v.x0 < cols ? m->w - v.x0 : cols);
  v.rows = (int)(v.y0 >= m->h ? 0 : m->h - v.y0 < rows ? m->h - v.y0 : rows);
  return v;
}

// Tiled layers between two background layers, drawn together.
struct Run {
  std::vector<const TileMip*> mips;
  std::vector<const int32_t*> cells;  // each layer's cells
  std::vector<const int32_t*> row;    // each layer's cells of the row drawn
};

bool drawRun(const Map* m, Run& run, const Cells& v, bool fromBlack) {
  int n = (int)run.mips.size();
  run.row.resize(n);
  for (int r = 0; r < v.rows; r++) {
    if (antenneWifi) return false;
    for (int i = 0; i < n; i++) run.row[i] = run.cells[i] + (v.y0 + r) * m->w + v.x0;
    tileMipDrawRow(run.mips.data(), run.row.data(), n, v.cols, window, -v.ox, r * v.side - v.oy, fromBlack);
  }
  return true;
}

int clampToView(int64_t v, int length) { return v < -1 ? -1 : v > length ? length : (int)v; }

// Lines on every cell boundary (every kGridCoarse cells when cells are
// small) within the map's rectangle [left, right) x [top, bottom) of the view.
void drawGrid(const Map* m, const ViewPlace& p, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  int W = surfaceWidth(window), H = surfaceHeight(window);
  int64_t step = (int64_t)p.cell * (p.cell >= kGridFine ? 1 : kGridCoarse);
  int y0 = clampToView(top, H), y1 = clampToView(bottom, H), x0 = clampToView(left, W), x1 = clampToView(right, W);
  if (y0 < 0) y0 = 0;
  if (x0 < 0) x0 = 0;
  for (int64_t x = left + (left < 0 ? (-left + step - 1) / step * step : 0); x < right && x < W; x += step)
    shadeRect(window, (int)x, y0, 1, y1 - y0);
  for (int64_t y = top + (top < 0 ? (-top + step - 1) / step * step : 0); y < bottom && y < H; y += step)
    shadeRect(window, x0, (int)y, x1 - x0, 1);
}
}  // namespace

namespace {
// Which layers a pass draws: all shown ones, all but one, or that one alone.
enum Pass { PASS_ALL, PASS_OTHERS, PASS_ONLY };

bool inPass(int i, Pass pass, int cur) {
  return pass == PASS_ALL || (pass == PASS_OTHERS) == (i != cur);
}

bool drawReducedPass(const Map* m, int mip, const Cells& v, Pass pass, int cur) {
  int right = v.cols * v.side - v.ox, bottom = v.rows * v.side - v.oy;
  // Background layers drawn whole at the view's corner, at the scale; the
  // tiled layers between them in runs. The layer drawn alone goes over
  // what is there.
  bool fromBlack = pass != PASS_ONLY;
  Run run;
  for (int i = 0; i <= m->layers; i++) {
    const Layer* l = i < m->layers ? m->layer[i] : nullptr;
    bool drawn = l && l->s && !layerHidden(l) && inPass(i, pass, cur);
    bool bg = drawn && l->bg;
    if (i < m->layers && !bg) {
      const TileMip* t = drawn && l->e ? tileMipGet(l->s, window, mip) : nullptr;
      if (t) {
        run.mips.push_back(t);
        run.cells.push_back(l->e);
      }
      continue;
    }
    if (run.mips.empty() && fromBlack)
      fillRect(window, 0, 0, right, bottom, 0, 0, 0);
    else if (!run.mips.empty() && !drawRun(m, run, v, fromBlack))
      return false;
    fromBlack = false;
    run.mips.clear();
    run.cells.clear();
    if (bg) {
      if (antenneWifi) return false;
      tileMipDrawImage(tileMipGet(l->s, window, mip), window, 0, 0);
    }
  }
  return true;
}
}  // namespace

bool drawMapReduced(const Map* m, int mip) {
  Cells v = visibleCells(m, mip);
  int W = surfaceWidth(window), H = surfaceHeight(window);
  int right = v.cols * v.side - v.ox, bottom = v.rows * v.side - v.oy;
  fillRect(window, right, 0, W - right, H, 0, 0, 0);
  fillRect(window, 0, bottom, right, H - bottom, 0, 0, 0);
  int cur = project.currentLayer;
  if (!viewDimsOthers() || cur < 0 || cur >= m->layers) return drawReducedPass(m, mip, v, PASS_ALL, cur);
  // H: the others dimmed, the current layer alone over them.
  if (!drawReducedPass(m, mip, v, PASS_OTHERS, cur)) return false;
  dimView(window);
  return drawReducedPass(m, mip, v, PASS_ONLY, cur);
}

void drawViewMarks(const Map* m) {
  ViewPlace p = viewPlace(m);
  int64_t left = -p.ox, top = -p.oy, right = (int64_t)m->w * p.cell - p.ox, bottom = (int64_t)m->h * p.cell - p.oy;
  if (navigate.grid) drawGrid(m, p, left, top, right, bottom);
  int W = surfaceWidth(window), H = surfaceHeight(window);
  // One pixel outside the map's rectangle, where the view shows it.
  int l = clampToView(left - 1, W), t = clampToView(top - 1, H), r = clampToView(right, W), b = clampToView(bottom, H);
  if (top - 1 >= 0 && top - 1 < H) fillRect(window, l, t, r - l + 1, 1, kOutline[0], kOutline[1], kOutline[2]);
  if (bottom >= 0 && bottom < H) fillRect(window, l, b, r - l + 1, 1, kOutline[0], kOutline[1], kOutline[2]);
  if (left - 1 >= 0 && left - 1 < W) fillRect(window, l, t, 1, b - t + 1, kOutline[0], kOutline[1], kOutline[2]);
  if (right >= 0 && right < W) fillRect(window, r, t, 1, b - t + 1, kOutline[0], kOutline[1], kOutline[2]);
  drawOverview(m);
}
