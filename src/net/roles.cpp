// Roles: viewers (peers that proved only the view key, or were accepted as
// viewers at the join prompt), whose edits are dropped here, and leaving a
// peer out for the rest of the session. The words are in wire.cpp
// (WIRE_EDITS, "VIEWONLY", "LEFTOUT"), the keys and the left-out addresses
// in auth.cpp.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "net/auth.h"
#include "net/handlers.h"
#include "net/netio.h"

namespace {
// Main thread only: set by the interpreter (netPump), taken by the panel.
struct RolesState {
  char leftOutBy[NAME_BLOCK] = "";
  bool leftOutNew = false;
  std::vector<NetHost> leftUsOut;  // hosts of the editors that left us out
};
RolesState roles;
}  // namespace

bool peerIsViewer(int slot) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  std::lock_guard<std::mutex> g(peersLock);
  return peers[slot].viewer;
}

bool viewingPeer(int slot) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  std::lock_guard<std::mutex> g(peersLock);
  return peers[slot].asViewer;
}

bool netViewOnly() {
  std::lock_guard<std::mutex> g(peersLock);
  for (const Peer& p : peers)
    if (p.clientReady && p.asViewer) return true;
  return false;
}

// A viewer is told so inside its connection, once it announced roles (a
// peer accepted as a viewer at the join prompt has no proof to learn it from).
void rolesPeerAnnounced(int slot) {
  if (peerIsViewer(slot) && peerHas(slot, EXT_ROLES)) actionSendToPeer(slot, "VIEWONLY", "");
}

void onViewOnly(const char*, const char*, int slot) {
  std::lock_guard<std::mutex> g(peersLock);
  peers[slot].asViewer = true;
  printf("Lecture seule chez %s (tunnel %d): aucune modification possible ici.\n", peers[slot].clientNames, slot);
  refreshMenu = true;
}

void onLeftOut(const char*, const char*, int slot) {
  char name[NAME_BLOCK] = "";
  peerName(slot, name, sizeof name);
  NetHost host;
  {
    std::lock_guard<std::mutex> g(peersLock);
    host = hostIsSet(peers[slot].outHost) ? peers[slot].outHost : peers[slot].inHost;
  }
  if (!rolesLeftUsOut(host)) roles.leftUsOut.push_back(host);
  printf("%s nous laisse de cote (tunnel %d): connexion fermee.\n", name, slot);
  snprintf(roles.leftOutBy, sizeof roles.leftOutBy, "%s", name);
  roles.leftOutNew = true;
  refreshMenu = true;
}

bool rolesLeftUsOut(const NetHost& host) {
  return std::find(roles.leftUsOut.begin(), roles.leftUsOut.end(), host) != roles.leftUsOut.end();
}

bool takeLeftOutBy(char* out, size_t cap) {
  if (!roles.leftOutNew) return false;
  roles.leftOutNew = false;
  snprintf(out, cap, "%s", roles.leftOutBy);
  return true;
}

bool leavePeerOut(int slot) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  NetHost host;
  unsigned gen;
  std::string name;
  {
    std::lock_guard<std::mutex> g(peersLock);
    const Peer& p = peers[slot];
    if (!p.clientReady || p.dropping) return false;
    host = hostIsSet(p.inHost) ? p.inHost : p.outHost;
    gen = p.gen;
    name = p.clientNames;
  }
  authLeaveOut(host);
  // Told behind what is queued for it, then the goodbye; nothing after.
  if (peerHas(slot, EXT_ROLES)) actionSendToPeer(slot, "LEFTOUT", "");
  SendQueue* q;
  {
    std::lock_guard<std::mutex> g(peersLock);
    Peer& p = peers[slot];
    q = p.out;
    p.out = nullptr;
    p.clientReady = false;
    if (q) {
      SendJob bye;
      bye.header = "DISCONNECT!";
      bye.bare = true;
      std::lock_guard<std::mutex> l(q->lock);
      q->jobs.push_back(bye);
    }
  }
  stopSender(q, true);  // bounded: a peer that takes nothing fails within SEND_STALL_MS
  printf("%s (tunnel %d) laisse de cote pour cette session.\n", name.c_str(), slot);
  dropPeer(slot, gen, "laisse de cote");
  return true;
}
