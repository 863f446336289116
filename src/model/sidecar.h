// The per-map sidecar: data the map file format has no field for, one JSON
// file per map, "mapdata/<map>.json" in the project. The map browser lists
// "maps/" alone, and nothing of the base formats changes, so an editor of
// the base protocol sees the project exactly as before.
//
// The file is one JSON object; each kind of data is one section, a member of
// that object, with its own checker, reader and writer (sidecarsection.h;
// the table in sidecar.cpp). Layer names are the section "layerNames"
// (layernames.cpp). A member this editor does not know is kept as it came
// and written back, so an editor that knows fewer sections loses nothing.
//
// Reading is bounded (size, nesting, values, string and array lengths) and
// all or nothing: a file that is not what the sections write is "broken". A
// broken file is never overwritten: it is renamed aside to
// "<map>.json.broken" (or ".broken-2"...) when the map opens, the panel says
// so, and the next save writes a fresh file from what the editor holds. (The
// alternative, leaving it in place and saving nothing for that map, would
// throw away every later rename without a word.) When it can be neither read
// nor set aside, the map's sidecar is not written this session
// (`Map::sidecarHeld`).
#pragma once
#include <stddef.h>

#include <string>

#include "model/digest.h"
#include "model/model.h"

enum {
  // A file or a peer's copy: 65535 layers named with 64 bytes on tilesets of
  // 255-byte names take 22.5 MiB.
  SIDECAR_MAX_BYTES = 32 << 20,
  SIDECAR_MAX_DEPTH = 16,        // nested arrays and objects (the sections need 3)
  SIDECAR_MAX_VALUES = 1 << 18,  // values (not keys) in all, ~100 bytes each parsed; 65535 names take 196607
  LAYER_NAME_MAX = 64,           // bytes of a layer's name
};
constexpr char SIDECAR_BROKEN_SUFFIX[] = ".broken";

enum SidecarRead {
  SIDECAR_NONE,       // no file: nothing to take
  SIDECAR_OK,         // taken
  SIDECAR_SET_ASIDE,  // broken: renamed aside, nothing taken (why names both)
  SIDECAR_HELD,       // unreadable or broken and could not be set aside: the map's sidecar is not written
  SIDECAR_BROKEN,     // broken, left where it is (a read-only reader: the export)
};

// Reads the sidecar of map `name` into m, whose layers are read already.
// With setAside, a broken file is renamed aside (see above); why (may be
// null) gets one line for the log and the panel when the result is neither
// NONE nor OK. Runs on the thread that owns m.
SidecarRead sidecarLoad(Map* m, const char* name, bool setAside, char* why, size_t cap);
// Writes m's sidecar as "mapdata/<name>.json" (crash-safe: beside it, then
// renamed). A map with nothing to keep has no file (an old one is removed).
// False (old file whole) when the write fails or the map's sidecar is held.
// Touches nothing but m and the file: the background saver calls it.
bool sidecarSave(const Map* m, const char* name, char* why, size_t cap);

// m's sidecar as canonical JSON text (keys sorted, no blanks); "" when it
// holds nothing. What the digest covers and what a peer is sent.
std::string sidecarText(const Map* m);
// The sidecar text of map `name` as this editor has it: the open map's, else
// the file's in canonical form ("" for no file). False when the file is
// broken or cannot be read.
bool sidecarTextOf(const char* name, std::string* out);
// Folds the sidecar of map `name` into a digest of its map (nothing when it
// holds nothing, so maps without one keep the digest of their file).
void sidecarFold(const char* name, MapDigest* d);
// Takes a peer's sidecar text for map `name`, checked whole first: into the
// open map (marked changed), else written as its file. False with why when
// it is broken or cannot be written; nothing changed then.
bool sidecarTake(const char* name, const char* text, size_t n, char* why, size_t cap);

// Shows a message on the panel (set by the editor; null: the log only).
extern void (*sidecarNoticeHook)(const char* text);

// Layer names (layernames.cpp): a layer's name, by default its tileset's.
const char* layerName(const Layer* l);
// Why a name is refused in the user's words ("" resets it to the default);
// null when it may be used: at most LAYER_NAME_MAX bytes of UTF-8, no
// control character. Names are shown, never used as paths.
const char* layerNameRefusal(const char* name);
// Names layer `layer` of m ("" or its tileset's name: the default); false
// (logged) for no such layer or a refused name.
bool setLayerName(Map* m, int layer, const char* name);
