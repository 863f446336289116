// Peer connections: the listening thread, the handshake on both sides and
// the receiving loop of each peer. The slots are in slots.cpp, the queue
// to the main thread in queue.cpp.
// Index:
//   [SECTION] the listening thread, slots and handshake blocks
//   [SECTION] start and stop
//   [SECTION] joining
//   [SECTION] serving a peer
#include <arpa/inet.h>
#include <netdb.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>

#include "model/model.h"
#include "net/address.h"
#include "net/auth.h"
#include "net/members.h"
#include "net/netio.h"
#include "net/presence.h"
#include "net/sync.h"
#include "net/wire.h"
#include "core/core.h"

std::atomic<bool> disco{false};
std::atomic<bool> antenneWifi{false};
std::atomic<bool> refreshMenu{false};
int netPort = NET_PORT;
NetHost netListenHost;

// [SECTION] the listening thread, slots and handshake blocks
namespace {
std::atomic<std::thread*> serverThread{nullptr};
std::atomic<int> serverSocket{-1};

long long nowMs() { return (long long)coreMillis(); }

// Milliseconds left before a deadline, at least 1 so a wait still polls once.
int leftMs(long long deadline) {
  long long l = deadline - nowMs();
  return l > 1 ? (int)l : 1;
}

// The host as the log shows it (address.h): its last part, with keepFirst its first too.
struct Hidden {
  char text[ADDRESS_TEXT_LEN];
  Hidden(const NetHost& h, bool keepFirst = false) { formatHidden(h, keepFirst, text, sizeof text); }
};

// Slot for an accepted connection: the slot of our own join to that host
// when this is its reverse connection, else the lowest wholly free slot, so
// both connections with one peer share the index. -1 when all are taken.
int takeInboundSlot(int s, const NetAddress& from) {
  int slot = -1;
  for (int i = 0; i < MAX_PEERS && slot < 0; i++) {
    Peer& p = peers[i];
    if (p.connectedSocket < 0 && !p.littleServerThread && (p.clientSocket >= 0 || p.clientPending) &&
        p.outHost == from.host)
      slot = i;
  }
  for (int i = 0; i < MAX_PEERS && slot < 0; i++) {
    Peer& p = peers[i];
    if (p.connectedSocket < 0 && !p.littleServerThread && p.clientSocket < 0 && !p.clientPending)
      slot = i;
  }
  if (slot >= 0) {
    peers[slot].connectedSocket = s;
    peers[slot].inHost = from.host;
    peers[slot].inPort = (uint16_t)from.port;
  }
  return slot;
}

int server(void*) {
  int ls = serverSocket;
  while (!stop && !disco) {
    NetAddress from;
    int s = netAccept(ls, POLL_MS, &from);
    if (s < 0) continue;
    if (!authAddressAllowed(from.host)) {
      netClose(s);
      continue;
    }
    std::lock_guard<std::mutex> g(peersLock);
    int slot = takeInboundSlot(s, from);
    if (slot < 0) {
      printf("Plus de tunnel libre: connexion de %s refusee!\n", Hidden(from.host).text);
      netClose(s);
      continue;
    }
    printf("Cient pour le tunnel %i!\n", slot);
    // Started under the lock, so the thread finds its entry filled in.
    peers[slot].littleServerThread = threadStart(littleServer, (void*)(intptr_t)slot);
  }
  serverSocket = -1;
  netClose(ls);
  printf("Serveur principal ferme.\n");
  return 0;
}

// At exit, before SDL and the globals are torn down: every network thread
// sees `stop`, is woken and is waited for, so none outlives the program's
// end. That is the listening thread the quit path's disconnect started
// again, and the receiving threads of a program that exits without a
// disconnect (a failed project load, a benchmark).
void endNet() {
  stop = true;
  endServer();
  membersStop();
  std::thread* threads[MAX_PEERS] = {nullptr};
  SendQueue* senders[MAX_PEERS] = {nullptr};
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) {
      shutSlot(peers[i]);
      threads[i] = peers[i].littleServerThread;
      peers[i].littleServerThread = nullptr;
      senders[i] = peers[i].out;
      peers[i].out = nullptr;
    }
  }
  for (std::thread* t : threads)  // a receiving thread that calls exit skips itself
    if (t && !threadIsCurrent(t)) threadWait(t);
  for (SendQueue* q : senders)
    if (q && q->thread.get_id() != std::this_thread::get_id()) stopSender(q, false);
}

// The receiving thread ends; the main thread frees the slot, unless a
// disconnect is under way and does it itself.
int ended(int i, unsigned gen, bool release) {
  if (stop || disco) return 0;
  {
    // Gone from now on: the same host may join again before the main
    // thread frees the slot.
    std::lock_guard<std::mutex> g(peersLock);
    if (peers[i].gen == gen) peers[i].dropping = true;
  }
  NetEvent e{EV_END, i, gen, release, "", ""};
  netQueue(e);
  return 0;
}

// Opens the outbound connection: attempts spaced over JOIN_MS, each logged,
// each trying the targets in turn; *which tells the one that answered.
int glOpen(const NetAddress* to, int count, int* which) {
  uint32_t start = coreMillis();
  for (;;) {
    for (int k = 0; k < count; k++) {
      if (stop || disco) return -1;
      int s = netConnect(to[k], CONNECT_TRY_MS);
      if (s >= 0) {
        *which = k;
        return s;
      }
      printf("Impossible de joindre %s, d'ouvrir le port %d!\n", Hidden(to[k].host, true).text, to[k].port);
    }
    if (coreMillis() - start >= (uint32_t)JOIN_MS) break;
    for (int w = 0; w < JOIN_SPACING_MS && !stop && !disco; w += POLL_MS) coreSleepMs(POLL_MS);
  }
  printf("Abandon: %s ne repond pas.\n", Hidden(to[0].host, true).text);
  return -1;
}

// Handshake blocks, each within what is left of the handshake's time, and
// added to the connection's transcript as they went (the key proof binds it).
bool recvText(int s, char* block, int size, long long deadline, std::string* transcript) {
  int ms = leftMs(deadline);
  if (!recvAll(s, block, (size_t)size, ms, ms, &disco)) return false;
  block[size - 1] = 0;
  transcript->append(block, (size_t)size);
  return true;
}

bool sendText(int s, const char* text, int size, long long deadline, std::string* transcript) {
  char block[NAME_BLOCK] = {0};
  snprintf(block, (size_t)size, "%s", text);
  transcript->append(block, (size_t)size);
  return sendAll(s, block, (size_t)size, leftMs(deadline));
}

// The name in our handshake block: with a key, the user's goes only
// through the session channel.
const char* shownName() { return authKeyRequired() ? AUTH_HIDDEN_NAME : username; }

// Who a refusal names: the peer's name, or its address when it hid it.
const char* refusedName(const char* name, const NetHost& host, char out[ADDRESS_TEXT_LEN]) {
  if (strcmp(name, AUTH_HIDDEN_NAME) != 0) return name;
  formatHost(host, out, ADDRESS_TEXT_LEN);
  return out;
}

bool outTaken(const Peer& p) { return p.clientSocket >= 0 || p.clientPending; }

// Slot for a connection this editor opens (peersLock held), or -1 (logged).
// A join is refused when that host (any of a name's) is served or joined
// already, so two editors joining each other at once end with one pair. The
// reverse connection goes on the slot of its own inbound peer: none when
// the pair is complete already, and a refusal (-2) rather than crossing two slots.
int takeOutboundSlot(const NetAddress* to, int count, bool repeat, int slot) {
  const NetHost& host = to[0].host;
  for (int k = 0; k < MAX_PEERS; k++) {
    const Peer& p = peers[k];
    if (p.dropping) continue;  // ending: its host is free to join again
    bool joined = false, served = false;
    for (int t = 0; t < count; t++) {
      joined = joined || (outTaken(p) && p.outHost == to[t].host);
      served = served || (p.connectedSocket >= 0 && p.inHost == to[t].host);
    }
    if (repeat && (joined || served)) {
      printf("DEJA CONNECTE A CETTE ADRESSE IP!\n");
      return -1;
    }
    if (!repeat && joined) {
      if (k == slot) {
        printf("Tunnel %d deja relie a %s: pas de seconde connexion.\n", k, Hidden(host).text);
        return -1;
      }
      printf("%s deja relie sur le tunnel %d: tunnel %d refuse!\n", Hidden(host).text, k, slot);
      return -2;
    }
  }
  if (!repeat) {
    if (slot < 0 || slot >= MAX_PEERS || outTaken(peers[slot])) {
      printf("Tunnel %d occupe: connexion retour refusee!\n", slot);
      return -2;
    }
    return slot;
  }
  for (int k = 0; k < MAX_PEERS; k++)
    if (!outTaken(peers[k]) && peers[k].connectedSocket < 0 && !peers[k].littleServerThread) return k;
  printf("Plus de tunnel libre: connexion a %s refusee!\n", Hidden(host).text);
  return -1;
}
}  // namespace

// [SECTION] start and stop
void startServer() {
  int bound = 0;
  int ls = netListen(netListenHost, netPort, &bound);
  if (ls < 0) {
    printf("TCP INIT ERROR!\n");
    stop = true;
    return;
  }
  serverSocket = ls;
  serverThread = threadStart(server, nullptr);
}

// Waits for the listening thread, once, whoever asks first.
void endServer() {
  threadWait(serverThread.exchange(nullptr));
}

void initNet() {
  signal(SIGPIPE, SIG_IGN);  // a dead peer fails its sends, nothing more
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) resetPeer(i);
  }
  static bool registered = false;
  if (!registered) atexit(endNet);  // runs before SDL_Quit, registered earlier
  registered = true;
  startServer();
}

// [SECTION] joining
int clientOn(const NetAddress* targets, int count, bool repeat, int slot) {
  NetAddress to[RESOLVED_MAX];
  if (count < 1) return 0;
  if (count > RESOLVED_MAX) count = RESOLVED_MAX;
  for (int k = 0; k < count; k++) {
    to[k] = targets[k];
    if (to[k].port <= 0) to[k].port = netPort;
  }
  int i;
  {
    std::lock_guard<std::mutex> g(peersLock);
    i = takeOutboundSlot(to, count, repeat, slot);
    if (i < 0) return i == -2 ? -1 : 0;
    peers[i].clientPending = true;
    peers[i].outHost = to[0].host;
    peers[i].outPort = (uint16_t)to[0].port;
  }
  printf("Tentative de connexion a %s:%d/%d...\n", Hidden(to[0].host).text, to[0].port, i);
  int which = 0;
  int s = glOpen(to, count, &which);
  const NetHost host = to[which].host;
  auto fail = [&](bool clearName) {
    netClose(s);
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientSocket = -1;
    peers[i].clientPending = false;
    peers[i].clientReady = false;
    peers[i].outHost = NetHost();
    peers[i].outPort = 0;
    if (clearName && peers[i].connectedSocket < 0) peers[i].clientNames[0] = 0;
    return 0;
  };
  if (s < 0) return fail(false);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientSocket = s;
    peers[i].outHost = host;  // the one of a name's addresses that answered
    peers[i].outPort = (uint16_t)to[which].port;
  }
  long long deadline = nowMs() + HANDSHAKE_MS;
  char name[NAME_BLOCK], peerVersion[VERSION_BLOCK];
  std::string transcript;
  if (!sendText(s, shownName(), NAME_BLOCK, deadline, &transcript) ||
      !recvText(s, name, NAME_BLOCK, deadline, &transcript)) {
    printf("Poignee de main interrompue avec %s!\n", Hidden(host).text);
    return fail(false);
  }
  logMarker("A%s!", name);
  if (repeat)
    printf("Je suis en contact client avec %s sur le tunnel %d pour le client!\n", name, i);
  else
    printf("J'ai repondu donc a %s sur le tunnel %d pour le client!\n", name, i);
  if (!sendText(s, version, VERSION_BLOCK, deadline, &transcript)) return fail(false);
  logMarker("B");
  if (!recvText(s, peerVersion, VERSION_BLOCK, deadline, &transcript)) {
    printf("Poignee de main interrompue avec %s!\n", Hidden(host).text);
    return fail(false);
  }
  logMarker("C%s,", peerVersion);
  if (strcmp(version, peerVersion) != 0) {
    printf("Mauvaise version %s<>%s!\n", version, peerVersion);
    return fail(true);
  }
  char address[ADDRESS_TEXT_LEN];
  const char* who = refusedName(name, host, address);
  if (const char* why = authKeyMismatch(name)) {  // no token: the peer ends its side too
    authRefused(who, i, why);
    return fail(true);
  }
  if (!sendText(s, repeat ? "REPEAT!" : "THANKS!", TOKEN_BLOCK, deadline, &transcript)) return fail(false);
  // With a key the peer proves it on this connection before anything else.
  char proven[NAME_BLOCK];
  if (authKeyRequired() && !authJoin(s, i, who, transcript, proven)) return fail(true);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientPending = false;
    peers[i].clientReady = true;
    peers[i].joinedThere = repeat;
    startSender(i);
    if (!authKeyRequired()) announceExtensions(i);  // the first action (the proof sent it)
  }
  refreshMenu = true;
  printf("client ok\n");
  return 1;
}

int client(const NetAddress& to, bool repeat) { return clientOn(&to, 1, repeat, -1) == 1 ? 1 : 0; }

int joinServer(const char* address) {
  NetAddress to[RESOLVED_MAX];
  int n = resolveAddress(address, netPort, to, RESOLVED_MAX);
  if (n == 0) return -1;
  for (int k = 0; k < n; k++) authTakeBack(to[k].host);  // joined by hand: no longer left out
  if (clientOn(to, n, true, -1) == 1) return 1;
  for (int k = 0; k < n; k++)
    if (rolesLeftUsOut(to[k].host)) {
      printf("%s nous a laisse de cote pour sa session: connexion refusee.\n", address);
      return JOIN_LEFT_OUT;
    }
  return 0;
}

// [SECTION] serving a peer
namespace {
// One inbound connection as its receiving thread serves it.
struct Served {
  int slot;
  unsigned gen;
  int s;
  NetHost host;
  uint16_t port;
  char name[NAME_BLOCK];
};

Served servedSlot(int i) {
  std::lock_guard<std::mutex> g(peersLock);
  Served c = {i, peers[i].gen, peers[i].connectedSocket, peers[i].inHost, peers[i].inPort, ""};
  return c;
}

// A peer is served only once the project (and its current map) exists.
bool waitForProject(const Served& c) {
  for (int w = 0; !projectLoaded && w < PROJECT_WAIT_MS; w += POLL_MS) {
    if (stop || disco) return false;
    coreSleepMs(POLL_MS);
  }
  if (!projectLoaded) printf("Aucun projet charge: connexion du tunnel %d refusee!\n", c.slot);
  return projectLoaded;
}

bool interrupted(const Served& c) {
  printf("Poignee de main interrompue sur le tunnel %d!\n", c.slot);
  return false;
}

void setName(Served& c, const char* name) {
  snprintf(c.name, sizeof c.name, "%s", name);
  std::lock_guard<std::mutex> g(peersLock);
  memcpy(peers[c.slot].clientNames, c.name, NAME_BLOCK);
}

// The listening side of the handshake: names, versions, the joiner's token,
// with a key its proof, and, for "REPEAT!", the reverse connection. The
// handshake has HANDSHAKE_MS and the proof AUTH_MS: a connection that never
// speaks cannot hold a slot.
bool serveHandshake(Served& c) {
  printf("Tentative de servir une connexion a %s:%d...\n", Hidden(c.host).text, c.port);
  long long deadline = nowMs() + HANDSHAKE_MS;
  char peerVersion[VERSION_BLOCK], token[TOKEN_BLOCK], name[NAME_BLOCK];
  std::string transcript;
  if (!recvText(c.s, name, NAME_BLOCK, deadline, &transcript)) return interrupted(c);
  setName(c, name);
  printf("Connecte avec %s sur le tunnel %d pour le serveur!\n", c.name, c.slot);
  if (!sendText(c.s, shownName(), NAME_BLOCK, deadline, &transcript) ||
      !recvText(c.s, peerVersion, VERSION_BLOCK, deadline, &transcript) ||
      !sendText(c.s, version, VERSION_BLOCK, deadline, &transcript))
    return interrupted(c);
  // Checked as soon as both versions are out: a joiner of another version
  // sends no token, and its slot is freed now.
  if (strcmp(version, peerVersion) != 0) {
    refreshMenu = true;
    printf("Mauvaise version %s<>%s!\n", version, peerVersion);
    return false;
  }
  const char* mismatch = authKeyMismatch(c.name);
  char address[ADDRESS_TEXT_LEN];
  const char* who = refusedName(c.name, c.host, address);
  if (mismatch && !authKeyRequired()) {  // a keyed joiner sends no token to us
    authRefused(who, c.slot, mismatch);
    return false;
  }
  if (!recvText(c.s, token, TOKEN_BLOCK, deadline, &transcript)) {
    if (mismatch) authRefused(who, c.slot, mismatch);  // a joiner without the key left
    return mismatch ? false : interrupted(c);
  }
  // With a key nothing more goes to the peer, nor is asked, until it proved it.
  std::string announced;
  if (authKeyRequired()) {
    if (!authServe(c.s, c.slot, c.gen, who, transcript, name, &announced)) return false;
    setName(c, name);
  }
  if (!authAsk(c.slot, c.gen, c.name, c.host, c.s, &stop)) return false;
  if (strcmp(token, "REPEAT!") == 0) {
    // Back to the address the connection came from, whatever its family.
    NetAddress back{c.host, netPort};
    char text[ADDRESS_TEXT_LEN];
    formatAddress(back, true, text, sizeof text);
    printf("Reciprocite: %s\n", text);
    if (clientOn(&back, 1, false, c.slot) < 0) return false;
  }
  printf("...\n");
  netQueue(NetEvent{EV_SERVE, c.slot, c.gen, false, "", ""});
  if (authKeyRequired()) netQueue(NetEvent{EV_ACTION, c.slot, c.gen, false, "EXTENSIONS", announced});
  printf("little serveur demarre!\n");
  return true;
}

// Why the receiving loop ended: the peer's goodbye, a lost connection or
// transfer (logged unless the program is stopping), or a cut it logged.
enum LoopEnd { LOOP_BYE, LOOP_LOST, LOOP_TRANSFER, LOOP_CUT };

// One block from the peer (through its session channel, when it has one).
bool recvBlock(const Served& c, char* buf, size_t n, int firstMs) {
  return recvAll(c.s, buf, n, firstMs, STALL_MS, &disco);
}

// Header, body and any file transfer of each action, queued for the main thread.
LoopEnd receiveLoop(Served& c) {
  std::vector<char> body(RECV_BUFFER + 1);
  while (!stop && !disco) {
    char head[HEADER_BLOCK], command[HEADER_BLOCK];
    int n = 0;
    if (!recvBlock(c, head, HEADER_BLOCK, -1)) return LOOP_LOST;
    if (!parseHeader(head, command, &n)) {
      printf("En-tete invalide sur le tunnel %d: connexion coupee!\n", c.slot);
      return LOOP_CUT;
    }
    const WireWord* w = wireWord(command);
    // Presence comes often: no activity picture, no log line, its own flood check.
    bool quiet = w && w->quiet;
    if (quiet && !presenceArrived(c.slot)) return LOOP_CUT;
    if (!quiet) {
      antenneWifi = true;
      printf("En-tête recu: %s! Taille: %d!\n", command, n);
    }
    if (n > 0) {
      if (!recvBlock(c, body.data(), (size_t)n, STALL_MS)) return LOOP_LOST;
      body[(size_t)n] = 0;
    } else {
      snprintf(body.data(), body.size(), "?");
    }
    if (strcmp(command, "DISCONNECT!") == 0) break;
    bool ok = true;
    if (w && w->edits && w->transfer != WIRE_NO_TRANSFER && peerIsViewer(c.slot))
      ok = declineTransfer(c.s, w->transfer);  // a viewer's files are not written
    else if (w && w->transfer == WIRE_TILESET)
      ok = receiveTileset(c.s, body.data());
    else if (w && w->transfer == WIRE_PASS)
      ok = receivePC(c.s, body.data());
    if (!ok) return LOOP_TRANSFER;
    if (!netQueue(NetEvent{EV_ACTION, c.slot, c.gen, false, command, body.data()})) {
      printf("Trop d'actions en attente de %s sur le tunnel %d: connexion coupee!\n", c.name, c.slot);
      return LOOP_CUT;
    }
    if (sendPending() == 0) antenneWifi = false;
  }
  return LOOP_BYE;
}

// Clean-up: the main thread frees the slot and releases the peer's map; a
// disconnect under way does it itself.
int endServing(const Served& c, LoopEnd why) {
  if (stop || disco) return 0;
  if (why == LOOP_LOST) printf("Connexion perdue avec %s sur le tunnel %d!\n", c.name, c.slot);
  if (why == LOOP_TRANSFER) printf("Transfert interrompu sur le tunnel %d: connexion coupee!\n", c.slot);
  return ended(c.slot, c.gen, true);
}
}  // namespace

int littleServer(void* arg) {
  Served c = servedSlot((int)(intptr_t)arg);
  if (!waitForProject(c) || !serveHandshake(c)) return ended(c.slot, c.gen, false);
  return endServing(c, receiveLoop(c));
}

