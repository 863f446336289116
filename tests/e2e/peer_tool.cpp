// A test peer speaking the editors' wire protocol on its own, to drive a real
// editor over TCP and check what it sends back. Exit status 0 when every step
// worked, 1 otherwise, 2 when the editor refused the version.
//   peer_tool EDITOR_IP NAME VERSION STEP...
//   join: connect, handshake, accept the reverse connection (on another version
//     close without a token, as a joiner does); before it, tiny: a few KiB of
//     receive buffer on the reverse connection; nowait: end without its token;
//     key TEXT: TEXT is the session key, proven on both connections by the
//     editor's own code (net/auth.h), everything after goes in its channel
//   act HEADER BODY, sendpc TILESET PSS, sleep MS, bye ("DISCONNECT! 0")
//   addlayer MAP TILESET PNG PSS [cut]: send "ADDLAYER", serve the offer ("cut":
//     die after half of the first chunk)
//   expect HEADER: print actions read on the reverse connection ("HEADER|BODY")
//     until HEADER (an "EXTENSIONS" before it is passed over)
//   collect HEADER: print every action read there until one with HEADER
//   flood N RATE: N pen actions, RATE a second (0: unpaced)
//   latency N LOG: N pen actions, each timed until LOG (the editor's log) shows
//     it applied; prints p50 and p99
//   syncmap MAP LAYERS W H: a whole sync copy ("SYNCMAP", "SYNCDATA") of MAP,
//     W x H empty cells in LAYERS layers, each naming a tileset nobody has
//   zeros MAP RAW MIB: announces a copy of RAW bytes, sends a zlib stream of
//     MIB mebibytes of zeros and stops one byte short (send "EXTENSIONS SYNC" first)
//   paste MAP W H ROUNDS GAP: announces "CELLS", then ROUNDS pastes of W x H
//     cells of noise in "CELLS" blocks, GAP ms apart
// Attacks on an editor with a session key (the peer has no key, whatever
// `key` says; it speaks as a keyed editor would, name block "(cle de
// session)"); each prints what the editors answered and fails (1) if any
// admitted it:
//   relay IP2: joins the editor and the one at IP2, hands each one's nonce
//     and proof to the other, then sends an edit on both
//   flush N: N quick proofs left unfinished, then offers the first one's
//     editor nonce back with the editor's own proof, then offers back the
//     nonce of a proof still under way; an edit follows each
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sodium.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/core.h"
#include "net/auth.h"
#include "net/netio.h"
#include "net/secure.h"

namespace {
const int PORT = 34567;
int out = -1, back = -1, lsock = -1;
bool tinyBuffer = false, noReverse = false;
const int TINY_RCVBUF = 2048;
const size_t CHUNK = 16384;
const char *editorIp, *myName, *myVersion;
bool keyed = false;
unsigned char master[AUTH_MASTER_BYTES];  // the key stretched, when keyed

// Sends or receives all n bytes; a receive waits at most ms for each part.
// Once the key is proven, through the connection's session channel.
bool allBytes(int s, const void* p, size_t n, bool receive = false, int ms = 10000) {
  if (secureOf(s)) return receive ? ::recvAll(s, (void*)p, n, ms, ms) : ::sendAll(s, p, n);
  for (char* c = (char*)p; n;) {
    pollfd f = {s, POLLIN, 0};
    ssize_t k = !receive ? send(s, c, n, MSG_NOSIGNAL) : poll(&f, 1, ms) > 0 ? recv(s, c, n, 0) : 0;
    if (k <= 0) return false;
    c += k;
    n -= (size_t)k;
  }
  return true;
}
bool recvAll(int s, void* p, size_t n, int ms = 10000) { return allBytes(s, p, n, true, ms); }

// Text in a NUL-padded block of size bytes (a size block is one of 16).
bool sendBlock(int s, const std::string& text, size_t size) {
  std::string b(size, 0);
  b.replace(0, std::min(text.size(), size - 1), text);
  return allBytes(s, b.data(), size);
}
bool sendFile(int s, const std::string& bytes) {
  return sendBlock(s, std::to_string(bytes.size()), 16) && allBytes(s, bytes.data(), bytes.size());
}

std::string slurp(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool actionOn(int s, const std::string& header, const std::string& body) {
  return sendBlock(s, header + " " + std::to_string(body.size() + 1), 32) && allBytes(s, body.c_str(), body.size() + 1);
}
bool action(const std::string& header, const char* body) { return actionOn(out, header, body); }

// One action read from s ("" when none came within ms): its word and body.
bool readAction(int s, std::string* word, std::string* body, int ms = 5000) {
  char h[32] = {0}, w[32];
  int n = 0;
  if (!recvAll(s, h, 32, ms)) return false;
  h[31] = 0;
  if (sscanf(h, "%31s %d", w, &n) != 2 || n < 0 || n > 32767) return false;
  std::string b(n, 0);
  if (n && !recvAll(s, &b[0], n, ms)) return false;
  *word = w;
  *body = b.c_str();
  return true;
}

// Both handshakes; 2 when the editor refuses the version.
int join() {
  lsock = socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  setsockopt(lsock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  // Set before listen: the accepted socket inherits it and its window.
  if (tinyBuffer) setsockopt(lsock, SOL_SOCKET, SO_RCVBUF, &TINY_RCVBUF, sizeof TINY_RCVBUF);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(PORT);
  if (bind(lsock, (sockaddr*)&a, sizeof a) < 0 || listen(lsock, 4) < 0) return 1;
  out = socket(AF_INET, SOCK_STREAM, 0);
  setsockopt(out, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  inet_pton(AF_INET, editorIp, &a.sin_addr);
  if (connect(out, (sockaddr*)&a, sizeof a) < 0) return 1;
  char name[256], ver[16];
  const char* shown = keyed ? AUTH_HIDDEN_NAME : myName;
  if (!sendBlock(out, shown, 256) || !recvAll(out, name, 256) || !sendBlock(out, myVersion, 16) ||
      !recvAll(out, ver, 16))
    return 1;
  ver[15] = name[255] = 0;
  // What the key proof binds: the handshake blocks in wire order.
  auto block = [](const char* text, size_t size) {
    std::string b(size, 0);
    return b.replace(0, std::min(strlen(text), size - 1), text);
  };
  std::string transcript = block(shown, 256) + block(name, 256) + block(myVersion, 16) + block(ver, 16);
  printf("editor %s version %s\n", name, ver);
  if (strcmp(ver, myVersion) != 0) {
    // A joiner closes without a token; the editor frees the slot at once.
    printf("Mauvaise version %s<>%s!\n", myVersion, ver);
    close(out);
    return 2;
  }
  if (!sendBlock(out, "REPEAT!", 8)) return 1;
  char proven[NAME_BLOCK];
  if (keyed && !authJoin(out, 0, editorIp, transcript + block("REPEAT!", 8), proven, master, nullptr)) return 1;
  if (noReverse) return 0;
  pollfd f = {lsock, POLLIN, 0};
  if (poll(&f, 1, 10000) != 1) return 1;
  back = accept(lsock, nullptr, nullptr);
  char token[8];
  if (!recvAll(back, name, 256) || !sendBlock(back, shown, 256) || !recvAll(back, ver, 16) ||
      !sendBlock(back, myVersion, 16) || !recvAll(back, token, 8))
    return 1;
  token[7] = ver[15] = name[255] = 0;
  printf("reverse token %s\n", token);
  std::string announced;
  transcript = block(name, 256) + block(shown, 256) + block(ver, 16) + block(myVersion, 16) + block(token, 8);
  if (keyed && !authServe(back, 0, 0, editorIp, transcript, proven, &announced, master, nullptr)) return 1;
  return strcmp(token, "THANKS!") == 0 ? 0 : 1;
}

// ---- attacks on a keyed editor ----
const char* const kHidden = AUTH_HIDDEN_NAME;

// A keyed joiner's opening on a new connection to ip: the base handshake
// with the hidden name, then "EXTENSIONS" and "AUTHNONCE nonce"; the
// editor's nonce and proof as it answered. -1 when it did not.
int keyOpen(const char* ip, const std::string& nonce, std::string* theirNonce, std::string* theirProof) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(PORT);
  inet_pton(AF_INET, ip, &a.sin_addr);
  int s = socket(AF_INET, SOCK_STREAM, 0);
  char name[256], ver[16];
  std::string w1, w2;
  if (connect(s, (sockaddr*)&a, sizeof a) < 0 || !sendBlock(s, kHidden, 256) || !recvAll(s, name, 256) ||
      !sendBlock(s, myVersion, 16) || !recvAll(s, ver, 16) || !sendBlock(s, "REPEAT!", 8) ||
      !actionOn(s, "EXTENSIONS", "AUTH SYNC") || !actionOn(s, "AUTHNONCE", nonce) ||
      !readAction(s, &w1, theirNonce) || !readAction(s, &w2, theirProof) || w1 != "AUTHNONCE" ||
      w2 != "AUTHPROOF") {
    close(s);
    return -1;
  }
  name[255] = 0;
  if (strcmp(name, kHidden) != 0) printf("editor sent its name %s before any proof\n", name);
  return s;
}

std::string randomNonce() {
  static unsigned seed = (unsigned)getpid();
  std::string hex;
  for (int k = 0; k < 64; k++) hex += "0123456789abcdef"[rand_r(&seed) % 16];
  return hex;
}

// After our proof and an edit: true when the editor closed the connection
// (refused us) rather than going on.
bool refused(int s) {
  std::string w, b;
  bool more = readAction(s, &w, &b, 6000);
  if (more) printf("editor went on: %s|%s\n", w.c_str(), b.c_str());
  close(s);
  return !more;
}

bool relay(const char* ip2) {
  std::string n1, p1, n2, p2;
  int s1 = keyOpen(editorIp, randomNonce(), &n1, &p1);
  int s2 = s1 < 0 ? -1 : keyOpen(ip2, n1, &n2, &p2);  // editor 1's challenge put to editor 2
  if (s2 < 0) return false;
  bool sent = actionOn(s1, "AUTHPROOF", p2) && actionOn(s2, "AUTHPROOF", p1) &&
              actionOn(s1, "PARTTHIS!", "map0 0 7 7 7") && actionOn(s2, "PARTTHIS!", "map0 0 7 7 7");
  bool r1 = refused(s1), r2 = refused(s2);
  printf("relay: sent %d, refused by %s %d and %s %d\n", sent, editorIp, r1, ip2, r2);
  return r1 && r2;
}

bool flush(int rounds) {
  std::string first, proof, n, p;
  int s = keyOpen(editorIp, randomNonce(), &first, &proof);
  if (s < 0) return false;
  close(s);
  int done = 0;
  for (int k = 0; k < rounds; k++) {
    s = keyOpen(editorIp, randomNonce(), &n, &p);
    done += s >= 0;
    if (s >= 0) close(s);
  }
  printf("flush: %d of %d proofs started\n", done, rounds);
  // The old nonce offered back, answered with the editor's own proof.
  s = keyOpen(editorIp, first, &n, &p);
  bool old = s < 0 || (actionOn(s, "AUTHPROOF", p), actionOn(s, "PARTTHIS!", "map0 0 8 8 8"), refused(s));
  // The nonce of a proof still under way offered back on a second connection.
  int live = keyOpen(editorIp, randomNonce(), &n, &p);
  std::string n2, p2;
  int back = live < 0 ? -1 : keyOpen(editorIp, n, &n2, &p2);
  bool reflected = live >= 0 && back < 0;
  if (back >= 0) actionOn(back, "AUTHPROOF", p), reflected = refused(back);
  if (live >= 0) close(live);
  printf("flush: old nonce refused %d, live nonce refused %d\n", old, reflected);
  return old && reflected;
}

bool addlayer(const char* map, const char* tileset, const char* png, const char* pss, bool cut) {
  if (!action("ADDLAYER", (std::string(map) + " " + tileset + " 0").c_str())) return false;
  char reply[7];
  if (!recvAll(out, reply, 7)) return false;
  reply[6] = 0;
  printf("reply %s\n", reply);
  if (strcmp(reply, "SENDIT") != 0) return true;
  std::string img = slurp(png), pc = slurp(pss);
  // Chunks of 16 KiB, the last one shorter (empty when the size divides).
  for (size_t off = 0, n = CHUNK; n == CHUNK; off += n) {
    n = std::min(img.size() - off, CHUNK);
    // "cut": a size block for the whole chunk, half of it, then the peer dies.
    if (!sendBlock(out, std::to_string(n), 16) || !allBytes(out, &img[off], cut ? n / 2 : n)) return false;
    if (cut) _exit(0);
  }
  return sendFile(out, pc);
}

// Sync copies. Base64 from libsodium: an encoder other than the editor's.
std::string base64(const unsigned char* p, size_t n) {
  std::string out(sodium_base64_ENCODED_LEN(n, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(&out[0], out.size(), p, n, sodium_base64_VARIANT_ORIGINAL);
  out.resize(strlen(out.c_str()));
  return out;
}

// "SYNCMAP MAP RAW COMP digest", then `data` in "SYNCDATA" bodies of 24000 bytes.
bool sendCopy(const char* map, size_t raw, size_t comp, const std::string& data) {
  const size_t piece = 24000;
  std::string head = std::string(map) + " " + std::to_string(raw) + " " + std::to_string(comp) +
                     " 0123456789abcdef0123456789abcdef";
  if (!action("SYNCMAP", head.c_str())) return false;
  for (size_t at = 0; at < data.size(); at += piece)
    if (!action("SYNCDATA", base64((const unsigned char*)data.data() + at, std::min(piece, data.size() - at)).c_str()))
      return false;
  return true;
}

// The map file layout: "$", two names, w, h, view, the layers top-down, "$".
void put16(std::string& s, unsigned v) { s += (char)(v & 255), s += (char)(v >> 8 & 255); }
void put32(std::string& s, uint32_t v) { put16(s, v & 0xFFFF), put16(s, v >> 16); }
void putName(std::string& s, const std::string& n) { put16(s, (unsigned)n.size() + 1), s += n, s += '\0'; }

bool syncmap(const char* map, int layers, uint32_t w, uint32_t h) {
  std::string f = "$";
  putName(f, "copy"), putName(f, map);
  put32(f, w), put32(f, h), put32(f, 0), put32(f, 0), put16(f, (unsigned)layers);
  for (int i = layers - 1; i >= 0; i--) {
    putName(f, "gone" + std::to_string(i));
    f.append((size_t)w * h * 4, '\0');
    f += '\0', put16(f, 0), put16(f, 0);
  }
  f += '$';
  uLongf n = compressBound((uLong)f.size());
  std::string comp(n, '\0');
  if (compress2((Bytef*)&comp[0], &n, (const Bytef*)f.data(), (uLong)f.size(), 1) != Z_OK) return false;
  comp.resize(n);
  return sendCopy(map, f.size(), comp.size(), comp);
}

// One mebibyte of zeros deflated after a full flush gives the same bytes
// every time: the stream is its start and that block over and over.
bool zeros(const char* map, size_t raw, int mib) {
  std::vector<unsigned char> in(1 << 20, 0), out(1 << 20);
  z_stream z = {};
  if (deflateInit(&z, 1) != Z_OK) return false;
  auto block = [&]() {
    z.next_in = in.data(), z.avail_in = (uInt)in.size();
    z.next_out = out.data(), z.avail_out = (uInt)out.size();
    deflate(&z, Z_FULL_FLUSH);
    return std::string((char*)out.data(), out.size() - z.avail_out);
  };
  std::string data = block(), again = block();
  deflateEnd(&z);
  for (int k = 1; k < mib; k++) data += again;
  printf("%zu compressed bytes for %d MiB of zeros\n", data.size(), mib);
  return sendCopy(map, raw, data.size() + 1, data);
}

// Reads one action on the reverse connection and prints it ("HEADER|BODY").
bool readAction(std::string* word) {
  char h[32] = {0}, w[32];
  int n = 0;
  if (!recvAll(back, h, 32, 60000)) return false;
  h[31] = 0;
  if (sscanf(h, "%31s %d", w, &n) != 2 || n < 0 || n > 32767) return false;
  std::string body(n, 0);
  if (n && !recvAll(back, &body[0], n)) return false;
  printf("%s|%s\n", w, body.c_str());
  *word = w;
  return true;
}

// Reads actions until one arrives, printing each; an "EXTENSIONS" action is
// passed over (logged) as a peer of the base protocol ignores it.
bool expect(const char* header) {
  for (std::string word;;) {
    if (!readAction(&word)) return false;
    if (word != "EXTENSIONS" || strcmp(header, "EXTENSIONS") == 0) return word == header;
  }
}

// Prints every action until one with HEADER (itself included).
bool collect(const char* header) {
  for (std::string word;;) {
    if (!readAction(&word)) return false;
    if (word == header) return true;
  }
}

// N pen actions on map0 (64x48), element k + 1 for the k-th, RATE a second
// (0: as fast as the socket takes them), as a paste sent in slices would.
bool flood(long n, long rate) {
  auto start = std::chrono::steady_clock::now();
  char body[64];
  for (long k = 0; k < n; k++) {
    if (rate > 0)
      while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * rate < k) usleep(200);
    snprintf(body, sizeof body, "map0 0 %ld %ld %ld", k % 64, (k / 64) % 48, k + 1);
    if (!action("PARTTHIS!", body)) return false;
  }
  printf("flood %ld sent in %.2f s\n", n,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return true;
}

// ROUNDS pastes of W x H cells of noise at the top-left corner of layer 0
// of MAP, GAP ms apart, as an editor with the "CELLS" extension sends one:
// blocks of whole rows, at most CELLS_MAX cells each. "paste K start" is
// printed as the K-th begins.
bool paste(const char* map, int w, int h, int rounds, int gapMs) {
  const int CELLS_MAX = 4096;
  if (w <= 0 || h <= 0 || w > CELLS_MAX || !action("EXTENSIONS", "CELLS")) return false;
  int rowsPerBlock = CELLS_MAX / w;
  uint32_t seed = 12345;
  for (int k = 0; k < rounds; k++) {
    printf("paste %d start\n", k);
    for (int y = 0; y < h; y += rowsPerBlock) {
      int rows = std::min(rowsPerBlock, h - y);
      std::vector<unsigned char> bytes((size_t)rows * w * 4);
      for (size_t c = 0; c < bytes.size(); c += 4) {
        seed = seed * 1103515245u + 12345u;
        bytes[c] = (unsigned char)(1 + (seed >> 16) % 255);  // a value 1..255, little-endian
      }
      std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), 0);
      sodium_bin2base64(&text[0], text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
      char head[300];
      snprintf(head, sizeof head, "%s 0 0 %d %d %d ", map, y, w, rows);
      if (!action("CELLS", (head + std::string(text.c_str())).c_str())) return false;
    }
    printf("paste %d sent\n", k);
    usleep(1000 * gapMs);
  }
  return true;
}

// The editor logs "setElementAbsolute(map,layer,x,y,element);" on its main
// thread as it applies a received pen action. Each round writes a value not
// used before and waits, woken by inotify, until the log holds its line.
bool latency(int rounds, const char* logPath) {
  int in = inotify_init1(IN_CLOEXEC);
  FILE* log = fopen(logPath, "rb");
  if (in < 0 || !log || inotify_add_watch(in, logPath, IN_MODIFY) < 0) return false;
  fseek(log, 0, SEEK_END);
  std::vector<double> us;
  std::string seen;
  for (int k = 0; k < rounds; k++) {
    int value = 100000 + k;
    char body[64], want[32];
    snprintf(body, sizeof body, "map0 0 %d %d %d", k % 32, k / 32 % 32, value);
    snprintf(want, sizeof want, ",%d);\n", value);
    auto t0 = std::chrono::steady_clock::now();
    if (!action("PARTTHIS!", body)) return false;
    for (;;) {
      char buf[65536];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, log)) > 0) seen.append(buf, n);
      clearerr(log);
      if (seen.find(want) != std::string::npos) break;
      pollfd f = {in, POLLIN, 0};
      if (poll(&f, 1, 5000) != 1) return false;
      char ev[4096];
      if (read(in, ev, sizeof ev) < 0) return false;
    }
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    // Keep only the tail: the next value is searched in what follows.
    seen.erase(0, seen.size() > 256 ? seen.size() - 256 : 0);
    usleep(2000 + (unsigned)(k * 7919 % 3000));  // a pen stroke's pace, off the 1 ms poll's phase
  }
  fclose(log);
  close(in);
  std::sort(us.begin(), us.end());
  printf("send to applied in a real editor over %d rounds: p50 %.0f us, p99 %.0f us\n", rounds,
         us[us.size() / 2], us[us.size() * 99 / 100]);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 4) return 1;
  editorIp = argv[1];
  myName = argv[2];
  myVersion = argv[3];
  snprintf(username, sizeof username, "%s", myName);  // what the session channel names us
  for (int i = 4; i < argc; i++) {
    std::string s = argv[i];
    bool ok = true;
    if (s == "tiny" || s == "nowait") {
      (s == "tiny" ? tinyBuffer : noReverse) = true;
    } else if (s == "key" && i + 1 < argc) {
      authMasterKey(argv[++i], master);
      keyed = true;
    } else if (s == "join") {
      if (int r = join()) return r;
    } else if (s == "act" && i + 2 < argc) {
      ok = action(argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (s == "addlayer" && i + 4 < argc) {
      bool cut = i + 5 < argc && strcmp(argv[i + 5], "cut") == 0;
      ok = addlayer(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4], cut);
      i += cut ? 5 : 4;
    } else if (s == "sendpc" && i + 2 < argc) {
      ok = action("SENDPC", argv[i + 1]) && sendFile(out, slurp(argv[i + 2]));
      i += 2;
    } else if (s == "expect" && i + 1 < argc) {
      ok = expect(argv[++i]);
    } else if (s == "flood" && i + 2 < argc) {
      ok = flood(atol(argv[i + 1]), atol(argv[i + 2]));
      i += 2;
    } else if (s == "collect" && i + 1 < argc) {
      ok = collect(argv[++i]);
    } else if (s == "latency" && i + 2 < argc) {
      ok = latency(atoi(argv[i + 1]), argv[i + 2]);
      i += 2;
    } else if (s == "syncmap" && i + 4 < argc) {
      ok = syncmap(argv[i + 1], atoi(argv[i + 2]), (uint32_t)atol(argv[i + 3]), (uint32_t)atol(argv[i + 4]));
      i += 4;
    } else if (s == "zeros" && i + 3 < argc) {
      ok = zeros(argv[i + 1], (size_t)atoll(argv[i + 2]), atoi(argv[i + 3]));
      i += 3;
    } else if (s == "paste" && i + 5 < argc) {
      ok = paste(argv[i + 1], atoi(argv[i + 2]), atoi(argv[i + 3]), atoi(argv[i + 4]), atoi(argv[i + 5]));
      i += 5;
    } else if (s == "relay" && i + 1 < argc) {
      ok = relay(argv[++i]);
    } else if (s == "flush" && i + 1 < argc) {
      ok = flush(atoi(argv[++i]));
    } else if (s == "sleep" && i + 1 < argc) {
      usleep(1000 * atoi(argv[++i]));
    } else if (s == "bye") {
      ok = sendBlock(out, "DISCONNECT! 0", 32);
    } else {
      fprintf(stderr, "bad step %s\n", argv[i]);
      return 1;
    }
    if (!ok) {
      printf("step %s failed\n", s.c_str());
      return 1;
    }
  }
  return 0;
}
