// The map view: every layer of the current map, bottom-up, into `window`.
// Tiled layers are drawn cell by cell from the tileset's tile cache, which
// gives the same pixels as blitting each tile from the sheet, only faster.
#include <stdint.h>

#include "editor/editor.h"
#include "model/model.h"
#include "net/net.h"
#include "shell/shell.h"
#include "toolkit/tilecache.h"
#include "toolkit/video.h"

namespace {
// Tiles past the sheet have no pixels; the sheet blit would wrap their
// 16-bit source rectangle back into the sheet, so they are not drawn at all.
void blitFromSheet(Layer* l, int x, int y, int element) {
  long long perRow = l->s->w / TILE, rows = (l->s->h + TILE - 1) / TILE;
  if (element >= 0 && element < perRow * rows && element / perRow * TILE <= INT16_MAX)
    blitElement(l->s, x, y, element);
}

// Draws the view's cells of a tiled layer. False: network traffic began and
// drawing stopped.
bool drawTiledLayer(const Map* m, Layer* l) {
  const TileCache* cache = tileCacheGet(l->s, window);
  int cols = window->w / TILE, rows = window->h / TILE;
  uint64_t x0 = m->viewX / TILE, y0 = m->viewY / TILE;
  for (int r = 0; r < rows; r++) {
    uint64_t my = y0 + r;
    if (my >= m->h) break;  // below the map: stays black
    const int32_t* row = l->e + my * m->w;
    for (int c = 0; c < cols; c++) {
      uint64_t mx = x0 + c;
      if (mx >= m->w) break;  // right of the map: stays black
      if (cache)
        tileCacheBlit(cache, row[mx], window, c * TILE, r * TILE);
      else
        blitFromSheet(l, c * TILE, r * TILE, row[mx]);
      if (antenneWifi) return false;
    }
  }
  return true;
}
}  // namespace

void drawWindow() {
  if (!window) return;
  if (antenneWifi) {
    blitIt(antenneWifiGFX, window, 0, 0);
    return;
  }
  fillRect(window, 0, 0, window->w, window->h, 0, 0, 0);
  Map* m = currentMapOrNull();
  if (!m || !m->layer) return;
  for (int i = 0; i < m->layers; i++) {
    if (antenneWifi) return;
    Layer* l = m->layer[i];
    // A layer whose tileset failed to load has nothing to show.
    if (!l || !l->s) continue;
    if (l->bg) {
      blitIt(l->s, window, 0, 0);  // whole image, fixed at the view's corner
      continue;
    }
    if (l->s->w < TILE || !l->e) continue;  // no whole tile to take
    if (!drawTiledLayer(m, l)) return;
  }
}
