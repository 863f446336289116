// The sync module's internals, shared by its three files: the join
// transfer (sync.cpp), the stamps and the journal (stamps.cpp) and the
// quiet-second check (check.cpp). Everything here is the main thread's.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <zlib.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "model/digest.h"
#include "model/sidecarmerge.h"
#include "net/sync.h"

// Numbers the sync's wire and bounds fix.
const uint32_t QUIET_MS = 1000;              // no edit for this long: digests are compared
const size_t JOURNAL_MAX = 65536;            // own writes kept while a copy is on its way
const uint64_t CLOCK_JUMP_MAX = 1ull << 40;  // a peer's clock ahead of ours by more is not believed
const int NAME_WORD = 256;                   // "%255s"
const size_t SMALL_BODY = 2 * NAME_WORD + 128;  // two names, numbers and a digest
const size_t NOTICE_LEN = 200;

// A copy of a map on its way from a peer.
struct Incoming {
  bool active = false;
  std::string name;
  size_t raw = 0, comp = 0, got = 0;
  z_stream z{};
  std::vector<unsigned char> data;
};

// A map merged on join whose sidecar from the peer is still to come
// (merge_join.cpp): what merging it then takes.
struct SidecarWait {
  bool merge = false;     // false: no common base, the joined editor's sidecar stays on both
  MapDigest base;         // the map's base, whose sidecar base is the common one
  SidecarLayers layers;   // "ours": the joined editor's copy, "theirs": the joiner's
  std::string own;        // our sidecar as the peer got it, before the merge
  bool mapMerged = false;  // the map itself was merged: its report waits for this one
  MergeReport map;        // its counts (the conflicts already in `lines`)
  std::string lines;      // its report's lines
  uint32_t since = 0;
};

// The sync's part of a peer's record (Peer::sync): reset with the slot.
struct PeerSync {
  std::map<std::string, MapDigest> theirs;  // the list being received
  std::deque<std::string> toSend;
  Incoming in;
  bool stamped = false;  // a "STAMP" waits for its cell write
  WriteStamp pending;
  std::string repairing;  // a map asked for after a check
  bool listPending = false;  // our list went out, theirs is still to come
  uint64_t theirSite = 0;    // from their list
  bool theirJoined = false;  // they joined us
  int awaiting = 0;          // maps the peer is to send after the lists
  uint32_t lastData = 0;
  // Merge on join ("MERGE", merge_join.cpp): the bases each list named, the
  // maps whose copy from the peer is merged rather than taken, our role.
  bool mergeTalk = false;                       // the lists carry bases
  std::map<std::string, MapDigest> theirBases;  // while their list is read
  std::map<std::string, MapDigest> ourBases;    // our map bases (without their sidecars)
  std::map<std::string, MapDigest> ourListed;   // as our list named them (sidecars folded in)
  std::map<std::string, std::string> sentSidecars;  // ours as sent with a copy the peer merges
  std::map<std::string, SidecarWait> sidecarWaits;
  std::set<std::string> merging;
  bool joiner = false;    // we joined: the peer's copy wins a conflict
  bool basesDue = false;  // the bases are written when this join's sync is complete
};


// An own write kept while a copy of its map may be replacing ours.
struct Journaled {
  std::string map;
  StampRect r;
  int element;
};

// The digest of a closed map's file, kept while the file does not change,
// so checks against closed maps never read the same file twice.
struct FileDigest {
  long long mtimeNs = -1;
  long long size = -1;
  MapDigest d;
};

// The module's globals.
struct SyncState {
  std::map<std::string, StampTable> stamps;
  std::vector<Journaled> journal;
  std::map<std::string, std::string> journalNames;  // own renames while a copy is on its way
  std::map<std::string, FileDigest> fileDigests;
  uint64_t lamport = 0;
  uint64_t site = 0;
  uint32_t lastActivity = 0;
  bool checked = true;  // the quiet check of the last activity was sent
  char shownStatus[128] = "";
  std::map<std::string, std::vector<MergeMarkCell>> marks;  // conflict cells by map, MARKS_MAX each
  unsigned marksGen = 0;                                     // bumped by each merge that adds marks
};
extern SyncState syncState;

// This editor's site id (random, 63 bits), drawn once.
uint64_t siteId();
// An edit was sent or received: the quiet check waits for the next quiet second.
void activity();
// The name of the peer on `slot`, for the log and the panel.
std::string nameOf(int slot);
// The peer on `slot` announced "SYNC"; the number of such peers.
bool syncPeer(int slot);
int syncPeers();
// A copy may be on its way here; or a copy is also being sent.
bool waiting();
bool busy();
// Drops the copy on its way from a peer, and the repair it was to be.
void abortIncoming(PeerSync& st, const char* why);

// The peer's slot ends: a copy on its way lets its buffer go now.
void syncSlotEnded(PeerSync& st);

// stamps.cpp: own writes made again after a copy replaced their map.
void replayJournal(const std::string& name);
// check.cpp: the digests of the open maps go to every stamping peer once
// the session is quiet; `sync` marks those peers.
void quietCheck(const bool sync[], int n);
// A map's digest now: an open map's from memory, a closed one's from its
// file, read again only when the file changed.
bool currentMapDigest(const char* name, MapDigest* d);

// merge_join.cpp: the maps both sides changed since one base, merged.
// Our list entry's base field for a map (" <digest>" or " -"), recorded in
// st.ourBases and st.ourListed; `names`: the peer keeps sidecars (their
// bases are folded in, as its digests fold them).
std::string mergeListBase(PeerSync& st, const std::string& name, bool names);
// Reads the base field of their list entry for `name` at *p (a word that is
// no digest names no base); false when the list ends before it.
bool mergeReadListBase(const char** p, PeerSync& st, const std::string& name);
// A map that differs, decided by the merge rule: true when both sides hold
// the same base; then *send (our copy goes to the peer) and *take (theirs
// comes and is merged here) say what each side changed since.
bool mergeDecide(PeerSync& st, const std::string& name, const MapDigest& mine, const MapDigest& theirs, bool* send,
                 bool* take);
// A copy from the peer for a map being merged: merged with ours against the
// base, installed, reported; as replaceProjectMap, false with why when refused.
bool mergeInstall(int slot, PeerSync& st, const std::string& name, const std::vector<unsigned char>& data,
                  char* why, size_t whyCap);
// A peer's sidecar for a map merged here: merged with ours and taken; false
// when the map waits for none (the caller takes it as any sidecar).
bool mergeSidecarArrived(int slot, PeerSync& st, const std::string& name, const std::string& text);
// The peer on `slot` (-1: every peer) leaves: sidecars still awaited from
// it are not (ours stays), and their maps' reports go out.
void mergeLeaving(int slot);
// After each turn of the sync: the join's sync with the peer on `slot` is
// complete, and its bases are written.
void mergeSyncComplete(int slot, PeerSync& st);
// sync.cpp: our copy of `name`, still waiting in st.toSend, goes out now
// when the peer's queue has room (a merge is about to change it: the peer
// merges our own copy, not our merge); false when it still waits.
bool syncSendOwnCopyNow(int slot, PeerSync& st, const std::string& name);
