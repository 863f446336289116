// What the exchange formats share: the map being exported with its
// tilesets, and a Tiled map as read before it becomes a map file.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "model/entities.h"
#include "model/model.h"

struct SDL_Surface;

enum {
  QUARTER = TILE / 2,               // pass conditions are kept per 8x8 quarter
};
const uint32_t GID_FLAGS = 0xF0000000u;  // Tiled's flip and rotation bits of a gid

typedef std::map<std::string, std::string> Properties;

// A tileset as an export writes it.
struct OutTileset {
  std::string name;                 // layers/<name>.png
  SDL_Surface* s = nullptr;
  uint32_t firstgid = 0;
  int columns = 0, count = 0;       // whole 16x16 tiles per row, in all
  int w = 0, h = 0;                 // image size in pixels
  unsigned trans = 0;               // 0xRRGGBB of the top-left pixel
  bool emptyZero = false;           // tile 0 shows nothing: its cells are written as gid 0
  std::vector<unsigned char> pass;  // 4 bytes per tile, 0 = blocked quarter
  std::string image;                // the image path as the output names it
};

// A typed custom property of an exported object: type is Tiled's ("string",
// "int", "float", "bool", "color", "object"); an "object" value is the index
// of the referenced object in ExportPlan::objects, -1 for none.
struct OutProperty {
  std::string name, type;
  nlohmann::json value;
};

// One instance as a rectangle object of the "entities" object group; its
// TMX id is the first free object id plus its index.
struct OutObject {
  std::string cls;                  // its definition
  int x = 0, y = 0, w = 0, h = 0;   // pixels
  std::vector<OutProperty> props;   // moska_id first, then the fields
};

// The map to export, its layers bottom-up, each tiled layer's tileset.
struct ExportPlan {
  Map map;                          // owned
  std::vector<OutTileset> sets;     // one per tileset image used, tiled or background
  std::vector<int> layerSet;        // per layer: index in sets
  std::vector<OutObject> objects;   // the map's instances, in the order they were placed
  const std::vector<uint8_t>* marked = nullptr;  // PNG: w*h cells drawn highlighted (1)
  ExportPlan() = default;
  ExportPlan(const ExportPlan&) = delete;
  ExportPlan& operator=(const ExportPlan&) = delete;
  ~ExportPlan();
};

// Sets projectPath from a project folder or its PROJECT.MSK.
bool useProject(const std::string& arg, std::string* error);
// Reads the map file and loads every tileset it uses. outDir is the folder
// the output goes to (image paths are written relative to it); with
// `checkCells`, a cell naming no tile of its tileset is refused.
bool loadExportPlan(const std::string& map, const std::string& outDir, bool checkCells,
                    ExportPlan* plan, std::string* error);
// The rest of loadExportPlan, for a map already in p->map.
bool planTilesets(const std::string& outDir, bool checkCells, ExportPlan* plan, std::string* error);
// Reads any map file with the model's checked reader; false with a line
// naming the file in *error.
bool readMapPath(const std::string& path, Map* m, std::string* error);
// The gid a tiled layer's cell is written as.
uint32_t exportGid(const OutTileset& t, int32_t element);
// Comma-separated cells of a layer, one map row a line (Tiled's CSV).
std::string cellsCsv(const ExportPlan& p, int layer, bool gids);

// Writes a file whole or not at all: `write` fills a temporary file beside
// `path`, which is then renamed over it.
bool writeFileAtomically(const std::string& path, bool (*write)(FILE*, const void*),
                         const void* ctx, std::string* error);

bool exportTmx(const ExportPlan& p, const std::string& out, std::string* error);
bool exportJson(const ExportPlan& p, const std::string& out, std::string* error);
bool exportPng(const ExportPlan& p, const std::string& out, std::string* error);

// A collision rectangle of tile `tile`, in pixels of the tile.
struct InRect {
  int tile = 0;
  double x = 0, y = 0, w = 0, h = 0;
};

struct InTileset {
  uint32_t firstgid = 0;
  std::string name;                 // for messages
  std::string image;                // path of the image, resolved; empty: no single image
  long tileW = 0, tileH = 0, margin = 0, spacing = 0;
  std::vector<InRect> rects;
};

struct InLayer {
  bool image = false;               // an image layer: becomes a background layer
  std::string name, source;         // source: the image path, resolved
  std::vector<uint32_t> gids;       // tile layer cells, row-major
  Properties props;
};

// A custom property as the file types it: type "" is a string; the value
// as text (numbers as written, booleans "true" / "false").
struct InProperty {
  std::string name, type, value;
};

// An object of an object group, as the file has it.
enum InShape { SHAPE_RECTANGLE, SHAPE_ELLIPSE, SHAPE_POINT, SHAPE_POLYGON, SHAPE_POLYLINE, SHAPE_TEXT };
struct InObject {
  long id = 0;                      // the file's object id
  std::string layer, name, cls;     // cls: its class, else its type
  std::string templ;                // the template it is made from
  double x = 0, y = 0, w = 0, h = 0, rotation = 0;
  bool badNumber = false;           // a position or size that is not a number
  uint32_t gid = 0;                 // a tile object's tile, with Tiled's flip bits
  InShape shape = SHAPE_RECTANGLE;
  std::vector<InProperty> props;
};

struct InMap {
  std::string orientation;
  long w = 0, h = 0, tileW = 0, tileH = 0;
  bool infinite = false;
  Properties props;
  std::vector<InTileset> sets;
  std::vector<InLayer> layers;      // bottom-up, groups flattened
  std::vector<InObject> objects;    // every object group's, in file order
};

// Entities through object groups (objects.cpp). The export's objects from
// the map's instances and the project's definitions; the import's
// instances into m from the file's objects, the definitions to create in
// *models, and one line in *dropped per thing that cannot come over. False
// (with error) only for input no map can take (too many objects).
const char OBJECT_GROUP_NAME[] = "entities";
const char ID_PROPERTY[] = "moska_id";   // our 64-bit id: TMX object ids are small numbers
void planObjects(ExportPlan* p);
bool planEntities(const InMap& in, Map* m, std::vector<EntityModel>* models,
                  std::vector<std::string>* dropped, std::string* error);
// Writes the definitions planEntities made, before the map; false with error.
bool storeModels(const std::vector<EntityModel>& models, std::string* error);
// The readers' bound: objects of one file (a map holds at most this many).
bool objectRoom(const InMap& m, std::string* error);

// Readers: false with the first problem (unreadable file, unknown encoding).
bool readTmx(const std::string& path, InMap* m, std::string* error);
bool readJson(const std::string& path, InMap* m, std::string* error);
// External tilesets (.tsx in XML, .tsj/.json in JSON), by extension.
bool readTsx(const std::string& path, InTileset* t, std::string* error);
bool readTsj(const std::string& path, InTileset* t, std::string* error);
bool readExternalTileset(const std::string& path, InTileset* t, std::string* error);

// Layer data as Tiled stores it: base64, optionally zlib or gzip compressed,
// little-endian 32-bit gids.
bool decodeLayerData(const std::string& text, const std::string& compression,
                     std::vector<uint32_t>* gids, std::string* error);
// Comma- or blank-separated gids.
bool parseCsvGids(const std::string& text, std::vector<uint32_t>* gids);
// A path named inside the file at `from`, resolved against its folder.
std::string resolveBeside(const std::string& from, const std::string& name);
// Parses a whole decimal number; false for anything else.
bool parseLong(const std::string& s, long* v);

// Maps in git (gitmerge.cpp, mapdiff.cpp): the commands and their statuses.
enum {
  CLI_MERGE_CLEAN = 0,      // merged, nothing conflicted
  CLI_MERGE_CONFLICTS = 1,  // merged, ours kept in the conflicts, report written
  CLI_MERGE_REFUSED = 2,    // an input is not a readable map (or bad arguments): nothing changed
  CLI_MERGE_FAILED = 3,     // the merge could not be written: nothing changed
  CLI_DIFF_SAME = 0,        // --diff OLD NEW: like diff(1)
  CLI_DIFF_CHANGED = 1,
  CLI_DIFF_REFUSED = 2,     // an input is not a readable map, or the picture failed
};
int runMerge(int argc, char** argv);
int runGitSetup(int argc, char** argv);
int runDiff(int argc, char** argv);
