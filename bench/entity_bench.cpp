// Entities: 10,000 instances on a 256x256 map of the default tileset, four
// definitions (two colour rectangles, two tiles; one with a reference field
// whose arrows point at a neighbour), drawn in a 1920x1080 view.
//  - The frame with the instances against the same frame without them, their
//    rounds alternating in one run: the time the instances add, at 1:1 in
//    the map's middle, at 2 (tiles enlarged) and at 1/8 (the whole map, all
//    10,000 in view). Processor time of this thread, median of kRounds.
//  - The map's sidecar holding them written (crash-safe) and read back,
//    against the same bytes written crash-safe alone and read and parsed
//    as JSON alone. Wall time, median of kRounds.
//   entity_bench [APP_DIR]
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "benchutil.h"
#include "core/files.h"
#include "editor/editor.h"
#include "editor/zoom.h"
#include "model/entities.h"
#include "model/mapfile.h"
#include "model/sidecar.h"

namespace {
const uint32_t kSide = 256;         // cells a side of the map
const int kInstances = 10000;
const int kRounds = 7;
const int kFrames = 20;             // frames a round
const int kViewW = 1920, kViewH = 1080;

double threadMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

EntityModel definition(const char* name, uint32_t colour, const char* tileset, int element, int w, int h) {
  EntityModel d;
  d.name = name, d.colour = colour, d.tileset = tileset, d.element = element, d.w = w, d.h = h;
  return d;
}

// Instances at random cells, row by row in the list's order; every
// "Enemy" names the next instance (mostly beside it) in its reference field.
void placeInstances(Map* m) {
  const char* models[] = {"Chest", "Door", "Enemy", "Torch"};
  uint32_t seed = 99;
  std::vector<std::pair<int32_t, int32_t>> at;
  for (int i = 0; i < kInstances; i++) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t c = (seed >> 8) % (kSide * kSide);
    at.push_back({(int32_t)(c / kSide * TILE), (int32_t)(c % kSide * TILE)});
  }
  std::sort(at.begin(), at.end());
  std::vector<Entity> list(kInstances);
  for (int i = 0; i < kInstances; i++) {
    list[i].id = entityNewId();
    list[i].model = models[i % 4];
    list[i].y = at[i].first, list[i].x = at[i].second;
  }
  for (int i = 0; i < kInstances; i++) {
    if (list[i].model == "Enemy") list[i].fields["target"] = entityIdText(list[(i + 1) % kInstances].id);
    if (!entityPlace(m, list[i], nullptr)) exit(1);
  }
}

void setScale(Map* m, const char* scale) {
  for (zoom.level = 0; strcmp(zoomName(zoom.level), scale) != 0; zoom.level++) {
  }
  int cell = zoomCellPixels(zoom.level);
  m->viewX = (uint32_t)std::max<int64_t>(0, ((int64_t)m->w * cell / 2 - kViewW / 2) * TILE / cell);
  m->viewY = (uint32_t)std::max<int64_t>(0, ((int64_t)m->h * cell / 2 - kViewH / 2) * TILE / cell);
}

void frameRow(Map* m, const char* scale) {
  setScale(m, scale);
  EntityViewConv conv;
  conv.originX = m->viewX, conv.originY = m->viewY, conv.scale = viewCellSide(), conv.unit = TILE;
  int inView = drawEntities(m, conv, 0);
  MapEntities* kept = m->entities;
  auto with = [&] { m->entities = kept; drawWindow(); };
  auto without = [&] { m->entities = nullptr; drawWindow(); };
  with(), without();  // warm-up: caches, labels, tile pictures
  std::vector<double> a, b, added;
  for (int r = 0; r < kRounds; r++) {
    double t = threadMs();
    for (int i = 0; i < kFrames; i++) with();
    a.push_back((threadMs() - t) / kFrames);
    t = threadMs();
    for (int i = 0; i < kFrames; i++) without();
    b.push_back((threadMs() - t) / kFrames);
    added.push_back(a.back() - b.back());
  }
  m->entities = kept;
  printf("entities drawn at %-3s %dx%d: %d of %d in view | with them %.3f ms | without %.3f ms | added %.3f ms\n",
         scale, kViewW, kViewH, inView, kInstances, benchMedian(a), benchMedian(b), benchMedian(added));
  fflush(stdout);
}

std::string fileText(const std::string& path) {
  std::string s;
  FILE* f = fopen(path.c_str(), "rb");
  char buf[1 << 16];
  for (size_t n; f && (n = fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  if (f) fclose(f);
  return s;
}

void fileRows(Map* m, const std::string& folder) {
  char why[256];
  std::string path = folder + MAPDATA_DIR + "/map0." + MAPDATA_EXT, copy = path + ".copy";
  std::vector<double> save, load, write, parse;
  size_t bytes = 0, loaded = 0;
  for (int r = 0; r < kRounds; r++) {
    double t = benchNow();
    if (!sidecarSave(m, "map0", why, sizeof why)) exit(1);
    save.push_back((benchNow() - t) * 1e3);
    std::string text = fileText(path);
    bytes = text.size();
    char temp[FILE_PATH_LEN + 8];
    t = benchNow();
    FILE* f = replacingOpen(copy.c_str(), ".tmp", temp, sizeof temp);
    if (!f || !replacingCommit(f, temp, copy.c_str(), fwrite(text.data(), 1, text.size(), f) == text.size(), nullptr))
      exit(1);
    write.push_back((benchNow() - t) * 1e3);
    t = benchNow();
    if (sidecarLoad(m, "map0", false, why, sizeof why) != SIDECAR_OK) exit(1);
    load.push_back((benchNow() - t) * 1e3);
    loaded = m->entities ? m->entities->list.size() : 0;
    t = benchNow();
    nlohmann::json doc = nlohmann::json::parse(fileText(copy), nullptr, false);
    parse.push_back((benchNow() - t) * 1e3);
    if (doc.is_discarded()) exit(1);
  }
  printf("sidecar save of %d instances (%zu bytes): %.2f ms | the same bytes written crash-safe alone %.2f ms\n",
         kInstances, bytes, benchMedian(save), benchMedian(write));
  printf("sidecar load of %zu instances: %.2f ms | the same file read and parsed as JSON alone %.2f ms\n", loaded,
         benchMedian(load), benchMedian(parse));
}
}  // namespace

int main(int argc, char** argv) {
  int saved;
  Map* m = benchViewMap(argc, argv, kViewW + PANEL_WIDTH, kViewH, kSide, &saved);
  if (!m) return 1;
  std::string folder = projectPath;
  net = false;
  uint32_t seed = 5;
  for (size_t c = 0; c < (size_t)kSide * kSide; c++) {  // a ground of the tileset's first tiles
    seed = seed * 1664525u + 1013904223u;
    m->layer[0]->e[c] = (int32_t)((seed >> 8) % 8);
  }
  EntityModel reference = definition("Enemy", 0xC03030, "", 0, 1, 1);
  EntityField target;
  target.name = "target", target.type = FIELD_REFERENCE;
  reference.fields.push_back(target);
  std::string why;
  for (const EntityModel& d : {definition("Chest", 0xE0B020, "", 0, 1, 1), definition("Door", 0x8040C0, "default", 3, 1, 2),
                               reference, definition("Torch", 0xF08020, "default", 9, 1, 1)})
    if (!entityModelStore(d, &why)) return 1;
  placeInstances(m);
  benchLogBack(saved);
  printf("Entities: %d instances on a %ux%u map, view %dx%d (screen %dx%d less the panel)\n", kInstances, kSide, kSide,
         kViewW, kViewH, (int)video_x, (int)video_y);
  for (const char* scale : {"1", "2", "1/8"}) frameRow(m, scale);
  fileRows(m, folder);
  zoom.level = ZOOM_ONE;
  if (system(("rm -rf '" + folder + "'").c_str()) != 0) return 1;
  return 0;
}
