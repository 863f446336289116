// Text addresses of editors (address.h).
#include "net/address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
const size_t HOST_LEN = 256;  // a DNS name is at most 253 characters

// Splits "host[:port]" into its host and port (defaultPort without one).
bool splitHostPort(const char* text, char* host, size_t cap, int* port, int defaultPort) {
  const char* colon = strchr(text, ':');
  size_t n = colon ? (size_t)(colon - text) : strlen(text);
  if (n == 0 || n >= cap) return false;
  memcpy(host, text, n);
  host[n] = 0;
  *port = defaultPort;
  return !colon || parsePort(colon + 1, PORT_MIN, port);
}
}  // namespace

bool parsePort(const char* text, int min, int* port) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end;
  long v = strtol(text, &end, 10);
  if (*end || v < min || v > PORT_MAX) return false;
  *port = (int)v;
  return true;
}

bool resolveAddress(const char* text, int defaultPort, NetAddress* out) {
  char host[HOST_LEN];
  if (!splitHostPort(text, host, sizeof host, &out->port, defaultPort)) {
    printf("Adresse %s invalide: hote ou hote:port (port de %d a %d) attendu!\n", text, PORT_MIN, PORT_MAX);
    return false;
  }
  addrinfo hints = {}, *res = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) {
    printf("Adresse %s inconnue!\n", text);
    return false;
  }
  out->host = ((sockaddr_in*)res->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(res);
  return true;
}

bool parseMember(const char* word, NetAddress* out) {
  char host[HOST_LEN];
  in_addr a;
  if (!strchr(word, ':') || !splitHostPort(word, host, sizeof host, &out->port, 0) ||
      out->port < MEMBER_PORT_MIN || inet_pton(AF_INET, host, &a) != 1)
    return false;
  out->host = a.s_addr;
  return true;
}

void formatAddress(const NetAddress& a, bool withPort, char* out, size_t cap) {
  char host[INET_ADDRSTRLEN];
  in_addr in;
  in.s_addr = a.host;
  if (!inet_ntop(AF_INET, &in, host, sizeof host))
    snprintf(out, cap, "?");
  else if (withPort)
    snprintf(out, cap, "%s:%d", host, a.port);
  else
    snprintf(out, cap, "%s", host);
}
