// The map file layout, on its own: parse and write without touching the
// disk, the library or the open-map list (the fuzzer drives the parser).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "model/model.h"

enum MapRead {
  MAP_READ_OK,         // whole map, end marker "$"
  MAP_READ_BAD_END,    // whole map, end marker wrong or missing: still usable
  MAP_READ_CORRUPT,    // bad start marker, truncated, bad lengths, no NUL
  MAP_READ_TOO_BIG,    // more than MAX_LAYER_CELLS cells per layer
  MAP_READ_NO_MEMORY,  // an allocation the file justifies failed
};

// Parses a whole map file. Every length is checked against the bytes left
// before anything is allocated. On OK and BAD_END, out holds the map with
// sysname, w, h, viewX, viewY and the layers (no filename, no surfaces); on
// the other results out is left empty. The stored file name is skipped.
MapRead readMapBytes(const unsigned char* data, size_t n, Map* out);
// Same, streaming from f, which holds exactly size bytes from its position.
MapRead readMapStream(FILE* f, size_t size, Map* out);
// Writes m in the file layout, layers top-down. A layer with null cells is
// written as zeros. False when a write fails or a string does not fit its
// 16-bit length.
bool writeMapStream(FILE* f, const Map* m);
// Writes m to "maps/<smap>.map" beside the old file, flushed, then renamed
// over it; false (old file whole) when anything fails.
bool writeMapFile(const char* smap, const Map* m);
// Uninitialised room for a layer's cells, released with free(); big
// layers are placed in huge pages where the system offers them.
int32_t* allocCells(size_t cells);
// Frees the layers, cells and names of m (not m itself, not the surfaces,
// which the library owns) and leaves m empty.
void freeMapRecord(Map* m);
