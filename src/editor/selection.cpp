// The cell selection and the clipboard: marking cells on the map, copy,
// cut, delete and paste, Escape, and the outlines and stamp preview drawn
// over the map view.
#include <stdio.h>
#include <string.h>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/zoom.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/model.h"
#include "core/core.h"
#include "platform/os.h"
#include "toolkit/video.h"

namespace {
const int kPreviewAlpha = 144;  // the stamp under the pointer: the map shows through

// The selection cut to the current map; false when nothing of it is left.
bool selectedCells(const Map* m, CellRect* r) {
  if (!brushState.hasSelection || !m || m->w == 0 || m->h == 0) return false;
  *r = brushState.selection;
  if (r->x1 >= m->w || r->y1 >= m->h) return false;
  if (r->x2 >= m->w) r->x2 = m->w - 1;
  if (r->y2 >= m->h) r->y2 = m->h - 1;
  return true;
}

void say(const char* text) {
  printf("%s\n", text);
  setPanelMessage(project.currentMenu, text);
  setMenu(project.currentMenu);
}

// Cells of the selection set to 0 as one undo step.
void clearSelected(Map* m, const CellRect& r, const char* label) {
  std::vector<CellRun> runs;
  for (uint32_t y = r.y1; y <= r.y2; y++) runs.push_back({r.x1, y, r.x2 - r.x1 + 1, 0, 0});
  historyClose();
  paintCells(m, project.currentLayer, runs, label);
  historyClose();
}

void outline(int x, int y, int w, int h, int r, int g, int b) {
  fillRect(window, x, y, w, 1, r, g, b);
  fillRect(window, x, y + h - 1, w, 1, r, g, b);
  fillRect(window, x, y, 1, h, r, g, b);
  fillRect(window, x + w - 1, y, 1, h, r, g, b);
}

void outlineCells(long x1, long y1, long x2, long y2, int r, int g, int b) {
  int px, py;
  cellToView(x1, y1, &px, &py);
  long w = (x2 - x1 + 1) * viewCellSide(), h = (y2 - y1 + 1) * viewCellSide();
  if (w > INT32_MAX / 2 || h > INT32_MAX / 2) return;
  outline(px, py, (int)w, (int)h, r, g, b);
  outline(px + 1, py + 1, (int)w - 2, (int)h - 2, 0, 0, 0);  // seen on light and dark tiles
}

// The stamp, translucent, with its top-left tile on the cell under the pointer.
void drawStampPreview(const Map* m) {
  const Layer* l = currentLayerOrNull(m);
  if (!l || !l->s || mouseX <= PANEL_WIDTH) return;
  const Stamp& s = brushState.stamp;
  if (s.cells.size() != (size_t)s.w * s.h) return;
  long col, row;
  viewToCell(mouseX, mouseY, &col, &row);
  int vw = surfaceWidth(window), vh = surfaceHeight(window), side = viewCellSide();
  for (uint32_t r = 0; r < s.h; r++)
    for (uint32_t c = 0; c < s.w; c++) {
      if (col + (long)c >= (long)m->w || row + (long)r >= (long)m->h) continue;
      int x, y;
      cellToView(col + (long)c, row + (long)r, &x, &y);
      if (x >= vw || y >= vh) continue;
      if (side == TILE)
        blitTileTranslucent(l->s, s.cells[(size_t)r * s.w + c], window, x, y, kPreviewAlpha);
      else  // zoomed: the cells it covers, lightened
        tintRect(window, x, y, side, side, 255, 255, 255, kPreviewAlpha / 2);
    }
  outlineCells(col, row, col + (long)s.w - 1, row + (long)s.h - 1, 255, 255, 255);
}
}  // namespace

void copySelection(bool cut) {
  Map* m = currentMapOrNull();
  Layer* l = currentLayerOrNull(m);
  CellRect r;
  if (!l || !selectedCells(m, &r)) return say("Rien de selectionne: S puis glisser sur la map.");
  brushState.clipboard = stampOfCells(m, l, r);
  brushState.clipboard.copied = true;
  brushState.hasClipboard = true;
  printf("%s %ux%u cellules en %ldx%ld.\n", cut ? "Coupe" : "Copie", (unsigned)brushState.clipboard.w,
         (unsigned)brushState.clipboard.h, (long)r.x1, (long)r.y1);
  if (cut) clearSelected(m, r, "cut");
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "%s: %ux%u. Ctrl+V pour coller.", cut ? "Coupe" : "Copie",
           (unsigned)brushState.clipboard.w, (unsigned)brushState.clipboard.h);
  say(text);
}

void deleteSelection() {
  Map* m = currentMapOrNull();
  CellRect r;
  if (!currentLayerOrNull(m) || !selectedCells(m, &r)) return say("Rien de selectionne a effacer.");
  clearSelected(m, r, "delete");
  printf("Selection effacee en %ldx%ld.\n", (long)r.x1, (long)r.y1);
}

void pasteClipboard() {
  if (!brushState.hasClipboard) return say("Rien a coller: Ctrl+C d'abord.");
  const Layer* l = currentLayerOrNull(currentMapOrNull());
  if (!stampFits(brushState.clipboard, l)) {
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Collage refuse: copie du tileset %.40s, layer de %.40s.",
             brushState.clipboard.tileset.c_str(), l && l->layerGFX ? l->layerGFX : "?");
    return say(text);
  }
  brushState.stamp = brushState.clipboard;
  brushState.hasSelection = false;
  project.currentElement = brushState.stamp.cells.empty() ? 0 : brushState.stamp.cells[0];
  snprintf(brush, sizeof brush, "PEN");
  printf("Collage: tampon %ux%u.\n", (unsigned)brushState.stamp.w, (unsigned)brushState.stamp.h);
  say("Collage: cliquer sur la map. Echap pour finir.");
}

bool editorEscape() {
  if (entityEscape()) return true;  // a field's click given up, or an instance let go
  bool held = brushState.hasSelection || brushState.selecting || stampActive();
  if (!held) return false;
  brushState.hasSelection = brushState.selecting = false;
  brushState.stamp = Stamp();  // back to the single element
  printf("Selection et tampon abandonnes.\n");
  setMenu(project.currentMenu);
  return true;
}

void drawBrushOverlay() {
  Map* m = currentMapOrNull();
  if (!m || !window) return;
  CellRect r;
  if (selectedCells(m, &r)) outlineCells(r.x1, r.y1, r.x2, r.y2, 255, 220, 0);
  if (strcmp(brush, "PEN") == 0 && stampActive()) drawStampPreview(m);
}
