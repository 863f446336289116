// The presence's part of a peer's record (Peer::presence), reset with the
// slot (resetPeer).
#pragma once
#include <stdint.h>

#include "net/presence.h"

// A cell write of the peer, for the flash: the map by a hash of its name
// (a collision only flashes a rectangle on the wrong map).
struct PeerWrite {
  uint32_t mapKey = 0;
  PresenceRect cells;
  uint32_t at = 0;  // coreMillis
};

struct PeerPresence {
  // Main thread.
  bool known = false;       // a valid "PRESENCE" was applied
  Presence shown;           // the last one
  uint32_t movedAt = 0;     // when its pointer last moved (or it came)
  bool warned = false;      // a malformed body was logged once
  PeerWrite writes[PRESENCE_WRITE_RING];
  int nextWrite = 0;        // the ring's next entry
  bool viewer = false;      // joined as a viewer: the role rework sets it
  // The receiving thread's, until the slot is freed.
  PresenceRate rate;
};

uint32_t presenceMapKey(const char* map);
