// Three-way map merge and layer matching. Rows are compared whole first
// (memcmp): a row one side left as it was takes the other side's row in one
// copy, so only rows both sides changed are walked cell by cell.
#include "model/merge.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "model/mapfile.h"

namespace {
const int SAMPLE_SIDE = 32;             // cells sampled per axis to tell layers apart
const size_t SAMPLE_BUDGET = 1 << 24;   // sampled cells for all pairs (maps of thousands of layers)
const long long MATCH_WEIGHT = 1 << 16;  // a match counts more than any agreement
const long long AGREE_WEIGHT = 8;        // per agreeing sampled cell (< MATCH_WEIGHT in all)
const size_t MATCH_TABLE_MAX = 1 << 22;  // alignment cells; beyond, layers match by position
const int MAX_MAP_LAYERS = 0xFFFF;       // the 16-bit layer count of the file
const int64_t ABSENT = MERGE_ABSENT;

bool sameText(const char* a, const char* b) { return strcmp(a ? a : "", b ? b : "") == 0; }

// How many sampled cells two layers agree on, over the size both maps share.
// side x side cells are sampled.
long long agreement(const Map* a, const Layer* la, const Map* b, const Layer* lb, int side) {
  uint32_t w = a->w < b->w ? a->w : b->w, h = a->h < b->h ? a->h : b->h;
  if (!w || !h || !la->e || !lb->e) return 0;
  long long n = 0;
  for (int sy = 0; sy < side; sy++)
    for (int sx = 0; sx < side; sx++) {
      size_t x = (size_t)w * sx / side, y = (size_t)h * sy / side;
      n += la->e[y * a->w + x] == lb->e[y * b->w + x];
    }
  return n;
}

char* copyText(const char* s) {
  size_t n = strlen(s ? s : "") + 1;
  char* p = (char*)malloc(n);
  if (p) memcpy(p, s ? s : "", n);
  return p;
}

// The three-way rule on one value: true when both sides changed it
// differently (then *out is the winner's).
template <typename T>
bool pick(const T& b, const T& o, const T& t, MergeSide winner, T* out) {
  if (o == b) *out = t;
  else if (t == b || t == o) *out = o;
  else {
    *out = winner == MERGE_OURS ? o : t;
    return true;
  }
  return false;
}

struct Merger {
  const Map *base, *ours, *theirs;
  MergeSide winner;
  Map* out;
  MergeReport* r;
  Map* donor;  // ours, when its cell arrays may become the merge's (else null)
  MergeLayerOrigin next;  // where the next layer made comes from

  void note(MergeConflictKind kind, int layer, uint32_t x, uint32_t y, int64_t b, int64_t o, int64_t t) {
    r->total++;
    if (kind == CONFLICT_CELL || kind == CONFLICT_CUT_CELL) r->cells++;
    if (r->conflicts.size() < MERGE_LIST_MAX) r->conflicts.push_back({kind, layer, x, y, b, o, t});
  }

  // A layer of the merge with like's fields; its cells are `cells` when
  // given (taken over), else new and not yet filled.
  Layer* newLayer(const Layer* like, int32_t* cells = nullptr) {
    Layer* l = new (std::nothrow) Layer();
    if (!l) return nullptr;
    out->layer[out->layers++] = l;
    r->origins.push_back(next);
    l->layerGFX = copyText(like->layerGFX);
    l->e = cells ? cells : allocCells((size_t)out->w * out->h);
    l->bg = like->bg;
    l->x = like->x;
    l->y = like->y;
    return l->layerGFX && l->e ? l : nullptr;
  }

  // A layer of one copy as it stands, on the merged grid (zeros where it
  // has no cells).
  bool copyLayer(const Map* from, const Layer* src) {
    Layer* l = newLayer(src);
    if (!l) return false;
    for (uint32_t y = 0; y < out->h; y++) {
      int32_t* row = l->e + (size_t)y * out->w;
      uint32_t n = y < from->h ? (from->w < out->w ? from->w : out->w) : 0;
      if (n && src->e) memcpy(row, src->e + (size_t)y * from->w, n * sizeof(int32_t));
      else n = 0;
      memset(row + n, 0, (out->w - n) * sizeof(int32_t));
    }
    return true;
  }

  static int64_t at(const Map* m, const Layer* l, uint32_t x, uint32_t y) {
    return x < m->w && y < m->h && l->e ? l->e[(size_t)y * m->w + x] : ABSENT;
  }

  // Cells a copy changed that fall outside the merged size.
  void cutCells(const Map* side, const Layer* ls, const Layer* lb, bool isOurs) {
    if (side->w <= out->w && side->h <= out->h) return;
    int layer = out->layers - 1;
    for (uint32_t y = 0; y < side->h; y++)
      for (uint32_t x = y < out->h ? out->w : 0; x < side->w; x++) {
        int64_t v = at(side, ls, x, y), b = lb ? at(base, lb, x, y) : ABSENT;
        if (v == b) continue;
        note(CONFLICT_CUT_CELL, layer, x, y, b, isOurs ? v : ABSENT, isOurs ? ABSENT : v);
      }
  }

  // Both copies and the base on one grid: row by row, then cell by cell.
  void sameSizeCells(const Layer* lb, const Layer* lo, const Layer* lt, Layer* l, int layer) {
    size_t w = out->w, rowBytes = w * sizeof(int32_t);
    for (uint32_t y = 0; y < out->h; y++) {
      const int32_t *rb = lb->e + y * w, *ro = lo->e + y * w, *rt = lt->e + y * w;
      int32_t* rm = l->e + y * w;
      if (memcmp(ro, rb, rowBytes) == 0) {
        memcpy(rm, rt, rowBytes);
        continue;
      }
      if (memcmp(rt, rb, rowBytes) == 0 || memcmp(rt, ro, rowBytes) == 0) {
        if (rm != ro) memcpy(rm, ro, rowBytes);
        continue;
      }
      size_t clashes = 0;
      for (size_t x = 0; x < w; x++) {
        int32_t b = rb[x], o = ro[x], t = rt[x];
        rm[x] = o == b ? t : o;
        clashes += (o != b) & (t != b) & (o != t);
      }
      if (!clashes) continue;
      for (size_t x = 0; x < w; x++) {
        int32_t b = rb[x], o = ro[x], t = rt[x];
        if (o == b || t == b || o == t) continue;
        if (winner == MERGE_THEIRS) rm[x] = t;
        note(CONFLICT_CELL, layer, (uint32_t)x, y, b, o, t);
      }
    }
  }

  // Copies of different sizes: a cell a copy lacks counts as its own value.
  void anySizeCells(const Layer* lb, const Layer* lo, const Layer* lt, Layer* l, int layer) {
    for (uint32_t y = 0; y < out->h; y++)
      for (uint32_t x = 0; x < out->w; x++) {
        int64_t b = at(base, lb, x, y), o = at(ours, lo, x, y), t = at(theirs, lt, x, y), v;
        if (pick(b, o, t, winner, &v)) note(CONFLICT_CELL, layer, x, y, b, o, t);
        l->e[(size_t)y * out->w + x] = v == ABSENT ? 0 : (int32_t)v;
      }
    cutCells(ours, lo, lb, true);
    cutCells(theirs, lt, lb, false);
  }

  bool bothKept(const Layer* lb, int oursIndex, const Layer* lt) {
    const Layer* lo = ours->layer[oursIndex];
    bool same = base->w == out->w && base->h == out->h && ours->w == out->w && ours->h == out->h &&
                theirs->w == out->w && theirs->h == out->h && lb->e && lo->e && lt->e;
    // The merge of a row overwrites ours' cells only after reading them, so
    // ours' array can be the merge's own: no new memory to fault in.
    int32_t* taken = same && donor ? lo->e : nullptr;
    int before = out->layers;
    Layer* l = newLayer(lo, taken);
    if (taken && out->layers > before) donor->layer[oursIndex]->e = nullptr;  // the merge's now
    if (!l) return false;
    int layer = out->layers - 1;
    if (pick(lb->bg, lo->bg, lt->bg, winner, &l->bg)) note(CONFLICT_LAYER_BG, layer, 0, 0, lb->bg, lo->bg, lt->bg);
    if (pick(lb->x, lo->x, lt->x, winner, &l->x)) note(CONFLICT_LAYER_X, layer, 0, 0, lb->x, lo->x, lt->x);
    if (pick(lb->y, lo->y, lt->y, winner, &l->y)) note(CONFLICT_LAYER_Y, layer, 0, 0, lb->y, lo->y, lt->y);
    if (same) sameSizeCells(lb, taken ? l : lo, lt, l, layer);
    else anySizeCells(lb, lo, lt, l, layer);
    return true;
  }

  // A base layer one side deleted: gone when the other side left it alone.
  bool oneDeleted(const Layer* lb, const Map* keeper, const Layer* kept, bool oursKept) {
    bool unchanged = keeper->w == base->w && keeper->h == base->h &&
                     sameLayer(lb, kept, (size_t)base->w * base->h);
    if (unchanged) {
      r->layersDeleted++;
      return true;
    }
    if (!copyLayer(keeper, kept)) return false;
    r->layersKept++;
    note(CONFLICT_LAYER_KEPT, out->layers - 1, 0, 0, 1, oursKept, !oursKept);
    return true;
  }

  bool added(const Map* from, const Layer* l, int index) {
    r->layersAdded++;
    next = {-1, from == ours ? index : -1, from == ours ? -1 : index};
    return copyLayer(from, l);
  }

  MergeResult run() {
    uint32_t sizes[3][2] = {{base->w, base->h}, {ours->w, ours->h}, {theirs->w, theirs->h}};
    bool oursSized = sizes[1][0] != sizes[0][0] || sizes[1][1] != sizes[0][1];
    bool theirsSized = sizes[2][0] != sizes[0][0] || sizes[2][1] != sizes[0][1];
    bool sizesDiffer = sizes[1][0] != sizes[2][0] || sizes[1][1] != sizes[2][1];
    const Map* sized = !oursSized ? theirs : !theirsSized || !sizesDiffer || winner == MERGE_OURS ? ours : theirs;
    out->w = sized->w;
    out->h = sized->h;
    if (oursSized && theirsSized && sizesDiffer) {
      if (ours->w != theirs->w) note(CONFLICT_WIDTH, -1, 0, 0, base->w, ours->w, theirs->w);
      if (ours->h != theirs->h) note(CONFLICT_HEIGHT, -1, 0, 0, base->h, ours->h, theirs->h);
    }
    pick(base->viewX, ours->viewX, theirs->viewX, winner, &out->viewX);
    pick(base->viewY, ours->viewY, theirs->viewY, winner, &out->viewY);
    const char* name = ours->sysname;
    if (sameText(ours->sysname, base->sysname)) name = theirs->sysname;
    else if (!sameText(theirs->sysname, base->sysname) && !sameText(theirs->sysname, ours->sysname)) {
      note(CONFLICT_NAME, -1, 0, 0, 0, 0, 0);
      if (winner == MERGE_THEIRS) name = theirs->sysname;
    }
    out->sysname = copyText(name);
    out->filename = copyText(ours->filename);
    int room = base->layers + ours->layers + theirs->layers;
    out->layer = new (std::nothrow) Layer*[room ? room : 1]();
    if (!out->sysname || !out->filename || !out->layer) return MERGE_NO_MEMORY;

    std::vector<int> mo = matchLayers(base, ours), mt = matchLayers(base, theirs);
    std::vector<int> bo(base->layers, -1), bt(base->layers, -1);
    for (int i = 0; i < ours->layers; i++)
      if (mo[i] >= 0) bo[mo[i]] = i;
    for (int i = 0; i < theirs->layers; i++)
      if (mt[i] >= 0) bt[mt[i]] = i;
    int oi = 0, ti = 0;
    bool ok = true;
    for (int b = 0; ok && b <= base->layers; b++) {
      // Layers a side added below this base layer (or on top, at the end).
      int oEnd = b == base->layers ? ours->layers : bo[b] >= 0 ? bo[b] : oi;
      int tEnd = b == base->layers ? theirs->layers : bt[b] >= 0 ? bt[b] : ti;
      for (; ok && oi < oEnd; oi++) ok = mo[oi] >= 0 || added(ours, ours->layer[oi], oi);
      for (; ok && ti < tEnd; ti++) ok = mt[ti] >= 0 || added(theirs, theirs->layer[ti], ti);
      if (!ok || b == base->layers) break;
      const Layer* lb = base->layer[b];
      next = {b, bo[b], bt[b]};
      if (bo[b] >= 0 && bt[b] >= 0) ok = bothKept(lb, bo[b], theirs->layer[bt[b]]);
      else if (bo[b] >= 0) ok = oneDeleted(lb, ours, ours->layer[bo[b]], true);
      else if (bt[b] >= 0) ok = oneDeleted(lb, theirs, theirs->layer[bt[b]], false);
      else r->layersDeleted++;
      if (bo[b] >= 0) oi = bo[b] + 1;
      if (bt[b] >= 0) ti = bt[b] + 1;
    }
    if (!ok) return MERGE_NO_MEMORY;
    if (out->layers > MAX_MAP_LAYERS) return MERGE_TOO_MANY_LAYERS;
    return MERGE_OK;
  }
};
}  // namespace

bool sameLayer(const Layer* a, const Layer* b, size_t cells) {
  if (a->bg != b->bg || a->x != b->x || a->y != b->y || !sameText(a->layerGFX, b->layerGFX)) return false;
  if (!a->e || !b->e) return a->e == b->e;
  return memcmp(a->e, b->e, cells * sizeof(int32_t)) == 0;
}

std::vector<int> matchLayers(const Map* base, const Map* side) {
  size_t n = base->layers, m = side->layers;
  std::vector<int> match(m, -1);
  if ((n + 1) * (m + 1) > MATCH_TABLE_MAX) {
    for (size_t j = 0; j < m && j < n; j++)
      if (sameText(base->layer[j]->layerGFX, side->layer[j]->layerGFX)) match[j] = (int)j;
    return match;
  }
  // best[i][j]: the heaviest alignment of base layers [i, n) with side
  // layers [j, m).
  int sampled = SAMPLE_SIDE;
  while (sampled > 1 && (size_t)sampled * sampled * n * m > SAMPLE_BUDGET) sampled /= 2;
  auto weight = [&](size_t i, size_t j) -> long long {
    const Layer *a = base->layer[i], *b = side->layer[j];
    if (!sameText(a->layerGFX, b->layerGFX)) return 0;
    return MATCH_WEIGHT + AGREE_WEIGHT * agreement(base, a, side, b, sampled) + (i == j);
  };
  std::vector<long long> best((n + 1) * (m + 1), 0), w(n * m);
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < m; j++) w[i * m + j] = weight(i, j);
  auto B = [&](size_t i, size_t j) -> long long& { return best[i * (m + 1) + j]; };
  for (size_t i = n; i-- > 0;)
    for (size_t j = m; j-- > 0;) {
      long long v = B(i + 1, j) > B(i, j + 1) ? B(i + 1, j) : B(i, j + 1);
      if (w[i * m + j] && w[i * m + j] + B(i + 1, j + 1) > v) v = w[i * m + j] + B(i + 1, j + 1);
      B(i, j) = v;
    }
  for (size_t i = 0, j = 0; i < n && j < m;) {
    if (w[i * m + j] && B(i, j) == w[i * m + j] + B(i + 1, j + 1)) match[j++] = (int)i++;
    else if (B(i, j) == B(i + 1, j)) i++;
    else j++;
  }
  return match;
}

namespace {
MergeResult merge(const Map* base, const Map* ours, const Map* theirs, MergeSide winner, Map* out,
                  MergeReport* report, Map* donor) {
  *out = Map();
  *report = MergeReport();
  Merger g = {base, ours, theirs, winner, out, report, donor, {-1, -1, -1}};
  MergeResult r;
  try {
    r = g.run();
  } catch (const std::bad_alloc&) {
    r = MERGE_NO_MEMORY;
  }
  if (r != MERGE_OK) freeMapRecord(out);
  return r;
}
}  // namespace

MergeResult mergeMaps(const Map* base, const Map* ours, const Map* theirs, MergeSide winner, Map* out,
                      MergeReport* report) {
  return merge(base, ours, theirs, winner, out, report, nullptr);
}

MergeResult mergeMapsTakingOurs(const Map* base, Map* ours, const Map* theirs, MergeSide winner, Map* out,
                                MergeReport* report) {
  return merge(base, ours, theirs, winner, out, report, ours);
}

namespace {
std::string value(int64_t v) { return v == MERGE_ABSENT ? std::string("-") : std::to_string(v); }
std::string text(const char* s) { return s ? s : ""; }
}  // namespace

std::string mergeCounted(const MergeReport& r) {
  return std::to_string(r.total) + (r.total == 1 ? " conflict (" : " conflicts (") + std::to_string(r.cells) +
         (r.cells == 1 ? " cell)" : " cells)");
}

std::string mergeConflictText(const std::string& map, const MergeConflict& c, const char* baseName,
                              const char* oursName, const char* theirsName) {
  std::string layer = map + " layer " + std::to_string(c.layer);
  std::string values = "base " + value(c.base) + ", ours " + value(c.ours) + ", theirs " + value(c.theirs);
  switch (c.kind) {
    case CONFLICT_CELL:
      return layer + " x " + std::to_string(c.x) + " y " + std::to_string(c.y) + ": " + values;
    case CONFLICT_CUT_CELL:
      return layer + " x " + std::to_string(c.x) + " y " + std::to_string(c.y) +
             " (outside the merged size, lost): " + values;
    case CONFLICT_LAYER_BG: return layer + ": background flag: " + values;
    case CONFLICT_LAYER_X: return layer + ": background x: " + values;
    case CONFLICT_LAYER_Y: return layer + ": background y: " + values;
    case CONFLICT_LAYER_KEPT:
      return layer + std::string(": deleted in ") + (c.ours ? "theirs" : "ours") + ", changed in " +
             (c.ours ? "ours" : "theirs") + ": kept";
    case CONFLICT_WIDTH: return map + ": width: " + values;
    case CONFLICT_HEIGHT: return map + ": height: " + values;
    case CONFLICT_NAME:
      return map + ": display name: base \"" + text(baseName) + "\", ours \"" + text(oursName) + "\", theirs \"" +
             text(theirsName) + "\"";
  }
  return map;
}
