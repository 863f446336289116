// The base of a map: the state this editor last shared with its peers,
// kept so that a later join merges two copies that went apart three-way
// instead of replacing one. One file per map in the project's hidden state
// folder, ".moska/bases/<map>.map.z": a header line
// "MOSKABASE 1 <digest> <size>" then the map file layout as one zlib stream.
// Written crash-safe (beside, then renamed); one base a map, never more
// than the map itself.
//
// The map's sidecar at that moment goes beside it, ".moska/bases/<map>.json.z":
// "MOSKABASESIDE 1 <map digest> <folded digest> <size>" then its canonical
// text as one zlib stream (none for an empty sidecar). The folded digest is
// the map's with the text folded in, as peers that keep sidecars compare
// maps; a sidecar base whose map digest is not its map base's (a crash
// between the two files) is no base.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

#include "model/digest.h"
#include "model/model.h"

// The digest a map's base records, from its header alone (no inflating);
// false when the map has no base or its header is not one.
bool baseDigest(const char* name, MapDigest* d);
// The base of `name` whole: inflated, parsed and checked against the digest
// its header records (in *d). False, out empty, for a missing, truncated or
// corrupt base.
bool readBase(const char* name, Map* out, MapDigest* d);
// Writes `bytes` (the map file layout, digest d) as the base of `name`, and
// `sidecar` (its canonical text, "" for none) as the base's sidecar; false
// when the folder or a file cannot be written (a map base left whole then
// has no sidecar base beside it any more).
bool writeBase(const char* name, const std::vector<unsigned char>& bytes, const MapDigest& d,
               const std::string& sidecar);
// The digest of the base with its sidecar folded in, as a peer keeping
// sidecars compares it; the map base's own (*d as given) when the sidecar
// base is missing or belongs to another map base. False without a base.
bool baseFoldedDigest(const char* name, MapDigest* d);
// The sidecar of the base of `name` whose map digest is `mapBase`, checked
// whole; false (out empty) when missing, of another base or corrupt.
bool readBaseSidecar(const char* name, const MapDigest& mapBase, std::string* out);
// Removes the bases of maps that are not in `names`; how many went.
int pruneBases(const std::vector<std::string>& names);
