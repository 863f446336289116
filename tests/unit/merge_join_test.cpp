// Merge on join: bases kept in the project's state folder, and the join's
// decision between a three-way merge and the joined editor's copy.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/files.h"
#include "model/bases.h"
#include "model/digest.h"
#include "model/mapfile.h"
#include "model/sidecar.h"
#include "net/netio.h"
#include "net/sync.h"
#include "testutil.h"

namespace {
const int PEER = 1;
const char* const MAP = "m";
const uint32_t SIDE = 8;

std::string basePath(const std::string& project, const char* map) {
  return project + BASES_DIR + "/" + map + "." + BASE_EXT;
}

// The map file bytes of `bytes` with the cells (x, y, value) of layer 0 set.
struct Cell {
  uint32_t x, y;
  int32_t v;
};
std::vector<unsigned char> withCells(const std::vector<unsigned char>& bytes, const std::vector<Cell>& cells) {
  Map m;
  EXPECT_EQ(readMapBytes(bytes.data(), bytes.size(), &m), MAP_READ_OK);
  for (const Cell& c : cells) m.layer[0]->e[c.y * m.w + c.x] = c.v;
  std::vector<unsigned char> out = mapFileBytes(&m);
  freeMapRecord(&m);
  return out;
}

MapDigest digestOf(const std::vector<unsigned char>& bytes) {
  Map m;
  EXPECT_EQ(readMapBytes(bytes.data(), bytes.size(), &m), MAP_READ_OK);
  MapDigest d = mapDigest(&m);
  freeMapRecord(&m);
  return d;
}

std::string hexOf(const MapDigest& d) {
  char hex[DIGEST_HEX + 1];
  digestHex(d, hex);
  return hex;
}

// The peer's copy as a sender cuts it: "SYNCMAP" then one "SYNCDATA".
void sendCopy(const std::vector<unsigned char>& raw) {
  std::vector<unsigned char> z = zipped(raw);
  std::string head = std::string(MAP) + " " + std::to_string(raw.size()) + " " + std::to_string(z.size()) + " " +
                     hexOf(digestOf(raw));
  readActions("SYNCMAP", head.c_str(), PEER);
  readActions("SYNCDATA", base64Encode(z.data(), z.size()).c_str(), PEER);
}

// A project with map MAP open (the base copy in `base`), ready to join.
struct Joining {
  std::string p;
  int k = -1;
  Map* m = nullptr;
  std::vector<unsigned char> base;
};
Joining joining() {
  startVideo();
  Joining j;
  j.p = makeEditingProject();
  projectLoaded = true;
  j.k = openNewMap(MAP, SIDE, SIDE);
  EXPECT_GE(j.k, 0);
  j.m = j.k >= 0 ? project.listeMaps[j.k] : nullptr;
  EXPECT_TRUE(projectMapBytes(MAP, j.base));
  return j;
}

// Bob, on slot PEER, with these extensions.
void meetBob(unsigned ext, bool weJoined) {
  peers[PEER] = Peer();
  readyPeer(PEER, ext);
  peers[PEER].joinedThere = weJoined;
}
}  // namespace

// A base reads back only whole and as its header says; every other file
// in the folder is ours to remove once its map is gone.
TEST(MergeBases, WrittenReadBackAndRefusedWhenDamaged) {
  std::string p = makeEditingProject();
  ASSERT_GE(openNewMap(MAP, SIDE, SIDE), 0);
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(projectMapBytes(MAP, bytes));
  bytes = withCells(bytes, {{1, 2, 3}});
  const MapDigest d = digestOf(bytes);
  MapDigest got;
  EXPECT_FALSE(baseDigest(MAP, &got));  // none yet
  ASSERT_TRUE(writeBase(MAP, bytes, d, ""));
  const std::string good = readFile(basePath(p, MAP));
  ASSERT_FALSE(good.empty());
  size_t header = good.find('\n') + 1;
  struct Case {
    const char* what;
    std::function<std::string(std::string)> damage;
  } cases[] = {
      {"whole", [](std::string s) { return s; }},
      {"stream cut short", [](std::string s) { return s.substr(0, s.size() - 5); }},
      {"a byte of the stream changed", [&](std::string s) { return s[header + 20] ^= 0x40, s; }},
      {"bytes after the stream", [](std::string s) { return s + "xyz"; }},
      {"another digest", [](std::string s) { return s[14] = s[14] == '0' ? '1' : '0', s; }},
      {"a smaller size", [&](std::string s) {
         return s.substr(0, good.rfind(' ', header) + 1) + std::to_string(bytes.size() - 1) + s.substr(header - 1);
       }},
      {"a larger size", [&](std::string s) {
         return s.substr(0, good.rfind(' ', header) + 1) + std::to_string(bytes.size() + 1) + s.substr(header - 1);
       }},
      {"a size past every map", [&](std::string s) {
         return s.substr(0, good.rfind(' ', header) + 1) + "99999999999" + s.substr(header - 1);
       }},
      {"another format", [](std::string s) { return s.replace(0, 11, "MOSKABASE 2"); }},
      {"no header", [&](std::string s) { return s.substr(header); }},
      {"empty", [](std::string) { return std::string(); }},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(writeFile(basePath(p, MAP), c.damage(good))) << c.what;
    Map m;
    bool whole = strcmp(c.what, "whole") == 0;
    EXPECT_EQ(readBase(MAP, &m, &got), whole) << c.what;
    if (whole) {
      EXPECT_EQ(got, d);
      EXPECT_EQ(mapDigest(&m), d);
      EXPECT_EQ(m.layer[0]->e[2 * SIDE + 1], 3);
    } else {
      EXPECT_EQ(m.layer, nullptr) << c.what;
    }
    freeMapRecord(&m);
  }
  EXPECT_FALSE(writeBase("../evil", bytes, d, ""));
  // A map deleted: its base goes, and so do leftovers of a crashed write.
  ASSERT_TRUE(writeBase("gone", bytes, d, ""));
  ASSERT_TRUE(writeFile(basePath(p, MAP) + ".Ab12Cd", "half"));
  ASSERT_TRUE(writeBase(MAP, bytes, d, ""));
  EXPECT_EQ(pruneBases({MAP}), 3);              // gone's map and sidecar bases, the leftover
  EXPECT_EQ(filesIn(p + BASES_DIR), 2u);
  EXPECT_TRUE(baseDigest(MAP, &got));
}

// After a session the bases are this editor's maps as they are; only the
// changed ones are written again.
TEST(MergeBases, SessionEndWritesTheChangedMapsOnly) {
  std::string p = makeEditingProject();
  projectLoaded = true;
  int k = openNewMap(MAP, SIDE, SIDE);
  ASSERT_GE(k, 0);
  ASSERT_TRUE(newMapFile("closed", 2, 2));
  std::string log = logOf([] { syncWriteBases("test"); });
  EXPECT_NE(log.find("Bases: 2 map(s)"), std::string::npos) << log;
  MapDigest b, now;
  ASSERT_TRUE(baseDigest(MAP, &b));
  EXPECT_EQ(b, mapDigest(project.listeMaps[k]));
  setElementAbsolute(k, 0, 3, 3, 9);
  log = logOf([] { syncWriteBases("test"); });
  EXPECT_NE(log.find("Bases: 1 map(s)"), std::string::npos) << log;
  ASSERT_TRUE(baseDigest(MAP, &b));
  ASSERT_TRUE(projectMapDigest(MAP, &now));
  EXPECT_EQ(b, now);
  // Without a peer that keeps bases, leaving writes nothing.
  setElementAbsolute(k, 0, 3, 3, 8);
  log = logOf([] { syncLeaving(-1); });
  EXPECT_EQ(log.find("Bases:"), std::string::npos) << log;
  projectLoaded = false;
}

// The join's decision for a map both editors hold, and what each ends
// with: merged three-way when both lists name the same base (ours changed
// (1,1), theirs (2,2), both (4,4) alike and (3,3) differently: the joined
// editor's value wins), else the joined editor's copy as before. Their
// copy arrives before ours is sent, as it does when the other side is quick.
TEST(MergeJoin, MergesOnACommonBaseOnly) {
  Joining j = joining();
  ASSERT_NE(j.m, nullptr);
  const std::string& p = j.p;
  const int k = j.k;
  Map* m = j.m;
  const std::vector<unsigned char>& base = j.base;
  const std::string baseHex = hexOf(digestOf(base));
  const std::vector<Cell> ours = {{1, 1, 5}, {4, 4, 9}, {3, 3, 7}};
  const std::vector<unsigned char> theirs = withCells(base, {{2, 2, 6}, {4, 4, 9}, {3, 3, 8}});
  const std::vector<unsigned char> theirsOnly = withCells(base, {{2, 2, 6}});
  const int32_t B = 0;  // the base's value of every cell
  struct Case {
    const char* what;
    unsigned ext;
    bool weJoined, weChanged;
    std::string theirBase;  // as their list names it ("": no field)
    const std::vector<unsigned char>* copy;
    bool send, take;
    int32_t at11, at22, at33;
    size_t conflictFiles;  // kept copy and report
  } cases[] = {
      {"same base, both changed, we joined", EXT_SYNC | EXT_MERGE, true, true, baseHex, &theirs, true, true, 5, 6, 8, 2},
      {"same base, both changed, they joined", EXT_SYNC | EXT_MERGE, false, true, baseHex, &theirs, true, true, 5, 6, 7, 1},
      {"same base, only theirs changed", EXT_SYNC | EXT_MERGE, true, false, baseHex, &theirsOnly, false, true, B, 6, B, 0},
      {"same base, only ours changed", EXT_SYNC | EXT_MERGE, false, true, baseHex, &base, true, false, 5, B, 7, 0},
      {"no base there, we joined", EXT_SYNC | EXT_MERGE, true, true, "-", &theirs, false, true, B, 6, 8, 1},
      {"no base there, they joined", EXT_SYNC | EXT_MERGE, false, true, "-", &theirs, true, false, 5, B, 7, 0},
      {"another base", EXT_SYNC | EXT_MERGE, true, true, std::string(DIGEST_HEX, 'a'), &theirs, false, true, B, 6, 8, 1},
      {"a peer without MERGE", EXT_SYNC, true, true, "", &theirs, false, true, B, 6, 8, 1},
      {"a malformed base field", EXT_SYNC | EXT_MERGE, true, true, "zz", &theirs, false, true, B, 6, 8, 1},
  };
  for (const Case& c : cases) {
    syncReset();
    char kept[FILE_PATH_LEN];
    ASSERT_TRUE(replaceProjectMap(MAP, base.data(), base.size(), kept, sizeof kept));
    ASSERT_TRUE(writeBase(MAP, base, digestOf(base), ""));
    if (c.weChanged)
      for (const Cell& x : ours) setElementAbsolute(k, 0, x.x, x.y, x.v);
    system(("rm -rf '" + p + "conflicts'").c_str());
    meetBob(c.ext, c.weJoined);
    std::string log = logOf([&] {
      readActions("EXTENSIONS", c.ext & EXT_MERGE ? "SYNC MERGE" : "SYNC", PEER);
      std::string list = "1 99 " + std::string(c.weJoined ? "0" : "1") + " 5 " + hexOf(digestOf(*c.copy)) + " " + MAP;
      if (!c.theirBase.empty()) list += " " + c.theirBase;
      readActions("SYNCLIST", list.c_str(), PEER);
    });
    PeerSync& st = peers[PEER].sync;
    EXPECT_EQ(!st.toSend.empty(), c.send) << c.what << "\n" << log;
    EXPECT_EQ(st.awaiting, c.take ? 1 : 0) << c.what;
    if (c.take) log += logOf([&] { sendCopy(*c.copy); });
    int32_t* e = m->layer[0]->e;
    EXPECT_EQ(e[1 * SIDE + 1], c.at11) << c.what << "\n" << log;
    EXPECT_EQ(e[2 * SIDE + 2], c.at22) << c.what;
    EXPECT_EQ(e[3 * SIDE + 3], c.at33) << c.what;
    if (c.weChanged && c.take) {
      EXPECT_EQ(e[4 * SIDE + 4], 9) << c.what;  // alike on both sides
    }
    EXPECT_EQ(filesIn(p + "conflicts"), c.conflictFiles) << c.what << "\n" << log;
    bool merged = c.send && c.take;
    EXPECT_EQ(log.find("1 conflict (1 cell)") != std::string::npos, merged) << c.what << "\n" << log;
    if (merged) {
      // Their copy came before ours went: ours goes out first, unmerged,
      // or the peer would merge our merge and see no conflict.
      size_t sent = log.find("Synchro: map m envoyee a bob"), fused = log.find("fusionnee");
      EXPECT_TRUE(sent != std::string::npos && sent < fused) << c.what << "\n" << log;
      EXPECT_TRUE(st.toSend.empty()) << c.what;
      const std::vector<MergeMarkCell>* marks = syncConflictMarks(MAP);
      ASSERT_NE(marks, nullptr) << c.what;
      ASSERT_EQ(marks->size(), 1u) << c.what;
      EXPECT_EQ((*marks)[0].x, 3u);
      EXPECT_EQ((*marks)[0].y, 3u);
    }
  }
  syncReset();
  peers[PEER] = Peer();
  projectLoaded = false;
}

// The sidecar kept beside a base: read back only whole and only beside the
// map base it was written with; without one the base lists its map's digest.
TEST(MergeBases, SidecarBaseReadBackOnlyBesideItsMapBase) {
  std::string p = makeEditingProject();
  ASSERT_GE(openNewMap(MAP, SIDE, SIDE), 0);
  std::vector<unsigned char> bytes, other;
  ASSERT_TRUE(projectMapBytes(MAP, bytes));
  other = withCells(bytes, {{1, 1, 4}});
  const MapDigest d = digestOf(bytes);
  const std::string text = "{\"layerNames\":[{\"name\":\"Road\",\"tileset\":\"t\"}]}";
  const std::string side = p + BASES_DIR + "/" + MAP + "." + BASE_SIDECAR_EXT;
  std::string got;
  MapDigest listed;
  struct Case {
    const char* what;
    std::function<void()> damage;
    bool whole;
    bool folded;  // listed with the sidecar folded in (its header alone is read then)
  } cases[] = {
      {"whole", [] {}, true, true},
      {"missing", [&] { remove(side.c_str()); }, false, false},
      {"cut short", [&] { writeFile(side, readFile(side).substr(0, readFile(side).size() - 3)); }, false, true},
      {"bytes after it", [&] { writeFile(side, readFile(side) + "x"); }, false, true},
      {"a hostile size", [&] {
         std::string s = readFile(side);
         size_t end = s.find('\n'), at = s.rfind(' ', end) + 1;
         writeFile(side, s.replace(at, end - at, "99999999999"));
       }, false, false},
      {"of another map base", [&] {
         ASSERT_TRUE(writeBase(MAP, other, digestOf(other), text));
         writeFile(basePath(p, MAP), readFile(basePath(p, MAP) + ".keep"));  // the map base as it was
       }, false, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(writeBase(MAP, bytes, d, text)) << c.what;
    writeFile(basePath(p, MAP) + ".keep", readFile(basePath(p, MAP)));
    c.damage();
    EXPECT_EQ(readBaseSidecar(MAP, d, &got), c.whole) << c.what;
    EXPECT_EQ(got, c.whole ? text : "") << c.what;
    ASSERT_TRUE(baseFoldedDigest(MAP, &listed)) << c.what;
    EXPECT_EQ(listed != d, c.folded) << c.what;
  }
  // An empty sidecar: a base of its own, folding nothing.
  ASSERT_TRUE(writeBase(MAP, bytes, d, ""));
  EXPECT_TRUE(readBaseSidecar(MAP, d, &got));
  EXPECT_EQ(got, "");
  ASSERT_TRUE(baseFoldedDigest(MAP, &listed));
  EXPECT_EQ(listed, d);
}

// A map both sides changed, its layer named differently on each side: the
// peer's sidecar, coming after its copy, is merged against the base's and
// its conflict counted in the map's report, from this editor's side; with
// no sidecar base the joined editor's names stay on both.
TEST(MergeJoin, MergesTheSidecarThatFollowsTheCopy) {
  Joining j = joining();
  ASSERT_NE(j.m, nullptr);
  const std::vector<unsigned char> theirs = withCells(j.base, {{3, 3, 8}});
  const std::string tileset = j.m->layer[0]->layerGFX;
  const std::string theirText = "{\"layerNames\":[{\"name\":\"South\",\"tileset\":\"" + tileset + "\"}]}";
  const std::string theirHex = hexOf(digestFold(digestOf(theirs), theirText.data(), theirText.size()));
  struct Case {
    const char* what;
    bool weJoined, sidecarBase;
    const char* name;     // layer 0's once merged
    const char* counted;  // in the log and the report
  } cases[] = {
      {"we joined", true, true, "South", "2 conflicts (1 cell)"},
      {"they joined", false, true, "North", "2 conflicts (1 cell)"},
      {"no sidecar base, we joined", true, false, "South", "1 conflict (1 cell)"},
      {"no sidecar base, they joined", false, false, "North", "1 conflict (1 cell)"},
  };
  for (const Case& c : cases) {
    syncReset();
    char kept[FILE_PATH_LEN];
    ASSERT_TRUE(replaceProjectMap(MAP, j.base.data(), j.base.size(), kept, sizeof kept));
    ASSERT_TRUE(writeBase(MAP, j.base, digestOf(j.base), ""));
    if (!c.sidecarBase) remove((j.p + BASES_DIR + "/" + MAP + "." + BASE_SIDECAR_EXT).c_str());
    setElementAbsolute(j.k, 0, 3, 3, 7);
    ASSERT_TRUE(setLayerName(j.m, 0, "North"));
    system(("rm -rf '" + j.p + "conflicts'").c_str());
    meetBob(EXT_SYNC | EXT_MERGE | EXT_NAMES, c.weJoined);
    std::string log = logOf([&] {
      readActions("EXTENSIONS", "SYNC MERGE NAMES", PEER);
      std::string list = "1 99 " + std::string(c.weJoined ? "0" : "1") + " 5 " + theirHex + " " + MAP + " " +
                         hexOf(digestOf(j.base));
      readActions("SYNCLIST", list.c_str(), PEER);
      sendCopy(theirs);
      readActions("SYNCSIDECAR", (std::string(MAP) + " 0 1 " + theirText).c_str(), PEER);
    });
    EXPECT_STREQ(layerName(j.m->layer[0]), c.name) << c.what << "\n" << log;
    EXPECT_NE(log.find(std::string("fusionnee avec la copie de bob: ") + c.counted), std::string::npos) << c.what << "\n" << log;
    std::string report;
    if (DIR* d = opendir((j.p + "conflicts").c_str())) {
      while (dirent* e = readdir(d))
        if (strstr(e->d_name, ".txt")) report = readFile(j.p + "conflicts/" + e->d_name);
      closedir(d);
    }
    EXPECT_EQ(report.find("m layer 0 name: base -, ours \"North\", theirs \"South\"\n") != std::string::npos,
              c.sidecarBase) << c.what << "\n" << report;
    EXPECT_TRUE(peers[PEER].sync.sidecarWaits.empty()) << c.what;
  }
  syncReset();
  peers[PEER] = Peer();
  projectLoaded = false;
}
