// The map view: layers bottom-up, background layers as whole images.
#include "editor/editor.h"
#include "model/model.h"
#include "net/net.h"
#include "shell/shell.h"
#include "toolkit/video.h"

void drawWindow() {
  if (!window) return;
  fillRect(window, 0, 0, window->w, window->h, 0, 0, 0);
  if (antenneWifi) {
    blitIt(antenneWifiGFX, window, 0, 0);
    return;
  }
  if (!project.listeMaps || project.currentMap < 0 || project.currentMap >= project.nbreMaps)
    return;
  pMap m = project.listeMaps[project.currentMap];
  if (!m) return;
  int cols = window->w / TILE + 1, rows = window->h / TILE + 1;
  uint32_t x0 = m->viewX / TILE, y0 = m->viewY / TILE;
  for (int l = 0; l < m->layers; l++) {
    Layer* layer = m->layer[l];
    if (layer->bg) {
      blitIt(layer->s, window, 0, 0);
      continue;
    }
    for (int r = 0; r < rows && y0 + r < m->h; r++)
      for (int c = 0; c < cols && x0 + c < m->w; c++)
        blitElement(layer->s, c * TILE, r * TILE, layer->e[(y0 + r) * m->w + x0 + c]);
  }
}
