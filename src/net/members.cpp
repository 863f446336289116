// Session members: who is told what, and the joins they lead to (members.h).
#include "net/members.h"

#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "net/address.h"
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
  std::map<NetHost, uint32_t> tried;   // host -> coreMillis
} state;

// The address a peer listens at: the one we joined, else its address on
// the session's port (a peer that joined us is joined back there); no host
// while it is not admitted.
NetAddress memberAddress(const Peer& p) {
  NetAddress a;
  if (!p.clientReady || p.dropping || p.connectedSocket < 0) return a;
  bool out = hostIsSet(p.outHost);
  a.host = out ? p.outHost : p.inHost;
  a.port = out && p.outPort ? p.outPort : netPort;
  return a;
}

bool linked(const NetHost& host) {
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
      NetAddress a = memberAddress(peers[k]);
      if (k == slot || !hostIsSet(a.host) || a.host == memberAddress(peers[slot]).host) continue;
      char word[ADDRESS_WORD_LEN];
      formatAddress(a, true, word, sizeof word);
      if (!body.empty()) body += " ";
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

int membersToJoin(const char* corps, NetAddress* out, int cap) {
  int n = 0;
  uint32_t now = coreMillis();
  for (const char* p = corps; *p && n < cap;) {
    while (*p == ' ') p++;
    size_t len = strcspn(p, " ");
    char word[ADDRESS_WORD_LEN];
    if (len == 0) break;
    if (len >= sizeof word) {
      p += len;
      continue;
    }
    memcpy(word, p, len);
    word[len] = 0;
    p += len;
    NetAddress a;
    if (!parseMember(word, &a)) continue;
    const NetHost& h = a.host;
    if (!hostCouldListen(h)) continue;
    auto t = state.tried.find(h);
    if (t != state.tried.end() && now - t->second < (uint32_t)MEMBER_RETRY_MS) continue;
    if (linked(h) || authLeftOut(h)) continue;
    bool dup = false;
    for (int k = 0; k < n; k++) dup = dup || out[k].host == h;
    if (!dup) out[n++] = a;
  }
  return n;
}

void membersReceived(int slot, const char* corps) {
  reap();
  NetAddress members[MEMBERS_MAX];
  int n = membersToJoin(corps, members, MEMBERS_MAX);
  for (int k = 0; k < n; k++) {
    state.tried[members[k].host] = coreMillis();
    char a[ADDRESS_WORD_LEN];
    formatAddress(members[k], members[k].port != netPort, a, sizeof a);
    printf("Membre de la session %s (annonce par le tunnel %d): connexion.\n", a, slot);
    MemberJoin j;
    j.done = std::make_shared<std::atomic<bool>>(false);
    auto done = j.done;
    NetAddress to = members[k];
    j.thread = std::thread([to, done] {
      client(to, true);
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
