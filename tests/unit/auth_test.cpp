// The session key: proofs bound to role, session and both nonces; the
// session channel's frames; and the proof and channel of a real connection.
#include <gtest/gtest.h>
#include <sodium.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "net/auth.h"
#include "net/netio.h"
#include "net/secure.h"
#include "testutil.h"

namespace {
struct Master {
  unsigned char k[AUTH_MASTER_BYTES];
  explicit Master(const char* key) { authMasterKey(key, k); }
};

AuthSession randomSession() {
  AuthSession s;
  s.transcript = "handshake blocks of this connection";
  randombytes_buf(s.joining, NONCE_BYTES);
  randombytes_buf(s.listening, NONCE_BYTES);
  return s;
}
}  // namespace

// A proof checks out only for the prover's role, this session's transcript,
// both of its nonces and the same key: relayed to another connection,
// turned around, reflected or made under another key it fails.
TEST(NetAuth, ProofBindsRoleSessionNoncesAndKey) {
  Master m("s3cret words"), other("s3cret word");
  AuthSession s = randomSession();
  char honest[AUTH_HEX_LEN];
  authProof(m.k, AUTH_JOINING, s, honest);
  std::string h = honest;
  struct Case {
    const char* what;
    std::function<void(AuthSession&)> change;
    AuthRole role;
    const unsigned char* key;
    std::string proof;
    bool good;
  } cases[] = {
      {"honest", [](AuthSession&) {}, AUTH_JOINING, m.k, h, true},
      {"other direction", [](AuthSession&) {}, AUTH_LISTENING, m.k, h, false},
      {"other joining nonce", [](AuthSession& x) { x.joining[0] ^= 1; }, AUTH_JOINING, m.k, h, false},
      {"other listening nonce", [](AuthSession& x) { x.listening[31] ^= 1; }, AUTH_JOINING, m.k, h, false},
      {"nonce reflected", [](AuthSession& x) { memcpy(x.listening, x.joining, NONCE_BYTES); }, AUTH_JOINING, m.k,
       h, false},
      {"other connection", [](AuthSession& x) { x.transcript += "!"; }, AUTH_JOINING, m.k, h, false},
      {"other key", [](AuthSession&) {}, AUTH_JOINING, other.k, h, false},
      {"truncated", [](AuthSession&) {}, AUTH_JOINING, m.k, h.substr(0, h.size() - 2), false},
      {"not hex", [](AuthSession&) {}, AUTH_JOINING, m.k, h.substr(0, h.size() - 2) + "zz", false},
  };
  for (const Case& c : cases) {
    AuthSession v = s;
    c.change(v);
    EXPECT_EQ(authProofGood(c.key, c.role, v, c.proof.c_str()), c.good) << c.what;
  }
  // Each side sends under what the other receives under, and nothing else matches.
  unsigned char jt[32], jr[32], lt[32], lr[32], ot[32], orx[32];
  authSessionKeys(m.k, s, AUTH_JOINING, jt, jr);
  authSessionKeys(m.k, s, AUTH_LISTENING, lt, lr);
  AuthSession t = s;
  t.listening[0] ^= 1;
  authSessionKeys(m.k, t, AUTH_JOINING, ot, orx);
  EXPECT_TRUE(memcmp(jt, lr, 32) == 0 && memcmp(jr, lt, 32) == 0);
  EXPECT_TRUE(memcmp(jt, jr, 32) != 0 && memcmp(jt, ot, 32) != 0 && memcmp(jr, orx, 32) != 0);
  // Nonces of the proofs under way are known as this editor's, and only until retired.
  unsigned char n[NONCE_BYTES], stranger[NONCE_BYTES];
  authNonceIssue(n);
  randombytes_buf(stranger, sizeof stranger);
  EXPECT_TRUE(authNonceLive(n) && !authNonceLive(stranger));
  authNonceRetire(n);
  EXPECT_FALSE(authNonceLive(n));
}

// Frames from one channel end open only in order, whole and untouched, at
// the other end of the same connection, however the bytes are split on
// the way; after a bad one nothing opens.
TEST(NetAuth, ChannelRefusesForgedReplayedReorderedCutAndForeignFrames) {
  unsigned char a[32], b[32], c[32];
  randombytes_buf(a, 32);
  randombytes_buf(b, 32);
  randombytes_buf(c, 32);
  // Three frames of one sender; its stream header travels before the first.
  auto frames = [](const unsigned char* key, std::string* header) {
    SecureChannel* tx = secureNew(key, key, 0);
    std::vector<std::string> f;
    for (const char* text : {"PARTTHIS! 13", "map0 0 3 2 5", "DRAWSQUARE 20"}) {
      std::string wire;
      EXPECT_TRUE(secureSeal(tx, text, strlen(text), &wire));
      if (f.empty()) {
        *header = wire.substr(0, secureHeaderBytes());
        wire.erase(0, secureHeaderBytes());
      }
      f.push_back(wire);
    }
    secureFree(tx);
    return f;
  };
  std::string header, foreignHeader;
  std::vector<std::string> f = frames(a, &header), foreign = frames(c, &foreignHeader);
  std::string forged = f[1], cut = f[1].substr(0, f[1].size() - 1);
  forged[FRAME_COUNT_BYTES + 3] ^= 1;
  const std::string huge("\x7f\0\0\0", 4);
  struct Case {
    const char* what;
    std::string wire;
    size_t piece;        // bytes handed over at a time
    std::string opened;  // the plain bytes that got through before the refusal
    bool whole;          // every frame opened
  } cases[] = {
      {"in order", header + f[0] + f[1] + f[2], 1 << 20, "PARTTHIS! 13map0 0 3 2 5DRAWSQUARE 20", true},
      {"byte by byte", header + f[0] + f[1] + f[2], 1, "PARTTHIS! 13map0 0 3 2 5DRAWSQUARE 20", true},
      {"incomplete", header + f[0] + cut, 1 << 20, "PARTTHIS! 13", true},
      {"forged", header + f[0] + forged + f[2], 7, "PARTTHIS! 13", false},
      {"replayed", header + f[0] + f[0] + f[1], 1 << 20, "PARTTHIS! 13", false},
      {"reordered", header + f[1] + f[0], 1 << 20, "", false},
      {"cut short", header + f[0] + cut + f[2], 1 << 20, "PARTTHIS! 13", false},
      {"from another connection", header + f[0] + foreign[1], 1 << 20, "PARTTHIS! 13", false},
      {"another stream header", foreignHeader + f[0], 1 << 20, "", false},
      {"impossible length", header + huge + f[0], 1 << 20, "", false},
  };
  for (const Case& k : cases) {
    SecureChannel* rx = secureNew(b, a, 0);
    std::string opened;
    bool whole = true;
    std::string log = logOf([&] {
      for (size_t at = 0; at < k.wire.size() && whole; at += k.piece) {
        whole = secureFeed(rx, k.wire.data() + at, std::min(k.piece, k.wire.size() - at));
        opened.append(secureData(rx), secureBuffered(rx));
        secureTake(rx, secureBuffered(rx));
      }
    });
    EXPECT_EQ(whole, k.whole) << k.what;
    EXPECT_EQ(secureBroken(rx), !k.whole) << k.what;
    EXPECT_EQ(opened, k.opened) << k.what;
    EXPECT_EQ(log.find("connexion coupee!") != std::string::npos, !k.whole) << k.what << log;
    secureFree(rx);
  }
}

// Two ends of a real connection, the joining one in a process of its own
// (an editor refuses its own nonces, so it cannot join itself): with the
// same key each proves it to the other, the names cross inside the channel,
// an action and a tileset image then travel sealed (nothing of them in
// clear) and arrive whole both ways, and a frame injected beside the
// channel ends the connection; with another key both refuse and say why.
// (A nonce of a proof under way offered back: the who-may-join end-to-end
// run, over real TCP.)
TEST(NetAuth, KeyedConnectionProvesThenCarriesOnlySealedBytes) {
  startVideo();
  std::string proj = makeProject();
  snprintf(username, sizeof username, "alice");
  authReadKey("s3cret words");
  Master otherKey("other words");
  std::string img(3 * FRAME_PLAIN_MAX + 77, 0), stream, sendit = blockOf("SENDIT", REPLY_BLOCK);
  randombytes_buf(&img[0], img.size());
  for (size_t at = 0, n = CHUNK_MAX; n == CHUNK_MAX; at += n) {
    n = std::min(img.size() - at, (size_t)CHUNK_MAX);
    stream += blockOf(std::to_string(n), SIZE_BLOCK) + img.substr(at, n);
  }
  stream += blockOf("8", SIZE_BLOCK) + std::string(8, 1);
  const std::string act = action("PARTTHIS!", "map0 0 3 2 5");
  // The joining side: its exit status says how far it got (0: all of it).
  auto joiner = [&](int s, const unsigned char* master) {
    char name[NAME_BLOCK];
    if (!authJoin(s, 3, "shown", "blocks", name, master)) return 1;
    if (strcmp(name, "alice") != 0 || !sendAll(s, act.data(), act.size())) return 2;
    char reply[REPLY_BLOCK];
    if (!recvAll(s, reply, REPLY_BLOCK, 5000, 5000) || !sendAll(s, stream.data(), stream.size())) return 3;
    std::string got(stream.size(), 0);
    if (!sendAll(s, sendit.data(), sendit.size()) || !recvAll(s, &got[0], got.size(), 5000, 5000)) return 4;
    // An injected frame, written beside the channel: well formed, not sealed under its key.
    std::string forged = std::string("\0\0\0\x20", 4) + std::string(32, 'x');
    return got != stream ? 5 : send(s, forged.data(), forged.size(), 0) == (ssize_t)forged.size() ? 0 : 6;
  };
  for (bool sameKey : {true, false}) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    char name[NAME_BLOCK] = "";
    std::string ext;
    bool served = false;
    pid_t child = -1;
    int status = -1;
    std::string log = logOf([&] {
      fflush(stdout);
      child = fork();
      if (child == 0) {
        int r = joiner(sv[0], sameKey ? authSettings.master : otherKey.k);
        fflush(stdout);
        _exit(r);
      }
      served = authServe(sv[1], 3, 0, "shown", "blocks", name, &ext);
      if (served) {
        std::vector<char> raw(4096);
        ssize_t got = recv(sv[1], raw.data(), raw.size(), MSG_PEEK);
        EXPECT_TRUE(got > 0 && std::string(raw.data(), (size_t)got).find("map0") == std::string::npos);
        std::string back(act.size(), 0);
        EXPECT_TRUE(recvAll(sv[1], &back[0], back.size(), 5000, 5000) && back == act);
        // A tileset image of several frames, received through a keyed peer's path, then offered back.
        remove((proj + "layers/big.png").c_str());
        EXPECT_TRUE(receiveTileset(sv[1], "map0 big 0"));
        EXPECT_EQ(readFile(proj + "layers/big.png"), img);
        EXPECT_TRUE(offerTileset(sv[1], "big", std::vector<unsigned char>(8, 1)));
        char c;
        EXPECT_FALSE(recvAll(sv[1], &c, 1, 5000, 5000));  // the injected frame ends the connection
      }
      waitpid(child, &status, 0);
    });
    EXPECT_EQ(served, sameKey) << log;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (sameKey ? 0 : 1)) << status << log;
    if (sameKey) {
      EXPECT_NE(log.find("Trame chiffree refusee sur le tunnel 3 (falsifiee, rejouee, reordonnee ou tronquee): "
                         "connexion coupee!"), std::string::npos) << log;
      EXPECT_STREQ(name, "alice");
      EXPECT_EQ(parseExtensions(ext.c_str()), LOCAL_EXTENSIONS);
    } else {  // each side says why
      size_t first = log.find("shown refuse sur le tunnel 3: cle de session differente!");
      EXPECT_NE(first, std::string::npos) << log;
      EXPECT_NE(log.rfind("shown refuse sur le tunnel 3: cle de session differente!"), first) << log;
    }
    netClose(sv[0]);
    netClose(sv[1]);
  }
  authReset();
}

// Roles by proof: an editor with a key and a view key admits a joiner that
// proves the view key as a viewer and one that proves the key as an editor,
// refuses one that knows neither, and a joiner that knows only the view key
// learns from the proofs that it is the viewer; an editor joining a viewer
// (whose key is its view key) knows it too. A joiner announcing no roles
// gets the key's proof alone, as before.
TEST(NetAuth, ProofUnderViewKeyGivesViewerUnderKeyEditorUnderNeitherRefusal) {
  Master edit("edit words"), view("view words"), other("other words");
  struct Case {
    const char* what;
    const unsigned char *listenKey, *listenView, *joinKey, *joinView;
    bool roles;  // the joiner announces "ROLES"
    bool admitted, listenerSeesViewer, joinerSeesViewer, joinerIsViewer;
  } cases[] = {
      {"viewer joins editor", edit.k, view.k, view.k, nullptr, true, true, true, false, true},
      {"editor joins editor", edit.k, view.k, edit.k, view.k, true, true, false, false, false},
      {"editor without view key joins", edit.k, view.k, edit.k, nullptr, true, true, false, false, false},
      {"stranger joins", edit.k, view.k, other.k, nullptr, true, false, false, false, false},
      {"editor joins viewer", view.k, nullptr, edit.k, view.k, true, true, false, true, false},
      {"view key without roles", edit.k, view.k, view.k, nullptr, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    netReset();
    char nameJ[NAME_BLOCK] = "", nameL[NAME_BLOCK] = "";  // the names cross inside the channel
    std::string ext;
    AuthGrant served;
    bool l = false;
    int status = 0;
    std::string log = logOf([&] {
      std::thread listener([&] {
        l = authServe(sv[1], 6, peers[6].gen, "shown", "blocks", nameL, &ext, c.listenKey, c.listenView, &served);
      });
      if (c.roles) {  // another process, as another editor: its nonces are not ours
        fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
          AuthGrant g;
          bool j = authJoin(sv[0], 7, "shown", "blocks", nameJ, c.joinKey, c.joinView, &g);
          fflush(stdout);
          _exit((j ? 1 : 0) | (g.peerViewer ? 2 : 0) | (g.selfViewer ? 4 : 0) | (viewingPeer(7) ? 8 : 0));
        }
        waitpid(child, &status, 0);
      } else {  // an editor of the key proof before roles: its announcement and nonce, by hand
        std::string hello = action("EXTENSIONS", "AUTH SYNC") + action("AUTHNONCE", std::string(64, 'b'));
        EXPECT_TRUE(sendAll(sv[0], hello.data(), hello.size()));
        std::string reply(2 * HEADER_BLOCK + 4 * NONCE_BYTES + 2, 0);
        EXPECT_TRUE(recvAll(sv[0], &reply[0], reply.size(), 5000, 5000));
        EXPECT_EQ(reply.substr(HEADER_BLOCK + 2 * NONCE_BYTES + 1, 9), "AUTHPROOF") << c.what;
        EXPECT_EQ(reply.find(' ', 2 * HEADER_BLOCK + 2 * NONCE_BYTES + 1), std::string::npos) << c.what;
        shutdown(sv[0], SHUT_RDWR);
      }
      listener.join();
    });
    EXPECT_EQ(l, c.admitted) << c.what << log;
    EXPECT_EQ(served.peerViewer, c.listenerSeesViewer) << c.what << log;
    EXPECT_EQ(peerIsViewer(6), c.listenerSeesViewer) << c.what;
    if (c.roles) {
      int want = (c.admitted ? 1 : 0) | (c.joinerSeesViewer ? 2 : 0) | (c.joinerIsViewer ? 12 : 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == want) << c.what << " " << status << log;
    }
    EXPECT_EQ(log.find("words"), std::string::npos) << c.what;  // no key in the log
    netClose(sv[0]);
    netClose(sv[1]);
  }
  netReset();
}

// The join prompt's name: quoted, cut, nothing but printable ASCII, so
// "ed2 (10.0.0.2) OK." and its relatives cannot close the quote or
// break the line the address stands on.
TEST(NetAuth, JoinPromptNameIsQuotedCutAndPlain) {
  struct Case {
    const char* name;
    const char* shown;
  } cases[] = {
      {"mallory", "\"mallory\""},
      {"", "\"\""},
      {"ed2 (10.0.0.2) OK.", "\"ed2 (10.0.0.2) OK.\""},
      {"ed2\" (10.0.0.9) wants\njoin", "\"ed2? (10.0.0.9) wants?jo...\""},
      {"abcdefghijklmnopqrstuvwx", "\"abcdefghijklmnopqrstuvwx\""},
      {"\xc3\xa9t\xc3\xa9\x1b[2J", "\"??t???[2J\""},
  };
  for (const Case& c : cases) {
    char out[PROMPT_NAME_MAX + 8];
    authPromptName(c.name, out, sizeof out);
    EXPECT_STREQ(out, c.shown) << c.name;
  }
}
