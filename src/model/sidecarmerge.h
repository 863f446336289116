// Three-way merge of a map's sidecar (sidecar.h) beside the merge of the map
// itself (merge.h): two copies that went apart from a common base. The
// sidecars are given as their text and the merged one comes out as text;
// nothing here touches a map record, a file or a peer.
//
// Entities merge by instance id: one added on one side is kept; deleted on
// one side and left alone on the other, deleted; deleted on one side and
// changed on the other, kept and a conflict. Each field, the definition and
// the position (x and y as one value) follow the three-way rule: changed on
// one side, that side's value; alike on both, that value; differently, the
// winner's and a conflict. Layer names follow the merged layers (`origins`
// from the map merge) by the same rule. Sections this editor does not know
// merge whole, by the same rule.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "model/merge.h"

enum {
  SIDECAR_CONFLICTS_LISTED = 65536,  // conflicts listed one by one; the rest only counted
  SIDECAR_VALUE_SHOWN = 60,          // bytes of a value in a conflict's line (values may be 1 KiB texts)
};

// The layers of the three copies and of the merge, each as its tilesets
// bottom-up (a name in the sidecar belongs to a layer by its tileset), and
// where each merged layer came from.
struct SidecarLayers {
  std::vector<std::string> base, ours, theirs, merged;
  std::vector<MergeLayerOrigin> origins;  // one per merged layer
};

// One conflict: what it is about ("entity 00000000000000a1 field hp",
// "layer 2 name", "section notes") and the three values, shortened.
struct SidecarConflict {
  std::string subject, base, ours, theirs;
};

struct SidecarMergeReport {
  std::vector<SidecarConflict> conflicts;  // the first SIDECAR_CONFLICTS_LISTED
  size_t total = 0;
};

// Merges the sidecar texts ours and theirs against base ("" is an empty
// sidecar) into *out, canonical text ("" when it holds nothing). False with
// why when one of the three is not a sidecar (then nothing is merged: the
// caller falls back to one copy's).
bool mergeSidecars(const std::string& base, const std::string& ours, const std::string& theirs,
                   const SidecarLayers& layers, MergeSide winner, std::string* out, SidecarMergeReport* report,
                   std::string* why);

// One conflict as a line of a report: "<map> <subject>: base x, ours y,
// theirs z".
std::string sidecarConflictText(const std::string& map, const SidecarConflict& c);
