// Peers over the map view: the cells each wrote lately flash in its colour,
// its brush footprint or selection is outlined, and its pointer is an arrow
// in its colour with its name beside it. Only peers on the map shown here
// are drawn, and nothing outside the view.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "editor/editor.h"
#include "editor/zoom.h"
#include "model/model.h"
#include "net/net.h"
#include "net/presence.h"
#include "core/core.h"
#include "toolkit/video.h"

namespace {
const int kArrowRows = 12;        // the pointer: a solid arrow from the cell's centre
const int kOutline = 2;           // footprint and selection outlines, in pixels
const int kFlashAlpha = 150;      // a fresh write's tint, fading to none over PRESENCE_FLASH_MS
const int kLabelSize = 12;
const int kFadeSteps = 6;
const int kLabelGap = 2;          // between the arrow and the name
const uint32_t kShadow = 0x101010;  // under the arrow: it reads on light tiles too

// One pointer picture per slot (the arrow and the name beside it), drawn
// again only when its name or colour changes.
struct Picture {
  char name[NAME_LEN] = "";
  uint32_t colour = 0;
  SDL_Surface* surface = nullptr;
};
struct PeerDrawState {
  Picture pictures[MAX_PEERS];
  PresenceView seen[MAX_PEERS];  // this frame's copy of each peer
} state;

// The visible part of a pixel rectangle of the view, or false.
bool clipToView(int64_t x, int64_t y, int64_t w, int64_t h, int* cx, int* cy, int* cw, int* ch) {
  int64_t vw = surfaceWidth(window), vh = surfaceHeight(window);
  int64_t x2 = x + w, y2 = y + h;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x2 > vw) x2 = vw;
  if (y2 > vh) y2 = vh;
  if (x2 <= x || y2 <= y) return false;
  *cx = (int)x, *cy = (int)y, *cw = (int)(x2 - x), *ch = (int)(y2 - y);
  return true;
}

// Blends a pixel rectangle of the view, the part outside left alone; the
// pixels it covered.
int64_t blendView(int64_t x, int64_t y, int64_t w, int64_t h, uint32_t rgb, int alpha) {
  int cx, cy, cw, ch;
  if (!clipToView(x, y, w, h, &cx, &cy, &cw, &ch)) return 0;
  blendRect(window, cx, cy, cw, ch, rgb, alpha);
  return (int64_t)cw * ch;
}

// The cells of r that are in the map (bounds of the drawing, whatever a peer sent).
PresenceRect inMap(const Map* m, const PresenceRect& r) {
  PresenceRect whole;
  whole.w = (int32_t)(m->w > INT32_MAX ? INT32_MAX : m->w);
  whole.h = (int32_t)(m->h > INT32_MAX ? INT32_MAX : m->h);
  return presenceClip(r, whole);
}

void outline(const Map* m, const PresenceRect& cells, uint32_t rgb, int alpha) {
  PresenceRect r = inMap(m, cells);
  if (!r.w) return;
  int64_t x, y;
  viewCellOrigin(m, r.x, r.y, &x, &y);
  int64_t side = viewCellSide(), w = (int64_t)r.w * side, h = (int64_t)r.h * side;
  blendView(x, y, w, kOutline, rgb, alpha);
  blendView(x, y + h - kOutline, w, kOutline, rgb, alpha);
  blendView(x, y + kOutline, kOutline, h - 2 * kOutline, rgb, alpha);
  blendView(x + w - kOutline, y + kOutline, kOutline, h - 2 * kOutline, rgb, alpha);
}

// 255 while the pointer moves, fading to 0 in kFadeSteps once it has been
// still for PRESENCE_IDLE_MS (a picture's copy is prepared again for each
// new alpha: a few steps, not one a frame).
int fadeOf(uint32_t idleMs) {
  if (idleMs < (uint32_t)PRESENCE_IDLE_MS) return 255;
  uint32_t into = idleMs - PRESENCE_IDLE_MS;
  if (into >= (uint32_t)PRESENCE_FADE_MS) return 0;
  int step = (int)((PRESENCE_FADE_MS - into) * kFadeSteps / PRESENCE_FADE_MS) + 1;  // kFadeSteps..1
  return 255 * step / (kFadeSteps + 1);
}

// The arrow from (0, 0) with its shadow one pixel down and right, and the
// name on its box right of the arrow's middle.
SDL_Surface* drawPicture(const char* name, uint32_t colour) {
  const int arrowWidth = 1 + (kArrowRows - 1) * 2 / 3;
  SDL_Surface* label = makeLabel(name, colour, kLabelSize);
  int labelX = arrowWidth + kLabelGap, labelY = kArrowRows / 2;
  int w = labelX + surfaceWidth(label), h = labelY + surfaceHeight(label);
  SDL_Surface* s = makePicture(w > arrowWidth + 1 ? w : arrowWidth + 1, h > kArrowRows + 1 ? h : kArrowRows + 1);
  for (int pass = 0; pass < 2; pass++) {
    int d = pass == 0 ? 1 : 0;
    for (int r = 0; r < kArrowRows; r++) blendRect(s, d, r + d, 1 + r * 2 / 3, 1, pass == 0 ? kShadow : colour, 255);
  }
  blitFaded(label, s, labelX, labelY, 255);
  freeSurface(label);
  return s;
}

SDL_Surface* pictureOf(int slot, const char* name, uint32_t colour) {
  Picture& p = state.pictures[slot];
  if (!p.surface || p.colour != colour || strcmp(p.name, name) != 0) {
    freeSurface(p.surface);
    snprintf(p.name, sizeof p.name, "%s", name);
    p.colour = colour;
    p.surface = drawPicture(name, colour);
  }
  return p.surface;
}

void pointer(const Map* m, int slot, const PresenceView& p, int alpha) {
  if (!p.shown.pointer || p.shown.px < 0 || p.shown.py < 0 || (uint32_t)p.shown.px >= m->w ||
      (uint32_t)p.shown.py >= m->h)
    return;
  int64_t x, y;
  viewCellOrigin(m, p.shown.px, p.shown.py, &x, &y);
  int side = viewCellSide();
  if (x + side <= 0 || y + side <= 0 || x >= surfaceWidth(window) || y >= surfaceHeight(window)) return;
  blitFaded(pictureOf(slot, p.name, p.colour), window, (int)x + side / 2, (int)y + side / 2, alpha);
}
}  // namespace

void drawPeers() {
  Map* m = currentMapOrNull();
  if (!window || antenneWifi || !m || !m->filename) return;
  // Flashes of big rectangles are bounded by one view's worth of pixels a frame.
  int64_t flashBudget = (int64_t)surfaceWidth(window) * surfaceHeight(window);
  PresenceView* seen = state.seen;
  bool here[MAX_PEERS] = {false};
  for (int i = 0; i < MAX_PEERS; i++) {
    here[i] = presenceOf(i, m->filename, &seen[i]);
    if (!here[i]) continue;
    const PresenceView& p = seen[i];
    for (int k = 0; k < p.writes && flashBudget > 0; k++) {
      PresenceRect r = inMap(m, p.written[k]);
      if (!r.w) continue;
      int64_t x, y;
      viewCellOrigin(m, r.x, r.y, &x, &y);
      int alpha = kFlashAlpha * (int)(PRESENCE_FLASH_MS - p.writtenAgeMs[k]) / PRESENCE_FLASH_MS;
      flashBudget -= blendView(x, y, (int64_t)r.w * viewCellSide(), (int64_t)r.h * viewCellSide(), p.colour, alpha);
    }
  }
  for (int i = 0; i < MAX_PEERS; i++) {
    if (!here[i] || !seen[i].known || strcmp(seen[i].shown.map, m->filename) != 0) continue;
    int alpha = fadeOf(seen[i].idleMs);
    if (alpha == 0) continue;
    if (seen[i].shown.shape != PRESENCE_NO_SHAPE) outline(m, seen[i].shown.area, seen[i].colour, alpha);
    pointer(m, i, seen[i], alpha);
  }
}
