// Project sync: digests, stamp ordering, map data as text, and a map
// replaced by a peer's copy with the old one kept.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "model/digest.h"
#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "core/core.h"
#include "core/files.h"
#include "testutil.h"
#include "toolkit/video.h"

namespace {
Map* openNew(const char* name, unsigned w, unsigned h) {
  int k = openNewMap(name, w, h);
  return k < 0 ? nullptr : project.listeMaps[k];
}

StampRect rect(uint64_t clock, uint64_t site, int layer, uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2) {
  StampRect r;
  r.s.clock = clock;
  r.s.site = site;
  r.layer = layer;
  r.x1 = x1, r.y1 = y1, r.x2 = x2, r.y2 = y2;
  return r;
}
}  // namespace

// The digest covers a map's content but not its view; a peer's copy replaces
// an open map in place, a closed one's file, or is written when the map is
// missing; the old one is kept in conflicts/ when it differed.
TEST(SyncReplace, DigestsAndOpenClosedMissingAndHostileCopies) {
  startVideo();
  makeProject();
  Map* m = openNew("map0", 4, 3);
  ASSERT_NE(m, nullptr);
  addLayer(m, "default", false);
  const MapDigest base = mapDigest(m);
  struct Case {
    const char* what;
    std::function<void(Map*)> change;
    bool differs;
  } cases[] = {
      {"view", [](Map* x) { x->viewX = 64, x->viewY = 16; }, false},
      {"one cell", [](Map* x) { x->layer[1]->e[11] = 3; }, true},
      {"cell moved", [](Map* x) { x->layer[0]->e[0] = 1; }, true},
      {"background flag", [](Map* x) { x->layer[0]->bg = 1; }, true},
      {"background x", [](Map* x) { x->layer[1]->x = 5; }, true},
      {"display name", [](Map* x) { changeMapSysname("map0", "Cave"); }, true},
      {"extra layer", [](Map* x) { addLayer(x, "default", false); }, true},
  };
  char kept[FILE_PATH_LEN];
  for (const Case& c : cases) {
    std::vector<unsigned char> before;
    ASSERT_TRUE(projectMapBytes("map0", before));
    c.change(m);
    EXPECT_EQ(mapDigest(m) != base, c.differs) << c.what;
    ASSERT_TRUE(replaceProjectMap("map0", before.data(), before.size(), kept, sizeof kept)) << c.what;
    EXPECT_EQ(project.listeMaps[getMap("map0")], m) << "replaced in place: " << c.what;
    EXPECT_EQ(mapDigest(m), base) << c.what;
    EXPECT_EQ(kept[0] != 0, c.differs) << "old copy kept only when it differed: " << c.what;
  }
  char hex[DIGEST_HEX + 1];
  digestHex(base, hex);
  MapDigest back;
  ASSERT_TRUE(parseDigestHex(hex, &back));
  EXPECT_EQ(back, base);
  for (const char* bad : {"", "xyz", "0123456789abcdef0123456789abcdeF", "0123456789abcdef0123456789abcdef0"})
    EXPECT_FALSE(parseDigestHex(bad, &back)) << bad;
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(projectMapBytes("map0", bytes));
  ASSERT_TRUE(newMapFile("closed", 2, 2));
  std::string oldClosed = readFile(projectPath + std::string("maps/closed.map"));
  ASSERT_TRUE(replaceProjectMap("closed", bytes.data(), bytes.size(), kept, sizeof kept));
  EXPECT_EQ(readFile(kept), oldClosed);
  MapDigest a;
  ASSERT_TRUE(projectMapDigest("closed", &a));
  EXPECT_EQ(a, base);
  ASSERT_TRUE(replaceProjectMap("fresh", bytes.data(), bytes.size(), kept, sizeof kept));
  EXPECT_STREQ(kept, "");
  EXPECT_EQ(projectMapNames(), (std::vector<std::string>{"closed", "fresh", "map0"}));
  // Bad bytes and names change nothing.
  std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + 20);
  EXPECT_FALSE(replaceProjectMap("closed", cut.data(), cut.size(), kept, sizeof kept));
  EXPECT_FALSE(replaceProjectMap("../evil", bytes.data(), bytes.size(), kept, sizeof kept));
  ASSERT_TRUE(projectMapDigest("closed", &a));
  EXPECT_EQ(a, base);
  // Every changed copy left one file in conflicts/, each under its own name.
  EXPECT_EQ(filesIn(projectPath + std::string("conflicts")), 7u);
}

TEST(SyncStamps, NewerOverlapsDecideEachCell) {
  StampTable t;
  recordStamp(t, rect(5, 2, 0, 0, 0, 3, 3));
  recordStamp(t, rect(7, 1, 1, 0, 0, 9, 9));
  recordStamp(t, rect(3, 9, 0, 8, 8, 8, 8));  // late arrival: kept in order
  struct Case {
    StampRect in;
    size_t newer;
  } cases[] = {
      {rect(4, 9, 0, 2, 2, 2, 2), 1},  // older than (5,2) on that cell
      {rect(5, 1, 0, 2, 2, 2, 2), 1},  // same clock, lower site loses
      {rect(5, 3, 0, 2, 2, 2, 2), 0},  // same clock, higher site wins
      {rect(6, 0, 0, 4, 4, 5, 5), 0},  // no overlap
      {rect(1, 0, 0, 0, 0, 9, 9), 2},  // older than both rectangles of layer 0
      {rect(6, 0, 1, 0, 0, 0, 0), 1},  // other layer, newer there
      {rect(8, 0, 1, 0, 0, 0, 0), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(newerOverlaps(t, c.in).size(), c.newer) << c.in.s.clock << "," << c.in.s.site;
  for (size_t k = 1; k < t.rects.size(); k++) EXPECT_TRUE(t.rects[k - 1].s < t.rects[k].s);
  // Bounded: the oldest go first.
  for (uint64_t k = 0; k < STAMP_RECTS_MAX + 10; k++) recordStamp(t, rect(100 + k, 1, 0, 0, 0, 0, 0));
  EXPECT_EQ(t.rects.size(), (size_t)STAMP_RECTS_MAX);
  EXPECT_EQ(t.rects.front().s.clock, 110u);
}

TEST(SyncStamps, StampedPeerWritesResolveTheSameWayInAnyOrder) {
  startVideo();
  makeProject();
  Map* m = openNew("map0", 8, 8);
  ASSERT_NE(m, nullptr);
  // Two stamping peers on slots 1 and 2 (no send queue: nothing is sent).
  for (int s : {1, 2}) readyPeer(s, EXT_SYNC);
  struct Write {
    int slot;
    const char* stamp;
    const char* header;
    const char* body;
  };
  const Write a = {1, "5 10", "PARTTHIS!", "map0 0 2 2 7"};
  const Write b = {2, "5 20", "DRAWSQUARE", "map0 0 1 1 3 3 8"};  // same clock, higher site
  const Write c = {1, "4 99", "DRAWSQUARE", "map0 0 0 0 7 0 6"};  // older, other cells too
  const Write plain = {2, nullptr, "PARTTHIS!", "map0 0 0 0 1"};  // unstamped: applied as always
  std::vector<std::vector<Write>> orders = {{a, b, c}, {c, b, a}, {b, a, c}, {c, a, b}};
  for (const auto& order : orders) {
    syncReset();
    for (int k = 0; k < 64; k++) m->layer[0]->e[k] = 0;
    for (const Write& w : order) {
      if (w.stamp) readActions("STAMP", w.stamp, w.slot);
      readActions(w.header, w.body, w.slot);
    }
    EXPECT_EQ(m->layer[0]->e[2 * 8 + 2], 8);  // b beats a
    EXPECT_EQ(m->layer[0]->e[1 * 8 + 1], 8);
    EXPECT_EQ(m->layer[0]->e[5], 6);          // c alone there
    EXPECT_EQ(m->layer[0]->e[0], 6);
  }
  readActions(plain.header, plain.body, plain.slot);
  EXPECT_EQ(m->layer[0]->e[0], 1);
  // A stamp belongs to the very next action only.
  readActions("STAMP", "1 1", 1);
  readActions("SILENTOPEN", "map0", 1);
  readActions("PARTTHIS!", "map0 0 2 2 5", 1);
  EXPECT_EQ(m->layer[0]->e[2 * 8 + 2], 5);
  // A clock far ahead is not believed: the write counts as unstamped.
  readActions("STAMP", "1000000000000000 1", 1);
  readActions("PARTTHIS!", "map0 0 3 3 4", 1);
  readActions("STAMP", "10 1", 1);
  readActions("PARTTHIS!", "map0 0 3 3 2", 1);
  EXPECT_EQ(m->layer[0]->e[3 * 8 + 3], 2);
  // Hostile sync bodies only log.
  for (const char* h : {"SYNCLIST", "SYNCMAP", "SYNCDATA", "SYNCCHECK", "SYNCWANT", "STAMP"})
    for (const char* body :
         {"", "?", "1 zz ../x", "../x 99999999999 1 00", "!!!!", "1 0123 map0", "1 5 0 7 0123 map0"})
      readActions(h, body, 1);
  EXPECT_EQ(m->layer[0]->e[2 * 8 + 2], 5);
  EXPECT_EQ(filesIn(projectPath + std::string("conflicts")), 0u);
  EXPECT_GT(syncStampBytes(), 0u);
  syncReset();
}

TEST(SyncData, Base64RoundTripAndRefusals) {
  std::vector<unsigned char> out;
  for (size_t n = 0; n < 7; n++) {
    std::vector<unsigned char> in(n);
    for (size_t k = 0; k < n; k++) in[k] = (unsigned char)(k * 97 + 200);
    std::string t = base64Encode(in.data(), in.size());
    EXPECT_EQ(t.size(), (n + 2) / 3 * 4);
    ASSERT_TRUE(base64Decode(t.c_str(), t.size(), out)) << n;
    EXPECT_EQ(out, in);
  }
  EXPECT_EQ(base64Encode((const unsigned char*)"Man", 3), "TWFu");
  for (const char* bad : {"TWF", "TW=u", "T*Fu", "TWFu\n", "=AAA"})
    EXPECT_FALSE(base64Decode(bad, strlen(bad), out)) << bad;
}
