// The table of command words (wire.h) and the cell-write bodies.
#include "net/wire.h"

#include <stdio.h>
#include <string.h>

#include "net/handlers.h"
#include "net/net.h"
#include "net/sync.h"

namespace {
// In the order the interpreter of the base protocol compared them, then the
// extensions' words. Bodies: filename is a map's file name, numbers decimal.
// WIRE_EDITS: the word changes the project (a cell, a layer, a name, a map,
// pass conditions, a copy pushed), so a viewer's is dropped; WIRE_READS: anything else.
const WireWord kWords[] = {
    {"PARTTHIS!", 0, WIRE_NO_TRANSFER, "%s %d %ld %ld %ld: filename layer x y element", onPartThis, WIRE_EDITS},
    {"ADDLAYER", 0, WIRE_TILESET, "%s %s %d: filename tileset bg", onAddLayer, WIRE_EDITS},
    {"DELETELAYER", 0, WIRE_NO_TRANSFER, "%ld %ld: the sender's map slot, layer", onDeleteLayer, WIRE_EDITS},
    {"SENDPC", 0, WIRE_PASS, "%s: tileset", onPassConditions, WIRE_EDITS},
    {"SETLAYERBGXY", 0, WIRE_NO_TRANSFER, "%s %d %d %d %d: filename layer bg x y", onBackground, WIRE_EDITS},
    {"SILENTOPEN", 0, WIRE_NO_TRANSFER, "%s: the filename the sender shows", onSilentOpen, WIRE_READS},
    {"NEWMAP", 0, WIRE_NO_TRANSFER, "%s %ld %ld: filename width height", onNewMap, WIRE_EDITS},
    {"DRAWSQUARE", 0, WIRE_NO_TRANSFER, "%s %d %ld %ld %ld %ld %ld: filename layer x1 y1 x2 y2 element",
     onDrawSquare, WIRE_EDITS},
    {"SENDMAPSYSNAME", 0, WIRE_NO_TRANSFER, "%s %s: filename, display name (the rest of the body)", onRename, WIRE_EDITS},
    {"DISCONNECT!", 0, WIRE_NO_TRANSFER, "none: the header block alone", nullptr, WIRE_READS},
    {"EXTENSIONS", 0, WIRE_NO_TRANSFER, "the extension words the sender speaks, blank-separated",
     onExtensions, WIRE_READS},
    // "AUTH": the key proof, run on each connection before anything else goes
    // on it (keyproof.cpp), never reaching the interpreter.
    {"AUTHNONCE", EXT_AUTH, WIRE_NO_TRANSFER, "64 hex digits: the sender's nonce", nullptr, WIRE_READS},
    {"AUTHPROOF", EXT_AUTH, WIRE_NO_TRANSFER,
     "64 hex digits: HMAC of the role, the handshake blocks and both nonces", nullptr, WIRE_READS},
    {"AUTHREFUSED", EXT_AUTH, WIRE_NO_TRANSFER, "why: the joiner's answer to a proof that failed", nullptr, WIRE_READS},
    // "SYNC": copies compared and sent, stamped cell writes.
    {"STAMP", EXT_SYNC, WIRE_NO_TRANSFER, "%llu %llu: clock site of the next cell write", onStamp, WIRE_EDITS},
    {"SYNCLIST", EXT_SYNC, WIRE_NO_TRANSFER, "last site joined clock (digest filename)...", onSyncList, WIRE_READS},
    {"SYNCTILESET", EXT_SYNC, WIRE_TILESET, "%s %s 0: filename tileset (a tileset offer)", onSyncTileset, WIRE_EDITS},
    {"SYNCMAP", EXT_SYNC, WIRE_NO_TRANSFER, "%s %zu %lu %s: filename raw compressed digest", onSyncMap, WIRE_EDITS},
    {"SYNCDATA", EXT_SYNC, WIRE_NO_TRANSFER, "base64 of the next piece of the zlib stream", onSyncData, WIRE_EDITS},
    {"SYNCCHECK", EXT_SYNC, WIRE_NO_TRANSFER, "%llu %s %s: site digest filename", onSyncCheck, WIRE_READS},
    {"SYNCWANT", EXT_SYNC, WIRE_NO_TRANSFER, "%s: filename", onSyncWant, WIRE_READS},
    // "LAYERS": layer edits that name their map.
    {"LAYERDEL", EXT_LAYERS, WIRE_NO_TRANSFER, "%s %ld: filename layer", onLayerDelete, WIRE_EDITS},
    {"LAYERMOVE", EXT_LAYERS, WIRE_NO_TRANSFER, "%s %d %d: filename from to", onLayerMove, WIRE_EDITS},
    // "MEMBERS": the session's other editors.
    {"MEMBERS", EXT_MEMBERS, WIRE_NO_TRANSFER, "host:port...", onMembers, WIRE_READS},
    // "CELLS": a block of cells of different values in one body (a paste).
    {"CELLS", EXT_CELLS, WIRE_NO_TRANSFER, "%s %ld %ld %ld %ld %ld %s: filename layer x y w h, base64 of the "
     "w*h cells (little-endian 32-bit, row by row)", onCells, WIRE_EDITS},
    // "PRESENCE": where the sender's user is (net/presence.h).
    {"PRESENCE", EXT_PRESENCE, WIRE_NO_TRANSFER,
     "%s %d %d %c %d %d %d %d %d %d %d %d %06x: filename|/ px py -|b|s area(x y w h) view(x y w h) rrggbb",
     onPresence, WIRE_READS, true},
    // "NAMES": layer names; with "SYNC", a map's sidecar after its copy.
    {"LAYERNAME", EXT_NAMES, WIRE_NO_TRANSFER, "%s %d %s: filename layer name (the rest of the body)",
     onLayerName, WIRE_EDITS},
    {"SYNCSIDECAR", EXT_NAMES | EXT_SYNC, WIRE_NO_TRANSFER,
     "%s %d %d %s: filename part parts, then a piece of the sidecar's JSON text", onSyncSidecar, WIRE_EDITS},
    // "RESIZE": a map's new size, every layer at once.
    {"MAPRESIZE", EXT_RESIZE, WIRE_NO_TRANSFER, "%s %lu %lu: filename width height", onMapResize, WIRE_EDITS},
    // "ROLES": what the sender decided about this editor, inside its connection.
    {"VIEWONLY", EXT_ROLES, WIRE_NO_TRANSFER, "none: the sender admitted this editor as a viewer", onViewOnly, WIRE_READS},
    {"LEFTOUT", EXT_ROLES, WIRE_NO_TRANSFER, "none: the sender leaves this editor out, then closes", onLeftOut, WIRE_READS},
    // "ENTITIES": one action per change of an instance or a definition.
    {"ENTPLACE", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %llu %llu %s: filename clock site instance-JSON", onEntityPlace, WIRE_EDITS},
    {"ENTMOVE", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %s %d %d %llu %llu: filename id x y clock site", onEntityMove, WIRE_EDITS},
    {"ENTFIELD", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %s %llu %llu %s %s: filename id clock site field value-JSON",
     onEntityField, WIRE_EDITS},
    {"ENTDEL", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %s: filename id", onEntityDelete, WIRE_EDITS},
    {"ENTMODEL", EXT_ENTITIES, WIRE_NO_TRANSFER, "definition-JSON", onEntityModel, WIRE_EDITS},
    {"ENTMODELDEL", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s: name", onEntityModelDelete, WIRE_EDITS},
    {"ENTMODELREN", EXT_ENTITIES, WIRE_NO_TRANSFER, "%s %llu %llu %s: old-name clock site definition-JSON",
     onEntityModelRename, WIRE_EDITS},
    {nullptr, 0, WIRE_NO_TRANSFER, nullptr, nullptr, WIRE_READS},
};
}  // namespace

const WireWord* wireWords() { return kWords; }

bool wireQuiet(const char* word) {
  const WireWord* w = wireWord(word);
  return w && w->quiet;
}

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

bool wireFormatBlock(const char* map, long layer, long x, long y, long w, long h, const int32_t* cells,
                     std::string& out) {
  if (w <= 0 || h <= 0 || w * h > CELLS_BLOCK_MAX || strlen(map) >= sizeof(WireBlock::map)) return false;
  std::vector<unsigned char> bytes((size_t)(w * h) * 4);
  for (size_t k = 0; k < (size_t)(w * h); k++) {
    uint32_t v = (uint32_t)cells[k];
    for (int b = 0; b < 4; b++) bytes[4 * k + b] = (unsigned char)(v >> (8 * b));
  }
  char head[BODY_LEN];
  snprintf(head, sizeof head, "%s %ld %ld %ld %ld %ld ", map, layer, x, y, w, h);
  out = head + base64Encode(bytes.data(), bytes.size());
  return out.size() < RECV_BUFFER;
}

bool wireReadBlock(const char* corps, WireBlock* b) {
  int used = 0;
  if (sscanf(corps, "%255s %ld %ld %ld %ld %ld %n", b->map, &b->layer, &b->x, &b->y, &b->w, &b->h, &used) != 6 ||
      used == 0)
    return false;
  if (b->w <= 0 || b->h <= 0 || b->w > CELLS_BLOCK_MAX || b->h > CELLS_BLOCK_MAX || b->w * b->h > CELLS_BLOCK_MAX ||
      b->x < 0 || b->y < 0)
    return false;
  std::vector<unsigned char> bytes;
  if (!base64Decode(corps + used, strlen(corps + used), bytes) || bytes.size() != (size_t)(b->w * b->h) * 4)
    return false;
  b->cells.resize((size_t)(b->w * b->h));
  for (size_t k = 0; k < b->cells.size(); k++)
    b->cells[k] = (int32_t)((uint32_t)bytes[4 * k] | (uint32_t)bytes[4 * k + 1] << 8 |
                            (uint32_t)bytes[4 * k + 2] << 16 | (uint32_t)bytes[4 * k + 3] << 24);
  return true;
}
