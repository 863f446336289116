// Text and socket addresses of editors (address.h).
#include "net/address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>

namespace {
const size_t HOST_LEN = 256;  // a DNS name is at most 253 characters
const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};  // ::ffff:0:0/96

// Splits "host", "host:port", "v6", "[v6]" or "[v6]:port" into its host and
// port (defaultPort without one); *v6 tells the host must be an IPv6
// address: in brackets, or bare with two colons or more (it has no port then).
bool splitHostPort(const char* text, char* host, size_t cap, int* port, int defaultPort, bool* v6) {
  const char* start = text;
  const char* rest;
  size_t n;
  if (text[0] == '[') {
    const char* close = strchr(text, ']');
    if (!close) return false;
    start = text + 1;
    n = (size_t)(close - start);
    rest = close + 1;
    if (*rest && *rest != ':') return false;
    *v6 = true;
  } else {
    const char* colon = strchr(text, ':');
    *v6 = colon && strchr(colon + 1, ':');
    n = colon && !*v6 ? (size_t)(colon - text) : strlen(text);
    rest = text + n;
  }
  if (n == 0 || n >= cap) return false;
  memcpy(host, start, n);
  host[n] = 0;
  *port = defaultPort;
  return !*rest || parsePort(rest + 1, PORT_MIN, port);
}

bool parseV6(const char* text, NetHost* out) { return inet_pton(AF_INET6, text, out->bytes) == 1; }

// A host name as DNS writes one: letters, digits, '-', '_' and '.' only, so
// nothing else (a zone, a service, a path) ever reaches the resolver.
bool nameLike(const char* s) {
  for (; *s; s++)
    if (!((*s >= 'a' && *s <= 'z') || (*s >= 'A' && *s <= 'Z') || (*s >= '0' && *s <= '9') || *s == '-' ||
          *s == '_' || *s == '.'))
      return false;
  return true;
}

// The addresses a name resolves to, in the resolver's order of preference,
// each once; families the system has no address of are left out.
int lookUp(const char* host, int port, NetAddress* out, int cap) {
  addrinfo hints = {}, *res = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0) return 0;
  int n = 0;
  for (addrinfo* r = res; r && n < cap; r = r->ai_next) {
    if (r->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage s = {};
    memcpy(&s, r->ai_addr, r->ai_addrlen);
    NetAddress a = fromSockaddr(s);
    a.port = port;
    bool seen = !hostIsSet(a.host);
    for (int k = 0; k < n; k++) seen = seen || out[k].host == a.host;
    if (!seen) out[n++] = a;
  }
  freeaddrinfo(res);
  return n;
}
}  // namespace

NetHost hostV4(uint32_t v4) {
  NetHost h;
  memcpy(h.bytes, kMapped, sizeof kMapped);
  memcpy(h.bytes + 12, &v4, 4);
  return h;
}

bool hostIsSet(const NetHost& h) { return h != NetHost(); }

bool hostIsV4(const NetHost& h, uint32_t* v4) {
  if (memcmp(h.bytes, kMapped, sizeof kMapped) != 0) return false;
  if (v4) memcpy(v4, h.bytes + 12, 4);
  return true;
}

bool hostCouldListen(const NetHost& h) {
  uint32_t v4;
  if (hostIsV4(h, &v4)) {
    uint32_t a = ntohl(v4);
    return !(a == 0 || a == 0xFFFFFFFFu || (a >> 24) == 127 || (a >> 28) == 0xE);
  }
  NetHost loopback;
  loopback.bytes[15] = 1;
  const unsigned char* b = h.bytes;
  return hostIsSet(h) && h != loopback && b[0] != 0xFF && !(b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}

bool parsePort(const char* text, int min, int* port) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end;
  long v = strtol(text, &end, 10);
  if (*end || v < min || v > PORT_MAX) return false;
  *port = (int)v;
  return true;
}

bool parseHost(const char* text, NetHost* out) {
  in_addr a;
  if (inet_pton(AF_INET, text, &a) == 1) {
    *out = hostV4(a.s_addr);
    return true;
  }
  return parseV6(text, out);
}

int resolveAddress(const char* text, int defaultPort, NetAddress* out, int cap) {
  char host[HOST_LEN];
  bool v6 = false;
  if (cap < 1 || !splitHostPort(text, host, sizeof host, &out->port, defaultPort, &v6) ||
      (v6 && !parseV6(host, &out->host)) || (!v6 && !nameLike(host))) {
    printf("Adresse %s invalide: hote, hote:port, adresse IPv6 ou [adresse IPv6]:port (port de %d a %d) attendu!\n",
           text, PORT_MIN, PORT_MAX);
    return 0;
  }
  if (v6 || parseHost(host, &out->host)) return 1;
  int n = lookUp(host, out->port, out, cap);
  if (n == 0) printf("Adresse %s inconnue!\n", text);
  return n;
}

bool parseMember(const char* word, NetAddress* out) {
  char host[HOST_LEN];
  in_addr a;
  bool v6 = false;
  if (!strchr(word, ':') || !splitHostPort(word, host, sizeof host, &out->port, 0, &v6) ||
      out->port < MEMBER_PORT_MIN)
    return false;
  if (v6) return word[0] == '[' && parseV6(host, &out->host);  // a bare IPv6 word has no port
  if (inet_pton(AF_INET, host, &a) != 1) return false;
  out->host = hostV4(a.s_addr);
  return true;
}

void formatHost(const NetHost& h, char* out, size_t cap) {
  char text[INET6_ADDRSTRLEN];
  uint32_t v4;
  bool ok = hostIsV4(h, &v4) ? inet_ntop(AF_INET, &v4, text, sizeof text) != nullptr
                             : inet_ntop(AF_INET6, h.bytes, text, sizeof text) != nullptr;
  snprintf(out, cap, "%s", ok ? text : "?");
}

void formatAddress(const NetAddress& a, bool withPort, char* out, size_t cap) {
  char host[INET6_ADDRSTRLEN];
  formatHost(a.host, host, sizeof host);
  if (!withPort || strcmp(host, "?") == 0)
    snprintf(out, cap, "%s", host);
  else
    snprintf(out, cap, hostIsV4(a.host) ? "%s:%d" : "[%s]:%d", host, a.port);
}

void formatHidden(const NetHost& h, bool keepFirst, char* out, size_t cap) {
  const unsigned char* b = h.bytes;
  int first = b[0] << 8 | b[1], last = b[14] << 8 | b[15];  // IPv6 groups
  if (hostIsV4(h) && keepFirst)
    snprintf(out, cap, "%d.X.X.%d", b[12], b[15]);
  else if (hostIsV4(h))
    snprintf(out, cap, "X.X.X.%d", b[15]);
  else if (keepFirst)
    snprintf(out, cap, "[%x:X::%x]", first, last);
  else
    snprintf(out, cap, "[X::%x]", last);
}

socklen_t toSockaddr(const NetAddress& a, sockaddr_storage* out) {
  memset(out, 0, sizeof *out);
  uint32_t v4;
  if (hostIsV4(a.host, &v4)) {
    sockaddr_in* s = (sockaddr_in*)out;
    s->sin_family = AF_INET;
    s->sin_addr.s_addr = v4;
    s->sin_port = htons((uint16_t)a.port);
    return sizeof *s;
  }
  sockaddr_in6* s = (sockaddr_in6*)out;
  s->sin6_family = AF_INET6;
  memcpy(&s->sin6_addr, a.host.bytes, 16);
  s->sin6_port = htons((uint16_t)a.port);
  return sizeof *s;
}

NetAddress fromSockaddr(const sockaddr_storage& in) {
  NetAddress a;
  if (in.ss_family == AF_INET) {
    const sockaddr_in* s = (const sockaddr_in*)&in;
    a.host = hostV4(s->sin_addr.s_addr);
    a.port = ntohs(s->sin_port);
  } else if (in.ss_family == AF_INET6) {
    const sockaddr_in6* s = (const sockaddr_in6*)&in;
    memcpy(a.host.bytes, &s->sin6_addr, 16);
    a.port = ntohs(s->sin6_port);
  }
  return a;
}
