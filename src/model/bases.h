// The base of a map: the state this editor last shared with its peers,
// kept so that a later join merges two copies that went apart three-way
// instead of replacing one. One file per map in the project's hidden state
// folder, ".moska/bases/<map>.map.z": a header line
// "MOSKABASE 1 <digest> <size>" then the map file layout as one zlib stream.
// Written crash-safe (beside, then renamed); one base a map, never more
// than the map itself.
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
// Writes `bytes` (the map file layout, digest d) as the base of `name`; false
// (the old base whole) when the folder or the file cannot be written.
bool writeBase(const char* name, const std::vector<unsigned char>& bytes, const MapDigest& d);
// Removes the bases of maps that are not in `names`; how many went.
int pruneBases(const std::vector<std::string>& names);
