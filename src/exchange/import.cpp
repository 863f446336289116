// A Tiled map read into a new map file of the project, with the tileset
// images it needs copied into layers/ and their pass conditions written.
// Everything is checked before the first file is written.
#include <SDL/SDL_image.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "exchange/exchange.h"
#include "exchange/internal.h"
#include "model/mapfile.h"
#include "model/sidecar.h"
#include "core/core.h"
#include "toolkit/files.h"

namespace fs = std::filesystem;

namespace {
const int DEFAULT_SCROLL = 1;  // a new layer's x and y

// An image the map needs in layers/.
struct NeededImage {
  std::string name, source;
  int w = 0, h = 0;
  bool hasRects = false;
  std::vector<unsigned char> pass;  // from the collision rectangles
};

struct Plan {
  Map map;
  std::vector<EntityModel> models;     // definitions the objects need, made here
  std::vector<NeededImage> images;
  std::vector<const InTileset*> sets;  // by firstgid
  std::vector<int> setImage;           // per set: index in images
  Plan() = default;
  Plan(const Plan&) = delete;
  ~Plan() { freeMapRecord(&map); }
};

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

bool readWhole(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return !in.bad();
}

bool saveBytes(FILE* f, const void* bytes) {
  const std::string& s = *(const std::string*)bytes;
  return fwrite(s.data(), 1, s.size(), f) == s.size();
}

std::string layersFile(const std::string& name, const char* folder, const char* ext) {
  return std::string(projectPath) + folder + "/" + name + "." + ext;
}

std::string where(const InLayer& l) { return "layer '" + l.name + "'"; }

// The image `source` as tileset `name`: one per name, same file.
bool needImage(Plan* p, const std::string& source, const std::string& what, int* index, std::string* error) {
  std::string ext = fs::path(source).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  if (source.empty()) return fail(error, what + " has no image");
  if (ext != ".png") return fail(error, what + ": image " + source + " is not a PNG");
  std::string name = fs::path(source).stem().string();
  if (!validName(name.c_str())) return fail(error, what + ": bad image name '" + name + "'");
  for (size_t i = 0; i < p->images.size(); i++) {
    if (p->images[i].name != name) continue;
    std::string a, b;
    if (p->images[i].source != source && (!readWhole(p->images[i].source, &a) || !readWhole(source, &b) || a != b))
      return fail(error, "two different images named " + name + ".png");
    *index = (int)i;
    return true;
  }
  SDL_Surface* s = IMG_Load(source.c_str());
  if (!s) return fail(error, what + ": cannot read image " + source);
  NeededImage im;
  im.name = name;
  im.source = source;
  im.w = s->w;
  im.h = s->h;
  SDL_FreeSurface(s);
  im.pass.assign((size_t)tilesetCounts(im.w, im.h).cells * PASS_BYTES_PER_TILE, 1);
  p->images.push_back(im);
  *index = (int)p->images.size() - 1;
  return true;
}

// Blocks every quarter a rectangle overlaps.
void applyRect(NeededImage* im, const InRect& r) {
  im->hasRects = true;
  size_t tiles = im->pass.size() / PASS_BYTES_PER_TILE;
  if (r.tile < 0 || (size_t)r.tile >= tiles || r.w <= 0 || r.h <= 0) return;
  for (int q = 0; q < PASS_BYTES_PER_TILE; q++) {
    double qx = q % 2 * QUARTER, qy = q / 2 * QUARTER;
    if (r.x < qx + QUARTER && r.x + r.w > qx && r.y < qy + QUARTER && r.y + r.h > qy)
      im->pass[(size_t)r.tile * PASS_BYTES_PER_TILE + q] = 0;
  }
}

bool checkMap(const InMap& m, std::string* error) {
  if (m.orientation != "orthogonal") return fail(error, "orientation '" + m.orientation + "' (only orthogonal maps)");
  if (m.tileW != TILE || m.tileH != TILE)
    return fail(error, "tiles of " + std::to_string(m.tileW) + "x" + std::to_string(m.tileH) + " pixels (only 16x16)");
  if (m.infinite) return fail(error, "infinite map");
  if (m.w <= 0 || m.h <= 0 || (unsigned long long)m.w * (unsigned long long)m.h > (unsigned long long)MAX_LAYER_CELLS)
    return fail(error, "map size " + std::to_string(m.w) + "x" + std::to_string(m.h) + " out of range");
  if (m.layers.empty()) return fail(error, "no tile or image layer");
  if (m.layers.size() > 0xFFFF) return fail(error, "too many layers");
  return true;
}

bool planSets(const InMap& m, Plan* p, std::string* error) {
  for (const InTileset& t : m.sets) p->sets.push_back(&t);
  std::sort(p->sets.begin(), p->sets.end(), [](const InTileset* a, const InTileset* b) { return a->firstgid < b->firstgid; });
  for (const InTileset* t : p->sets) {
    std::string what = "tileset '" + t->name + "'";
    if (t->firstgid == 0) return fail(error, what + " has no firstgid");
    if (t->image.empty()) return fail(error, what + " is a collection of images");
    if (t->tileW != TILE || t->tileH != TILE)
      return fail(error, what + " has tiles of " + std::to_string(t->tileW) + "x" + std::to_string(t->tileH) + " pixels (only 16x16)");
    if (t->margin || t->spacing) return fail(error, what + " has a margin or spacing");
    int index;
    if (!needImage(p, t->image, what, &index, error)) return false;
    for (const InRect& r : t->rects) applyRect(&p->images[index], r);
    p->setImage.push_back(index);
  }
  return true;
}

// The tileset (index in p->sets) of a gid, and its element; false when none.
bool findTile(const Plan& p, uint32_t gid, int* set, int32_t* element) {
  for (int i = (int)p.sets.size() - 1; i >= 0; i--) {
    if (p.sets[i]->firstgid > gid) continue;
    const NeededImage& im = p.images[p.setImage[i]];
    uint32_t n = gid - p.sets[i]->firstgid;
    if (n >= (uint32_t)((im.w / TILE) * (im.h / TILE))) return false;
    *set = i;
    *element = (int32_t)n;
    return true;
  }
  return false;
}

void dropLayer(Layer* l) {
  free(l->e);
  free(l->layerGFX);
  free(l->name);
  delete l;
}

Layer* newLayer(size_t cells, const std::string& tileset, const Properties& props) {
  Layer* l = new Layer();
  l->e = allocCells(cells);
  if (l->e) memset(l->e, 0, cells * sizeof *l->e);
  l->layerGFX = strdup(tileset.c_str());
  long x = DEFAULT_SCROLL, y = DEFAULT_SCROLL;
  auto px = props.find("x"), py = props.find("y");
  if (px != props.end()) parseLong(px->second, &x);
  if (py != props.end()) parseLong(py->second, &y);
  l->x = (int16_t)x;
  l->y = (int16_t)y;
  return l;
}

bool addLayerTo(Plan* p, Layer* l, std::string* error) {
  if (p->map.layers == UINT16_MAX) {
    dropLayer(l);
    return fail(error, "more than 65535 layers");
  }
  if (!l->e || !l->layerGFX) {
    dropLayer(l);
    return fail(error, "out of memory");
  }
  Layer** grown = new Layer*[p->map.layers + 1];
  std::copy(p->map.layer, p->map.layer + p->map.layers, grown);
  grown[p->map.layers] = l;
  delete[] p->map.layer;
  p->map.layer = grown;
  p->map.layers++;
  return true;
}

// The tileset of a layer with no tile: the one it names, else the first.
std::string emptyLayerTileset(const Plan& p, const InLayer& l) {
  auto named = l.props.find("tileset");
  for (size_t i = 0; named != l.props.end() && i < p.images.size(); i++)
    if (p.images[i].name == named->second) return named->second;
  return p.sets.empty() ? DEFAULT_TILESET : p.images[p.setImage[0]].name;
}

// The Tiled layer's name on the layers made from it from index `first` on:
// none when it is empty, their tileset's, or "<index> <tileset>" (what
// earlier versions exported for a layer without a name).
bool nameLayers(const InLayer& l, Plan* p, int first, std::string* error) {
  const std::string& n = l.name;
  for (int i = first; i < p->map.layers; i++) {
    Layer* out = p->map.layer[i];
    std::string tileset = out->layerGFX ? out->layerGFX : "";
    size_t digits = n.find_first_not_of("0123456789");
    bool oldDefault = digits > 0 && digits != std::string::npos && n.compare(digits, std::string::npos, " " + tileset) == 0;
    if (n.empty() || n == tileset || oldDefault) continue;
    const char* why = n.find('\0') != std::string::npos ? "it holds a control character" : layerNameRefusal(n.c_str());
    if (why) return fail(error, where(l) + ": name refused, " + why);
    out->name = strdup(n.c_str());
  }
  return true;
}

// A tile layer; one per tileset it draws from, in tileset order.
bool planTileLayer(const InLayer& l, Plan* p, std::string* error) {
  size_t cells = (size_t)p->map.w * p->map.h;
  if (l.gids.size() != cells)
    return fail(error, where(l) + " holds " + std::to_string(l.gids.size()) + " cells, the map " + std::to_string(cells));
  std::vector<int> set(cells, -1);
  std::vector<int32_t> element(cells, 0);
  std::vector<bool> used(p->sets.size(), false);
  for (size_t c = 0; c < cells; c++) {
    uint32_t gid = l.gids[c];
    std::string at = " at (" + std::to_string(c % p->map.w) + ", " + std::to_string(c / p->map.w) + ")";
    if (gid & GID_FLAGS) return fail(error, where(l) + ": flipped or rotated tile" + at);
    if (gid == 0) continue;
    if (!findTile(*p, gid, &set[c], &element[c])) return fail(error, where(l) + ": gid " + std::to_string(gid) + " names no tile" + at);
    used[set[c]] = true;
  }
  bool any = false;
  for (size_t s = 0; s < p->sets.size(); s++) {
    if (!used[s]) continue;
    any = true;
    Layer* out = newLayer(cells, p->images[p->setImage[s]].name, l.props);
    if (out->e)
      for (size_t c = 0; c < cells; c++)
        if (set[c] == (int)s) out->e[c] = element[c];
    if (!addLayerTo(p, out, error)) return false;
  }
  return any || addLayerTo(p, newLayer(cells, emptyLayerTileset(*p, l), l.props), error);
}

bool planImageLayer(const InLayer& l, Plan* p, std::string* error) {
  int index;
  if (!needImage(p, l.source, where(l), &index, error)) return false;
  size_t cells = (size_t)p->map.w * p->map.h;
  Layer* out = newLayer(cells, p->images[index].name, l.props);
  out->bg = 1;
  auto kept = l.props.find("cells");
  if (kept != l.props.end() && out->e) {
    std::istringstream in(kept->second);
    size_t c = 0;
    long v;
    for (std::string word; c < cells && std::getline(in, word, ',');) {
      word.erase(0, word.find_first_not_of(" \t\r\n"));
      word.erase(word.find_last_not_of(" \t\r\n") + 1);
      if (!parseLong(word, &v)) break;
      out->e[c++] = (int32_t)v;
    }
    if (c != cells) {
      dropLayer(out);
      return fail(error, where(l) + ": bad cells property");
    }
  }
  return addLayerTo(p, out, error);
}

bool planMap(const InMap& m, const std::string& name, Plan* p, std::vector<std::string>* dropped,
             std::string* error) {
  if (!checkMap(m, error) || !planSets(m, p, error)) return false;
  p->map.w = (uint32_t)m.w;
  p->map.h = (uint32_t)m.h;
  auto sys = m.props.find("name");
  if (sys != m.props.end() && sys->second.size() >= NAME_LEN)
    return fail(error, "map name property longer than " + std::to_string(NAME_LEN - 1) + " characters");
  p->map.sysname = strdup(sys != m.props.end() ? sys->second.c_str() : name.c_str());
  p->map.filename = strdup(name.c_str());
  long v;
  auto vx = m.props.find("viewX"), vy = m.props.find("viewY");
  if (vx != m.props.end() && parseLong(vx->second, &v)) p->map.viewX = (uint32_t)v;
  if (vy != m.props.end() && parseLong(vy->second, &v)) p->map.viewY = (uint32_t)v;
  for (const InLayer& l : m.layers) {
    int first = p->map.layers;
    if (!(l.image ? planImageLayer(l, p, error) : planTileLayer(l, p, error)) || !nameLayers(l, p, first, error))
      return false;
  }
  return planEntities(m, &p->map, &p->models, dropped, error);
}

// A layers/ file that exists must hold the very bytes to be copied.
bool checkCopies(const Plan& p, std::string* error) {
  for (const NeededImage& im : p.images) {
    std::string dst = layersFile(im.name, LAYERS_DIR, IMAGE_EXT), a, b;
    struct stat st;
    if (stat(dst.c_str(), &st) != 0) continue;
    if (!readWhole(dst, &a) || !readWhole(im.source, &b)) return fail(error, "cannot read " + im.source);
    if (a != b) return fail(error, "layers/" + im.name + ".png already exists and differs from " + im.source);
  }
  return true;
}

bool saveMap(FILE* f, const void* map) { return writeMapStream(f, (const Map*)map); }

// Copies the images, writes the pass conditions (from the collision
// rectangles; a tileset without any keeps its file), the definitions the
// objects need, the layer names and instances (the map's sidecar), then the
// map; when the map cannot be written, the old
// sidecar is put back.
bool commit(const Plan& p, const std::string& name, const std::string& oldSide, const std::string& mapPath,
            std::string* error) {
  for (const NeededImage& im : p.images) {
    std::string dst = layersFile(im.name, LAYERS_DIR, IMAGE_EXT), bytes, old;
    if (access(dst.c_str(), F_OK) != 0) {
      if (!readWhole(im.source, &bytes)) return fail(error, "cannot read " + im.source);
      if (!writeFileAtomically(dst, saveBytes, &bytes, error)) return false;
    }
    std::string pss = layersFile(im.name, PASS_DIR, PASS_EXT);
    bool exists = readWhole(pss, &old);
    if (exists && !im.hasRects) continue;
    std::string pass(im.pass.begin(), im.pass.end());
    if (old != pass && !writeFileAtomically(pss, saveBytes, &pass, error)) return false;
  }
  if (!storeModels(p.models, error)) return false;
  char why[NAME_LEN];
  if (!sidecarSave(&p.map, name.c_str(), why, sizeof why))
    return fail(error, "cannot write the layer names and entities: " + std::string(why));
  if (writeFileAtomically(mapPath, saveMap, &p.map, error)) return true;
  Map none;  // no map file: its (empty) sidecar is removed
  if (!sidecarTake(name.c_str(), oldSide.data(), oldSide.size(), why, sizeof why) && oldSide.empty())
    sidecarSave(&none, name.c_str(), why, sizeof why);
  return false;
}
}  // namespace

bool importMap(const std::string& in, const std::string& project, const std::string& map, bool force,
               std::string* error, std::vector<std::string>* dropped) {
  std::vector<std::string> none;
  if (!dropped) dropped = &none;
  dropped->clear();
  ExchangeFormat f = exchangeFormatOf(in);
  if (f != FORMAT_TMX && f != FORMAT_JSON) return fail(error, "unknown input format for " + in + " (use .tmx, .tmj or .json)");
  if (!useProject(project, error)) return false;
  char mapPath[FILE_PATH_LEN];
  if (!validName(map.c_str()) || !filePath(mapPath, sizeof mapPath, MAPS_DIR, map.c_str(), MAP_EXT))
    return fail(error, "bad map name '" + map + "'");
  if (!force && access(mapPath, F_OK) == 0)
    return fail(error, std::string("map ") + map + " already exists (--force replaces it)");
  InMap m;
  if (!(f == FORMAT_TMX ? readTmx(in, &m, error) : readJson(in, &m, error))) return false;
  Plan p;
  if (!planMap(m, map, &p, dropped, error)) return false;
  if (!dropped->empty() && !force)
    return fail(error, "some of the objects cannot be brought over (listed); nothing imported "
                       "(--force imports without them)");
  if (!checkCopies(p, error)) return false;
  std::string oldSide;  // a sidecar this editor cannot read is never written over
  if (!sidecarTextOf(map.c_str(), &oldSide))
    return fail(error, std::string(MAPDATA_DIR) + "/" + map + ".json cannot be read: move it away first");
  return commit(p, map, oldSide, mapPath, error);
}
