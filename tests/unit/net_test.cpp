// Network: framing, senders, interpreter, transfers, and the handshake and
// receiving loop against a fake peer over loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sodium.h>
#include <string.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "model/digest.h"
#include "model/sidecar.h"
#include "net/auth.h"
#include "net/extras.h"
#include "net/net.h"
#include "net/netio.h"
#include "net/presence.h"
#include "testutil.h"

namespace {
std::string proj;

void setUpProject() {
  startVideo();
  proj = makeProject();
}

int32_t* cells(int m) { return project.listeMaps[m]->layer[0]->e; }

std::string randomBytes(size_t n) {
  std::string s(n, 0);
  randombytes_buf(&s[0], n);
  return s;
}

bool readBlock(int s, void* p, size_t n) { return recvAll(s, p, n, 5000, 5000); }

std::string readBytes(int s, size_t n) {
  std::string b(n, 0);
  return readBlock(s, &b[0], n) ? b : "<cut>";
}

bool nothingPending(int s) {
  pollfd p = {s, POLLIN, 0};
  return poll(&p, 1, 100) == 0;
}

void pairOf(int sv[2]) { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0); }

template <class F>
bool locked(F f) {
  std::lock_guard<std::mutex> g(peersLock);
  return f();
}

// A ready peer in slot whose outbound link is a socket pair; returns the end the peer reads.
int fakeOutbound(int slot = 0) {
  int sv[2];
  pairOf(sv);
  std::lock_guard<std::mutex> g(peersLock);
  peers[slot].clientSocket = sv[0];
  peers[slot].clientReady = true;
  startSender(slot);
  return sv[1];
}

template <class F>
bool pumpUntil(F done, int ms = 5000, bool pump = true) {
  for (int t = 0; t < ms; t += 5) {
    if (pump) netPump();
    if (done()) return true;
    usleep(5000);
  }
  return false;
}

bool slotFree(int i) {
  return locked([i] {
    return peers[i].connectedSocket < 0 && peers[i].clientSocket < 0 && !peers[i].littleServerThread;
  });
}

void sendStr(int s, const std::string& bytes) { ASSERT_TRUE(sendAll(s, bytes.data(), bytes.size())); }

std::string sizeBlock(long n) { return blockOf(std::to_string(n), SIZE_BLOCK); }
}  // namespace

TEST(NetFraming, HeaderBlocksAndSizeBlocks) {
  char h[HEADER_BLOCK], word[HEADER_BLOCK];
  formatHeader(h, "PARTTHIS!", 13);
  EXPECT_EQ(std::string(h, HEADER_BLOCK), blockOf("PARTTHIS! 13", HEADER_BLOCK));
  formatSizeBlock(h, 16384);
  EXPECT_EQ(std::string(h, SIZE_BLOCK), sizeBlock(16384));
  std::string full = "PARTTHIS!" + std::string(HEADER_BLOCK - 10, ' ') + "1";  // fills its block: no NUL
  const std::vector<std::string> headers = {"PARTTHIS! 13", "DISCONNECT! 0", "PARTTHIS! -1",
                                            "PARTTHIS! 32768", "PARTTHIS!", "PARTTHIS! x", "", full};
  for (const std::string& c : headers) {
    int n = -1;
    bool good = c == "PARTTHIS! 13" || c == "DISCONNECT! 0";
    EXPECT_EQ(parseHeader(blockOf(c, HEADER_BLOCK).data(), word, &n), good) << c;
    if (good) {
      EXPECT_EQ(std::string(word) + " " + std::to_string(n), c);
    }
  }
  struct { std::string block; long max; } sizes[] = {  // only the first is good
      {sizeBlock(16384), CHUNK_MAX}, {sizeBlock(16384), CHUNK_MAX - 1},
      {blockOf("-1", SIZE_BLOCK), PASS_MAX_BYTES}, {blockOf("12x", SIZE_BLOCK), PASS_MAX_BYTES},
      {blockOf("", SIZE_BLOCK), PASS_MAX_BYTES}, {blockOf("99999999999999", SIZE_BLOCK), PASS_MAX_BYTES},
      {std::string(SIZE_BLOCK, '1'), PASS_MAX_BYTES}};
  for (const auto& c : sizes) {
    long v = -1;
    EXPECT_EQ(parseSizeBlock(c.block.data(), c.max, &v), &c == sizes) << c.block.c_str() << " / " << c.max;
    if (&c == sizes) {
      EXPECT_EQ(v, 16384);
    }
  }
}

TEST(NetSenders, WireBytesOrderAndWhichPeersGetThem) {
  setUpProject();
  int m = openNewMap("map0", 8, 8), layers = project.listeMaps[m]->layers, peer = fakeOutbound();
  action_SetElementAbsolute("map0", 0, 3, 2, 5);
  EXPECT_EQ(readBytes(peer, HEADER_BLOCK + 13),
            blockOf("PARTTHIS! 13", HEADER_BLOCK) + std::string("map0 0 3 2 5\0", 13));
  EXPECT_EQ(cells(m)[2 * 8 + 3], 5);
  // Queued edits reach the peer exactly in the order they were made.
  for (int k = 0; k < 200; k++) action_SetElementAbsolute("map0", 0, 1, 1, k % 10);
  for (int k = 0; k < 200; k++)
    ASSERT_EQ(readBytes(peer, HEADER_BLOCK + 13),
              action("PARTTHIS!", "map0 0 1 1 " + std::to_string(k % 10)));
  // Nothing goes out, the edit applies: body too long (never sent cut), net off, handshake
  // not done, a tileset this editor lacks (refused here as at the peers).
  action_silentopen(std::string(300, 'x').c_str());
  net = false;
  action_SetElementAbsolute("map0", 0, 1, 1, 7);
  action_deleteLayer(m, 0);
  net = true;
  locked([] { return peers[0].clientReady = false; });
  EXPECT_EQ(connectedPeers(), 0);
  action_SetElementAbsolute("map0", 0, 2, 1, 8);
  locked([] { return peers[0].clientReady = true; });
  action_addLayer(m, "absent", false);
  EXPECT_EQ(project.listeMaps[m]->layers, layers);
  EXPECT_TRUE(nothingPending(peer));
  close(peer);  // a dead peer: the edit still lands here, the peer is dropped
  action_SetElementAbsolute("map0", 0, 3, 1, 4);
  EXPECT_EQ(std::vector<int32_t>(cells(m) + 9, cells(m) + 12), (std::vector<int32_t>{7, 8, 4}));
  EXPECT_TRUE(pumpUntil([] { return slotFree(0); }));
  // Extensions: only the peer that announced one gets its actions.
  const char* const table[] = {"ALPHA", "BETA", "GAMMA", nullptr};
  EXPECT_EQ(parseExtensions("  BETA zeta\tALPHA ALPHAX ", table), 3u);
  EXPECT_EQ(parseExtensions("", table), 0u);
  char body[BODY_LEN];
  formatExtensions(body, sizeof body, 5, table);
  EXPECT_STREQ(body, "ALPHA GAMMA");
  readActions("EXTENSIONS", "FUTUREWORD", 2);  // unknown words are recorded as nothing
  EXPECT_EQ(peers[2].extensions, 0u);
  int plain = fakeOutbound(0), speaks = fakeOutbound(1);
  peers[1].extensions = 1;
  EXPECT_TRUE(peerHas(1, 1) && !peerHas(0, 1) && !peerHas(2, 0));  // slot 2: no peer
  actionSendTo(1, "NEWTHING", "x");
  EXPECT_EQ(readBytes(speaks, HEADER_BLOCK + 2), action("NEWTHING", "x"));
  EXPECT_TRUE(nothingPending(plain));
  netReset();
  for (int s : {plain, speaks}) close(s);
}

// A peer that never answers an "ADDLAYER" costs the editor nothing: the action
// is queued, the activity flag stays up meanwhile; without progress the peer is
// dropped, its map kept while another peer uses it. (A peer that stops reading
// while edits flow is dropped in the three-editor end-to-end run.)
TEST(NetSenders, HungPeerIsDroppedWithoutHoldingTheEditor) {
  setUpProject();
  int w = openNewMap("map0", 8, 8), cave = openNewMap("cave", 4, 4), peer = fakeOutbound();
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  writeBmpTileset(proj, "tiles", 32, 32);
  usedMap[0] = usedMap[5] = project.listeMaps[cave];
  std::string log = logOf([&] {
    actionSend("ADDLAYER", "map0 tiles 0");
    EXPECT_TRUE(sendPending() == 1 && antenneWifi);
    EXPECT_TRUE(pumpUntil([] { return slotFree(0); }, 10000));
  });
  EXPECT_NE(log.find("envoi de ADDLAYER impossible!"), std::string::npos);
  EXPECT_TRUE(usedMap[0] == nullptr && getMap("cave") < project.nbreMaps);
  EXPECT_TRUE(sendPending() == 0 && !antenneWifi);
  close(peer);
  releasePeerMap(5);  // its last user gone
  EXPECT_TRUE(getMap("cave") == project.nbreMaps && getMap("map0") == w);
}

TEST(NetInterpreter, ActionsApplyAndHostileValuesChangeNothing) {
  setUpProject();
  int a = openNewMap("alpha", 4, 4), b = openNewMap("beta", 4, 4);
  ASSERT_EQ(a, 0);
  for (int i = 0; i < 2; i++) addLayer(project.listeMaps[a], "default", false);
  readActions("DELETELAYER", "0 2", 3);  // slot 0 here holds alpha, whatever the sender's slot 0 held
  EXPECT_EQ(project.listeMaps[a]->layers, 2);
  cells(a)[0] = 3;
  ASSERT_TRUE(closeMapi(a, "alpha"));
  std::string alpha = readFile(proj + "maps/alpha.map"), sys = project.listeMaps[b]->sysname;
  int m = openNewMap("map0", 4, 4);
  std::vector<int32_t> before(cells(m), cells(m) + 16);
  struct { const char* header; const char* body; int slot; } hostile[] = {
      {"DELETELAYER", "7 0", 3}, {"DELETELAYER", "-1 0", 3}, {"NEWMAP", "alpha 2 2", 0},
      {"NEWMAP", "../evil 2 2", 0}, {"NEWMAP", "huge 100000 100000", 0}, {"NEWMAP", "neg -1 5", 0},
      {"PARTTHIS!", "nomap 0 1 1 5", 0}, {"PARTTHIS!", "map0 1 1 1 5", 0}, {"PARTTHIS!", "map0 -1 1 1 5", 0},
      {"PARTTHIS!", "map0 0 4 0 5", 0}, {"PARTTHIS!", "map0 0 -1 0 5", 0},
      {"PARTTHIS!", "map0 0 0 99999999999 5", 0}, {"PARTTHIS!", "map0 4294967296 0 0 5", 0},
      {"PARTTHIS!", "map0 0 0 0 4294967296", 0}, {"PARTTHIS!", "map0", 0}, {"PARTTHIS!", "", 0},
      {"PARTTHIS!", "map0 0 0", 0}, {"PARTTHIS!", "map0 0 0 0 1", 64}, {"PARTTHIS!", "map0 0 0 0 1", -1},
      {"DRAWSQUARE", "map0 0 9 9 20 20 1", 0}, {"DRAWSQUARE", "map0 0 -1 0 2 2 1", 0},
      {"SETLAYERBGXY", "map0 5 1 2 3", 0}, {"ADDLAYER", "nomap default 0", 0},
      {"ADDLAYER", "map0 ../../etc/passwd 0", 0},
      {"ADDLAYER", "map0 nosuchtiles 0", 0},  // never arrived: no layer, no library slot
      {"SENDMAPSYSNAME", "nomap x", 0}, {"SLIENTCLOSE", "beta", 0}, {"FORMATDISK", "beta 1 2", 0},
      {"SILENTOPEN", "../../x", 0}, {"SILENTOPEN", "nowhere", 0}};
  for (const auto& c : hostile) readActions(c.header, c.body, c.slot);
  EXPECT_EQ(project.listeMaps[m]->layers, 1);
  EXPECT_EQ(std::vector<int32_t>(cells(m), cells(m) + 16), before);
  EXPECT_EQ(librarySlot("nosuchtiles"), -1);
  EXPECT_EQ(readFile(proj + "maps/alpha.map"), alpha);
  for (const char* f : {"evil.map", "maps/huge.map", "maps/neg.map"}) EXPECT_EQ(readFile(proj + f), "") << f;
  EXPECT_TRUE(project.listeMaps[b]->sysname == sys && getMap("beta") < project.nbreMaps);
  readActions("PARTTHIS!", "map0 0 3 3 6", 0);
  EXPECT_EQ(cells(m)[15], 6);
  // Millions of cells: cut to the map, filled, one log line instead of one per cell.
  int wide = openNewMap("wide", 2048, 2048);
  EXPECT_LT(lineCount(logOf([] { readActions("DRAWSQUARE", "wide 0 0 0 99999 99999 3", 0); })), 5);
  EXPECT_EQ(cells(wide)[2048 * 2048 - 1], 3);
}

namespace {
// A tileset image as it travels: size-framed chunks of CHUNK_MAX, ended by a shorter (maybe empty) one.
std::string chunked(const std::string& img) {
  std::string stream;
  for (size_t at = 0, k = CHUNK_MAX; k == CHUNK_MAX; at += k) {
    k = std::min(img.size() - at, (size_t)CHUNK_MAX);
    stream += sizeBlock((long)k) + img.substr(at, k);
  }
  return stream;
}

// What f writes into a socket pair's end while the other end sends `first`
// (in pieces, each read before the next goes), then ends.
template <class F>
std::string written(const std::string& first, F f, size_t piece = SIZE_MAX) {
  int sv[2];
  pairOf(sv);
  std::string got;
  std::thread peer([&] {
    int unread = 0;  // a piece left unread for long: the receiver gave up
    for (size_t at = 0; at < first.size() && unread == 0; at += piece) {
      sendAll(sv[1], first.data() + at, std::min(piece, first.size() - at));
      for (int t = 0; piece < first.size() && t < 20000 && ioctl(sv[1], SIOCOUTQ, &unread) == 0 && unread > 0; t++)
        usleep(50);
    }
    shutdown(sv[1], SHUT_WR);
    char b[4096];
    for (ssize_t n; (n = recv(sv[1], b, sizeof b, 0)) > 0;) got.append(b, (size_t)n);
  });
  f(sv[0]);
  shutdown(sv[0], SHUT_WR);
  peer.join();
  close(sv[0]);
  close(sv[1]);
  return got;
}
}  // namespace

TEST(NetTransfer, BothSidesOfTilesetsAndPassConditions) {
  setUpProject();
  std::string data = randomBytes(40000), pass = sizeBlock(8) + std::string(8, 1);
  auto offer = [&](int s) { EXPECT_TRUE(offerTileset(s, "big", std::vector<unsigned char>(8, 1))); };
  writeFile(proj + "layers/big.png", data);
  std::string log = logOf([&] {
    EXPECT_EQ(written(blockOf("SENDIT", REPLY_BLOCK), offer),
              sizeBlock(16384) + data.substr(0, 16384) + sizeBlock(16384) + data.substr(16384, 16384) +
                  sizeBlock(7232) + data.substr(32768) + pass);
  });
  EXPECT_NE(log.find("Envoi d'un paquet de 16384 (23616 restant)Envoi d'un paquet de 16384 (7232 restant)"
                     "Envoi d'un paquet de 7232 (0 restant)"), std::string::npos);
  data.resize(32768);  // an exact multiple ends with an empty chunk
  writeFile(proj + "layers/big.png", data);
  EXPECT_EQ(written(blockOf("SENDIT", REPLY_BLOCK), offer), chunked(data) + pass);
  EXPECT_EQ(chunked(data).substr(2 * (SIZE_BLOCK + CHUNK_MAX)), sizeBlock(0));
  writeBmpTileset(proj, "t6448", 64, 48);
  writeBmpTileset(proj, "t6440", 64, 40);
  EXPECT_EQ(passConditionsOf("t6440"), std::vector<unsigned char>(32, 1));
  EXPECT_TRUE(passConditionsOf("absent").empty());
  // A saved file is sent as it stands; a short one is padded with passable.
  for (const std::string& saved : {std::string(), std::string(47, 0) + '\1', std::string(10, 0)}) {
    if (!saved.empty()) writeFile(proj + "layerspc/t6448.pss", saved);
    std::vector<unsigned char> p = passConditionsOf("t6448");
    EXPECT_EQ(std::string(p.begin(), p.end()), saved + std::string(48 - saved.size(), 1));
  }
  // The receiving side.
  writeFile(proj + "layers/have.png", "PNG");
  writeFile(proj + "layerspc/have.pss", std::string(4, 0));
  // Present image or a bad name: "LEFTME" and nothing else, nothing touched.
  for (const char* corps : {"map0 have 0", "map0 ../x 0"})
    EXPECT_EQ(written("", [&](int s) { EXPECT_TRUE(receiveTileset(s, corps)); }),
              blockOf("LEFTME", REPLY_BLOCK));
  EXPECT_EQ(readFile(proj + "layerspc/have.pss"), std::string(4, 0));
  // Missing image: chunks and pass conditions kept byte-identical (several file writes); a chunk
  // over 16384 (first or after a full one), a peer gone mid-chunk, an image over the limit: no
  // file, no leftover.
  std::string img = randomBytes(WRITE_BLOCK + 20000), pss = std::string("\1\0\1\0", 4) + std::string(4, 1);
  std::string stream = chunked(img);
  for (const std::string& bytes : {stream + sizeBlock(8) + pss, sizeBlock(16385),
                                   stream.substr(0, SIZE_BLOCK + CHUNK_MAX) + sizeBlock(16385),
                                   sizeBlock(16384) + img.substr(0, 100), chunked(std::string(TILESET_MAX_BYTES + 1, 1))}) {
    bool good = bytes.size() == stream.size() + SIZE_BLOCK + pss.size();
    auto receive = [&](int s) { EXPECT_EQ(receiveTileset(s, good ? "map0 fresh 0" : "map0 broken 0"), good); };
    EXPECT_EQ(written(bytes, receive), blockOf("SENDIT", REPLY_BLOCK));
  }
  EXPECT_TRUE(readFile(proj + "layers/fresh.png") == img && readFile(proj + "layerspc/fresh.pss") == pss);
  EXPECT_EQ(readFile(proj + "layers/broken.png"), "");
  // Size blocks and chunks cut anywhere between reads: the same files.
  std::string small = randomBytes(2 * CHUNK_MAX + 100);
  auto split = [](int s) { EXPECT_TRUE(receiveTileset(s, "map0 split 0")); };
  log = logOf([&] { EXPECT_EQ(written(chunked(small) + sizeBlock(8) + pss, split, 9), blockOf("SENDIT", REPLY_BLOCK)); });
  EXPECT_NE(log.find("recu: un paquet de 16384.\nrecu: un paquet de 16384.\nrecu: un paquet de 100.\nLayerGFX split recu!\n"),
            std::string::npos);
  EXPECT_TRUE(readFile(proj + "layers/split.png") == small && readFile(proj + "layerspc/split.pss") == pss);
  EXPECT_NE(system(("ls " + proj + "layers | grep -q part").c_str()), 0);
  int sv[2];
  pairOf(sv);
  // Pass conditions replace the file whole; from the third row the tileset needs 48 bytes.
  struct { const char* name; long n; std::string want; } cases[] = {
      {"grass", 8, std::string(8, 0)}, {"../grass", 4, std::string(8, 0)},  // consumed, refused
      {"grass", 44, std::string(8, 0)}, {"grass", 0, std::string(8, 0)}, {"grass", 48, std::string(48, 1)}};
  for (size_t i = 0; i < 5; i++) {
    if (i == 2) writeBmpTileset(proj, "grass", 64, 48);
    sendStr(sv[1], sizeBlock(cases[i].n) + std::string((size_t)cases[i].n, i > 0));
    ASSERT_TRUE(receivePC(sv[0], cases[i].name));
    EXPECT_EQ(readFile(proj + "layerspc/grass.pss"), cases[i].want) << i;
  }
  sendStr(sv[1], sizeBlock(PASS_MAX_BYTES + 1));
  EXPECT_FALSE(receivePC(sv[0], "grass"));
  int peer = fakeOutbound();
  action_sendPC("absent");  // without the tileset: nothing rather than an empty file
  EXPECT_FALSE(action_newMap("../out", 4, 4));  // a name no peer may take is not offered
  EXPECT_TRUE(nothingPending(peer));
  EXPECT_FALSE(diskRoom(1LL << 62));
  ASSERT_EQ(system(("rm -rf " + proj + "layerspc").c_str()), 0);  // unwritable: logged, no exit
  sendStr(sv[1], sizeBlock(4) + std::string(4, 1));
  EXPECT_TRUE(receivePC(sv[0], "grass"));
}

// ---- The handshake and the receiving loop against a fake peer over loopback.
namespace {
const uint32_t EDITOR_HOST = htonl(0x7F000001);  // 127.0.0.1
const uint32_t PEER_HOST = htonl(0x7F000002);    // 127.0.0.2

void startEditor() {
  setUpProject();
  project.currentMap = openNewMap("map0", 8, 8);
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  snprintf(username, sizeof username, "alice");
  projectLoaded = true;
  net = true;
  netPort = 20000 + (int)(getpid() % 20000);
  netListenHost = hostV4(EDITOR_HOST);
  initNet();
  ASSERT_FALSE(stop);
}

int peerConnect() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = PEER_HOST;
  EXPECT_EQ(bind(s, (sockaddr*)&a, sizeof a), 0);
  a.sin_addr.s_addr = EDITOR_HOST;
  a.sin_port = htons((uint16_t)netPort);
  EXPECT_EQ(connect(s, (sockaddr*)&a, sizeof a), 0);
  return s;
}

// The joining side of the handshake as a peer speaks it: name, version, token.
std::string peerHandshake(int s, const char* token) {
  sendStr(s, blockOf("bob", NAME_BLOCK));
  std::string name = readBytes(s, NAME_BLOCK);
  sendStr(s, blockOf("0.24a", VERSION_BLOCK));
  std::string v = readBytes(s, VERSION_BLOCK);
  sendStr(s, blockOf(token, TOKEN_BLOCK));
  return std::string(name.c_str()) + "/" + v.c_str();
}
}  // namespace

// Garbage, vanishing, "DISCONNECT!" or a flood free the slot and keep the working map; a full
// house refuses the next; silent links are cut when the handshake's time is out; a peer is held
// off while no project is loaded; quitting without networking listens nowhere.
TEST(NetPeers, ReceivingLoopAndSlots) {
  startEditor();
  std::string flood, presence;
  for (int k = 0; k <= RECV_QUEUE_MAX; k++) flood += action("FLOOD", "x");
  // Far faster than any editor sends its presence: cut long before the queue fills.
  for (int k = 0; k < 4 * PRESENCE_FLOOD_BURST; k++) presence += action("PRESENCE", "map0 1 1 b 1 1 1 1 0 0 8 8 ff00ff");
  const std::string goodbye = action("DISCONNECT!", "");
  for (const std::string& bytes : {std::string(HEADER_BLOCK, 'Z'), std::string(), goodbye, flood, presence}) {
    bool flooding = bytes.size() == flood.size();
    int p = peerConnect();
    EXPECT_EQ(peerHandshake(p, "THANKS!"), "alice/0.24a");
    ASSERT_TRUE(pumpUntil([] { return usedMap[0] != nullptr; }));
    if (flooding) {  // a peer's pen lands on the main thread, and only then is the panel redrawn
      refreshMenu = false;
      sendStr(p, action("PARTTHIS!", "map0 0 3 2 5"));
      pumpUntil([] { return netQueued() > 0; }, 5000, false);
      EXPECT_FALSE(refreshMenu);
      EXPECT_TRUE(pumpUntil([] { return cells(0)[2 * 8 + 3] == 5 && refreshMenu; }));
    }
    std::string log = logOf([&] {
      if (bytes.empty()) close(p);
      if (!bytes.empty()) sendAll(p, bytes.data(), bytes.size());  // the editor may cut a flood off midway
      // Nothing applied meanwhile (the editor is busy elsewhere) until the
      // receiving side has met the full queue and ended: a pump before then
      // would make room for the last action.
      if (flooding) pumpUntil([] { return locked([] { return peers[0].dropping; }); }, 30000, false);
      EXPECT_TRUE(pumpUntil([] { return usedMap[0] == nullptr && slotFree(0); }));
    });
    EXPECT_LT(getMap("map0"), project.nbreMaps);
    EXPECT_TRUE(!flooding || log.find("Trop d'actions en attente") != std::string::npos);
    EXPECT_EQ(bytes == presence, log.find("bob du tunnel 0: plus de 100 presences par seconde") != std::string::npos);
    if (!bytes.empty()) close(p);
  }
  std::vector<int> socks;
  for (int i = 0; i < MAX_PEERS; i++) socks.push_back(peerConnect());
  ASSERT_TRUE(pumpUntil([] { return locked([] { return peers[MAX_PEERS - 1].connectedSocket >= 0; }); }));
  int extra = peerConnect();
  char c;
  pollfd p = {extra, POLLIN, 0};
  EXPECT_TRUE(poll(&p, 1, 5000) == 1 && recv(extra, &c, 1, 0) == 0);  // closed by the editor
  close(extra);
  EXPECT_TRUE(pumpUntil([] { return slotFree(0) && slotFree(MAX_PEERS - 1); }, HANDSHAKE_MS + 3000));
  for (int s : socks) close(s);
  projectLoaded = false;  // the project is still being chosen
  int in = peerConnect();
  sendStr(in, blockOf("bob", NAME_BLOCK));
  char name[NAME_BLOCK];
  EXPECT_FALSE(recvAll(in, name, NAME_BLOCK, 300, 300));
  projectLoaded = true;
  EXPECT_EQ(readBytes(in, NAME_BLOCK), blockOf("alice", NAME_BLOCK));
  close(in);
  stop = true;
  disconnect(false);
  net = false;
  disconnect(true);  // the quit path
  int l = netListen(hostV4(EDITOR_HOST), netPort, nullptr);
  EXPECT_GE(l, 0) << "the port is taken: something listens";
  close(l);
}

// Layer names, resizes and a map's sidecar go only to the peers that
// announced them, and a connected base peer refuses a resize; received,
// hostile bodies change nothing and a sidecar in parts names the layer.
TEST(NetExtras, OnlyAnnouncingPeersGetNamesResizesAndSidecars) {
  setUpProject();
  int slot = openNewMap("map0", 4, 3), base = fakeOutbound(0), ext = fakeOutbound(1);
  Map* m = project.listeMaps[slot];
  locked([] { return peers[1].extensions = EXT_NAMES | EXT_RESIZE | EXT_SYNC; });
  auto got = [](int s, const std::string& word, const std::string& body) {
    return readBytes(s, HEADER_BLOCK + body.size() + 1) == action(word, body);
  };
  char why[128];
  EXPECT_FALSE(action_resizeMap(slot, 6, 5, why, sizeof why));
  EXPECT_STREQ(why, "1 connected editor of an older version would keep the old size");
  EXPECT_EQ(m->w, 4u);
  ASSERT_TRUE(action_setLayerName(slot, 0, "Grass"));
  EXPECT_TRUE(got(ext, "LAYERNAME", "map0 0 Grass"));
  MapDigest plain, folded;
  ASSERT_TRUE(peerMapDigest(0, "map0", &plain) && peerMapDigest(1, "map0", &folded));
  EXPECT_TRUE(plain == mapDigest(m) && folded != plain);  // a base sync peer compares the map alone
  locked([] { return peers[0].clientReady = false; });
  ASSERT_TRUE(action_resizeMap(slot, 6, 5, why, sizeof why));
  EXPECT_TRUE(got(ext, "MAPRESIZE", "map0 6 5"));
  syncSendSidecar(1, "map0");
  EXPECT_TRUE(got(ext, "SYNCSIDECAR", "map0 0 1 " + sidecarText(m)));
  EXPECT_TRUE(nothingPending(base));
  // From the announcing peer: refused bodies, then good ones; the base peer's are ignored.
  const std::string text = R"({"layerNames":[{"name":"Water","tileset":"default"}]})";
  struct {
    int from;
    const char* word;
    std::string body;
    const char* name;
    uint32_t w;
  } received[] = {
      {1, "LAYERNAME", "map0 7 X", "Grass", 6},
      {1, "LAYERNAME", "map0 0 " + std::string(LAYER_NAME_MAX + 1, 'x'), "Grass", 6},
      {1, "LAYERNAME", "map0 0 a\x01b", "Grass", 6},
      {1, "LAYERNAME", "map0", "Grass", 6},
      {1, "LAYERNAME", "map0 0x1 Y", "Grass", 6},
      {1, "MAPRESIZE", "map0 0 5", "Grass", 6},
      {1, "MAPRESIZE", "map0 99999 99999", "Grass", 6},
      {1, "MAPRESIZE", "map0 -1 3", "Grass", 6},
      {1, "SYNCSIDECAR", "map0 1 2 " + text, "Grass", 6},        // a part out of order
      {1, "SYNCSIDECAR", R"(map0 0 1 {"layerNames":5})", "Grass", 6},
      {1, "SYNCSIDECAR", "../map0 0 1 " + text, "Grass", 6},
      {1, "SYNCSIDECAR", "map0 0 99999 " + text, "Grass", 6},
      {1, "SYNCSIDECAR", "map0 0 2 " + text.substr(0, 20), "Grass", 6},
      {1, "SYNCSIDECAR", "map1 1 2 " + text.substr(20), "Grass", 6},  // another map's part ends it
      {0, "LAYERNAME", "map0 0 Evil", "Grass", 6},
      {0, "MAPRESIZE", "map0 1 1", "Grass", 6},
      {1, "SYNCSIDECAR", "map0 0 2 " + text.substr(0, 20), "Grass", 6},
      {1, "SYNCSIDECAR", "map0 1 2 " + text.substr(20), "Water", 6},
      {1, "LAYERNAME", "map0 0 ", "default", 6},
      {1, "MAPRESIZE", "map0 2 2", "default", 2},
  };
  for (const auto& r : received) {
    SCOPED_TRACE(r.body);
    readActions(r.word, r.body.c_str(), r.from);
    EXPECT_STREQ(layerName(m->layer[0]), r.name);
    EXPECT_EQ(m->w, r.w);
  }
  netReset();
  for (int s : {base, ext}) close(s);
}
