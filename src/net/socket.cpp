// Sockets and blocks: every block is moved whole, with waits that look at
// the stop flags, so no thread ever hangs on a silent peer.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/netio.h"
#include "net/secure.h"
#include "core/core.h"

namespace {
const size_t SECURE_READ = 256u << 10;  // sealed bytes taken per read: a few frames at once

long long nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Waits for `events` on s for at most ms (-1: forever), waking every
// POLL_MS to look at the flags. 1 ready, 0 timed out, -1 stopped or error.
int waitFor(int s, short events, int ms, const std::atomic<bool>* quit) {
  long long end = ms < 0 ? 0 : nowMs() + ms;
  for (;;) {
    if (stop || (quit && *quit)) return -1;
    int slice = POLL_MS;
    if (ms >= 0) {
      long long left = end - nowMs();
      if (left <= 0) return 0;
      if (left < slice) slice = (int)left;
    }
    pollfd p = {s, events, 0};
    int r = poll(&p, 1, slice);
    if (r > 0) return 1;  // ready, or hung up / in error: the next call tells
    if (r < 0 && errno != EINTR) return -1;
  }
}

void tune(int s) {
  int yes = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);  // actions are tiny
}

// The plain socket's moves; the public ones below add the session channel.
bool rawSend(int s, const void* p, size_t n, int stallMs) {
  const char* c = (const char*)p;
  while (n > 0) {
    if (stop || s < 0) return false;
    ssize_t k = send(s, c, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k > 0) {
      c += k;
      n -= (size_t)k;
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (waitFor(s, POLLOUT, stallMs, nullptr) <= 0) return false;
      continue;
    }
    return false;  // closed or reset: fails for this peer only
  }
  return true;
}

// What is waiting on s (at most cap bytes, with MSG_PEEK left there),
// waiting up to ms for the first: the count, or -1 once stopped, timed
// out, closed or in error.
long recvSome(int s, void* p, size_t cap, int ms, const std::atomic<bool>* quit, int flags = 0) {
  for (;;) {
    if (s < 0 || stop || (quit && *quit)) return -1;
    ssize_t k = recv(s, p, cap, MSG_DONTWAIT | flags);
    if (k > 0) return (long)k;
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (waitFor(s, POLLIN, ms, quit) <= 0) return -1;
      continue;
    }
    return -1;  // 0: the peer closed
  }
}

bool rawRecv(int s, void* p, size_t n, int firstMs, int stallMs, const std::atomic<bool>* quit) {
  for (char* c = (char*)p; n > 0; firstMs = stallMs) {
    long k = recvSome(s, c, n, firstMs, quit);
    if (k < 0) return false;
    c += k;
    n -= (size_t)k;
  }
  return true;
}

bool rawTake(int s, void* p, size_t n) {
  char* c = (char*)p;
  while (n > 0) {
    // MSG_TRUNC: TCP drops the bytes without copying them (other sockets copy).
    ssize_t k = recv(s, c, n, MSG_TRUNC | MSG_DONTWAIT);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    n -= (size_t)k;
    c += k;
  }
  return true;
}

// Reads from a session channel's socket until it has plain bytes: what is
// waiting (up to a read's worth of frames) is taken at once, waiting first
// up to firstMs, then stallMs while a frame is incomplete.
bool pullFrames(int s, SecureChannel* c, int firstMs, int stallMs, const std::atomic<bool>* quit) {
  thread_local std::vector<char> buf(SECURE_READ);
  for (; secureBuffered(c) == 0; firstMs = stallMs) {
    long k = recvSome(s, buf.data(), buf.size(), firstMs, quit);
    if (k < 0 || !secureFeed(c, buf.data(), (size_t)k)) return false;
  }
  return true;
}
}  // namespace

bool sendAll(int s, const void* p, size_t n, int stallMs) {
  SecureChannel* c = secureOf(s);
  if (!c) return rawSend(s, p, n, stallMs);
  thread_local std::string wire;
  for (const char* at = (const char*)p; n > 0;) {
    size_t k = n < (size_t)FRAME_PLAIN_MAX ? n : (size_t)FRAME_PLAIN_MAX;
    if (!secureSeal(c, at, k, &wire) || !rawSend(s, wire.data(), wire.size(), stallMs)) return false;
    at += k;
    n -= k;
  }
  return true;
}

bool recvAll(int s, void* p, size_t n, int firstMs, int stallMs, const std::atomic<bool>* quit) {
  SecureChannel* c = secureOf(s);
  if (!c) return rawRecv(s, p, n, firstMs, stallMs, quit);
  for (char* at = (char*)p; n > 0;) {
    if (secureBuffered(c) == 0 && !pullFrames(s, c, firstMs, stallMs, quit)) return false;
    size_t k = n < secureBuffered(c) ? n : secureBuffered(c);
    memcpy(at, secureData(c), k);
    secureTake(c, k);
    at += k;
    n -= k;
    firstMs = stallMs;
  }
  return true;
}

long peekSome(int s, void* p, size_t cap, int ms, const std::atomic<bool>* quit) {
  SecureChannel* c = secureOf(s);
  if (!c) return recvSome(s, p, cap, ms, quit, MSG_PEEK);
  if (secureBuffered(c) == 0 && !pullFrames(s, c, ms, STALL_MS, quit)) return -1;
  size_t k = cap < secureBuffered(c) ? cap : secureBuffered(c);
  memcpy(p, secureData(c), k);
  return (long)k;
}

bool takePeeked(int s, void* p, size_t n) {
  SecureChannel* c = secureOf(s);
  if (!c) return rawTake(s, p, n);
  if (n > secureBuffered(c)) return false;
  secureTake(c, n);
  return true;
}

namespace {
// A listening socket on `a`, or -1; with dualStack an IPv6 socket that takes
// IPv4 peers too.
int listenOn(const NetAddress& a, bool dualStack) {
  sockaddr_storage sa;
  socklen_t len = toSockaddr(a, &sa);
  int s = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  int yes = 1, no = 0;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (dualStack && setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no) < 0) {
    close(s);
    return -1;
  }
  if (bind(s, (sockaddr*)&sa, len) < 0 || listen(s, 16) < 0) {
    close(s);
    return -1;
  }
  return s;
}
}  // namespace

int netListen(const NetHost& host, int port, int* bound) {
  int s;
  if (hostIsSet(host)) {
    s = listenOn(NetAddress{host, port}, false);
  } else {  // any address: both families where the system has IPv6, else IPv4
    s = listenOn(NetAddress{NetHost(), port}, true);
    if (s < 0) {
      s = listenOn(NetAddress{hostV4(htonl(INADDR_ANY)), port}, false);
      if (s >= 0) printf("Pas d'IPv6 ici: ecoute en IPv4 seulement.\n");
    }
  }
  if (s < 0) return -1;
  sockaddr_storage sa = {};
  socklen_t len = sizeof sa;
  getsockname(s, (sockaddr*)&sa, &len);
  if (bound) *bound = fromSockaddr(sa).port;
  return s;
}

int netAccept(int listener, int waitMs, NetAddress* from) {
  if (waitFor(listener, POLLIN, waitMs, nullptr) <= 0) return -1;
  sockaddr_storage sa = {};
  socklen_t len = sizeof sa;
  int s = accept4(listener, (sockaddr*)&sa, &len, SOCK_CLOEXEC);
  if (s < 0) return -1;
  tune(s);
  if (from) *from = fromSockaddr(sa);
  return s;
}

int netConnect(const NetAddress& to, int timeoutMs) {
  sockaddr_storage sa;
  socklen_t salen = toSockaddr(to, &sa);
  int s = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return -1;
  int r = connect(s, (sockaddr*)&sa, salen);
  if (r < 0 && errno == EINPROGRESS) {
    int err = 0;
    socklen_t len = sizeof err;
    if (waitFor(s, POLLOUT, timeoutMs, &disco) == 1 &&
        getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
      r = 0;
  }
  if (r < 0) {
    close(s);
    return -1;
  }
  // Blocking again; every wait goes through poll anyway.
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
  tune(s);
  return s;
}

void netShutdown(int s) {
  if (s >= 0) shutdown(s, SHUT_RDWR);
}

void netClose(int s) {
  if (s < 0) return;
  secureDetach(s);  // before the number can be handed out again
  close(s);
}

void formatHeader(char block[HEADER_BLOCK], const char* command, int n) {
  memset(block, 0, HEADER_BLOCK);
  snprintf(block, HEADER_BLOCK, "%s %d", command, n);
}

bool parseHeader(const char block[HEADER_BLOCK], char* command, int* n) {
  if (!memchr(block, 0, HEADER_BLOCK)) return false;
  long v = 0;
  // A text of at most 31 characters: the word fits HEADER_BLOCK bytes.
  if (sscanf(block, "%31s %ld", command, &v) != 2) return false;
  if (v < 0 || v > RECV_BUFFER) return false;
  *n = (int)v;
  return true;
}

void formatSizeBlock(char block[SIZE_BLOCK], long n) {
  memset(block, 0, SIZE_BLOCK);
  snprintf(block, SIZE_BLOCK, "%ld", n);
}

bool parseSizeBlock(const char block[SIZE_BLOCK], long max, long* n) {
  if (!memchr(block, 0, SIZE_BLOCK)) return false;
  const char* p = block;
  while (*p == ' ') p++;
  if (*p < '0' || *p > '9') return false;
  char* end = nullptr;
  errno = 0;
  long v = strtol(p, &end, 10);
  if (errno || *end != 0 || v < 0 || v > max) return false;
  *n = v;
  return true;
}

std::thread* threadStart(int (*body)(void*), void* arg) {
  return new std::thread([body, arg] { body(arg); });
}

void threadWait(std::thread* t) {
  if (!t) return;
  t->join();
  delete t;
}

bool threadIsCurrent(const std::thread* t) { return t && t->get_id() == std::this_thread::get_id(); }
