// Who may join: the allow list, the join prompt and the session key.
//
// `allow all` (default) lets anyone complete the handshake; `allow ask`
// holds a stranger after its handshake until the user accepts it; `allow`
// with addresses closes any other address before the handshake. An editor
// this one joined is trusted for its reverse connection.
//
// `key <text>`: right after the handshake both sides prove they know the key
// through the "AUTH" extension: each sends "AUTHNONCE <fresh random nonce>"
// once it saw the other announce AUTH, and answers the other's nonce with
// "AUTHPROOF <HMAC-SHA-256 under the key of both nonces>". The key never
// travels. Until the peer's proof checks out none of its actions is applied
// or queued and ours to it are held back; a peer without proof within
// AUTH_MS (a base-protocol editor included) is cut off.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>

enum {
  AUTH_MS = 5000,          // the key must be proven this long after the handshake
  ASK_MS = 60000,          // a join prompt left unanswered this long refuses the peer
  ASK_PENDING_MAX = 4,     // join prompts waiting at once; more strangers are refused
  ALLOW_MAX = 64,          // addresses in the allow list
  KEY_MAX = 256,           // characters of a session key
  NONCE_BYTES = 32,
  PROOF_BYTES = 32,        // HMAC-SHA-256
  AUTH_HEX_LEN = 2 * NONCE_BYTES + 1,
  AUTH_TEXT_LEN = 160,     // a refusal reason shown on the panel
  ADDRESS_TEXT_LEN = 16,   // "255.255.255.255"
};

enum AllowMode { ALLOW_ALL, ALLOW_ASK, ALLOW_LIST };

struct AuthSettings {
  AllowMode mode = ALLOW_ALL;
  uint32_t hosts[ALLOW_MAX] = {0};  // network order
  int hostCount = 0;
  bool allowGiven = false;          // the pair was in settings.ini (echoed)
  char key[KEY_MAX + 1] = "";       // empty: no key
};
extern AuthSettings authSettings;

// Optional settings pairs. A bad value fails closed: a bad list admits no
// stranger, a bad key admits nobody (a random key nobody knows).
void authReadAllow(const char* value);
void authReadKey(const char* value);
void authEchoSettings();  // echo lines of the pairs given (the key's length only)

// ---- the key exchange with one peer ----
struct AuthExchange {
  unsigned char mine[NONCE_BYTES];    // our nonce for this peer
  unsigned char theirs[NONCE_BYTES];  // the peer's nonce
  bool announced = false;             // the peer's "EXTENSIONS" named AUTH
  bool gotNonce = false;
  bool proven = false;
};
enum AuthVerdict {
  AUTH_WAIT,    // consumed; replyHeader (when set) and replyBody go to the peer
  AUTH_ADMIT,   // the peer proved the key
  AUTH_REFUSE,  // `why` says what failed
};
struct AuthStep {
  AuthVerdict verdict = AUTH_WAIT;
  const char* replyHeader = nullptr;
  char replyBody[AUTH_HEX_LEN] = "";
  const char* why = "";
};
// A fresh nonce, remembered as one this editor issued: a peer handing it
// back as its own challenge is refused (no reflection).
void authExchangeStart(AuthExchange* x);
// One action received from an unproven peer.
AuthStep authExchangeStep(AuthExchange* x, const char* key, const char* command, const char* body);
// The proof of `prover`'s knowledge of the key for a challenge (hex, tests).
void authProof(const char* key, const unsigned char challenge[NONCE_BYTES],
               const unsigned char prover[NONCE_BYTES], char hex[AUTH_HEX_LEN]);
void authHex(const unsigned char bin[NONCE_BYTES], char hex[AUTH_HEX_LEN]);

// ---- the connection side (network threads) ----
// Listening thread, before the handshake: false (logged) for an address the
// allow list leaves out.
bool authAddressAllowed(uint32_t host);
// Receiving thread, after the handshake: with `allow ask` a stranger waits
// for the user's answer (at most ASK_MS, or until *quit, `disco` or the
// peer leaves); false (logged) when refused.
bool authAsk(int slot, unsigned gen, const char* name, uint32_t host, int sock,
             const std::atomic<bool>* quit);
// A session key is set: exchanges run and send queues start held.
bool authKeyRequired();
// Receiving thread: the exchange with the peer on `slot` starts now.
void authBegin(int slot, unsigned gen);
// Milliseconds left for the peer's proof; -1 once proven or without a key.
int authLeftMs(int slot, unsigned gen);
enum AuthFilter {
  AUTH_PASS,      // an ordinary action of an admitted peer
  AUTH_TAKEN,     // part of the exchange: not for the interpreter
  AUTH_ADMITTED,  // the peer just proved the key; *extensions: its announcement
  AUTH_CUT,       // refused (logged): end the connection
};
AuthFilter authFilter(int slot, unsigned gen, const char* name, const char* command,
                      const char* body, std::string* extensions);
// The peer on `slot` was admitted by the key (the client list marks it).
bool authByKey(int slot);
// Logs a peer that never proved the key before its connection ended.
void authLost(int slot, unsigned gen, const char* name, bool timedOut);

// ---- the editor side (main thread) ----
struct JoinRequest {
  int slot;
  unsigned gen;
  char name[256];
  char address[ADDRESS_TEXT_LEN];
};
// The oldest join prompt waiting for an answer.
bool authPendingRequest(JoinRequest* out);
void authAnswer(int slot, unsigned gen, bool accept);
// Why the last join was refused, once (for the panel).
bool authTakeRefusal(char* out, size_t cap);
// Resets the tables and settings (tests).
void authReset();
