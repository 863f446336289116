// Presence: the bytes one peer receives while the user paints without a
// pause (the real editor's frames with scripted input, against the pen's
// own cell writes in the same run), and the processor time of drawing 16
// peers' pointers and footprints over the view (against drawing the view).
//   presence_bench [APP_DIR]
#include <SDL/SDL.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "benchutil.h"
#include "core/files.h"
#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"
#include "net/netio.h"
#include "net/presence.h"
#include "platform/os.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "toolkit/video.h"

namespace {
const int kSeconds = 5;        // painting, per frame rate
const int kMapSide = 256;
const int kPeers = 16;
const int kDrawRounds = 7, kDrawsPerRound = 200;

// What the peer's end of the link received, by kind.
struct Received {
  std::atomic<long long> presence{0}, other{0};
  std::atomic<int> updates{0};
};

void drain(int s, Received* got) {
  char head[HEADER_BLOCK], word[HEADER_BLOCK];
  std::vector<char> body(RECV_BUFFER + 1);
  for (;;) {
    int n = 0;
    if (!recvAll(s, head, HEADER_BLOCK, -1) || !parseHeader(head, word, &n)) return;
    if (n > 0 && !recvAll(s, body.data(), (size_t)n, 5000)) return;
    long long bytes = HEADER_BLOCK + n;
    if (strcmp(word, "PRESENCE") == 0) {
      got->presence += bytes;
      got->updates++;
    } else {
      got->other += bytes;
    }
  }
}

double threadMs() { return benchClock(CLOCK_THREAD_CPUTIME_ID) * 1e3; }

// The pen held down, the pointer one cell further every frame along the
// map's rows, at `rate` frames a second for kSeconds.
void paintTraffic(int rate) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return;
  Received got;
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[0].clientReady = true;
    peers[0].extensions = EXT_PRESENCE;
    snprintf(peers[0].clientNames, sizeof peers[0].clientNames, "peer");
    peers[0].clientSocket = sv[0];
    startSender(0);
  }
  std::thread reader(drain, sv[1], &got);
  int frames = rate * kSeconds, cols = (surfaceWidth(window) / TILE) - 1;
  fps = rate;
  stop = false;
  int saved = benchLogAway();
  startPacing();
  double start = benchNow();
  for (int f = 0; f <= frames; f++) {
    waitFrame();
    // The input of a frame with the left button held, as the frame pump
    // leaves it (set here: SDL's dummy driver has no input of its own, and
    // scripted input would not wait for the frames).
    mouseX = PANEL_WIDTH + TILE / 2 + TILE * (f % cols);
    mouseY = TILE / 2 + TILE * ((f / cols) % 20);
    leftClic = true;
    inputFrame = InputFrame();
    inputFrame.path[0] = InputPoint{mouseX, mouseY, BUTTON_LEFT};
    inputFrame.pathLen = 1;
    refresh();
  }
  double seconds = benchNow() - start;
  stop = true;
  stopPacing();
  while (sendQueuedFor(0) > 0) usleep(1000);
  usleep(100000);
  benchLogBack(saved);
  netReset();
  shutdown(sv[1], SHUT_RDWR);
  reader.join();
  close(sv[0]);
  close(sv[1]);
  printf("presence traffic while painting at %d fps: %.0f B/s per peer, %.1f updates/s (goal <= 2048 B/s); "
         "pen cell writes %.0f B/s (%d frames in %.2f s)\n",
         rate, got.presence / seconds, got.updates / seconds, got.other / seconds, frames, seconds);
}

// Median processor time of one drawPeers call, every peer's pointer still
// for idleMs.
double drawPeersMs(uint32_t idleMs) {
  std::vector<double> rounds;
  for (int r = 0; r < kDrawRounds; r++) {
    for (int i = 0; i < kPeers; i++) peers[i].presence.movedAt = coreMillis() - idleMs;
    double t = threadMs();
    for (int k = 0; k < kDrawsPerRound; k++) drawPeers();
    rounds.push_back((threadMs() - t) / kDrawsPerRound);
  }
  return benchMedian(rounds);
}

// 16 peers on the map shown, pointers spread over the view, half with a
// selection of 6 x 4 cells, half with the pen's one cell.
void drawCost() {
  Map* m = currentMapOrNull();
  m->viewX = m->viewY = 0;
  int cols = surfaceWidth(window) / TILE, rows = surfaceHeight(window) / TILE;
  for (int i = 0; i < kPeers; i++) {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].clientReady = true;
    peers[i].extensions = EXT_PRESENCE;
    snprintf(peers[i].clientNames, sizeof peers[i].clientNames, "editor%02d", i);
  }
  char body[PRESENCE_BODY_MAX];
  int saved = benchLogAway();
  for (int i = 0; i < kPeers; i++) {
    int x = 2 + (i % 4) * (cols / 4), y = 2 + (i / 4) * (rows / 4), w = i % 2 ? 6 : 1, h = i % 2 ? 4 : 1;
    snprintf(body, sizeof body, "map0 %d %d %s %d %d %d %d 0 0 %d %d %06x", x + w - 1, y + h - 1, i % 2 ? "s" : "b",
             x, y, w, h, cols, rows, presenceColourOf(peers[i].clientNames));
    readActions("PRESENCE", body, i);
  }
  std::vector<double> view;
  for (int r = 0; r < kDrawRounds; r++) {
    double t = threadMs();
    drawWindow();
    view.push_back(threadMs() - t);
  }
  double moving = drawPeersMs(0);
  double fading = drawPeersMs(PRESENCE_IDLE_MS + PRESENCE_FADE_MS / 2);
  // Each peer's pen over 64 cells a moment ago: the flash of the whole ring.
  for (int i = 0; i < kPeers; i++) {
    for (int k = 0; k < PRESENCE_WRITE_RING; k++) {
      snprintf(body, sizeof body, "map0 0 %d %d 1", (i * 7 + k) % cols, (i * 3 + k / 8) % rows);
      readActions("PARTTHIS!", body, i);
    }
  }
  double flashing = drawPeersMs(0);
  benchLogBack(saved);
  printf("draw %d peers' pointers and footprints at %dx%d: %.4f ms per frame (goal <= 0.1 ms); fading %.4f ms; "
         "with %d flashing writes each %.4f ms; map view %.3f ms\n",
         kPeers, (int)video_x, (int)video_y, moving, fading, PRESENCE_WRITE_RING, flashing, benchMedian(view));
}
}  // namespace

int main(int argc, char** argv) {
  int saved;
  if (!benchViewMap(argc, argv, 1920, 1080, kMapSide, &saved)) return 1;
  benchLogBack(saved);
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  snprintf(project.currentMenu, sizeof project.currentMenu, "map");
  snprintf(username, sizeof username, "painter");
  project.currentElement = 1;
  net = true;
  projectLoaded = true;
  paintTraffic(30);
  paintTraffic(60);
  drawCost();
  SDL_Quit();
  return 0;
}
