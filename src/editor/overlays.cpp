// This editor's own view settings, never saved and never sent: layers hidden
// from the view (the export still writes them), `H` to dim every layer but
// the current one, `P` to show the blocked quarters of every visible layer
// over the map, `K` to frame the cells a merge on join found in conflict
// (`Shift+K` clears them). A hidden current layer is not painted.
#include <stdio.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor/zoom.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/sync.h"
#include "core/core.h"
#include "core/files.h"
#include "platform/os.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
const int kDimAlpha = 170;      // H: how far the other layers go toward black
const int kBlockedAlpha = 120;  // P: the red laid over a blocked quarter
const int kQuarters = 4;
const int kToggleX = 10, kToggleY = 300, kToggleW = 110;  // the map menu's hide toggle
const int kMarkAlpha = 90;      // K: the tint inside a conflicting cell
const int kMarkEdge = 2;        // K: its frame, in pixels

struct ViewSettings {
  std::set<uint32_t> hidden;  // layer identities: a moved layer stays hidden
  bool dimOthers = false;
  bool showBlocked = false;
  bool showConflicts = false;
  unsigned conflictsSeen = 0;  // the merges whose marks were shown already
  // Each tileset's pass bytes, read from its file when first drawn after
  // `P` was turned on.
  std::map<std::string, std::vector<unsigned char>> pass;
  bool refusedThisPress = false;
} view;

const std::vector<unsigned char>& passOf(const char* tileset) {
  auto it = view.pass.find(tileset);
  if (it != view.pass.end()) return it->second;
  std::vector<unsigned char>& bytes = view.pass[tileset];
  if (!validName(tileset)) return bytes;
  FILE* f = openFile(PASS_DIR, tileset, PASS_EXT, "rb");
  if (!f) return bytes;
  unsigned char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
  closeFile(f);
  return bytes;
}

// The pass bytes the overlay shows for a tileset: the ones being edited in
// pass-conditions mode, else its file's.
const unsigned char* passBytes(const char* tileset, size_t* n) {
  if (e_passconditions && passconditions && strcmp(tileset, e_pcname) == 0) {
    view.pass.erase(tileset);  // its file is written when the mode is left
    *n = passconditionsLen;
    return passconditions;
  }
  const std::vector<unsigned char>& v = passOf(tileset);
  *n = v.size();
  return v.data();
}

// The blocked quarters of one layer's cells in view, or-ed into `bits`
// (bit q for quarter q). Tile 0 is the erase value: an empty cell.
void blockedOf(const Map* m, const Layer* l, uint64_t x0, uint64_t y0, int cols, int rows,
               std::vector<uint8_t>& bits) {
  size_t n = 0;
  const unsigned char* pass = passBytes(l->layerGFX, &n);
  if (!pass || !n) return;
  for (int r = 0; r < rows; r++) {
    const int32_t* row = l->e + (y0 + r) * m->w + x0;
    for (int c = 0; c < cols; c++) {
      int32_t e = row[c];
      if (e <= 0 || (size_t)e * kQuarters + kQuarters > n) continue;
      for (int q = 0; q < kQuarters; q++)
        if (pass[(size_t)e * kQuarters + q] == 0) bits[(size_t)r * cols + c] |= 1 << q;
    }
  }
}
}  // namespace

bool layerHidden(const Layer* l) { return l && view.hidden.count(l->uid) > 0; }

bool viewDimsOthers() { return view.dimOthers; }

namespace {
void viewKey(int k, unsigned mods) {
  if (mods & MOD_CTRL) return;
  if (k == KEY_H) {
    view.dimOthers = !view.dimOthers;
    printf("Vue: %s.\n", view.dimOthers ? "layers autres que le courant attenues" : "tous les layers");
  } else if (k == KEY_P) {
    view.showBlocked = !view.showBlocked;
    view.pass.clear();  // read afresh: the files may have changed meanwhile
    printf("Vue: quarts bloques %s.\n", view.showBlocked ? "montres" : "caches");
  } else if (k == KEY_K && (mods & MOD_SHIFT)) {
    syncClearConflictMarks();
    view.showConflicts = false;
  } else if (k == KEY_K) {
    view.showConflicts = !view.showConflicts;
    printf("Vue: conflits %s.\n", view.showConflicts ? "montres" : "caches");
  }
}
}  // namespace

void viewKeysStep() {
  for (int i = 0; i < inputFrame.keyCount; i++) viewKey(inputFrame.keys[i].key, inputFrame.keys[i].mods);
}

void dimView(SDL_Surface* dst) { tintRect(dst, 0, 0, surfaceWidth(dst), surfaceHeight(dst), 0, 0, 0, kDimAlpha); }

void drawBlockedOverlay(const Map* m) {
  ViewRange v = viewRange(m);
  uint64_t x0 = v.x0, y0 = v.y0;
  int cols = v.cols, rows = v.rows;
  if (!view.showBlocked || !window || !m || cols <= 0 || rows <= 0) return;
  std::vector<uint8_t> bits((size_t)cols * rows, 0);
  for (int i = 0; i < m->layers; i++) {
    const Layer* l = m->layer[i];
    if (l && !l->bg && l->e && l->layerGFX && !layerHidden(l)) blockedOf(m, l, x0, y0, cols, rows, bits);
  }
  int half = viewCellSide() / 2;  // a quarter's side on screen
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < cols; c++) {
      int x, y;
      cellToView((long)(x0 + c), (long)(y0 + r), &x, &y);
      for (int q = 0; q < kQuarters; q++)
        if (bits[(size_t)r * cols + c] & (1 << q))
          tintRect(window, x + (q % 2) * half, y + (q / 2) * half, half, half, 255, 0, 0, kBlockedAlpha);
    }
}

void drawConflictOverlay(const Map* m) {
  if (syncConflictGeneration() != view.conflictsSeen) {  // a merge found new ones: shown
    view.conflictsSeen = syncConflictGeneration();
    view.showConflicts = true;
  }
  const std::vector<MergeMarkCell>* marks = m ? syncConflictMarks(m->filename) : nullptr;
  if (!view.showConflicts || !window || !marks) return;
  ViewRange v = viewRange(m);
  int side = viewCellSide(), edge = kMarkEdge < side / 4 ? kMarkEdge : side / 4;
  for (const MergeMarkCell& c : *marks) {
    if (c.x < v.x0 || c.y < v.y0 || c.x - v.x0 >= (uint64_t)v.cols || c.y - v.y0 >= (uint64_t)v.rows) continue;
    int x, y;
    cellToView((long)c.x, (long)c.y, &x, &y);
    tintRect(window, x, y, side, side, 255, 0, 255, kMarkAlpha);
    if (edge <= 0) continue;  // too small for a frame
    tintRect(window, x, y, side, edge, 255, 0, 255, 255);
    tintRect(window, x, y + side - edge, side, edge, 255, 0, 255, 255);
    tintRect(window, x, y + edge, edge, side - 2 * edge, 255, 0, 255, 255);
    tintRect(window, x + side - edge, y + edge, edge, side - 2 * edge, 255, 0, 255, 255);
  }
}

void layerVisibilityCommand(Map* m) {
  Layer* l = currentLayerOrNull(m);
  if (!l || e_addlayer) return;
  bool hidden = layerHidden(l);
  if (!textButton(hidden ? "Show layer" : "Hide layer", kToggleX, kToggleY, kToggleW)) return;
  if (hidden)
    view.hidden.erase(l->uid);
  else
    view.hidden.insert(l->uid);
  printf("Layer %d %s dans la vue.\n", project.currentLayer, hidden ? "montre" : "cache");
  setMenu("map");
}

bool hiddenLayerRefused(bool painting) {
  if (!painting) {
    view.refusedThisPress = false;
    return false;
  }
  if (!layerHidden(currentLayerOrNull(currentMapOrNull()))) return false;
  if (!view.refusedThisPress) {
    view.refusedThisPress = true;
    printf("Peinture refusee: le layer %d est cache.\n", project.currentLayer);
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Layer %d is hidden: show it (Map tab) to paint on it.",
             project.currentLayer + 1);
    setPanelMessage(project.currentMenu, text);
    setMenu(project.currentMenu);
  }
  return true;
}
