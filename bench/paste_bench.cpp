// A 256x256 paste applied in the editor: the copied cells written into the
// layer with their undo step (paintCells: history, rectangles over equal
// runs, the writes), p50 and p99 of 40 pastes, against copying the same
// cells row by row with memcpy. Two clipboards: cells as a village map has
// them (runs of ground tiles, sparse objects) and noise (every cell its own
// rectangle, the worst case).
// Then the same paste with a base peer connected: the time the painter
// waits, how many actions it makes, how many go at once (the peer's queue
// stays far below its bound of SEND_QUEUE_MAX, the receiver's of
// RECV_QUEUE_MAX), and how many pumps send the rest in slices.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "benchutil.h"
#include "editor/brush.h"
#include "editor/history.h"
#include "model/model.h"
#include "net/net.h"
#include "net/netio.h"

namespace {
const uint32_t SIDE = 1024, PASTE = 256;
const int ROUNDS = 40, NET_ROUNDS = 3;

double pct(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[(size_t)((v.size() - 1) * p / 100)];
}

Stamp clipboard(bool noise) {
  Stamp s;
  s.w = s.h = PASTE;
  unsigned seed = 17;
  for (uint32_t i = 0; i < PASTE * PASTE; i++) {
    seed = seed * 1103515245u + 12345u;
    unsigned r = seed >> 16;
    s.cells.push_back(noise ? (int32_t)(r % 512) : r % 23 == 0 ? (int32_t)(r % 200) : (int32_t)((i % PASTE) / 37 % 5));
  }
  return s;
}

// Runs of one paste at (x, y); the value is shifted each round so every cell changes.
std::vector<CellRun> pasteRuns(const Stamp& s, Map* m, uint32_t x, uint32_t y, int shift) {
  std::vector<CellRun> runs;
  stampRuns(s, x, y, m, false, runs);
  for (CellRun& r : runs) r.after += shift;
  return runs;
}

size_t queued() {
  std::lock_guard<std::mutex> g(peers[0].out->lock);
  return peers[0].out->jobs.size();
}

void sent() {
  std::lock_guard<std::mutex> g(peers[0].out->lock);
  peers[0].out->jobs.clear();
}
}  // namespace

int main() {
  int saved = benchEditing();  // the editor's log is not what is measured
  Map* m = benchOnlyMap(SIDE, "bench");
  struct Result {
    double p50, p99, memP50, memP99;
    size_t rects;
  } local[2];
  for (int noise = 0; noise < 2; noise++) {
    Stamp s = clipboard(noise);
    std::vector<double> ours, mem;
    std::vector<int32_t> copy(PASTE * PASTE);
    for (int r = 0; r < ROUNDS; r++) {
      uint32_t x = (r * 97) % (SIDE - PASTE), y = (r * 61) % (SIDE - PASTE);
      std::vector<CellRun> runs = pasteRuns(s, m, x, y, r + 1);
      double t = benchNow();
      paintCells(m, 0, runs, "paste");
      historyClose();
      ours.push_back((benchNow() - t) * 1e3);
      t = benchNow();
      for (uint32_t row = 0; row < PASTE; row++)
        memcpy(m->layer[0]->e + (size_t)(y + row) * SIDE + x, &s.cells[(size_t)row * PASTE], PASTE * 4);
      mem.push_back((benchNow() - t) * 1e3);
      local[noise].rects = runs.size();
    }
    local[noise] = {pct(ours, 50), pct(ours, 99), pct(mem, 50), pct(mem, 99), local[noise].rects};
  }

  // A base peer: its send queue without a thread, emptied by hand as a
  // peer that takes everything would.
  net = true;
  peers[0].clientReady = true;
  peers[0].out = new SendQueue;
  Stamp noise = clipboard(true);
  std::vector<double> wait, drain;
  size_t actions = 0, first = 0, most = 0;
  for (int r = 0; r < NET_ROUNDS; r++) {
    std::vector<CellRun> runs = pasteRuns(noise, m, 0, 0, 1000 + r);
    double t = benchNow();
    paintCells(m, 0, runs, "paste");
    historyClose();
    wait.push_back((benchNow() - t) * 1e3);
    first = queued();
    actions = first + outboxPending();
    while (outboxPending() > 0) {
      sent();
      outboxFlush();
      most = std::max(most, queued());
      usleep(1000);  // the main loop pumps at least this seldom
    }
    drain.push_back(benchNow() - t);
    sent();
  }
  benchLogBack(saved);
  const char* what[2] = {"village cells", "noise"};
  for (int n = 0; n < 2; n++)
    printf("paste %ux%u applied locally, %s (%zu runs of equal cells): p50 %.2f ms, p99 %.2f ms   memcpy of the rows: p50 %.3f ms, p99 %.3f ms\n",
           PASTE, PASTE, what[n], local[n].rects, local[n].p50, local[n].p99, local[n].memP50, local[n].memP99);
  printf("paste %ux%u of noise with a base peer: painter waits p50 %.2f ms, p99 %.2f ms; %zu actions, %zu queued at once, "
         "all sent in %.1f s, at most %zu queued (peer bounds: send %d, receive %d)\n",
         PASTE, PASTE, pct(wait, 50), pct(wait, 99), actions, first, benchMedian(drain), most, (int)SEND_QUEUE_MAX,
         (int)RECV_QUEUE_MAX);
  return 0;
}
