// The peer slots: one record per connection (netio.h), reset in one place;
// dropping a peer, freeing its slot, the orderly disconnect.
#include <stdio.h>
#include <string.h>

#include "core/core.h"
#include "model/model.h"
#include "net/auth.h"
#include "net/members.h"
#include "net/netio.h"
#include "net/presence.h"
#include "net/sync.h"
#include "net/syncstate.h"

Peer peers[MAX_PEERS];
std::mutex peersLock;

// Shuts a slot's sockets: every thread waiting on them wakes and fails.
void shutSlot(const Peer& p) {
  netShutdown(p.connectedSocket);
  netShutdown(p.clientSocket);
}

void resetPeer(int i) {
  Peer& p = peers[i];
  syncSlotEnded(p.sync);  // a copy on its way lets its buffer go
  unsigned gen = p.gen + 1;
  int queued = p.queued;
  p = Peer();
  p.gen = gen;
  p.queued = queued;
}

void dropPeer(int i, unsigned gen, const char* why) {
  {
    std::lock_guard<std::mutex> g(peersLock);
    Peer& p = peers[i];
    if (p.gen != gen || p.dropping) return;
    p.dropping = true;
    p.clientReady = false;  // nothing more is queued for it
    printf("Client %s du tunnel %d abandonne: %s!\n", p.clientNames, i, why);
    shutSlot(p);
    if (p.out) {
      std::lock_guard<std::mutex> q(p.out->lock);
      p.out->quit = true;
      p.out->wake.notify_one();
    }
  }
  if (!stop && !disco) netQueue(NetEvent{EV_END, i, gen, true, "", ""});
}

void endSlot(int i, unsigned gen, bool release) {
  std::thread* t;
  int in, out;
  SendQueue* q;
  {
    std::lock_guard<std::mutex> g(peersLock);
    if (peers[i].gen != gen) return;  // freed already
  }
  syncLeaving(i);  // what we shared with it is the base of the next merge
  {
    std::lock_guard<std::mutex> g(peersLock);
    t = peers[i].littleServerThread;
    in = peers[i].connectedSocket;
    out = peers[i].clientSocket;
    q = peers[i].out;
    peers[i].out = nullptr;
    peers[i].clientReady = false;
    shutSlot(peers[i]);  // wakes both threads: neither waits on the peer any more
  }
  if (release) releasePeerMap(i);
  threadWait(t);
  stopSender(q, false);
  netClose(in);
  netClose(out);
  {
    std::lock_guard<std::mutex> g(peersLock);
    resetPeer(i);
  }
  if (sendPending() == 0) antenneWifi = false;
  refreshMenu = true;
}

int connectedPeers() {
  std::lock_guard<std::mutex> g(peersLock);
  int n = 0;
  for (const Peer& p : peers)
    if (p.clientReady) n++;
  return n;
}

bool peerInfo(int i, PeerInfo* out) {
  if (i < 0 || i >= MAX_PEERS) return false;
  NetHost host;
  {
    std::lock_guard<std::mutex> g(peersLock);
    const Peer& p = peers[i];
    if (!p.clientReady) return false;
    snprintf(out->name, sizeof out->name, "%s", p.clientNames);
    host = hostIsSet(p.inHost) ? p.inHost : p.outHost;
  }
  formatHost(host, out->address, sizeof out->address);
  pMap used = usedMap[i];
  snprintf(out->map, sizeof out->map, "%s", used && used->filename ? used->filename : "");
  out->byKey = authByKey(i);
  PresenceView seen;
  if (!presenceOf(i, nullptr, &seen)) return false;
  out->colour = seen.colour;
  if (seen.known) snprintf(out->map, sizeof out->map, "%s", seen.shown.map);
  out->viewer = peerIsViewer(i);
  return true;
}

bool peerName(int i, char* out, int cap) {
  std::lock_guard<std::mutex> g(peersLock);
  if (i < 0 || i >= MAX_PEERS || (!peers[i].clientReady && peers[i].connectedSocket < 0)) return false;
  snprintf(out, (size_t)cap, "%s", peers[i].clientNames);
  return true;
}

void disconnect(bool retour) {
  syncLeaving(-1);  // what we shared is the base of the next merge
  disco = true;
  endServer();
  membersStop();  // joins under way give up on `disco`
  // Each peer gets "DISCONNECT! 0" after what is queued for it, all at once.
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) {
      Peer& p = peers[i];
      netShutdown(p.connectedSocket);  // wakes the receiving thread, which sees `disco`
      if (!p.out || !p.clientReady) continue;
      printf("Deconnexion du client %d:%s...\n", i, p.clientNames);
      SendJob bye;
      bye.header = "DISCONNECT!";
      bye.bare = true;
      std::lock_guard<std::mutex> q(p.out->lock);
      p.out->jobs.push_back(bye);
      p.out->last = true;
      p.out->wake.notify_one();
    }
  }
  for (int i = 0; i < MAX_PEERS; i++) {
    std::thread* t;
    {
      std::lock_guard<std::mutex> g(peersLock);
      t = peers[i].littleServerThread;
    }
    threadWait(t);
    // From here on nothing else touches the slot.
    Peer p;
    {
      std::lock_guard<std::mutex> g(peersLock);
      p = peers[i];
      peers[i].out = nullptr;
    }
    bool bye = p.out && p.clientReady;
    stopSender(p.out, true);  // bounded: a stalled peer fails within SEND_STALL_MS
    if (bye) {
      logMarker("deco0");
      if (t) logMarker("deco1 !%d!", i);
      netClose(p.connectedSocket);
      if (t) printf("micro-serveur %d ferme\n", i);
      logMarker("deco2!%d!", i);
      netClose(p.clientSocket);
      printf("Deconnexion du client %d:%s terminee.\n", i, p.clientNames);
      logMarker("deco4");
    } else {
      netClose(p.connectedSocket);
      netClose(p.clientSocket);
    }
    std::lock_guard<std::mutex> g(peersLock);
    resetPeer(i);  // usedMap keeps its entry: the map stays counted as used
  }
  disco = false;
  printf("Deconnexion globale terminee.\n");
  // Without networking nothing listened before, and nothing listens after.
  if (retour && net) startServer();
  printf("Serveur d'écoute réinitiliasé\n");
  refreshMenu = true;
  printf("Tous les systèmes OK!\n");
}

void netReset() {
  SendQueue* senders[MAX_PEERS];
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) {
      senders[i] = peers[i].out;
      peers[i].out = nullptr;
      shutSlot(peers[i]);
    }
  }
  for (SendQueue* q : senders) stopSender(q, false);
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) resetPeer(i);
  }
  queueClear();
}
