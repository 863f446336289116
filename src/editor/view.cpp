// The map view: every layer of the current map, bottom-up, into `window`.
// Tiled layers are drawn from the tileset's tile cache, which gives the same
// pixels as blitting each tile from the sheet, only faster. Cells are drawn
// one at a time through all their layers (the cell's pixels stay in the
// processor's cache), starting from the highest layer whose tile there is
// opaque: everything under it would be covered exactly, so it is not drawn.
// Zoomed in, the map is drawn so at 1:1 into a smaller picture whose pixels
// are then repeated; zoomed out, from the tilesets' mip levels
// (viewscaled.cpp). The marks over the map (its outline, the grid, the
// overview) come last.
#include <stdint.h>

#include <vector>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/viewdraw.h"
#include "editor/zoom.h"
#include "model/model.h"
#include "net/net.h"
#include "core/core.h"
#include "toolkit/tilecache.h"
#include "toolkit/video.h"
#include "toolkit/viewpixels.h"

namespace {
void drawMap();

// What one layer contributes to this frame.
struct LayerPlan {
  Layer* l = nullptr;
  const TileCache* cache = nullptr;  // null: drawn from the sheet
  bool tiled = false;                // cells to draw
  bool bg = false;                   // whole image at the view's corner
};

// The visible part of the map: cols x rows cells from (x0, y0), the first
// ones starting (ox, oy) pixels left of and above the picture's corner.
struct ViewCells {
  uint64_t x0 = 0, y0 = 0;
  int ox = 0, oy = 0;
  int cols = 0, rows = 0;
};

// Tiles past the sheet have no pixels; the sheet blit would wrap their
// 16-bit source rectangle back into the sheet, so they are not drawn at all.
void blitFromSheet(Layer* l, SDL_Surface* dst, int x, int y, int element) {
  long long perRow = surfaceWidth(l->s) / TILE, rows = (surfaceHeight(l->s) + TILE - 1) / TILE;
  if (element >= 0 && element < perRow * rows && element / perRow * TILE <= INT16_MAX)
    blitPart(l->s, (int)(element % perRow * TILE), (int)(element / perRow * TILE), TILE, TILE, dst, x, y);
}

std::vector<LayerPlan> planLayers(const Map* m) {
  std::vector<LayerPlan> plan(m->layers);
  for (int i = 0; i < m->layers; i++) {
    Layer* l = m->layer[i];
    // A layer whose tileset failed to load, or hidden here, has nothing to show.
    if (!l || !l->s || layerHidden(l)) continue;
    plan[i].l = l;
    if (l->bg) {
      plan[i].bg = true;
    } else if (surfaceWidth(l->s) >= TILE && l->e) {  // else no whole tile to take
      plan[i].tiled = true;
      plan[i].cache = tileCacheGet(l->s, window);
    }
  }
  return plan;
}

// The cells of a picture of dst's size whose top-left pixel is map pixel
// (px, py). Cells right of or below the map stay black.
ViewCells viewCells(const Map* m, SDL_Surface* dst, uint32_t px, uint32_t py) {
  ViewCells v;
  v.x0 = px / TILE;
  v.y0 = py / TILE;
  v.ox = (int)(px % TILE);
  v.oy = (int)(py % TILE);
  uint64_t cols = (surfaceWidth(dst) + v.ox + TILE - 1) / TILE, rows = (surfaceHeight(dst) + v.oy + TILE - 1) / TILE;
  v.cols = (int)(v.x0 >= m->w ? 0 : m->w - v.x0 < cols ? m->w - v.x0 : cols);
  v.rows = (int)(v.y0 >= m->h ? 0 : m->h - v.y0 < rows ? m->h - v.y0 : rows);
  return v;
}

void fillBlack(SDL_Surface* dst, int x, int y, int w, int h) { fillRect(dst, x, y, w, h, 0, 0, 0); }

// A cell's square black; cut at the picture's edges.
void fillCellBlack(SDL_Surface* dst, int x, int y) {
  if (x >= 0 && y >= 0 && x <= surfaceWidth(dst) - TILE && y <= surfaceHeight(dst) - TILE)
    fillCell(dst, x, y, TILE, 0, 0, 0);
  else
    fillBlack(dst, x, y, TILE, TILE);
}

// For each cell of view row r, the lowest layer that shows there: the
// highest tiled layer whose tile is opaque, or -1 where no opaque tile hides
// the black under the map.
void findFirstLayers(const Map* m, const std::vector<LayerPlan>& plan, const ViewCells& v, int r,
                     int* first) {
  uint64_t rowAt = (v.y0 + r) * m->w + v.x0;
  for (int c = 0; c < v.cols; c++) {
    int top = -1;
    for (int i = m->layers - 1; i >= 0 && top < 0; i--)
      if (plan[i].tiled && tileCacheOpaque(plan[i].cache, plan[i].l->e[rowAt + c])) top = i;
    first[c] = top;
  }
}

// Tiled layers [i, to) of one cell: those with a tile cache a run at a time
// (one call), those drawn from the sheet in between. `under`: the colour the
// first run starts from, its layer i cached.
void drawCellLayers(const std::vector<LayerPlan>& plan, SDL_Surface* dst, uint64_t at, int i, int to, int x,
                    int y, const uint32_t* under) {
  const TileCache* caches[TILE_CELL_RUN];
  int elements[TILE_CELL_RUN], run = 0;
  for (; i <= to; i++) {
    bool cached = i < to && plan[i].tiled && plan[i].cache;
    if (cached && tileCacheDraws(plan[i].cache, plan[i].l->e[at])) {
      caches[run] = plan[i].cache;
      elements[run++] = plan[i].l->e[at];
    }
    if ((run || under) && (!cached || run == TILE_CELL_RUN)) {
      tileCacheDrawCell(caches, elements, run, dst, x, y, under);
      run = 0;
      under = nullptr;
    }
    if (!cached && i < to && plan[i].tiled) blitFromSheet(plan[i].l, dst, x, y, plan[i].l->e[at]);
  }
}

// Draws layers [from, to) of view row r, cell by cell, each cell from its
// first layer up. A cell that starts black gets its black with its bottom
// tile when that layer is in this run (the tile's holes written once), or
// first thing otherwise; its first layer is 0 from then on.
void drawCells(const Map* m, const std::vector<LayerPlan>& plan, SDL_Surface* dst, const ViewCells& v, int r,
               int* first, int from, int to) {
  uint64_t rowAt = (v.y0 + r) * m->w + v.x0;
  uint32_t black = mapRGB(dst, 0, 0, 0);
  int W = surfaceWidth(dst), H = surfaceHeight(dst);
  for (int c = 0; c < v.cols; c++) {
    int x = c * TILE - v.ox, y = r * TILE - v.oy;
    // A cell cut by the picture's edges is drawn whole on a cell of its
    // own, over what the picture holds there, and its visible part copied
    // back: the tiles' fast whole rows instead of pixel by pixel.
    SDL_Surface* on = dst;
    int cx = x, cy = y, vx = x < 0 ? -x : 0, vy = y < 0 ? -y : 0;
    int vw = (x + TILE < W ? TILE : W - x) - vx, vh = (y + TILE < H ? TILE : H - y) - vy;
    bool cut = vw < TILE || vh < TILE;
    if (cut && (on = viewScratch(SCRATCH_CELL, dst, TILE, TILE))) {
      copyPixels(dst, x + vx, y + vy, vw, vh, on, vx, vy);
      cx = cy = 0;
    } else {
      on = dst;
    }
    int i = first[c] > from ? first[c] : from;
    const uint32_t* under = nullptr;
    if (first[c] < 0) {
      first[c] = 0;
      if (to > 0 && plan[0].tiled && plan[0].cache)
        under = &black;
      else
        fillCellBlack(on, cx, cy);
    }
    drawCellLayers(plan, on, rowAt + c, i, to, cx, cy, under);
    if (on != dst) copyPixels(on, vx, vy, vw, vh, dst, x + vx, y + vy);
  }
}

// Draws the tiled layers [from, to) (no background layer among them) over
// the view's cells; with from 0, also starts each cell. False: network
// traffic began and drawing stopped, with the rows not drawn left black.
bool drawLayers(const Map* m, const std::vector<LayerPlan>& plan, SDL_Surface* dst, const ViewCells& v,
                std::vector<int>& first, int from, int to) {
  for (int r = 0; r < v.rows; r++) {
    if (antenneWifi) {
      int y = r * TILE - v.oy;
      if (from == 0) fillBlack(dst, 0, y, surfaceWidth(dst), surfaceHeight(dst) - y);
      return false;
    }
    int* rowFirst = &first[(size_t)r * v.cols];
    if (from == 0) findFirstLayers(m, plan, v, r, rowFirst);
    drawCells(m, plan, dst, v, r, rowFirst, from, to);
  }
  return true;
}

// Every planned layer bottom-up into dst. A background layer is drawn whole
// in its place; the tiled layers between two of them are drawn cell by
// cell. An opaque tile above a background layer covers its cell after the
// background is drawn, so the cell's first layer holds across background
// layers. False when network traffic stopped the drawing.
bool drawPlanned(const Map* m, const std::vector<LayerPlan>& plan, SDL_Surface* dst, const ViewCells& v) {
  std::vector<int> first((size_t)v.rows * v.cols);  // each cell's first layer, found with the first rows
  int from = 0;
  for (int i = 0; i <= m->layers; i++) {
    if (i < m->layers && !plan[i].bg) continue;
    if (!drawLayers(m, plan, dst, v, first, from, i)) return false;
    if (i < m->layers) {
      if (antenneWifi) return false;
      blitIt(plan[i].l->s, dst, 0, 0);  // whole image, fixed at the view's corner
    }
    from = i + 1;
  }
  return true;
}

// H: the other layers drawn and dimmed, then layer `cur` alone over them.
bool drawCurrentOverDimmed(const Map* m, std::vector<LayerPlan>& plan, SDL_Surface* dst, const ViewCells& v,
                           int cur) {
  LayerPlan kept = plan[cur];
  plan[cur] = LayerPlan();
  if (!drawPlanned(m, plan, dst, v)) return false;
  dimView(dst);
  if (kept.bg) {
    blitIt(kept.l->s, dst, 0, 0);
  } else if (kept.tiled) {
    std::vector<LayerPlan> only(m->layers);
    only[cur] = kept;
    std::vector<int> first((size_t)v.cols, cur);  // nothing under it is drawn again
    for (int r = 0; r < v.rows; r++) {
      if (antenneWifi) return false;
      drawCells(m, only, dst, v, r, first.data(), cur, cur + 1);
    }
  }
  return true;
}

// Zoomed in: the map at 1:1 into a picture `factor` times smaller than the
// view, whose pixels are repeated (the scale's first pixel is viewX's, so
// the cells land where cellToView puts them).
bool drawEnlarged(const Map* m, int factor) {
  int w = (surfaceWidth(window) + factor - 1) / factor, h = (surfaceHeight(window) + factor - 1) / factor;
  SDL_Surface* small = viewScratch(SCRATCH_ENLARGED, window, w, h);
  if (!small) {
    fillBlack(window, 0, 0, surfaceWidth(window), surfaceHeight(window));
    return true;
  }
  if (!drawMapAt(small, m, m->viewX, m->viewY)) return false;
  scaleNearest(small, window, factor);
  return true;
}
}  // namespace

bool drawMapAt(SDL_Surface* dst, const Map* m, uint32_t px, uint32_t py) {
  std::vector<LayerPlan> plan = planLayers(m);
  ViewCells v = viewCells(m, dst, px, py);
  // Outside the map's cells: black under any background layer.
  int right = v.cols * TILE - v.ox, bottom = v.rows * TILE - v.oy;
  fillBlack(dst, right, 0, surfaceWidth(dst) - right, surfaceHeight(dst));
  fillBlack(dst, 0, bottom, right, surfaceHeight(dst) - bottom);
  int cur = project.currentLayer;
  bool dim = viewDimsOthers() && cur >= 0 && cur < m->layers;
  return dim ? drawCurrentOverDimmed(m, plan, dst, v, cur) : drawPlanned(m, plan, dst, v);
}

void drawWindow() {
  drawMap();
  if (window && !antenneWifi) drawBrushOverlay();
}

namespace {
void drawMap() {
  if (!window) return;
  if (antenneWifi) {
    blitIt(antenneWifiGFX, window, 0, 0);
    return;
  }
  Map* m = currentMapOrNull();
  if (!m || !m->layer || m->layers == 0) {
    fillBlack(window, 0, 0, surfaceWidth(window), surfaceHeight(window));
    return;
  }
  int mip = zoomMipLevel(zoom.level), factor = zoomFactor(zoom.level);
  bool whole = mip ? drawMapReduced(m, mip) : factor > 1 ? drawEnlarged(m, factor) : drawMapAt(window, m, m->viewX, m->viewY);
  if (!whole) return;
  drawBlockedOverlay(m);
  drawConflictOverlay(m);
  EntityViewConv conv;
  conv.originX = m->viewX, conv.originY = m->viewY;
  conv.scale = viewCellSide(), conv.unit = TILE;
  drawEntities(m, conv, entitySelected());
  drawViewMarks(m);  // the overview over everything
}
}  // namespace
