// Layer names ("LAYERNAME"), map sizes ("MAPRESIZE") and the per-map
// sidecar with a sync copy ("SYNCSIDECAR"), only between editors that
// announced "NAMES" / "RESIZE": a base peer gets none of it, and a resize is
// refused while one is connected (its copy would keep the old size).
#include "net/extras.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "model/sidecar.h"
#include "net/handlers.h"
#include "net/netio.h"
#include "net/sync.h"
#include "net/syncstate.h"

namespace {
const size_t SIDECAR_PIECE = 30000;  // sidecar text per "SYNCSIDECAR", within the receive limit
const int SIDECAR_PARTS_MAX = (SIDECAR_MAX_BYTES + SIDECAR_PIECE - 1) / SIDECAR_PIECE;
const size_t NAME_BODY_LEN = NAME_WORD + 32 + LAYER_NAME_MAX;  // map, layer, name
static_assert(NAME_WORD + 64 + SIDECAR_PIECE < RECV_BUFFER, "a sidecar piece fits the receive limit");

void dropIncoming(IncomingSidecar& in, const char* why) {
  if (!in.map.empty()) printf("Synchro: sidecar de la map %s abandonne (%s).\n", in.map.c_str(), why);
  in = IncomingSidecar();
}
}  // namespace

int peersLacking(unsigned ext) {
  std::lock_guard<std::mutex> g(peersLock);
  int n = 0;
  for (const Peer& p : peers) n += p.clientReady && !p.dropping && (p.extensions & ext) != ext;
  return n;
}

bool action_setLayerName(long map, int layer, const char* name) {
  Map* m = openMapAt(map);
  if (!m || !setLayerName(m, layer, name)) return false;
  char corps[NAME_BODY_LEN];
  const char* kept = m->layer[layer]->name ? m->layer[layer]->name : "";  // "": the default again
  int n = snprintf(corps, sizeof corps, "%s %d %s", m->filename, layer, kept);
  if (net && n > 0 && (size_t)n < sizeof corps) actionSendTo(EXT_NAMES, "LAYERNAME", corps);
  return true;
}

bool action_resizeMap(long map, unsigned long w, unsigned long h, char* why, size_t cap) {
  Map* m = openMapAt(map);
  int older = net ? peersLacking(EXT_RESIZE) : 0;
  if (!m || older) {
    snprintf(why, cap, !m ? "no map open" : "%d connected editor%s of an older version would keep the old size",
             older, older == 1 ? "" : "s");
    printf("Redimensionnement refuse: %s.\n", why);
    return false;
  }
  if (!resizeMap(m, w, h, why, cap)) return false;
  char corps[NAME_BODY_LEN];
  int n = snprintf(corps, sizeof corps, "%s %lu %lu", m->filename, w, h);
  if (net && n > 0 && (size_t)n < sizeof corps) actionSendTo(EXT_RESIZE, "MAPRESIZE", corps);
  return true;
}

// "LAYERNAME filename layer name": the name is the rest of the body.
void onLayerName(const char* header, const char* corps, int) {
  char name[NAME_WORD];
  int layer = 0, used = 0;
  if (sscanf(corps, "%255s %d%n", name, &layer, &used) != 2 || (corps[used] && corps[used] != ' ')) {
    printf("Action %s ignoree: corps mal forme.\n", header);
    return;
  }
  const char* title = corps[used] ? corps + used + 1 : "";
  int m = openMapNamed(header, name);
  if (m >= 0) setLayerName(openMapAt(m), layer, title);
}

void onMapResize(const char* header, const char* corps, int) {
  char name[NAME_WORD], why[128];
  unsigned long w = 0, h = 0;
  if (sscanf(corps, "%255s %lu %lu", name, &w, &h) != 3) {
    printf("Action %s ignoree: corps mal forme.\n", header);
    return;
  }
  int m = openMapNamed(header, name);
  if (m >= 0 && !resizeMap(openMapAt(m), w, h, why, sizeof why)) printf("Action %s ignoree: %s.\n", header, why);
}

// "SYNCSIDECAR filename part parts piece": parts in order, the text taken
// (checked whole) once the last one is in.
void onSyncSidecar(const char* header, const char* corps, int slot) {
  IncomingSidecar& in = peers[slot].sidecar;
  char name[NAME_WORD];
  int part = -1, parts = 0, used = 0;
  if (sscanf(corps, "%255s %d %d%n", name, &part, &parts, &used) != 3 || corps[used] != ' ' || parts < 1 ||
      parts > SIDECAR_PARTS_MAX || part < 0 || part >= parts || !validName(name))
    return dropIncoming(in, "en-tete invalide");
  if (part == 0) in = IncomingSidecar{name, parts, 0, ""};
  const char* piece = corps + used + 1;
  size_t n = strlen(piece);
  if (in.map != name || in.parts != parts || in.next != part) return dropIncoming(in, "parties desordonnees");
  if (n > SIDECAR_PIECE || in.text.size() + n > SIDECAR_MAX_BYTES) return dropIncoming(in, "trop grand");
  in.text.append(piece, n);
  if (++in.next < in.parts) return;
  IncomingSidecar done = std::move(in);
  in = IncomingSidecar();
  if (mergeSidecarArrived(slot, peers[slot].sync, done.map, done.text)) return;
  char why[NOTICE_LEN];
  if (sidecarTake(done.map.c_str(), done.text.data(), done.text.size(), why, sizeof why)) {
    printf("Synchro: sidecar de la map %s recu de %s (%zu octets).\n", done.map.c_str(), nameOf(slot).c_str(),
           done.text.size());
    return;
  }
  printf("Synchro: sidecar de la map %s de %s refuse: %s.\n", done.map.c_str(), nameOf(slot).c_str(), why);
  char text[NOTICE_LEN];
  snprintf(text, sizeof text, "Layer names of %.40s from %.40s refused: %.80s", done.map.c_str(),
           nameOf(slot).c_str(), why);
  if (syncNoticeHook) syncNoticeHook(text);
}

std::string syncSendSidecar(int slot, const char* name) {
  std::string text;
  // A broken file here counts as none: the digest folds nothing for it either.
  if (!sidecarTextOf(name, &text)) text.clear();
  size_t parts = std::max<size_t>(1, (text.size() + SIDECAR_PIECE - 1) / SIDECAR_PIECE);
  if (sendQueuedFor(slot) + (int)parts > SEND_QUEUE_MAX) {
    printf("Synchro: sidecar de la map %s non envoye: file d'envoi pleine.\n", name);
    return text;
  }
  for (size_t k = 0; k < parts; k++) {
    std::string body = std::string(name) + " " + std::to_string(k) + " " + std::to_string(parts) + " " +
                       text.substr(k * SIDECAR_PIECE, SIDECAR_PIECE);
    actionSendToPeer(slot, "SYNCSIDECAR", body.c_str());
  }
  return text;
}

bool peerMapDigest(int slot, const char* name, MapDigest* d) {
  if (!projectMapDigest(name, d)) return false;
  if (peerHas(slot, EXT_NAMES)) sidecarFold(name, d);
  return true;
}
