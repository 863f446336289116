// Large edits (a paste, a cut, a stamp stroke) go out in slices: a base
// peer is cut past SEND_QUEUE_MAX actions queued here or RECV_QUEUE_MAX
// unapplied there, so a paste of 65536 different cells leaves a few frames'
// worth at a time, and every later action waits behind it so the order
// stays the same on every peer. Main thread only.
#include <stdint.h>
#include <stdio.h>
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
  unsigned need = 0, without = 0;  // the peers it is for
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

// A large edit of cells that cover their rectangle wholly (a paste, a cut)
// goes to the peers that announced "CELLS" at once, as blocks; only the
// others wait for slices.
const size_t kDenseMax = (size_t)1 << 22;  // cells looked at for blocks; larger edits go as rectangles

struct OutboxState {
  std::deque<OutboxItem> items;
  size_t forCellsPeers = 0;  // items that "CELLS" peers wait for too
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
  if (!it.map) return sendEdit(it.need, it.without, it.header.c_str(), it.corps.c_str(), stamp);
  char corps[BODY_LEN];
  if (const char* word = wireFormatCells(rectCells(it), corps, sizeof corps))
    sendEdit(it.need, it.without, word, corps, stamp);
}

void push(OutboxItem it) {
  if (!(it.without & EXT_CELLS)) box.forCellsPeers++;
  box.items.push_back(std::move(it));
}

OutboxItem pop() {
  OutboxItem it = std::move(box.items.front());
  box.items.pop_front();
  if (!(it.without & EXT_CELLS)) box.forCellsPeers--;
  return it;
}

// The runs' cells when they fill their bounding rectangle exactly (each
// cell once), row by row; false otherwise.
bool denseBlock(const std::vector<CellRun>& runs, uint32_t* x, uint32_t* y, uint32_t* w, uint32_t* h,
                std::vector<int32_t>& cells) {
  if (runs.empty()) return false;
  uint32_t x1 = UINT32_MAX, y1 = UINT32_MAX, x2 = 0, y2 = 0;
  size_t total = 0;
  for (const CellRun& r : runs) {
    if (!r.n) continue;
    x1 = std::min(x1, r.x), y1 = std::min(y1, r.y);
    x2 = std::max(x2, r.x + r.n - 1), y2 = std::max(y2, r.y);
    total += r.n;
  }
  size_t area = (size_t)(x2 - x1 + 1) * (y2 - y1 + 1);
  if (!total || total != area || area > kDenseMax) return false;
  cells.assign(area, 0);
  std::vector<bool> seen(area, false);
  for (const CellRun& r : runs)
    for (uint32_t k = 0; k < r.n; k++) {
      size_t at = (size_t)(r.y - y1) * (x2 - x1 + 1) + (r.x + k - x1);
      if (seen[at]) return false;
      seen[at] = true;
      cells[at] = r.after;
    }
  *x = x1, *y = y1, *w = x2 - x1 + 1, *h = y2 - y1 + 1;
  return true;
}

// The block as "CELLS" actions of at most CELLS_BLOCK_MAX cells, each
// stamped as it is written, for the peers that announced "CELLS".
void sendBlocks(const char* map, int layer, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                const std::vector<int32_t>& cells) {
  uint32_t bw = std::min<uint32_t>(w, CELLS_BLOCK_MAX), bh = std::max<uint32_t>(1, CELLS_BLOCK_MAX / bw);
  std::vector<int32_t> piece;
  std::string body;
  for (uint32_t by = 0; by < h; by += bh)
    for (uint32_t bx = 0; bx < w; bx += bw) {
      uint32_t pw = std::min(bw, w - bx), ph = std::min(bh, h - by);
      piece.resize((size_t)pw * ph);
      for (uint32_t r = 0; r < ph; r++)
        std::copy_n(cells.begin() + (size_t)(by + r) * w + bx, pw, piece.begin() + (size_t)r * pw);
      if (!wireFormatBlock(map, layer, x + bx, y + by, pw, ph, piece.data(), body)) continue;
      WireCells c;
      snprintf(c.map, sizeof c.map, "%s", map);
      c.layer = layer, c.x1 = x + bx, c.y1 = y + by, c.x2 = x + bx + pw - 1, c.y2 = y + by + ph - 1;
      c.element = piece[0], c.square = true;
      char stamp[BODY_LEN];
      bool stamped = syncStampCells(c, stamp, sizeof stamp);
      // Behind slices "CELLS" peers still wait for, if any.
      if (!outboxDefer(EXT_CELLS, 0, "CELLS", body.c_str(), stamped ? stamp : nullptr))
        sendEdit(EXT_CELLS, 0, "CELLS", body.c_str(), stamped ? stamp : nullptr);
    }
}

// One rectangle of equal cells.
struct EqualRect {
  uint32_t x1, y1, x2, y2;
  int32_t v;
};

// Runs sorted by row and column, equal neighbours joined, then rows whose
// runs match the row above grow that rectangle (one pass, both rows in
// column order).
std::vector<EqualRect> groupRuns(std::vector<CellRun>& runs) {
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
  std::vector<EqualRect> rects;
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
      EqualRect& up = rects[above[a]];
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
  bool sending = net && connectedPeers() > 0 && strlen(m->filename) < sizeof(WireCells::map);
  // Blocks for the peers that take them, when the cells fill a rectangle.
  unsigned without = 0;
  uint32_t bx = 0, by = 0, bw = 0, bh = 0;
  std::vector<int32_t> block;
  if (sending && anyPeerHas(EXT_CELLS) && denseBlock(runs, &bx, &by, &bw, &bh, block)) {
    sendBlocks(m->filename, layer, bx, by, bw, bh, block);
    without = EXT_CELLS;
  }
  std::vector<EqualRect> rects = groupRuns(runs);
  int room = sending ? outboxBudget() : 0, budget = room;
  std::shared_ptr<const std::string> name = std::make_shared<const std::string>(m->filename);
  size_t cells = 0;
  for (const EqualRect& r : rects) {
    if (sending) {
      OutboxItem it;
      it.without = without;
      it.map = name, it.layer = layer, it.x1 = r.x1, it.y1 = r.y1, it.x2 = r.x2, it.y2 = r.y2, it.v = r.v;
      char stamp[BODY_LEN];
      // The blocks' stamps cover these cells already.
      if (!without && syncStampCells(rectCells(it), stamp, sizeof stamp)) it.stamp = stamp;
      if (box.items.empty() && room > 0) {
        room--;
        sendItem(it);
      } else {
        push(std::move(it));
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

bool outboxDefer(unsigned need, unsigned without, const char* header, const char* corps, const char* stamp) {
  if (box.items.empty()) return false;
  // The "CELLS" peers have every slice already: they get it now.
  if (box.forCellsPeers == 0 && !(without & EXT_CELLS)) {
    sendEdit(need | EXT_CELLS, without, header, corps, stamp);
    without |= EXT_CELLS;
  }
  OutboxItem later;
  later.need = need, later.without = without, later.header = header, later.corps = corps;
  if (stamp) later.stamp = stamp;
  push(std::move(later));
  return true;
}

void outboxFlush() {
  if (box.items.empty()) return;
  if (!net || connectedPeers() == 0) {
    box.items.clear();  // nobody left to send them to
    box.forCellsPeers = 0;
    return;
  }
  int room = outboxBudget();
  box.tokens -= room;
  for (; room > 0 && !box.items.empty(); room--) sendItem(pop());
  if (box.items.empty()) printf("Envoi par tranches termine.\n");
}
