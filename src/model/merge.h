// Three-way merge of two copies of a map that went apart from a common
// base, and the matching of layers that it and a map diff share. Works on
// plain Map records as the checked reader gives them (no surfaces, no
// open-map list): the command line's git driver and a merge on join use it
// alike.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "model/model.h"

enum MergeSide { MERGE_OURS, MERGE_THEIRS };  // who wins a conflict

enum MergeConflictKind {
  CONFLICT_CELL,          // a cell changed differently on both sides
  CONFLICT_CUT_CELL,      // a changed cell that lies outside the merged size
  CONFLICT_LAYER_BG,      // a layer's background flag, x or y changed differently
  CONFLICT_LAYER_X,
  CONFLICT_LAYER_Y,
  CONFLICT_LAYER_KEPT,    // deleted on one side, changed on the other: kept
  CONFLICT_WIDTH,         // the map size changed differently on both sides
  CONFLICT_HEIGHT,
  CONFLICT_NAME,          // the display name changed differently (see the maps)
};

// One conflict. layer is the merged map's layer index (-1 for the map's own
// fields); x, y a cell (0 for the rest); base, ours, theirs the values each
// copy holds (for CONFLICT_LAYER_KEPT: 1 where the layer is present).
struct MergeConflict {
  MergeConflictKind kind;
  int layer;
  uint32_t x, y;
  int64_t base, ours, theirs;
};

const int64_t MERGE_ABSENT = INT64_MIN;  // a value of a cell outside that copy's size

enum {
  MERGE_LIST_MAX = 1 << 20,  // conflicts listed one by one (24 MiB); the rest only counted
};

// Where a layer of the merge comes from: its index in the base and in each
// copy, -1 where that copy has no such layer (added on one side, or
// deleted). What the layers' sidecar data (their names) is merged along.
struct MergeLayerOrigin {
  int base, ours, theirs;
};

struct MergeReport {
  std::vector<MergeConflict> conflicts;  // the first MERGE_LIST_MAX, in merged order
  std::vector<MergeLayerOrigin> origins;  // one per layer of the merge
  size_t total = 0;                      // every conflict, listed or not
  size_t cells = 0;                      // of which cell conflicts (cut cells included)
  int layersAdded = 0, layersDeleted = 0, layersKept = 0;
};

enum MergeResult { MERGE_OK, MERGE_NO_MEMORY, MERGE_TOO_MANY_LAYERS };

// Merges ours and theirs against base into out (a new record, owned by the
// caller, freed with freeMapRecord). Cell by cell, and field by field: a
// value changed on one side only takes that side's value; changed alike on
// both, that value; changed differently, the winner's, and it is a
// conflict. Layers are matched to the base (matchLayers): a layer added on
// either side is kept (ours' below theirs' at the same place), one deleted
// on one side is deleted when the other left it as it was and otherwise
// kept and counted as a conflict. The view follows the same rule, but two
// different scrolls are no conflict (each user scrolls on his own). out
// takes ours' filename. On a failure out is left empty.
MergeResult mergeMaps(const Map* base, const Map* ours, const Map* theirs, MergeSide winner, Map* out,
                      MergeReport* report);

// The same, with ours' cell arrays becoming the merge's where the layer
// keeps its size (no new memory for the big maps of a git merge): ours is
// left without them and is only to be freed.
MergeResult mergeMapsTakingOurs(const Map* base, Map* ours, const Map* theirs, MergeSide winner, Map* out,
                                MergeReport* report);

// For each layer of `side`, the index of the base layer it continues, or -1
// for a layer added. Only layers on the same tileset match; the order is
// kept (a longest common sequence), and among equal choices the one whose
// cells agree most with the base layer's (sampled) wins, then the same
// position.
std::vector<int> matchLayers(const Map* base, const Map* side);

// True when two layers of maps of the same size hold the same fields and cells.
bool sameLayer(const Layer* a, const Layer* b, size_t cells);

// One conflict as a line of a report: "<map> layer 0 x 2 y 3: base 1, ours
// 5, theirs 7", and the like for the other kinds (the display names given
// are the three copies' own, for CONFLICT_NAME).
std::string mergeConflictText(const std::string& map, const MergeConflict& c, const char* baseName,
                              const char* oursName, const char* theirsName);
// "3 conflicts (2 cells)".
std::string mergeCounted(const MergeReport& r);
