// Presence: what peers send is checked and cut to the map, drawn only on its
// map and inside the view, sent only on change and only to the peers that
// announced it; a peer that floods it is cut.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "editor/editor.h"
#include "net/net.h"
#include "net/netio.h"
#include "net/presence.h"
#include "testutil.h"
#include "toolkit/video.h"

namespace {
const uint32_t kMagenta = 0xff00ff;

// A ready peer "bob" in `slot` that announced `ext`; its outbound link a
// socket pair when `linked` (the end it reads is returned), else -1.
int peer(int slot, unsigned ext, bool linked = false) {
  int sv[2] = {-1, -1};
  if (linked) {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  }
  readyPeer(slot, ext);
  std::lock_guard<std::mutex> g(peersLock);
  if (linked) {
    peers[slot].clientSocket = sv[0];
    startSender(slot);
  }
  return sv[1];
}

// The bodies of the "PRESENCE" actions waiting on a socket (within ms).
std::vector<std::string> received(int s, int ms = 300) {
  std::vector<std::string> bodies;
  pollfd p = {s, POLLIN, 0};
  while (poll(&p, 1, ms) == 1) {
    char head[HEADER_BLOCK], word[HEADER_BLOCK];
    int n = 0;
    if (!recvAll(s, head, HEADER_BLOCK, 1000) || !parseHeader(head, word, &n)) break;
    std::string body((size_t)n, 0);
    if (!recvAll(s, &body[0], (size_t)n, 1000)) break;
    EXPECT_STREQ(word, "PRESENCE");
    bodies.push_back(body.c_str());
  }
  return bodies;
}

Presence at(int x, int y) {
  Presence p;
  snprintf(p.map, sizeof p.map, "map0");
  p.pointer = true;
  p.px = x, p.py = y;
  p.shape = PRESENCE_BRUSH;
  p.area = {x, y, 1, 1};
  p.view = {0, 0, 8, 6};
  p.colour = kMagenta;
  return p;
}

uint32_t viewPixel(int x, int y) { return getpixel(window, x, y); }
uint32_t rgb(uint32_t c) { return mapRGB(window, (int)(c >> 16) & 0xff, (int)(c >> 8) & 0xff, (int)c & 0xff); }

void redraw() {
  drawWindow();
  drawPeers();
}
}  // namespace

// Every body a peer may send: the good ones are kept cut to the map shown
// here, anything malformed changes nothing.
TEST(Presence, BodiesFromPeersAreCheckedAndCutToTheMap) {
  makeEditingProject();
  project.currentMap = openNewMap("map0", 8, 6);
  peer(1, EXT_PRESENCE);
  peer(2, 0);  // never announced it
  const std::string big = "2147483647", over = "2147483648";
  struct Case {
    std::string body;
    bool kept;
    const char* map = "";
    bool pointer = false;
    PresenceRect area = {}, view = {};
  };
  const Case cases[] = {
      {"map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff", true, "map0", true, {3, 2, 1, 1}, {0, 0, 8, 6}},
      {"map0 -1 -1 - 0 0 0 0 2 1 19 30 FF00FF", true, "map0", false, {}, {2, 1, 6, 5}},
      {"map0 8 2 b 8 2 1 1 0 0 8 6 ff00ff", true, "map0", false, {}, {0, 0, 8, 6}},  // just outside
      {"map0 " + big + " " + big + " s " + big + " 0 " + big + " " + big + " 0 0 " + big + " " + big + " 00ff00",
       true, "map0", false, {}, {0, 0, 8, 6}},
      {"map0 1 1 s 0 0 " + big + " " + big + " 0 0 8 6 ff00ff", true, "map0", true, {0, 0, 8, 6}, {0, 0, 8, 6}},
      {"map0 1 1 b 1 1 0 5 0 0 8 6 ff00ff", true, "map0", true, {}, {0, 0, 8, 6}},  // empty area: no shape
      {"elsewhere 900 900 b 900 900 2 2 0 0 40 30 ff00ff", true, "elsewhere", true, {900, 900, 2, 2}, {0, 0, 40, 30}},
      {"/ -1 -1 - 0 0 0 0 0 0 0 0 ff00ff", true, "", false, {}, {}},
      // Refused: each differs from a good body in one way.
      {"map0 3 2 b 3 2 1 1 0 0 8 6", false},
      {"map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff extra", false},
      {"map0 3 2 x 3 2 1 1 0 0 8 6 ff00ff", false},
      {"map0 -5 2 b 3 2 1 1 0 0 8 6 ff00ff", false},
      {"map0 -1 2 b 3 2 1 1 0 0 8 6 ff00ff", false},
      {"map0 +3 2 b 3 2 1 1 0 0 8 6 ff00ff", false},
      {"map0 3 2 b 3 2 1 1 0 0 8 6 ff00fg", false},
      {"map0 3 2 b 3 2 1 1 0 0 8 6 0xff00", false},
      {"map0 3 2 b 3 2 1 1 0 0 8 " + over + " ff00ff", false},
      {"map0 3 2 b 3 2 1 1 0 0 8 99999999999999999999 ff00ff", false},
      {"../x 3 2 b 3 2 1 1 0 0 8 6 ff00ff", false},
      {std::string(300, 'm') + " 3 2 b 3 2 1 1 0 0 8 6 ff00ff", false},
      {"", false},
      {"map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff" + std::string(600, ' '), false},
  };
  PresenceView v;
  for (const Case& c : cases) {
    readActions("PRESENCE", "map0 4 4 b 4 4 1 1 0 0 8 6 123456", 1);  // a known state first
    readActions("PRESENCE", c.body.c_str(), 1);
    ASSERT_TRUE(presenceOf(1, "map0", &v));
    ASSERT_TRUE(v.known);
    if (!c.kept) {
      EXPECT_EQ(v.shown.px, 4) << c.body;
      EXPECT_EQ(v.colour, 0x123456u) << c.body;
      continue;
    }
    EXPECT_STREQ(v.shown.map, c.map) << c.body;
    EXPECT_EQ(v.shown.pointer, c.pointer) << c.body;
    const PresenceRect* r[2][2] = {{&v.shown.area, &c.area}, {&v.shown.view, &c.view}};
    for (auto& pair : r)
      EXPECT_TRUE(pair[0]->x == pair[1]->x && pair[0]->y == pair[1]->y && pair[0]->w == pair[1]->w &&
                  pair[0]->h == pair[1]->h)
          << c.body << ": " << pair[0]->x << "," << pair[0]->y << " " << pair[0]->w << "x" << pair[0]->h;
  }
  // The client list shows its colour and its map; an editor that never
  // said gets a colour from its name.
  readActions("PRESENCE", "map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff", 1);
  PeerInfo info;
  ASSERT_TRUE(peerInfo(1, &info));
  EXPECT_EQ(info.colour, kMagenta);
  EXPECT_STREQ(info.map, "map0");
  readActions("PRESENCE", "map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff", 2);
  ASSERT_TRUE(peerInfo(2, &info) && presenceOf(2, "map0", &v));
  EXPECT_FALSE(v.known);
  EXPECT_EQ(info.colour, presenceColourOf("bob"));
  // It goes with the peer.
  resetPeer(1);
  EXPECT_FALSE(presenceOf(1, "map0", &v));
  netReset();
}

// A peer's pointer and footprint are drawn at its cell in its colour, only
// on its map and while it moves; its writes flash; nothing a peer sends
// draws outside the map or the view.
TEST(Presence, DrawnAtItsCellOnlyOnItsMap) {
  makeEditingProject();
  int other = openNewMap("other", 8, 6);
  project.currentMap = openNewMap("map0", 8, 6);
  Map* m = openMapAt(project.currentMap);
  peer(1, EXT_PRESENCE);
  auto arrowAt = [](int cx, int cy) { return viewPixel(cx * TILE + 9, cy * TILE + 13); };  // its 6th row
  auto edgeAt = [](int cx, int cy) { return viewPixel(cx * TILE + 5, cy * TILE); };
  redraw();
  uint32_t black = rgb(0), plain = arrowAt(3, 2);
  readActions("PRESENCE", "map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff", 1);
  redraw();
  EXPECT_EQ(arrowAt(3, 2), rgb(kMagenta));
  EXPECT_EQ(edgeAt(3, 2), rgb(kMagenta));
  // The view scrolled by one cell: the same cell, one cell up-left on screen.
  m->viewX = m->viewY = TILE;
  redraw();
  EXPECT_EQ(arrowAt(2, 1), rgb(kMagenta));
  m->viewX = m->viewY = 0;
  // Another map, a map this editor lacks, a pointer still for too long: nothing.
  for (const char* body : {"other 3 2 b 3 2 1 1 0 0 8 6 ff00ff", "nomap 3 2 b 3 2 1 1 0 0 8 6 ff00ff"}) {
    readActions("PRESENCE", body, 1);
    redraw();
    EXPECT_EQ(arrowAt(3, 2), plain) << body;
  }
  readActions("PRESENCE", "map0 3 2 b 3 2 1 1 0 0 8 6 ff00ff", 1);
  peers[1].presence.movedAt = coreMillis() - PRESENCE_IDLE_MS - PRESENCE_FADE_MS;
  redraw();
  EXPECT_EQ(arrowAt(3, 2), plain);
  // Huge rectangles from the peer are cut to the map: right of it stays black.
  readActions("PRESENCE", "map0 7 5 s 0 0 2147483647 2147483647 0 0 2147483647 2147483647 ff00ff", 1);
  readActions("DRAWSQUARE", "map0 0 0 0 2000000000 2000000000 0", 1);
  redraw();
  EXPECT_EQ(viewPixel(8 * TILE + 3, 3), black);
  EXPECT_EQ(viewPixel(3, 6 * TILE + 3), black);
  EXPECT_EQ(edgeAt(0, 0), rgb(kMagenta));
  // A written cell flashes in its writer's colour, on its map only.
  readActions("PRESENCE", "map0 -1 -1 - 0 0 0 0 0 0 8 6 ff00ff", 1);
  redraw();
  uint32_t before = viewPixel(5 * TILE + 8, 4 * TILE + 8);
  readActions("PARTTHIS!", "map0 0 5 4 0", 1);
  readActions("PARTTHIS!", "other 0 6 4 0", 1);
  redraw();
  uint8_t r, g, b;
  uint32_t flashed = viewPixel(5 * TILE + 8, 4 * TILE + 8);
  EXPECT_NE(flashed, before);
  SDL_GetRGB(flashed, ((SDL_Surface*)window)->format, &r, &g, &b);
  EXPECT_TRUE(r > g && b > g) << (int)r << " " << (int)g << " " << (int)b;
  EXPECT_EQ(viewPixel(6 * TILE + 8, 4 * TILE + 8), viewPixel(7 * TILE + 8, 4 * TILE + 8));
  (void)other;
  netReset();
}

// Only what changed goes out, at most every PRESENCE_SEND_MS, only to the
// peers that announced "PRESENCE", never as network activity; a peer that
// announces it gets what this editor shows at once.
TEST(Presence, SentOnChangeToAnnouncingPeersOnly) {
  makeEditingProject();
  presenceReset();
  net = true;
  int plain = peer(0, 0, true), speaks = peer(1, EXT_PRESENCE, true);
  for (int k = 0; k < 200; k++) presenceUpdate(at(k % 8, 1));
  EXPECT_FALSE(antenneWifi);
  EXPECT_EQ(sendPending(), 0);
  usleep(PRESENCE_SEND_MS * 1000 * 2);
  presenceUpdate(at(199 % 8, 1));  // the last one, due now
  std::vector<std::string> got = received(speaks);
  ASSERT_GE(got.size(), 2u);
  EXPECT_LT(got.size(), 50u);
  EXPECT_EQ(got.back(), "map0 7 1 b 7 1 1 1 0 0 8 6 ff00ff");
  // Idle: nothing more.
  for (int k = 0; k < 5; k++) {
    usleep(PRESENCE_SEND_MS * 1000);
    presenceUpdate(at(7, 1));
  }
  EXPECT_TRUE(received(speaks, 200).empty());
  EXPECT_TRUE(received(plain, 100).empty());
  // A newcomer that speaks it is told at once; one that does not, never.
  int late = peer(2, 0, true);
  readActions("EXTENSIONS", "PRESENCE", 2);
  EXPECT_EQ(received(late), std::vector<std::string>{"map0 7 1 b 7 1 1 1 0 0 8 6 ff00ff"});
  net = false;
  presenceUpdate(at(1, 1));
  EXPECT_TRUE(received(speaks, 100).empty());
  netReset();
  for (int s : {plain, speaks, late}) close(s);
}

// The flood check: a peer may keep to PRESENCE_FLOOD_RATE a second for
// ever; faster, it is cut once PRESENCE_FLOOD_BURST more have come.
TEST(Presence, FloodCheckCutsOnlyPeersOverTheRate) {
  struct Case {
    int perSecond, seconds;
    int cutAfterMs;  // -1: never
  };
  const Case cases[] = {{20, 60, -1}, {100, 60, -1}, {200, 10, 2000}, {1000, 10, 222}, {100000, 1, 2}};
  for (const Case& c : cases) {
    PresenceRate r;
    int cutAt = -1;
    uint32_t start = UINT32_MAX - 1000;  // the millisecond clock wraps meanwhile
    for (long k = 0; k < (long)c.perSecond * c.seconds && cutAt < 0; k++) {
      uint32_t t = start + (uint32_t)(k * 1000 / c.perSecond);
      if (!presenceRateOk(r, t)) cutAt = (int)(t - start);
    }
    if (c.cutAfterMs < 0)
      EXPECT_EQ(cutAt, -1) << c.perSecond;
    else
      EXPECT_NEAR(cutAt, c.cutAfterMs, c.cutAfterMs / 20 + 2) << c.perSecond;
  }
  // A burst after a quiet while is taken, the rate is kept.
  PresenceRate r;
  for (int k = 0; k < PRESENCE_FLOOD_BURST; k++) ASSERT_TRUE(presenceRateOk(r, 1000));
  EXPECT_FALSE(presenceRateOk(r, 1000));
  EXPECT_TRUE(presenceRateOk(r, 1000 + 1000 / PRESENCE_FLOOD_RATE));
}

// The colour: the settings pair, else the same one for a name every time.
TEST(Presence, OwnColourFromSettingsOrName) {
  presenceReset();
  snprintf(username, sizeof username, "carol");
  uint32_t derived = presenceOwnColour();
  EXPECT_EQ(derived, presenceColourOf("carol"));
  EXPECT_NE(presenceColourOf("carol"), presenceColourOf("bob"));
  for (const char* bad : {"#12345", "#1234567", "#gg0000", "", "red"}) {
    presenceReadColour(bad);
    EXPECT_EQ(presenceOwnColour(), derived) << bad;
  }
  presenceReadColour("#FF00ff");
  EXPECT_EQ(presenceOwnColour(), kMagenta);
  presenceReset();
}
