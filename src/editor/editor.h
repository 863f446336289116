// Editor screens: map view, palette, menu panel and the per-frame composition.
#pragma once

struct SDL_Surface;

void drawWindow();           // redraws the map view surface
// Screen pixel to map cell of the current map (rounded toward minus
// infinity: it may lie outside the map) and map cell to the view surface's
// pixel (its top-left corner), at the view's scale and place: every pointer
// position goes through these two.
void viewToCell(int screenX, int screenY, long* col, long* row);
void cellToView(long col, long row, int* x, int* y);
void refresh();              // one frame: commands, panel, map view, flip
void setMenu(const char* m); // selects a menu screen and redraws the panel
void refreshUndoLine();      // redraws the panel when what Ctrl+Z would undo changed

// Tile palette of the current layer in the panel (cells of 16x16 pixels from
// (x, y), wd columns, h rows) and the preview of the selected element.
void drawElementsH(int x, int y, int wd, int h);   // tiles and preview, read-only
void drawElements(int x, int y, int wd, int h);    // selection, frame, scroll buttons
void drawElementsPC(int x, int y, int wd, int h, bool show);  // pass-condition editing
void drawElementsPCH(int x, int y, int wd, int h);  // the same, read-only (panel redraw)
void drawSelectedElement(int x, int y);
