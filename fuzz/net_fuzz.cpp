// libFuzzer target: the bytes a peer sends after the handshake. Framing,
// the session-key exchange, the interpreter and the receiving side of the transfers must take any
// bytes without crashing, reading out of bounds or writing outside the
// project's folders.
#include <SDL/SDL.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "model/model.h"
#include "net/auth.h"
#include "net/net.h"
#include "net/netio.h"
#include "net/sync.h"
#include "shell/project.h"
#include "shell/shell.h"

namespace {
void setUp() {
  const char* tmp = getenv("TMPDIR");
  char dir[512];
  snprintf(dir, sizeof dir, "%s/moska-netfuzz-XXXXXX", tmp ? tmp : "/tmp");
  if (!mkdtemp(dir)) abort();
  snprintf(projectPath, sizeof projectPath, "%s/", dir);
  for (const char* sub : {"layers", "layerspc", "maps", "models"})
    mkdir((std::string(projectPath) + sub).c_str(), 0755);
  if (!newMapFile("map0", 8, 8) || !newMapFile("map1", 4, 4)) abort();
  projectLoaded = true;
}

// Feeds the rest of the input to a receiving side through a socket pair
// whose writing end is then closed, as by a peer that stops there.
bool feed(const uint8_t* p, size_t n, bool tileset, const char* body) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) abort();
  if (n > 65536) n = 65536;  // fits the pair's buffer
  if (n) sendAll(sv[1], p, n);
  shutdown(sv[1], SHUT_WR);
  bool ok = tileset ? receiveTileset(sv[0], body) : receivePC(sv[0], body);
  close(sv[0]);
  close(sv[1]);
  return ok;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  freopen("/dev/null", "w", stdout);  // the log is huge under fuzzing
  setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  modelReset();
  if (openMapInFreeSlot("map0") < 0) abort();
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  static std::string body;
  size_t at = 1;
  int slot = size ? data[0] % MAX_PEERS : 0;
  // The top bit: a peer that announced SYNC and ENTITIES, whose actions of them count.
  syncReset();
  peers[slot].clientReady = size && (data[0] & 0x80);
  peers[slot].extensions = peers[slot].clientReady ? EXT_SYNC | EXT_ENTITIES : 0;
  while (at + HEADER_BLOCK <= size) {
    char head[HEADER_BLOCK], command[HEADER_BLOCK];
    memcpy(head, data + at, HEADER_BLOCK);
    at += HEADER_BLOCK;
    int n = 0;
    if (!parseHeader(head, command, &n)) break;  // the connection would be dropped
    if ((size_t)n > size - at) break;
    body.assign((const char*)data + at, (size_t)n);
    at += (size_t)n;
    if (n == 0) body = "?";
    if (strcmp(command, "DISCONNECT!") == 0) {
      releasePeerMap(slot);
      break;
    }
    bool tileset = strcmp(command, "ADDLAYER") == 0 || strcmp(command, "SYNCTILESET") == 0;
    bool pc = strcmp(command, "SENDPC") == 0;
    if ((tileset || pc) && !feed(data + at, size - at, tileset, body.c_str())) break;
    readActions(command, body.c_str(), slot);
    if (tileset || pc) break;  // the transfer took the rest of the input
  }
  // Nothing but the project's own folders was written.
  struct stat st;
  if (stat((std::string(projectPath) + "../escape").c_str(), &st) == 0) abort();
  return 0;
}
