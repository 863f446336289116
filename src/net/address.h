// Addresses of editors as people and the members list write them: "host" or
// "host:port". Every text address is parsed, resolved and formatted here,
// and nowhere else, so another address family changes this file and the
// record below only.
#pragma once
#include <stddef.h>
#include <stdint.h>

// An editor's listening address: host in network order (IPv4), a port.
struct NetAddress {
  uint32_t host = 0;
  int port = 0;
};

enum {
  PORT_MIN = 1,
  PORT_MAX = 65535,
  MEMBER_PORT_MIN = 1024,  // a member list never sends us to a system service's port
  ADDRESS_WORD_LEN = 64,   // "a.b.c.d:port", and room to spare
};

// A port written in a text: a whole decimal number in [min, PORT_MAX]; false otherwise.
bool parsePort(const char* text, int min, int* port);
// What the user typed into the join field: a host name or an address, with
// an optional ":port" (else defaultPort), resolved. False, the reason
// logged, for a malformed text, a bad port or a host that does not resolve.
bool resolveAddress(const char* text, int defaultPort, NetAddress* out);
// A member word of a peer's list, "a.b.c.d:port" taken literally (a peer's
// list never makes this editor look a name up); false when it is not one.
bool parseMember(const char* word, NetAddress* out);
// "a.b.c.d:port", or "a.b.c.d" without the port; "?" when it cannot be written.
void formatAddress(const NetAddress& a, bool withPort, char* out, size_t cap);
