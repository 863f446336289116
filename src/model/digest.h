// What two editors compare to tell whether their copies of a map agree, and
// how a whole map travels between them: its content digest, the map file
// layout in memory, and the replacement of a copy that keeps the old one.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "model/model.h"

enum { DIGEST_HEX = 32 };  // hex characters of a digest (128 bits)

// Content of a map: display name, size, and every layer bottom-up with its
// tileset name, background flag and scroll values and its cells. The view
// position is left out: each user scrolls on his own.
struct MapDigest {
  uint64_t a = 0, b = 0;
  bool operator==(const MapDigest& o) const { return a == o.a && b == o.b; }
  bool operator!=(const MapDigest& o) const { return !(*this == o); }
};
MapDigest mapDigest(const Map* m);
// d with n more bytes folded in (a map's sidecar, between editors that both
// keep one: model/sidecar.h).
MapDigest digestFold(const MapDigest& d, const char* bytes, size_t n);
void digestHex(const MapDigest& d, char out[DIGEST_HEX + 1]);
bool parseDigestHex(const char* text, MapDigest* d);

// The digest of the map of that name as this editor has it: the open copy,
// else its file. False when it has neither (or the file is unreadable).
bool projectMapDigest(const char* name, MapDigest* d);
// The names of every map of the project: open maps and files in "maps".
std::vector<std::string> projectMapNames();
// Bytes the map files in "maps" take.
size_t projectMapsBytes();

// The map file bytes of an open map, or of the file when the map is closed.
bool projectMapBytes(const char* name, std::vector<unsigned char>& out);

// Takes the map in `bytes` (the map file layout) as this editor's copy of
// `name`: the old copy, open or on disk, is first written whole to
// "conflicts/<name>-<time>.map" (its path in kept, "" when there was no old
// copy or it already held this content). An open map is changed in place
// (its record stays, the peers and the view keep pointing at it) and saved;
// a closed one has its file replaced. False (nothing changed, the reason in
// why) when the bytes do not parse, the map does not fit here (mapFitsHere:
// limits, missing tilesets, a full library for an open map) or the conflict
// copy or the new file cannot be written.
bool replaceProjectMap(const char* name, const unsigned char* bytes, size_t n, char* kept, size_t cap,
                       char* why = nullptr, size_t whyCap = 0);
// The same with a parsed map (taken: `in` is left empty), the old copy kept
// in "conflicts" only when keepOld.
bool replaceProjectMapWith(const char* name, Map* in, bool keepOld, char* kept, size_t cap, char* why = nullptr,
                           size_t whyCap = 0);
// Writes `text` as a new "conflicts/<name>-<time>.txt" (never over another
// file); its path in `path`. False (logged) when it cannot.
constexpr char CONFLICT_REPORT_EXT[] = "txt";
bool writeConflictText(const char* name, const std::string& text, char* path, size_t cap);
