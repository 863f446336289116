// The overview: the whole current map in the view's bottom-right corner,
// one pixel for a block of cells (each cell the average colour of its
// tiles, from the tilesets' one-pixel mip level), with the part the view
// shows framed. Its picture is kept, and a band of it is computed again
// every frame, so edits (one's own and the peers') show within a few
// frames without the cost of the whole picture at once. The peers' views on
// this map are framed in their colours.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "editor/navigate.h"
#include "editor/viewdraw.h"
#include "editor/zoom.h"
#include "model/model.h"
#include "net/presence.h"
#include "toolkit/tilemip.h"
#include "toolkit/video.h"
#include "toolkit/viewpixels.h"

namespace {
const int kLongestSide = 256;      // the overview's longest side at most, in pixels
const int kViewShare = 3;          // and at most a third of the view's width and height
const int kMargin = 24;            // from the view's right and bottom edges, clear of edge scrolling
const double kMostPerCell = 4;     // pixels a cell side for small maps
const int kPixelsPerFrame = 8192;  // computed again each frame
const int kFrame[3] = {160, 160, 160}, kSeen[3] = {255, 255, 255};

struct Picture {
  const Map* map = nullptr;
  uint32_t w = 0, h = 0;
  int width = 0, height = 0;
  int nextRow = 0;
  std::vector<uint32_t> pixels;
};
Picture picture;
PresenceView peersSeen[MAX_PEERS];  // a few KiB each: kept, not on the stack

bool pictureSize(const Map* m, int* width, int* height) {
  int box = std::min({kLongestSide, viewWidth() / kViewShare, viewHeight() / kViewShare});
  if (!m || m->w == 0 || m->h == 0 || box < 1) return false;
  double k = std::min({(double)box / m->w, (double)box / m->h, kMostPerCell});
  *width = std::max(1, (int)(m->w * k));
  *height = std::max(1, (int)(m->h * k));
  return true;
}

// Rows [from, to) of the picture: each pixel the cell at its place, its
// tiled layers' one-pixel tiles over black, bottom first.
void computeRows(const Map* m, int from, int to) {
  std::vector<const TileMip*> mips(m->layers, nullptr);
  for (int i = 0; i < m->layers; i++) {
    const Layer* l = m->layer[i];
    if (l && l->s && l->e && !l->bg) mips[i] = tileMipGet(l->s, window, TILE_MIP_LEVELS);
  }
  for (int v = from; v < to; v++) {
    uint64_t row = (uint64_t)v * m->h / picture.height;
    uint32_t* out = &picture.pixels[(size_t)v * picture.width];
    for (int u = 0; u < picture.width; u++) {
      size_t at = row * m->w + (uint64_t)u * m->w / picture.width;
      uint32_t colour = 0;
      for (int i = 0; i < m->layers; i++) {
        int e = mips[i] ? m->layer[i]->e[at] : -1;
        if (tileMipKind(mips[i], e) != MIP_EMPTY) colour = tileMipOver(colour, mips[i]->pixels[e]);
      }
      out[u] = colour;
    }
  }
}

// The outline of a rectangle in view coordinates, cut to the box (bx, by, bw, bh).
void frame(int x, int y, int w, int h, int bx, int by, int bw, int bh, const int* rgb) {
  int x0 = std::max(x, bx), y0 = std::max(y, by);
  int x1 = std::min(x + w, bx + bw), y1 = std::min(y + h, by + bh);
  if (x0 >= x1 || y0 >= y1) return;
  if (y >= by) fillRect(window, x0, y, x1 - x0, 1, rgb[0], rgb[1], rgb[2]);
  if (y + h - 1 < by + bh) fillRect(window, x0, y + h - 1, x1 - x0, 1, rgb[0], rgb[1], rgb[2]);
  if (x >= bx) fillRect(window, x, y0, 1, y1 - y0, rgb[0], rgb[1], rgb[2]);
  if (x + w - 1 < bx + bw) fillRect(window, x + w - 1, y0, 1, y1 - y0, rgb[0], rgb[1], rgb[2]);
}
}  // namespace

bool overviewRect(const Map* m, int* x, int* y, int* w, int* h) {
  if (!navigate.overview || !pictureSize(m, w, h)) return false;
  *x = PANEL_WIDTH + viewWidth() - kMargin - *w;
  *y = viewHeight() - kMargin - *h;
  return true;
}

void overviewMoveView(Map* m, int sx, int sy) {
  int x, y, w, h;
  if (!overviewRect(m, &x, &y, &w, &h)) return;
  int u = std::min(std::max(sx - x, 0), w - 1), v = std::min(std::max(sy - y, 0), h - 1);
  // The map pixel shown at the centre of that overview pixel, at the view's centre.
  double px = (u + 0.5) * m->w * TILE / w, py = (v + 0.5) * m->h * TILE / h;
  double half = (double)TILE / zoomCellPixels(zoom.level) / 2;
  double vx = px - viewWidth() * half, vy = py - viewHeight() * half;
  uint32_t oldX = m->viewX, oldY = m->viewY;
  m->viewX = vx > 0 ? (uint32_t)std::min(vx, 4e9) : 0;
  m->viewY = vy > 0 ? (uint32_t)std::min(vy, 4e9) : 0;
  viewClamp(m);
  if (m->viewX != oldX || m->viewY != oldY) printf("Apercu: vue en %ux%u.\n", m->viewX, m->viewY);
}

void drawOverview(const Map* m) {
  int x, y, w, h;
  if (!overviewRect(m, &x, &y, &w, &h)) return;
  x -= PANEL_WIDTH;  // view coordinates from here
  if (picture.map != m || picture.w != m->w || picture.h != m->h || picture.width != w || picture.height != h) {
    picture.map = m;
    picture.w = m->w;
    picture.h = m->h;
    picture.width = w;
    picture.height = h;
    picture.pixels.assign((size_t)w * h, 0);
    computeRows(m, 0, h);
    picture.nextRow = 0;
  } else {
    int rows = std::max(1, kPixelsPerFrame / w), from = picture.nextRow, to = std::min(h, from + rows);
    computeRows(m, from, to);
    picture.nextRow = to == h ? 0 : to;
  }
  putPixels(window, x, y, w, h, picture.pixels.data());
  frame(x - 1, y - 1, w + 2, h + 2, x - 1, y - 1, w + 2, h + 2, kFrame);
  // The cells the view shows.
  ViewPlace p = viewPlace(m);
  double perCellX = (double)w / m->w, perCellY = (double)h / m->h;
  double c0 = (double)p.ox / p.cell, r0 = (double)p.oy / p.cell;
  double c1 = c0 + (double)viewWidth() / p.cell, r1 = r0 + (double)viewHeight() / p.cell;
  int fx = x + (int)(c0 * perCellX), fy = y + (int)(r0 * perCellY);
  int fw = std::max(2, (int)(c1 * perCellX) - (int)(c0 * perCellX)),
      fh = std::max(2, (int)(r1 * perCellY) - (int)(r0 * perCellY));
  frame(fx, fy, fw, fh, x, y, w, h, kSeen);
  // Where each peer on this map looks, framed in its colour.
  if (!m->filename) return;
  for (int i = 0; i < MAX_PEERS; i++) {
    PresenceView& pv = peersSeen[i];
    if (!presenceOf(i, nullptr, &pv) || !pv.known || strcmp(pv.shown.map, m->filename) != 0) continue;
    const PresenceRect& r = pv.shown.view;
    if (r.w <= 0 || r.h <= 0) continue;
    int rgb[3] = {(int)(pv.colour >> 16 & 255), (int)(pv.colour >> 8 & 255), (int)(pv.colour & 255)};
    int px = x + (int)(r.x * perCellX), py = y + (int)(r.y * perCellY);
    frame(px, py, std::max(2, (int)((r.x + r.w) * perCellX) - (int)(r.x * perCellX)),
          std::max(2, (int)((r.y + r.h) * perCellY) - (int)(r.y * perCellY)), x, y, w, h, rgb);
  }
}
