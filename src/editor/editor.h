// Editor screens: map view, palette, menu panel and the per-frame composition.
#pragma once
#include <stdint.h>

struct SDL_Surface;
struct Map;
struct Layer;

void drawWindow();           // redraws the map view surface, then the brush's outlines
// Screen pixel to map cell of the current map (rounded toward minus
// infinity: it may lie outside the map) and map cell to the view surface's
// pixel (its top-left corner), at the view's scale and place: every pointer
// position goes through these two.
void viewToCell(int screenX, int screenY, long* col, long* row);
void cellToView(long col, long row, int* x, int* y);
// Escape: drops the selection and the stamp; false when neither was there
// (then Escape quits).
bool editorEscape();
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
void viewKeysStep();                   // H, P and K, once per key press
void dimView(SDL_Surface* dst);        // darkens everything drawn in the picture so far
// P: every visible layer's blocked quarters in translucent red over the
// cells the view shows, at its scale.
void drawBlockedOverlay(const Map* m);
// K: the cells a merge on join found in conflict, framed, over the same
// cells (shown by itself after such a merge; Shift+K clears the marks).
void drawConflictOverlay(const Map* m);
void layerVisibilityCommand(Map* m);   // the map menu's Hide / Show layer toggle
// True while a paint on the hidden current layer is refused (the panel says
// so once per press); `painting`: a button is held over the view.
bool hiddenLayerRefused(bool painting);
// An edit asked for while a peer admitted this editor as a viewer: refused
// with the panel's "view only" message (true). Nothing when `editing` is false.
bool viewOnlyRefused(bool editing);
// The "x" beside each peer of the "main" panel's list: leaves it out.
void leaveOutButtons();
// Scrolls the palette so that it shows `element` of the current layer.
void paletteShow(int32_t element);

// Peers over the view (peerdraw.cpp): the cells each peer on this map wrote
// lately flash in its colour, its footprint or selection is outlined and its
// pointer drawn with its name; after the map, never outside the view.
void drawPeers();
// The view's pixel position of the top-left corner of cell (cx, cy) of m
// (outside the view for cells not shown): every drawing at cells goes
// through it.
void viewCellOrigin(const Map* m, int64_t cx, int64_t cy, int64_t* x, int64_t* y);

// Entities (entitypanel.cpp, entityview.cpp). The view's conversion: a map
// pixel p is at screen (p - origin) * scale / unit of the view surface.
struct Map;
struct EntityViewConv {
  int64_t originX = 0, originY = 0;
  int scale = 1, unit = 1;
};
// Draws m's instances that are in the view; returns how many it drew.
int drawEntities(const Map* m, const EntityViewConv& c, uint64_t selected);
// Name labels the entities' drawing keeps: at most ENTITY_LABELS_KEPT (a
// project has a few dozen definitions; more names start the cache over).
const int ENTITY_LABELS_KEPT = 256;
int entityLabelsKept();
void entitiesMenuCommands();
// The map clicks of the "entities" menu; false when another menu is shown.
bool entitiesMapStep();
void entityDeleteSelected();
uint64_t entitySelected();
// Escape in the Entities tab: a point or reference field waiting for its
// click is given up (the panel says so), else the selected instance is let
// go; false when neither was there.
bool entityEscape();
