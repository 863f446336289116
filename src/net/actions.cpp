// The action senders and actionSend: one send thread per peer, each writing
// the header block, the body and any file transfer on its own connection.
// Index:
//   [SECTION] send queues
//   [SECTION] extensions
//   [SECTION] senders
//   [SECTION] typed actions
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/wire.h"
#include "core/core.h"
#include "core/files.h"

// [SECTION] send queues
namespace {
std::atomic<int> pending{0};  // jobs in every queue, the one being sent included

// One job is done (or thrown away): the activity picture goes when none is left.
void jobsDone(int n) {
  if (n > 0 && (pending -= n) <= 0) antenneWifi = false;
}

// Writes one action, and the transfer that follows it, on the outbound socket.
bool clientSend(int slot, int s, const SendJob& job) {
  NetHost host;
  uint16_t port;
  {
    // The inbound connection may have come after this one.
    std::lock_guard<std::mutex> g(peersLock);
    host = hostIsSet(peers[slot].inHost) ? peers[slot].inHost : peers[slot].outHost;
    port = peers[slot].inPort;
  }
  int n = (int)job.body.size() + 1;
  char head[HEADER_BLOCK];
  formatHeader(head, job.header.c_str(), job.bare ? 0 : n);
  if (job.bare) return sendAll(s, head, HEADER_BLOCK, SEND_STALL_MS);
  if (!job.quiet) {
    char hidden[ADDRESS_TEXT_LEN];
    formatHidden(host, false, hidden, sizeof hidden);
    printf("Action reseau -> %s:%d : %s,%.*s\n!", hidden, port, head, LOGGED_BODY_MAX, job.body.c_str());
  }
  // Header block and body in one write: one frame on a keyed connection.
  std::string action(head, HEADER_BLOCK);
  action.append(job.body.c_str(), (size_t)n);
  bool ok = sendAll(s, action.data(), action.size(), SEND_STALL_MS);
  if (ok && !job.quiet) printf("...\n");
  const WireWord* w = wireWord(job.header.c_str());
  WireTransfer transfer = w ? w->transfer : WIRE_NO_TRANSFER;
  if (ok && transfer == WIRE_TILESET) ok = offerTileset(s, job.chipset.c_str(), *job.pass, SEND_STALL_MS);
  if (ok && transfer == WIRE_PASS) ok = sendPC(*job.pass, s, SEND_STALL_MS);
  return ok;
}

// Whether the peer takes what was sent. The socket's own buffer hides a peer
// that stopped reading for as long as it has room, so what the peer has
// acknowledged is watched, not the writes: over TCP the count of bytes it
// acknowledged, elsewhere (tests) the bytes it has not read yet.
struct Progress {
  unsigned long long acked = 0;
  int unacked = 0;
  uint32_t since = 0;  // when the peer last took something, or had nothing to take
};

// False when bytes have waited for the peer SEND_STALL_MS without any taken.
bool peerTakes(int s, Progress& p) {
  uint32_t now = coreMillis();
  int unacked = 0;
  if (ioctl(s, SIOCOUTQ, &unacked) != 0) unacked = 0;
  tcp_info info = {};
  socklen_t len = sizeof info;
  bool tcp = getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 &&
             len >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked;
  bool took = tcp ? info.tcpi_bytes_acked > p.acked : unacked < p.unacked;
  if (unacked == 0 || took) p.since = now;
  if (tcp) p.acked = info.tcpi_bytes_acked;
  p.unacked = unacked;
  return now - p.since < (uint32_t)SEND_STALL_MS;
}

// Body of a peer's send thread: its jobs in order until quit, the end of
// the queue after a disconnect, or a failed send or a peer that takes
// nothing, each of which drops the peer.
void serveQueue(int slot, unsigned gen, SendQueue* q, int s) {
  Progress progress;
  progress.since = coreMillis();
  for (;;) {
    SendJob job;
    bool taking = true;
    int k = -1;
    {
      std::unique_lock<std::mutex> g(q->lock);
      while (!q->quit && q->jobs.empty() && !q->last && (taking = peerTakes(s, progress)))
        q->wake.wait_for(g, std::chrono::milliseconds(POLL_MS * 10));
      if (q->quit || (q->jobs.empty() && q->last)) return;
      if (!q->jobs.empty()) job = q->jobs[(size_t)(k = 0)];
    }
    if (!taking) {
      if (!stop) dropPeer(slot, gen, "aucune donnee prise depuis 3 s");
      return;
    }
    peerTakes(s, progress);  // what it took since the last job counts
    bool ok = clientSend(slot, s, job) && (taking = peerTakes(s, progress));
    {
      // Only this thread removes jobs: index k still names the job sent.
      std::lock_guard<std::mutex> g(q->lock);
      if ((size_t)k < q->jobs.size()) q->jobs.erase(q->jobs.begin() + k);
    }
    jobsDone(job.quiet ? 0 : 1);
    if (!ok && !taking) {
      if (!stop) dropPeer(slot, gen, "aucune donnee prise depuis 3 s");
      return;
    }
    if (!ok) {
      if (!job.bare && !stop) {
        char why[HEADER_BLOCK + 64];
        snprintf(why, sizeof why, "envoi de %s impossible", job.header.c_str());
        dropPeer(slot, gen, why);
      }
      return;
    }
  }
}

// Formats a body; false (logged) when it does not fit its buffer, so a
// truncated body never goes on the wire.
bool body(char* out, size_t cap, const char* header, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int k = vsnprintf(out, cap, fmt, ap);
  va_end(ap);
  if (k >= 0 && (size_t)k < cap) return true;
  printf("Action %s trop longue: non envoyee!\n", header);
  return false;
}

// Adds one job to slot i's queue (peersLock held); false when it is full.
// A quiet job takes the place of one of its word still waiting (only the
// latest presence matters) and is no network activity.
bool enqueue(int i, const SendJob& job) {
  SendQueue* q = peers[i].out;
  std::lock_guard<std::mutex> g(q->lock);
  if (job.quiet) {
    // From the back: the one waiting is behind the one being sent, if any.
    for (size_t k = q->jobs.size(); k-- > 1;)
      if (q->jobs[k].quiet && q->jobs[k].header == job.header) {
        q->jobs[k].body = job.body;
        return true;
      }
  }
  if (q->jobs.size() >= SEND_QUEUE_MAX) return false;
  q->jobs.push_back(job);
  if (!job.quiet) {
    pending++;
    antenneWifi = true;
  }
  q->wake.notify_one();
  return true;
}
}  // namespace

int sendPending() { return pending; }

void announceExtensions(int i) {
  SendJob job;
  job.header = "EXTENSIONS";
  char words[BODY_LEN];
  formatExtensions(words, sizeof words, LOCAL_EXTENSIONS);
  job.body = words;
  if (!enqueue(i, job)) printf("Extensions non annoncees sur le tunnel %d.\n", i);
}

void startSender(int i) {
  Peer& p = peers[i];
  SendQueue* q = new SendQueue;
  p.out = q;
  q->thread = std::thread(serveQueue, i, p.gen, q, p.clientSocket);
}

// Ends slot i's sender (main thread): with `drain`, once its queue is sent.
void stopSender(SendQueue* q, bool drain) {
  if (!q) return;
  {
    std::lock_guard<std::mutex> g(q->lock);
    if (drain)
      q->last = true;
    else
      q->quit = true;
    q->wake.notify_one();
  }
  if (q->thread.joinable()) q->thread.join();
  int left = 0;
  for (const SendJob& j : q->jobs) left += j.quiet ? 0 : 1;
  jobsDone(left);
  delete q;
}

// [SECTION] extensions
const char* const extensionWords[EXTENSION_COUNT + 1] = {"AUTH",     "SYNC",  "LAYERS", "MEMBERS", "CELLS",    "PRESENCE",
                                                         "MERGE",    "NAMES", "RESIZE", "ROLES",   "ENTITIES", nullptr};

unsigned parseExtensions(const char* body, const char* const* table) {
  unsigned bits = 0;
  for (const char* p = body; p && *p;) {
    while (*p == ' ' || *p == '\t') p++;
    size_t n = strcspn(p, " \t");
    for (int k = 0; n && table[k] && k < 32; k++)
      if (strlen(table[k]) == n && strncmp(table[k], p, n) == 0) bits |= 1u << k;
    p += n;
  }
  return bits;
}

void formatExtensions(char* out, size_t cap, unsigned bits, const char* const* table) {
  size_t used = 0;
  out[0] = 0;
  for (int k = 0; table[k] && k < 32; k++) {
    if (!(bits & (1u << k))) continue;
    int n = snprintf(out + used, cap - used, used ? " %s" : "%s", table[k]);
    if (n < 0 || (size_t)n >= cap - used) break;  // the words that fit
    used += (size_t)n;
  }
}

bool peerHas(int slot, unsigned ext) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  std::lock_guard<std::mutex> g(peersLock);
  return peers[slot].clientReady && (peers[slot].extensions & ext) == ext;
}

// [SECTION] senders
namespace {
// Queues an action for the peers that announced every extension of `need`
// and none of `without`, or for `only` alone; `stamp`, when given, goes
// right before it to the peers that order cell writes by stamps.
void sendToPeers(unsigned need, unsigned without, int only, const char* header, const char* corps,
                 const char* stamp = nullptr, bool mayDefer = true) {
  if (stop) return;
  const WireWord* w = wireWord(header);
  bool quiet = w && w->quiet;
  // Behind a large edit still going out in slices: after it, in order
  // (presence goes at once: it is no edit).
  if (only < 0 && mayDefer && !quiet && outboxDefer(need, without, header, corps, stamp)) return;
  if (only < 0 && !quiet) syncNoteActivity();  // an edit: the quiet check waits for the last one
  SendJob job;
  job.header = header;
  job.body = corps;
  job.quiet = quiet;
  WireTransfer transfer = w ? w->transfer : WIRE_NO_TRANSFER;
  if (transfer != WIRE_NO_TRANSFER) {
    // Read here, on the main thread, once for all peers: the tileset is the
    // second word of an offer's body, the whole body of a push.
    char chipset[BODY_LEN] = "";
    sscanf(corps, transfer == WIRE_TILESET ? "%*s %255s" : "%255s", chipset);
    job.chipset = chipset;
    job.pass = std::make_shared<const std::vector<unsigned char>>(passConditionsOf(chipset));
  }
  int n = (int)strlen(corps) + 1;
  bool stamped = stamp != nullptr;
  SendJob stampJob;
  stampJob.header = "STAMP";
  if (stamped) stampJob.body = stamp;
  std::vector<std::pair<int, unsigned>> full;
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) {
      if (!peers[i].clientReady || !peers[i].out || peers[i].dropping) continue;
      unsigned e = peers[i].extensions;
      if ((e & need) != need || (e & without) || (only >= 0 && i != only)) continue;
      if (!quiet) printf("%d->corps:%d!%.*s!\n", i, n, LOGGED_BODY_MAX, corps);
      bool room = !stamped || !(peers[i].extensions & EXT_SYNC) || enqueue(i, stampJob);
      if (!room || !enqueue(i, job)) full.push_back({i, peers[i].gen});
    }
  }
  for (auto& f : full) dropPeer(f.first, f.second, "file d'envoi pleine");
}
}  // namespace

void actionSend(const char* header, const char* corps) { actionSendTo(0, header, corps); }

void actionSendTo(unsigned ext, const char* header, const char* corps) { sendToPeers(ext, 0, -1, header, corps); }

void actionSendWithout(unsigned ext, const char* header, const char* corps) {
  sendToPeers(0, ext, -1, header, corps);
}

void sendEdit(unsigned need, unsigned without, const char* header, const char* corps, const char* stamp) {
  sendToPeers(need, without, -1, header, corps, stamp, false);
}

void actionSendToPeer(int slot, const char* header, const char* corps) {
  if (slot >= 0 && slot < MAX_PEERS) sendToPeers(0, 0, slot, header, corps);
}

bool anyPeerHas(unsigned ext) {
  std::lock_guard<std::mutex> g(peersLock);
  for (const Peer& p : peers)
    if (p.clientReady && !p.dropping && (p.extensions & ext) == ext) return true;
  return false;
}

int sendQueuedFor(int slot) {
  std::lock_guard<std::mutex> g(peersLock);
  if (slot < 0 || slot >= MAX_PEERS || !peers[slot].out) return 0;
  std::lock_guard<std::mutex> q(peers[slot].out->lock);
  return (int)peers[slot].out->jobs.size();
}

namespace {
// A cell write to every peer, stamped for those that order writes by stamps.
void sendCells(const WireCells& c) {
  char corps[BODY_LEN], stamp[BODY_LEN];
  const char* word = wireFormatCells(c, corps, sizeof corps);
  if (!word) return;
  bool stamped = syncStampCells(c, stamp, sizeof stamp);
  sendToPeers(0, 0, -1, word, corps, stamped ? stamp : nullptr);
}

WireCells cells(const char* map, int layer, unsigned long x1, unsigned long y1, unsigned long x2,
                unsigned long y2, int element, bool square) {
  WireCells c;
  snprintf(c.map, sizeof c.map, "%s", map);
  c.layer = layer;
  c.x1 = (long)x1, c.y1 = (long)y1, c.x2 = (long)x2, c.y2 = (long)y2;
  c.element = element;
  c.square = square;
  return c;
}
}  // namespace

void actionSendCells(const char* map, int layer, unsigned long x1, unsigned long y1, unsigned long x2,
                     unsigned long y2, int element) {
  if (net && strlen(map) < sizeof(WireCells::map))
    sendCells(cells(map, layer, x1, y1, x2, y2, element, x1 != x2 || y1 != y2));
}

void action_SetElementAbsolute(const char* map, int layer, unsigned long x, unsigned long y,
                               int element) {
  if (net && strlen(map) < sizeof(WireCells::map)) sendCells(cells(map, layer, x, y, x, y, element, false));
  setElementAbsolute(getMap(map), layer, x, y, element);
}

void action_SetElementSquare(const char* map, int layer, unsigned long x1, unsigned long y1,
                             unsigned long x2, unsigned long y2, int element) {
  if (net && strlen(map) < sizeof(WireCells::map)) sendCells(cells(map, layer, x1, y1, x2, y2, element, true));
  setElementSquare(map, layer, x1, y1, x2, y2, element);
}

// [SECTION] typed actions
void action_addLayer(long map, const char* chipset, bool bg) {
  pMap m = openMapAt(map);
  if (!m) {
    printf("action_addLayer(%ld) refuse: map absente!\n", map);
    return;
  }
  // A tileset this editor lacks could not reach the peers, who would refuse
  // the layer: refused here too, so every copy keeps the same layers.
  if (net && !tilesetPresent(chipset)) {
    printf("action_addLayer(%s) refuse: tileset absent!\n", chipset);
    return;
  }
  // Added here first: the peers get the tileset and pass conditions this
  // editor now has, and a refused layer is not sent.
  int before = m->layers;
  addLayer(m, chipset, bg);
  char corps[BODY_LEN];
  if (net && m->layers > before &&
      body(corps, sizeof corps, "ADDLAYER", "%s %s %d", m->filename, chipset, bg ? 1 : 0))
    actionSend("ADDLAYER", corps);
}

void action_deleteLayer(long map, long l) {
  pMap m = openMapAt(map);
  char corps[BODY_LEN];
  // Base peers read the slot index (the map in their own slot of that
  // index); peers that know it get the map's file name instead.
  if (net && body(corps, sizeof corps, "DELETELAYER", "%ld %ld", map, l))
    actionSendWithout(EXT_LAYERS, "DELETELAYER", corps);
  if (net && m && body(corps, sizeof corps, "LAYERDEL", "%s %ld", m->filename, l))
    actionSendTo(EXT_LAYERS, "LAYERDEL", corps);
  if (m)
    deleteLayer(m, l);
  else
    printf("action_deleteLayer(%ld) refuse: map absente!\n", map);
}

bool action_moveLayer(long map, int from, int to) {
  pMap m = openMapAt(map);
  if (!m || !moveLayer(m, from, to)) return false;
  if (from == to) return true;
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "LAYERMOVE", "%s %d %d", m->filename, from, to))
    actionSendTo(EXT_LAYERS, "LAYERMOVE", corps);
  printf("Layer %d de %s deplace en %d.\n", from, m->filename, to);
  return true;
}

bool action_newMap(const char* smap, unsigned long w, unsigned long h) {
  if (!validName(smap)) return false;
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "NEWMAP", "%s %ld %ld", smap, (long)w, (long)h))
    actionSend("NEWMAP", corps);
  return newMapFile(smap, w, h);
}

void action_setLayerBGXY(const char* map, int layer, char bg, int x, int y) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "SETLAYERBGXY", "%s %d %d %d %d", map, layer, (int)bg, x, y))
    actionSend("SETLAYERBGXY", corps);
}

void action_sendMapSysname(const char* filename, const char* sysname) {
  char corps[SYSNAME_BODY_LEN];
  if (!net || !body(corps, sizeof corps, "SENDMAPSYSNAME", "%s %s", filename, sysname)) return;
  syncNoteRename(filename, sysname);
  actionSend("SENDMAPSYSNAME", corps);
}

void action_sendPC(const char* chipset) {
  char corps[BODY_LEN];
  if (!net || !body(corps, sizeof corps, "SENDPC", "%s", chipset)) return;
  // Without its tileset the size is unknown: nothing rather than an empty file.
  if (passConditionsOf(chipset).empty()) {
    printf("Conditions de passage %s non envoyees: tileset absent.\n", chipset);
    return;
  }
  actionSend("SENDPC", corps);
}

void action_silentopen(const char* map) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "SILENTOPEN", "%s", map)) actionSend("SILENTOPEN", corps);
}

