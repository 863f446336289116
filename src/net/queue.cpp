// The hand-over from the network threads to the main thread: one FIFO of
// received work, applied by netPump between frames.
#include <chrono>
#include <condition_variable>
#include <deque>

#include "core/core.h"
#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/wire.h"

namespace {
std::mutex queueLock;
std::condition_variable queueWake;  // raised when work is queued
std::deque<NetEvent> queue;

long long nowMs() { return (long long)coreMillis(); }
}  // namespace

bool netQueue(NetEvent e) {
  std::lock_guard<std::mutex> g(queueLock);
  if (e.kind == EV_ACTION) {
    if (peers[e.slot].queued >= RECV_QUEUE_MAX) return false;
    peers[e.slot].queued++;
  }
  queue.push_back(std::move(e));
  queueWake.notify_one();
  return true;
}

void netWaitQueued(int64_t micros) {
  std::unique_lock<std::mutex> g(queueLock);
  if (micros > 0 && queue.empty())
    queueWake.wait_for(g, std::chrono::microseconds(micros), [] { return !queue.empty() || stop; });
}

size_t netQueued() {
  std::lock_guard<std::mutex> g(queueLock);
  return queue.size();
}

void queueClear() {
  std::lock_guard<std::mutex> g(queueLock);
  queue.clear();
  for (Peer& p : peers) p.queued = 0;
}

// Applies the queue in arrival order, for at most PUMP_BUDGET_MS, so a flood
// of received work never holds a frame up; the rest waits for the next call.
void netPump() {
  syncTick();
  outboxFlush();
  long long deadline = nowMs() + PUMP_BUDGET_MS;
  for (;;) {
    NetEvent e;
    {
      std::lock_guard<std::mutex> g(queueLock);
      if (queue.empty()) return;
      e = std::move(queue.front());
      queue.pop_front();
      if (e.kind == EV_ACTION) peers[e.slot].queued--;
    }
    unsigned gen;
    {
      std::lock_guard<std::mutex> g(peersLock);
      gen = peers[e.slot].gen;
    }
    bool quiet = e.kind == EV_ACTION && wireQuiet(e.header.c_str());
    if (e.kind == EV_END) {
      endSlot(e.slot, e.gen, e.release);
    } else {
      if (e.kind == EV_SERVE && gen == e.gen) {
        usedMap[e.slot] = currentMapOrNull();
      } else if (e.kind == EV_ACTION && (gen == e.gen || (e.header != "SILENTOPEN" &&
                                                           e.header != "EXTENSIONS" && !quiet))) {
        // A freed slot's late edits still apply; its map pointer,
        // extensions and presence belong to the slot's next peer.
        readActions(e.header.c_str(), e.body.c_str(), e.slot);
      }
      // The panel shows what was just applied (a quiet action redraws it
      // itself when the client list changes).
      if (!quiet) refreshMenu = true;
    }
    if (nowMs() >= deadline) return;
  }
}
