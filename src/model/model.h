// The map model: project, maps, layers, the shared tileset library and the
// map files. Every change to a map goes through the functions declared here.
// Nothing here knows about the screen.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <atomic>

#include "core/core.h"
#include "core/files.h"

struct SDL_Surface;
struct MapEntities;

enum {
  LIBRARY_SLOTS = 1000,         // tilesets loaded at once
  MAX_LAYER_CELLS = 64 << 20,   // cells of one layer (256 MiB)
  MAX_LAYERS = 0xFFFF,          // the 16-bit layer count of a map file
  PEER_MAP_CELLS = 1 << 28,     // cells of all layers of a map a peer may grow or send (1 GiB)
  LAYER_NAME_LEN = NAME_LEN,    // buffer of a layer's tileset name
  PASS_BYTES_PER_TILE = 4,      // one byte per 8x8 quarter, 1 passable, 0 blocked
};

// A number no other layer record of this run has (never stored in files).
inline uint32_t nextLayerUid() {
  static std::atomic<uint32_t> next{1};
  return next++;
}

struct Layer {
  int32_t* e = nullptr;         // w*h cells, row-major: (x, y) at y*w + x
  uint32_t uid = nextLayerUid();  // identity for the undo history
  char* layerGFX = nullptr;     // tileset name
  SDL_Surface* s = nullptr;     // borrowed from the tileset library
  char bg = 0;                  // 1: background layer drawn as a whole image
  int16_t x = 0, y = 0;         // scroll settings of a background layer
  char* name = nullptr;         // its name; null: its tileset's (kept in the sidecar, model/sidecar.h)
};

struct Map {
  Layer** layer = nullptr;      // index 0 is the bottom layer
  uint16_t layers = 0;
  char* sysname = nullptr;      // display name
  char* filename = nullptr;     // file name in "maps" without extension: the identity
  uint32_t w = 0, h = 0;        // size in cells
  uint32_t viewX = 0, viewY = 0;  // the map pixel at the view's top-left corner
  bool dirty = false;           // changed since it was read or last saved
  // The sidecar's sections this editor does not know, as JSON text, written
  // back as they came (model/sidecar.h); null: none.
  char* sidecarKept = nullptr;
  bool sidecarHeld = false;     // its sidecar file could be neither read nor set aside: never written
  MapEntities* entities = nullptr;  // its instances (model/entities.h); null: none yet
};
typedef Map* pMap;

struct Project {
  char name[256] = {0};
  uint32_t crc = 0;
  int32_t mapIndex = 0;
  pMap* listeMaps = nullptr;    // nbreMaps slots, a null slot is free
  int32_t nbreMaps = 0;
  int32_t currentMap = 0;
  int32_t currentLayer = 0;
  int32_t currentElement = 0;
  int32_t elementIndex = 0;
  char currentMenu[256] = {0};
  char workingMap[256] = {0};
};

extern Project project;
extern pMap usedMap[MAX_PEERS];
extern SDL_Surface* layersGFX[LIBRARY_SLOTS];
extern char* layersGFXnames[LIBRARY_SLOTS];
extern unsigned char* passconditions;

// Cells and maps (names are map filenames).
// The slot of the open map of that name, or nbreMaps when none is open.
int getMap(const char* map);
// The open map in a slot, or null for a free or missing slot.
Map* openMapAt(long slot);
// The map shown in the editor and its current layer, or null when there is none.
Map* currentMapOrNull();
Layer* currentLayerOrNull(const Map* m);
// True when the map file of that name exists in the project's "maps" folder.
bool mapFileExists(const char* name);
void setElementAbsolute(int map, int layer, unsigned long x, unsigned long y, int element);
// Puts the corners of a rectangle in order and cuts it to the map, the same
// way on every editor: RECT_OUTSIDE when its first corner lies past the map.
enum RectFit { RECT_INSIDE, RECT_CUT, RECT_OUTSIDE };
RectFit clampRect(const Map* m, unsigned long* x1, unsigned long* y1, unsigned long* x2,
                  unsigned long* y2);
void setElementSquare(const char* map, int layer, unsigned long x1, unsigned long y1,
                      unsigned long x2, unsigned long y2, int element);
// Writes the run [x1, x2] of row y of a layer without a log line per cell
// (fills and undo cover up to millions of cells: the caller logs the whole
// change); false when the run is not inside the map. Calls no hook.
bool setElementRun(Map* m, int layer, uint32_t y, uint32_t x1, uint32_t x2, int32_t element);
// Writes a w x h block of cells (row by row) at (x, y) of a layer, with
// one log line and one write hook for the block (a peer's paste); the part
// outside the map is left out. False when nothing of it is inside.
bool setElementBlock(Map* m, int layer, uint32_t x, uint32_t y, uint32_t w, uint32_t h, const int32_t* cells);

// A run of cells [x, x + n) of row y; `before` and `after` are the values
// an edit found and left (a run to write carries its value in `after`).
struct CellRun {
  uint32_t x, y, n;
  int32_t before, after;
};
void changeMapSysname(const char* filename, const char* sysname);
// Gives every layer of m w x h cells at once: the cells inside both sizes
// are kept from the top-left, new cells are 0. False, nothing changed and
// the reason in why, for a size outside 1..MAX_LAYER_CELLS cells a layer or
// PEER_MAP_CELLS in all, or when memory runs out.
bool resizeMap(Map* m, unsigned long w, unsigned long h, char* why, size_t cap);
void setLayerBGXY(const char* map, int layer, char bg, int x, int y);

// Why an operation failed, where the caller (the shell at start-up) tells
// the causes apart.
enum ModelError {
  MODEL_OK,
  MODEL_REFUSED,         // bad slot or name, corrupt file, no memory: logged
  MODEL_MAP_UNREADABLE,  // the map file cannot be opened for reading
  MODEL_LIBRARY_FULL,    // the tileset library has no slot for a tileset
};

// Tileset library and layers. The tileset's surface, shared by every layer
// that names it; null when the image does not load (the name keeps its
// slot) or when the library is full (logged, nothing taken).
SDL_Surface* layersGFXLoad(const char* chipset);
// The library's surface of that tileset when it holds one loaded; null
// otherwise (nothing loaded: the entities' drawing only looks).
SDL_Surface* libraryFind(const char* chipset);
void addLayer(Map* map, const char* chipset, bool bg);
void deleteLayer(Map* map, long l);
// Moves layer `from` to index `to`, the layers between shifting by one
// (a swap of neighbours is a move by one); false when either is no layer.
bool moveLayer(Map* map, int from, int to);
// Empties the library, freeing its tilesets (start-up, before any map).
void libraryClear();
// Pixel size of a tileset by name: from the library, else from its image.
bool tilesetSizeByName(const char* chipset, int* w, int* h);
// The same from its image alone: the one call here a network thread makes
// (it reads no record of the model).
bool tilesetSizeOnDisk(const char* chipset, int* w, int* h);
// Tilesets that m's layers name and the library does not hold yet, each
// counted once; true when the library has a free slot for each of them.
bool libraryRoomFor(const Map* m);
// Whether this editor can take m, a map from elsewhere (a peer's copy), as
// it is: at most MAX_LAYERS layers and PEER_MAP_CELLS cells in all, every
// tileset named by a valid name and present in "layers", and, when it is to
// be loaded (`open`), room in the library for them. False with the reason
// (one line, for the log and the panel) in why.
bool mapFitsHere(const Map* m, bool open, char* why, size_t cap);

// The two tile counts of a tileset of w x h pixels, R = w / 16 tiles a row:
// `cells` = (R * h) / 16, the cells the palette walks and the tiles a
// pass-conditions file holds; `tiles` = R * (h / 16), the whole tiles, which
// the palette draws and scrolls through and sendPC sends. Both 0 when w or
// h is not positive, or for a null surface.
struct TileCounts {
  long long cells, tiles;
};
TileCounts tilesetCounts(int w, int h);
TileCounts tilesetCountsOf(SDL_Surface* s);

// The project file's text: ten "LABEL value" lines, `maps` its MAPS value
// (0 for a new project, 1 once saved). False when a write fails.
bool writeProjectStream(FILE* f, const Project& p, int maps);
// Writes "<chipset>.pss" in "layerspc" whole (beside it, then renamed):
// PASS_BYTES_PER_TILE bytes a tile. Logs like openFile; false (old file
// kept) when it fails.
bool writePassConditions(const char* chipset, const unsigned char* pass, size_t n);

// Map files. openMapi: false (the slot stays null, the reason in *why when
// given) for a bad slot or name, a file that cannot be opened, a corrupt
// one, or tilesets the library has no room for.
bool openMapi(int nmap, const char* smap, ModelError* why = nullptr);
bool closeMapi(int nmap, const char* smap);   // false: the write failed, old file kept
// Writes the map of a slot to its file and keeps it open; false when the
// write failed (old file kept, the map stays changed).
bool saveMap(int nmap);
// Writes m beside its file as "<name>.map.unsaved" (quit after a failed
// save); the path written into path. False when that fails too.
bool writeUnsavedCopy(const Map* m, char* path, size_t cap);
bool newMapFile(const char* smap, unsigned long w, unsigned long h);
// A new project's first map: NEW_MAP_W x NEW_MAP_H cells unless its
// creator asked for another size (a size the model refuses gives the default).
enum : unsigned long { NEW_MAP_W = 64, NEW_MAP_H = 48 };
void newMap(unsigned long w = NEW_MAP_W, unsigned long h = NEW_MAP_H);
// The slot rule: the first null slot, else one new slot at the end; then
// openMapi. Returns the slot, or -1 when the map could not be opened.
int openMapInFreeSlot(const char* smap, ModelError* why = nullptr);
// True when some peer's usedMap slot points to a map with this filename.
bool mapUsedByPeers(const char* filename);

// Hooks the editor sets (null: none). cellsWriteHook runs, on the thread that
// changes the map, before the cells [x1, x2] x [y1, y2] (inside the map) of
// layer `layer` of m take `element` through setElementAbsolute or
// setElementSquare. mapClosingHook runs when closeMapi has saved m, before
// m is freed.
extern void (*cellsWriteHook)(Map* m, int layer, uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2,
                              int32_t element);
extern void (*mapClosingHook)(const Map* m);
// The network calls mapReplaced after a peer's sync replaced the map of that
// name: the editor's undo history of that map no longer applies.
extern void (*mapReplacedHook)(const char* filename);
void mapReplaced(const char* filename);

// Saving without stopping the editor: a copy of an open map, taken a slice
// per frame, is written (crash-safe) by one background thread. The copies of
// a batch are owned by the writer; one batch runs at a time.
Map* snapshotBegin(const Map* m);                // room for the copy; null: no memory
// Copies up to maxCells more cells from *cursor on: 1 the copy is whole (its
// small fields taken now), 0 more to copy, -1 m's layers changed (start again).
int snapshotContinue(const Map* m, Map* c, size_t* cursor, size_t maxCells);
void snapshotFree(Map* c);
bool backgroundSaveStart(Map** copies, int n);   // false (copies freed) when one runs
bool backgroundSaveBusy();
// After a batch ended, once: how many maps reached their file, and the names
// of those that did not (those maps are marked changed again).
bool backgroundSaveCollect(int* saved, char* failed, size_t cap, int* failedCount);
void backgroundSaveWait();                        // every save of a map waits first

// Frees every map, the list and the library (tests).
void modelReset();

// Threads: the model belongs to the main thread and holds no lock. Every
// operation above runs there: commands, the map view, and peers' actions,
// which network threads hand to netPump. The background saver touches only
// the copies it owns (snapshotBegin/Continue run on the main thread). No
// operation ends the process: failures are results, and the shell alone
// turns the ones it must into exit statuses.
