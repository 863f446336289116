// The wire's vocabulary: every command word, the body it carries, who may
// be sent it and who applies it. One table (wire.cpp); the senders format
// bodies through it and the interpreter dispatches through it, so no module
// formats or parses another's bodies.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// What follows a body on the same connection.
enum WireTransfer {
  WIRE_NO_TRANSFER,
  WIRE_TILESET,  // the tileset offer: "SENDIT"/"LEFTME", chunks, pass conditions
  WIRE_PASS,     // pass conditions pushed: a size block and the bytes
};

// Who applies a received word (main thread), given the body and the slot.
typedef void (*WireApply)(const char* header, const char* corps, int slot);

struct WireWord {
  const char* word;        // the command word of the header block
  unsigned ext;            // extension bit a peer must have announced (0: base protocol)
  WireTransfer transfer;
  const char* body;        // the body's format, fields named (documentation and tests)
  WireApply apply;         // null: taken before the interpreter (handshake, key proof)
  bool edits = false;      // changes the project: never applied from a viewer (WIRE_EDITS)
  // Frequent and short-lived (presence): no activity picture, no log line
  // and no panel redraw per action, nor a sign of editing for the sync.
  bool quiet = false;
};
const bool WIRE_EDITS = true, WIRE_READS = false;
// Whether a received or sent word is quiet (false for an unknown word).
bool wireQuiet(const char* word);

// The entry of a command word, or null for a word this editor does not know.
const WireWord* wireWord(const char* word);
// Every entry, ending with a null word (tests, documentation).
const WireWord* wireWords();

// A cell write's fields ("PARTTHIS!": one cell, "DRAWSQUARE": a rectangle).
struct WireCells {
  char map[256];
  long layer;
  long x1, y1, x2, y2;
  long element;
  bool square;  // sent as "DRAWSQUARE"
};
// Reads a received cell write; false for another word or a malformed body
// (the values are the caller's to check against the map).
bool wireReadCells(const char* header, const char* corps, WireCells* out);
// Formats a cell write into out (BODY_LEN); its command word, or null
// (logged) when a name does not fit.
const char* wireFormatCells(const WireCells& c, char* out, size_t cap);

// A block of cells of different values ("CELLS", extension "CELLS"): a
// rectangle of at most CELLS_BLOCK_MAX cells, their values row by row.
enum { CELLS_BLOCK_MAX = 4096 };  // 16 KiB of cells, 21848 characters of base64: within a body
struct WireBlock {
  char map[256];
  long layer, x, y, w, h;
  std::vector<int32_t> cells;
};
// Formats a block into out; false (logged) when it does not fit a body.
bool wireFormatBlock(const char* map, long layer, long x, long y, long w, long h, const int32_t* cells,
                     std::string& out);
// Reads a received block; false for a malformed body, a block over the
// bound or cells that do not match its size.
bool wireReadBlock(const char* corps, WireBlock* out);
