// What this editor shows, sent to the peers each turn (net/presence.h); the
// client list of the main menu; following a peer: my view shows the map and
// the cells the peer shows, until I scroll, zoom or click anywhere.
#include <stdio.h>
#include <string.h>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/zoom.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"
#include "net/presence.h"
#include "core/core.h"
#include "core/files.h"
#include "platform/os.h"
#include "toolkit/video.h"

namespace {
const int kListText = 14;
const int kSwatch = 10;        // the peer's colour, a square before its line
const int kSwatchInset = 4;
const int kListTextX = 16;
const int kListClickWidth = 214;  // left of the new-map fields, which share the rows
const int kListClickBottom = 240;  // the map browser's top: its rows are its own
const int kNameShown = 16, kMapShown = 20;  // characters of each on a line

struct Follow {
  int slot = -1;             // the peer followed, or -1
  unsigned gen = 0;          // ...while that peer holds the slot
  char name[NAME_LEN] = "";
  const Map* map = nullptr;  // the map and view this editor set last: any
  uint32_t viewX = 0, viewY = 0;  // other means the user moved
  bool placed = false;
};

// The module's state: the client list's lines as last drawn, the buttons'
// state of the last turn, and the peer followed.
struct PresenceEditorState {
  int listed[MAX_PEERS];     // slot of each line, top to bottom
  int listedCount = 0;
  int listTop = 0, listStep = 1;  // geometry of the lines drawn
  bool buttonsDown = false;
  Follow follow;
} state;

bool isSquareBrush() { return strcmp(brush, "SQUARE") == 0; }

Presence ownPresence() {
  Presence p;
  p.colour = presenceOwnColour();
  Map* m = currentMapOrNull();
  if (!m || !m->filename || strlen(m->filename) >= sizeof p.map) return p;
  snprintf(p.map, sizeof p.map, "%s", m->filename);
  PresenceRect whole, shown;
  whole.w = (int32_t)(m->w > INT32_MAX ? INT32_MAX : m->w);
  whole.h = (int32_t)(m->h > INT32_MAX ? INT32_MAX : m->h);
  // The whole cells in view at its scale (a follower centres on them).
  shown.x = (int32_t)(m->viewX / TILE), shown.y = (int32_t)(m->viewY / TILE);
  shown.w = viewWidth() / viewCellSide(), shown.h = viewHeight() / viewCellSide();
  p.view = presenceClip(shown, whole);
  unsigned long x = getElementX(), y = getElementY();
  bool inView = mouseX > PANEL_WIDTH && mouseY >= 0 && (uint32_t)mouseX < video_x && (uint32_t)mouseY < video_y;
  if (!inView || x >= m->w || y >= m->h) return p;
  p.pointer = true;
  p.px = (int32_t)x, p.py = (int32_t)y;
  PresenceRect area;
  if (brushState.hasSelection) {
    const CellRect& r = brushState.selection;  // the marked cells
    area.x = (int32_t)r.x1, area.y = (int32_t)r.y1;
    area.w = (int32_t)(r.x2 - r.x1 + 1), area.h = (int32_t)(r.y2 - r.y1 + 1);
    p.shape = PRESENCE_SELECTION;
  } else if (stampActive() && !isSquareBrush()) {
    area.x = p.px, area.y = p.py;  // the stamp's cells under the pointer
    area.w = (int32_t)brushState.stamp.w, area.h = (int32_t)brushState.stamp.h;
    p.shape = PRESENCE_BRUSH;
  } else if (isSquareBrush() && brush_square_state) {
    // The rectangle brush's pending rectangle: from its first corner to here.
    unsigned long x1 = brush_squareX1 < x ? brush_squareX1 : x, x2 = brush_squareX1 < x ? x : brush_squareX1;
    unsigned long y1 = brush_squareY1 < y ? brush_squareY1 : y, y2 = brush_squareY1 < y ? y : brush_squareY1;
    area.x = (int32_t)x1, area.y = (int32_t)y1;
    area.w = (int32_t)(x2 - x1 + 1), area.h = (int32_t)(y2 - y1 + 1);
    p.shape = PRESENCE_SELECTION;
  } else {
    area.x = p.px, area.y = p.py, area.w = 1, area.h = 1;  // what the pen or the fill takes
    p.shape = PRESENCE_BRUSH;
  }
  p.area = presenceClip(area, whole);
  return p;
}

void stopFollowing(const char* why) {
  Follow& f = state.follow;
  if (f.slot < 0) return;
  printf("Fin du suivi de %s.\n", f.name);
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "Stopped following %.40s: %s", f.name, why);
  f = Follow();
  if (why[0])
    setPanelMessage("main", text, PANEL_INFO);
  else if (strncmp(panelMessage, "Following ", 10) == 0)
    panelMessage[0] = 0;  // its own line only: a command's answer stays
  setMenu(project.currentMenu);
}

void startFollowing(int slot) {
  PresenceView p;
  if (!presenceOf(slot, nullptr, &p)) return;
  char text[PANEL_MESSAGE_LEN];
  if (!p.known) {
    snprintf(text, sizeof text, "%.40s does not tell where it is (older editor).", p.name);
    setPanelMessage("main", text, PANEL_WARNING);
    setMenu("main");
    return;
  }
  Follow& f = state.follow;
  f = Follow();
  f.slot = slot;
  f.gen = p.gen;
  snprintf(f.name, sizeof f.name, "%s", p.name);
  printf("Suivi de %s (tunnel %d).\n", p.name, slot);
  snprintf(text, sizeof text, "Following %.40s: scroll or click to stop.", p.name);
  setPanelMessage("main", text, PANEL_INFO);
  setMenu("main");
}

// The line of the client list under a click, or -1.
int listedSlotAt(int x, int y) {
  if (x < 0 || x >= kListClickWidth || y < state.listTop || y >= kListClickBottom) return -1;
  int k = (y - state.listTop) / state.listStep;
  return k < state.listedCount ? state.listed[k] : -1;
}

// The followed peer's map and the middle of its view, as far as this map
// and this view allow.
void followStep() {
  Follow& f = state.follow;
  if (f.slot < 0) return;
  PresenceView p;
  if (!presenceOf(f.slot, nullptr, &p) || p.gen != f.gen) return stopFollowing("it left.");
  Map* m = currentMapOrNull();
  if (f.placed && (m != f.map || !m || m->viewX != f.viewX || m->viewY != f.viewY))
    return stopFollowing("");  // the user moved: that is the way to stop
  if (!p.known || !p.shown.map[0]) return;
  if (!m || !m->filename || strcmp(m->filename, p.shown.map) != 0) {
    if (getMap(p.shown.map) >= project.nbreMaps && !mapFileExists(p.shown.map))
      return stopFollowing("its map is not in this project.");
    snprintf(e_openmap, sizeof e_openmap, "%s", p.shown.map);
    g_openmap();  // the normal switch: it says on the panel why it refused
    m = currentMapOrNull();
    if (!m || !m->filename || strcmp(m->filename, p.shown.map) != 0) {
      printf("Fin du suivi de %s: map %s non ouverte.\n", f.name, p.shown.map);
      f = Follow();
      return;
    }
  }
  // Whole cells of this view at its own scale, kept within the map as any move is.
  int64_t cols = viewWidth() / viewCellSide(), rows = viewHeight() / viewCellSide();
  int64_t x = (int64_t)p.shown.view.x + p.shown.view.w / 2 - cols / 2;
  int64_t y = (int64_t)p.shown.view.y + p.shown.view.h / 2 - rows / 2;
  m->viewX = (uint32_t)(x < 0 ? 0 : x > (int64_t)m->w ? (int64_t)m->w : x) * TILE;
  m->viewY = (uint32_t)(y < 0 ? 0 : y > (int64_t)m->h ? (int64_t)m->h : y) * TILE;
  viewClamp(m);
  f.map = m;
  f.viewX = m->viewX;
  f.viewY = m->viewY;
  f.placed = true;
}
}  // namespace

int drawClientList(int top, int step) {
  state.listTop = top;
  state.listStep = step > 0 ? step : 1;
  state.listedCount = 0;
  char line[NAME_LEN + 128];
  for (int i = 0; i < MAX_PEERS; i++) {
    PeerInfo peer;
    if (!peerInfo(i, &peer)) continue;
    int y = top + step * state.listedCount;
    state.listed[state.listedCount++] = i;
    fillRect(menu, 2, y + kSwatchInset, kSwatch, kSwatch, (int)(peer.colour >> 16), (int)(peer.colour >> 8),
             (int)peer.colour);
    snprintf(line, sizeof line, "%s%d- %.*s  %.*s  %s%s%s", state.follow.slot == i ? ">" : "", i, kNameShown,
             peer.name, kMapShown, peer.map[0] ? peer.map : "-", peer.address, peer.byKey ? " [key]" : "",
             peer.viewer ? " [viewer]" : "");
    drawText(line, kListTextX, y, "black", "I", kListText, true);
  }
  return state.listedCount;
}

void presenceStep() {
  bool down = leftClic || rightClic || middleClic;
  bool press = down && !state.buttonsDown;
  state.buttonsDown = down;
  if (press) {
    int slot = strcmp(project.currentMenu, "main") == 0 ? listedSlotAt(mouseX, mouseY) : -1;
    if (slot >= 0)
      startFollowing(slot);
    else
      stopFollowing("");  // a click anywhere else
  }
  followStep();
  presenceUpdate(ownPresence());
}
