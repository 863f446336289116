// The three-way map merge, rule by rule, and the git driver's command line
// around it (statuses, what it writes and what it leaves alone).
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "exchange/exchange.h"
#include "model/digest.h"
#include "model/mapfile.h"
#include "model/merge.h"
#include "testutil.h"

namespace {
// A map of w x h cells, its layers bottom-up: tileset and a fill value;
// cell (x, y) of layer i holds fill + x + 10 * y when fill is not 0.
Map* makeMap(const char* name, uint32_t w, uint32_t h, std::vector<std::pair<const char*, int>> layers) {
  Map* m = new Map();
  m->sysname = strdup(name);
  m->filename = strdup("m");
  m->w = w, m->h = h;
  m->layers = (uint16_t)layers.size();
  m->layer = new Layer*[layers.size()];
  for (size_t i = 0; i < layers.size(); i++) {
    Layer* l = m->layer[i] = new Layer();
    l->layerGFX = strdup(layers[i].first);
    l->e = allocCells((size_t)w * h);
    for (uint32_t c = 0; c < w * h; c++) l->e[c] = layers[i].second ? layers[i].second + (int)(c % w + 10 * (c / w)) : 0;
  }
  return m;
}

Map* copyMap(const Map* s) {
  std::vector<unsigned char> bytes = mapFileBytes(s);
  Map* m = new Map();
  EXPECT_EQ(readMapBytes(bytes.data(), bytes.size(), m), MAP_READ_OK);
  m->filename = strdup(s->filename);
  return m;
}

void dropMap(Map* m) {
  freeMapRecord(m);
  delete m;
}

void deleteLayerAt(Map* m, int i) {
  Layer* l = m->layer[i];
  free(l->e), free(l->layerGFX);
  delete l;
  for (int k = i; k + 1 < m->layers; k++) m->layer[k] = m->layer[k + 1];
  m->layers--;
}

void appendLayer(Map* m, const char* gfx, int32_t value) {
  Layer** grown = new Layer*[m->layers + 1];
  for (int i = 0; i < m->layers; i++) grown[i] = m->layer[i];
  Layer* l = grown[m->layers] = new Layer();
  l->layerGFX = strdup(gfx);
  l->e = allocCells((size_t)m->w * m->h);
  for (size_t c = 0; c < (size_t)m->w * m->h; c++) l->e[c] = value;
  delete[] m->layer;
  m->layer = grown;
  m->layers++;
}

// Grows or cuts a map to w x h (new cells 0).
void resize(Map* m, uint32_t w, uint32_t h) {
  for (int i = 0; i < m->layers; i++) {
    int32_t* e = allocCells((size_t)w * h);
    for (uint32_t y = 0; y < h; y++)
      for (uint32_t x = 0; x < w; x++) e[y * w + x] = x < m->w && y < m->h ? m->layer[i]->e[y * m->w + x] : 0;
    free(m->layer[i]->e);
    m->layer[i]->e = e;
  }
  m->w = w, m->h = h;
}

int32_t cell(const Map* m, int layer, uint32_t x, uint32_t y) { return m->layer[layer]->e[y * m->w + x]; }
void set(Map* m, int layer, uint32_t x, uint32_t y, int32_t v) { m->layer[layer]->e[y * m->w + x] = v; }

struct Case {
  const char* what;
  std::function<void(Map* ours, Map* theirs)> change;
  std::function<void(const Map* out, const MergeReport& r)> check;
  bool symmetric = true;  // the same map when the sides swap and theirs wins
};

bool writeMap(const std::string& path, const Map* m) {
  FILE* f = fopen(path.c_str(), "wb");
  bool ok = f && writeMapStream(f, m);
  return f && fclose(f) == 0 && ok;
}

int cli(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return exchangeCommand((int)argv.size(), argv.data());
}
}  // namespace

TEST(Merge, FollowsTheThreeWayRuleForCellsLayersSizeAndName) {
  const Case cases[] = {
      {"a cell changed on one side takes that side's value, either side",
       [](Map* o, Map* t) { set(o, 0, 1, 1, 99), set(t, 1, 3, 2, 77); },
       [](const Map* m, const MergeReport& r) {
         EXPECT_EQ(cell(m, 0, 1, 1), 99);
         EXPECT_EQ(cell(m, 1, 3, 2), 77);
         EXPECT_EQ(cell(m, 1, 1, 1), 211);  // untouched
         EXPECT_EQ(r.total, 0u);
       }},
      {"changed alike on both sides: that value, no conflict",
       [](Map* o, Map* t) { set(o, 0, 2, 0, 7), set(t, 0, 2, 0, 7), set(t, 0, 3, 0, 8); },
       [](const Map* m, const MergeReport& r) {
         EXPECT_EQ(cell(m, 0, 2, 0), 7);
         EXPECT_EQ(cell(m, 0, 3, 0), 8);
         EXPECT_EQ(r.total, 0u);
       }},
      {"changed differently: ours kept, one conflict with the three values",
       [](Map* o, Map* t) { set(o, 1, 3, 2, 5), set(t, 1, 3, 2, 9), set(t, 1, 0, 2, 4); },
       [](const Map* m, const MergeReport& r) {
         EXPECT_EQ(cell(m, 1, 3, 2), 5);
         EXPECT_EQ(cell(m, 1, 0, 2), 4);  // the same row's one-sided change still merges
         ASSERT_EQ(r.conflicts.size(), 1u);
         const MergeConflict& c = r.conflicts[0];
         EXPECT_EQ(c.kind, CONFLICT_CELL);
         EXPECT_EQ(std::vector<int64_t>({c.layer, c.x, c.y, c.base, c.ours, c.theirs}),
                   std::vector<int64_t>({1, 3, 2, 223, 5, 9}));
         EXPECT_EQ(r.cells, 1u);
       }},
      {"a layer added on each side: both kept, ours' below theirs'",
       [](Map* o, Map* t) { appendLayer(o, "items", 3), appendLayer(t, "roofs", 4), set(t, 0, 0, 0, 50); },
       [](const Map* m, const MergeReport& r) {
         ASSERT_EQ(m->layers, 4);
         EXPECT_STREQ(m->layer[2]->layerGFX, "items");
         EXPECT_STREQ(m->layer[3]->layerGFX, "roofs");
         EXPECT_EQ(cell(m, 3, 3, 2), 4);
         EXPECT_EQ(cell(m, 0, 0, 0), 50);
         EXPECT_EQ(r.layersAdded, 2);
         EXPECT_EQ(r.total, 0u);
       },
       false},
      {"deleted on one side, untouched on the other: gone",
       [](Map* o, Map* t) { deleteLayerAt(o, 0), set(t, 1, 0, 0, 6); },
       [](const Map* m, const MergeReport& r) {
         ASSERT_EQ(m->layers, 1);
         EXPECT_STREQ(m->layer[0]->layerGFX, "dungeon");
         EXPECT_EQ(cell(m, 0, 0, 0), 6);
         EXPECT_EQ(r.total, 0u);
       }},
      {"deleted on one side, changed on the other: kept with the change, a conflict",
       [](Map* o, Map* t) { deleteLayerAt(t, 0), set(o, 0, 2, 2, 66); },
       [](const Map* m, const MergeReport& r) {
         ASSERT_EQ(m->layers, 2);
         EXPECT_EQ(cell(m, 0, 2, 2), 66);
         ASSERT_EQ(r.total, 1u);
         EXPECT_EQ(r.conflicts[0].kind, CONFLICT_LAYER_KEPT);
         EXPECT_EQ(r.layersKept, 1);
       }},
      {"size changed on one side: that size, the other side's cells merged in",
       [](Map* o, Map* t) { resize(o, 6, 3), set(o, 0, 5, 2, 12), set(t, 0, 1, 0, 13); },
       [](const Map* m, const MergeReport& r) {
         EXPECT_EQ(std::make_pair(m->w, m->h), std::make_pair(6u, 3u));
         EXPECT_EQ(cell(m, 0, 5, 2), 12);
         EXPECT_EQ(cell(m, 0, 1, 0), 13);
         EXPECT_EQ(cell(m, 0, 3, 1), 113);
         EXPECT_EQ(r.total, 0u);
       }},
      {"sizes changed differently: ours', a conflict, theirs' cells past it reported",
       [](Map* o, Map* t) { resize(o, 3, 3), resize(t, 4, 5), set(t, 1, 3, 4, 8); },
       [](const Map* m, const MergeReport& r) {
         EXPECT_EQ(std::make_pair(m->w, m->h), std::make_pair(3u, 3u));
         ASSERT_GE(r.conflicts.size(), 2u);
         EXPECT_EQ(r.conflicts[0].kind, CONFLICT_WIDTH);
         bool cut = false;
         for (const MergeConflict& c : r.conflicts) cut |= c.kind == CONFLICT_CUT_CELL && c.x == 3 && c.y == 4;
         EXPECT_TRUE(cut);
       }},
      {"name and background fields: one side wins alone, both differently conflict",
       [](Map* o, Map* t) {
         free(o->sysname), o->sysname = strdup("Ours"), free(t->sysname), t->sysname = strdup("Theirs");
         o->layer[1]->x = 4, t->layer[1]->y = 9, o->layer[0]->bg = 1, t->layer[0]->bg = 2;
       },
       [](const Map* m, const MergeReport& r) {
         EXPECT_STREQ(m->sysname, "Ours");
         EXPECT_EQ(std::make_pair(m->layer[1]->x, m->layer[1]->y), std::make_pair((int16_t)4, (int16_t)9));
         EXPECT_EQ(m->layer[0]->bg, 1);
         ASSERT_EQ(r.total, 2u);
         EXPECT_EQ(r.conflicts[0].kind, CONFLICT_NAME);
         EXPECT_EQ(r.conflicts[1].kind, CONFLICT_LAYER_BG);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Map* base = makeMap("Town", 4, 3, {{"default", 100}, {"dungeon", 200}});
    Map *ours = copyMap(base), *theirs = copyMap(base), out;
    c.change(ours, theirs);
    MergeReport r;
    ASSERT_EQ(mergeMaps(base, ours, theirs, MERGE_OURS, &out, &r), MERGE_OK);
    c.check(&out, r);
    EXPECT_EQ(r.total, r.conflicts.size());
    Map swapped;
    MergeReport r2;
    ASSERT_EQ(mergeMaps(base, theirs, ours, MERGE_THEIRS, &swapped, &r2), MERGE_OK);
    EXPECT_EQ(r2.total, r.total);
    if (c.symmetric) {
      EXPECT_TRUE(mapDigest(&out) == mapDigest(&swapped));
    }
    Map taken;  // ours' cells reused in place: the same merge
    ASSERT_EQ(mergeMapsTakingOurs(base, ours, theirs, MERGE_OURS, &taken, &r2), MERGE_OK);
    EXPECT_TRUE(mapDigest(&out) == mapDigest(&taken));
    freeMapRecord(&out), freeMapRecord(&swapped), freeMapRecord(&taken);
    dropMap(base), dropMap(ours), dropMap(theirs);
  }
}

TEST(Merge, MatchesLayersOfOneTilesetByTheirCells) {
  // Three layers on one tileset: ours deletes the middle one, theirs paints
  // the top one. Matching by position alone would merge the top layer's
  // change into the wrong layer or call the deletion a conflict.
  Map* base = makeMap("Town", 8, 8, {{"default", 100}, {"default", 200}, {"default", 300}});
  Map *ours = copyMap(base), *theirs = copyMap(base), out;
  deleteLayerAt(ours, 1);
  set(theirs, 2, 5, 5, 1);
  EXPECT_EQ(matchLayers(base, ours), std::vector<int>({0, 2}));
  MergeReport r;
  ASSERT_EQ(mergeMaps(base, ours, theirs, MERGE_OURS, &out, &r), MERGE_OK);
  ASSERT_EQ(out.layers, 2);
  EXPECT_EQ(cell(&out, 0, 5, 5), 155);
  EXPECT_EQ(cell(&out, 1, 5, 5), 1);
  EXPECT_EQ(r.total, 0u);
  EXPECT_EQ(r.layersDeleted, 1);
  freeMapRecord(&out);
  dropMap(base), dropMap(ours), dropMap(theirs);
}

TEST(Merge, GitDriverWritesOursOnlyForAMergeAndReportsEachConflict) {
  std::string dir = tempDir();
  Map* base = makeMap("Town", 4, 3, {{"default", 100}, {"dungeon", 200}});
  Map *ours = copyMap(base), *theirs = copyMap(base);
  set(ours, 1, 3, 2, 5), set(theirs, 1, 3, 2, 9), set(theirs, 0, 0, 0, 4);
  ASSERT_TRUE(writeMap(dir + "base.map", base) && writeMap(dir + "theirs.map", theirs));
  writeFile(dir + "garbage.map", "$not a map at all");
  std::string whole = readFile(dir + "theirs.map");
  writeFile(dir + "short.map", whole.substr(0, whole.size() / 2));
  struct {
    const char* theirs;
    int status;
  } runs[] = {{"missing.map", 2}, {"garbage.map", 2}, {"short.map", 2}, {"base.map", 0}, {"theirs.map", 1}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.theirs);
    ASSERT_TRUE(writeMap(dir + "ours.map", ours));
    std::string before = readFile(dir + "ours.map");
    remove((dir + "town.map.conflicts.txt").c_str());
    testing::internal::CaptureStderr();
    int status = cli({"moska2", "--merge", dir + "base.map", dir + "ours.map", dir + run.theirs, dir + "town.map"});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, run.status);
    std::string report = readFile(dir + "town.map.conflicts.txt");
    EXPECT_EQ(report.empty(), run.status != 1);
    if (run.status == 2) {
      EXPECT_EQ(readFile(dir + "ours.map"), before);
      EXPECT_NE(err.find(run.theirs), std::string::npos) << err;
      continue;
    }
    Map m;
    std::string after = readFile(dir + "ours.map");
    ASSERT_EQ(readMapBytes((const unsigned char*)after.data(), after.size(), &m), MAP_READ_OK);
    EXPECT_EQ(cell(&m, 1, 3, 2), 5);
    if (run.status == 0) {
      EXPECT_EQ(after, before);  // nothing new from theirs: same bytes
    }
    if (run.status == 1) {
      EXPECT_EQ(cell(&m, 0, 0, 0), 4);
      std::string line = dir + "town.map layer 1 x 3 y 2: base 223, ours 5, theirs 9";
      EXPECT_NE(err.find(line), std::string::npos) << err;
      EXPECT_NE(report.find(line), std::string::npos) << report;
    }
    freeMapRecord(&m);
  }
  dropMap(base), dropMap(ours), dropMap(theirs);
}
