// Addresses of editors as people and the members list write them: "host",
// "host:port", an IPv6 address bare or in brackets ("fd00::2",
// "[fd00::2]:40000"). Every text address is parsed, resolved and formatted
// here, and every socket address converted here, and nowhere else: the rest
// of the network code holds the records below and never looks at a family.
#pragma once
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/socket.h>

// A host address. IPv4 is held in its IPv4-mapped IPv6 form
// (::ffff:a.b.c.d), so one comparison serves both families, and an IPv4
// peer accepted on a dual-stack socket is the same host as that peer joined
// by its IPv4 address. All zero ("::"): no address.
struct NetHost {
  unsigned char bytes[16] = {0};
};
inline bool operator==(const NetHost& a, const NetHost& b) { return memcmp(a.bytes, b.bytes, 16) == 0; }
inline bool operator!=(const NetHost& a, const NetHost& b) { return !(a == b); }
inline bool operator<(const NetHost& a, const NetHost& b) { return memcmp(a.bytes, b.bytes, 16) < 0; }

// An editor's listening address: its host and a port.
struct NetAddress {
  NetHost host;
  int port = 0;
};

enum {
  PORT_MIN = 1,
  PORT_MAX = 65535,
  MEMBER_PORT_MIN = 1024,  // a member list never sends us to a system service's port
  // The longest address text: an IPv6 address (INET6_ADDRSTRLEN counts its
  // end), two brackets and ":65535".
  ADDRESS_TEXT_LEN = INET6_ADDRSTRLEN + 2 + 6,
  ADDRESS_WORD_LEN = 64,   // a member word: the longest text, and room to spare
  RESOLVED_MAX = 4,        // addresses of one name tried in turn by a join
};

// The IPv4 address `v4` (network order) as a host.
NetHost hostV4(uint32_t v4);
// An address is set (not all zero).
bool hostIsSet(const NetHost& h);
// An IPv4 host, its address in network order in *v4.
bool hostIsV4(const NetHost& h, uint32_t* v4 = nullptr);
// A host a peer could listen at: not unspecified, broadcast, loopback,
// multicast, nor IPv6 link-local (it needs a zone this record has no room for).
bool hostCouldListen(const NetHost& h);

// A port written in a text: a whole decimal number in [min, PORT_MAX]; false otherwise.
bool parsePort(const char* text, int min, int* port);
// A literal address without port or brackets: "a.b.c.d" or an IPv6 address
// (no zone). Names are not looked up.
bool parseHost(const char* text, NetHost* out);
// What the user typed into the join field: a host name or an address, with
// an optional port (else defaultPort), resolved. The addresses to try in
// turn (at most cap), or 0, the reason logged, for a malformed text, a bad
// port or a host that does not resolve.
int resolveAddress(const char* text, int defaultPort, NetAddress* out, int cap);
// A member word of a peer's list, "a.b.c.d:port" or "[v6]:port" taken
// literally (a peer's list never makes this editor look a name up); false
// when it is not one.
bool parseMember(const char* word, NetAddress* out);
// "a.b.c.d" or the IPv6 address in its standard text; "?" when it cannot be written.
void formatHost(const NetHost& h, char* out, size_t cap);
// With the port: "a.b.c.d:port" or "[v6]:port"; without, as formatHost.
void formatAddress(const NetAddress& a, bool withPort, char* out, size_t cap);
// The host as the log shows it, all but its last part hidden ("X.X.X.4",
// "[X::4]"), with keepFirst its first part too ("10.X.X.4", "[fd79:X::4]").
void formatHidden(const NetHost& h, bool keepFirst, char* out, size_t cap);

// Socket addresses: the record's, for connect or bind (its length; the
// family an IPv4 host's socket needs is AF_INET), and the one accept gave.
socklen_t toSockaddr(const NetAddress& a, sockaddr_storage* out);
NetAddress fromSockaddr(const sockaddr_storage& in);
