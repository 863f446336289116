// The menu panel's state and commands: the three menus, the command handler
// that paints and scrolls, the map switch, and the widget state of the menus.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "editor/history.h"

#include "core/core.h"

// Sizes of the menu fields' buffers and the limits the fields accept.
enum {
  NEWMAP_NAME_LIMIT = 16,     // characters typed into the new map's name
  NEWMAP_SIZE_LIMIT = 10,     // digits typed into its width and height
  ADDRESS_LIMIT = ADDRESS_LEN - 1,  // characters typed into the peer address ("host:port")
  SYSNAME_LIMIT = 64,         // characters typed into the map's display name
  BRUSH_LEN = 8,
  BG_LIMIT = 33,              // background x and y stay within -33..33
  SCROLL_STEP = 16,           // `force`: the view moves one cell per turn
  BRUSH_SWITCH_MS = 100,
  PANEL_MESSAGE_LEN = 128,
};

// Palette geometry every menu uses: origin (1, 70), 18 columns, 10 rows.
const int PALETTE_X = 1, PALETTE_Y = 70, PALETTE_COLUMNS = 18, PALETTE_ROWS = 10;

// Painting state.
extern char brush[BRUSH_LEN];  // "PEN", "SQUARE" or "FILL"
extern bool brush_square_state;
extern unsigned long brush_squareX1, brush_squareY1, brush_squareX2, brush_squareY2;
extern const int force;

// Widget state of the menus.
extern char e_newmap[NAME_LEN];
extern char e_newmapw[VERSION_LEN], e_newmaph[VERSION_LEN];
extern unsigned long e_newmapwi, e_newmaphi;
extern char e_openmap[PATH_LEN];
extern bool e_addlayer;
extern char e_openlayer[PATH_LEN];
extern bool e_passconditions;
// Bytes in `passconditions` and the tileset they belong to (pass-conditions mode).
extern size_t passconditionsLen;
extern char e_pcname[NAME_LEN];

// A message the panel shows under the commands of one menu: a refused or
// failed command (red), a warning (the command was done with a limit the
// user should know) or a result (blue); empty when there is none.
enum PanelKind { PANEL_ERROR, PANEL_WARNING, PANEL_INFO };
extern char panelMessage[PANEL_MESSAGE_LEN];
extern char panelMessageMenu[16];
extern PanelKind panelMessageKind;
void setPanelMessage(const char* menuName, const char* text, PanelKind kind = PANEL_ERROR);

void drawMenu();
void g_openmap();
void eventMenu();
// The join prompt ("<name> at <address> wants to join", Accept, Refuse): its
// box, drawn by drawMenu, and its buttons; true while it is shown, when the
// menu's own commands wait. It also puts a refused join's reason on the panel.
void drawJoinPrompt();
bool joinPromptCommands();

// The fill brush: the runs of the 4-connected region of tiles equal to the
// one at (x, y), to become `value` (before/after set); empty when nothing
// would change. fillAt writes them, sends them and records one undo step.
std::vector<CellRun> fillRegion(const Map* m, const Layer* l, uint32_t x, uint32_t y, int32_t value);
void fillAt(Map* m, int layer, uint32_t x, uint32_t y, int32_t value);

// Saving while editing: Ctrl+S saves every changed open map and the project
// file; autosave does the same after a quiet moment once the interval has
// passed. Maps are copied, then written by a background thread; the panel
// says the result when it is in.
void saveAllCommand();
void savingStep();
extern bool (*projectSaveHook)();  // writes the project file (set by the shell)

// The mouse position as a cell of the current map, and the pen.
unsigned long getElementX();
unsigned long getElementY();
void setElementRelative(int element);

// Presence (presence.cpp): once per turn, after the commands, a click on a
// peer of the client list follows it (any other click, a scroll or a zoom
// stops that), and what this editor shows goes to the peers. The client
// list under the main menu's "Clients:" line: one line per peer from y =
// top, `step` apart (colour, name, map, address, how admitted); the count.
void presenceStep();
int drawClientList(int top, int step);

// The commands of the menus, run by eventMenu in steps 5 to 7 of its turn.
void mainMenuCommands();
void mapMenuCommands();
void tabButtons();
void brushSwitch();
// The new-map command: reads the fields, refuses what the model refuses,
// creates the map (and tells the peers) and switches to it.
void action_newMap();
// Pass-conditions mode of the current tileset: enter reads the file, leave
// writes it; leave returns false (mode kept) when the file cannot be written.
void enterPassConditions();
bool leavePassConditions();
// The map menu's field naming the current layer, and its map size fields
// with *Resize* (mapfields.cpp); both hide while a tileset is being picked.
void layerNameField(Map* m);
void mapSizeFields(Map* m);
