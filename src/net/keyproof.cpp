// The key proof of one connection, both sides, on the connection's own
// socket (net/auth.h), then the user names inside the session channel.
#include <sodium.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "net/auth.h"
#include "net/netio.h"
#include "net/secure.h"
#include "core/core.h"

namespace {
const char kTimedOut[] = "aucune preuve de cle en 5 s";
const char kClosed[] = "connexion fermee avant la preuve de cle";
const char kOtherKey[] = "cle de session differente";

long long nowMs() { return (long long)coreMillis(); }

// n bytes before the deadline, one at a time, so however a peer trickles
// them its time for the proof bounds the whole read. Null, or why not.
const char* recvBy(int s, void* p, size_t n, long long deadline) {
  for (size_t k = 0; k < n; k++) {
    long long left = deadline - nowMs();
    if (left <= 0) return kTimedOut;
    if (!recvAll(s, (char*)p + k, 1, (int)left, (int)left, &disco)) return nowMs() >= deadline ? kTimedOut : kClosed;
  }
  return nullptr;
}

struct Message {
  char command[HEADER_BLOCK] = "";
  std::string body;
};

// One action of the exchange (a body of at most BODY_LEN bytes). Null, or why not.
const char* readMessage(int s, long long deadline, Message* m) {
  char head[HEADER_BLOCK];
  int n = 0;
  if (const char* why = recvBy(s, head, HEADER_BLOCK, deadline)) return why;
  if (!parseHeader(head, m->command, &n) || n > BODY_LEN) return "en-tete invalide avant la preuve de cle";
  std::vector<char> body((size_t)n + 1, 0);
  if (const char* why = recvBy(s, body.data(), (size_t)n, deadline)) return why;
  m->body = body.data();  // up to its NUL
  return nullptr;
}

bool sendMessage(int s, const char* command, const char* body, long long deadline) {
  char head[HEADER_BLOCK];
  size_t n = strlen(body) + 1;
  formatHeader(head, command, (int)n);
  int left = (int)(deadline - nowMs());
  return left > 0 && sendAll(s, head, HEADER_BLOCK, left) && sendAll(s, body, n, left);
}

// The session channel on s, then the user names through it: the joining
// side's first. Null, or why not.
const char* openChannel(int s, int slot, const unsigned char* master, const AuthSession& ses, AuthRole side,
                        long long deadline, char name[NAME_BLOCK]) {
  unsigned char tx[AUTH_MASTER_BYTES], rx[AUTH_MASTER_BYTES];
  authSessionKeys(master, ses, side, tx, rx);
  SecureChannel* c = secureNew(tx, rx, slot);
  sodium_memzero(tx, sizeof tx);
  sodium_memzero(rx, sizeof rx);
  if (!c || !secureAttach(s, c)) {
    secureFree(c);
    return "canal chiffre impossible";
  }
  char mine[NAME_BLOCK] = {0};
  snprintf(mine, sizeof mine, "%s", username);
  int left = (int)(deadline - nowMs());
  bool first = side == AUTH_JOINING;
  if (first && (left <= 0 || !sendAll(s, mine, NAME_BLOCK, left))) return kClosed;
  if (const char* why = recvBy(s, name, NAME_BLOCK, deadline)) return secureBroken(c) ? "trame chiffree refusee" : why;
  name[NAME_BLOCK - 1] = 0;
  left = (int)(deadline - nowMs());
  if (!first && (left <= 0 || !sendAll(s, mine, NAME_BLOCK, left))) return kClosed;
  return nullptr;
}

// This editor's keys for one proof: the session key, and the view key when set.
struct Keys {
  const unsigned char* k[2];
  int n;
  Keys(const unsigned char* master, const unsigned char* view) : k{master, view}, n(view ? 2 : 1) {}
};

// The proofs of an "AUTHPROOF" body: one, or two separated by a blank
// (the listening side's key, then its view key). False when malformed.
bool splitProofs(const std::string& body, std::string words[2], int* n) {
  size_t blank = body.find(' ');
  words[0] = body.substr(0, blank);
  *n = 1;
  if (blank != std::string::npos) {
    words[1] = body.substr(blank + 1);
    *n = 2;
  }
  unsigned char probe[PROOF_BYTES];
  for (int i = 0; i < *n; i++)
    if (!authFromHex(words[i].c_str(), probe)) return false;
  return true;
}

// The joining side, once the peer's nonce and proof are in. Null, or why not.
const char* joinWithProof(int s, int slot, const Keys& keys, AuthSession& ses, long long deadline,
                          char name[NAME_BLOCK], AuthGrant* grant) {
  Message m;
  char hex[AUTH_HEX_LEN];
  if (const char* why = readMessage(s, deadline, &m)) return why;
  if (strcmp(m.command, "AUTHNONCE") != 0) return "reponse inattendue avant la preuve de cle";
  if (!authFromHex(m.body.c_str(), ses.listening)) return "nonce mal forme";
  if (authNonceLive(ses.listening)) return "nonce de cet editeur renvoye";
  if (const char* why = readMessage(s, deadline, &m)) return why;
  if (strcmp(m.command, "AUTHPROOF") != 0) return "reponse inattendue avant la preuve de cle";
  std::string proofs[2];
  int count = 0, theirs = -1, mine = -1;
  bool formed = splitProofs(m.body, proofs, &count);
  for (int i = 0; formed && i < count && theirs < 0; i++)
    for (int j = 0; j < keys.n && theirs < 0; j++)
      if (authProofGood(keys.k[j], AUTH_LISTENING, ses, proofs[i].c_str())) theirs = i, mine = j;
  if (theirs < 0) {
    // Our proof would be of no use to it: the peer only learns why.
    sendMessage(s, "AUTHREFUSED", kOtherKey, deadline);
    return formed ? kOtherKey : "preuve tronquee ou mal formee";
  }
  // It proved its view key: we are its viewer; it proved our view key: it is ours.
  grant->selfViewer = theirs == 1;
  grant->peerViewer = mine == 1;
  authProof(keys.k[mine], AUTH_JOINING, ses, hex);
  if (!sendMessage(s, "AUTHPROOF", hex, deadline)) return kClosed;
  return openChannel(s, slot, keys.k[mine], ses, AUTH_JOINING, deadline, name);
}

// The listening side, from the joiner's first action. Null, or why not.
const char* serveWithProof(int s, int slot, const Keys& keys, AuthSession& ses, long long deadline,
                           char name[NAME_BLOCK], std::string* extensions, AuthGrant* grant) {
  Message m;
  char hex[AUTH_HEX_LEN];
  if (const char* why = readMessage(s, deadline, &m)) return why;
  if (strcmp(m.command, "EXTENSIONS") != 0)
    return strncmp(m.command, "AUTH", 4) == 0 ? "nonce avant l'annonce AUTH"
                                              : "editeur du protocole de base, sans cle de session";
  unsigned announced = parseExtensions(m.body.c_str());
  if (!(announced & EXT_AUTH)) return "editeur sans cle de session (pas d'extension AUTH)";
  // A joiner that knows roles gets our proof under each key; others the session key's alone.
  int proving = announced & EXT_ROLES ? keys.n : 1;
  *extensions = m.body;
  ses.transcript += m.body;
  ses.transcript += '\0';
  if (const char* why = readMessage(s, deadline, &m)) return why;
  if (strcmp(m.command, "AUTHNONCE") != 0) return "action avant la preuve de cle";
  if (!authFromHex(m.body.c_str(), ses.joining)) return "nonce mal forme";
  if (authNonceLive(ses.joining)) return "nonce de cet editeur renvoye";
  authNonceIssue(ses.listening);
  authHex(ses.listening, hex);
  bool sent = sendMessage(s, "AUTHNONCE", hex, deadline);
  std::string proofs;
  for (int j = 0; j < proving; j++) {
    authProof(keys.k[j], AUTH_LISTENING, ses, hex);
    proofs += (j ? " " : "") + std::string(hex);
  }
  if (!sent || !sendMessage(s, "AUTHPROOF", proofs.c_str(), deadline)) return kClosed;
  if (const char* why = readMessage(s, deadline, &m)) return why;
  if (strcmp(m.command, "AUTHREFUSED") == 0) return kOtherKey;
  if (strcmp(m.command, "AUTHPROOF") != 0) return "action avant la preuve de cle";
  int matched = -1;
  for (int j = 0; j < proving && matched < 0; j++)
    if (authProofGood(keys.k[j], AUTH_JOINING, ses, m.body.c_str())) matched = j;
  if (matched < 0) return m.body.size() == 2 * PROOF_BYTES ? kOtherKey : "preuve tronquee ou mal formee";
  grant->peerViewer = matched == 1;
  return openChannel(s, slot, keys.k[matched], ses, AUTH_LISTENING, deadline, name);
}
}  // namespace

bool authJoin(int s, int slot, const char* shown, const std::string& transcript, char name[NAME_BLOCK],
              const unsigned char* master, const unsigned char* viewMaster, AuthGrant* grant) {
  AuthGrant got;
  long long deadline = nowMs() + AUTH_MS;
  AuthSession ses;
  ses.transcript = transcript;
  char words[BODY_LEN], hex[AUTH_HEX_LEN];
  formatExtensions(words, sizeof words, LOCAL_EXTENSIONS);
  ses.transcript += words;
  ses.transcript += '\0';
  authNonceIssue(ses.joining);
  authHex(ses.joining, hex);
  const char* why = sendMessage(s, "EXTENSIONS", words, deadline) && sendMessage(s, "AUTHNONCE", hex, deadline)
                        ? joinWithProof(s, slot, Keys(master, viewMaster), ses, deadline, name, &got)
                        : kClosed;
  authNonceRetire(ses.joining);
  if (why) {
    authRefused(shown, slot, why);
    return false;
  }
  if (grant) *grant = got;
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[slot].viewer = peers[slot].viewer || got.peerViewer;
    peers[slot].asViewer = got.selfViewer;
  }
  if (got.selfViewer) printf("Admis en lecture seule par %s sur le tunnel %d.\n", name, slot);
  return true;
}

bool authServe(int s, int slot, unsigned gen, const char* shown, const std::string& transcript,
               char name[NAME_BLOCK], std::string* extensions, const unsigned char* master,
               const unsigned char* viewMaster, AuthGrant* grant) {
  AuthGrant got;
  long long deadline = nowMs() + AUTH_MS;
  AuthSession ses;
  ses.transcript = transcript;
  const char* why = serveWithProof(s, slot, Keys(master, viewMaster), ses, deadline, name, extensions, &got);
  authNonceRetire(ses.listening);  // all zero when none was issued: matches nothing
  if (why) {
    authRefused(shown, slot, why);
    return false;
  }
  if (grant) *grant = got;
  authAdmitted(slot, gen, got);
  printf("Client %s admis par la cle de session sur le tunnel %d%s.\n", name, slot,
         got.peerViewer ? ", en lecture seule" : "");
  return true;
}

const char* authKeyMismatch(const char* peerName) {
  bool hidden = strcmp(peerName, AUTH_HIDDEN_NAME) == 0;
  if (authKeyRequired() && !hidden) return "editeur sans cle de session";
  if (!authKeyRequired() && hidden) return "l'autre editeur exige une cle de session, absente ici";
  return nullptr;
}
