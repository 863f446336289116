// Who may join: the allow list, the join prompt and the session key.
//
// `allow all` (default) lets anyone complete the handshake; `allow ask`
// holds a stranger after its handshake until the user accepts it; `allow`
// with addresses closes any other address before the handshake. An editor
// this one joined is trusted for its reverse connection.
//
// `key <text>`: every connection proves the key before anything else goes
// on it, and then is encrypted. With a key the base handshake's name block
// carries AUTH_HIDDEN_NAME, not the user's name. Right after the token, on
// the connection being opened alone, the joining side sends "EXTENSIONS"
// and "AUTHNONCE <its nonce>"; the listening side writes back, on the same
// socket, "AUTHNONCE <its nonce>" and "AUTHPROOF <its proof>"; the joining
// side checks it and sends its own "AUTHPROOF" ("AUTHREFUSED" when the
// listening side's failed: a proof goes only to a peer that proved the
// key). A proof is an HMAC under a
// key stretched from the session key over the prover's role, the handshake
// blocks and announcement of this connection and both nonces: it is good
// on this connection, in this direction, and nowhere else. From there on
// the connection is a session channel (net/secure.h) under keys derived
// from both nonces; the user names go through it first. Only then does the
// listening side ask its user (`allow ask`) and open the reverse
// connection, which proves the key the same way. A peer without proof
// within AUTH_MS (a base-protocol editor included) is cut off.
//
// `viewkey <text>`: a second key. A peer that proves it instead of `key` is
// a viewer: it receives everything and nothing it sends changes the project
// here. To a joiner that announced "ROLES" the listening side proves both
// keys ("AUTHPROOF <proof under key> <proof under viewkey>"); the joiner
// proves the one of its keys that matched, so each side knows from the
// proofs alone which role the other holds (nothing says it on the wire). An
// editor whose `key` is another's `viewkey` is that editor's viewer.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>

#include "net/net.h"

// The name block of a keyed editor's handshake: its user name goes only
// to a peer that proved the key. Seeing it, an editor without a key knows
// the other wants one.
extern const char AUTH_HIDDEN_NAME[];

enum {
  AUTH_MS = 5000,          // the key must be proven this long after the handshake
  ASK_MS = 60000,          // a join prompt left unanswered this long refuses the peer
  ASK_PENDING_MAX = 4,     // join prompts waiting at once; more strangers are refused
  ALLOW_MAX = 64,          // addresses in the allow list
  KEY_MAX = 256,           // characters of a session key
  NONCE_BYTES = 32,
  PROOF_BYTES = 32,        // HMAC-SHA-256
  AUTH_MASTER_BYTES = 32,  // the stretched key, and each key derived from it
  AUTH_HEX_LEN = 2 * NONCE_BYTES + 1,
  AUTH_TEXT_LEN = 160,     // a refusal reason shown on the panel
  PROMPT_NAME_MAX = 24,    // characters of a peer's name in the join prompt (the panel's width)
};

enum AllowMode { ALLOW_ALL, ALLOW_ASK, ALLOW_LIST };

struct AuthSettings {
  AllowMode mode = ALLOW_ALL;
  NetHost hosts[ALLOW_MAX];
  int hostCount = 0;
  bool allowGiven = false;          // the pair was in settings.ini (echoed)
  char key[KEY_MAX + 1] = "";       // empty: no key
  unsigned char master[AUTH_MASTER_BYTES] = {0};  // the key stretched (authMasterKey)
  char viewKey[KEY_MAX + 1] = "";   // empty: no viewer admitted by key
  unsigned char viewMaster[AUTH_MASTER_BYTES] = {0};
};
extern AuthSettings authSettings;

// Optional settings pairs. A bad value fails closed: a bad list admits no
// stranger, a bad key admits nobody (a random key nobody knows).
void authReadAllow(const char* value);
void authReadKey(const char* value);
void authReadViewKey(const char* value);
// The view key stretched, or null when none is set.
const unsigned char* authViewMaster();
void authEchoSettings();  // echo lines of the pairs given (the key's length only)

// ---- the proof of one connection ----
// The side that opened the TCP connection, and the side that accepted it.
enum AuthRole { AUTH_JOINING, AUTH_LISTENING };
// What one connection's proof binds: the bytes both ends exchanged before
// it, in wire order, and both nonces.
struct AuthSession {
  std::string transcript;
  unsigned char joining[NONCE_BYTES] = {0};
  unsigned char listening[NONCE_BYTES] = {0};
};
// The key stretched once (crypto_pwhash), so a proof seen on the network
// costs a guesser that much per guess.
void authMasterKey(const char* key, unsigned char master[AUTH_MASTER_BYTES]);
// The proof that `prover` knows the key for this session (hex), and its check.
void authProof(const unsigned char master[AUTH_MASTER_BYTES], AuthRole prover, const AuthSession& s,
               char hex[AUTH_HEX_LEN]);
bool authProofGood(const unsigned char master[AUTH_MASTER_BYTES], AuthRole prover, const AuthSession& s,
                   const char* hex);
// The session keys of one side: what it sends under, what it receives under.
void authSessionKeys(const unsigned char master[AUTH_MASTER_BYTES], const AuthSession& s, AuthRole side,
                     unsigned char tx[AUTH_MASTER_BYTES], unsigned char rx[AUTH_MASTER_BYTES]);
// A fresh nonce of this editor, live until retired: a peer offering any
// live one back as its own is refused, however many handshakes come.
void authNonceIssue(unsigned char n[NONCE_BYTES]);
void authNonceRetire(const unsigned char n[NONCE_BYTES]);
bool authNonceLive(const unsigned char n[NONCE_BYTES]);
void authHex(const unsigned char bin[NONCE_BYTES], char hex[AUTH_HEX_LEN]);
// "2 * NONCE_BYTES" hex digits, nothing else.
bool authFromHex(const char* hex, unsigned char out[NONCE_BYTES]);

// The proof on socket s right after the token (network threads), within
// AUTH_MS; `transcript` holds the handshake blocks as they went, `shown`
// names the peer in a refusal. True once the peer proved the key and
// the channel is attached to s; *name then holds its user name. False:
// refused and logged, s is to be closed. The listening side also gives
// the joiner's announcement (applied once the peer is served).
// `master`: the stretched key (another one in tests).
// What the proofs told: the peer proved only our view key (a viewer here),
// and the peer took our proof under its view key (we are its viewer; known
// on the joining side only, which every pair has in each direction).
struct AuthGrant {
  bool peerViewer = false;
  bool selfViewer = false;
};
bool authJoin(int s, int slot, const char* shown, const std::string& transcript, char name[NAME_BLOCK],
              const unsigned char* master = authSettings.master, const unsigned char* viewMaster = authViewMaster(),
              AuthGrant* grant = nullptr);
bool authServe(int s, int slot, unsigned gen, const char* shown, const std::string& transcript,
               char name[NAME_BLOCK], std::string* extensions, const unsigned char* master = authSettings.master,
               const unsigned char* viewMaster = authViewMaster(), AuthGrant* grant = nullptr);
// Why a peer whose name block reads peerName cannot be admitted: a keyed
// editor and one without a key tell each other by it. Null: go on.
const char* authKeyMismatch(const char* peerName);
// Logs a refused peer and keeps the reason for the panel.
void authRefused(const char* name, int slot, const char* why);
// The peer on the slot proved a key (the client list marks it), and what it showed.
void authAdmitted(int slot, unsigned gen, const AuthGrant& grant);

// ---- the connection side (network threads) ----
// Listening thread, before the handshake: false (logged) for an address the
// allow list leaves out.
bool authAddressAllowed(const NetHost& host);
// Leaving a peer out: its address is refused (asked, with `allow ask`) for
// the rest of this session, and not joined through the session's members.
// An explicit join of that address takes it back.
void authLeaveOut(const NetHost& host);
bool authLeftOut(const NetHost& host);
void authTakeBack(const NetHost& host);
// Receiving thread, after the handshake: with `allow ask` a stranger waits
// for the user's answer (at most ASK_MS, or until *quit, `disco` or the
// peer leaves); false (logged) when refused.
bool authAsk(int slot, unsigned gen, const char* name, const NetHost& host, int sock,
             const std::atomic<bool>* quit);
// A session key is set: every connection proves it and is encrypted.
bool authKeyRequired();
// The peer on `slot` was admitted by the key (the client list marks it).
bool authByKey(int slot);

// ---- the editor side (main thread) ----
struct JoinRequest {
  int slot;
  unsigned gen;
  char name[256];
  char address[ADDRESS_TEXT_LEN];
  bool leftOut;  // an address left out this session, back again
};
// A peer's name as the join prompt shows it: quoted, cut to PROMPT_NAME_MAX
// characters ("..." after a cut), anything but printable ASCII and the
// quote itself replaced by '?', so a name cannot pass for an address.
void authPromptName(const char* name, char* out, size_t cap);
// The oldest join prompt waiting for an answer.
bool authPendingRequest(JoinRequest* out);
enum JoinAnswer { JOIN_REFUSE = -1, JOIN_EDITOR = 1, JOIN_VIEWER = 2 };
void authAnswer(int slot, unsigned gen, JoinAnswer answer);
// Why the last join was refused, once (for the panel).
bool authTakeRefusal(char* out, size_t cap);
// Resets the tables and settings (tests).
void authReset();
