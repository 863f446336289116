// Instances drawn over the map view, in every menu, at every scale: each
// one's tile (its definition's tileset and element) in its top-left cell,
// its whole size outlined when larger, else a rectangle of its definition's
// colour; the definition's name under it once it is kLabelMinHeight pixels
// tall on screen; an arrow to each instance a reference field of it names,
// once a cell is kArrowMinCell pixels on screen. A misfit gets a red corner, the selected one a white frame. Only the
// instances in view are drawn: a first test on map pixels alone, then each
// one's own size. What a frame would otherwise make again is kept in `st`:
//   labels    one picture per name and colour (a text render costs ~3 us)
//   sheets    a definition's tileset that no layer holds in the library, loaded once
//   enlarged  a tile at the view's scale above 1:1, for the current scale
//   ids       where each id is in the map's list, for the arrows
//
// [SECTION] index
//   caches    the frame's start, labelFor, sheetFor, enlargedTile, byId, infoOf
//   drawing   placeOf, drawTile, drawBody, drawArrows, drawLabel, drawEntities
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "core/files.h"
#include "editor/editor.h"
#include "model/entities.h"
#include "model/model.h"
#include "toolkit/tilecache.h"
#include "toolkit/tilemip.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"
#include "toolkit/viewpixels.h"

namespace {
const int kLabelSize = 10;               // points: a name about as tall as a cell at 1:1
const int kLabelMinHeight = 12;          // screen pixels an instance needs to show its name
const int kLabelGap = 1;                 // pixels between an instance and its name
const size_t kSheetsKept = 32;           // tilesets loaded here (none of the map's layers uses them)
const unsigned kSheetRetryFrames = 900;  // ~30 s at 30 fps before a tileset that failed to load is tried again
const size_t kEnlargedKept = 256;        // tiles kept at the current scale above 1:1
const unsigned kIndexRetryFrames = 30;   // ~1 s between index rebuilds for a referenced id not found
const int kTintAlpha = 160;              // the colour rectangle: the map shows through it
const int kOutlineAlpha = 200;           // the outline of a tiled instance larger than its tile
const int kArrowMinCell = 8;             // screen pixels a cell needs for arrows (1/2 and closer):
                                         // below, an arrow to a neighbour is a dot, and 10,000 cost ~1 ms
const int kArrowHead = 6;                // pixels of each stroke of an arrow's head
const double kArrowHeadAngle = 0.45;     // radians either side of the shaft
const uint32_t kUnknownColour = 0x808080;  // an instance whose definition is missing
const uint32_t kMisfitColour = 0xDC0000;
const uint32_t kSelectedColour = 0xFFFFFF;
const uint32_t kArrowColour = 0xFFFFFF;

struct Sheet {
  SDL_Surface* surface = nullptr;  // null: the load failed at frame `triedAt`
  unsigned triedAt = 0;
};
struct Enlarged {
  SDL_Surface* sheet = nullptr;  // what it was cut from (a tileset loaded again: made again)
  SDL_Surface* picture = nullptr;
};
// What one definition draws with this frame, worked out once a frame (the
// pointers are good for this frame only: the caches may start over at the next).
struct ModelFrame {
  unsigned frame = 0;
  SDL_Surface* sheet = nullptr;  // its tile's tileset; null: no tile, or not loaded
  const TileCache* cache = nullptr;
  const TileMip* mip = nullptr;
  SDL_Surface* enlarged = nullptr;
  bool tileDone = false, labelDone = false;
  SDL_Surface* label = nullptr;
  bool refs = false;  // it has reference fields
};
struct Place {
  int x, y, w, h;
};
// An instance in view: its place in the list, its definition (null: missing), where it is.
struct Shown {
  uint32_t index;
  const EntityModel* d;
  Place p;
};
struct EntityViewState {
  unsigned frame = 0;  // drawEntities calls
  std::unordered_map<std::string, SDL_Surface*> labels;  // "rrggbb name" -> picture (null: no font)
  std::unordered_map<std::string, Sheet> sheets;
  int enlargedSide = 0;  // the scale `enlarged` is for
  std::unordered_map<std::string, Enlarged> enlarged;    // "element tileset"
  std::vector<ModelFrame> models;                         // by index in entityModels.list
  // Where each id is in the list of `indexed` (checked at every use).
  const MapEntities* indexed = nullptr;
  const Entity* indexedData = nullptr;
  size_t indexedSize = 0;
  unsigned indexedAt = 0;
  std::unordered_map<uint64_t, uint32_t> ids;
  std::vector<Shown> shown;  // this frame's instances in view
};
// Never destroyed: its pictures stay reachable to the process's end (a
// static record's containers would drop them first, and the leak checker
// would call them lost).
EntityViewState& st = *new EntityViewState;

// [SECTION] caches
// Caches start over between frames only, never while a frame holds their pictures.
void startFrame(int side) {
  st.frame++;
  if (st.labels.size() >= ENTITY_LABELS_KEPT) {
    for (auto& l : st.labels) freeSurface(l.second);
    st.labels.clear();
  }
  if (side != st.enlargedSide || st.enlarged.size() >= kEnlargedKept) {
    for (auto& e : st.enlarged) freeSurface(e.second.picture);
    st.enlarged.clear();
    st.enlargedSide = side;
  }
}

// The picture of a name in a colour; null when there is no font, or when
// this frame filled the cache.
SDL_Surface* labelFor(const std::string& name, uint32_t rgb) {
  char colour[8];
  snprintf(colour, sizeof colour, "%06x", (unsigned)(rgb & 0xFFFFFF));
  std::string key = std::string(colour) + " " + name;
  auto it = st.labels.find(key);
  if (it != st.labels.end()) return it->second;
  if (st.labels.size() >= ENTITY_LABELS_KEPT) return nullptr;
  SDL_Surface* s = makeLabel(name.c_str(), rgb, kLabelSize);
  st.labels.emplace(key, s);
  return s;
}

// A definition's tileset: the library's when a layer uses it, else loaded
// here once (a failed load tried again after a while, quietly meanwhile).
SDL_Surface* sheetFor(const std::string& name) {
  if (SDL_Surface* s = libraryFind(name.c_str())) return s;
  auto it = st.sheets.find(name);
  if (it != st.sheets.end() && (it->second.surface || st.frame - it->second.triedAt < kSheetRetryFrames))
    return it->second.surface;
  if (it == st.sheets.end() && st.sheets.size() >= kSheetsKept) return nullptr;
  Sheet& sh = st.sheets[name];
  sh.surface = validName(name.c_str()) ? tilesetLoad(name.c_str()) : nullptr;
  sh.triedAt = st.frame;
  return sh.surface;
}

// Tile `element` at `side` pixels (a multiple of TILE), its pixels repeated;
// made once per scale. Null when it cannot be made or the cache is full.
SDL_Surface* enlargedTile(SDL_Surface* sheet, const TileCache* c, const std::string& tileset, int element, int side) {
  std::string key = std::to_string(element) + " " + tileset;
  auto it = st.enlarged.find(key);
  if (it != st.enlarged.end() && it->second.sheet == sheet) return it->second.picture;
  if (it == st.enlarged.end() && st.enlarged.size() >= kEnlargedKept) return nullptr;
  Enlarged& e = st.enlarged[key];
  freeSurface(e.picture);
  e.sheet = sheet;
  e.picture = makePicture(side, side);
  SDL_Surface* small = makePicture(TILE, TILE);
  if (small && e.picture) {
    tileCacheBlit(c, element, small, 0, 0);
    scaleNearest(small, e.picture, side / TILE);
  }
  freeSurface(small);
  return e.picture;
}

// The instance of me with that id; null when there is none. The index is
// made again when the list changed, and for an id it lacks at most every
// kIndexRetryFrames (a reference to a deleted instance costs nothing).
const Entity* byId(const MapEntities* me, uint64_t id) {
  const std::vector<Entity>& list = me->list;
  if (st.indexed == me && st.indexedData == list.data() && st.indexedSize == list.size()) {
    auto it = st.ids.find(id);
    if (it != st.ids.end() && it->second < list.size() && list[it->second].id == id) return &list[it->second];
    if (it == st.ids.end() && st.frame - st.indexedAt < kIndexRetryFrames) return nullptr;
  }
  st.ids.clear();
  st.ids.reserve(list.size());
  for (uint32_t i = 0; i < list.size(); i++) st.ids[list[i].id] = i;
  st.indexed = me, st.indexedData = list.data(), st.indexedSize = list.size(), st.indexedAt = st.frame;
  auto it = st.ids.find(id);
  return it != st.ids.end() ? &list[it->second] : nullptr;
}

ModelFrame& infoOf(const EntityModel* d) {
  size_t i = (size_t)(d - entityModels.list.data());
  if (st.models.size() < entityModels.list.size()) st.models.resize(entityModels.list.size());
  ModelFrame& f = st.models[i];
  if (f.frame == st.frame) return f;
  f = ModelFrame();
  f.frame = st.frame;
  for (const EntityField& field : d->fields) f.refs |= field.type == FIELD_REFERENCE;
  return f;
}

// [SECTION] drawing
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The view's conversion worked out for the frame: a map pixel p is at
// screen floor(p * scale / unit) - origin, as the cells are (cellToView).
struct Frame {
  const EntityViewConv* c;
  int64_t ox, oy;
  int W, H, side;  // the view's size, a cell's side on screen (0: not whole pixels)
  int64_t toScreen(int64_t p) const { return floorDiv(p * c->scale, c->unit); }
};

// Where e is on screen with its definition's size; false when it is out of view.
bool placeOf(const Frame& f, const Entity& e, const EntityModel* d, Place* p) {
  int64_t x = f.toScreen(e.x) - f.ox, y = f.toScreen(e.y) - f.oy;
  int64_t w = f.toScreen((int64_t)(d ? d->w : 1) * TILE), h = f.toScreen((int64_t)(d ? d->h : 1) * TILE);
  if (w < 1) w = 1;
  if (h < 1) h = 1;
  if (x >= f.W || y >= f.H || x + w <= 0 || y + h <= 0) return false;
  *p = Place{(int)x, (int)y, (int)w, (int)h};
  return true;
}

// The definition's tile as a cell at (x, y); false when it draws nothing
// there (no such tile, no tileset, a scale with no tile pictures).
bool drawTile(const Frame& f, const EntityModel* d, ModelFrame& info, int x, int y) {
  if (!info.tileDone) {
    info.tileDone = true;
    info.sheet = d->tileset.empty() ? nullptr : sheetFor(d->tileset);
    info.cache = info.sheet ? tileCacheGet(info.sheet, window) : nullptr;
    if (!tileCacheDraws(info.cache, d->element) || !f.side) {
      info.sheet = nullptr;
    } else if (f.side < TILE) {
      int level = 0;
      while (level < TILE_MIP_LEVELS && (TILE >> level) > f.side) level++;
      info.mip = (TILE >> level) == f.side ? tileMipGet(info.sheet, window, level) : nullptr;
      if (tileMipKind(info.mip, d->element) == MIP_EMPTY) info.sheet = nullptr;
    } else if (f.side > TILE) {
      info.enlarged = f.side % TILE ? nullptr : enlargedTile(info.sheet, info.cache, d->tileset, d->element, f.side);
      if (!info.enlarged) info.sheet = nullptr;
    }
  }
  if (!info.sheet) return false;
  if (f.side == TILE) {
    tileCacheBlit(info.cache, d->element, window, x, y);
  } else if (f.side < TILE) {
    const int32_t cell = d->element;
    const int32_t* cells[1] = {&cell};
    tileMipDrawRow(&info.mip, cells, 1, 1, window, x, y, false);
  } else {
    blitFaded(info.enlarged, window, x, y, 255);
  }
  return true;
}

void outline(const Place& p, uint32_t rgb, int alpha) {
  blendRect(window, p.x, p.y, p.w, 1, rgb, alpha);
  blendRect(window, p.x, p.y + p.h - 1, p.w, 1, rgb, alpha);
  blendRect(window, p.x, p.y + 1, 1, p.h - 2, rgb, alpha);
  blendRect(window, p.x + p.w - 1, p.y + 1, 1, p.h - 2, rgb, alpha);
}

void drawBody(const Frame& f, const Entity& e, const EntityModel* d, const Place& p, bool selected) {
  uint32_t rgb = d ? d->colour : kUnknownColour;
  if (d && !d->tileset.empty() && drawTile(f, d, infoOf(d), p.x, p.y)) {
    if (d->w > 1 || d->h > 1) outline(p, rgb, kOutlineAlpha);
  } else {
    blendRect(window, p.x, p.y, p.w, p.h, rgb, kTintAlpha);
  }
  if (e.misfit) blendRect(window, p.x, p.y, p.w / 3 + 1, p.h / 3 + 1, kMisfitColour, 255);
  if (selected) outline(p, kSelectedColour, 255);
}

// The centre of an instance in screen pixels (anywhere: lines are clipped).
void centreOf(const Frame& f, const Entity& e, const EntityModel* d, int64_t* x, int64_t* y) {
  *x = f.toScreen(e.x + (int64_t)(d ? d->w : 1) * TILE / 2) - f.ox;
  *y = f.toScreen(e.y + (int64_t)(d ? d->h : 1) * TILE / 2) - f.oy;
}

// An arrow from e to each instance its reference fields name.
void drawArrows(const Frame& f, const MapEntities* me, const Entity& e, const EntityModel* d) {
  for (const EntityField& field : d->fields) {
    if (field.type != FIELD_REFERENCE) continue;
    auto v = e.fields.find(field.name);
    uint64_t id;
    if (v == e.fields.end() || !v->is_string() || !entityIdParse(v->get_ref<const std::string&>().c_str(), &id))
      continue;
    const Entity* to = byId(me, id);
    if (!to || to == &e) continue;
    int64_t x0, y0, x1, y1;
    centreOf(f, e, d, &x0, &y0);
    centreOf(f, *to, entityModelFind(to->model), &x1, &y1);
    drawLine(window, x0, y0, x1, y1, kArrowColour);
    double dx = (double)(x0 - x1), dy = (double)(y0 - y1), len = sqrt(dx * dx + dy * dy);
    if (len < 1) continue;
    dx /= len, dy /= len;
    static const double c = cos(kArrowHeadAngle), sn = sin(kArrowHeadAngle);
    for (double k : {sn, -sn}) {
      double hx = dx * c - dy * k, hy = dx * k + dy * c;
      drawLine(window, x1, y1, x1 + (int64_t)lround(hx * kArrowHead), y1 + (int64_t)lround(hy * kArrowHead),
               kArrowColour);
    }
  }
}

// The definition's name centred under the instance.
void drawLabel(const Entity& e, const EntityModel* d, const Place& p) {
  if (p.h < kLabelMinHeight) return;
  SDL_Surface* label = nullptr;
  if (d) {
    ModelFrame& info = infoOf(d);
    if (!info.labelDone) info.label = labelFor(d->name, d->colour), info.labelDone = true;
    label = info.label;
  } else {
    label = labelFor(e.model, kUnknownColour);
  }
  if (label) blitFaded(label, window, p.x + (p.w - surfaceWidth(label)) / 2, p.y + p.h + kLabelGap, 255);
}
}  // namespace

int drawEntities(const Map* m, const EntityViewConv& c, uint64_t selected) {
  const MapEntities* me = entitiesOfConst(m);
  if (!me || me->list.empty() || !window || c.scale < 1 || c.unit < 1) return 0;
  Frame f;
  f.c = &c;
  f.ox = f.toScreen(c.originX), f.oy = f.toScreen(c.originY);
  f.W = surfaceWidth(window), f.H = surfaceHeight(window);
  f.side = (TILE * c.scale) % c.unit ? 0 : TILE * c.scale / c.unit;
  startFrame(f.side);
  // The map pixels the view may show anything of: the largest definition
  // reaching in from the left or from above, anything starting inside.
  int maxW = 1, maxH = 1;
  for (const EntityModel& d : entityModels.list) maxW = d.w > maxW ? d.w : maxW, maxH = d.h > maxH ? d.h : maxH;
  int64_t x0 = floorDiv(f.ox * c.unit, c.scale) - (int64_t)maxW * TILE, x1 = floorDiv((f.ox + f.W) * c.unit, c.scale) + 1;
  int64_t y0 = floorDiv(f.oy * c.unit, c.scale) - (int64_t)maxH * TILE, y1 = floorDiv((f.oy + f.H) * c.unit, c.scale) + 1;
  // Bodies, then arrows over them, then names over everything.
  st.shown.clear();
  const std::vector<Entity>& list = me->list;
  const EntityModel* d = nullptr;
  for (uint32_t i = 0; i < list.size(); i++) {
    const Entity& e = list[i];
    if (e.x <= x0 || e.x >= x1 || e.y <= y0 || e.y >= y1) continue;
    if (!d || d->name != e.model) d = entityModelFind(e.model);
    Place p;
    if (!placeOf(f, e, d, &p)) continue;
    drawBody(f, e, d, p, e.id == selected);
    st.shown.push_back(Shown{i, d, p});
  }
  if (TILE * c.scale >= kArrowMinCell * c.unit)
    for (const Shown& s : st.shown)
      if (s.d && infoOf(s.d).refs) drawArrows(f, me, list[s.index], s.d);
  for (const Shown& s : st.shown) drawLabel(list[s.index], s.d, s.p);
  return (int)st.shown.size();
}

int entityLabelsKept() { return (int)st.labels.size(); }
