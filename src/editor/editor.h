// Editor screens: map view, palette, menu panel and the per-frame composition.
#pragma once
#include <stdint.h>

struct SDL_Surface;
struct Map;
struct Layer;

void drawWindow();           // redraws the map view surface
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

// This editor's own view settings (never saved, never sent).
bool layerHidden(const Layer* l);      // hidden from the view (the map menu's toggle)
bool viewDimsOthers();                 // H: every layer but the current one dimmed
void viewKeysStep();                   // H and P, once per key press
void dimView();                        // darkens everything drawn in the view so far
// P: every visible layer's blocked quarters in translucent red over the
// view's cols x rows cells from cell (x0, y0).
void drawBlockedOverlay(const Map* m, uint64_t x0, uint64_t y0, int cols, int rows);
void layerVisibilityCommand(Map* m);   // the map menu's Hide / Show layer toggle
// True while a paint on the hidden current layer is refused (the panel says
// so once per press); `painting`: a button is held over the view.
bool hiddenLayerRefused(bool painting);

// Entities (entitypanel.cpp, entityview.cpp). The view's conversion: a map
// pixel p is at screen (p - origin) * scale / unit of the view surface.
struct Map;
struct EntityViewConv {
  int64_t originX = 0, originY = 0;
  int scale = 1, unit = 1;
};
void drawEntities(const Map* m, const EntityViewConv& c, uint64_t selected);
void entitiesMenuCommands();
// The map clicks of the "entities" menu; false when another menu is shown.
bool entitiesMapStep();
void entityDeleteSelected();
uint64_t entitySelected();
