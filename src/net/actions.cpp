// The action senders and actionSend: one send thread per peer, each writing
// the header block, the body and any file transfer on its own connection.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <stdio.h>
#include <string.h>

#include "model/model.h"
#include "net/auth.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/wire.h"
#include "core/core.h"
#include "core/files.h"

namespace {
std::atomic<int> pending{0};  // jobs in every queue, the one being sent included

// One job is done (or thrown away): the activity picture goes when none is left.
void jobsDone(int n) {
  if (n > 0 && (pending -= n) <= 0) antenneWifi = false;
}

// Writes one action, and the transfer that follows it, on the outbound socket.
bool clientSend(int slot, int s, const SendJob& job) {
  uint32_t host;
  uint16_t port;
  {
    // The inbound connection may have come after this one.
    std::lock_guard<std::mutex> g(peersLock);
    host = peers[slot].inHost ? peers[slot].inHost : peers[slot].outHost;
    port = peers[slot].inPort;
  }
  int n = (int)job.body.size() + 1;
  char head[HEADER_BLOCK];
  formatHeader(head, job.header.c_str(), job.bare ? 0 : n);
  if (job.bare) return sendAll(s, head, HEADER_BLOCK, SEND_STALL_MS);
  printf("Action reseau -> X.X.X.%d:%d : %s,%.*s\n!", (int)(ntohl(host) & 0xFF), port, head,
         LOGGED_BODY_MAX, job.body.c_str());
  bool ok = sendAll(s, head, HEADER_BLOCK, SEND_STALL_MS);
  if (ok) printf("...\n");
  ok = ok && sendAll(s, job.body.c_str(), (size_t)n, SEND_STALL_MS);
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

// A held queue waits this long for the peer's proof: its user may first
// have to answer a join prompt.
const uint32_t kHeldMs = ASK_MS + AUTH_MS;

// The next job to send (q->lock held): the first, or while the queue is held
// the first early one or a bare header; -1 when none may go.
int nextJob(const SendQueue* q) {
  for (size_t k = 0; k < q->jobs.size(); k++)
    if (!q->held || q->jobs[k].early || q->jobs[k].bare) return (int)k;
  return -1;
}

// Body of a peer's send thread: its jobs in order until quit, the end of
// the queue after a disconnect, or a failed send, a peer that takes nothing
// or one that never proves the session key, each of which drops the peer.
void serveQueue(int slot, unsigned gen, SendQueue* q, int s) {
  Progress progress;
  progress.since = coreMillis();
  uint32_t heldSince = coreMillis();
  for (;;) {
    SendJob job;
    bool taking = true, heldOut = false;
    int k = -1;
    {
      std::unique_lock<std::mutex> g(q->lock);
      while (!q->quit && (k = nextJob(q)) < 0 && !q->last && (taking = peerTakes(s, progress)) &&
             !(heldOut = q->held && coreMillis() - heldSince >= kHeldMs))
        q->wake.wait_for(g, std::chrono::milliseconds(POLL_MS * 10));
      if (q->quit || (k < 0 && q->last)) return;
      if (k >= 0) job = q->jobs[(size_t)k];
    }
    if (heldOut) {
      if (!stop) dropPeer(slot, gen, "cle de session non prouvee");
      return;
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
    jobsDone(1);
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
bool enqueue(int i, const SendJob& job) {
  SendQueue* q = peers[i].out;
  std::lock_guard<std::mutex> g(q->lock);
  if (q->jobs.size() >= SEND_QUEUE_MAX) return false;
  q->jobs.push_back(job);
  pending++;
  antenneWifi = true;
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
  job.early = true;
  if (!enqueue(i, job)) printf("Extensions non annoncees sur le tunnel %d.\n", i);
}

void actionSendEarly(int i, unsigned gen, const char* header, const char* body) {
  SendJob job;
  job.header = header;
  job.body = body;
  job.early = true;
  // The peer's reverse connection may come in before our own join to it has
  // finished its handshake: its queue is waited for, within the exchange's time.
  for (int t = 0; t < AUTH_MS && !stop && !disco; t += POLL_MS) {
    {
      std::lock_guard<std::mutex> g(peersLock);
      if (peers[i].gen != gen || (!peers[i].out && !peers[i].clientPending)) break;
      if (peers[i].out) {
        if (!enqueue(i, job)) break;
        return;
      }
    }
    coreSleepMs(POLL_MS);
  }
  printf("Action %s non envoyee sur le tunnel %d.\n", header, i);
}

void releaseHeld(int i, unsigned gen) {
  std::lock_guard<std::mutex> g(peersLock);
  SendQueue* q = peers[i].out;
  if (peers[i].gen != gen || !q) return;
  std::lock_guard<std::mutex> l(q->lock);
  q->held = false;
  q->wake.notify_one();
}

void flushEarly(int i, unsigned gen, int ms) {
  for (int t = 0; t < ms && !stop; t += POLL_MS) {
    {
      std::lock_guard<std::mutex> g(peersLock);
      SendQueue* q = peers[i].out;
      if (peers[i].gen != gen || !q) return;
      std::lock_guard<std::mutex> l(q->lock);
      bool left = false;
      for (const SendJob& j : q->jobs) left = left || j.early;
      if (!left) return;
    }
    coreSleepMs(POLL_MS);
  }
}

void startSender(int i) {
  Peer& p = peers[i];
  SendQueue* q = new SendQueue;
  q->held = authKeyRequired();  // nothing but the exchange until the peer proves the key
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
  jobsDone((int)q->jobs.size());
  delete q;
}

const char* const extensionWords[EXTENSION_COUNT + 1] = {"AUTH", "SYNC", "LAYERS", "MEMBERS", "NAMES",
                                                              "RESIZE", "ENTITIES", nullptr};

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

namespace {
// Queues an action for the peers that announced `ext` (with `lacking`,
// those that lack some of it), or for `only` alone; `stamp`, when given,
// goes right before it to the peers that order cell writes by stamps.
void sendToPeers(unsigned ext, int only, const char* header, const char* corps, bool lacking = false,
                 const char* stamp = nullptr) {
  if (stop) return;
  if (only < 0) syncNoteActivity();  // an edit: the quiet check waits for the last one
  SendJob job;
  job.header = header;
  job.body = corps;
  const WireWord* w = wireWord(header);
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
      if (((peers[i].extensions & ext) != ext) != lacking || (only >= 0 && i != only)) continue;
      printf("%d->corps:%d!%.*s!\n", i, n, LOGGED_BODY_MAX, corps);
      bool room = !stamped || !(peers[i].extensions & EXT_SYNC) || enqueue(i, stampJob);
      if (!room || !enqueue(i, job)) full.push_back({i, peers[i].gen});
    }
  }
  for (auto& f : full) dropPeer(f.first, f.second, "file d'envoi pleine");
}
}  // namespace

void actionSend(const char* header, const char* corps) { actionSendTo(0, header, corps); }

void actionSendTo(unsigned ext, const char* header, const char* corps) { sendToPeers(ext, -1, header, corps); }

void actionSendWithout(unsigned ext, const char* header, const char* corps) {
  sendToPeers(ext, -1, header, corps, true);
}

void actionSendToPeer(int slot, const char* header, const char* corps) {
  if (slot >= 0 && slot < MAX_PEERS) sendToPeers(0, slot, header, corps);
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
  sendToPeers(0, -1, word, corps, false, stamped ? stamp : nullptr);
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

