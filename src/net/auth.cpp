// The allow list, the join prompt and the session-key exchange. Crypto is
// libsodium's: random nonces, HMAC-SHA-256, constant-time comparison.
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

#include "net/netio.h"

AuthSettings authSettings;

namespace {
const char kProofLabel[] = "MOSKA2 session key proof";  // binds the HMAC to this use
const int kIssuedMax = 256;                              // own nonces remembered against reflection
const int kFlushMs = 1000;                               // our last exchange action may still leave

std::mutex authLock;  // everything below; taken before peersLock, never after
struct AuthSlot {
  unsigned gen = 0;
  bool active = false;  // an exchange runs or ran on this slot
  bool byKey = false;
  AuthExchange x;
  long long deadline = 0;
  std::string extensions;  // the peer's announcement, applied once it is admitted
};
AuthSlot slots[MAX_PEERS];
std::mutex issuedLock;  // the ring below (taken inside authLock by the exchange)
unsigned char issued[kIssuedMax][NONCE_BYTES];
int issuedCount = 0, issuedNext = 0;

struct Pending {
  int slot;
  unsigned gen;
  char name[256];
  char address[ADDRESS_TEXT_LEN];
  int answer;  // 0 none yet, 1 accepted, -1 refused
};
std::deque<Pending> pending;
std::condition_variable answered;
char refusal[AUTH_TEXT_LEN] = "";
bool refusalNew = false;

long long nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool cryptoReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

void addressText(uint32_t host, char out[ADDRESS_TEXT_LEN]) {
  in_addr a;
  a.s_addr = host;
  if (!inet_ntop(AF_INET, &a, out, ADDRESS_TEXT_LEN)) snprintf(out, ADDRESS_TEXT_LEN, "?");
}

// Exactly 2 * NONCE_BYTES hex digits; false for anything shorter, longer or other.
bool fromHex(const char* hex, unsigned char out[NONCE_BYTES]) {
  size_t len = 0;
  const char* end = nullptr;
  return strlen(hex) == 2 * NONCE_BYTES &&
         sodium_hex2bin(out, NONCE_BYTES, hex, strlen(hex), nullptr, &len, &end) == 0 &&
         len == NONCE_BYTES && end && *end == 0;
}

bool issuedHere(const unsigned char n[NONCE_BYTES]) {
  std::lock_guard<std::mutex> g(issuedLock);
  for (int k = 0; k < issuedCount; k++)
    if (sodium_memcmp(issued[k], n, NONCE_BYTES) == 0) return true;
  return false;
}

AuthStep refuse(const char* why) {
  AuthStep s;
  s.verdict = AUTH_REFUSE;
  s.why = why;
  return s;
}

void noteRefusal(const char* name, const char* why) {
  std::lock_guard<std::mutex> g(authLock);
  snprintf(refusal, sizeof refusal, "%.40s refuse: %s.", name, why);
  refusalNew = true;
  refreshMenu = true;
}

// The stranger is an editor this one joined: some slot holds our connection to it.
bool joinedHere(uint32_t host) {
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
    in_addr a;
    if (n == 0 || n >= sizeof word || s.hostCount >= ALLOW_MAX ||
        (memcpy(word, p, n), word[n] = 0, inet_pton(AF_INET, word, &a) != 1)) {
      s.hostCount = 0;  // closed to every stranger rather than open by mistake
      printf("Parametre allow incorrect (%s): aucune connexion entrante admise.\n", value);
      return;
    }
    s.hosts[s.hostCount++] = a.s_addr;
    p += n;
    if (*p == ',') p++;
  }
}

void authReadKey(const char* value) {
  size_t n = strlen(value);
  if (n > 0 && n <= KEY_MAX) {
    memcpy(authSettings.key, value, n + 1);
    return;
  }
  printf("Parametre key incorrect (vide ou plus de %d caracteres): aucun pair ne sera admis.\n", KEY_MAX);
  unsigned char r[NONCE_BYTES];
  if (cryptoReady()) randombytes_buf(r, sizeof r);
  authHex(r, authSettings.key);
}

void authEchoSettings() {
  const AuthSettings& s = authSettings;
  if (s.allowGiven) {
    printf("allow: ");
    if (s.mode == ALLOW_ALL) printf("all");
    if (s.mode == ALLOW_ASK) printf("ask");
    for (int k = 0; s.mode == ALLOW_LIST && k < s.hostCount; k++) {
      char a[ADDRESS_TEXT_LEN];
      addressText(s.hosts[k], a);
      printf(k ? ",%s" : "%s", a);
    }
    printf("\n");
  }
  if (s.key[0]) printf("key: %zu caracteres\n", strlen(s.key));
}

void authHex(const unsigned char bin[NONCE_BYTES], char hex[AUTH_HEX_LEN]) {
  sodium_bin2hex(hex, AUTH_HEX_LEN, bin, NONCE_BYTES);
}

// HMAC-SHA-256 under the key over the label and both nonces.
static void proofMac(const char* key, const unsigned char challenge[NONCE_BYTES],
                     const unsigned char prover[NONCE_BYTES], unsigned char mac[PROOF_BYTES]) {
  crypto_auth_hmacsha256_state st;
  crypto_auth_hmacsha256_init(&st, (const unsigned char*)key, strlen(key));
  crypto_auth_hmacsha256_update(&st, (const unsigned char*)kProofLabel, sizeof kProofLabel);
  crypto_auth_hmacsha256_update(&st, challenge, NONCE_BYTES);
  crypto_auth_hmacsha256_update(&st, prover, NONCE_BYTES);
  crypto_auth_hmacsha256_final(&st, mac);
  sodium_memzero(&st, sizeof st);
}

void authProof(const char* key, const unsigned char challenge[NONCE_BYTES],
               const unsigned char prover[NONCE_BYTES], char hex[AUTH_HEX_LEN]) {
  unsigned char mac[PROOF_BYTES];
  proofMac(key, challenge, prover, mac);
  authHex(mac, hex);
}

void authExchangeStart(AuthExchange* x) {
  *x = AuthExchange();
  if (cryptoReady()) randombytes_buf(x->mine, NONCE_BYTES);
  std::lock_guard<std::mutex> g(issuedLock);
  memcpy(issued[issuedNext], x->mine, NONCE_BYTES);
  issuedNext = (issuedNext + 1) % kIssuedMax;
  if (issuedCount < kIssuedMax) issuedCount++;
}

AuthStep authExchangeStep(AuthExchange* x, const char* key, const char* command, const char* body) {
  AuthStep s;
  if (strcmp(command, "EXTENSIONS") == 0) {
    if (x->announced) return s;
    if (!(parseExtensions(body) & EXT_AUTH)) return refuse("editeur sans cle de session (pas d'extension AUTH)");
    x->announced = true;
    s.replyHeader = "AUTHNONCE";
    authHex(x->mine, s.replyBody);
    return s;
  }
  if (strcmp(command, "AUTHNONCE") == 0) {
    if (!x->announced) return refuse("nonce avant l'annonce AUTH");
    if (x->gotNonce) return refuse("second nonce");
    if (!fromHex(body, x->theirs)) return refuse("nonce mal forme");
    if (issuedHere(x->theirs)) return refuse("nonce de cet editeur renvoye");
    x->gotNonce = true;
    s.replyHeader = "AUTHPROOF";
    authProof(key, x->theirs, x->mine, s.replyBody);
    return s;
  }
  if (strcmp(command, "AUTHPROOF") == 0) {
    if (!x->gotNonce) return refuse("preuve avant le nonce");
    unsigned char got[PROOF_BYTES], want[PROOF_BYTES];
    if (!fromHex(body, got)) return refuse("preuve tronquee ou mal formee");
    proofMac(key, x->mine, x->theirs, want);
    if (sodium_memcmp(got, want, PROOF_BYTES) != 0) return refuse("cle de session differente");
    x->proven = true;
    s.verdict = AUTH_ADMIT;
    return s;
  }
  return refuse(x->announced ? "action avant la preuve de cle"
                             : "editeur du protocole de base, sans cle de session");
}

bool authAddressAllowed(uint32_t host) {
  const AuthSettings& s = authSettings;
  if (s.mode != ALLOW_LIST) return true;
  for (int k = 0; k < s.hostCount; k++)
    if (s.hosts[k] == host) return true;
  if (joinedHere(host)) return true;  // the reverse connection of our own join
  char a[ADDRESS_TEXT_LEN];
  addressText(host, a);
  printf("Connexion de %s refusee: adresse absente de la liste allow!\n", a);
  return false;
}

bool authAsk(int slot, unsigned gen, const char* name, uint32_t host, int sock,
             const std::atomic<bool>* quit) {
  if (authSettings.mode != ALLOW_ASK || joinedHere(host)) return true;
  char a[ADDRESS_TEXT_LEN];
  addressText(host, a);
  std::unique_lock<std::mutex> g(authLock);
  if ((int)pending.size() >= ASK_PENDING_MAX) {
    printf("Connexion de %s (%s) refusee: trop de demandes en attente!\n", name, a);
    return false;
  }
  Pending p = {slot, gen, "", "", 0};
  snprintf(p.name, sizeof p.name, "%s", name);
  snprintf(p.address, sizeof p.address, "%s", a);
  pending.push_back(p);
  refreshMenu = true;
  printf("%s at %s wants to join: Accept ou Refuse sur le panneau.\n", name, a);
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
    printf("Connexion de %s (%s) acceptee.\n", name, a);
    return true;
  }
  if (answer < 0) outcome = "refusee par l'utilisateur";
  if (*outcome) printf("Connexion de %s (%s) %s!\n", name, a, outcome);
  return false;
}

bool authKeyRequired() { return authSettings.key[0] != 0; }

void authBegin(int slot, unsigned gen) {
  AuthExchange x;
  bool keyed = authKeyRequired();
  if (keyed) authExchangeStart(&x);
  std::lock_guard<std::mutex> g(authLock);
  AuthSlot& s = slots[slot];
  s = AuthSlot();
  s.gen = gen;
  s.active = keyed;
  s.x = x;
  s.deadline = nowMs() + AUTH_MS;
}

int authLeftMs(int slot, unsigned gen) {
  std::lock_guard<std::mutex> g(authLock);
  const AuthSlot& s = slots[slot];
  if (!s.active || s.gen != gen || s.x.proven) return -1;
  long long left = s.deadline - nowMs();
  return left > 1 ? (int)left : 1;
}

AuthFilter authFilter(int slot, unsigned gen, const char* name, const char* command,
                      const char* body, std::string* extensions) {
  bool exchange = strncmp(command, "AUTH", 4) == 0;
  AuthStep step;
  {
    std::lock_guard<std::mutex> g(authLock);
    AuthSlot& s = slots[slot];
    if (!s.active || s.gen != gen || s.x.proven) {
      // No exchange runs: only a keyed peer's challenge means anything here.
      if (strcmp(command, "AUTHNONCE") == 0 && !authKeyRequired())
        step = refuse("l'autre editeur exige une cle de session, absente ici");
      else
        return exchange ? AUTH_TAKEN : AUTH_PASS;
    } else {
      if (strcmp(command, "EXTENSIONS") == 0 && !s.x.announced) s.extensions = body;
      step = authExchangeStep(&s.x, authSettings.key, command, body);
      if (step.verdict == AUTH_ADMIT) {
        s.byKey = true;
        *extensions = s.extensions;
      }
    }
  }
  if (step.replyHeader) actionSendEarly(slot, gen, step.replyHeader, step.replyBody);
  if (step.verdict == AUTH_ADMIT) {
    printf("Client %s admis par la cle de session sur le tunnel %d.\n", name, slot);
    releaseHeld(slot, gen);
    return AUTH_ADMITTED;
  }
  if (step.verdict == AUTH_WAIT) return AUTH_TAKEN;
  printf("Cle de session: %s refuse sur le tunnel %d: %s!\n", name, slot, step.why);
  noteRefusal(name, step.why);
  flushEarly(slot, gen, kFlushMs);  // our own proof still reaches it: both sides know why
  return AUTH_CUT;
}

void authLost(int slot, unsigned gen, const char* name, bool timedOut) {
  if (authLeftMs(slot, gen) < 0) return;
  const char* why = timedOut ? "aucune preuve de cle en 5 s" : "connexion fermee avant la preuve de cle";
  printf("Cle de session: %s refuse sur le tunnel %d: %s!\n", name, slot, why);
  noteRefusal(name, why);
}

bool authByKey(int slot) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  unsigned gen;
  {
    std::lock_guard<std::mutex> g(peersLock);
    gen = peers[slot].gen;
  }
  std::lock_guard<std::mutex> g(authLock);
  return slots[slot].gen == gen && slots[slot].byKey;
}

bool authPendingRequest(JoinRequest* out) {
  std::lock_guard<std::mutex> g(authLock);
  for (const Pending& p : pending) {
    if (p.answer) continue;
    out->slot = p.slot;
    out->gen = p.gen;
    snprintf(out->name, sizeof out->name, "%s", p.name);
    snprintf(out->address, sizeof out->address, "%s", p.address);
    return true;
  }
  return false;
}

void authAnswer(int slot, unsigned gen, bool accept) {
  std::lock_guard<std::mutex> g(authLock);
  for (Pending& p : pending)
    if (p.slot == slot && p.gen == gen) p.answer = accept ? 1 : -1;
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
  for (AuthSlot& s : slots) s = AuthSlot();
  pending.clear();
  refusalNew = false;
  std::lock_guard<std::mutex> i(issuedLock);
  issuedCount = issuedNext = 0;
}
