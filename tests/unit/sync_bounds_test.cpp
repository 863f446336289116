// What a peer's sync copy may cost: a hostile copy is refused before it
// changes anything, and the bytes held for copies on their way are bounded
// and let go when their peer leaves.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/files.h"
#include "model/digest.h"
#include "model/mapfile.h"
#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "testutil.h"

namespace {
const size_t MIB = 1 << 20;
const size_t CHUNK = 24000;  // raw bytes a "SYNCDATA" carries, as a sender cuts them
const int MALLORY = 1, TRENT = 2;

// The map file bytes of a w x h map of zero cells, one layer per tileset name.
std::vector<unsigned char> mapFile(uint32_t w, uint32_t h, const std::vector<std::string>& tilesets) {
  std::vector<Layer> layers(tilesets.size());
  std::vector<Layer*> list;
  for (size_t i = 0; i < layers.size(); i++) {
    layers[i].layerGFX = (char*)tilesets[i].c_str();
    list.push_back(&layers[i]);
  }
  Map m;
  m.layer = list.data(), m.layers = (uint16_t)list.size(), m.w = w, m.h = h;
  m.sysname = m.filename = (char*)"copy";
  return mapFileBytes(&m);
}

// "SYNCMAP" announcing raw and comp bytes, then `data` in "SYNCDATA" chunks.
void sendCopy(int slot, const char* name, size_t raw, size_t comp, const std::vector<unsigned char>& data) {
  char head[256];
  snprintf(head, sizeof head, "%s %zu %zu 0123456789abcdef0123456789abcdef", name, raw, comp);
  readActions("SYNCMAP", head, slot);
  for (size_t at = 0; at < data.size(); at += CHUNK)
    readActions("SYNCDATA", base64Encode(data.data() + at, std::min(CHUNK, data.size() - at)).c_str(), slot);
}

std::vector<std::string> names(const char* prefix, int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; i++) out.push_back(prefix + std::to_string(i));
  return out;
}

std::string notices;  // what the panel was given

int librarySize() {
  int n = 0;
  for (int i = 0; i < LIBRARY_SLOTS; i++) n += layersGFXnames[i] != nullptr;
  return n;
}
}  // namespace

// Every hostile copy of an open map is refused, said in the log and on the
// panel; the map, the library, another map's edit and conflicts/ stay as
// they were, and nothing is held afterwards. A well-formed copy still lands.
TEST(SyncBounds, HostileCopiesAreRefusedBeforeAnythingChanges) {
  startVideo();
  std::string p = makeEditingProject();
  for (const char* t : {"rock", "sand"}) writeBmpTileset(p, t, 32, 32);
  ASSERT_GE(openNewMap("map0", 4, 3), 0);
  int other = openNewMap("map1", 4, 3);
  ASSERT_GE(other, 0);
  setElementAbsolute(other, 0, 1, 1, 7);  // an edit made before
  Map* m = project.listeMaps[getMap("map0")];
  const MapDigest before = mapDigest(m);
  syncNoticeHook = [](const char* t) { notices += std::string(t) + "\n"; };
  readyPeer(MALLORY, EXT_SYNC, "mallory");
  const std::vector<unsigned char> good = mapFile(4, 3, {"default", "rock"});
  const std::vector<unsigned char> goodZip = zipped(good);
  struct Case {
    const char* what;
    std::function<void()> send;
    const char* log;
  } cases[] = {
      {"1000 layers of missing tilesets",
       [] {
         std::vector<unsigned char> raw = mapFile(2, 2, names("missing", 1000));
         std::vector<unsigned char> c = zipped(raw);
         sendCopy(MALLORY, "map0", raw.size(), c.size(), c);
       },
       "refusee: tileset missing0 absent ici (1000 tilesets nommes)"},
      {"tilesets present but no room in the library",
       [] {
         for (int i = 0; i < LIBRARY_SLOTS - 1; i++)
           if (!layersGFXnames[i]) layersGFXnames[i] = strdup(("filler" + std::to_string(i)).c_str());
         std::vector<unsigned char> raw = mapFile(4, 3, {"rock", "sand"});
         std::vector<unsigned char> c = zipped(raw);
         sendCopy(MALLORY, "map0", raw.size(), c.size(), c);
         for (int i = 0; i < LIBRARY_SLOTS; i++)
           if (layersGFXnames[i] && strncmp(layersGFXnames[i], "filler", 6) == 0) {
             free(layersGFXnames[i]);
             layersGFXnames[i] = nullptr;
           }
       },
       "refusee: librairie de tilesets pleine"},
      {"announced past every bound",
       [&] { sendCopy(MALLORY, "map0", (size_t)1 << 30, goodZip.size(), goodZip); },
       "refusee: 1073741824 octets annonces"},
      {"announced past the project's size and its margin",
       [&] { sendCopy(MALLORY, "map0", 200 * MIB, goodZip.size(), goodZip); },
       "refusee: 209715200 octets annonces"},
      {"more compressed bytes than announced",
       [&] { sendCopy(MALLORY, "map0", good.size(), goodZip.size() - 1, goodZip); },
       "abandonnee (donnees invalides)"},
      {"bytes after the end of the stream",
       [&] {
         std::vector<unsigned char> c = goodZip;
         c.insert(c.end(), {1, 2, 3, 4});
         sendCopy(MALLORY, "map0", good.size(), c.size(), c);
       },
       "abandonnee (donnees en trop)"},
      {"more map than announced",
       [&] { sendCopy(MALLORY, "map0", good.size() - 1, goodZip.size(), goodZip); },
       "abandonnee (flux invalide)"},
      {"a stream cut short",
       [&] {
         std::vector<unsigned char> c(goodZip.begin(), goodZip.begin() + goodZip.size() / 2);
         sendCopy(MALLORY, "map0", good.size(), c.size(), c);
       },
       "abandonnee (flux incomplet)"},
  };
  for (const Case& c : cases) {
    int library = librarySize();
    notices.clear();
    std::string log = logOf(c.send);
    EXPECT_NE(log.find(c.log), std::string::npos) << c.what << "\n" << log;
    EXPECT_EQ(mapDigest(m), before) << c.what;
    EXPECT_EQ(project.listeMaps[getMap("map0")], m) << c.what;
    EXPECT_EQ(librarySize(), library) << c.what;
    EXPECT_EQ(syncIncomingBytes(), 0u) << c.what;
    if (strstr(c.log, "refusee")) {
      EXPECT_NE(notices.find("Map map0 from mallory refused: "), std::string::npos) << c.what;
    }
  }
  EXPECT_EQ(project.listeMaps[other]->layer[0]->e[1 * 4 + 1], 7);
  EXPECT_EQ(filesIn(p + "conflicts"), 0u);
  // The same copy whole and as announced replaces map0, the old one kept.
  std::string log = logOf([&] { sendCopy(MALLORY, "map0", good.size(), goodZip.size(), goodZip); });
  EXPECT_NE(log.find("Synchro: map map0 recue de mallory"), std::string::npos) << log;
  EXPECT_EQ(m->layers, 2);
  EXPECT_EQ(filesIn(p + "conflicts"), 1u);
  syncReset();
  syncNoticeHook = nullptr;
}

// A model check on its own: a map over the cell limit is refused without a
// cell in memory.
TEST(SyncBounds, MapsPastTheCellLimitDoNotFit) {
  makeEditingProject();
  std::vector<Layer> layers(5);
  std::vector<Layer*> list;
  for (Layer& l : layers) l.layerGFX = (char*)"default", list.push_back(&l);
  Map big;
  big.layer = list.data(), big.w = big.h = 8192;  // 2^26 cells a layer
  char why[160];
  for (uint16_t n : {4, 5}) {
    big.layers = n;
    EXPECT_EQ(mapFitsHere(&big, true, why, sizeof why), n == 4) << n;
  }
  EXPECT_NE(strstr(why, "cellules en tout"), nullptr) << why;
  big.layer = nullptr;
}

// Bytes held for copies on their way: each peer within its bound, all peers
// within the total; a peer that leaves halfway lets its buffer go at once,
// and its room goes to the next.
TEST(SyncBounds, BytesInFlightAreBoundedAndFreedWhenThePeerLeaves) {
  startVideo();
  makeEditingProject();
  ASSERT_GE(openNewMap("map0", 4, 3), 0);
  readyPeer(MALLORY, EXT_SYNC, "mallory");
  readyPeer(TRENT, EXT_SYNC, "trent");
  // A 2048x2048 map of 8 layers, the largest a fresh project must take.
  std::vector<unsigned char> legit = mapFile(2048, 2048, std::vector<std::string>(8, "default"));
  ASSERT_GT(legit.size(), 128 * MIB);
  std::vector<unsigned char> legitZip = zipped(legit);
  std::vector<unsigned char> half(legitZip.begin(), legitZip.begin() + legitZip.size() / 2);
  logOf([&] { sendCopy(MALLORY, "huge", legit.size(), legitZip.size(), half); });
  size_t held = syncIncomingBytes();
  EXPECT_GT(held, 16 * MIB);
  EXPECT_LE(held, legit.size());
  // Both copies together would pass the total: the second is refused at once.
  std::string log = logOf([&] { sendCopy(TRENT, "huge2", legit.size(), legitZip.size(), legitZip); });
  EXPECT_NE(log.find("map huge2 de trent refusee"), std::string::npos) << log;
  EXPECT_EQ(syncIncomingBytes(), held);
  // Mallory leaves halfway: its buffer goes with its slot.
  log = logOf([] { endSlot(MALLORY, peers[MALLORY].gen, false); });
  EXPECT_NE(log.find("reception de la map huge abandonnee (editeur parti)"), std::string::npos) << log;
  EXPECT_EQ(syncIncomingBytes(), 0u);
  // Trent's copy now fits (its arrival whole is the first test's).
  log = logOf([&] { sendCopy(TRENT, "huge2", legit.size(), legitZip.size(), half); });
  EXPECT_NE(log.find("reception de la map huge2 de trent"), std::string::npos) << log;
  EXPECT_GT(syncIncomingBytes(), 16 * MIB);
  syncReset();
}
