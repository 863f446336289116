// Presence (presence.h): this editor's colour, its updates to the peers, the
// "PRESENCE" body, and what each peer shows and wrote lately.
#include "net/presence.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "core/files.h"
#include "model/model.h"
#include "net/handlers.h"
#include "net/netio.h"
#include "net/presencestate.h"
#include "net/wire.h"

namespace {
// Well separated on the dark map and on each other, none near black or white.
const uint32_t kPalette[] = {
    0xe6194b, 0x3cb44b, 0xffe119, 0x4363d8, 0xf58231, 0x42d4f4,
    0xf032e6, 0xbfef45, 0xfabed4, 0x469990, 0xdcbeff, 0xaaffc3,
};
const int kPaletteSize = (int)(sizeof kPalette / sizeof kPalette[0]);
const int kWords = 13;          // fields of a body
const int kNumberDigits = 10;   // 2^31 - 1 has ten
const char* const kNoMap = "/";

// The module's state: what this editor shows and sent, and its colour.
struct PresenceState {
  Presence now;           // what the editor showed at its last update
  bool haveNow = false;
  Presence sent;          // what went to the peers last
  bool sentAny = false;
  uint32_t sentAt = 0;
  bool colourSet = false; // the settings pair gave it
  uint32_t colour = 0;
} state;

uint32_t fnv1a(const char* s) {
  uint32_t h = 2166136261u;
  for (; *s; s++) h = (h ^ (unsigned char)*s) * 16777619u;
  return h;
}

bool sameRect(const PresenceRect& a, const PresenceRect& b) {
  return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

// A decimal from 0 to 2^31 - 1, digits only.
bool readCount(const char* w, int32_t* out) {
  size_t n = strlen(w);
  if (n == 0 || n > (size_t)kNumberDigits) return false;
  long long v = 0;
  for (size_t k = 0; k < n; k++) {
    if (!isdigit((unsigned char)w[k])) return false;
    v = v * 10 + (w[k] - '0');
  }
  if (v > INT32_MAX) return false;
  *out = (int32_t)v;
  return true;
}

bool readHexColour(const char* w, uint32_t* out) {
  if (strlen(w) != 6) return false;
  uint32_t v = 0;
  for (int k = 0; k < 6; k++) {
    if (!isxdigit((unsigned char)w[k])) return false;
    v = v * 16 + (uint32_t)(isdigit((unsigned char)w[k]) ? w[k] - '0' : tolower((unsigned char)w[k]) - 'a' + 10);
  }
  *out = v;
  return true;
}

// Splits a body into exactly `count` blank-separated words of at most
// NAME_LEN - 1 characters each.
bool splitWords(const char* body, char words[][NAME_LEN], int count) {
  int n = 0;
  for (const char* p = body;;) {
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) break;
    size_t len = strcspn(p, " \t");
    if (n == count || len >= NAME_LEN) return false;
    memcpy(words[n], p, len);
    words[n++][len] = 0;
    p += len;
  }
  return n == count;
}

bool readRect(char words[][NAME_LEN], PresenceRect* r) {
  return readCount(words[0], &r->x) && readCount(words[1], &r->y) && readCount(words[2], &r->w) &&
         readCount(words[3], &r->h);
}

// Values that name cells of a map open here are cut to it: a pointer
// outside is no pointer, a rectangle keeps only its cells in the map.
void fitToOpenMap(Presence* p) {
  Map* m = p->map[0] ? openMapAt(getMap(p->map)) : nullptr;
  if (!m) return;
  PresenceRect whole;
  whole.w = (int32_t)(m->w > INT32_MAX ? INT32_MAX : m->w);
  whole.h = (int32_t)(m->h > INT32_MAX ? INT32_MAX : m->h);
  if (p->pointer && (p->px >= whole.w || p->py >= whole.h)) p->pointer = false;
  p->area = presenceClip(p->area, whole);
  if (p->area.w == 0) p->shape = PRESENCE_NO_SHAPE;
  p->view = presenceClip(p->view, whole);
}

void send(int slot, const Presence& p) {
  char body[PRESENCE_BODY_MAX];
  if (!presenceFormat(p, body, sizeof body)) return;
  if (slot < 0)
    actionSendTo(EXT_PRESENCE, "PRESENCE", body);
  else
    actionSendToPeer(slot, "PRESENCE", body);
}
}  // namespace

bool samePresence(const Presence& a, const Presence& b) {
  return strcmp(a.map, b.map) == 0 && a.pointer == b.pointer && (!a.pointer || (a.px == b.px && a.py == b.py)) &&
         a.shape == b.shape && sameRect(a.area, b.area) && sameRect(a.view, b.view) && a.colour == b.colour;
}

PresenceRect presenceClip(const PresenceRect& r, const PresenceRect& bounds) {
  PresenceRect out;
  long long x1 = r.x > bounds.x ? r.x : bounds.x, y1 = r.y > bounds.y ? r.y : bounds.y;
  long long x2 = (long long)r.x + r.w, y2 = (long long)r.y + r.h;
  long long bx2 = (long long)bounds.x + bounds.w, by2 = (long long)bounds.y + bounds.h;
  if (x2 > bx2) x2 = bx2;
  if (y2 > by2) y2 = by2;
  if (r.w <= 0 || r.h <= 0 || x2 <= x1 || y2 <= y1) return out;
  out.x = (int32_t)x1, out.y = (int32_t)y1, out.w = (int32_t)(x2 - x1), out.h = (int32_t)(y2 - y1);
  return out;
}

bool presenceFormat(const Presence& p, char* out, size_t cap) {
  const char shape = p.shape == PRESENCE_BRUSH ? 'b' : p.shape == PRESENCE_SELECTION ? 's' : '-';
  PresenceRect a = p.shape == PRESENCE_NO_SHAPE ? PresenceRect() : p.area;
  int n = snprintf(out, cap, "%s %ld %ld %c %ld %ld %ld %ld %ld %ld %ld %ld %06x", p.map[0] ? p.map : kNoMap,
                   p.pointer ? (long)p.px : -1L, p.pointer ? (long)p.py : -1L, shape, (long)a.x, (long)a.y,
                   (long)a.w, (long)a.h, (long)p.view.x, (long)p.view.y, (long)p.view.w, (long)p.view.h,
                   (unsigned)(p.colour & 0xffffff));
  return n >= 0 && (size_t)n < cap;
}

bool presenceParse(const char* body, Presence* out) {
  if (!body || strnlen(body, PRESENCE_BODY_MAX) >= PRESENCE_BODY_MAX) return false;
  char words[kWords][NAME_LEN];
  if (!splitWords(body, words, kWords)) return false;
  Presence p;
  if (strcmp(words[0], kNoMap) != 0) {
    if (nameRefusal(words[0])) return false;
    snprintf(p.map, sizeof p.map, "%s", words[0]);
  }
  if (strcmp(words[1], "-1") == 0 && strcmp(words[2], "-1") == 0) {
    p.pointer = false;
  } else {
    if (!readCount(words[1], &p.px) || !readCount(words[2], &p.py)) return false;
    p.pointer = true;
  }
  if (strcmp(words[3], "b") == 0)
    p.shape = PRESENCE_BRUSH;
  else if (strcmp(words[3], "s") == 0)
    p.shape = PRESENCE_SELECTION;
  else if (strcmp(words[3], "-") != 0)
    return false;
  if (!readRect(words + 4, &p.area) || !readRect(words + 8, &p.view) || !readHexColour(words[12], &p.colour))
    return false;
  if (p.area.w == 0 || p.area.h == 0) p.shape = PRESENCE_NO_SHAPE;
  if (p.shape == PRESENCE_NO_SHAPE) p.area = PresenceRect();
  *out = p;
  return true;
}

uint32_t presenceMapKey(const char* map) { return fnv1a(map); }

uint32_t presenceColourOf(const char* name) { return kPalette[fnv1a(name) % kPaletteSize]; }

void presenceReadColour(const char* value) {
  uint32_t c;
  if (!readHexColour(value[0] == '#' ? value + 1 : value, &c)) {
    printf("Parametre colour incorrect (%s), couleur tiree du nom conservee.\n", value);
    return;
  }
  state.colour = c;
  state.colourSet = true;
}

void presenceEchoSettings() {
  if (state.colourSet) printf("colour: #%06x\n", (unsigned)state.colour);
}

uint32_t presenceOwnColour() { return state.colourSet ? state.colour : presenceColourOf(username); }

void presenceUpdate(const Presence& mine) {
  if (!net) return;
  state.now = mine;
  state.haveNow = true;
  if (state.sentAny && samePresence(mine, state.sent)) return;
  uint32_t now = coreMillis();
  if (state.sentAny && now - state.sentAt < (uint32_t)PRESENCE_SEND_MS) return;  // sent at a later frame
  send(-1, mine);
  state.sent = mine;
  state.sentAny = true;
  state.sentAt = now;
}

void presencePeerAnnounced(int slot) {
  if (state.haveNow && peerHas(slot, EXT_PRESENCE)) send(slot, state.now);
}

void presenceCellsWritten(int slot, const WireCells& c) {
  if (slot < 0 || slot >= MAX_PEERS) return;
  PeerPresence& p = peers[slot].presence;
  long x1 = c.x1 < c.x2 ? c.x1 : c.x2, x2 = c.x1 < c.x2 ? c.x2 : c.x1;
  long y1 = c.y1 < c.y2 ? c.y1 : c.y2, y2 = c.y1 < c.y2 ? c.y2 : c.y1;
  if (x1 < 0 || y1 < 0 || x1 > INT32_MAX || y1 > INT32_MAX) return;
  PeerWrite w;
  w.mapKey = presenceMapKey(c.map);
  w.cells.x = (int32_t)x1, w.cells.y = (int32_t)y1;
  w.cells.w = (int32_t)(x2 - x1 >= INT32_MAX ? INT32_MAX : x2 - x1 + 1);
  w.cells.h = (int32_t)(y2 - y1 >= INT32_MAX ? INT32_MAX : y2 - y1 + 1);
  w.at = coreMillis();
  // A pen held on one cell writes it every frame: one entry, kept fresh.
  PeerWrite& last = p.writes[(p.nextWrite + PRESENCE_WRITE_RING - 1) % PRESENCE_WRITE_RING];
  if (last.cells.w && last.mapKey == w.mapKey && sameRect(last.cells, w.cells)) {
    last.at = w.at;
    return;
  }
  p.writes[p.nextWrite] = w;
  p.nextWrite = (p.nextWrite + 1) % PRESENCE_WRITE_RING;
}

bool presenceRateOk(PresenceRate& r, uint32_t nowMs) {
  const long long full = (long long)PRESENCE_FLOOD_BURST * 1000, cost = 1000;
  long long tokens = r.started ? r.tokens + (long long)(nowMs - r.lastMs) * PRESENCE_FLOOD_RATE : full;
  r.started = true;
  r.lastMs = nowMs;
  if (tokens > full) tokens = full;
  if (tokens < cost) {
    r.tokens = (int32_t)tokens;
    return false;
  }
  r.tokens = (int32_t)(tokens - cost);
  return true;
}

bool presenceArrived(int slot) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  // Only this slot's receiving thread touches its rate, until the slot is freed.
  if (presenceRateOk(peers[slot].presence.rate, coreMillis())) return true;
  char name[NAME_BLOCK] = "";
  peerName(slot, name, sizeof name);
  printf("Client %s du tunnel %d: plus de %d presences par seconde: connexion coupee!\n", name, slot,
         PRESENCE_FLOOD_RATE);
  return false;
}

void onPresence(const char* header, const char* corps, int slot) {
  PeerPresence& st = peers[slot].presence;
  Presence p;
  if (!presenceParse(corps, &p)) {
    if (!st.warned) printf("Action %s ignoree: corps mal forme (tunnel %d).\n", header, slot);
    st.warned = true;  // once: a peer repeating it would fill the log
    return;
  }
  fitToOpenMap(&p);
  bool moved = !st.known || strcmp(p.map, st.shown.map) != 0 || p.pointer != st.shown.pointer ||
               p.px != st.shown.px || p.py != st.shown.py;
  bool listed = !st.known || strcmp(p.map, st.shown.map) != 0 || p.colour != st.shown.colour;
  if (!st.known || strcmp(p.map, st.shown.map) != 0) {
    char name[NAME_BLOCK] = "";
    peerName(slot, name, sizeof name);
    printf("Client %s sur la map %s.\n", name, p.map[0] ? p.map : "(aucune)");
  }
  st.shown = p;
  st.known = true;
  if (moved) st.movedAt = coreMillis();
  if (listed) refreshMenu = true;  // the client list shows its map and colour
}

bool presenceOf(int slot, const char* map, PresenceView* out) {
  if (slot < 0 || slot >= MAX_PEERS) return false;
  {
    std::lock_guard<std::mutex> g(peersLock);
    const Peer& peer = peers[slot];
    if (!peer.clientReady || peer.dropping) return false;
    snprintf(out->name, sizeof out->name, "%s", peer.clientNames);
    out->gen = peer.gen;
  }
  const PeerPresence& st = peers[slot].presence;
  uint32_t now = coreMillis();
  out->known = st.known;
  out->shown = st.known ? st.shown : Presence();
  out->colour = st.known ? st.shown.colour : presenceColourOf(out->name);
  out->idleMs = now - st.movedAt;
  out->viewer = st.viewer;
  out->writes = 0;
  uint32_t key = map ? presenceMapKey(map) : 0;
  for (int k = 0; map && k < PRESENCE_WRITE_RING; k++) {
    const PeerWrite& w = st.writes[k];
    if (!w.cells.w || w.mapKey != key || now - w.at >= (uint32_t)PRESENCE_FLASH_MS) continue;
    out->written[out->writes] = w.cells;
    out->writtenAgeMs[out->writes++] = now - w.at;
  }
  return true;
}

void presenceReset() { state = PresenceState(); }
