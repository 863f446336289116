// The table of command words (wire.h) and the cell-write bodies.
#include "net/wire.h"

#include <stdio.h>
#include <string.h>

#include "net/handlers.h"
#include "net/net.h"

namespace {
// In the order the interpreter of the base protocol compared them, then the
// extensions' words. Bodies: filename is a map's file name, numbers decimal.
const WireWord kWords[] = {
    {"PARTTHIS!", 0, WIRE_NO_TRANSFER, "%s %d %ld %ld %ld: filename layer x y element", onPartThis},
    {"ADDLAYER", 0, WIRE_TILESET, "%s %s %d: filename tileset bg", onAddLayer},
    {"DELETELAYER", 0, WIRE_NO_TRANSFER, "%ld %ld: the sender's map slot, layer", onDeleteLayer},
    {"SENDPC", 0, WIRE_PASS, "%s: tileset", onPassConditions},
    {"SETLAYERBGXY", 0, WIRE_NO_TRANSFER, "%s %d %d %d %d: filename layer bg x y", onBackground},
    {"SILENTOPEN", 0, WIRE_NO_TRANSFER, "%s: the filename the sender shows", onSilentOpen},
    {"NEWMAP", 0, WIRE_NO_TRANSFER, "%s %ld %ld: filename width height", onNewMap},
    {"DRAWSQUARE", 0, WIRE_NO_TRANSFER, "%s %d %ld %ld %ld %ld %ld: filename layer x1 y1 x2 y2 element",
     onDrawSquare},
    {"SENDMAPSYSNAME", 0, WIRE_NO_TRANSFER, "%s %s: filename, display name (the rest of the body)", onRename},
    {"DISCONNECT!", 0, WIRE_NO_TRANSFER, "none: the header block alone", nullptr},
    {"EXTENSIONS", 0, WIRE_NO_TRANSFER, "the extension words the sender speaks, blank-separated",
     onExtensions},
    // "AUTH": the key proof, taken by the receiving thread before anything else.
    {"AUTHNONCE", EXT_AUTH, WIRE_NO_TRANSFER, "64 hex digits: the sender's nonce", nullptr},
    {"AUTHPROOF", EXT_AUTH, WIRE_NO_TRANSFER, "64 hex digits: HMAC of both nonces", nullptr},
    // "SYNC": copies compared and sent, stamped cell writes.
    {"STAMP", EXT_SYNC, WIRE_NO_TRANSFER, "%llu %llu: clock site of the next cell write", onStamp},
    {"SYNCLIST", EXT_SYNC, WIRE_NO_TRANSFER, "last site joined clock (digest filename)...", onSyncList},
    {"SYNCTILESET", EXT_SYNC, WIRE_TILESET, "%s %s 0: filename tileset (a tileset offer)", onSyncTileset},
    {"SYNCMAP", EXT_SYNC, WIRE_NO_TRANSFER, "%s %zu %lu %s: filename raw compressed digest", onSyncMap},
    {"SYNCDATA", EXT_SYNC, WIRE_NO_TRANSFER, "base64 of the next piece of the zlib stream", onSyncData},
    {"SYNCCHECK", EXT_SYNC, WIRE_NO_TRANSFER, "%llu %s %s: site digest filename", onSyncCheck},
    {"SYNCWANT", EXT_SYNC, WIRE_NO_TRANSFER, "%s: filename", onSyncWant},
    // "LAYERS": layer edits that name their map.
    {"LAYERDEL", EXT_LAYERS, WIRE_NO_TRANSFER, "%s %ld: filename layer", onLayerDelete},
    {"LAYERMOVE", EXT_LAYERS, WIRE_NO_TRANSFER, "%s %d %d: filename from to", onLayerMove},
    // "MEMBERS": the session's other editors.
    {"MEMBERS", EXT_MEMBERS, WIRE_NO_TRANSFER, "host:port...", onMembers},
    // "NAMES": layer names; with "SYNC", a map's sidecar after its copy.
    {"LAYERNAME", EXT_NAMES, WIRE_NO_TRANSFER, "%s %d %s: filename layer name (the rest of the body)",
     onLayerName},
    {"SYNCSIDECAR", EXT_NAMES | EXT_SYNC, WIRE_NO_TRANSFER,
     "%s %d %d %s: filename part parts, then a piece of the sidecar's JSON text", onSyncSidecar},
    // "RESIZE": a map's new size, every layer at once.
    {"MAPRESIZE", EXT_RESIZE, WIRE_NO_TRANSFER, "%s %lu %lu: filename width height", onMapResize},
    // "ENTITIES": one action per change of an instance or a definition.
    {"ENTPLACE", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %llu %llu %s: filename clock site instance-JSON", onEntityPlace},
    {"ENTMOVE", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %s %d %d %llu %llu: filename id x y clock site", onEntityMove},
    {"ENTFIELD", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %s %llu %llu %s %s: filename id clock site field value-JSON",
     onEntityField},
    {"ENTDEL", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %s: filename id", onEntityDelete},
    {"ENTMODEL", EXT_ENTITIES, WIRE_NO_TRANSFER, "definition-JSON", onEntityModel},
    {"ENTMODELDEL", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s: name", onEntityModelDelete},
    {nullptr, 0, WIRE_NO_TRANSFER, nullptr, nullptr},
};
}  // namespace

const WireWord* wireWords() { return kWords; }

const WireWord* wireWord(const char* word) {
  for (const WireWord* w = kWords; w->word; w++)
    if (strcmp(w->word, word) == 0) return w;
  return nullptr;
}

bool wireReadCells(const char* header, const char* corps, WireCells* c) {
  c->square = strcmp(header, "DRAWSQUARE") == 0;
  if (c->square)
    return sscanf(corps, "%255s %ld %ld %ld %ld %ld %ld", c->map, &c->layer, &c->x1, &c->y1, &c->x2, &c->y2,
                  &c->element) == 7;
  if (strcmp(header, "PARTTHIS!") != 0) return false;
  if (sscanf(corps, "%255s %ld %ld %ld %ld", c->map, &c->layer, &c->x1, &c->y1, &c->element) != 5) return false;
  c->x2 = c->x1;
  c->y2 = c->y1;
  return true;
}

const char* wireFormatCells(const WireCells& c, char* out, size_t cap) {
  int k = c.square ? snprintf(out, cap, "%s %ld %ld %ld %ld %ld %ld", c.map, c.layer, c.x1, c.y1, c.x2, c.y2,
                              c.element)
                   : snprintf(out, cap, "%s %ld %ld %ld %ld", c.map, c.layer, c.x1, c.y1, c.element);
  const char* word = c.square ? "DRAWSQUARE" : "PARTTHIS!";
  if (k >= 0 && (size_t)k < cap) return word;
  printf("Action %s trop longue: non envoyee!\n", word);
  return nullptr;
}
