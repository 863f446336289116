// Stamped cell writes: the latest (clock, site) wins on every copy; own
// writes journaled while a copy of their map is on its way (sync.h).
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "core/core.h"
#include "net/handlers.h"
#include "net/netio.h"
#include "net/syncstate.h"
#include "net/wire.h"

namespace {
// Writes the cells of r that no rectangle of `newer` covers, in runs;
// returns how many were left for the newer writes.
size_t writeUncovered(const char* map, const StampRect& r, const std::vector<StampRect>& newer, int element,
                      bool square) {
  size_t skipped = 0;
  auto covered = [&](uint32_t cx, uint32_t y) {
    for (const StampRect& n : newer)
      if (cx >= n.x1 && cx <= n.x2 && y >= n.y1 && y <= n.y2) return true;
    return false;
  };
  for (uint32_t y = r.y1; y <= r.y2; y++) {
    uint32_t x = r.x1;
    while (x <= r.x2) {
      if (covered(x, y)) {
        skipped++;
        x++;
        continue;
      }
      uint32_t end = x;
      while (end < r.x2 && !covered(end + 1, y)) end++;
      if (square)
        setElementSquare(map, r.layer, x, y, end, y, element);
      else
        setElementAbsolute(getMap(map), r.layer, x, y, element);
      x = end + 1;
    }
  }
  return skipped;
}
}  // namespace

// Own writes to `name` made while its copy was on the way are made again,
// once, except on the cells a newer write (of the peer, received before or
// with the copy) holds; an own rename made meanwhile is made again too. The
// next copy of that map starts a journal of its own.
void replayJournal(const std::string& name) {
  int k = 0;
  size_t kept = 0;
  StampTable& t = syncState.stamps[name];
  for (const Journaled& j : syncState.journal) {
    if (j.map != name) continue;
    kept += writeUncovered(name.c_str(), j.r, newerOverlaps(t, j.r), j.element, true);
    k++;
  }
  syncState.journal.erase(std::remove_if(syncState.journal.begin(), syncState.journal.end(), [&](const Journaled& j) { return j.map == name; }),
                syncState.journal.end());
  if (k) printf("Synchro: %d ecritures locales refaites sur la map %s (%zu cellules plus recentes gardees).\n", k,
                name.c_str(), kept);
  auto renamed = syncState.journalNames.find(name);
  if (renamed != syncState.journalNames.end()) {
    changeMapSysname(name.c_str(), renamed->second.c_str());
    printf("Synchro: nom de la map %s refait: %s.\n", name.c_str(), renamed->second.c_str());
    syncState.journalNames.erase(renamed);
  }
}
void onStamp(const char*, const char* corps, int slot) {
  PeerSync& st = peers[slot].sync;
  unsigned long long c = 0, s = 0;
  // A clock far ahead of ours would make every later local write lose: unstamped.
  st.stamped = sscanf(corps, "%llu %llu", &c, &s) == 2 && c < syncState.lamport + CLOCK_JUMP_MAX;
  st.pending.clock = c;
  st.pending.site = s;
  if (st.stamped && c > syncState.lamport) syncState.lamport = c;
}
std::vector<StampRect> newerOverlaps(const StampTable& t, const StampRect& r) {
  std::vector<StampRect> out;
  // Oldest first: only the tail newer than r is looked at.
  for (auto it = t.rects.rbegin(); it != t.rects.rend() && r.s < it->s; ++it)
    if (it->layer == r.layer && it->x1 <= r.x2 && r.x1 <= it->x2 && it->y1 <= r.y2 && r.y1 <= it->y2)
      out.push_back(*it);
  return out;
}
void recordStamp(StampTable& t, const StampRect& r) {
  auto at = t.rects.end();
  while (at != t.rects.begin() && r.s < (at - 1)->s) --at;
  t.rects.insert(at, r);
  if (t.rects.size() > STAMP_RECTS_MAX) t.rects.pop_front();
}
size_t syncStampBytes() {
  size_t n = 0;
  for (const auto& e : syncState.stamps) n += e.second.rects.size() * sizeof(StampRect) + e.first.capacity();
  return n + syncState.journal.capacity() * sizeof(Journaled);
}
void syncSawAction(int slot, const char* header) {
  const WireWord* w = wireWord(header);
  if (w && w->ext == EXT_SYNC) return;
  PeerSync& st = peers[slot].sync;
  if (strcmp(header, "PARTTHIS!") != 0 && strcmp(header, "DRAWSQUARE") != 0 && strcmp(header, "CELLS") != 0)
    st.stamped = false;  // a stamp belongs to the very next action, a cell write
  if (strcmp(header, "EXTENSIONS") != 0) activity();
  refreshMenu = true;
}
bool syncCellWrite(int slot, const WireCells& c) {
  PeerSync& st = peers[slot].sync;
  if (!st.stamped) return false;
  st.stamped = false;
  const char* map = c.map;
  int layer = (int)c.layer;
  Map* m = nullptr;
  {
    int k = getMap(map);
    if (k < project.nbreMaps) m = project.listeMaps[k];
  }
  if (!m || layer < 0 || layer >= m->layers || m->w == 0 || m->h == 0) return false;
  StampRect r;
  r.s = st.pending;
  r.layer = layer;
  r.x1 = (uint32_t)std::min(c.x1, c.x2);
  r.x2 = (uint32_t)std::min<long>(std::max(c.x1, c.x2), m->w - 1);
  r.y1 = (uint32_t)std::min(c.y1, c.y2);
  r.y2 = (uint32_t)std::min<long>(std::max(c.y1, c.y2), m->h - 1);
  if (r.x1 > r.x2 || r.y1 > r.y2) return false;  // outside: the usual refusal
  StampTable& t = syncState.stamps[map];
  std::vector<StampRect> newer = newerOverlaps(t, r);
  recordStamp(t, r);
  if (newer.empty()) return false;  // nothing newer: written as usual
  size_t skipped = writeUncovered(map, r, newer, (int)c.element, c.square);
  printf("Synchro: %zu cellules de %s gardees (ecriture plus recente).\n", skipped, map);
  return true;
}
bool syncBlockWrite(int slot, const WireBlock& b) {
  PeerSync& st = peers[slot].sync;
  if (!st.stamped) return false;
  st.stamped = false;
  Map* m = openMapAt(getMap(b.map));
  if (!m || b.layer < 0 || b.layer >= m->layers || (uint32_t)b.x >= m->w || (uint32_t)b.y >= m->h) return false;
  StampRect r;
  r.s = st.pending;
  r.layer = (int)b.layer;
  r.x1 = (uint32_t)b.x, r.y1 = (uint32_t)b.y;
  r.x2 = (uint32_t)std::min<long>(b.x + b.w - 1, m->w - 1);
  r.y2 = (uint32_t)std::min<long>(b.y + b.h - 1, m->h - 1);
  StampTable& t = syncState.stamps[b.map];
  std::vector<StampRect> newer = newerOverlaps(t, r);
  recordStamp(t, r);
  if (newer.empty()) return false;  // nothing newer: written whole as usual
  size_t kept = 0;
  for (uint32_t y = r.y1; y <= r.y2; y++) {
    const int32_t* row = b.cells.data() + (size_t)(y - r.y1) * b.w;
    for (uint32_t x = r.x1; x <= r.x2;) {
      bool covered = false;
      for (const StampRect& n : newer) covered = covered || (x >= n.x1 && x <= n.x2 && y >= n.y1 && y <= n.y2);
      if (covered) {
        kept++;
        x++;
        continue;
      }
      uint32_t end = x;
      for (; end < r.x2; end++) {
        bool next = false;
        for (const StampRect& n : newer) next = next || (end + 1 >= n.x1 && end + 1 <= n.x2 && y >= n.y1 && y <= n.y2);
        if (next) break;
      }
      setElementBlock(m, r.layer, x, y, end - x + 1, 1, row + (x - r.x1));
      x = end + 1;
    }
  }
  printf("Synchro: %zu cellules de %s gardees (ecriture plus recente).\n", kept, b.map);
  return true;
}

void syncNoteActivity() { activity(); }
void syncNoteRename(const char* filename, const char* sysname) {
  if (waiting()) syncState.journalNames[filename] = sysname;
}
bool syncStampCells(const WireCells& c, char* stamp, size_t cap) {
  if (syncPeers() == 0 || c.x1 < 0 || c.y1 < 0 || c.x2 < 0 || c.y2 < 0) return false;
  std::string map = c.map;
  StampRect r;
  r.layer = (int)c.layer;
  r.x1 = (uint32_t)std::min(c.x1, c.x2);
  r.x2 = (uint32_t)std::max(c.x1, c.x2);
  r.y1 = (uint32_t)std::min(c.y1, c.y2);
  r.y2 = (uint32_t)std::max(c.y1, c.y2);
  r.s.clock = ++syncState.lamport;
  r.s.site = siteId();
  recordStamp(syncState.stamps[map], r);
  if (waiting() && syncState.journal.size() < JOURNAL_MAX) syncState.journal.push_back({map, r, (int)c.element});
  snprintf(stamp, cap, "%" PRIu64 " %" PRIu64, r.s.clock, r.s.site);
  return true;
}
