// Network: framing, senders, interpreter, transfers, and the handshake and
// receiving loop against a fake peer over loopback.
#include <SDL/SDL.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sodium.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "model/model.h"
#include "net/auth.h"
#include "net/net.h"
#include "net/netio.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/video.h"
#include "editor/editor.h"

namespace {
std::string proj;

void setUpProject() {
  startVideo();
  proj = makeProject();
}

int openTestMap(const char* name, unsigned long w, unsigned long h) {
  EXPECT_TRUE(newMapFile(name, w, h));
  return openMapInFreeSlot(name);
}

std::string pattern(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; i++) s[i] = (char)(i * 31 + 7);
  return s;
}

bool readBlock(int s, void* p, size_t n) { return recvAll(s, p, n, 5000, 5000); }

std::string readHeader(int s) {
  char h[HEADER_BLOCK];
  if (!readBlock(s, h, HEADER_BLOCK)) return "<none>";
  return std::string(h, strnlen(h, HEADER_BLOCK));
}

// The next action a peer reads: "HEADER SIZE|body" with the body's bytes as sent.
std::string readAction(int s) {
  std::string h = readHeader(s);
  size_t at = h.rfind(' ');
  if (at == std::string::npos) return h;
  std::string body(atoi(h.c_str() + at + 1), 0);
  if (!body.empty() && !readBlock(s, &body[0], body.size())) return h + "|<cut>";
  return h + "|" + body;
}

bool nothingPending(int s) {
  pollfd p = {s, POLLIN, 0};
  return poll(&p, 1, 100) == 0;
}

// Peer slot 0 with its outbound connection on one end of a socket pair;
// returns the other end (what the peer reads).
int fakeOutbound(int slot = 0) {
  int sv[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  std::lock_guard<std::mutex> g(peersLock);
  peers[slot].clientSocket = sv[0];
  peers[slot].clientReady = true;
  startSender(slot);
  return sv[1];
}

template <class F>
bool pumpUntil(F done, int ms = 5000) {
  for (int t = 0; t < ms; t += 5) {
    netPump();
    if (done()) return true;
    SDL_Delay(5);
  }
  return false;
}

bool slotFree(int i) {
  std::lock_guard<std::mutex> g(peersLock);
  return peers[i].connectedSocket < 0 && peers[i].clientSocket < 0 && !peers[i].littleServerThread;
}

std::string sizeBlock(long n) {
  char b[SIZE_BLOCK];
  formatSizeBlock(b, n);
  return std::string(b, SIZE_BLOCK);
}

void sendStr(int s, const std::string& bytes) { ASSERT_TRUE(sendAll(s, bytes.data(), bytes.size())); }

std::string blockOf(const char* text, size_t size) {
  std::string b(size, 0);
  memcpy(&b[0], text, strlen(text) < size ? strlen(text) : size);
  return b;
}
}  // namespace

TEST(NetFraming, HeaderBlocksAndSizeBlocks) {
  char h[HEADER_BLOCK], word[HEADER_BLOCK];
  int n = -1;
  formatHeader(h, "PARTTHIS!", 13);
  EXPECT_STREQ(h, "PARTTHIS! 13");
  ASSERT_TRUE(parseHeader(h, word, &n));
  EXPECT_STREQ(word, "PARTTHIS!");
  EXPECT_EQ(n, 13);
  formatHeader(h, "DISCONNECT!", 0);
  ASSERT_TRUE(parseHeader(h, word, &n));
  EXPECT_EQ(n, 0);
  memset(h, 'A', sizeof h);  // no NUL inside the block
  EXPECT_FALSE(parseHeader(h, word, &n));
  for (const char* bad : {"PARTTHIS! -1", "PARTTHIS! 32768", "PARTTHIS!", "PARTTHIS! x", ""}) {
    memset(h, 0, sizeof h);
    strcpy(h, bad);
    EXPECT_FALSE(parseHeader(h, word, &n)) << bad;
  }
  char sb[SIZE_BLOCK];
  long v = -1;
  formatSizeBlock(sb, 16384);
  ASSERT_TRUE(parseSizeBlock(sb, CHUNK_MAX, &v));
  EXPECT_EQ(v, 16384);
  EXPECT_FALSE(parseSizeBlock(sb, CHUNK_MAX - 1, &v));
  for (const char* bad : {"-1", "12x", "", "abc", "99999999999999"}) {
    memset(sb, 0, sizeof sb);
    strcpy(sb, bad);
    EXPECT_FALSE(parseSizeBlock(sb, PASS_MAX_BYTES, &v)) << bad;
  }
  memset(sb, '1', sizeof sb);
  EXPECT_FALSE(parseSizeBlock(sb, PASS_MAX_BYTES, &v));
}

TEST(NetSenders, PenActionIsThirteenBodyBytesAndAppliesLocally) {
  setUpProject();
  int m = openTestMap("map0", 8, 8);
  ASSERT_GE(m, 0);
  int peer = fakeOutbound();
  action_SetElementAbsolute("map0", 0, 3, 2, 5);
  EXPECT_EQ(readAction(peer), std::string("PARTTHIS! 13|map0 0 3 2 5\0", 26));
  EXPECT_EQ(project.listeMaps[m]->layer[0]->e[2 * 8 + 3], 5);
  // Queued edits reach the peer exactly in the order they were made.
  for (int k = 0; k < 200; k++) action_SetElementAbsolute("map0", 0, 1, 1, k % 10);
  for (int k = 0; k < 200; k++)
    ASSERT_EQ(readAction(peer), "PARTTHIS! 13|map0 0 1 1 " + std::to_string(k % 10) + '\0');
  // Rectangle, rename with spaces, background fields, map following.
  action_SetElementSquare("map0", 0, 2, 5, 0, 4, 9);
  EXPECT_EQ(readAction(peer), std::string("DRAWSQUARE 17|map0 0 2 5 0 4 9\0", 31));
  EXPECT_EQ(project.listeMaps[m]->layer[0]->e[4 * 8 + 1], 9);
  action_sendMapSysname("map0", "The big cave");
  EXPECT_EQ(readAction(peer), std::string("SENDMAPSYSNAME 18|map0 The big cave\0", 36));
  // A body that does not fit its buffer is not sent truncated.
  std::string longName(300, 'x');
  action_silentopen(longName.c_str());
  EXPECT_TRUE(nothingPending(peer));
}

TEST(NetSenders, NetOffOrNoPeerSendsNothingButApplies) {
  setUpProject();
  int m = openTestMap("map0", 8, 8);
  net = false;
  int peer = fakeOutbound();
  action_SetElementAbsolute("map0", 0, 1, 1, 7);
  action_deleteLayer(m, 0);
  EXPECT_TRUE(nothingPending(peer));
  EXPECT_EQ(project.listeMaps[m]->layer[0]->e[9], 7);
  net = true;
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[0].clientReady = false;  // connected but handshake not done: not a peer yet
  }
  EXPECT_EQ(connectedPeers(), 0);
  action_SetElementAbsolute("map0", 0, 2, 1, 8);
  EXPECT_TRUE(nothingPending(peer));
  EXPECT_EQ(project.listeMaps[m]->layer[0]->e[10], 8);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[0].clientReady = true;
  }
  // A tileset this editor lacks is refused here as at the peers.
  int layers = project.listeMaps[m]->layers;
  action_addLayer(m, "absent", false);
  EXPECT_EQ(project.listeMaps[m]->layers, layers);
  EXPECT_TRUE(nothingPending(peer));
  // A dead peer: the edit still lands here, the peer is dropped.
  close(peer);
  action_SetElementAbsolute("map0", 0, 3, 1, 4);
  EXPECT_EQ(project.listeMaps[m]->layer[0]->e[11], 4);
  EXPECT_TRUE(pumpUntil([] { return slotFree(0); }));
}

// A peer that takes nothing costs the editor nothing: the action is queued
// and the call returns; the activity flag stays up while the queue holds
// work; the peer is dropped (slot freed, its map released) when its queue
// overflows or when it makes no progress.
TEST(NetSenders, HungOrOverflowingPeerIsDroppedWithoutHoldingTheEditor) {
  setUpProject();
  int w = openTestMap("map0", 8, 8);
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  writeBmpTileset(proj, "tiles", 32, 32);
  struct Case {
    const char* what;
    int actions;  // pen actions; 0: one "ADDLAYER" the peer never answers
    const char* log;
  } cases[] = {
      {"stalled transfer", 0, "abandonne: envoi de ADDLAYER impossible!"},
      {"overflow", 20000, "abandonne: file d'envoi pleine!"},
  };
  for (const Case& c : cases) {
    int peer = fakeOutbound();
    int cave = openTestMap("cave", 4, 4);
    usedMap[0] = project.listeMaps[cave];
    std::string log = logOf([&] {
      if (c.actions == 0) {
        actionSend("ADDLAYER", "map0 tiles 0");
        EXPECT_EQ(sendPending(), 1) << c.what;
        EXPECT_TRUE(antenneWifi) << c.what;
      }
      for (int k = 0; k < c.actions && !slotFree(0); k++) {
        action_SetElementAbsolute("map0", 0, 1, 1, k);
        netPump();
      }
      EXPECT_TRUE(pumpUntil([] { return slotFree(0); }, 10000)) << c.what;
    });
    EXPECT_NE(log.find(c.log), std::string::npos) << c.what;
    EXPECT_EQ(usedMap[0], nullptr) << c.what;
    EXPECT_EQ(getMap("cave"), project.nbreMaps) << c.what;  // released: saved and closed
    EXPECT_EQ(sendPending(), 0) << c.what;
    EXPECT_FALSE(antenneWifi) << c.what;
    close(peer);
  }
  EXPECT_EQ(getMap("map0"), w);
}

TEST(NetExtensions, AnnouncedWordsAndActionsForAnnouncedPeersOnly) {
  setUpProject();
  const char* const table[] = {"ALPHA", "BETA", "GAMMA", nullptr};
  EXPECT_EQ(parseExtensions("  BETA zeta\tALPHA ALPHAX ", table), 3u);
  EXPECT_EQ(parseExtensions("", table), 0u);
  char body[BODY_LEN];
  formatExtensions(body, sizeof body, 5, table);
  EXPECT_STREQ(body, "ALPHA GAMMA");
  formatExtensions(body, sizeof body, 0, table);
  EXPECT_STREQ(body, "");
  // Words this editor does not know are recorded as nothing.
  readActions("EXTENSIONS", "FUTUREWORD", 2);
  EXPECT_EQ(peers[2].extensions, 0u);
  // Only the peer that announced the extension gets the action, in its queue.
  int plain = fakeOutbound(0), speaks = fakeOutbound(1);
  peers[1].extensions = 1;
  EXPECT_TRUE(peerHas(1, 1));
  EXPECT_FALSE(peerHas(0, 1));
  EXPECT_FALSE(peerHas(2, 0));  // no peer there
  actionSendTo(1, "NEWTHING", "x");
  EXPECT_EQ(readHeader(speaks), "NEWTHING 2");
  EXPECT_TRUE(nothingPending(plain));
  netReset();
  close(plain);
  close(speaks);
}

// The session-key exchange as the verifier v sees it: the peer announces
// AUTH, sends its nonce, then its proof. v's own replies must let the peer
// check v in turn; anything truncated, replayed, reflected or forged is refused.
TEST(NetAuth, ExchangeRefusesTruncatedReplayedAndForgedProofs) {
  const char* key = "s3cret words";
  using Body = std::function<std::string(const AuthExchange&)>;
  auto hex = [](const unsigned char* n) { char h[AUTH_HEX_LEN]; authHex(n, h); return std::string(h); };
  AuthExchange earlier;
  authExchangeStart(&earlier);  // a past session of v's, whose proof is replayed
  unsigned char peer[NONCE_BYTES];  // another editor's nonce: not issued here
  randombytes_buf(peer, sizeof peer);
  auto proofBy = [&](const char* k, const unsigned char* challenge) -> Body {
    return [=, &peer](const AuthExchange& v) {
      char h[AUTH_HEX_LEN];
      authProof(k, challenge ? challenge : v.mine, peer, h);
      return std::string(h);
    };
  };
  Body ext = [](const AuthExchange&) { return std::string("FUTURE AUTH"); };
  Body nonce = [&](const AuthExchange&) { return hex(peer); };
  Body honest = proofBy(key, nullptr);
  auto edit = [](Body b, int cut, const char* add) -> Body {
    return [=](const AuthExchange& v) { std::string t = b(v); return t.substr(0, t.size() - cut) + add; };
  };
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, Body>> steps;  // all but the last wait
    AuthVerdict want;
    const char* why;
  } cases[] = {
      {"honest", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", honest}}, AUTH_ADMIT, ""},
      {"truncated", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", edit(honest, 2, "")}}, AUTH_REFUSE, "tronquee"},
      {"overlong", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", edit(honest, 0, "00")}}, AUTH_REFUSE, "tronquee"},
      {"not hex", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", edit(honest, 2, "zz")}}, AUTH_REFUSE, "mal formee"},
      {"replayed", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", proofBy(key, earlier.mine)}}, AUTH_REFUSE, "differente"},
      {"other key", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", proofBy("s3cret word", nullptr)}}, AUTH_REFUSE, "differente"},
      {"forged", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHPROOF", [&](const AuthExchange&) { return hex(earlier.mine); }}}, AUTH_REFUSE, "differente"},
      {"own nonce reflected", {{"EXTENSIONS", ext}, {"AUTHNONCE", [&](const AuthExchange& v) { return hex(v.mine); }}}, AUTH_REFUSE, "renvoye"},
      {"earlier own nonce", {{"EXTENSIONS", ext}, {"AUTHNONCE", [&](const AuthExchange&) { return hex(earlier.mine); }}}, AUTH_REFUSE, "renvoye"},
      {"second nonce", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"AUTHNONCE", nonce}}, AUTH_REFUSE, "second"},
      {"proof first", {{"EXTENSIONS", ext}, {"AUTHPROOF", honest}}, AUTH_REFUSE, "avant le nonce"},
      {"edit before proof", {{"EXTENSIONS", ext}, {"AUTHNONCE", nonce}, {"PARTTHIS!", ext}}, AUTH_REFUSE, "avant la preuve"},
      {"base editor", {{"PARTTHIS!", ext}}, AUTH_REFUSE, "protocole de base"},
      {"no AUTH word", {{"EXTENSIONS", [](const AuthExchange&) { return std::string("SYNC"); }}}, AUTH_REFUSE, "sans cle"},
  };
  for (const Case& c : cases) {
    AuthExchange v;
    authExchangeStart(&v);
    AuthStep step;
    for (const auto& st : c.steps) {
      ASSERT_EQ(step.verdict, AUTH_WAIT) << c.what;
      step = authExchangeStep(&v, key, st.first, st.second(v).c_str());
      // v's replies: its nonce, then a proof the peer can check.
      if (step.verdict == AUTH_WAIT && !strcmp(st.first, "EXTENSIONS"))
        EXPECT_EQ(std::string(step.replyHeader) + " " + step.replyBody, "AUTHNONCE " + hex(v.mine)) << c.what;
      if (step.verdict == AUTH_WAIT && !strcmp(st.first, "AUTHNONCE")) {
        char want[AUTH_HEX_LEN];
        authProof(key, peer, v.mine, want);
        EXPECT_STREQ(step.replyBody, want) << c.what;
      }
    }
    EXPECT_EQ(step.verdict, c.want) << c.what;
    EXPECT_NE(std::string(step.why).find(c.why), std::string::npos) << c.what << ": " << step.why;
    EXPECT_EQ(v.proven, c.want == AUTH_ADMIT) << c.what;
  }
}

TEST(NetInterpreter, RenameDeleteLayerNewMapAndUnknownWords) {
  setUpProject();
  int a = openTestMap("alpha", 4, 4);
  int b = openTestMap("beta", 4, 4);
  ASSERT_EQ(a, 0);
  ASSERT_EQ(b, 1);
  addLayer(project.listeMaps[a], "default", false);
  addLayer(project.listeMaps[a], "default", false);
  readActions("SENDMAPSYSNAME", "beta Castle of  glass", 0);
  EXPECT_STREQ(project.listeMaps[b]->sysname, "Castle of  glass");
  // Slot 0 here holds alpha, whatever name the sender's slot 0 had.
  ASSERT_EQ(project.listeMaps[a]->layers, 3);
  readActions("DELETELAYER", "0 2", 3);
  EXPECT_EQ(project.listeMaps[a]->layers, 2);
  readActions("DELETELAYER", "7 0", 3);  // no map in slot 7: nothing
  readActions("DELETELAYER", "-1 0", 3);
  EXPECT_EQ(project.listeMaps[a]->layers, 2);
  int maps = project.nbreMaps, current = project.currentMap;
  readActions("NEWMAP", "gamma 2 1", 0);
  EXPECT_EQ(readFile(proj + "maps/gamma.map").size(), 48u + 5 + 8);
  EXPECT_EQ(project.nbreMaps, maps);
  EXPECT_EQ(getMap("gamma"), project.nbreMaps);
  EXPECT_EQ(project.currentMap, current);
  // Never overwrites a map it has, never writes outside "maps", obeys the size limit.
  project.listeMaps[a]->layer[0]->e[0] = 3;
  ASSERT_TRUE(closeMapi(a, "alpha"));
  std::string before = readFile(proj + "maps/alpha.map");
  readActions("NEWMAP", "alpha 2 2", 0);
  EXPECT_EQ(readFile(proj + "maps/alpha.map"), before);
  readActions("NEWMAP", "../evil 2 2", 0);
  readActions("NEWMAP", "huge 100000 100000", 0);
  readActions("NEWMAP", "neg -1 5", 0);
  EXPECT_EQ(readFile(proj + "evil.map"), "");
  EXPECT_EQ(readFile(proj + "maps/huge.map"), "");
  EXPECT_EQ(readFile(proj + "maps/neg.map"), "");
  // Unknown words and "SLIENTCLOSE" change nothing.
  std::string sys = project.listeMaps[b]->sysname;
  std::string log = logOf([] {
    readActions("SLIENTCLOSE", "beta", 0);
    readActions("FORMATDISK", "beta 1 2", 0);
  });
  EXPECT_EQ(log, "Action reseau: SLIENTCLOSE,beta!\nAction reseau: FORMATDISK,beta 1 2!\n");
  EXPECT_EQ(project.listeMaps[b]->sysname, sys);
  EXPECT_NE(getMap("beta"), project.nbreMaps);
}

TEST(NetInterpreter, HostileValuesOnlyLog) {
  setUpProject();
  int m = openTestMap("map0", 4, 4);
  std::vector<int32_t> cells(project.listeMaps[m]->layer[0]->e, project.listeMaps[m]->layer[0]->e + 16);
  for (const char* body : {"nomap 0 1 1 5", "map0 1 1 1 5", "map0 -1 1 1 5", "map0 0 4 0 5", "map0 0 -1 0 5",
                           "map0 0 0 99999999999 5", "map0 4294967296 0 0 5", "map0 0 0 0 4294967296",
                           "map0", "", "map0 0 0"})
    readActions("PARTTHIS!", body, 0);
  readActions("DRAWSQUARE", "map0 0 9 9 20 20 1", 0);
  readActions("DRAWSQUARE", "map0 0 -1 0 2 2 1", 0);
  readActions("SETLAYERBGXY", "map0 5 1 2 3", 0);
  readActions("ADDLAYER", "nomap default 0", 0);
  readActions("ADDLAYER", "map0 ../../etc/passwd 0", 0);
  readActions("ADDLAYER", "map0 nosuchtiles 0", 0);  // never arrived: no layer, no library slot
  readActions("SENDMAPSYSNAME", "nomap x", 0);
  readActions("PARTTHIS!", "map0 0 0 0 1", 64);
  readActions("PARTTHIS!", "map0 0 0 0 1", -1);
  EXPECT_EQ(project.listeMaps[m]->layers, 1);
  EXPECT_EQ(std::vector<int32_t>(project.listeMaps[m]->layer[0]->e, project.listeMaps[m]->layer[0]->e + 16), cells);
  for (int i = 0; i < LIBRARY_SLOTS; i++)
    EXPECT_FALSE(layersGFXnames[i] && strcmp(layersGFXnames[i], "nosuchtiles") == 0);
  readActions("PARTTHIS!", "map0 0 3 3 6", 0);
  EXPECT_EQ(project.listeMaps[m]->layer[0]->e[15], 6);
  // Millions of cells: cut to the map, filled, one log line instead of one per cell.
  int wide = openTestMap("wide", 2048, 2048);
  EXPECT_LT(lineCount(logOf([] { readActions("DRAWSQUARE", "wide 0 0 0 99999 99999 3", 0); })), 5);
  EXPECT_EQ(project.listeMaps[wide]->layer[0]->e[2048 * 2048 - 1], 3);
}

// Following a peer (checked end to end with real editors) releases the map
// it leaves unless another peer uses it; never the working map.
TEST(NetInterpreter, SilentOpenReleasesOnlyMapsNoOneUses) {
  setUpProject();
  int w = openTestMap("work", 4, 4);
  snprintf(project.workingMap, sizeof project.workingMap, "work");
  project.currentMap = w;
  ASSERT_TRUE(newMapFile("cave", 4, 4));
  ASSERT_TRUE(newMapFile("town", 4, 4));
  readActions("SILENTOPEN", "cave", 2);
  readActions("SILENTOPEN", "cave", 3);
  project.listeMaps[getMap("cave")]->layer[0]->e[0] = 42;
  readActions("SILENTOPEN", "work", 2);
  EXPECT_LT(getMap("cave"), project.nbreMaps);  // peer 3 is still there
  readActions("SILENTOPEN", "town", 2);
  EXPECT_LT(getMap("work"), project.nbreMaps);
  // A map this editor lacks, or a bad name: logged, the editor keeps running.
  readActions("SILENTOPEN", "nowhere", 3);
  EXPECT_EQ(usedMap[3], nullptr);
  EXPECT_EQ(getMap("cave"), project.nbreMaps);  // released by peer 3 leaving it: saved
  EXPECT_EQ(readFile(proj + "maps/cave.map")[46], 42);
  readActions("SILENTOPEN", "../../x", 2);
  EXPECT_STREQ(usedMap[2]->filename, "town");
  // The end of peer 2's connection releases town, but never the working map.
  releasePeerMap(2);
  EXPECT_EQ(getMap("town"), project.nbreMaps);
  usedMap[4] = project.listeMaps[w];
  releasePeerMap(4);
  EXPECT_LT(getMap("work"), project.nbreMaps);
  EXPECT_EQ(usedMap[4], nullptr);
}

namespace {
// Runs the sending side of a tileset offer into a socket pair and collects
// the chunk sizes the peer reads.
std::vector<long> offerAndRead(const char* name, const std::string& bytes, std::string* got,
                               std::string* log) {
  std::vector<long> sizes;
  writeFile(proj + "layers/" + name + ".png", bytes);
  int sv[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  std::thread peer([&] {
    sendAll(sv[1], blockOf("SENDIT", REPLY_BLOCK).data(), REPLY_BLOCK);
    for (;;) {
      char b[SIZE_BLOCK];
      long n;
      if (!readBlock(sv[1], b, SIZE_BLOCK) || !parseSizeBlock(b, CHUNK_MAX, &n)) return;
      sizes.push_back(n);
      std::string chunk(n, 0);
      if (n && !readBlock(sv[1], &chunk[0], n)) return;
      *got += chunk;
      if (n < CHUNK_MAX) break;
    }
    char b[SIZE_BLOCK];
    long n;
    if (readBlock(sv[1], b, SIZE_BLOCK) && parseSizeBlock(b, PASS_MAX_BYTES, &n)) sizes.push_back(-n);
  });
  std::vector<unsigned char> pass(8, 1);
  *log = logOf([&] { EXPECT_TRUE(offerTileset(sv[0], name, pass)); });
  peer.join();
  close(sv[0]);
  close(sv[1]);
  return sizes;
}
}  // namespace

TEST(NetTransfer, ChunksOfFortyThousandAndOfAnExactMultiple) {
  setUpProject();
  std::string got, log, data = pattern(40000);
  EXPECT_EQ(offerAndRead("big", data, &got, &log), (std::vector<long>{16384, 16384, 7232, -8}));
  EXPECT_EQ(got, data);
  EXPECT_NE(log.find("envoi de big...\n"), std::string::npos);
  EXPECT_NE(log.find("Envoi d'un paquet de 16384 (23616 restant)Envoi d'un paquet de 16384 (7232 restant)"
                     "Envoi d'un paquet de 7232 (0 restant)"),
            std::string::npos);
  got.clear();
  data = pattern(32768);
  EXPECT_EQ(offerAndRead("even", data, &got, &log), (std::vector<long>{16384, 16384, 0, -8}));
  EXPECT_EQ(got, data);
  EXPECT_NE(log.find("Envoi d'un paquet de 0 (0 restant)"), std::string::npos);
}

TEST(NetTransfer, PassConditionsAsSentForOddSizesAndMissingFiles) {
  setUpProject();
  writeBmpTileset(proj, "t6448", 64, 48);
  writeBmpTileset(proj, "t6440", 64, 40);
  EXPECT_EQ(passConditionsOf("t6448"), std::vector<unsigned char>(48, 1));
  EXPECT_EQ(passConditionsOf("t6440"), std::vector<unsigned char>(32, 1));
  // A saved file is sent as it stands; a short one is padded with passable.
  std::string pss(48, 0);
  pss[5] = 1;
  writeFile(proj + "layerspc/t6448.pss", pss);
  std::vector<unsigned char> p = passConditionsOf("t6448");
  EXPECT_EQ(std::string(p.begin(), p.end()), pss);
  writeFile(proj + "layerspc/t6448.pss", std::string(10, 0));
  p = passConditionsOf("t6448");
  EXPECT_EQ(std::string(p.begin(), p.end()), std::string(10, 0) + std::string(38, 1));
  EXPECT_TRUE(passConditionsOf("absent").empty());
}

TEST(NetTransfer, ReceivingSideLeftmeSenditAndBrokenTransfers) {
  setUpProject();
  // Present image: "LEFTME", own pass conditions untouched.
  writeFile(proj + "layers/have.png", "PNG");
  writeFile(proj + "layerspc/have.pss", std::string(4, 0));
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  ASSERT_TRUE(receiveTileset(sv[0], "map0 have 0"));
  char r[REPLY_BLOCK];
  ASSERT_TRUE(readBlock(sv[1], r, REPLY_BLOCK));
  EXPECT_STREQ(r, "LEFTME");
  EXPECT_EQ(readFile(proj + "layerspc/have.pss"), std::string(4, 0));
  EXPECT_TRUE(nothingPending(sv[1]));
  // Missing image: "SENDIT", then chunks and pass conditions, byte-identical
  // (more than one block of file writes).
  std::string img = pattern(WRITE_BLOCK + 20000), pss = std::string("\1\0\1\0", 4) + std::string(4, 1);
  std::string stream;
  for (size_t at = 0, k = CHUNK_MAX; k == CHUNK_MAX; at += k) {
    k = std::min(img.size() - at, (size_t)CHUNK_MAX);
    stream += sizeBlock((long)k) + img.substr(at, k);
  }
  std::thread sender([&] {
    char a[REPLY_BLOCK];
    if (!readBlock(sv[1], a, REPLY_BLOCK)) return;
    sendStr(sv[1], stream + sizeBlock(8) + pss);
  });
  ASSERT_TRUE(receiveTileset(sv[0], "map0 fresh 0"));
  sender.join();
  EXPECT_EQ(readFile(proj + "layers/fresh.png"), img);
  EXPECT_EQ(readFile(proj + "layerspc/fresh.pss"), pss);
  // A bad name is refused without touching anything.
  ASSERT_TRUE(receiveTileset(sv[0], "map0 ../x 0"));
  ASSERT_TRUE(readBlock(sv[1], r, REPLY_BLOCK));
  EXPECT_STREQ(r, "LEFTME");
  // A chunk announcing more than 16384 (first or after a full one), and a
  // peer gone mid-chunk: no file, no leftover.
  for (int round = 0; round < 3; round++) {
    std::thread bad([&] {
      char a[REPLY_BLOCK];
      if (!readBlock(sv[1], a, REPLY_BLOCK)) return;
      if (round == 0)
        sendStr(sv[1], sizeBlock(16385));
      else if (round == 1)
        sendStr(sv[1], stream.substr(0, SIZE_BLOCK + CHUNK_MAX) + sizeBlock(16385));
      else
        sendStr(sv[1], sizeBlock(16384) + img.substr(0, 100));
      shutdown(sv[1], SHUT_WR);
    });
    EXPECT_FALSE(receiveTileset(sv[0], "map0 broken 0"));
    bad.join();
    if (round < 2) {
      close(sv[0]);
      close(sv[1]);
      ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    }
  }
  EXPECT_EQ(readFile(proj + "layers/broken.png"), "");
  EXPECT_EQ(system(("ls " + proj + "layers | grep -q part").c_str()) == 0, false);
}

TEST(NetTransfer, ReceivedPassConditionsReplaceTheFileWhole) {
  setUpProject();
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  sendStr(sv[1], sizeBlock(8) + std::string(8, 0));
  ASSERT_TRUE(receivePC(sv[0], "grass"));
  EXPECT_EQ(readFile(proj + "layerspc/grass.pss"), std::string(8, 0));
  sendStr(sv[1], sizeBlock(4) + std::string(4, 1));
  ASSERT_TRUE(receivePC(sv[0], "../grass"));  // consumed, refused
  EXPECT_EQ(readFile(proj + "layerspc/grass.pss"), std::string(8, 0));
  // Shorter than the tileset here needs (48 bytes), or empty: the file stays.
  writeBmpTileset(proj, "grass", 64, 48);
  for (long n : {44L, 0L}) {
    sendStr(sv[1], sizeBlock(n) + std::string((size_t)n, 1));
    ASSERT_TRUE(receivePC(sv[0], "grass"));
    EXPECT_EQ(readFile(proj + "layerspc/grass.pss"), std::string(8, 0)) << n;
  }
  sendStr(sv[1], sizeBlock(48) + std::string(48, 1));
  ASSERT_TRUE(receivePC(sv[0], "grass"));
  EXPECT_EQ(readFile(proj + "layerspc/grass.pss"), std::string(48, 1));
  sendStr(sv[1], sizeBlock(PASS_MAX_BYTES + 1));
  EXPECT_FALSE(receivePC(sv[0], "grass"));
  // A sender without the tileset sends nothing rather than an empty file.
  int peer = fakeOutbound();
  action_sendPC("absent");
  EXPECT_TRUE(nothingPending(peer));
  EXPECT_FALSE(diskRoom(1LL << 62));
  // An unwritable folder: logged, no exit.
  ASSERT_EQ(system(("rm -rf " + proj + "layerspc").c_str()), 0);
  sendStr(sv[1], sizeBlock(4) + std::string(4, 1));
  EXPECT_TRUE(receivePC(sv[0], "grass"));
}

// ---- The handshake and the receiving loop against a fake peer over loopback.
namespace {
const uint32_t EDITOR_HOST = htonl(0x7F000001);  // 127.0.0.1
const uint32_t PEER_HOST = htonl(0x7F000002);    // 127.0.0.2

void startEditor() {
  setUpProject();
  int m = openTestMap("map0", 8, 8);
  project.currentMap = m;
  snprintf(project.workingMap, sizeof project.workingMap, "map0");
  projectLoaded = true;
  snprintf(username, sizeof username, "alice");
  net = true;
  netPort = 20000 + (int)(getpid() % 20000);
  netListenHost = EDITOR_HOST;
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

// The joining side of the handshake as a peer speaks it.
std::string peerHandshake(int s, const char* ver, const char* token) {
  sendStr(s, blockOf("bob", NAME_BLOCK));
  char name[NAME_BLOCK], v[VERSION_BLOCK];
  if (!readBlock(s, name, NAME_BLOCK)) return "<no name>";
  sendStr(s, blockOf(ver, VERSION_BLOCK));
  if (!readBlock(s, v, VERSION_BLOCK)) return "<no version>";
  if (token) sendStr(s, blockOf(token, TOKEN_BLOCK));
  return std::string(name) + "/" + v;
}

void sendAction(int s, const char* header, const char* body) {
  char h[HEADER_BLOCK];
  formatHeader(h, header, (int)strlen(body) + 1);
  sendStr(s, std::string(h, HEADER_BLOCK) + std::string(body, strlen(body) + 1));
}
}  // namespace

TEST(NetPeers, HandshakeReverseConnectionActionsAndDisconnect) {
  startEditor();
  int peerListen = netListen(PEER_HOST, netPort, nullptr);
  ASSERT_GE(peerListen, 0);
  int in = peerConnect();
  EXPECT_EQ(peerHandshake(in, "0.24a", "REPEAT!"), "alice/0.24a");
  // The editor connects back and runs the joining side with "THANKS!".
  int back = netAccept(peerListen, 5000, nullptr, nullptr);
  ASSERT_GE(back, 0);
  char name[NAME_BLOCK], v[VERSION_BLOCK], token[TOKEN_BLOCK];
  ASSERT_TRUE(readBlock(back, name, NAME_BLOCK));
  EXPECT_STREQ(name, "alice");
  sendStr(back, blockOf("bob", NAME_BLOCK));
  ASSERT_TRUE(readBlock(back, v, VERSION_BLOCK));
  sendStr(back, blockOf("0.24a", VERSION_BLOCK));
  ASSERT_TRUE(readBlock(back, token, TOKEN_BLOCK));
  EXPECT_STREQ(token, "THANKS!");
  ASSERT_TRUE(pumpUntil([] { return connectedPeers() == 1 && usedMap[0] != nullptr; }));
  char peer[NAME_BLOCK];
  ASSERT_TRUE(peerName(0, peer, sizeof peer));
  EXPECT_STREQ(peer, "bob");
  // The peer's pen lands on the main thread, and only then is the panel redrawn.
  refreshMenu = false;
  sendAction(in, "PARTTHIS!", "map0 0 3 2 5");
  for (int t = 0; t < 5000 && netQueued() == 0; t += 5) SDL_Delay(5);
  EXPECT_FALSE(refreshMenu);
  ASSERT_TRUE(pumpUntil([] { return project.listeMaps[0]->layer[0]->e[2 * 8 + 3] == 5; }));
  EXPECT_TRUE(refreshMenu);
  action_SetElementAbsolute("map0", 0, 1, 1, 6);
  // The first action on the connection announces this editor's extensions.
  EXPECT_EQ(readHeader(back), "EXTENSIONS 10");
  ASSERT_TRUE(readBlock(back, name, 10));
  EXPECT_STREQ(name, "AUTH SYNC");
  EXPECT_EQ(readHeader(back), "PARTTHIS! 13");
  char body[13];
  ASSERT_TRUE(readBlock(back, body, 13));
  EXPECT_STREQ(body, "map0 0 1 1 6");
  // Our disconnect: "DISCONNECT! 0" to the peer, threads ended, slot free.
  disconnect(true);
  EXPECT_EQ(readHeader(back), "DISCONNECT! 0");
  EXPECT_EQ(connectedPeers(), 0);
  EXPECT_FALSE(peerName(0, peer, sizeof peer));
  EXPECT_NE(usedMap[0], nullptr);  // a local disconnect keeps the peer's map counted
  close(in);
  close(back);
  close(peerListen);
  stop = true;
  disconnect(false);
}

// One pair per peer: a joiner asking for the reverse connection while this
// editor's own join to it is under way gets none (the join is the pair's
// other half); one asking while another slot holds a link to it is refused
// rather than crossing two slots.
TEST(NetPeers, OneConnectionPairPerPeer) {
  startEditor();
  int peerListen = netListen(PEER_HOST, netPort, nullptr);
  ASSERT_GE(peerListen, 0);
  struct Case {
    const char* what;
    int linkedSlot;  // slot holding our link to the peer beforehand
    bool paired;     // that slot already serves the peer too
    bool kept;       // the new inbound connection is served on linkedSlot
  } cases[] = {{"joining each other at once", 0, false, true}, {"second pair", 3, true, false}};
  for (const Case& c : cases) {
    {
      std::lock_guard<std::mutex> g(peersLock);
      Peer& p = peers[c.linkedSlot];
      p.clientPending = true;  // our join, still in its handshake
      p.outHost = PEER_HOST;
      if (c.paired) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        close(sv[1]);
        p.connectedSocket = sv[0];
        p.inHost = PEER_HOST;
      }
    }
    captureLogBegin();
    int in = peerConnect();
    EXPECT_EQ(peerHandshake(in, "0.24a", "REPEAT!"), "alice/0.24a") << c.what;
    if (c.kept)
      EXPECT_TRUE(pumpUntil([&] { return usedMap[c.linkedSlot] != nullptr; })) << c.what;
    else
      EXPECT_TRUE(pumpUntil([] { return slotFree(0); })) << c.what;
    std::string log = captureLogEnd();
    EXPECT_EQ(log.find("Tentative de connexion"), std::string::npos) << c.what;
    EXPECT_TRUE(nothingPending(peerListen)) << c.what;  // no second connection
    disconnect(true);  // ends every thread, closes every socket, listens again
    close(in);
  }
  close(peerListen);
  stop = true;
  disconnect(false);
}

TEST(NetPeers, QuitWithoutNetworkingListensNowhere) {
  setUpProject();
  net = false;
  netPort = 20000 + (int)(getpid() % 20000);
  netListenHost = EDITOR_HOST;
  disconnect(true);  // the quit path
  int l = netListen(EDITOR_HOST, netPort, nullptr);
  EXPECT_GE(l, 0) << "the port is taken: something listens";
  close(l);
}

TEST(NetPeers, GarbageVanishDisconnectAndFloodFreeTheSlot) {
  startEditor();
  // Garbage header, vanished peer, "DISCONNECT!", a flood faster than the
  // editor applies: each frees the slot.
  for (int round = 0; round < 4; round++) {
    int p = peerConnect();
    EXPECT_EQ(peerHandshake(p, "0.24a", "THANKS!"), "alice/0.24a");
    ASSERT_TRUE(pumpUntil([] { return usedMap[0] != nullptr; }));
    if (round == 0) sendStr(p, std::string(HEADER_BLOCK, 'Z'));
    if (round == 2) sendAction(p, "DISCONNECT!", "");
    if (round == 1) close(p);
    if (round == 3) {
      captureLogBegin();
      std::string many;
      for (int k = 0; k <= RECV_QUEUE_MAX; k++) {
        char h[HEADER_BLOCK];
        formatHeader(h, "FLOOD", 2);
        many += std::string(h, HEADER_BLOCK) + std::string("x", 2);
      }
      sendAll(p, many.data(), many.size());  // the editor may cut it off midway
      // Nothing is applied meanwhile: the editor is busy elsewhere.
      for (int t = 0; t < 5000 && netQueued() < RECV_QUEUE_MAX; t += 5) SDL_Delay(5);
    }
    ASSERT_TRUE(pumpUntil([] {
      std::lock_guard<std::mutex> g(peersLock);
      return peers[0].connectedSocket < 0 && !peers[0].littleServerThread;
    })) << round;
    EXPECT_EQ(usedMap[0], nullptr);
    EXPECT_LT(getMap("map0"), project.nbreMaps);  // the working map stays open
    if (round == 3) EXPECT_NE(captureLogEnd().find("Trop d'actions en attente"), std::string::npos);
    if (round != 1) close(p);
  }
  stop = true;
  disconnect(false);
}

TEST(NetPeers, AllSlotsTakenRefusesTheNextConnection) {
  startEditor();
  std::vector<int> socks;
  for (int i = 0; i < MAX_PEERS; i++) socks.push_back(peerConnect());
  ASSERT_TRUE(pumpUntil([] {
    std::lock_guard<std::mutex> g(peersLock);
    return peers[MAX_PEERS - 1].connectedSocket >= 0;
  }));
  int extra = peerConnect();
  char c;
  pollfd p = {extra, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  EXPECT_EQ(recv(extra, &c, 1, 0), 0);  // closed by the editor
  close(extra);
  // Connections that never speak are cut when the handshake's time is out.
  EXPECT_TRUE(pumpUntil([] { return slotFree(0) && slotFree(MAX_PEERS - 1); }, HANDSHAKE_MS + 3000));
  for (int s : socks) close(s);
  stop = true;
}

TEST(NetPeers, PeerIsHeldOffUntilTheProjectIsLoaded) {
  startEditor();
  projectLoaded = false;  // the project is still being chosen
  int in = peerConnect();
  sendStr(in, blockOf("bob", NAME_BLOCK));
  // No name block comes back while no project exists.
  char name[NAME_BLOCK];
  EXPECT_FALSE(recvAll(in, name, NAME_BLOCK, 300, 300));
  projectLoaded = true;
  ASSERT_TRUE(readBlock(in, name, NAME_BLOCK));
  EXPECT_STREQ(name, "alice");
  close(in);
}
