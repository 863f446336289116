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
//
// The sidecar (layer names, entities) follows its copy ("SYNCSIDECAR"): a
// merged map waits for the peer's (st.sidecarWaits), which is merged the
// same way against the base's sidecar, from the same three texts on both
// sides (ours as it was sent, never as the merge left it); the map's report
// waits for it and counts both. Without a sidecar base, the reference's
// sidecar stays on both.
//
// [SECTION] index
//   report     reportLines, reportText, mark, announce
//   sidecars   the layers a sidecar merge follows, waits, arrival
//   list       mergeListBase, mergeReadListBase, mergeDecide
//   install    mergeInstall
//   bases      mergeSyncComplete, syncWriteBases, syncLeaving, marks
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "core/core.h"
#include "core/files.h"
#include "model/bases.h"
#include "model/mapfile.h"
#include "model/merge.h"
#include "model/sidecar.h"
#include "model/sidecarmerge.h"
#include "net/netio.h"
#include "net/syncstate.h"

namespace {
const size_t BASES_LISTED_MAX = 10000;  // as many bases as a list may name maps
const size_t MARKS_MAX = 65536;         // conflict cells marked per map (the report lists them all)
const uint32_t SIDECAR_WAIT_MS = 5000;  // a sidecar promised that shows nothing for this long is not waited for

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

// [SECTION] report
// The lines of a map merge's conflicts, from this editor's point of view:
// "ours" is this editor's copy, "theirs" the peer's.
std::string reportLines(const std::string& map, bool joiner, const MergeReport& r, const Copies& c, const Map* own) {
  std::string text;
  for (const MergeConflict& k : r.conflicts) {
    MergeConflict mine = k;  // the merge took the reference's copy as its "ours"
    if (joiner) std::swap(mine.ours, mine.theirs);
    text += mergeConflictText(map, mine, c.base.sysname, own->sysname, c.theirs.sysname) + "\n";
  }
  if (r.total > r.conflicts.size()) text += "# and " + std::to_string(r.total - r.conflicts.size()) + " more\n";
  return text;
}

// The same of a sidecar merge.
std::string reportLines(const std::string& map, bool joiner, const SidecarMergeReport& r) {
  std::string text;
  for (const SidecarConflict& k : r.conflicts) {
    SidecarConflict mine = k;
    if (joiner) std::swap(mine.ours, mine.theirs);
    text += sidecarConflictText(map, mine) + "\n";
  }
  if (r.total > r.conflicts.size()) text += "# and " + std::to_string(r.total - r.conflicts.size()) + " more\n";
  return text;
}

std::string reportText(const std::string& map, const std::string& peer, bool joiner, const MergeReport& r,
                       const std::string& lines) {
  std::string kept = joiner ? peer + "'s value (the editor joined) kept" : "ours (the editor joined) kept";
  return "# Merge on join of map " + map + " with " + peer + ": " + mergeCounted(r) + ", " + kept +
         " in each\n# ours: this editor's copy (" + username + "), theirs: " + peer + "'s\n" + lines;
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

// [SECTION] sidecars
std::vector<std::string> tilesetsOf(const Map* m) {
  std::vector<std::string> t;
  for (int i = 0; i < m->layers; i++) t.push_back(m->layer[i]->layerGFX ? m->layer[i]->layerGFX : "");
  return t;
}

// The layers of a sidecar merge whose map merge is one copy as it stands,
// `result` (ours or theirs), the other copy being the base itself
// (`otherIsBase`) or the same as result; base is a map of the base's layers.
SidecarLayers sameAsOne(const Map* base, const Map* result, bool resultIsOwn, bool otherIsBase, bool joiner) {
  SidecarLayers L;
  std::vector<int> match = matchLayers(base, result);
  for (int k = 0; k < result->layers; k++) {
    int other = otherIsBase ? match[k] : k;
    int own = resultIsOwn ? k : other, theirs = resultIsOwn ? other : k;
    L.origins.push_back({match[k], joiner ? theirs : own, joiner ? own : theirs});
  }
  L.base = tilesetsOf(base);
  L.merged = tilesetsOf(result);
  std::vector<std::string> other = otherIsBase ? L.base : L.merged;
  L.ours = resultIsOwn != joiner ? L.merged : other;  // ours: the reference's
  L.theirs = resultIsOwn != joiner ? other : L.merged;
  return L;
}

// Our sidecar as the peer has it: as sent with our copy, else as it is.
std::string ownSidecar(PeerSync& st, const std::string& name) {
  auto it = st.sentSidecars.find(name);
  std::string text;
  if (it != st.sentSidecars.end()) {
    text = std::move(it->second);
    st.sentSidecars.erase(it);
  } else if (!sidecarTextOf(name.c_str(), &text)) {
    text.clear();  // broken: counts as none, as in the digest
  }
  return text;
}

void takeSidecar(const std::string& name, const std::string& text, const char* whose) {
  char why[NOTICE_LEN];
  if (!sidecarTake(name.c_str(), text.data(), text.size(), why, sizeof why))
    printf("Fusion: sidecar de la map %s (%s) refuse: %s.\n", name.c_str(), whose, why);
}

// A wait ends without a merge of sidecars: the reference's stays on both
// (`theirs`, null when it never came), the map's report goes out.
void sidecarUnmerged(PeerSync& st, const std::string& name, SidecarWait& w, const std::string* theirs,
                     const std::string& peer) {
  if (st.joiner && theirs) takeSidecar(name, *theirs, "de l'editeur rejoint");
  else takeSidecar(name, w.own, "le notre");  // onto the layers the map merge left
  if (w.mapMerged) announce(name, peer, w.map, reportText(name, peer, st.joiner, w.map, w.lines));
}

// The merge could not be made: the reference's copy wins, as without a base.
bool mergeFailed(PeerSync& st, const std::string& name, Copies& c, const char* reason, char* why, size_t whyCap,
                 bool sidecars) {
  printf("Fusion: map %s impossible (%s): la copie de l'editeur rejoint l'emporte.\n", name.c_str(), reason);
  if (!st.joiner) {
    // Ours stays, and our sidecar; the joiner takes them as any copy it did not expect.
    if (std::find(st.toSend.begin(), st.toSend.end(), name) == st.toSend.end()) st.toSend.push_back(name);
    if (!sidecars) return true;
    SidecarWait& w = st.sidecarWaits[name];
    w = SidecarWait();
    w.own = ownSidecar(st, name);
    w.since = coreMillis();
    return true;
  }
  char kept[FILE_PATH_LEN];
  if (!replaceProjectMapWith(name.c_str(), &c.theirs, true, kept, sizeof kept, why, whyCap)) return false;
  logKept(name.c_str(), kept);
  return true;
}
}  // namespace

bool mergeSidecarArrived(int slot, PeerSync& st, const std::string& name, const std::string& text) {
  auto it = st.sidecarWaits.find(name);
  if (it == st.sidecarWaits.end()) return false;
  SidecarWait w = std::move(it->second);
  st.sidecarWaits.erase(it);
  std::string peer = nameOf(slot), base, merged, why = "pas de base commune";
  SidecarMergeReport r;
  const std::string &ref = st.joiner ? text : w.own, &joiner = st.joiner ? w.own : text;
  if (!w.merge || !readBaseSidecar(name.c_str(), w.base, &base) ||
      !mergeSidecars(base, ref, joiner, w.layers, MERGE_OURS, &merged, &r, &why)) {
    printf("Fusion: sidecar de la map %s non fusionne (%s): celui de l'editeur rejoint l'emporte.\n", name.c_str(),
           why.c_str());
    sidecarUnmerged(st, name, w, &text, peer);
    return true;
  }
  takeSidecar(name, merged, "fusionne");
  printf("Fusion: sidecar de la map %s fusionne avec celui de %s: %zu conflit(s).\n", name.c_str(), peer.c_str(),
         r.total);
  if (!w.mapMerged && !r.total) return true;
  w.map.total += r.total;
  w.lines += reportLines(name, st.joiner, r);
  announce(name, peer, w.map, reportText(name, peer, st.joiner, w.map, w.lines));
  return true;
}

void mergeLeaving(int slot) {
  for (int i = 0; i < MAX_PEERS; i++) {
    PeerSync& st = peers[i].sync;
    if ((slot >= 0 && i != slot) || st.sidecarWaits.empty()) continue;
    std::string peer = nameOf(i);
    for (auto& e : st.sidecarWaits) sidecarUnmerged(st, e.first, e.second, nullptr, peer);
    st.sidecarWaits.clear();
  }
}

// [SECTION] list
std::string mergeListBase(PeerSync& st, const std::string& name, bool names) {
  MapDigest b, listed;
  if (!baseDigest(name.c_str(), &b) || (names && !baseFoldedDigest(name.c_str(), &listed))) {
    st.ourBases.erase(name);
    st.ourListed.erase(name);
    return " -";
  }
  st.ourBases[name] = b;
  st.ourListed[name] = names ? listed : b;
  char hex[DIGEST_HEX + 1];
  digestHex(st.ourListed[name], hex);
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
  auto ours = st.ourListed.find(name), their = st.theirBases.find(name);
  if (ours == st.ourListed.end() || their == st.theirBases.end() || ours->second != their->second) return false;
  *send = mine != ours->second;
  *take = theirs != ours->second;
  if (*take) st.merging.insert(name);
  return true;
}

// [SECTION] install
bool mergeInstall(int slot, PeerSync& st, const std::string& name, const std::vector<unsigned char>& data,
                  char* why, size_t whyCap) {
  const char* map = name.c_str();
  std::string peer = nameOf(slot);
  // Our own copy, if it has not gone yet, goes before the merge changes it:
  // the peer must merge what we changed, or it would see no conflict.
  if (!syncSendOwnCopyNow(slot, st, name))
    printf("Fusion: map %s: file d'envoi pleine, la copie fusionnee partira a la place.\n", map);
  st.merging.erase(name);
  Copies c;
  MapRead read = readMapBytes(data.data(), data.size(), &c.theirs);
  if (read != MAP_READ_OK && read != MAP_READ_BAD_END) {
    snprintf(why, whyCap, "illisible");
    return false;
  }
  const MapDigest base = st.ourBases[name];
  MapDigest mine, theirs = mapDigest(&c.theirs);
  char kept[FILE_PATH_LEN];
  // Its sidecar follows (the peer keeps sidecars): it is merged when it comes.
  SidecarWait w;
  bool sidecars = peerHas(slot, EXT_NAMES);
  if (sidecars) w.own = ownSidecar(st, name), w.base = base, w.merge = true, w.since = coreMillis();
  if (!currentMapDigest(map, &mine)) {
    printf("Fusion: map %s illisible ici, copie de %s prise.\n", map, peer.c_str());
    return replaceProjectMapWith(map, &c.theirs, false, kept, sizeof kept, why, whyCap);
  }
  bool needOwn = mine != theirs || mine == base;  // (a copy like theirs is not read)
  const Map* own = needOwn ? openMapAt(getMap(map)) : nullptr;
  if (!own && needOwn) {
    std::vector<unsigned char> bytes;
    MapRead r = MAP_READ_CORRUPT;
    if (projectMapBytes(map, bytes)) r = readMapBytes(bytes.data(), bytes.size(), &c.ownFile);
    if (r != MAP_READ_OK && r != MAP_READ_BAD_END)
      return mergeFailed(st, name, c, "copie locale illisible", why, whyCap, sidecars);
    own = &c.ownFile;
  }
  if (mine == base || mine == theirs) {
    printf("Fusion: map %s: rien de nouveau ici depuis la base, copie de %s prise.\n", map, peer.c_str());
    MapDigest got;
    if (sidecars && mine == base) w.layers = sameAsOne(own, &c.theirs, false, true, st.joiner);
    else if (sidecars) w.merge = readBase(map, &c.base, &got) && got == base;
    if (sidecars && mine != base && w.merge) w.layers = sameAsOne(&c.base, &c.theirs, false, false, st.joiner);
    if (!replaceProjectMapWith(map, &c.theirs, false, kept, sizeof kept, why, whyCap)) return false;
    if (sidecars) st.sidecarWaits[name] = std::move(w);
    return true;
  }
  if (theirs == base) {  // nothing new there: ours is the merge
    if (sidecars) w.layers = sameAsOne(&c.theirs, own, true, true, st.joiner);
    if (sidecars) st.sidecarWaits[name] = std::move(w);
    return true;
  }
  MapDigest got;
  if (!readBase(map, &c.base, &got) || got != base) return mergeFailed(st, name, c, "base perdue", why, whyCap, sidecars);
  MergeReport report;
  const Map* ref = st.joiner ? &c.theirs : own;
  const Map* joiner = st.joiner ? own : &c.theirs;
  MergeResult done = mergeMaps(&c.base, ref, joiner, MERGE_OURS, &c.out, &report);
  if (done != MERGE_OK) {
    const char* reason = done == MERGE_NO_MEMORY ? "memoire insuffisante" : "trop de layers";
    return mergeFailed(st, name, c, reason, why, whyCap, sidecars);
  }
  std::string lines = report.total ? reportLines(name, st.joiner, report, c, own) : "";
  if (sidecars) {
    w.layers = {tilesetsOf(&c.base), tilesetsOf(ref), tilesetsOf(joiner), tilesetsOf(&c.out), report.origins};
    w.mapMerged = true;
  }
  if (!replaceProjectMapWith(map, &c.out, st.joiner, kept, sizeof kept, why, whyCap)) return false;
  logKept(map, kept);
  mark(name, report);
  if (!sidecars) {
    announce(name, peer, report, reportText(name, peer, st.joiner, report, lines));
    return true;
  }
  report.conflicts.clear();  // listed in `lines` already
  report.origins.clear();
  w.map = std::move(report);
  w.lines = std::move(lines);
  st.sidecarWaits[name] = std::move(w);
  return true;
}

// [SECTION] bases
void mergeSyncComplete(int slot, PeerSync& st) {
  for (auto it = st.sidecarWaits.begin(); it != st.sidecarWaits.end();) {
    if (coreMillis() - it->second.since <= SIDECAR_WAIT_MS || st.in.active) {
      ++it;
      continue;
    }
    printf("Fusion: sidecar de la map %s jamais recu de %s.\n", it->first.c_str(), nameOf(slot).c_str());
    sidecarUnmerged(st, it->first, it->second, nullptr, nameOf(slot));
    it = st.sidecarWaits.erase(it);
  }
  if (!st.basesDue || st.listPending || st.awaiting > 0 || !st.toSend.empty() || st.in.active ||
      !st.sidecarWaits.empty())
    return;
  st.basesDue = false;
  st.merging.clear();  // a copy promised and never sent is not waited for
  st.sentSidecars.clear();
  std::string why = "synchro avec " + nameOf(slot) + " terminee";
  syncWriteBases(why.c_str());
}

void syncWriteBases(const char* why) {
  if (!projectLoaded) return;
  std::vector<std::string> names = projectMapNames();
  int written = 0;
  for (const std::string& name : names) {
    MapDigest now, base, listed;
    std::string side;
    if (!currentMapDigest(name.c_str(), &now)) continue;
    if (!sidecarTextOf(name.c_str(), &side)) side.clear();  // broken: none, as the digests count it
    MapDigest folded = side.empty() ? now : digestFold(now, side.data(), side.size());
    if (baseDigest(name.c_str(), &base) && base == now && baseFoldedDigest(name.c_str(), &listed) && listed == folded)
      continue;
    std::vector<unsigned char> bytes;
    if (projectMapBytes(name.c_str(), bytes) && writeBase(name.c_str(), bytes, now, side)) written++;
  }
  pruneBases(names);
  printf("Bases: %d map(s) mise(s) a jour (%s).\n", written, why);
}

void syncLeaving(int slot) {
  mergeLeaving(slot);  // before the bases: they keep our sidecars then
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
