// The tile palette in the panel: the tiles of the current layer's tileset in
// the sheet's own columns and rows, the choice of the element or of a
// rectangle of tiles (a stamp) to paint with, scrolling by tileset rows and
// columns, and in pass-conditions mode the editing of each tile's four
// quarters.
//
// `project.elementIndex` is the first tileset row shown (a project file of
// the earlier 18-column palette gives a row that is clamped to the sheet);
// the first tileset column shown is this session's own.
#include <stdint.h>

#include <vector>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "core/core.h"
#include "platform/os.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
const int kQuarter = TILE / 2;
const int kQuarters = PASS_BYTES_PER_TILE;  // top-left, top-right, bottom-left, bottom-right
const int kScrollDelayMs = 60;              // repeat rate of a held scroll button
const int kScrollButtonRise = 32;           // the down button sits this far above the bottom

SDL_Surface* currentSheet() {
  Layer* l = currentLayerOrNull(currentMapOrNull());
  return l ? l->s : nullptr;
}

// Draws tile n of the sheet at (x, y) of dst, as blitElement does on the
// view. A tile past the sheet, or one whose row the 16-bit source rectangle
// cannot reach, draws nothing.
void drawTile(SDL_Surface* sheet, SDL_Surface* dst, int x, int y, long long n) {
  if (!sheet || !dst || n < 0 || surfaceWidth(sheet) < TILE) return;
  long long perRow = surfaceWidth(sheet) / TILE, sy = n / perRow * TILE;
  if (sy >= surfaceHeight(sheet) || sy > INT16_MAX) return;
  blitPart(sheet, (int)(n % perRow * TILE), (int)sy, TILE, TILE, dst, x, y);
}

// The palette's own state: the first tileset column shown, and the tile a
// drag for a stamp started on.
struct PaletteState {
  long firstColumn = 0;
  bool dragging = false;
  long anchorCol = 0, anchorRow = 0;
} paletteState;

struct PaletteCell {
  int x, y;     // top-left corner in the panel
  long long n;  // element shown there
  long col, row;  // its tileset column and row
};

long long perRowOf(SDL_Surface* sheet) { return sheet ? surfaceWidth(sheet) / TILE : 0; }

long long rowsOf(long long perRow, long long cellLimit) {
  return perRow > 0 ? (cellLimit + perRow - 1) / perRow : 0;
}

// Keeps the shown rows and columns on the sheet (a narrower tileset, or a
// row remembered from the earlier palette).
void clampScroll(long long perRow, long long rows, int wd, int h) {
  long maxRow = rows > h ? (long)(rows - h) : 0, maxCol = perRow > wd ? (long)(perRow - wd) : 0;
  if (project.elementIndex > maxRow) project.elementIndex = (int32_t)maxRow;
  if (project.elementIndex < 0) project.elementIndex = 0;
  if (paletteState.firstColumn > maxCol) paletteState.firstColumn = maxCol;
  if (paletteState.firstColumn < 0) paletteState.firstColumn = 0;
}

// The palette's cells that show a tile: element n at tileset column n mod R,
// row n div R, from the first row and column shown.
std::vector<PaletteCell> walkCells(int x, int y, int wd, int h, long long perRow, long long cellLimit) {
  std::vector<PaletteCell> cells;
  clampScroll(perRow, rowsOf(perRow, cellLimit), wd, h);
  for (int j = 0; j < h; j++)
    for (int k = 0; k < wd; k++) {
      long long n = paletteElement(k, j, perRow, cellLimit, paletteState.firstColumn, project.elementIndex);
      if (n >= 0)
        cells.push_back({x + TILE * k, y + TILE * j, n, paletteState.firstColumn + k, project.elementIndex + j});
    }
  return cells;
}

bool mouseIn(int x, int y, int size) {
  return mouseX >= x && mouseX < x + size && mouseY >= y && mouseY < y + size;
}

// Black frame one pixel outside the cells.
void drawFrame(int x, int y, int wd, int h) {
  int right = x + TILE * wd, bottom = y + TILE * h;
  for (int px = x; px < right; px++) {
    setPixel(menu, px, y - 1, 0, 0, 0);
    setPixel(menu, px, bottom, 0, 0, 0);
  }
  for (int py = y - 1; py <= bottom; py++) {
    setPixel(menu, x - 1, py, 0, 0, 0);
    setPixel(menu, right, py, 0, 0, 0);
  }
}

// Up and down by one tileset row while a button is held, and with Shift
// held left and right by one column; only while the sheet has more there.
void scrollButtons(int bx, int y, int wd, int h, long long perRow, long long cellLimit) {
  bool sideways = inputShiftHeld();
  long long rows = rowsOf(perRow, cellLimit);
  bool back = buttonList(bx, y, b_up);
  bool on = buttonList(bx, y + TILE * h - kScrollButtonRise, b_down);
  bool moved = false;
  if (back && sideways && paletteState.firstColumn >= 1) paletteState.firstColumn--, moved = true;
  if (back && !sideways && project.elementIndex >= 1) project.elementIndex--, moved = true;
  if (on && sideways && paletteState.firstColumn + wd < perRow) paletteState.firstColumn++, moved = true;
  if (on && !sideways && project.elementIndex + h < rows) project.elementIndex++, moved = true;
  if (!moved) return;
  setMenu("map");
  platformDelay(kScrollDelayMs);
}

void previewAt(int x, int y, int wd, int h) {
  drawSelectedElement(x + TILE * wd + kQuarter, (2 * y + TILE * h - TILE) / 2);
}

// Left button marks the quarter passable, right button blocked (when
// editing); blocked quarters carry the passnot mark.
void editQuarters(const PaletteCell& cell, bool editing) {
  for (int q = 0; q < kQuarters; q++) {
    int qx = cell.x + (q % 2) * kQuarter, qy = cell.y + (q / 2) * kQuarter;
    unsigned char& pass = passconditions[cell.n * kQuarters + q];
    // As in Tiled: the left button marks (blocks), the right one clears.
    if (editing && leftClic && mouseIn(qx, qy, kQuarter)) pass = 0;
    if (editing && rightClic && mouseIn(qx, qy, kQuarter)) pass = 1;
    if (pass == 0) blitIt(passnot, menu, qx, qy);
  }
}

void drawPassPalette(int x, int y, int wd, int h, bool show, bool editing) {
  fillRect(menu, x, y, TILE * wd, TILE * h, 0, 0, 0);
  SDL_Surface* sheet = currentSheet();
  TileCounts counts = tilesetCountsOf(sheet);
  long long cells = counts.cells, tiles = counts.tiles;
  for (const PaletteCell& c : walkCells(x, y, wd, h, perRowOf(sheet), cells)) {
    if (show && c.n < tiles) drawTile(sheet, menu, c.x, c.y, c.n);
    // The pass buffer holds `cells` tiles.
    if (passconditions && c.n >= 0 && c.n < cells) editQuarters(c, editing);
  }
  drawFrame(x, y, wd, h);
  // The scroll buttons redraw the panel, which draws this palette again:
  // only the editing call may scroll, or one press would run to the end.
  if (editing) scrollButtons(x + TILE * wd, y, wd, h, perRowOf(sheet), cells);
}
}  // namespace

void drawSelectedElement(int x, int y) {
  drawTile(currentSheet(), menu, x, y, project.currentElement);
}

void drawElementsH(int x, int y, int wd, int h) {
  fillRect(menu, x, y, TILE * wd, TILE * h, 0, 0, 0);
  SDL_Surface* sheet = currentSheet();
  TileCounts counts = tilesetCountsOf(sheet);
  for (const PaletteCell& c : walkCells(x, y, wd, h, perRowOf(sheet), counts.cells))
    if (c.n < counts.tiles) drawTile(sheet, menu, c.x, c.y, c.n);
  previewAt(x, y, wd, h);
}

// A press on a tile starts a drag; the tile under the pointer ends it: one
// tile is the element, a rectangle of them the stamp.
void drawElements(int x, int y, int wd, int h) {
  SDL_Surface* sheet = currentSheet();
  TileCounts counts = tilesetCountsOf(sheet);
  long long perRow = perRowOf(sheet);
  PaletteState& p = paletteState;
  if (!leftClic) p.dragging = false;
  for (const PaletteCell& c : walkCells(x, y, wd, h, perRow, counts.cells)) {
    if (!leftClic || !mouseIn(c.x, c.y, TILE) || c.n > INT32_MAX) continue;
    if (!p.dragging) {
      p.dragging = true;
      p.anchorCol = c.col;
      p.anchorRow = c.row;
    }
    Layer* l = currentLayerOrNull(currentMapOrNull());
    Stamp s = paletteStamp(p.anchorCol, p.anchorRow, c.col, c.row, perRow, counts.cells,
                           l && l->layerGFX ? l->layerGFX : "");
    project.currentElement = s.cells.empty() ? 0 : s.cells[0];
    bool changed = s.w != brushState.stamp.w || s.h != brushState.stamp.h || s.cells != brushState.stamp.cells;
    brushState.stamp = (uint64_t)s.w * s.h > 1 ? s : Stamp();
    if (changed && (uint64_t)s.w * s.h > 1) printf("Tampon %ux%u depuis l'element %d.\n", (unsigned)s.w, (unsigned)s.h, (int)project.currentElement);
    previewAt(x, y, wd, h);
  }
  drawFrame(x, y, wd, h);
  scrollButtons(x + TILE * wd + 1, y, wd, h, perRow, counts.cells);
}

void paletteShow(int32_t element) {
  long long perRow = perRowOf(currentSheet());
  if (perRow <= 0 || element < 0) return;
  long row = (long)(element / perRow), col = (long)(element % perRow);
  if (row < project.elementIndex || row >= project.elementIndex + PALETTE_ROWS) project.elementIndex = (int32_t)row;
  if (col < paletteState.firstColumn || col >= paletteState.firstColumn + PALETTE_COLUMNS)
    paletteState.firstColumn = col;
}

void drawElementsPC(int x, int y, int wd, int h, bool show) {
  drawPassPalette(x, y, wd, h, show, true);
}

void drawElementsPCH(int x, int y, int wd, int h) { drawPassPalette(x, y, wd, h, true, false); }
