// The session channel of two editors that proved the same key: every byte
// of a connection, both ways, goes in authenticated and encrypted frames.
//
// A frame on the wire: a 4-byte big-endian count of the sealed bytes that
// follow, then one crypto_secretstream_xchacha20poly1305 message (at most
// FRAME_PLAIN_MAX plain bytes). Each direction of a connection is one
// stream under its own key; its 24-byte stream header goes out in clear
// before its first frame. A frame forged, cut, replayed, reordered or taken
// from another connection fails its check: the channel is broken for good
// and every later read or write on it fails, which ends the connection.
//
// Once a channel is attached to a socket, sendAll, recvAll, peekSome and
// takePeeked (netio.h) go through it; netClose frees it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

enum {
  SESSION_KEY_BYTES = 32,
  FRAME_PLAIN_MAX = 65536,   // plain bytes per frame: a write of any size is cut into these
  FRAME_COUNT_BYTES = 4,     // the sealed length in front of each frame
};

struct SecureChannel;

// A channel that sends under `tx` and receives under `rx`; `slot` names the
// tunnel in its log lines.
SecureChannel* secureNew(const unsigned char tx[SESSION_KEY_BYTES], const unsigned char rx[SESSION_KEY_BYTES],
                         int slot);
void secureFree(SecureChannel* c);

// The bytes to put on the wire for n plain bytes (n <= FRAME_PLAIN_MAX):
// the stream header first when this is the channel's first frame, then the
// count and the sealed message. False once the channel is broken.
bool secureSeal(SecureChannel* c, const void* p, size_t n, std::string* wire);
// The stream header's size (in front of a channel's first frame).
size_t secureHeaderBytes();
// Takes n received bytes: the peer's stream header first, then every frame
// they complete is opened into the channel's buffer (a part of one waits
// for the rest). False (broken, logged) when a frame does not check out.
bool secureFeed(SecureChannel* c, const void* p, size_t n);
// The plain bytes received and not taken yet.
size_t secureBuffered(const SecureChannel* c);
const char* secureData(const SecureChannel* c);
void secureTake(SecureChannel* c, size_t n);
bool secureBroken(const SecureChannel* c);

// Socket registry: from now on the socket's blocks go through c (owned).
// False when every entry is taken: c is not the socket's, nothing may go.
bool secureAttach(int s, SecureChannel* c);
// The socket's channel, or null (a plain connection).
SecureChannel* secureOf(int s);
// Forgets and frees the socket's channel (netClose).
void secureDetach(int s);
