// Peer connections: the listening thread, the handshake on both sides, the
// receiving loop of each peer and the orderly disconnect.
#include <SDL/SDL_thread.h>
#include <SDL/SDL_timer.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>

#include "model/model.h"
#include "net/netio.h"
#include "shell/project.h"
#include "shell/shell.h"

std::atomic<bool> disco{false};
std::atomic<bool> antenneWifi{false};
std::atomic<bool> refreshMenu{false};
int netPort = NET_PORT;
uint32_t netListenHost = 0;
Peer peers[MAX_PEERS];
std::mutex peersLock;

namespace {
std::atomic<SDL_Thread*> serverThread{nullptr};
std::atomic<int> serverSocket{-1};
std::atomic<int> boundPort{0};
std::mutex queueLock;
std::deque<NetEvent> queue;

int octet(uint32_t host, int k) { return (int)((const unsigned char*)&host)[k]; }

void clearSlot(Peer& p) {
  unsigned gen = p.gen + 1;
  p = Peer();
  p.gen = gen;
}

// Slot for an accepted connection: the slot of our own join to that host
// when this is its reverse connection, else the lowest wholly free slot, so
// both connections with one peer share the index. -1 when all are taken.
int takeInboundSlot(int s, uint32_t host, uint16_t port) {
  int slot = -1;
  for (int i = 0; i < MAX_PEERS && slot < 0; i++) {
    Peer& p = peers[i];
    if (p.connectedSocket < 0 && !p.littleServerThread && (p.clientSocket >= 0 || p.clientPending) &&
        p.outHost == host)
      slot = i;
  }
  for (int i = 0; i < MAX_PEERS && slot < 0; i++) {
    Peer& p = peers[i];
    if (p.connectedSocket < 0 && !p.littleServerThread && p.clientSocket < 0 && !p.clientPending)
      slot = i;
  }
  if (slot >= 0) {
    peers[slot].connectedSocket = s;
    peers[slot].inHost = host;
    peers[slot].inPort = port;
  }
  return slot;
}

int server(void*) {
  int ls = serverSocket;
  while (!stop && !disco) {
    uint32_t host = 0;
    uint16_t port = 0;
    int s = netAccept(ls, POLL_MS, &host, &port);
    if (s < 0) continue;
    std::lock_guard<std::mutex> g(peersLock);
    int slot = takeInboundSlot(s, host, port);
    if (slot < 0) {
      printf("Plus de tunnel libre: connexion de X.X.X.%d refusee!\n", octet(host, 3));
      netClose(s);
      continue;
    }
    printf("Cient pour le tunnel %i!\n", slot);
    // Started under the lock, so the thread finds its entry filled in.
    peers[slot].littleServerThread = SDL_CreateThread(littleServer, (void*)(intptr_t)slot);
  }
  serverSocket = -1;
  netClose(ls);
  printf("Serveur principal ferme.\n");
  return 0;
}

void startServer() {
  int bound = 0;
  int ls = netListen(netListenHost, netPort, &bound);
  if (ls < 0) {
    printf("TCP INIT ERROR!\n");
    stop = true;
    return;
  }
  boundPort = bound;
  serverSocket = ls;
  serverThread = SDL_CreateThread(server, nullptr);
}

// Waits for the listening thread, once, whoever asks first.
void endServer() {
  SDL_Thread* t = serverThread.exchange(nullptr);
  if (t) SDL_WaitThread(t, nullptr);
}

// At exit, before SDL and the globals are torn down: every network thread
// sees `stop`, is woken and is waited for, so none outlives the program's
// end. That is the listening thread the quit path's disconnect started
// again, and the receiving threads of a program that exits without a
// disconnect (a failed project load, a benchmark).
void endNet() {
  stop = true;
  endServer();
  SDL_Thread* threads[MAX_PEERS] = {nullptr};
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) {
      netShutdown(peers[i].connectedSocket);
      threads[i] = (SDL_Thread*)peers[i].littleServerThread;
      peers[i].littleServerThread = nullptr;
    }
  }
  for (SDL_Thread* t : threads)  // a receiving thread that calls exit skips itself
    if (t && SDL_GetThreadID(t) != SDL_ThreadID()) SDL_WaitThread(t, nullptr);
}

// The receiving thread ends; the main thread frees the slot, unless a
// disconnect is under way and does it itself.
int ended(int i, unsigned gen, bool release) {
  if (stop || disco) return 0;
  NetEvent e{EV_END, i, gen, release, "", ""};
  netQueue(e);
  return 0;
}

// Opens the outbound connection: attempts spaced over JOIN_MS, each logged.
int glOpen(uint32_t host) {
  Uint32 start = SDL_GetTicks();
  for (;;) {
    if (stop || disco) return -1;
    int s = netConnect(host, netPort, CONNECT_TRY_MS);
    if (s >= 0) return s;
    printf("Impossible de joindre %d.X.X.%d, d'ouvrir le port %d!\n", octet(host, 0), octet(host, 3),
           netPort);
    if (SDL_GetTicks() - start >= (Uint32)JOIN_MS) break;
    for (int w = 0; w < JOIN_SPACING_MS && !stop && !disco; w += POLL_MS) SDL_Delay(POLL_MS);
  }
  printf("Abandon: %d.X.X.%d ne repond pas.\n", octet(host, 0), octet(host, 3));
  return -1;
}

bool recvText(int s, char* block, int size) {
  if (!recvAll(s, block, (size_t)size, HANDSHAKE_MS, HANDSHAKE_MS, &disco)) return false;
  block[size - 1] = 0;
  return true;
}

bool sendText(int s, const char* text, int size) {
  char block[NAME_BLOCK] = {0};
  snprintf(block, (size_t)size, "%s", text);
  return sendAll(s, block, (size_t)size, HANDSHAKE_MS);
}
}  // namespace

int netListeningPort() { return boundPort; }

void netQueue(NetEvent e) {
  std::lock_guard<std::mutex> g(queueLock);
  queue.push_back(std::move(e));
}

size_t netQueued() {
  std::lock_guard<std::mutex> g(queueLock);
  return queue.size();
}

void initNet() {
  signal(SIGPIPE, SIG_IGN);  // a dead peer fails its sends, nothing more
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (Peer& p : peers) clearSlot(p);
  }
  static bool registered = false;
  if (!registered) atexit(endNet);  // runs before SDL_Quit, registered earlier
  registered = true;
  startServer();
}

int clientOn(uint32_t host, bool repeat, int slot) {
  int i = -1;
  {
    std::lock_guard<std::mutex> g(peersLock);
    auto freeOut = [](const Peer& p) { return p.clientSocket < 0 && !p.clientPending; };
    if (slot >= 0 && slot < MAX_PEERS && freeOut(peers[slot])) i = slot;
    for (int k = 0; k < MAX_PEERS && i < 0; k++)
      if (freeOut(peers[k]) && (!repeat || (peers[k].connectedSocket < 0 && !peers[k].littleServerThread)))
        i = k;
    if (i >= 0) {
      peers[i].clientPending = true;
      peers[i].outHost = host;
    }
  }
  if (i < 0) {
    printf("Plus de tunnel libre: connexion a X.X.X.%d refusee!\n", octet(host, 3));
    return 0;
  }
  printf("Tentative de connexion a X.X.X.%d:%d/%d...\n", octet(host, 3), netPort, i);
  int s = glOpen(host);
  auto fail = [&](bool clearName) {
    netClose(s);
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientSocket = -1;
    peers[i].clientPending = false;
    peers[i].clientReady = false;
    peers[i].outHost = 0;
    if (clearName && peers[i].connectedSocket < 0) peers[i].clientNames[0] = 0;
    return 0;
  };
  if (s < 0) return fail(false);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientSocket = s;
  }
  char name[NAME_BLOCK], peerVersion[VERSION_BLOCK];
  if (!sendText(s, username, NAME_BLOCK) || !recvText(s, name, NAME_BLOCK)) {
    printf("Poignee de main interrompue avec X.X.X.%d!\n", octet(host, 3));
    return fail(false);
  }
  printf("A%s!\n", name);
  if (repeat)
    printf("Je suis en contact client avec %s sur le tunnel %d pour le client!\n", name, i);
  else
    printf("J'ai repondu donc a %s sur le tunnel %d pour le client!\n", name, i);
  if (!sendText(s, version, VERSION_BLOCK)) return fail(false);
  printf("B\n");
  if (!recvText(s, peerVersion, VERSION_BLOCK)) {
    printf("Poignee de main interrompue avec X.X.X.%d!\n", octet(host, 3));
    return fail(false);
  }
  printf("C%s,\n", peerVersion);
  if (strcmp(version, peerVersion) != 0) {
    printf("Mauvaise version %s<>%s!\n", version, peerVersion);
    return fail(true);
  }
  if (!sendText(s, repeat ? "REPEAT!" : "THANKS!", TOKEN_BLOCK)) return fail(false);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientPending = false;
    peers[i].clientReady = true;
  }
  refreshMenu = true;
  printf("client ok\n");
  return 1;
}

int client(uint32_t host, bool repeat) { return clientOn(host, repeat, -1); }

int joinServer(const char* address) {
  addrinfo hints = {}, *res = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(address, nullptr, &hints, &res) != 0 || !res) {
    printf("Adresse %s inconnue!\n", address);
    return 0;
  }
  uint32_t host = ((sockaddr_in*)res->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(res);
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (const Peer& p : peers)
      if (p.clientSocket >= 0 && p.connectedSocket >= 0 && p.inHost == host) {
        printf("DEJA CONNECTE A CETTE ADRESSE IP!\n");
        return 0;
      }
  }
  return client(host, true);
}

int littleServer(void* arg) {
  int i = (int)(intptr_t)arg;
  int s;
  unsigned gen;
  uint32_t host;
  uint16_t port;
  {
    std::lock_guard<std::mutex> g(peersLock);
    s = peers[i].connectedSocket;
    gen = peers[i].gen;
    host = peers[i].inHost;
    port = peers[i].inPort;
  }
  // A peer is served only once the project (and its current map) exists.
  for (int w = 0; !projectLoaded && w < PROJECT_WAIT_MS; w += POLL_MS) {
    if (stop || disco) return 0;
    SDL_Delay(POLL_MS);
  }
  if (!projectLoaded) {
    printf("Aucun projet charge: connexion du tunnel %d refusee!\n", i);
    return ended(i, gen, false);
  }
  printf("Tentative de servir une connexion a X.X.X.%d:%d...\n", octet(host, 3), port);
  char name[NAME_BLOCK], peerVersion[VERSION_BLOCK], token[TOKEN_BLOCK];
  if (!recvText(s, name, NAME_BLOCK)) {
    printf("Poignee de main interrompue sur le tunnel %d!\n", i);
    return ended(i, gen, false);
  }
  {
    std::lock_guard<std::mutex> g(peersLock);
    memcpy(peers[i].clientNames, name, NAME_BLOCK);
  }
  printf("Connecte avec %s sur le tunnel %d pour le serveur!\n", name, i);
  if (!sendText(s, username, NAME_BLOCK) || !recvText(s, peerVersion, VERSION_BLOCK) ||
      !sendText(s, version, VERSION_BLOCK) || !recvText(s, token, TOKEN_BLOCK)) {
    printf("Poignee de main interrompue sur le tunnel %d!\n", i);
    return ended(i, gen, false);
  }
  if (strcmp(version, peerVersion) != 0) {
    refreshMenu = true;
    printf("Mauvaise version %s<>%s!\n", version, peerVersion);
    return ended(i, gen, false);
  }
  if (strcmp(token, "REPEAT!") == 0) {
    char text[32];
    snprintf(text, sizeof text, "%d.%d.%d.%d", octet(host, 0), octet(host, 1), octet(host, 2),
             octet(host, 3));
    printf("Reciprocite: %s:%d\n", text, netPort);
    clientOn(host, false, i);
  }
  printf("...\n");
  refreshMenu = true;
  netQueue(NetEvent{EV_SERVE, i, gen, false, "", ""});
  printf("little serveur demarre!\n");

  std::vector<char> body(RECV_BUFFER + 1);
  while (!stop && !disco) {
    char head[HEADER_BLOCK], command[HEADER_BLOCK];
    int n = 0;
    if (!recvAll(s, head, HEADER_BLOCK, -1, STALL_MS, &disco)) {
      if (stop || disco) return 0;
      printf("Connexion perdue avec %s sur le tunnel %d!\n", name, i);
      antenneWifi = false;
      return ended(i, gen, true);
    }
    if (!parseHeader(head, command, &n)) {
      printf("En-tete invalide sur le tunnel %d: connexion coupee!\n", i);
      return ended(i, gen, true);
    }
    antenneWifi = true;
    refreshMenu = true;
    printf("En-tête recu: %s! Taille: %d!\n", command, n);
    if (n > 0) {
      if (!recvAll(s, body.data(), (size_t)n, STALL_MS, STALL_MS, &disco)) {
        if (stop || disco) return 0;
        printf("Connexion perdue avec %s sur le tunnel %d!\n", name, i);
        antenneWifi = false;
        return ended(i, gen, true);
      }
      body[(size_t)n] = 0;
    } else {
      snprintf(body.data(), body.size(), "?");
    }
    if (strcmp(command, "DISCONNECT!") == 0) break;
    bool ok = true;
    if (strcmp(command, "ADDLAYER") == 0) ok = receiveTileset(s, body.data());
    if (strcmp(command, "SENDPC") == 0) ok = receivePC(s, body.data());
    if (!ok) {
      if (stop || disco) return 0;
      printf("Transfert interrompu sur le tunnel %d: connexion coupee!\n", i);
      antenneWifi = false;
      return ended(i, gen, true);
    }
    netQueue(NetEvent{EV_ACTION, i, gen, false, command, body.data()});
    antenneWifi = false;
  }
  if (stop || disco) return 0;
  antenneWifi = false;
  return ended(i, gen, true);
}

void endSlot(int i, unsigned gen, bool release) {
  SDL_Thread* t;
  int in, out;
  {
    std::lock_guard<std::mutex> g(peersLock);
    if (peers[i].gen != gen) return;  // a disconnect freed it already
    t = (SDL_Thread*)peers[i].littleServerThread;
    in = peers[i].connectedSocket;
    out = peers[i].clientSocket;
  }
  if (release) releasePeerMap(i);
  if (t) SDL_WaitThread(t, nullptr);  // it has queued this event: it is ending
  netClose(in);
  netClose(out);
  {
    std::lock_guard<std::mutex> g(peersLock);
    clearSlot(peers[i]);
  }
  antenneWifi = false;
  refreshMenu = true;
}

int connectedPeers() {
  std::lock_guard<std::mutex> g(peersLock);
  int n = 0;
  for (const Peer& p : peers)
    if (p.clientReady) n++;
  return n;
}

bool peerName(int i, char* out, int cap) {
  std::lock_guard<std::mutex> g(peersLock);
  if (i < 0 || i >= MAX_PEERS || (!peers[i].clientReady && peers[i].connectedSocket < 0)) return false;
  snprintf(out, (size_t)cap, "%s", peers[i].clientNames);
  return true;
}

void disconnect(bool retour) {
  disco = true;
  endServer();
  {
    // Wakes every receiving thread at once; each sees `disco` and ends.
    std::lock_guard<std::mutex> g(peersLock);
    for (Peer& p : peers) netShutdown(p.connectedSocket);
  }
  for (int i = 0; i < MAX_PEERS; i++) {
    SDL_Thread* t;
    {
      std::lock_guard<std::mutex> g(peersLock);
      t = (SDL_Thread*)peers[i].littleServerThread;
    }
    if (t) SDL_WaitThread(t, nullptr);
    // From here on nothing else touches the slot.
    Peer p;
    {
      std::lock_guard<std::mutex> g(peersLock);
      p = peers[i];
    }
    if (p.clientSocket >= 0 && p.clientReady) {
      printf("Deconnexion du client %d:%s...\n", i, p.clientNames);
      char head[HEADER_BLOCK];
      formatHeader(head, "DISCONNECT!", 0);
      sendAll(p.clientSocket, head, HEADER_BLOCK, 1000);
      printf("deco0\n");
      if (t) {
        printf("deco1 !%d!\n", i);
        netClose(p.connectedSocket);
        printf("micro-serveur %d ferme\n", i);
      } else {
        netClose(p.connectedSocket);
      }
      printf("deco2!%d!\n", i);
      netClose(p.clientSocket);
      printf("Deconnexion du client %d:%s terminee.\n", i, p.clientNames);
      printf("deco4\n");
    } else {
      netClose(p.connectedSocket);
      netClose(p.clientSocket);
    }
    std::lock_guard<std::mutex> g(peersLock);
    clearSlot(peers[i]);  // usedMap keeps its entry: the map stays counted as used
  }
  disco = false;
  printf("Deconnexion globale terminee.\n");
  if (retour) startServer();
  printf("Serveur d'écoute réinitiliasé\n");
  refreshMenu = true;
  printf("Tous les systèmes OK!\n");
}

void netReset() {
  std::lock_guard<std::mutex> g(peersLock);
  for (Peer& p : peers) clearSlot(p);
  std::lock_guard<std::mutex> q(queueLock);
  queue.clear();
}

void netPump() {
  std::deque<NetEvent> batch;
  {
    std::lock_guard<std::mutex> g(queueLock);
    batch.swap(queue);
  }
  for (NetEvent& e : batch) {
    unsigned gen;
    {
      std::lock_guard<std::mutex> g(peersLock);
      gen = peers[e.slot].gen;
    }
    if (e.kind == EV_END) {
      endSlot(e.slot, e.gen, e.release);
      continue;
    }
    modelLock();
    if (e.kind == EV_SERVE && gen == e.gen) {
      int c = project.currentMap;
      usedMap[e.slot] = project.listeMaps && c >= 0 && c < project.nbreMaps ? project.listeMaps[c] : nullptr;
    } else if (e.kind == EV_ACTION && (gen == e.gen || e.header != "SILENTOPEN")) {
      // A freed slot's late edits still apply; only its map pointer does not.
      readActions(e.header.c_str(), e.body.c_str(), e.slot);
    }
    modelUnlock();
  }
}
