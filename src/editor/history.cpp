// The undo history: steps per map, the peers' later writes, and undo/redo
// sent to the peers as ordinary actions.
//
// [SECTION] index
//   records        Step, RemoteRect, MapHistory, OpenStep
//   bookkeeping    historyOf, bounds (enforceBounds), commit
//   recording      capture, onCellsWrite, onMapClosing
//   applying       undoCells, removeLayer / restoreLayer, undoMove,
//                  undoBackground, undoRename, undoLayerName, cutCells,
//                  undoResize, apply, move
//   public         historyInstall ... historySteps
#include "editor/history.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>

#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "net/net.h"
#include "core/core.h"

// [SECTION] records
namespace {
enum StepKind {
  STEP_CELLS,
  STEP_ADD_LAYER,
  STEP_DELETE_LAYER,
  STEP_MOVE_LAYER,
  STEP_BACKGROUND,
  STEP_RENAME,
  STEP_LAYER_NAME,
  STEP_RESIZE,
  STEP_ENTITY
};

// Cells of one layer, by its identity (a resize's cut-off cells).
struct LayerCells {
  uint32_t layerUid;
  std::vector<CellRun> runs;
};

// Background fields of a layer.
struct BgState {
  char bg;
  int16_t x, y;
  bool operator==(const BgState& o) const { return bg == o.bg && x == o.x && y == o.y; }
};

struct Step {
  StepKind kind = STEP_CELLS;
  char label[HISTORY_LABEL_LEN] = "";
  uint64_t stamp = 0;          // when it was last done or undone
  uint32_t layerUid = 0;
  std::vector<CellRun> runs;   // cells; for a removed layer, its non-zero cells
  std::string tileset;         // added or deleted layer
  BgState oldBg{0, 1, 1}, newBg{0, 1, 1};  // background step; layer steps keep theirs in oldBg
  std::string oldName, newName;  // map or layer names
  std::string title;             // a removed layer's name ("": its tileset's)
  // Layer steps: where the layer was (from) and where it is after the step
  // (to); a deleted layer comes back at `from`.
  int from = 0, to = 0;
  // A resize: both sizes, and the non-zero cells the last undo or redo cut off.
  uint32_t oldW = 0, oldH = 0, newW = 0, newH = 0;
  std::vector<LayerCells> cut;
  std::string oldEntity, newEntity;  // an instance before and after (JSON; "": absent)
  size_t bytes() const {
    size_t n = sizeof(Step) + runs.size() * sizeof(CellRun) + tileset.size() + oldName.size() +
               newName.size() + title.size() + oldEntity.size() + newEntity.size();
    for (const LayerCells& c : cut) n += sizeof c + c.runs.size() * sizeof(CellRun);
    return n;
  }
};

// A rectangle a peer wrote, after `stamp`.
struct RemoteRect {
  uint32_t layerUid, x1, y1, x2, y2;
  uint64_t stamp;
};

struct MapHistory {
  std::deque<Step> undo, redo;
  std::vector<RemoteRect> remote;
  const Map* live = nullptr;        // the open record the layer numbers refer to
  std::vector<uint32_t> closedUids;  // its layers' identities when it was closed
};

std::map<std::string, MapHistory> histories;
uint64_t clockNow = 0;
size_t totalBytes = 0;
int localDepth = 0;

// Runs of one bulk write past which the step's storage grows once for all.
const size_t kBulkReserve = 1024;

// The step being recorded from local cell writes.
struct OpenStep {
  bool active = false, overflow = false;
  uint64_t stamp = 0;  // peers' writes after the stroke began are theirs
  char label[HISTORY_LABEL_LEN] = "";
  Map* m = nullptr;
  uint32_t layerUid = 0;
  std::vector<CellRun> runs;
  std::unordered_map<size_t, size_t> single;  // cell index -> run, for pen revisits
  // Cells recorded in bulk (historyCapture) are not indexed: their bounding
  // box tells when a later write may meet them, and then the step's runs are
  // resolved cell by cell when it closes.
  bool bulk = false, revisits = false;
  uint32_t bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
} open;

// [SECTION] bookkeeping
int layerIndex(const Map* m, uint32_t uid) {
  for (int i = 0; m && i < m->layers; i++)
    if (m->layer[i]->uid == uid) return i;
  return -1;
}

void clearHistory(MapHistory& h) {
  for (const Step& s : h.undo) totalBytes -= s.bytes();
  for (const Step& s : h.redo) totalBytes -= s.bytes();
  totalBytes -= h.remote.size() * sizeof(RemoteRect);
  h.undo.clear();
  h.redo.clear();
  h.remote.clear();
}

// The history of m, its layer identities brought back when m was reopened.
MapHistory* historyOf(const Map* m, bool create) {
  if (!m || !m->filename) return nullptr;
  auto it = histories.find(m->filename);
  if (it == histories.end()) {
    if (!create) return nullptr;
    it = histories.emplace(m->filename, MapHistory()).first;
    it->second.live = m;
  }
  MapHistory& h = it->second;
  if (h.live != m) {
    if (!h.live && h.closedUids.size() == m->layers) {
      for (int i = 0; i < m->layers; i++) m->layer[i]->uid = h.closedUids[i];
    } else if (!h.undo.empty() || !h.redo.empty()) {
      printf("Historique de %s efface: la map a change.\n", m->filename);
      clearHistory(h);
    }
    h.live = m;
    h.closedUids.clear();
  }
  return &h;
}

uint64_t oldestStamp(const MapHistory& h) {
  uint64_t s = open.active && open.m && open.m == h.live ? open.stamp : UINT64_MAX;
  if (!h.undo.empty()) s = std::min(s, h.undo.front().stamp);
  for (const Step& r : h.redo) s = std::min(s, r.stamp);
  return s;
}

// Peers' rectangles older than every step can no longer matter.
void pruneRemote(MapHistory& h) {
  uint64_t oldest = oldestStamp(h);
  size_t before = h.remote.size();
  h.remote.erase(std::remove_if(h.remote.begin(), h.remote.end(),
                                [&](const RemoteRect& r) { return r.stamp < oldest; }),
                 h.remote.end());
  totalBytes -= (before - h.remote.size()) * sizeof(RemoteRect);
}

void dropOldest(MapHistory& h) {
  std::deque<Step>& from = !h.undo.empty() ? h.undo : h.redo;
  totalBytes -= from.front().bytes();
  from.pop_front();
  pruneRemote(h);
}

// The oldest steps go first, across every map, until the bounds hold.
void enforceBounds() {
  for (auto& kv : histories)
    while (kv.second.undo.size() > HISTORY_MAX_STEPS) dropOldest(kv.second);
  while (totalBytes > HISTORY_MAX_BYTES) {
    MapHistory* victim = nullptr;
    uint64_t best = UINT64_MAX;
    for (auto& kv : histories) {
      uint64_t s = oldestStamp(kv.second);
      if ((!kv.second.undo.empty() || !kv.second.redo.empty()) && s < best) best = s, victim = &kv.second;
    }
    if (victim) {
      dropOldest(*victim);
      continue;
    }
    // No step is left: the peers' rectangles no longer matter.
    for (auto& kv : histories) {
      totalBytes -= kv.second.remote.size() * sizeof(RemoteRect);
      kv.second.remote.clear();
    }
    break;
  }
}

void commit(const Map* m, Step s) {
  MapHistory* h = historyOf(m, true);
  if (!h) return;
  for (const Step& r : h->redo) totalBytes -= r.bytes();
  h->redo.clear();  // a new step ends what could be redone
  if (!s.stamp) s.stamp = ++clockNow;
  s.runs.shrink_to_fit();
  totalBytes += s.bytes();
  h->undo.push_back(std::move(s));
  enforceBounds();
}

// [SECTION] recording
// The open step belongs to layer l of m: one moving to another map or
// layer starts a new step.
void stepFor(Map* m, Layer* l) {
  if (open.m != m || open.layerUid != l->uid) {
    if (!open.runs.empty()) {  // the stroke moved to another map or layer: a new step
      char label[HISTORY_LABEL_LEN];
      snprintf(label, sizeof label, "%s", open.label);
      historyClose();
      historyOpen(label);
    }
    open.m = m;
    open.layerUid = l->uid;
  }
}

bool tooLarge() {
  if (open.runs.size() * sizeof(CellRun) <= HISTORY_MAX_BYTES) return false;
  printf("Etape %s trop grande pour l'historique: elle ne pourra pas etre annulee.\n", open.label);
  open.overflow = true;
  open.runs.clear();
  open.runs.shrink_to_fit();
  open.single.clear();
  return true;
}

// Cells of layer l in the rectangle, recorded in the open step before they change.
void capture(Map* m, Layer* l, uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2, int32_t value) {
  stepFor(m, l);
  if (open.overflow) return;
  if (open.bulk) open.revisits = true;
  bool one = x1 == x2 && y1 == y2;
  for (uint32_t y = y1; y <= y2; y++) {
    const int32_t* row = l->e + (size_t)y * m->w;
    for (uint32_t x = x1; x <= x2; x++) {
      if (one) {
        auto it = open.single.find((size_t)y * m->w + x);
        if (it != open.single.end()) {
          open.runs[it->second].after = value;
          continue;
        }
      }
      if (row[x] == value) continue;
      CellRun* last = open.runs.empty() ? nullptr : &open.runs.back();
      if (!one && last && last->y == y && last->x + last->n == x && last->before == row[x] &&
          last->after == value) {
        last->n++;
        continue;
      }
      if (one) open.single[(size_t)y * m->w + x] = open.runs.size();
      open.runs.push_back({x, y, 1, row[x], value});
    }
    if (tooLarge()) return;  // checked per row: bounded
  }
}

void onCellsWrite(Map* m, int layer, uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2,
                  int32_t value) {
  Layer* l = m->layer[layer];
  if (localDepth > 0) {
    if (open.active) capture(m, l, x1, y1, x2, y2, value);
    return;
  }
  // A peer's write: kept while a step of this map, or the one being made, may need it.
  bool stroke = open.active && open.m == m;
  MapHistory* h = historyOf(m, stroke);
  if (!h || (h->undo.empty() && h->redo.empty() && !stroke)) return;
  h->remote.push_back({l->uid, x1, y1, x2, y2, ++clockNow});
  totalBytes += sizeof(RemoteRect);
  enforceBounds();
}

void onMapClosing(const Map* m) {
  if (open.active && open.m == m) historyClose();
  auto it = m->filename ? histories.find(m->filename) : histories.end();
  if (it == histories.end() || it->second.live != m) return;
  it->second.live = nullptr;
  it->second.closedUids.clear();
  for (int i = 0; i < m->layers; i++) it->second.closedUids.push_back(m->layer[i]->uid);
}

// [SECTION] applying
// A step undone or redone only in part, or not at all, says so on the panel.
void panelSays(const Step& s, const char* what) {
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "%.40s: %s", s.label, what);
  setPanelMessage(project.currentMenu, text, PANEL_WARNING);
}

// Which cells of the step's area peers wrote after `since`.
struct Touched {
  uint32_t x0 = 0, y0 = 0, w = 0, h = 0;
  std::vector<uint8_t> bits;
  bool at(uint32_t x, uint32_t y) const {
    return !bits.empty() && x >= x0 && y >= y0 && x - x0 < w && y - y0 < h &&
           bits[(size_t)(y - y0) * w + (x - x0)];
  }
};

Touched touchedSince(const MapHistory& h, const Step& s) {
  Touched t;
  if (s.runs.empty()) return t;
  uint32_t x1 = UINT32_MAX, y1 = UINT32_MAX, x2 = 0, y2 = 0;
  for (const CellRun& r : s.runs) {
    x1 = std::min(x1, r.x), y1 = std::min(y1, r.y);
    x2 = std::max(x2, r.x + r.n - 1), y2 = std::max(y2, r.y);
  }
  bool any = false;
  for (const RemoteRect& r : h.remote) {
    if (r.layerUid != s.layerUid || r.stamp <= s.stamp || r.x2 < x1 || r.x1 > x2 || r.y2 < y1 ||
        r.y1 > y2)
      continue;
    if (!any) {
      t.x0 = x1, t.y0 = y1, t.w = x2 - x1 + 1, t.h = y2 - y1 + 1;
      t.bits.assign((size_t)t.w * t.h, 0);
      any = true;
    }
    for (uint32_t y = std::max(r.y1, y1); y <= std::min(r.y2, y2); y++)
      memset(&t.bits[(size_t)(y - y1) * t.w + (std::max(r.x1, x1) - x1)], 1,
             std::min(r.x2, x2) - std::max(r.x1, x1) + 1);
  }
  return t;
}

void undoCells(Map* m, const MapHistory& h, Step& s, bool undo) {
  int li = layerIndex(m, s.layerUid);
  if (li < 0) {
    printf("%s: le layer n'existe plus.\n", s.label);
    panelSays(s, "its layer is gone.");
    return;
  }
  const Layer* l = m->layer[li];
  Touched t = touchedSince(h, s);
  std::vector<CellRun> writes;
  size_t kept = 0, outside = 0;
  for (const CellRun& r : s.runs) {
    int32_t from = undo ? r.after : r.before, to = undo ? r.before : r.after;
    // A resize since may have cut the run off.
    uint32_t end = r.y < m->h ? std::min(r.x + r.n, std::max(r.x, m->w)) : r.x;
    outside += r.x + r.n - end;
    const int32_t* row = l->e + (size_t)r.y * m->w;
    for (uint32_t x = r.x; x < end; x++) {
      if (row[x] != from || t.at(x, r.y)) {
        kept++;  // another editor's later work stays
        continue;
      }
      if (!writes.empty() && writes.back().y == r.y && writes.back().x + writes.back().n == x &&
          writes.back().after == to)
        writes.back().n++;
      else
        writes.push_back({x, r.y, 1, 0, to});
    }
  }
  size_t n = action_setCells(m, li, writes);
  printf("%s %s: %zu cellules, %zu laissees a un autre editeur.\n", undo ? "Annulation" : "Retablissement",
         s.label, n, kept);
  if (kept || outside) {
    char what[96];
    if (kept)
      snprintf(what, sizeof what, "%zu cells another editor painted since were left as they are.", kept);
    else
      snprintf(what, sizeof what, "%zu cells are outside the map since it was resized.", outside);
    panelSays(s, what);
  }
}

// The non-zero cells of a layer as runs.
std::vector<CellRun> layerRuns(const Map* m, const Layer* l) {
  std::vector<CellRun> runs;
  for (uint32_t y = 0; y < m->h; y++) {
    const int32_t* row = l->e + (size_t)y * m->w;
    for (uint32_t x = 0; x < m->w; x++) {
      if (!row[x]) continue;
      if (!runs.empty() && runs.back().y == y && runs.back().x + runs.back().n == x &&
          runs.back().after == row[x])
        runs.back().n++;
      else
        runs.push_back({x, y, 1, row[x], row[x]});
    }
  }
  return runs;
}

// Takes the layer away, keeping what it holds in the step.
void removeLayer(Map* m, Step& s) {
  int li = layerIndex(m, s.layerUid);
  if (li < 0 || m->layers <= 1) {
    printf("%s: layer absent ou dernier layer de la map.\n", s.label);
    panelSays(s, "the layer is gone or is the map's last one.");
    return;
  }
  Layer* l = m->layer[li];
  s.runs = layerRuns(m, l);  // the caller counts the step's new size
  s.tileset = l->layerGFX ? l->layerGFX : "";
  s.title = l->name ? l->name : "";
  s.oldBg = {l->bg, l->x, l->y};
  s.from = li;
  LocalEdit local;
  action_deleteLayer(project.currentMap, li);
}

// Brings the layer back at its old index, with its tileset, cells and
// background fields, and makes it the current layer.
void restoreLayer(Map* m, Step& s) {
  int before = m->layers;
  {
    LocalEdit local;
    action_addLayer(project.currentMap, s.tileset.c_str(), false);
  }
  if (m->layers <= before) {
    printf("%s: le layer %s ne peut pas revenir.\n", s.label, s.tileset.c_str());
    panelSays(s, "its tileset cannot be loaded.");
    return;
  }
  int li = m->layers - 1;
  m->layer[li]->uid = s.layerUid;  // earlier steps find it again
  std::vector<CellRun> cells = s.runs;
  action_setCells(m, li, cells);
  const Layer* l = m->layer[li];
  if (!(BgState{l->bg, l->x, l->y} == s.oldBg)) {
    setLayerBGXY(m->filename, li, s.oldBg.bg, s.oldBg.x, s.oldBg.y);
    action_setLayerBGXY(m->filename, li, s.oldBg.bg, s.oldBg.x, s.oldBg.y);
  }
  // Added on top like any new layer, then moved down to where it was.
  if (s.from >= 0 && s.from < li && action_moveLayer(project.currentMap, li, s.from)) li = s.from;
  if (!s.title.empty()) action_setLayerName(project.currentMap, li, s.title.c_str());
  project.currentLayer = li;
}

// The layer of a move step goes back (or again) to its place, if it is still
// where the step left it (or found it); it stays the current layer.
void undoMove(Map* m, Step& s, bool undo) {
  int at = undo ? s.to : s.from, dest = undo ? s.from : s.to;
  int li = layerIndex(m, s.layerUid);
  if (li != at || dest >= m->layers || !action_moveLayer(project.currentMap, li, dest)) {
    printf("%s: layer deplace depuis, laisse tel quel.\n", s.label);
    panelSays(s, "the layer moved since; left where it is.");
    return;
  }
  project.currentLayer = dest;
}

void undoBackground(Map* m, Step& s, bool undo) {
  int li = layerIndex(m, s.layerUid);
  const BgState& from = undo ? s.newBg : s.oldBg;
  const BgState& to = undo ? s.oldBg : s.newBg;
  Layer* l = li < 0 ? nullptr : m->layer[li];
  if (!l || !(BgState{l->bg, l->x, l->y} == from)) {
    printf("%s: layer change depuis par un autre editeur, laisse tel quel.\n", s.label);
    panelSays(s, "another editor changed it since; left as it is.");
    return;
  }
  setLayerBGXY(m->filename, li, to.bg, to.x, to.y);
  action_setLayerBGXY(m->filename, li, to.bg, to.x, to.y);
}

void undoRename(Map* m, Step& s, bool undo) {
  const std::string& from = undo ? s.newName : s.oldName;
  const std::string& to = undo ? s.oldName : s.newName;
  if (from != (m->sysname ? m->sysname : "")) {
    printf("%s: nom change depuis par un autre editeur, laisse tel quel.\n", s.label);
    panelSays(s, "another editor renamed the map since; left as it is.");
    return;
  }
  changeMapSysname(m->filename, to.c_str());
  action_sendMapSysname(m->filename, m->sysname);
}

void undoLayerName(Map* m, Step& s, bool undo) {
  int li = layerIndex(m, s.layerUid);
  const std::string& from = undo ? s.newName : s.oldName;
  const std::string& to = undo ? s.oldName : s.newName;
  if (li < 0 || from != layerName(m->layer[li])) {
    printf("%s: layer supprime ou renomme depuis, laisse tel quel.\n", s.label);
    panelSays(s, li < 0 ? "its layer is gone." : "another editor renamed the layer since; left as it is.");
    return;
  }
  action_setLayerName(project.currentMap, li, to.c_str());
}

// The non-zero cells of every layer that a resize to w x h cuts off.
std::vector<LayerCells> cutCells(const Map* m, uint32_t w, uint32_t h) {
  std::vector<LayerCells> cut;
  for (int i = 0; i < m->layers; i++) {
    const Layer* l = m->layer[i];
    LayerCells c{l->uid, {}};
    for (uint32_t y = 0; y < m->h; y++) {
      const int32_t* row = l->e + (size_t)y * m->w;
      for (uint32_t x = y < h ? std::min(w, m->w) : 0; x < m->w; x++) {
        if (!row[x]) continue;
        CellRun* last = c.runs.empty() ? nullptr : &c.runs.back();
        if (last && last->y == y && last->x + last->n == x && last->after == row[x])
          last->n++;
        else
          c.runs.push_back({x, y, 1, row[x], row[x]});
      }
    }
    if (!c.runs.empty()) cut.push_back(std::move(c));
  }
  return cut;
}

size_t cellsBytes(const std::vector<LayerCells>& cut) {
  size_t n = 0;
  for (const LayerCells& c : cut) n += c.runs.size() * sizeof(CellRun);
  return n;
}

// The map goes back (or again) to the other size, if it still has the one
// the step left; the cells the last resize cut off come back. False (the
// step stays where it is) when a peer of an older version refuses it.
bool undoResize(Map* m, Step& s, bool undo) {
  uint32_t fromW = undo ? s.newW : s.oldW, fromH = undo ? s.newH : s.oldH;
  uint32_t toW = undo ? s.oldW : s.newW, toH = undo ? s.oldH : s.newH;
  if (m->w != fromW || m->h != fromH) {
    printf("%s: map redimensionnee depuis, laissee telle quelle.\n", s.label);
    panelSays(s, "the map was resized since; left as it is.");
    return true;
  }
  std::vector<LayerCells> cut = cutCells(m, toW, toH);
  char why[PANEL_MESSAGE_LEN];
  if (!action_resizeMap(project.currentMap, toW, toH, why, sizeof why)) {
    panelSays(s, why);
    return false;
  }
  for (LayerCells& c : s.cut) {
    int li = layerIndex(m, c.layerUid);
    if (li >= 0) action_setCells(m, li, c.runs);
  }
  s.cut = std::move(cut);
  return true;
}

bool apply(Map* m, MapHistory& h, Step& s, bool undo) {
  switch (s.kind) {
    case STEP_CELLS: undoCells(m, h, s, undo); break;
    case STEP_ADD_LAYER: undo ? removeLayer(m, s) : restoreLayer(m, s); break;
    case STEP_DELETE_LAYER: undo ? restoreLayer(m, s) : removeLayer(m, s); break;
    case STEP_MOVE_LAYER: undoMove(m, s, undo); break;
    case STEP_BACKGROUND: undoBackground(m, s, undo); break;
    case STEP_RENAME: undoRename(m, s, undo); break;
    case STEP_LAYER_NAME: undoLayerName(m, s, undo); break;
    case STEP_RESIZE: return undoResize(m, s, undo);
    case STEP_ENTITY: return entityStepHook && entityStepHook(m, undo ? s.newEntity : s.oldEntity, undo ? s.oldEntity : s.newEntity);
  }
  return true;
}

bool move(bool undo) {
  historyClose();
  Map* m = currentMapOrNull();
  MapHistory* h = historyOf(m, false);
  std::deque<Step>* from = h ? (undo ? &h->undo : &h->redo) : nullptr;
  if (!from || from->empty()) {
    printf("%s: rien a %s.\n", undo ? "Ctrl+Z" : "Ctrl+Y", undo ? "annuler" : "retablir");
    setPanelMessage(project.currentMenu, undo ? "Nothing to undo on this map." : "Nothing to redo on this map.",
                    PANEL_INFO);
    setMenu(project.currentMenu);
    return false;
  }
  Step s = std::move(from->back());
  from->pop_back();
  totalBytes -= s.bytes();
  if (!apply(m, *h, s, undo)) {
    totalBytes += s.bytes();
    from->push_back(std::move(s));  // not done: it stays to be tried again
    setMenu(project.currentMenu);
    return false;
  }
  s.stamp = ++clockNow;
  totalBytes += s.bytes();
  (undo ? h->redo : h->undo).push_back(std::move(s));
  pruneRemote(*h);
  enforceBounds();
  return true;
}

// A step whose cells were written more than once: per cell, what it held
// first and what it holds last; cells that end as they began drop out.
std::vector<CellRun> resolveRevisits(const std::vector<CellRun>& runs) {
  struct Cell {
    uint32_t y, x;
    int32_t before, after;
  };
  std::vector<Cell> cells;
  for (const CellRun& r : runs)
    for (uint32_t i = 0; i < r.n; i++) cells.push_back({r.y, r.x + i, r.before, r.after});
  std::stable_sort(cells.begin(), cells.end(),
                   [](const Cell& a, const Cell& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
  std::vector<CellRun> out;
  for (size_t i = 0, j; i < cells.size(); i = j) {
    for (j = i + 1; j < cells.size() && cells[j].y == cells[i].y && cells[j].x == cells[i].x;) j++;
    int32_t before = cells[i].before, after = cells[j - 1].after;
    if (before == after) continue;
    CellRun* last = out.empty() ? nullptr : &out.back();
    if (last && last->y == cells[i].y && last->x + last->n == cells[i].x && last->before == before &&
        last->after == after)
      last->n++;
    else
      out.push_back({cells[i].x, cells[i].y, 1, before, after});
  }
  return out;
}
}  // namespace

// [SECTION] public
LocalEdit::LocalEdit() { localDepth++; }
LocalEdit::~LocalEdit() { localDepth--; }

void historyInstall() {
  cellsWriteHook = onCellsWrite;
  mapClosingHook = onMapClosing;
  mapReplacedHook = historyForget;
}


void historyOpen(const char* label) {
  if (open.active) return;
  open = OpenStep();
  open.active = true;
  open.stamp = ++clockNow;
  snprintf(open.label, sizeof open.label, "%s", label);
}

void historyClose() {
  if (!open.active) return;
  OpenStep done = std::move(open);
  open = OpenStep();
  if (done.overflow) {
    // Undoing older steps past this change would be wrong: they go too.
    if (MapHistory* h = historyOf(done.m, false)) clearHistory(*h);
    return;
  }
  if (done.revisits) done.runs = resolveRevisits(done.runs);
  if (done.runs.empty()) return;
  Step s;
  snprintf(s.label, sizeof s.label, "%s", done.label);
  s.stamp = done.stamp;
  s.layerUid = done.layerUid;
  s.runs = std::move(done.runs);
  commit(done.m, std::move(s));
}

void historyCells(Map* m, int layer, std::vector<CellRun> runs, const char* label) {
  if (!m || layer < 0 || layer >= m->layers || runs.empty()) return;
  Step s;
  snprintf(s.label, sizeof s.label, "%s", label);
  s.layerUid = m->layer[layer]->uid;
  s.runs = std::move(runs);
  if (s.runs.size() * sizeof(CellRun) > HISTORY_MAX_BYTES) {
    printf("Etape %s trop grande pour l'historique: elle ne pourra pas etre annulee.\n", label);
    if (MapHistory* h = historyOf(m, false)) clearHistory(*h);
    return;
  }
  commit(m, std::move(s));
}

void historyLayerAdded(Map* m, const Layer* l) {
  Step s;
  s.kind = STEP_ADD_LAYER;
  snprintf(s.label, sizeof s.label, "add layer %s", l->layerGFX ? l->layerGFX : "");
  s.layerUid = l->uid;
  s.tileset = l->layerGFX ? l->layerGFX : "";
  s.from = s.to = layerIndex(m, l->uid);
  commit(m, std::move(s));
}

void historyLayerDeleting(Map* m, int layer) {
  if (!m || layer < 0 || layer >= m->layers) return;
  const Layer* l = m->layer[layer];
  Step s;
  s.kind = STEP_DELETE_LAYER;
  snprintf(s.label, sizeof s.label, "delete layer %s", l->layerGFX ? l->layerGFX : "");
  s.layerUid = l->uid;
  s.tileset = l->layerGFX ? l->layerGFX : "";
  s.title = l->name ? l->name : "";
  s.oldBg = {l->bg, l->x, l->y};
  s.from = layer;
  s.runs = layerRuns(m, l);
  if (s.runs.size() * sizeof(CellRun) > HISTORY_MAX_BYTES) {
    printf("Suppression du layer %s trop grande pour l'historique.\n", s.tileset.c_str());
    if (MapHistory* h = historyOf(m, false)) clearHistory(*h);
    return;
  }
  commit(m, std::move(s));
}

void historyLayerMoved(Map* m, int from, int to) {
  if (!m || to < 0 || to >= m->layers || from == to) return;
  const Layer* l = m->layer[to];
  Step s;
  s.kind = STEP_MOVE_LAYER;
  snprintf(s.label, sizeof s.label, "move layer %s", l->layerGFX ? l->layerGFX : "");
  s.layerUid = l->uid;
  s.from = from;
  s.to = to;
  commit(m, std::move(s));
}

void historyBackground(Map* m, const Layer* l, char oldBg, int oldX, int oldY) {
  Step s;
  s.kind = STEP_BACKGROUND;
  snprintf(s.label, sizeof s.label, "background");
  s.layerUid = l->uid;
  s.oldBg = {oldBg, (int16_t)oldX, (int16_t)oldY};
  s.newBg = {l->bg, l->x, l->y};
  commit(m, std::move(s));
}

void historyRename(Map* m, const char* oldName, const char* newName) {
  Step s;
  s.kind = STEP_RENAME;
  snprintf(s.label, sizeof s.label, "rename");
  s.oldName = oldName ? oldName : "";
  s.newName = newName ? newName : "";
  commit(m, std::move(s));
}

void historyLayerNamed(Map* m, const Layer* l, const char* oldName) {
  historyOf(m, true);  // a reopened map's layers take back their identities first
  Step s;
  s.kind = STEP_LAYER_NAME;
  snprintf(s.label, sizeof s.label, "layer name");
  s.layerUid = l->uid;
  s.oldName = oldName ? oldName : "";
  s.newName = layerName(l);
  commit(m, std::move(s));
}

bool historyResize(Map* m, unsigned long w, unsigned long h, char* why, size_t cap) {
  Step s;
  s.kind = STEP_RESIZE;
  snprintf(s.label, sizeof s.label, "resize");
  s.oldW = m->w, s.oldH = m->h, s.newW = (uint32_t)w, s.newH = (uint32_t)h;
  if (w >= 1 && h >= 1 && (unsigned long long)w * h <= (unsigned long long)MAX_LAYER_CELLS)
    s.cut = cutCells(m, s.newW, s.newH);  // (a refused size cuts nothing)
  if (!action_resizeMap(project.currentMap, w, h, why, cap)) return false;
  if (cellsBytes(s.cut) > HISTORY_MAX_BYTES) {
    printf("Redimensionnement trop grand pour l'historique: il ne pourra pas etre annule.\n");
    if (MapHistory* hist = historyOf(m, false)) clearHistory(*hist);
    return true;
  }
  commit(m, std::move(s));
  return true;
}

bool (*entityStepHook)(Map*, const std::string&, const std::string&) = nullptr;

void historyEntity(Map* m, const char* label, std::string before, std::string after) {
  Step s;
  s.kind = STEP_ENTITY;
  snprintf(s.label, sizeof s.label, "%s", label);
  s.oldEntity = std::move(before), s.newEntity = std::move(after);
  commit(m, std::move(s));
}

bool historyUndo() { return move(true); }
bool historyRedo() { return move(false); }

const char* historyUndoLabel() {
  Map* m = currentMapOrNull();
  if (open.active && open.m == m && !open.runs.empty()) return open.label;
  MapHistory* h = historyOf(m, false);
  return h && !h->undo.empty() ? h->undo.back().label : "";
}

void historyForget(const char* filename) {
  auto it = filename ? histories.find(filename) : histories.end();
  if (it == histories.end()) return;
  clearHistory(it->second);
  histories.erase(it);
  if (open.active && open.m && open.m->filename && strcmp(open.m->filename, filename) == 0)
    open = OpenStep();
}

size_t historyBytes() { return totalBytes; }

size_t historySteps(const char* filename, bool redo) {
  auto it = histories.find(filename);
  if (it == histories.end()) return 0;
  return redo ? it->second.redo.size() : it->second.undo.size();
}

void historyCapture(Map* m, int layer, const std::vector<CellRun>& runs) {
  if (!open.active || localDepth <= 0 || !m || layer < 0 || layer >= m->layers || runs.empty()) return;
  Layer* l = m->layer[layer];
  stepFor(m, l);
  if (open.overflow) return;
  // The runs of one call are disjoint: only earlier calls' cells may be met again.
  uint32_t x1 = UINT32_MAX, y1 = UINT32_MAX, x2 = 0, y2 = 0;
  for (const CellRun& r : runs)
    if (r.n) x1 = std::min(x1, r.x), x2 = std::max(x2, r.x + r.n - 1), y1 = std::min(y1, r.y), y2 = std::max(y2, r.y);
  if (x1 == UINT32_MAX) return;
  if (!open.single.empty() || (open.bulk && x1 <= open.bx2 && x2 >= open.bx1 && y1 <= open.by2 && y2 >= open.by1))
    open.revisits = true;
  if (!open.bulk) open.bx1 = x1, open.bx2 = x2, open.by1 = y1, open.by2 = y2;
  open.bulk = true;
  if (runs.size() > kBulkReserve) open.runs.reserve(open.runs.size() + runs.size());  // a paste: one growth
  open.bx1 = std::min(open.bx1, x1), open.bx2 = std::max(open.bx2, x2);
  open.by1 = std::min(open.by1, y1), open.by2 = std::max(open.by2, y2);
  for (const CellRun& r : runs) {
    if (!r.n || r.x + r.n > m->w || r.y >= m->h) continue;
    const int32_t* row = l->e + (size_t)r.y * m->w;
    for (uint32_t x = r.x; x < r.x + r.n; x++) {
      if (row[x] == r.after) continue;
      CellRun* last = open.runs.empty() ? nullptr : &open.runs.back();
      if (last && last->y == r.y && last->x + last->n == x && last->before == row[x] && last->after == r.after)
        last->n++;
      else
        open.runs.push_back({x, r.y, 1, row[x], r.after});
    }
    if (tooLarge()) return;
  }
}
