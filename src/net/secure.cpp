// Session channels: sealing and opening frames, and which socket has one.
#include "net/secure.h"

#include <sodium.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <mutex>

#include "net/net.h"

struct SecureChannel {
  crypto_secretstream_xchacha20poly1305_state tx, rx;
  unsigned char txHeader[crypto_secretstream_xchacha20poly1305_HEADERBYTES];
  unsigned char rxKey[SESSION_KEY_BYTES];
  bool headerSent = false, receiving = false, broken = false;
  int slot;
  std::string plain;  // opened bytes; the first `taken` of them are consumed
  size_t taken = 0;
  std::string sealed;  // received bytes of frames not complete yet
};

namespace {
const size_t kSealedMax = FRAME_PLAIN_MAX + crypto_secretstream_xchacha20poly1305_ABYTES;

void breakChannel(SecureChannel* c, const char* why) {
  if (!c->broken) printf("Trame chiffree refusee sur le tunnel %d (%s): connexion coupee!\n", c->slot, why);
  c->broken = true;
}

// Every connection of the editor: two per peer, and those being opened or
// refused meanwhile.
const int kRegistryMax = 4 * MAX_PEERS;
struct Registry {
  std::mutex lock;
  std::atomic<int> count{0};  // attached channels: none, and no lookup is made
  int fd[kRegistryMax];
  SecureChannel* channel[kRegistryMax] = {nullptr};
} registry;
}  // namespace

SecureChannel* secureNew(const unsigned char tx[SESSION_KEY_BYTES], const unsigned char rx[SESSION_KEY_BYTES],
                         int slot) {
  if (sodium_init() < 0) return nullptr;
  SecureChannel* c = new SecureChannel;
  c->slot = slot;
  crypto_secretstream_xchacha20poly1305_init_push(&c->tx, c->txHeader, tx);
  memcpy(c->rxKey, rx, SESSION_KEY_BYTES);
  return c;
}

void secureFree(SecureChannel* c) {
  if (!c) return;
  sodium_memzero(&c->tx, sizeof c->tx);
  sodium_memzero(&c->rx, sizeof c->rx);
  sodium_memzero(c->rxKey, sizeof c->rxKey);
  delete c;
}

size_t secureHeaderBytes() { return crypto_secretstream_xchacha20poly1305_HEADERBYTES; }

bool secureSeal(SecureChannel* c, const void* p, size_t n, std::string* wire) {
  if (c->broken || n > FRAME_PLAIN_MAX) return false;
  wire->clear();
  if (!c->headerSent) wire->append((const char*)c->txHeader, sizeof c->txHeader);
  c->headerSent = true;
  size_t sealed = n + crypto_secretstream_xchacha20poly1305_ABYTES;
  unsigned char count[FRAME_COUNT_BYTES] = {(unsigned char)(sealed >> 24), (unsigned char)(sealed >> 16),
                                            (unsigned char)(sealed >> 8), (unsigned char)sealed};
  wire->append((const char*)count, sizeof count);
  size_t at = wire->size();
  wire->resize(at + sealed);
  unsigned long long len = 0;
  crypto_secretstream_xchacha20poly1305_push(&c->tx, (unsigned char*)&(*wire)[at], &len,
                                             (const unsigned char*)p, n, nullptr, 0,
                                             crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
  return true;
}

namespace {
bool startReceiving(SecureChannel* c, const unsigned char* header) {
  if (crypto_secretstream_xchacha20poly1305_init_pull(&c->rx, header, c->rxKey) != 0) {
    breakChannel(c, "en-tete de flux invalide");
    return false;
  }
  sodium_memzero(c->rxKey, sizeof c->rxKey);
  c->receiving = true;
  return true;
}

bool openFrame(SecureChannel* c, const unsigned char* sealed, size_t n) {
  size_t at = c->plain.size();
  c->plain.resize(at + n);
  unsigned long long len = 0;
  unsigned char tag = 0;
  if (crypto_secretstream_xchacha20poly1305_pull(&c->rx, (unsigned char*)&c->plain[at], &len, &tag, sealed, n,
                                                 nullptr, 0) != 0 ||
      tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE) {
    c->plain.resize(at);
    breakChannel(c, "falsifiee, rejouee, reordonnee ou tronquee");
    return false;
  }
  c->plain.resize(at + (size_t)len);
  return true;
}
}  // namespace

bool secureFeed(SecureChannel* c, const void* p, size_t n) {
  if (c->broken) return false;
  if (c->taken == c->plain.size()) {
    c->plain.clear();
    c->taken = 0;
  }
  // Frames are opened where the bytes are; only an incomplete one's are kept.
  bool kept = !c->sealed.empty();
  if (kept) c->sealed.append((const char*)p, n);
  const unsigned char* b = kept ? (const unsigned char*)c->sealed.data() : (const unsigned char*)p;
  size_t at = 0, have = kept ? c->sealed.size() : n;
  bool ok = true;
  if (!c->receiving && have >= sizeof c->txHeader) {
    ok = startReceiving(c, b);
    at = sizeof c->txHeader;
  }
  while (ok && c->receiving && have - at >= FRAME_COUNT_BYTES) {
    size_t len = (size_t)b[at] << 24 | (size_t)b[at + 1] << 16 | (size_t)b[at + 2] << 8 | b[at + 3];
    if (len < crypto_secretstream_xchacha20poly1305_ABYTES || len > kSealedMax) {
      breakChannel(c, "longueur impossible");
      ok = false;
    } else if (have - at - FRAME_COUNT_BYTES >= len) {
      ok = openFrame(c, b + at + FRAME_COUNT_BYTES, len);
      at += FRAME_COUNT_BYTES + len;
    } else {
      break;
    }
  }
  if (kept)
    c->sealed.erase(0, at);
  else
    c->sealed.assign((const char*)b + at, have - at);
  return ok;
}

size_t secureBuffered(const SecureChannel* c) { return c->plain.size() - c->taken; }
const char* secureData(const SecureChannel* c) { return c->plain.data() + c->taken; }
void secureTake(SecureChannel* c, size_t n) { c->taken += n < secureBuffered(c) ? n : secureBuffered(c); }
bool secureBroken(const SecureChannel* c) { return c->broken; }

bool secureAttach(int s, SecureChannel* c) {
  std::lock_guard<std::mutex> g(registry.lock);
  for (int k = 0; k < kRegistryMax; k++)
    if (!registry.channel[k]) {
      registry.fd[k] = s;
      registry.channel[k] = c;
      registry.count++;
      return true;
    }
  return false;
}

SecureChannel* secureOf(int s) {
  if (registry.count == 0) return nullptr;
  std::lock_guard<std::mutex> g(registry.lock);
  for (int k = 0; k < kRegistryMax; k++)
    if (registry.channel[k] && registry.fd[k] == s) return registry.channel[k];
  return nullptr;
}

void secureDetach(int s) {
  if (registry.count == 0) return;
  SecureChannel* c = nullptr;
  {
    std::lock_guard<std::mutex> g(registry.lock);
    for (int k = 0; k < kRegistryMax && !c; k++)
      if (registry.channel[k] && registry.fd[k] == s) {
        c = registry.channel[k];
        registry.channel[k] = nullptr;
        registry.count--;
      }
  }
  secureFree(c);
}
