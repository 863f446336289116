// Sync costs inside one editor, on a project of 4 maps of 512x512 cells and
// 4 layers (16 MiB of cells), each figure the median of several rounds:
//  - digests of every map, against memcpy of the same bytes;
//  - the reference's work per stale map (map bytes, zlib, base64) and the
//    joiner's (decode, inflate, parse, replace and save), and the bytes sent;
//  - per edit: a pen edit sent to a stamping peer against one sent to a
//    base peer, a received stamped edit against an unstamped one, and the
//    stamp memory after 100000 edits.
// Per-edit figures alternate the two cases for 9 rounds. The network part
// of a join, and its bytes, are measured by bench/sync_bench.sh.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "benchutil.h"
#include "model/digest.h"
#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "core/core.h"
#include "core/files.h"

namespace {
const int MAPS = 4, LAYERS = 4, SIDE = 512, ROUNDS = 5, EDIT_ROUNDS = 9, EDITS = 100000;

double nowMs() { return benchNow() * 1e3; }



// Ground tiles from a small set with runs, sparse objects above: a map as
// people make them, neither all zeros nor noise.
void fill(Map* m, unsigned seed) {
  for (int l = 0; l < m->layers; l++) {
    int32_t* e = m->layer[l]->e;
    for (size_t c = 0; c < (size_t)SIDE * SIDE; c++) {
      seed = seed * 1103515245u + 12345u;
      unsigned r = seed >> 16;
      e[c] = l == 0 ? (int32_t)(r % 7 == 0 ? r % 48 : (c / 37) % 5) : (r % 23 == 0 ? (int32_t)(r % 200) : 0);
    }
  }
}

template <class F>
double timeIt(F f) {
  std::vector<double> t;
  for (int r = 0; r < ROUNDS; r++) {
    double s = nowMs();
    f();
    t.push_back(nowMs() - s);
  }
  return benchMedian(t);
}
}  // namespace

int main() {
  std::string dir = benchProject();
  net = true;
  int saved = benchLogAway();
  std::vector<Map*> maps;
  for (int k = 0; k < MAPS; k++) {
    newMap(SIDE, SIDE);
    Map* m = project.listeMaps[k];
    while (m->layers < LAYERS) addLayer(m, "default", false);
    fill(m, 7 + k);
    saveMap(k);
    maps.push_back(m);
  }
  size_t cellBytes = (size_t)MAPS * LAYERS * SIDE * SIDE * 4;

  // Digests against memcpy of the same bytes.
  std::vector<int32_t> copy((size_t)SIDE * SIDE);
  double digestMs = timeIt([&] {
    for (Map* m : maps) mapDigest(m);
  });
  double memcpyMs = timeIt([&] {
    for (Map* m : maps)
      for (int l = 0; l < LAYERS; l++) memcpy(copy.data(), m->layer[l]->e, copy.size() * 4);
  });

  // One stale map each way, as a join moves it.
  size_t sent = 0, raw = 0;
  std::vector<std::string> texts;
  double sendMs = timeIt([&] {
    sent = raw = 0;
    texts.clear();
    for (Map* m : maps) {
      std::vector<unsigned char> bytes;
      projectMapBytes(m->filename, bytes);
      uLongf n = compressBound((uLong)bytes.size());
      std::vector<unsigned char> z(n);
      compress2(z.data(), &n, bytes.data(), (uLong)bytes.size(), Z_BEST_SPEED);
      texts.push_back(base64Encode(z.data(), n));
      sent += texts.back().size();
      raw += bytes.size();
    }
  });
  // The joiner's side: the received text back to a map, its old copy kept.
  for (Map* m : maps) m->layer[0]->e[5] ^= 1;  // stale: every map differs
  int kept = 0;
  double takeMs = timeIt([&] {
    for (int k = 0; k < MAPS; k++) {
      std::vector<unsigned char> z, bytes(raw / MAPS + 4096);
      base64Decode(texts[k].c_str(), texts[k].size(), z);
      uLongf n = bytes.size();
      uncompress(bytes.data(), &n, z.data(), z.size());
      maps[k]->layer[0]->e[5] ^= 1;  // differs again, so each round replaces
      char path[FILE_PATH_LEN];
      replaceProjectMap(maps[k]->filename, bytes.data(), n, path, sizeof path);
      kept += path[0] != 0;
    }
  });

  // Per edit: sent to a stamping peer against a base peer.
  peers[1].clientReady = true;
  auto penEdits = [&](unsigned ext, int n) {
    peers[1].extensions = ext;
    double s = nowMs();
    for (int i = 0; i < n; i++) action_SetElementAbsolute(maps[0]->filename, 1, i % SIDE, (i / SIDE) % SIDE, i);
    return (nowMs() - s) * 1e6 / n;
  };
  std::vector<double> base, stamped;
  for (int r = 0; r < EDIT_ROUNDS; r++) {
    base.push_back(penEdits(0, EDITS / 10));
    stamped.push_back(penEdits(EXT_SYNC, EDITS / 10));
  }
  syncReset();
  penEdits(EXT_SYNC, EDITS);
  size_t stampBytes = syncStampBytes();
  // Received: a stamped pen action against an unstamped one.
  long clock = 1000000;  // a peer's clock runs ahead of what it has seen
  auto received = [&](bool stamp, int n) {
    char body[64], st[64];
    double s = nowMs();
    for (int i = 0; i < n; i++) {
      snprintf(body, sizeof body, "%s 2 %d %d %d", maps[0]->filename, i % SIDE, (i / SIDE) % SIDE, i);
      if (stamp) {
        snprintf(st, sizeof st, "%ld 5", ++clock);
        readActions("STAMP", st, 1);
      }
      readActions("PARTTHIS!", body, 1);
    }
    return (nowMs() - s) * 1e6 / n;
  };
  // Worst case: a stamp older than every stamp kept, each looked at.
  syncReset();
  penEdits(EXT_SYNC, STAMP_RECTS_MAX);
  std::vector<double> inOld;
  for (int r = 0; r < ROUNDS; r++) {
    clock = 0;
    inOld.push_back(received(true, 1000));
  }
  std::vector<double> inBase, inStamped;
  for (int r = 0; r < EDIT_ROUNDS; r++) {
    inBase.push_back(received(false, EDITS / 10));
    inStamped.push_back(received(true, EDITS / 10));
  }

  benchLogBack(saved);
  printf("project: %d maps %dx%d x %d layers, %.1f MiB of cells; median of %d rounds\n", MAPS, SIDE, SIDE,
         LAYERS, cellBytes / 1048576.0, ROUNDS);
  printf("digests of every map: %.1f ms   memcpy of the cells: %.1f ms   ratio %.1f\n", digestMs, memcpyMs,
         digestMs / memcpyMs);
  printf("stale join, reference's work (bytes, zlib, base64): %.1f ms for %zu bytes -> %zu sent (%.1f%%)\n",
         sendMs, raw, sent, 100.0 * sent / raw);
  printf("stale join, joiner's work (decode, inflate, parse, keep old copy, replace, save): %.1f ms, %d copies kept\n",
         takeMs, kept);
  printf("pen edit sent: stamping peer %.0f ns   base peer %.0f ns   extra %.0f ns\n", benchMedian(stamped),
         benchMedian(base), benchMedian(stamped) - benchMedian(base));
  printf("pen edit received: stamped %.0f ns   unstamped %.0f ns   extra %.0f ns\n", benchMedian(inStamped),
         benchMedian(inBase), benchMedian(inStamped) - benchMedian(inBase));
  printf("pen edit received with a stamp older than every kept one (worst case): %.0f ns\n", benchMedian(inOld));
  printf("stamp memory after %d edits of one map: %zu KiB (%zu bytes an edit, bounded at %d rectangles a map; 0 after a quiet second)\n",
         EDITS, stampBytes / 1024, stampBytes / EDITS, (int)STAMP_RECTS_MAX);
  std::string cmd = "rm -rf " + dir;
  if (system(cmd.c_str()) != 0) return 1;
  return 0;
}
