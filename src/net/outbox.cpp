// Large edits (a paste, a cut, a stamp stroke) go out in slices: a base
// peer is cut past SEND_QUEUE_MAX actions queued here or RECV_QUEUE_MAX
// unapplied there, so a paste of 65536 different cells leaves a few frames'
// worth at a time, and every later action waits behind it so the order
// stays the same on every peer. Main thread only.
#include <string.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/wire.h"

namespace {
// One action waiting: a rectangle of equal cells (formatted when it goes:
// a 65536-cell paste is not turned into text on the painter's frame), or
// any other action that came while the outbox was not empty. A cell write
// is stamped when it is written, so it is ordered where it happened.
struct OutboxItem {
  unsigned ext = 0;
  bool lacking = false;
  std::string header, corps, stamp;
  std::shared_ptr<const std::string> map;  // a cell rectangle when set
  int layer = 0;
  uint32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int32_t v = 0;
};

// Jobs a peer's queue may hold before the outbox waits; a cell write to a
// SYNC peer is two jobs (its stamp and itself).
const int kOutboxHighWater = SEND_QUEUE_MAX / 4;
// The outbox's pace: a receiver applying at least RECV_QUEUE_MAX actions a
// second (a few microseconds each) never nears its bound; at most
// kOutboxBurst go in one pump.
const int kOutboxPerSecond = RECV_QUEUE_MAX;
const int kOutboxBurst = 512;

struct OutboxState {
  std::deque<OutboxItem> items;
  double tokens = kOutboxBurst;
  uint32_t lastMs = 0;
} box;

// Room, in actions, in the fullest queue of the connected peers.
int outboxRoom() {
  int worst = 0;
  std::lock_guard<std::mutex> g(peersLock);
  for (int i = 0; i < MAX_PEERS; i++) {
    if (!peers[i].clientReady || !peers[i].out || peers[i].dropping) continue;
    std::lock_guard<std::mutex> q(peers[i].out->lock);
    worst = std::max(worst, (int)peers[i].out->jobs.size());
  }
  return std::max(0, (kOutboxHighWater - worst) / 2);
}

// Actions that may go now: the outbox's pace, and room in every queue.
int outboxBudget() {
  uint32_t now = coreMillis();
  box.tokens = std::min<double>(kOutboxBurst, box.tokens + (now - box.lastMs) * (kOutboxPerSecond / 1000.0));
  box.lastMs = now;
  return std::min(outboxRoom(), (int)box.tokens);
}

WireCells rectCells(const OutboxItem& it) {
  WireCells c;
  snprintf(c.map, sizeof c.map, "%s", it.map->c_str());
  c.layer = it.layer;
  c.x1 = it.x1, c.y1 = it.y1, c.x2 = it.x2, c.y2 = it.y2;
  c.element = it.v;
  c.square = it.x1 != it.x2 || it.y1 != it.y2;
  return c;
}

void sendItem(const OutboxItem& it) {
  const char* stamp = it.stamp.empty() ? nullptr : it.stamp.c_str();
  if (!it.map) return sendNow(it.ext, it.lacking, it.header.c_str(), it.corps.c_str(), stamp);
  char corps[BODY_LEN];
  if (const char* word = wireFormatCells(rectCells(it), corps, sizeof corps)) sendNow(0, false, word, corps, stamp);
}

// One rectangle of equal cells.
struct CellRect {
  uint32_t x1, y1, x2, y2;
  int32_t v;
};

// Runs sorted by row and column, equal neighbours joined, then rows whose
// runs match the row above grow that rectangle (one pass, both rows in
// column order).
std::vector<CellRect> groupRuns(std::vector<CellRun>& runs) {
  auto before = [](const CellRun& a, const CellRun& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; };
  if (!std::is_sorted(runs.begin(), runs.end(), before)) std::sort(runs.begin(), runs.end(), before);
  size_t k = 0;
  for (size_t i = 0; i < runs.size(); i++) {
    if (!runs[i].n) continue;
    CellRun& last = runs[k ? k - 1 : 0];
    if (k && last.y == runs[i].y && last.x + last.n == runs[i].x && last.after == runs[i].after)
      last.n += runs[i].n;
    else
      runs[k++] = runs[i];
  }
  runs.resize(k);
  std::vector<CellRect> rects;
  std::vector<size_t> above, here;  // rectangles ending on the previous and this row, by column
  size_t a = 0;
  for (size_t i = 0; i < runs.size(); i++) {
    const CellRun& r = runs[i];
    if (i && runs[i - 1].y != r.y) {
      above.swap(here);
      here.clear();
      a = 0;
      if (runs[i - 1].y + 1 != r.y) above.clear();
    }
    while (a < above.size() && rects[above[a]].x1 < r.x) a++;
    if (a < above.size()) {
      CellRect& up = rects[above[a]];
      if (up.x1 == r.x && up.x2 == r.x + r.n - 1 && up.v == r.after && up.y2 + 1 == r.y) {
        up.y2 = r.y;
        here.push_back(above[a]);
        continue;
      }
    }
    here.push_back(rects.size());
    rects.push_back({r.x, r.y, r.x + r.n - 1, r.y, r.after});
  }
  return rects;
}
}  // namespace

size_t action_setCells(Map* m, int layer, std::vector<CellRun>& runs) {
  if (!m || layer < 0 || layer >= m->layers) return 0;
  std::vector<CellRect> rects = groupRuns(runs);
  bool sending = net && connectedPeers() > 0 && strlen(m->filename) < sizeof(WireCells::map);
  int room = sending ? outboxBudget() : 0, budget = room;
  std::shared_ptr<const std::string> name = std::make_shared<const std::string>(m->filename);
  size_t cells = 0;
  for (const CellRect& r : rects) {
    if (sending) {
      OutboxItem it;
      it.map = name, it.layer = layer, it.x1 = r.x1, it.y1 = r.y1, it.x2 = r.x2, it.y2 = r.y2, it.v = r.v;
      char stamp[BODY_LEN];
      if (syncStampCells(rectCells(it), stamp, sizeof stamp)) it.stamp = stamp;
      if (box.items.empty() && room > 0) {
        room--;
        sendItem(it);
      } else {
        box.items.push_back(std::move(it));
      }
    }
    for (uint32_t y = r.y1; y <= r.y2; y++)
      if (setElementRun(m, layer, y, r.x1, r.x2, r.v)) cells += r.x2 - r.x1 + 1;
  }
  box.tokens -= budget - room;
  if (!box.items.empty()) printf("Envoi par tranches: %zu actions en attente.\n", box.items.size());
  return cells;
}

size_t outboxPending() { return box.items.size(); }

bool outboxDefer(unsigned ext, bool lacking, const char* header, const char* corps, const char* stamp) {
  if (box.items.empty()) return false;
  OutboxItem later;
  later.ext = ext, later.lacking = lacking, later.header = header, later.corps = corps;
  if (stamp) later.stamp = stamp;
  box.items.push_back(std::move(later));
  return true;
}

void outboxFlush() {
  if (box.items.empty()) return;
  if (!net || connectedPeers() == 0) {
    box.items.clear();  // nobody left to send them to
    return;
  }
  int room = outboxBudget();
  box.tokens -= room;
  std::deque<OutboxItem> batch;
  for (; room > 0 && !box.items.empty(); room--) {
    batch.push_back(std::move(box.items.front()));
    box.items.pop_front();
  }
  // Sent with the rest set aside, so they do not queue behind themselves.
  std::deque<OutboxItem> rest;
  rest.swap(box.items);
  for (const OutboxItem& it : batch) sendItem(it);
  box.items.swap(rest);
  if (box.items.empty()) printf("Envoi par tranches termine.\n");
}
