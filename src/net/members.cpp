// Session members: who is told what, and the joins they lead to (members.h).
#include "net/members.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "net/auth.h"
#include "net/netio.h"

namespace {
// One join to a member, running on its own thread.
struct MemberJoin {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

// The module's state: joins under way, and when each address was last tried
// (a member that cannot be reached is not tried again at every list).
struct MembersState {
  std::vector<MemberJoin> joins;       // main thread only
  std::map<uint32_t, uint32_t> tried;  // host (network order) -> coreMillis
} state;

// The address a peer is reached at, or 0 while it is not admitted.
uint32_t memberAddress(const Peer& p) {
  if (!p.clientReady || p.dropping || p.connectedSocket < 0) return 0;
  return p.outHost ? p.outHost : p.inHost;
}

bool linked(uint32_t host) {
  std::lock_guard<std::mutex> g(peersLock);
  for (const Peer& p : peers)
    if ((p.outHost == host && (p.clientSocket >= 0 || p.clientPending)) ||
        (p.inHost == host && p.connectedSocket >= 0))
      return true;
  return false;
}

// Joins that ended are waited for (they are done: no wait).
void reap() {
  for (size_t k = 0; k < state.joins.size();) {
    if (!*state.joins[k].done) {
      k++;
      continue;
    }
    state.joins[k].thread.join();
    state.joins.erase(state.joins.begin() + (long)k);
  }
}
}  // namespace

void membersPeerAnnounced(int slot) {
  if (!peerHas(slot, EXT_MEMBERS)) return;
  std::string body;
  int n = 0;
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int k = 0; k < MAX_PEERS; k++) {
      uint32_t host = k == slot ? 0 : memberAddress(peers[k]);
      if (!host || host == memberAddress(peers[slot])) continue;
      char word[ADDRESS_TEXT_LEN + 8], a[ADDRESS_TEXT_LEN];
      in_addr in;
      in.s_addr = host;
      if (!inet_ntop(AF_INET, &in, a, sizeof a)) continue;
      snprintf(word, sizeof word, "%s%s:%d", body.empty() ? "" : " ", a, netPort);
      body += word;
      n++;
    }
  }
  // Keyed peers that have not proved the key are not admitted: the sender
  // checked clientReady, and a held queue sends nothing before the proof.
  if (n == 0) return;
  actionSendToPeer(slot, "MEMBERS", body.c_str());
  printf("Membres de la session annonces au tunnel %d: %d.\n", slot, n);
}

int membersToJoin(const char* corps, uint32_t* hosts, int cap) {
  int n = 0;
  uint32_t now = coreMillis();
  for (const char* p = corps; *p && n < cap;) {
    while (*p == ' ') p++;
    size_t len = strcspn(p, " ");
    char word[ADDRESS_TEXT_LEN + 8];
    if (len == 0) break;
    if (len >= sizeof word) {
      p += len;
      continue;
    }
    memcpy(word, p, len);
    word[len] = 0;
    p += len;
    char* colon = strchr(word, ':');
    int port = 0;
    if (!colon || sscanf(colon + 1, "%d", &port) != 1 || port != netPort) continue;
    *colon = 0;
    in_addr a;
    if (inet_pton(AF_INET, word, &a) != 1) continue;
    uint32_t h = a.s_addr;
    uint32_t hostOrder = ntohl(h);
    // Nowhere a peer could be: any, broadcast, loopback, multicast.
    if (hostOrder == 0 || hostOrder == 0xFFFFFFFFu || (hostOrder >> 24) == 127 || (hostOrder >> 28) == 0xE)
      continue;
    auto t = state.tried.find(h);
    if (t != state.tried.end() && now - t->second < (uint32_t)MEMBER_RETRY_MS) continue;
    if (linked(h) || authLeftOut(h)) continue;
    bool dup = false;
    for (int k = 0; k < n; k++) dup = dup || hosts[k] == h;
    if (!dup) hosts[n++] = h;
  }
  return n;
}

void membersReceived(int slot, const char* corps) {
  reap();
  uint32_t hosts[MEMBERS_MAX];
  int n = membersToJoin(corps, hosts, MEMBERS_MAX);
  for (int k = 0; k < n; k++) {
    state.tried[hosts[k]] = coreMillis();
    char a[ADDRESS_TEXT_LEN];
    in_addr in;
    in.s_addr = hosts[k];
    inet_ntop(AF_INET, &in, a, sizeof a);
    printf("Membre de la session %s (annonce par le tunnel %d): connexion.\n", a, slot);
    MemberJoin j;
    j.done = std::make_shared<std::atomic<bool>>(false);
    auto done = j.done;
    uint32_t host = hosts[k];
    j.thread = std::thread([host, done] {
      client(host, true);
      *done = true;
    });
    state.joins.push_back(std::move(j));
  }
}

void membersStop() {
  for (MemberJoin& j : state.joins)
    if (j.thread.joinable()) j.thread.join();
  state.joins.clear();
}

void membersReset() {
  membersStop();
  state.tried.clear();
}
