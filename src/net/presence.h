// Presence: where each editor's user is, for the peers that announced
// "PRESENCE". Each editor sends, only when it changes and at most every
// PRESENCE_SEND_MS, the map it shows, the cell under its pointer, its brush
// footprint or selection, the cells its view shows and its colour
// ("PRESENCE" action, a short text body). A receiver keeps the last one per
// peer (Peer::presence), with the cells the peer wrote lately, and forgets
// both with the peer. Nothing of it is saved, logged per action, or shown as
// network activity. Main thread, except presenceArrived (receiving thread).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/core.h"

// Numbers of the presence traffic.
enum {
  PRESENCE_SEND_MS = 50,         // at most 20 updates a second leave this editor
  PRESENCE_BODY_MAX = 512,       // a longer body is refused (a 255-character map name fits)
  PRESENCE_FLOOD_RATE = 100,     // updates a second a peer may keep sending...
  PRESENCE_FLOOD_BURST = 200,    // ...beyond which two seconds' worth more cuts it
  PRESENCE_WRITE_RING = 64,      // a peer's latest cell writes kept (2 s of a pen stroke)
  PRESENCE_FLASH_MS = 2000,      // cells written by a peer flash this long
  PRESENCE_IDLE_MS = 10000,      // a pointer that has not moved for this long fades...
  PRESENCE_FADE_MS = 1000,       // ...over this long, then is no longer drawn
};

// A rectangle of cells; w or h 0: none. Coordinates fit in 31 bits.
struct PresenceRect {
  int32_t x = 0, y = 0, w = 0, h = 0;
};

// What the footprint rectangle is.
enum PresenceShape { PRESENCE_NO_SHAPE, PRESENCE_BRUSH, PRESENCE_SELECTION };

// What an editor shows.
struct Presence {
  char map[NAME_LEN] = "";  // file name of the map shown; "" none
  bool pointer = false;     // the pointer is over a cell of that map...
  int32_t px = 0, py = 0;   // ...this one
  PresenceShape shape = PRESENCE_NO_SHAPE;
  PresenceRect area;            // the brush footprint or the selection
  PresenceRect view;            // the cells the view shows
  uint32_t colour = 0;      // 0xRRGGBB
};
bool samePresence(const Presence& a, const Presence& b);
// The cells of r inside bounds (none when they do not meet), without overflow.
PresenceRect presenceClip(const PresenceRect& r, const PresenceRect& bounds);

// The body of a "PRESENCE" action: "map px py shape ax ay aw ah vx vy vw vh
// rrggbb", the map "/" for none (no map name holds a slash), the pointer
// "-1 -1" for none, the shape "-", "b" (brush) or "s" (selection).
// presenceFormat: false when it does not fit. presenceParse: false for
// anything else than exactly that (numbers out of 0..2^31-1, a bad name,
// extra words); the values are the caller's to check against its maps.
bool presenceFormat(const Presence& p, char* out, size_t cap);
bool presenceParse(const char* body, Presence* out);

// This editor's colour: the settings pair `colour` ("#rrggbb"), else one of
// a palette of well-separated colours picked by a stable hash of the user
// name. presenceReadColour is the settings reader (logs a bad value).
void presenceReadColour(const char* value);
void presenceEchoSettings();
uint32_t presenceOwnColour();
uint32_t presenceColourOf(const char* name);

// What this editor shows now (every frame): sent to the announcing peers
// when it differs from what was last sent and PRESENCE_SEND_MS have passed.
void presenceUpdate(const Presence& mine);
// The peer on `slot` announced its extensions: it gets what we show now.
void presencePeerAnnounced(int slot);
// A received cell write of the peer on `slot` (interpreter): recorded for the flash.
void presenceCellsWritten(int slot, const struct WireCells& c);
// A "PRESENCE" action arrived from `slot` (its receiving thread): false when
// the peer sends more than PRESENCE_FLOOD_RATE a second beyond a burst of
// PRESENCE_FLOOD_BURST (logged): the connection is cut.
bool presenceArrived(int slot);

// A peer as the view and the client list show it (main thread).
struct PresenceView {
  char name[NAME_LEN];
  unsigned gen;          // the slot's peer: changes when another peer takes it
  uint32_t colour;       // told, or derived from its name
  bool known;            // a presence was received
  Presence shown;        // valid when known
  uint32_t idleMs;       // since its pointer last moved
  bool viewer;           // joined as a viewer (shown in the client list)
  int writes;            // its cell writes younger than PRESENCE_FLASH_MS on `shown.map`...
  PresenceRect written[PRESENCE_WRITE_RING];
  uint32_t writtenAgeMs[PRESENCE_WRITE_RING];  // ...and how old each is
};
// The peer on `slot` once our connection to it is up; with `map`, only its
// writes to that map are listed (null: none). False when no peer is there.
bool presenceOf(int slot, const char* map, PresenceView* out);

// Token bucket of the flood check, on its own for the tests: one update at
// `nowMs`; false once the peer is over its rate.
struct PresenceRate {
  bool started = false;
  uint32_t lastMs = 0;
  int32_t tokens = 0;  // in thousandths of an update
};
bool presenceRateOk(PresenceRate& r, uint32_t nowMs);
// Forgets what was last sent and the colour set (tests).
void presenceReset();
