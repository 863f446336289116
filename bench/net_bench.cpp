// Network benchmark between two processes (run by bench/net_bench.sh, each in
// its own network namespace): latency of "PARTTHIS!" from send to applied at
// the peer, and a 16 MiB tileset transfer next to raw TCP on the same link,
// both timed from the first byte sent until the sender hears that the
// receiver holds the last one, and raw TCP written to a file the way a
// received tileset is; median of TRANSFERS rounds, alternating.
//   net_bench echo [KEY]            serves; echoes each pen action back
//   net_bench drive PEER_IP [KEY]   joins, measures, prints figures
// With KEY both hold that session key: every byte goes through the
// encrypted channel, and the figures' lines start with "keyed: ".
#include <SDL/SDL.h>
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "model/model.h"
#include "net/auth.h"
#include "net/net.h"
#include "net/netio.h"
#include "shell/project.h"
#include "shell/shell.h"

namespace {
const int ROUNDS = 2000;
const size_t TILESET = 16u << 20;
const int RAW_PORT = 34568;
const int TRANSFERS = 5;
// Both sides sleep until the network queues work, as the editor's frame wait
// does: a polling loop would take a core from the transfer it times.
const int WAIT_US = 100000;

double nowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

const char* tag = "";  // "keyed: " with a session key

void setUp(const char* who, const char* key) {
  char dir[64];
  snprintf(dir, sizeof dir, "/tmp/moska-netbench-%s-XXXXXX", who);
  if (!mkdtemp(dir)) exit(1);
  snprintf(projectPath, sizeof projectPath, "%s/", dir);
  for (const char* sub : {"layers", "layerspc", "maps", "models"})
    mkdir((std::string(projectPath) + sub).c_str(), 0755);
  freopen("/dev/null", "w", stdout);  // the log of every cell write
  setvbuf(stdout, nullptr, _IOLBF, 0);  // line-buffered, as the editor's log
  newMapFile("map0", 64, 64);
  openMapInFreeSlot("map0");
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  projectLoaded = true;
  snprintf(username, sizeof username, "%s", who);
  if (key) {
    authReadKey(key);
    tag = "keyed: ";
  }
  initNet();
}

int32_t& cell(int x) { return project.listeMaps[0]->layer[0]->e[x]; }

// Receives 2 * TRANSFERS raw copies, answering "!" when the last byte is in;
// every second one is also written to a file in 1 MiB writes, as a received
// tileset is (the part of a tileset's time that is the disk's).
void rawServer() {
  int ls = netListen(NetHost(), RAW_PORT, nullptr);
  std::vector<char> buf(1 << 20);
  for (int round = 0; round < 2 * TRANSFERS; round++) {
    int s = netAccept(ls, 60000, nullptr);
    bool toFile = round % 2;
    std::string path = std::string(projectPath) + "raw.bin";
    FILE* f = toFile ? fopen(path.c_str(), "wb") : nullptr;
    size_t got = 0, used = 0;
    while (got < TILESET) {
      ssize_t k = recv(s, buf.data() + used, buf.size() - used, 0);
      if (k <= 0) break;
      got += (size_t)k;
      used = toFile ? used + (size_t)k : 0;
      if (used == buf.size() || (f && got == TILESET)) {
        fwrite(buf.data(), 1, used, f);
        used = 0;
      }
    }
    if (f) fclose(f);
    sendAll(s, "!", 1);
    remove(path.c_str());  // not timed: the tileset's file stays too
    netClose(s);
  }
  netClose(ls);
}

int echo(const char* key) {
  setUp("echo", key);
  std::thread raw(rawServer);
  int32_t last = 0;
  int layers = 1;
  double end = nowUs() + 300e6;
  while (nowUs() < end) {
    netPump();
    if (cell(0) != last) {
      last = cell(0);
      if (last < 0) break;
      action_SetElementAbsolute("map0", 0, 1, 0, last);
    }
    // A received tileset is in place when its layer is added: say so.
    if (project.listeMaps[0]->layers != layers) {
      layers = project.listeMaps[0]->layers;
      action_SetElementAbsolute("map0", 0, 2, 0, layers);
    }
    netWaitQueued(WAIT_US);
  }
  raw.join();
  return 0;
}

int drive(const char* peer, const char* key) {
  setUp("drive", key);
  FILE* out = fdopen(dup(2), "w");
  if (joinServer(peer) != 1) return 1;
  while (!usedMap[0]) {
    netPump();
    usleep(1000);
  }
  std::vector<double> rtt;
  for (int k = 1; k <= ROUNDS; k++) {
    double t0 = nowUs();
    action_SetElementAbsolute("map0", 0, 0, 0, k);
    for (netPump(); cell(1) != k; netPump()) netWaitQueued(WAIT_US);
    rtt.push_back(nowUs() - t0);
  }
  std::sort(rtt.begin(), rtt.end());
  // The tilesets: written here, offered with "ADDLAYER", pulled by the peer,
  // which answers once the layer is added; raw TCP answered by a byte.
  std::string img(TILESET, 0);
  for (size_t i = 0; i < img.size(); i++) img[i] = (char)(i * 2654435761u >> 24);
  NetAddress raw;
  parseHost(peer, &raw.host);
  raw.port = RAW_PORT;
  std::vector<double> tileUs, rawUs;
  std::vector<double> fileUs;
  for (int round = 0; round < TRANSFERS; round++) {
    for (std::vector<double>* to : {&rawUs, &fileUs}) {
      double t0 = nowUs();
      int s = netConnect(raw, 5000);
      sendAll(s, img.data(), img.size());
      char c;
      recvAll(s, &c, 1, 30000);
      to->push_back(nowUs() - t0);
      netClose(s);
    }
    char name[16];
    snprintf(name, sizeof name, "big%d", round);
    FILE* f = fopen((std::string(projectPath) + "layers/" + name + ".png").c_str(), "wb");
    fwrite(img.data(), 1, img.size(), f);
    fclose(f);
    double t0 = nowUs();
    action_addLayer(0, name, false);
    for (netPump(); cell(2) != round + 2; netPump()) netWaitQueued(WAIT_US);
    tileUs.push_back(nowUs() - t0);
  }
  std::sort(tileUs.begin(), tileUs.end());
  std::sort(rawUs.begin(), rawUs.end());
  std::sort(fileUs.begin(), fileUs.end());
  double tileMedian = tileUs[TRANSFERS / 2], rawMedian = rawUs[TRANSFERS / 2], fileMedian = fileUs[TRANSFERS / 2];
  action_SetElementAbsolute("map0", 0, 0, 0, -1);  // ends the echo once it is sent
  for (int t = 0; t < 3000 && sendPending() > 0; t++) usleep(1000);
  double mb = TILESET / 1048576.0;
  fprintf(out, "%sPARTTHIS! round trip over %d rounds: p50 %.0f us, p99 %.0f us\n", tag, ROUNDS,
          rtt[rtt.size() / 2], rtt[rtt.size() * 99 / 100]);
  fprintf(out, "%ssend to applied at the peer (half a round trip): p50 %.0f us, p99 %.0f us\n", tag,
          rtt[rtt.size() / 2] / 2, rtt[rtt.size() * 99 / 100] / 2);
  fprintf(out, "%s16 MiB tileset transfer (median of %d, until the receiver holds it): %.1f MiB/s; "
          "raw TCP on the same link: %.1f MiB/s (ratio %.2f)\n",
          tag, TRANSFERS, mb / (tileMedian / 1e6), mb / (rawMedian / 1e6), rawMedian / tileMedian);
  fprintf(out, "%sraw TCP written to a file as received (1 MiB writes): %.1f MiB/s (tileset ratio %.2f)\n",
          tag, mb / (fileMedian / 1e6), fileMedian / tileMedian);
  fclose(out);
  stop = true;
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_Init(SDL_INIT_VIDEO);
  if (argc >= 2 && strcmp(argv[1], "echo") == 0) return echo(argc >= 3 ? argv[2] : nullptr);
  if (argc >= 3 && strcmp(argv[1], "drive") == 0) return drive(argv[2], argc >= 4 ? argv[3] : nullptr);
  fprintf(stderr, "usage: net_bench echo [KEY] | net_bench drive PEER_IP [KEY]\n");
  return 2;
}
