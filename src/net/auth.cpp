// The allow list, the join prompt, and the session key's proofs and
// derived keys. Crypto is libsodium's: Argon2id stretching, random nonces,
// BLAKE2b, HMAC-SHA-256, key derivation, constant-time comparison.
// Index:
//   [SECTION] settings
//   [SECTION] keys, proofs and nonces
//   [SECTION] who may join
//   [SECTION] admissions and prompts
#include "net/auth.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sodium.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>
#include <algorithm>
#include <array>

#include "net/netio.h"

AuthSettings authSettings;
const char AUTH_HIDDEN_NAME[] = "(cle de session)";

// [SECTION] settings
namespace {
// Fixed inputs that tie each derived value to its one use.
const unsigned char kSalt[crypto_pwhash_SALTBYTES] = {'M', 'O', 'S', 'K', 'A', '2', ' ', 'k',
                                                      'e', 'y', ' ', 's', 'a', 'l', 't', '!'};
const char kKdfContext[crypto_kdf_CONTEXTBYTES + 1] = "MOSKA2ky";
enum { SUBKEY_PROOF = 1, SUBKEY_SESSION = 2, SUBKEY_JOIN_TO_LISTEN = 1, SUBKEY_LISTEN_TO_JOIN = 2 };
const char* const kRoleLabel[] = {"joining side", "listening side"};

std::mutex authLock;  // the prompts and the refusal below; taken before peersLock, never after
std::mutex nonceLock;  // this editor's nonces of the proofs under way
std::vector<std::array<unsigned char, NONCE_BYTES>> liveNonces;

struct Pending {
  int slot;
  unsigned gen;
  char name[256];
  char address[ADDRESS_TEXT_LEN];
  bool leftOut;
  int answer;  // 0 none yet, else a JoinAnswer
};
std::deque<Pending> pending;
std::condition_variable answered;
char refusal[AUTH_TEXT_LEN] = "";
bool refusalNew = false;
std::vector<NetHost> leftOut;  // addresses left out this session (authLock)

long long nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool cryptoReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

void noteRefusal(const char* name, const char* why) {
  std::lock_guard<std::mutex> g(authLock);
  snprintf(refusal, sizeof refusal, "%.40s refuse: %s.", name, why);
  refusalNew = true;
  refreshMenu = true;
}

// The stranger is an editor this one joined: some slot holds our connection to it.
bool joinedHere(const NetHost& host) {
  std::lock_guard<std::mutex> g(peersLock);
  for (const Peer& p : peers)
    if ((p.clientSocket >= 0 || p.clientPending) && p.outHost == host) return true;
  return false;
}

bool peerHungUp(int sock) {
  pollfd f = {sock, POLLRDHUP, 0};
  return poll(&f, 1, 0) == 1 && (f.revents & (POLLRDHUP | POLLHUP | POLLERR));
}
}  // namespace

void authReadAllow(const char* value) {
  AuthSettings& s = authSettings;
  s.allowGiven = true;
  s.hostCount = 0;
  if (strcasecmp(value, "all") == 0) {
    s.mode = ALLOW_ALL;
    return;
  }
  if (strcasecmp(value, "ask") == 0) {
    s.mode = ALLOW_ASK;
    return;
  }
  s.mode = ALLOW_LIST;
  char word[ADDRESS_TEXT_LEN];
  for (const char* p = value; *p;) {
    size_t n = strcspn(p, ",");
    if (n == 0 || n >= sizeof word || s.hostCount >= ALLOW_MAX ||
        (memcpy(word, p, n), word[n] = 0, !parseHost(word, &s.hosts[s.hostCount]))) {
      s.hostCount = 0;  // closed to every stranger rather than open by mistake
      printf("Parametre allow incorrect (%s): aucune connexion entrante admise.\n", value);
      return;
    }
    s.hostCount++;
    p += n;
    if (*p == ',') p++;
  }
}

void authReadKey(const char* value) {
  size_t n = strlen(value);
  if (n > 0 && n <= KEY_MAX) {
    memcpy(authSettings.key, value, n + 1);
  } else {
    printf("Parametre key incorrect (vide ou plus de %d caracteres): aucun pair ne sera admis.\n", KEY_MAX);
    unsigned char r[NONCE_BYTES];
    if (cryptoReady()) randombytes_buf(r, sizeof r);
    authHex(r, authSettings.key);
  }
  authMasterKey(authSettings.key, authSettings.master);
}

void authReadViewKey(const char* value) {
  size_t n = strlen(value);
  if (n > 0 && n <= KEY_MAX) {
    memcpy(authSettings.viewKey, value, n + 1);
  } else {  // no viewer admitted rather than a guessable key
    printf("Parametre viewkey incorrect (vide ou plus de %d caracteres): aucun lecteur ne sera admis.\n", KEY_MAX);
    unsigned char r[NONCE_BYTES];
    if (cryptoReady()) randombytes_buf(r, sizeof r);
    authHex(r, authSettings.viewKey);
  }
  authMasterKey(authSettings.viewKey, authSettings.viewMaster);
}

const unsigned char* authViewMaster() { return authSettings.viewKey[0] ? authSettings.viewMaster : nullptr; }

void authEchoSettings() {
  const AuthSettings& s = authSettings;
  if (s.allowGiven) {
    printf("allow: ");
    if (s.mode == ALLOW_ALL) printf("all");
    if (s.mode == ALLOW_ASK) printf("ask");
    for (int k = 0; s.mode == ALLOW_LIST && k < s.hostCount; k++) {
      char a[ADDRESS_TEXT_LEN];
      formatHost(s.hosts[k], a, sizeof a);
      printf(k ? ",%s" : "%s", a);
    }
    printf("\n");
  }
  if (s.key[0]) printf("key: %zu caracteres\n", strlen(s.key));
  if (s.viewKey[0]) printf("viewkey: %zu caracteres\n", strlen(s.viewKey));
}

// [SECTION] keys, proofs and nonces
void authHex(const unsigned char bin[NONCE_BYTES], char hex[AUTH_HEX_LEN]) {
  sodium_bin2hex(hex, AUTH_HEX_LEN, bin, NONCE_BYTES);
}

bool authFromHex(const char* hex, unsigned char out[NONCE_BYTES]) {
  size_t len = 0;
  const char* end = nullptr;
  return strlen(hex) == 2 * NONCE_BYTES &&
         sodium_hex2bin(out, NONCE_BYTES, hex, strlen(hex), nullptr, &len, &end) == 0 &&
         len == NONCE_BYTES && end && *end == 0;
}

void authMasterKey(const char* key, unsigned char master[AUTH_MASTER_BYTES]) {
  if (cryptoReady() && crypto_pwhash(master, AUTH_MASTER_BYTES, key, strlen(key), kSalt,
                                     crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                                     crypto_pwhash_ALG_ARGON2ID13) == 0)
    return;
  // Out of memory: a key nobody knows, so nobody is admitted.
  printf("Cle de session: derivation impossible, aucun pair ne sera admis.\n");
  randombytes_buf(master, AUTH_MASTER_BYTES);
}

namespace {
// BLAKE2b of the session under a key derived from the master for `use`:
// the role (for proofs), the transcript and both nonces, each behind its length.
void sessionDigest(const unsigned char master[AUTH_MASTER_BYTES], int use, const char* role,
                   const AuthSession& s, unsigned char out[AUTH_MASTER_BYTES]) {
  unsigned char sub[AUTH_MASTER_BYTES];
  crypto_kdf_derive_from_key(sub, sizeof sub, (uint64_t)use, kKdfContext, master);
  crypto_generichash_state st;
  crypto_generichash_init(&st, sub, sizeof sub, AUTH_MASTER_BYTES);
  auto part = [&](const void* p, size_t n) {
    unsigned char len[8];
    for (int k = 0; k < 8; k++) len[k] = (unsigned char)((uint64_t)n >> (8 * k));
    crypto_generichash_update(&st, len, sizeof len);
    crypto_generichash_update(&st, (const unsigned char*)p, n);
  };
  part(role, strlen(role));
  part(s.transcript.data(), s.transcript.size());
  part(s.joining, NONCE_BYTES);
  part(s.listening, NONCE_BYTES);
  crypto_generichash_final(&st, out, AUTH_MASTER_BYTES);
  sodium_memzero(sub, sizeof sub);
}

void proofMac(const unsigned char master[AUTH_MASTER_BYTES], AuthRole prover, const AuthSession& s,
              unsigned char mac[PROOF_BYTES]) {
  unsigned char digest[AUTH_MASTER_BYTES], sub[AUTH_MASTER_BYTES];
  sessionDigest(master, SUBKEY_PROOF, kRoleLabel[prover], s, digest);
  crypto_kdf_derive_from_key(sub, sizeof sub, SUBKEY_PROOF, kKdfContext, master);
  crypto_auth_hmacsha256(mac, digest, sizeof digest, sub);
  sodium_memzero(sub, sizeof sub);
}
}  // namespace

void authProof(const unsigned char master[AUTH_MASTER_BYTES], AuthRole prover, const AuthSession& s,
               char hex[AUTH_HEX_LEN]) {
  unsigned char mac[PROOF_BYTES];
  proofMac(master, prover, s, mac);
  authHex(mac, hex);
}

bool authProofGood(const unsigned char master[AUTH_MASTER_BYTES], AuthRole prover, const AuthSession& s,
                   const char* hex) {
  unsigned char got[PROOF_BYTES], want[PROOF_BYTES];
  if (!authFromHex(hex, got)) return false;
  proofMac(master, prover, s, want);
  return sodium_memcmp(got, want, PROOF_BYTES) == 0;
}

void authSessionKeys(const unsigned char master[AUTH_MASTER_BYTES], const AuthSession& s, AuthRole side,
                     unsigned char tx[AUTH_MASTER_BYTES], unsigned char rx[AUTH_MASTER_BYTES]) {
  unsigned char session[AUTH_MASTER_BYTES];
  sessionDigest(master, SUBKEY_SESSION, "session", s, session);
  bool joining = side == AUTH_JOINING;
  crypto_kdf_derive_from_key(tx, AUTH_MASTER_BYTES, joining ? SUBKEY_JOIN_TO_LISTEN : SUBKEY_LISTEN_TO_JOIN,
                             kKdfContext, session);
  crypto_kdf_derive_from_key(rx, AUTH_MASTER_BYTES, joining ? SUBKEY_LISTEN_TO_JOIN : SUBKEY_JOIN_TO_LISTEN,
                             kKdfContext, session);
  sodium_memzero(session, sizeof session);
}

void authNonceIssue(unsigned char n[NONCE_BYTES]) {
  if (cryptoReady()) randombytes_buf(n, NONCE_BYTES);
  std::array<unsigned char, NONCE_BYTES> a;
  memcpy(a.data(), n, NONCE_BYTES);
  std::lock_guard<std::mutex> g(nonceLock);
  liveNonces.push_back(a);
}

void authNonceRetire(const unsigned char n[NONCE_BYTES]) {
  std::lock_guard<std::mutex> g(nonceLock);
  for (size_t k = 0; k < liveNonces.size(); k++)
    if (memcmp(liveNonces[k].data(), n, NONCE_BYTES) == 0) {
      liveNonces.erase(liveNonces.begin() + (long)k);
      return;
    }
}

bool authNonceLive(const unsigned char n[NONCE_BYTES]) {
  std::lock_guard<std::mutex> g(nonceLock);
  bool live = false;
  for (const auto& a : liveNonces) live = live || sodium_memcmp(a.data(), n, NONCE_BYTES) == 0;
  return live;
}

// [SECTION] who may join
void authLeaveOut(const NetHost& host) {
  std::lock_guard<std::mutex> g(authLock);
  if (std::find(leftOut.begin(), leftOut.end(), host) == leftOut.end()) leftOut.push_back(host);
}

bool authLeftOut(const NetHost& host) {
  std::lock_guard<std::mutex> g(authLock);
  return std::find(leftOut.begin(), leftOut.end(), host) != leftOut.end();
}

void authTakeBack(const NetHost& host) {
  std::lock_guard<std::mutex> g(authLock);
  leftOut.erase(std::remove(leftOut.begin(), leftOut.end(), host), leftOut.end());
}

bool authAddressAllowed(const NetHost& host) {
  const AuthSettings& s = authSettings;
  if (s.mode != ALLOW_ASK && authLeftOut(host)) {  // with `allow ask` the user is asked again
    char a[ADDRESS_TEXT_LEN];
    formatHost(host, a, sizeof a);
    printf("Connexion de %s refusee: pair laisse de cote pour cette session!\n", a);
    noteRefusal(a, "laisse de cote pour cette session");
    return false;
  }
  if (s.mode != ALLOW_LIST) return true;
  for (int k = 0; k < s.hostCount; k++)
    if (s.hosts[k] == host) return true;
  if (joinedHere(host)) return true;  // the reverse connection of our own join
  char a[ADDRESS_TEXT_LEN];
  formatHost(host, a, sizeof a);
  printf("Connexion de %s refusee: adresse absente de la liste allow!\n", a);
  return false;
}

bool authAsk(int slot, unsigned gen, const char* name, const NetHost& host, int sock,
             const std::atomic<bool>* quit) {
  bool left = authLeftOut(host);
  if (authSettings.mode != ALLOW_ASK || (joinedHere(host) && !left)) return true;
  char a[ADDRESS_TEXT_LEN];
  formatHost(host, a, sizeof a);
  std::unique_lock<std::mutex> g(authLock);
  if ((int)pending.size() >= ASK_PENDING_MAX) {
    printf("Connexion de %s (%s) refusee: trop de demandes en attente!\n", name, a);
    return false;
  }
  Pending p = {slot, gen, "", "", left, 0};
  snprintf(p.name, sizeof p.name, "%s", name);
  snprintf(p.address, sizeof p.address, "%s", a);
  pending.push_back(p);
  refreshMenu = true;
  printf("%s at %s wants to join%s: Accept ou Refuse sur le panneau.\n", name, a,
         left ? " (laisse de cote dans cette session)" : "");
  long long deadline = nowMs() + ASK_MS;
  const char* outcome = nullptr;
  int answer = 0;
  for (;;) {
    for (Pending& q : pending)
      if (q.slot == slot && q.gen == gen) answer = q.answer;
    if (answer) break;
    if (*quit || disco) outcome = "";
    else if (nowMs() >= deadline) outcome = "pas de reponse en 60 s";
    else if (peerHungUp(sock)) outcome = "partie avant la reponse";
    if (outcome) break;
    answered.wait_for(g, std::chrono::milliseconds(POLL_MS));
  }
  for (auto it = pending.begin(); it != pending.end(); ++it)
    if (it->slot == slot && it->gen == gen) {
      pending.erase(it);
      break;
    }
  refreshMenu = true;
  if (answer > 0) {
    printf("Connexion de %s (%s) acceptee%s.\n", name, a, answer == JOIN_VIEWER ? " en lecture seule" : "");
    leftOut.erase(std::remove(leftOut.begin(), leftOut.end(), host), leftOut.end());
    std::lock_guard<std::mutex> p(peersLock);  // taken inside authLock, as always
    if (answer == JOIN_VIEWER && peers[slot].gen == gen) peers[slot].viewer = true;
    return true;
  }
  if (answer < 0) outcome = "refusee par l'utilisateur";
  if (*outcome) printf("Connexion de %s (%s) %s!\n", name, a, outcome);
  return false;
}

bool authKeyRequired() { return authSettings.key[0] != 0; }

// [SECTION] admissions and prompts
void authRefused(const char* name, int slot, const char* why) {
  printf("Cle de session: %s refuse sur le tunnel %d: %s!\n", name, slot, why);
  noteRefusal(name, why);
}

// Kept on the peer's record, so it goes with the slot.
void authAdmitted(int slot, unsigned gen, const AuthGrant& grant) {
  std::lock_guard<std::mutex> g(peersLock);
  if (peers[slot].gen != gen) return;
  peers[slot].byKey = true;
  peers[slot].viewer = peers[slot].viewer || grant.peerViewer;
}

bool authByKey(int slot) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  std::lock_guard<std::mutex> g(peersLock);
  return peers[slot].byKey;
}

void authPromptName(const char* name, char* out, size_t cap) {
  char shown[PROMPT_NAME_MAX + 1];
  size_t n = 0;
  for (; name[n] && n < PROMPT_NAME_MAX; n++) {
    unsigned char c = (unsigned char)name[n];
    shown[n] = c < 0x20 || c > 0x7e || c == '"' ? '?' : (char)c;
  }
  shown[n] = 0;
  snprintf(out, cap, "\"%s%s\"", shown, name[n] ? "..." : "");
}

bool authPendingRequest(JoinRequest* out) {
  std::lock_guard<std::mutex> g(authLock);
  for (const Pending& p : pending) {
    if (p.answer) continue;
    out->slot = p.slot;
    out->gen = p.gen;
    snprintf(out->name, sizeof out->name, "%s", p.name);
    snprintf(out->address, sizeof out->address, "%s", p.address);
    out->leftOut = p.leftOut;
    return true;
  }
  return false;
}

void authAnswer(int slot, unsigned gen, JoinAnswer answer) {
  std::lock_guard<std::mutex> g(authLock);
  for (Pending& p : pending)
    if (p.slot == slot && p.gen == gen) p.answer = answer;
  answered.notify_all();
}

bool authTakeRefusal(char* out, size_t cap) {
  std::lock_guard<std::mutex> g(authLock);
  if (!refusalNew) return false;
  refusalNew = false;
  snprintf(out, cap, "%s", refusal);
  return true;
}

void authReset() {
  std::lock_guard<std::mutex> g(authLock);
  authSettings = AuthSettings();
  pending.clear();
  leftOut.clear();
  refusalNew = false;
  std::lock_guard<std::mutex> n(nonceLock);
  liveNonces.clear();
}
