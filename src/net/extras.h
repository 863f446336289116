// Layer names, map sizes and the per-map sidecar between editors that
// announced "NAMES" and "RESIZE" (extras.cpp). Main thread only.
#pragma once
#include <string>

#include "model/digest.h"

// A sidecar on its way from a peer ("SYNCSIDECAR" parts): the peer's part
// of it, on its slot record (Peer::sidecar), reset with the slot.
struct IncomingSidecar {
  std::string map;
  int parts = 0, next = 0;
  std::string text;
};

// After a map's copy to the peer on `slot`: its sidecar, in parts.
std::string syncSendSidecar(int slot, const char* name);  // the text sent
// The digest of map `name` as the peer on `slot` compares it: with the
// map's sidecar folded in when the peer keeps sidecars too.
bool peerMapDigest(int slot, const char* name, MapDigest* d);
