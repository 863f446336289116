// The tile palette in the panel: the tiles of the current layer's tileset,
// the choice of the element to paint, scrolling by palette rows, and in
// pass-conditions mode the editing of each tile's four quarters.
#include <stdint.h>

#include <vector>

#include "editor/editor.h"
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

struct PaletteCell {
  int x, y;     // top-left corner in the panel
  long long n;  // element shown there
};

// The palette cell walk: row by row, stopping once as many cells as the
// tileset has tiles (its cell limit) have been visited.
std::vector<PaletteCell> walkCells(int x, int y, int wd, int h, long long cellLimit) {
  std::vector<PaletteCell> cells;
  long long visited = 0;
  for (int j = 0; j < h && visited < cellLimit; j++)
    for (int k = 0; k < wd && visited < cellLimit; k++, visited++)
      cells.push_back({x + TILE * k, y + TILE * j, k + (long long)(j + project.elementIndex) * wd});
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

// Up and down by one palette row while a button is held; down only while
// rows past the shown ones still hold tiles.
void scrollButtons(int bx, int y, int wd, int h, long long tileLimit) {
  if (buttonList(bx, y, b_up) && project.elementIndex >= 1) {
    project.elementIndex--;
    setMenu("map");
    platformDelay(kScrollDelayMs);
  }
  if (buttonList(bx, y + TILE * h - kScrollButtonRise, b_down) &&
      (long long)(h + project.elementIndex) * wd < tileLimit) {
    project.elementIndex++;
    setMenu("map");
    platformDelay(kScrollDelayMs);
  }
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
  for (const PaletteCell& c : walkCells(x, y, wd, h, cells)) {
    if (show && c.n < tiles) drawTile(sheet, menu, c.x, c.y, c.n);
    // The pass buffer holds `cells` tiles.
    if (passconditions && c.n >= 0 && c.n < cells) editQuarters(c, editing);
  }
  drawFrame(x, y, wd, h);
  // The scroll buttons redraw the panel, which draws this palette again:
  // only the editing call may scroll, or one press would run to the end.
  if (editing) scrollButtons(x + TILE * wd, y, wd, h, tiles);
}
}  // namespace

void drawSelectedElement(int x, int y) {
  drawTile(currentSheet(), menu, x, y, project.currentElement);
}

void drawElementsH(int x, int y, int wd, int h) {
  fillRect(menu, x, y, TILE * wd, TILE * h, 0, 0, 0);
  SDL_Surface* sheet = currentSheet();
  TileCounts counts = tilesetCountsOf(sheet);
  for (const PaletteCell& c : walkCells(x, y, wd, h, counts.cells))
    if (c.n < counts.tiles) drawTile(sheet, menu, c.x, c.y, c.n);
  previewAt(x, y, wd, h);
}

void drawElements(int x, int y, int wd, int h) {
  TileCounts counts = tilesetCountsOf(currentSheet());
  for (const PaletteCell& c : walkCells(x, y, wd, h, counts.cells))
    if (leftClic && mouseIn(c.x, c.y, TILE) && c.n >= 0 && c.n <= INT32_MAX) {
      project.currentElement = (int32_t)c.n;
      previewAt(x, y, wd, h);
    }
  drawFrame(x, y, wd, h);
  scrollButtons(x + TILE * wd + 1, y, wd, h, counts.tiles);
}

void drawElementsPC(int x, int y, int wd, int h, bool show) {
  drawPassPalette(x, y, wd, h, show, true);
}

void drawElementsPCH(int x, int y, int wd, int h) { drawPassPalette(x, y, wd, h, true, false); }
