// Stamps, strokes and the cell selection: what the pen paints (one tile or
// a rectangle of tiles), the cells a stroke crosses, the selected cells and
// the copied ones.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "model/model.h"

// A rectangle of tiles, row by row. A 1x1 stamp is the single element
// `project.currentElement`.
struct Stamp {
  uint32_t w = 1, h = 1;
  std::vector<int32_t> cells;  // w * h elements
  std::string tileset;         // the tileset they index ("" when unknown)
  bool copied = false;         // made by Ctrl+V: only for a layer of that tileset
};

// Cells of a map, both corners included, x1 <= x2 and y1 <= y2.
struct CellRect {
  uint32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct CellPos {
  long x, y;
};

// The painting and selection state of the editor (main thread).
struct BrushState {
  Stamp stamp;               // w * h > 1 or copied: the pen paints it
  Stamp clipboard;           // Ctrl+C / Ctrl+X
  bool hasClipboard = false;
  bool hasSelection = false;  // an outline on the map
  CellRect selection;
  bool selecting = false;     // the left button marks it
  uint32_t anchorX = 0, anchorY = 0;
  bool stroke = false;        // a pen stroke is under way
  bool strokeErases = false;
  long lastX = 0, lastY = 0;  // the cell the stroke painted last
  bool refusedShown = false;  // the paste refusal was said for this press
  bool squareFilled = false;  // the stamp rectangle filled this press, up to:
  unsigned long squareX2 = 0, squareY2 = 0;
};
extern BrushState brushState;

// True when the pen paints a stamp rather than the single element.
bool stampActive();

// The cells of the line from (x0, y0) to (x1, y1), both ends included, each
// step to a neighbour (Bresenham): a stroke leaves no gap between samples.
std::vector<CellPos> cellLine(long x0, long y0, long x1, long y1);

// Runs writing the stamp with its top-left tile at (x, y), cut to the map;
// `erase` writes 0 over the same cells.
void stampRuns(const Stamp& s, long x, long y, const Map* m, bool erase, std::vector<CellRun>& out);
// Runs filling the rectangle (inside the map) with the stamp repeated from
// its top-left corner.
void stampTileRuns(const Stamp& s, const CellRect& r, std::vector<CellRun>& out);
// The cells of layer l in the rectangle (inside the map) as a stamp.
Stamp stampOfCells(const Map* m, const Layer* l, const CellRect& r);
// Whether the stamp may be painted on layer l: a copied stamp only on a
// layer of the same tileset.
bool stampFits(const Stamp& s, const Layer* l);

// The palette in the tileset's own layout: palette cell (c, r) with the
// palette scrolled to tileset column firstCol and row firstRow shows element
// (firstRow + r) * perRow + firstCol + c, or nothing (-1) past the sheet's
// row or its `cells` tiles.
long long paletteElement(int c, int r, long long perRow, long long cells, long firstCol, long firstRow);
// The palette rectangle between two tileset positions (either order) as a stamp.
Stamp paletteStamp(long col1, long row1, long col2, long row2, long long perRow, long long cells,
                   const char* tileset);

// Writes the runs in the current layer as one undo step labelled `label`
// (joined to the open step, a stroke, when one is open) and sends them.
void paintCells(Map* m, int layer, std::vector<CellRun>& runs, const char* label);

// Selection commands (keys): copy, cut, delete, paste; each says on the
// panel why it did nothing.
void copySelection(bool cut);
void deleteSelection();
void pasteClipboard();
// Outlines and the stamp preview over the map view (after the map is drawn).
void drawBrushOverlay();
