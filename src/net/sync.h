// Every copy of the project converges, for the peers that announced "SYNC".
//
// On join both sides send the digest of every map they have, with their
// site and clock ("SYNCLIST");
// the editor that was joined is the reference: a map that differs, or that
// the joiner lacks, goes from it to the joiner, and a map only the joiner
// has goes the other way ("SYNCTILESET" offers each tileset first, then
// "SYNCMAP" and its zlib stream in base64 "SYNCDATA" chunks). Cell writes
// carry a (Lamport clock, site) stamp ("STAMP" right before the base
// action) and the latest stamp wins on every copy. After a quiet second the
// open maps' digests are compared ("SYNCCHECK"); a mismatch is repaired
// from the lower site ("SYNCWANT"). A replaced copy is kept in conflicts/.
// A copy on its way is bounded per peer and for all peers (refused at its
// "SYNCMAP"), dropped with its peer, and checked whole (limits, tilesets,
// library room) before it replaces anything.
// Everything here runs on the main thread.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

// The peer on `slot` announced its extensions (its "SYNC" ones start the join sync).
void syncPeerAnnounced(int slot);
// A received action of the peer on `slot`, before it is applied: an edit
// counts as activity, and a pending stamp is dropped unless a cell write
// follows.
void syncSawAction(int slot, const char* header);
// A received cell write of the peer on `slot`: when a stamp preceded it, the
// cells newer writes hold are left alone and the rest written here (true);
// false: unstamped, the caller writes it as before.
bool syncCellWrite(int slot, const struct WireCells& c);
// The same for a block of cells of any values ("CELLS").
bool syncBlockWrite(int slot, const struct WireBlock& b);
// An edit is about to be sent to every peer (activity: the quiet check waits).
void syncNoteActivity();
// A cell write about to be sent while stamping peers are connected: its
// stamp's body ("clock site"), recorded; false when no stamp goes with it.
bool syncStampCells(const struct WireCells& c, char* stamp, size_t cap);
// An own rename about to be sent: made again if a copy of the map arrives meanwhile.
void syncNoteRename(const char* filename, const char* sysname);
// Sends what peers are owed, and the digest check after a quiet second.
void syncTick();
// The panel's line: what is being repaired or received, or "In sync with N editors".
void syncStatus(char* out, size_t cap);
// Shows a message on the panel (set by the shell; null: none).
extern void (*syncNoticeHook)(const char* text);

// Merge on join ("MERGE"). Each map's base, the state last shared with the
// peers, is brought up to date when a join's sync is complete and when this
// editor leaves, or is left by, a peer that keeps bases (`why` for the log).
void syncWriteBases(const char* why);
// This editor leaves its peers (slot -1), or the peer on `slot` is leaving:
// the bases are written when one of them keeps bases too (main thread).
void syncLeaving(int slot);
// The cells the last merges found changed differently on both sides, for
// the map of that name (null: none), bumped `generation` whenever a merge
// adds some; and their removal (the user saw them).
struct MergeMarkCell {
  uint32_t x, y;
};
const std::vector<MergeMarkCell>* syncConflictMarks(const char* map);
unsigned syncConflictGeneration();
void syncClearConflictMarks();

// Stamps: a Lamport clock and this editor's site id, ordered as a pair.
struct WriteStamp {
  uint64_t clock = 0, site = 0;
  bool operator<(const WriteStamp& o) const { return clock != o.clock ? clock < o.clock : site < o.site; }
};
// The stamps of one map's written rectangles, oldest first, at most
// STAMP_RECTS_MAX (the oldest go first; a copy that then differs is repaired).
struct StampRect {
  WriteStamp s;
  int layer;
  uint32_t x1, y1, x2, y2;
};
struct StampTable {
  std::deque<StampRect> rects;  // dropped from the front in O(1)
};
enum { STAMP_RECTS_MAX = 4096 };  // 160 KiB a map; a lookup walks at most this many
// Rectangles of `t` on that layer newer than s that overlap [x1,x2]x[y1,y2].
std::vector<StampRect> newerOverlaps(const StampTable& t, const StampRect& r);
void recordStamp(StampTable& t, const StampRect& r);
// Bytes the stamps of every map take (benchmark).
size_t syncStampBytes();

// Base64 of bytes (map data in a text body) and back; false for bad text.
std::string base64Encode(const unsigned char* p, size_t n);
bool base64Decode(const char* text, size_t len, std::vector<unsigned char>& out);

// Bytes reserved for copies on their way here, from every peer (each the
// size its sender announced; pages are taken as the data arrives).
size_t syncIncomingBytes();

// Forgets every peer's sync state and the stamps (tests).
void syncReset();
