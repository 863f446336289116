// The action senders and actionSend: one send thread per peer, each writing
// the header block, the body and any file transfer on its own connection.
#include <arpa/inet.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <condition_variable>
#include <thread>

#include "editor/editor.h"
#include "model/model.h"
#include "net/netio.h"
#include "shell/shell.h"
#include "toolkit/video.h"

namespace {
// While an action is being sent the main thread shows the network-activity
// picture in the map view and redraws it this often, so a long transfer does
// not look frozen. The send threads never draw.
const int ACTIVITY_REDRAW_MS = 100;

// Counts the send threads of one action that have finished.
struct SendDone {
  std::mutex lock;
  std::condition_variable changed;
  size_t count = 0;
};

// One action for one peer, handed to its send thread as its argument.
struct SendJob {
  int slot;
  int socket;
  uint32_t host;  // network order
  uint16_t port;
  const char* header;
  const char* corps;
  const char* chipset;                      // ADDLAYER and SENDPC
  const std::vector<unsigned char>* pass;   // their pass conditions
};

int clientSend(const SendJob& job) {
  int n = (int)strlen(job.corps) + 1;
  char head[HEADER_BLOCK];
  formatHeader(head, job.header, n);
  printf("Action reseau -> X.X.X.%d:%d : %s,%s\n!", (int)(ntohl(job.host) & 0xFF), job.port, head,
         job.corps);
  bool ok = sendAll(job.socket, head, HEADER_BLOCK);
  if (ok) printf("...\n");
  ok = ok && sendAll(job.socket, job.corps, (size_t)n);
  if (ok && strcmp(job.header, "ADDLAYER") == 0) ok = offerTileset(job.socket, job.chipset, *job.pass);
  if (ok && strcmp(job.header, "SENDPC") == 0) ok = sendPC(*job.pass, job.socket);
  if (!ok) printf("Envoi de %s impossible sur le tunnel %d.\n", job.header, job.slot);
  return 1;
}

// Formats a body; false (logged) when it does not fit its buffer, so a
// truncated body never goes on the wire.
bool body(char* out, size_t cap, const char* header, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int k = vsnprintf(out, cap, fmt, ap);
  va_end(ap);
  if (k >= 0 && (size_t)k < cap) return true;
  printf("Action %s trop longue: non envoyee!\n", header);
  return false;
}

// Draws the map view, which shows the network-activity picture while
// antenneWifi is set, and puts it on the screen. A receiving thread that
// ends its action clears the flag meanwhile: it is set again while sending.
void showActivity() {
  antenneWifi = true;
  drawWindow();
  blitWindow();
}

pMap mapInSlot(long map) {
  if (!project.listeMaps || map < 0 || map >= project.nbreMaps) return nullptr;
  return project.listeMaps[map];
}
}  // namespace

void actionSend(const char* header, const char* corps) {
  if (stop) return;
  std::vector<SendJob> jobs;
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++)
      if (peers[i].clientReady && peers[i].clientSocket >= 0)
        jobs.push_back(SendJob{i, peers[i].clientSocket, peers[i].inHost ? peers[i].inHost : peers[i].outHost,
                               peers[i].inPort, header, corps, nullptr, nullptr});
  }
  if (jobs.empty()) return;
  antenneWifi = true;
  // The pass conditions are read here, on the main thread, once for all peers.
  char chipset[BODY_LEN] = "";
  std::vector<unsigned char> pass;
  if (strcmp(header, "ADDLAYER") == 0) sscanf(corps, "%*s %255s", chipset);
  if (strcmp(header, "SENDPC") == 0) sscanf(corps, "%255s", chipset);
  if (chipset[0]) pass = passConditionsOf(chipset);
  int n = (int)strlen(corps) + 1;
  std::vector<std::thread> threads;
  SendDone done;
  for (SendJob& job : jobs) {
    printf("%d->corps:%d!%s!\n", job.slot, n, corps);
    job.chipset = chipset;
    job.pass = &pass;
    threads.emplace_back([job, &done] {
      clientSend(job);
      std::lock_guard<std::mutex> g(done.lock);
      done.count++;
      done.changed.notify_one();
    });
  }
  // The view is drawn here, on the main thread, while the threads send.
  std::unique_lock<std::mutex> g(done.lock);
  while (done.count < threads.size()) {
    g.unlock();
    showActivity();
    g.lock();
    done.changed.wait_for(g, std::chrono::milliseconds(ACTIVITY_REDRAW_MS),
                          [&] { return done.count >= threads.size(); });
  }
  g.unlock();
  for (std::thread& t : threads) t.join();
  antenneWifi = false;
}

void action_SetElementAbsolute(const char* map, int layer, unsigned long x, unsigned long y,
                               int element) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "PARTTHIS!", "%s %d %ld %ld %ld", map, layer, (long)x, (long)y,
                  (long)element))
    actionSend("PARTTHIS!", corps);
  setElementAbsolute(getMap(map), layer, x, y, element);
}

void action_SetElementSquare(const char* map, int layer, unsigned long x1, unsigned long y1,
                             unsigned long x2, unsigned long y2, int element) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "DRAWSQUARE", "%s %d %ld %ld %ld %ld %ld", map, layer, (long)x1,
                  (long)y1, (long)x2, (long)y2, (long)element))
    actionSend("DRAWSQUARE", corps);
  setElementSquare(map, layer, x1, y1, x2, y2, element);
}

void action_addLayer(long map, const char* chipset, bool bg) {
  pMap m = mapInSlot(map);
  if (!m) {
    printf("action_addLayer(%ld) refuse: map absente!\n", map);
    return;
  }
  // Added here first: the peers get the tileset and pass conditions this
  // editor now has, and a refused layer is not sent.
  int before = m->layers;
  addLayer(m, chipset, bg);
  char corps[BODY_LEN];
  if (net && m->layers > before &&
      body(corps, sizeof corps, "ADDLAYER", "%s %s %d", m->filename, chipset, bg ? 1 : 0))
    actionSend("ADDLAYER", corps);
}

void action_deleteLayer(long map, long l) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "DELETELAYER", "%ld %ld", map, l)) actionSend("DELETELAYER", corps);
  pMap m = mapInSlot(map);
  if (m)
    deleteLayer(m, l);
  else
    printf("action_deleteLayer(%ld) refuse: map absente!\n", map);
}

bool action_newMap(const char* smap, unsigned long w, unsigned long h) {
  if (!validName(smap)) return false;
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "NEWMAP", "%s %ld %ld", smap, (long)w, (long)h))
    actionSend("NEWMAP", corps);
  return newMapFile(smap, w, h);
}

void action_setLayerBGXY(const char* map, int layer, char bg, int x, int y) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "SETLAYERBGXY", "%s %d %d %d %d", map, layer, (int)bg, x, y))
    actionSend("SETLAYERBGXY", corps);
}

void action_sendMapSysname(const char* filename, const char* sysname) {
  char corps[SYSNAME_BODY_LEN];
  if (net && body(corps, sizeof corps, "SENDMAPSYSNAME", "%s %s", filename, sysname))
    actionSend("SENDMAPSYSNAME", corps);
}

void action_sendPC(const char* chipset) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "SENDPC", "%s", chipset)) actionSend("SENDPC", corps);
}

void action_silentopen(const char* map) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "SILENTOPEN", "%s", map)) actionSend("SILENTOPEN", corps);
}

void action_silentclose(const char* map) {
  char corps[BODY_LEN];
  if (net && body(corps, sizeof corps, "SLIENTCLOSE", "%s", map)) actionSend("SLIENTCLOSE", corps);
}
