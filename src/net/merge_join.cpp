// Merge on join ("MERGE"): two editors that go apart and meet again merge
// the maps both changed, instead of one copy replacing the other.
//
// Each side's "SYNCLIST" entry names the digest of its base of the map (the
// state it last shared: bases.h). For a map that differs where both name the
// same base, each side sends its copy only when it changed the map since
// the base, and each merges the copy it receives with its own against the
// base. Both merge the same three maps in the same order (the reference's
// copy as "ours", the joiner's as "theirs", ours winning a conflict), so
// both end with the same map without a third round trip; edits made
// meanwhile follow their copies as stamped writes, and the quiet check
// repairs what is left. Without a common base the reference's copy wins as
// before. Conflicts are logged, shown on the panel, written to a report in
// conflicts/ (and the joiner's old copy beside it), and marked on the map.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "core/core.h"
#include "core/files.h"
#include "model/bases.h"
#include "model/mapfile.h"
#include "model/merge.h"
#include "net/netio.h"
#include "net/syncstate.h"

namespace {
const size_t BASES_LISTED_MAX = 10000;  // as many bases as a list may name maps
const size_t MARKS_MAX = 65536;         // conflict cells marked per map (the report lists them all)

// The maps of one merge, freed together.
struct Copies {
  Map base, theirs, ownFile, out;
  ~Copies() {
    freeMapRecord(&base);
    freeMapRecord(&theirs);
    freeMapRecord(&ownFile);
    freeMapRecord(&out);
  }
};

void notice(const char* text) {
  if (syncNoticeHook) syncNoticeHook(text);
}

// The old copy kept in conflicts/: logged as any replaced copy.
void logKept(const char* map, const char* kept) {
  if (kept[0]) printf("Conflit: ancienne copie de la map %s gardee dans %s.\n", map, kept);
}

const char* fileOf(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The report of a merge's conflicts, from this editor's point of view:
// "ours" is this editor's copy, "theirs" the peer's.
std::string reportText(const std::string& map, const std::string& peer, bool joiner, const MergeReport& r,
                       const Copies& c, const Map* own) {
  std::string kept = joiner ? peer + "'s value (the editor joined) kept" : "ours (the editor joined) kept";
  std::string text = "# Merge on join of map " + map + " with " + peer + ": " + mergeCounted(r) + ", " + kept +
                     " in each\n# ours: this editor's copy (" + username + "), theirs: " + peer + "'s\n";
  for (const MergeConflict& k : r.conflicts) {
    MergeConflict mine = k;  // the merge took the reference's copy as its "ours"
    if (joiner) std::swap(mine.ours, mine.theirs);
    text += mergeConflictText(map, mine, c.base.sysname, own->sysname, c.theirs.sysname) + "\n";
  }
  if (r.total > r.conflicts.size()) text += "# and " + std::to_string(r.total - r.conflicts.size()) + " more\n";
  return text;
}

// The conflicting cells, marked on the map until the user clears them.
void mark(const std::string& map, const MergeReport& r) {
  std::vector<MergeMarkCell>& cells = syncState.marks[map];
  cells.clear();
  for (const MergeConflict& k : r.conflicts)
    if (k.kind == CONFLICT_CELL && cells.size() < MARKS_MAX) cells.push_back({k.x, k.y});
  if (cells.empty()) syncState.marks.erase(map);
  syncState.marksGen++;
}

// The log, the panel and the report of a merge done.
void announce(const std::string& map, const std::string& peer, const MergeReport& r, const std::string& report) {
  printf("Fusion: map %s fusionnee avec la copie de %s: %s.\n", map.c_str(), peer.c_str(),
         mergeCounted(r).c_str());
  char text[NOTICE_LEN];
  if (r.total == 0) {
    snprintf(text, sizeof text, "%.60s merged with %.60s: no conflict", map.c_str(), peer.c_str());
    return notice(text);
  }
  char path[FILE_PATH_LEN];
  bool written = writeConflictText(map.c_str(), report, path, sizeof path);
  if (written) printf("Conflit: %zu conflit(s) sur la map %s, rapport dans %s.\n", r.total, map.c_str(), path);
  // Two short lines: the panel is 322 pixels wide.
  snprintf(text, sizeof text, "%.32s merged, %s: K\n%s%.64s", map.c_str(), mergeCounted(r).c_str(),
           written ? "conflicts/" : "no report written", written ? fileOf(path) : "");
  notice(text);
}

// The merge could not be made: the reference's copy wins, as without a base.
bool mergeFailed(PeerSync& st, const std::string& name, Copies& c, const char* reason, char* why, size_t whyCap) {
  printf("Fusion: map %s impossible (%s): la copie de l'editeur rejoint l'emporte.\n", name.c_str(), reason);
  if (!st.joiner) {
    // Ours stays; the joiner takes it as any copy it did not expect.
    if (std::find(st.toSend.begin(), st.toSend.end(), name) == st.toSend.end()) st.toSend.push_back(name);
    return true;
  }
  char kept[FILE_PATH_LEN];
  if (!replaceProjectMapWith(name.c_str(), &c.theirs, true, kept, sizeof kept, why, whyCap)) return false;
  logKept(name.c_str(), kept);
  return true;
}
}  // namespace

std::string mergeListBase(PeerSync& st, const std::string& name) {
  MapDigest b;
  if (!baseDigest(name.c_str(), &b)) {
    st.ourBases.erase(name);
    return " -";
  }
  st.ourBases[name] = b;
  char hex[DIGEST_HEX + 1];
  digestHex(b, hex);
  return std::string(" ") + hex;
}

bool mergeReadListBase(const char** p, PeerSync& st, const std::string& name) {
  char hex[DIGEST_HEX + 2];
  int used = 0;
  if (sscanf(*p, " %33s%n", hex, &used) != 1) return false;
  *p += used;
  MapDigest d;  // "-", or anything but a digest: no base
  if (parseDigestHex(hex, &d) && st.theirBases.size() < BASES_LISTED_MAX) st.theirBases[name] = d;
  return true;
}

bool mergeDecide(PeerSync& st, const std::string& name, const MapDigest& mine, const MapDigest& theirs, bool* send,
                 bool* take) {
  if (!st.mergeTalk) return false;
  auto ours = st.ourBases.find(name), their = st.theirBases.find(name);
  if (ours == st.ourBases.end() || their == st.theirBases.end() || ours->second != their->second) return false;
  *send = mine != ours->second;
  *take = theirs != ours->second;
  if (*take) st.merging.insert(name);
  return true;
}

bool mergeInstall(int slot, PeerSync& st, const std::string& name, const std::vector<unsigned char>& data,
                  char* why, size_t whyCap) {
  st.merging.erase(name);
  const char* map = name.c_str();
  std::string peer = nameOf(slot);
  Copies c;
  MapRead read = readMapBytes(data.data(), data.size(), &c.theirs);
  if (read != MAP_READ_OK && read != MAP_READ_BAD_END) {
    snprintf(why, whyCap, "illisible");
    return false;
  }
  const MapDigest base = st.ourBases[name];
  MapDigest mine, theirs = mapDigest(&c.theirs);
  char kept[FILE_PATH_LEN];
  if (!currentMapDigest(map, &mine) || mine == base || mine == theirs) {
    printf("Fusion: map %s: rien de nouveau ici depuis la base, copie de %s prise.\n", map, peer.c_str());
    return replaceProjectMapWith(map, &c.theirs, false, kept, sizeof kept, why, whyCap);
  }
  if (theirs == base) return true;  // nothing new there: ours is the merge (it was not sent)
  // Our own copy, if it has not gone yet, goes before the merge changes it:
  // the peer must merge what we changed, or it would see no conflict.
  if (!syncSendOwnCopyNow(slot, st, name))
    printf("Fusion: map %s: file d'envoi pleine, la copie fusionnee partira a la place.\n", map);
  MapDigest got;
  if (!readBase(map, &c.base, &got) || got != base) return mergeFailed(st, name, c, "base perdue", why, whyCap);
  const Map* own = openMapAt(getMap(map));
  if (!own) {
    std::vector<unsigned char> bytes;
    MapRead r = MAP_READ_CORRUPT;
    if (projectMapBytes(map, bytes)) r = readMapBytes(bytes.data(), bytes.size(), &c.ownFile);
    if (r != MAP_READ_OK && r != MAP_READ_BAD_END)
      return mergeFailed(st, name, c, "copie locale illisible", why, whyCap);
    own = &c.ownFile;
  }
  MergeReport report;
  const Map* ref = st.joiner ? &c.theirs : own;
  const Map* joiner = st.joiner ? own : &c.theirs;
  MergeResult done = mergeMaps(&c.base, ref, joiner, MERGE_OURS, &c.out, &report);
  if (done != MERGE_OK) {
    const char* reason = done == MERGE_NO_MEMORY ? "memoire insuffisante" : "trop de layers";
    return mergeFailed(st, name, c, reason, why, whyCap);
  }
  std::string text = report.total ? reportText(name, peer, st.joiner, report, c, own) : "";
  if (!replaceProjectMapWith(map, &c.out, st.joiner, kept, sizeof kept, why, whyCap)) return false;
  logKept(map, kept);
  mark(name, report);
  announce(name, peer, report, text);
  return true;
}

void mergeSyncComplete(int slot, PeerSync& st) {
  if (!st.basesDue || st.listPending || st.awaiting > 0 || !st.toSend.empty() || st.in.active) return;
  st.basesDue = false;
  st.merging.clear();  // a copy promised and never sent is not waited for
  std::string why = "synchro avec " + nameOf(slot) + " terminee";
  syncWriteBases(why.c_str());
}

void syncWriteBases(const char* why) {
  if (!projectLoaded) return;
  std::vector<std::string> names = projectMapNames();
  int written = 0;
  for (const std::string& name : names) {
    MapDigest now, base;
    if (!currentMapDigest(name.c_str(), &now) || (baseDigest(name.c_str(), &base) && base == now)) continue;
    std::vector<unsigned char> bytes;
    if (projectMapBytes(name.c_str(), bytes) && writeBase(name.c_str(), bytes, now)) written++;
  }
  pruneBases(names);
  printf("Bases: %d map(s) mise(s) a jour (%s).\n", written, why);
}

void syncLeaving(int slot) {
  bool merging = false;
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++)
      merging = merging || ((slot < 0 || i == slot) && (peers[i].extensions & EXT_MERGE));
  }
  if (!merging) return;
  std::string why = slot < 0 ? std::string("depart") : "depart de " + nameOf(slot);
  syncWriteBases(why.c_str());
}

const std::vector<MergeMarkCell>* syncConflictMarks(const char* map) {
  auto it = syncState.marks.find(map ? map : "");
  return it == syncState.marks.end() ? nullptr : &it->second;
}
unsigned syncConflictGeneration() { return syncState.marksGen; }
void syncClearConflictMarks() {
  syncState.marks.clear();
  printf("Conflits: marques effacees.\n");
}
