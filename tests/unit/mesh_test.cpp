// A session whatever the order of joins: the members a peer names, and the
// layer actions that name their map by file name.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "model/model.h"
#include "net/address.h"
#include "net/members.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/wire.h"
#include "testutil.h"

namespace {
NetHost ip(const char* text) {
  NetHost h;
  EXPECT_TRUE(parseHost(text, &h)) << text;
  return h;
}
}  // namespace

// Only addresses a peer could listen at, on a port outside the system's, not
// linked already and not tried a moment ago, are joined, at the port named;
// anything else a hostile list holds is passed over.
TEST(Members, ListsNameOnlyAddressesWorthAJoin) {
  netReset();
  membersReset();
  peers[3].clientPending = true;  // a join to 10.0.0.9 under way
  peers[3].outHost = ip("10.0.0.9");
  struct Case {
    const char* body;
    std::vector<const char*> joined;
    std::vector<int> ports;
  };
  const Case cases[] = {
      {"10.0.0.2:34567 10.0.0.3:34567", {"10.0.0.2", "10.0.0.3"}, {34567, 34567}},
      {"10.0.0.2:34567 10.0.0.2:34567", {"10.0.0.2"}, {34567}},       // named twice
      {"10.0.0.9:34567", {}, {}},                                     // linked already
      {"10.0.0.2:40000", {"10.0.0.2"}, {40000}},                      // another port, taken
      {"10.0.0.2:80 10.0.0.2:1023 10.0.0.2:65536 10.0.0.2:-1 10.0.0.2:3x", {}, {}},  // system or no port
      {"10.0.0.2 :34567 10.0.0.2:", {}, {}},
      {"127.0.0.1:34567 0.0.0.0:34567 255.255.255.255:34567 224.0.0.1:34567", {}, {}},
      {"10.0.0.300:34567 host:34567 ../../x:34567 10.0.0.2:34567:1", {}, {}},  // never looked up
      {"   ", {}, {}},
      {"10.0.0.4:34567aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 10.0.0.5:34567", {"10.0.0.5"}, {34567}},
      // IPv6 members in brackets with their port; the IPv4-mapped form is the IPv4 member.
      {"[fd79::2]:34567 [FD79:0::2]:34567 [::ffff:10.0.0.9]:34567 [::ffff:10.0.0.6]:40000",
       {"fd79::2", "10.0.0.6"}, {34567, 40000}},
      {"fd79::2 fd79::2:34567 [fd79::2] [fd79::2]: [fd79::2]:80 [fd79::2:34567 fd79::2]:34567", {}, {}},
      {"[::1]:34567 [::]:34567 [ff02::1]:34567 [fe80::1]:34567 [fe80::1%eth0]:34567 [host]:34567", {}, {}},
      {"[10.0.0.2]:34567 [fd79::2]x:34567 [fd79::2]:34567:1 [fd79:::2]:34567", {}, {}},
  };
  for (const Case& c : cases) {
    NetAddress got[MEMBERS_MAX];
    int n = membersToJoin(c.body, got, MEMBERS_MAX);
    ASSERT_EQ(n, (int)c.joined.size()) << c.body;
    for (int k = 0; k < n; k++) {
      EXPECT_EQ(got[k].host, ip(c.joined[k])) << c.body;
      EXPECT_EQ(got[k].port, c.ports[k]) << c.body;
    }
  }
  // A long list is cut at the cap.
  std::string many;
  for (int k = 1; k <= 200; k++) many += "10.1." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 1) + ":34567 ";
  NetAddress got[MEMBERS_MAX];
  EXPECT_EQ(membersToJoin(many.c_str(), got, MEMBERS_MAX), (int)MEMBERS_MAX);
  netReset();
}

// "LAYERDEL" and "LAYERMOVE" name the map, whatever slot it has here, and an
// edit to a map this editor has only on disk opens it rather than being lost.
TEST(Members, LayerActionsNameTheirMapAndReachClosedMaps) {
  startVideo();
  makeEditingProject();
  int a = openNewMap("other", 4, 4);  // slot 0 here: the sender's map0 is elsewhere
  int b = openNewMap("map0", 4, 4);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  Map* m0 = project.listeMaps[b];
  addLayer(m0, "default", false);
  addLayer(m0, "default", false);
  Layer* bottom = m0->layer[0];
  readyPeer(1, EXT_SYNC | EXT_LAYERS);
  readActions("LAYERMOVE", "map0 0 2", 1);
  EXPECT_EQ(m0->layer[2], bottom);
  for (const char* bad : {"map0 0 9", "map0 -1 0", "map0", "../x 0 1", "nomap 0 1"}) readActions("LAYERMOVE", bad, 1);
  EXPECT_EQ(m0->layer[2], bottom);
  readActions("LAYERDEL", "map0 2", 1);
  EXPECT_EQ(m0->layers, 2);
  EXPECT_EQ(project.listeMaps[a]->layers, 1);  // the map in slot 0 untouched
  // map0 closed here: a peer's cell write opens it and lands.
  ASSERT_TRUE(closeMapi(b, "map0"));
  readActions("PARTTHIS!", "map0 1 3 3 7", 1);
  int k = getMap("map0");
  ASSERT_NE(openMapAt(k), nullptr);
  EXPECT_EQ(openMapAt(k)->layer[1]->e[3 * 4 + 3], 7);
  netReset();
  syncReset();
}

// A block of cells travels whole, and a hostile one changes nothing: sizes
// over the bound, cells that do not match the size, bad base64, negative
// places. A stamped block leaves the cells a newer write holds.
TEST(Members, CellBlocksRoundTripRefuseHostileBodiesAndObeyStamps) {
  startVideo();
  makeEditingProject();
  int k = openNewMap("map0", 8, 8);
  ASSERT_GE(k, 0);
  Map* m = project.listeMaps[k];
  readyPeer(1, EXT_SYNC | EXT_CELLS);
  int32_t cells[6] = {1, 2, 3, 4, 5, 6};
  std::string body;
  ASSERT_TRUE(wireFormatBlock("map0", 0, 6, 6, 3, 2, cells, body));  // runs past the map's edge
  readActions("CELLS", body.c_str(), 1);
  EXPECT_EQ(m->layer[0]->e[6 * 8 + 6], 1);
  EXPECT_EQ(m->layer[0]->e[7 * 8 + 7], 5);
  std::vector<int32_t> big(CELLS_BLOCK_MAX + 1, 9);
  EXPECT_FALSE(wireFormatBlock("map0", 0, 0, 0, CELLS_BLOCK_MAX + 1, 1, big.data(), body));
  for (const char* bad : {"map0 0 0 0 2 2 AAAA", "map0 0 0 0 1 1 !!!!!!!!", "map0 0 -1 0 1 1 AQAAAA==",
                          "map0 0 0 0 100000 100000 AQAAAA==", "map0 0 0 0 0 1 ", "map0 0 0 0 1 1",
                          "../x 0 0 0 1 1 AQAAAA==", "map0 9 0 0 1 1 AQAAAA=="})
    readActions("CELLS", bad, 1);
  EXPECT_EQ(m->layer[0]->e[0], 0);
  // A newer stamp on (1, 0) keeps its cell from an older block over (0..1, 0).
  readActions("STAMP", "10 5", 1);
  readActions("PARTTHIS!", "map0 0 1 0 7", 1);
  int32_t two[2] = {3, 3};
  ASSERT_TRUE(wireFormatBlock("map0", 0, 0, 0, 2, 1, two, body));
  readActions("STAMP", "9 5", 1);
  readActions("CELLS", body.c_str(), 1);
  EXPECT_EQ(m->layer[0]->e[0], 3);
  EXPECT_EQ(m->layer[0]->e[1], 7);
  netReset();
  syncReset();
}

// The join field takes a host name or an address of either family, with a
// port or on ours; anything else is refused before a connection is tried.
// Addresses are written back as they were typed, IPv4 as plain IPv4.
TEST(Members, JoinFieldTakesHostAndPort) {
  struct Case {
    std::string text;
    const char* host;  // null: refused
    int port;
  } cases[] = {
      {"10.0.0.2", "10.0.0.2", 34567},
      {"10.0.0.2:40000", "10.0.0.2", 40000},
      {"localhost:1", "127.0.0.1", 1},
      {"localhost", "127.0.0.1", 34567},
      {"::1", "::1", 34567},
      {"fd00::2", "fd00::2", 34567},
      {"[fd00::2]", "fd00::2", 34567},
      {"[fd00::2]:40000", "fd00::2", 40000},
      {"[::ffff:10.0.0.2]:40000", "10.0.0.2", 40000},
      {"fd00::2:4000", "fd00::2:4000", 34567},  // bare: every colon is the address's
      {"fd00::2:40000", nullptr, 0},
      {"[fd00::2", nullptr, 0},
      {"fd00::2]:40000", nullptr, 0},
      {"[fd00::2]40000", nullptr, 0},
      {"[fd00::2]:", nullptr, 0},
      {"[fd00::2]:65536", nullptr, 0},
      {"[fd00::2]:0x10", nullptr, 0},
      {"[]:34567", nullptr, 0},
      {"[10.0.0.2]", nullptr, 0},
      {"[localhost]:34567", nullptr, 0},
      {"fe80::1%eth0", nullptr, 0},
      {"[fe80::1%eth0]:34567", nullptr, 0},
      {"[fe80::1%25eth0]", nullptr, 0},
      {"fd00:::2", nullptr, 0},
      {"[" + std::string(300, '1') + "::2]:34567", nullptr, 0},
      {"host%eth0", nullptr, 0},
      {"a/b:34567", nullptr, 0},
      {"host name", nullptr, 0},
      {"", nullptr, 0},
      {":34567", nullptr, 0},
      {"10.0.0.2:", nullptr, 0},
      {"10.0.0.2:0", nullptr, 0},
      {"10.0.0.2:65536", nullptr, 0},
      {"10.0.0.2:+80", nullptr, 0},
      {"10.0.0.2:80x", nullptr, 0},
      {"10.0.0.2:34567:1", nullptr, 0},
      {"no-such-host.invalid", nullptr, 0},
      {std::string(300, 'a') + ":34567", nullptr, 0},
  };
  for (const Case& c : cases) {
    NetAddress a[RESOLVED_MAX];
    testing::internal::CaptureStdout();
    int n = resolveAddress(c.text.c_str(), 34567, a, RESOLVED_MAX);
    std::string log = testing::internal::GetCapturedStdout();
    ASSERT_EQ(n > 0, c.host != nullptr) << c.text;
    if (n > 0) {
      int k = 0;
      while (k < n - 1 && a[k].host != ip(c.host)) k++;  // a name may give the other family first
      EXPECT_EQ(a[k].host, ip(c.host)) << c.text;
      EXPECT_EQ(a[k].port, c.port) << c.text;
      char back[ADDRESS_TEXT_LEN];
      formatHost(a[k].host, back, sizeof back);
      EXPECT_STREQ(back, c.host) << c.text;
    } else {
      EXPECT_NE(log.find(c.text.substr(0, 20)), std::string::npos) << "the refusal names it: " << log;
    }
  }
  // A member word reads back as it was written; the log hides all but the ends.
  const char* words[][3] = {{"10.0.0.2:34567", "X.X.X.2", "10.X.X.2"},
                            {"[fd79::a2]:40000", "[X::a2]", "[fd79:X::a2]"},
                            {"[ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff]:65535", "[X::ffff]", "[ffff:X::ffff]"}};
  for (const auto& w : words) {
    NetAddress a;
    char back[ADDRESS_TEXT_LEN], hidden[ADDRESS_TEXT_LEN], first[ADDRESS_TEXT_LEN];
    ASSERT_TRUE(parseMember(w[0], &a)) << w[0];
    formatAddress(a, true, back, sizeof back);
    formatHidden(a.host, false, hidden, sizeof hidden);
    formatHidden(a.host, true, first, sizeof first);
    EXPECT_STREQ(back, w[0]);
    EXPECT_STREQ(hidden, w[1]);
    EXPECT_STREQ(first, w[2]);
  }
}
