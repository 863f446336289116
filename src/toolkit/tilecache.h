// Per-tileset tiles kept in a form that blits fast onto the map view.
//
// Blitting a 16x16 sub-rectangle of a whole sheet is slow (an RLE-keyed
// sheet is rescanned from its top on every blit, other formats are converted
// pixel by pixel). The cache cuts each tileset once into tiles recorded in
// the view's own format and draws from those, with the very pixels the sheet
// blit gives. It is built on the first draw of a tileset, shared by every
// layer that borrows the surface, and dropped by tilesetFree.
#pragma once
#include "core/core.h"

#include <stdint.h>
#include <vector>

struct SDL_Surface;
struct SDL_PixelFormat;

enum TileKind : uint8_t {
  TILE_EMPTY,    // the blit writes nothing
  TILE_OPAQUE,   // every pixel written with a fixed value: hides whatever lies under it
  TILE_PIXELS,   // fixed pixels and holes (`hole`) where nothing is written
  TILE_BLENDED,  // also pixels blended with what lies under them
  TILE_ALPHA,    // blended pixels and untouched ones only: every row drawn as ROW_ALPHA
  TILE_SURFACE,  // drawn from its own surface in the sheet's format (blend not reproduced)
};
enum TileRow : uint8_t {
  ROW_NONE,     // nothing written
  ROW_FULL,     // 16 fixed pixels
  ROW_MASKED,   // fixed pixels, and `hole` where nothing is written
  ROW_BLENDED,  // also pixels that depend on what lies under them
  ROW_ALPHA,    // blended pixels and untouched ones only: alpha 0 in pixels marks the
                // untouched, so the row is drawn without reading its mask
};
// TILE_SIGNED: the colour bytes of blended pixels are kept less 128, as the
// vector blend reads them.
enum : uint32_t { TILE_FIXED = 0xFFFFFFFFu, TILE_BLEND = 1, TILE_SIGNED = 0x808080 };

// What anything made from a sheet depends on: its size, pixel format, key
// and alpha. A change (or a sheet at a reused address) means a rebuild.
struct SheetSignature {
  int w = 0, h = 0, bpp = 0;
  uint32_t flags = 0, colorkey = 0, masks[4] = {0, 0, 0, 0};
  uint8_t alpha = 0;
  bool operator==(const SheetSignature& o) const {
    return w == o.w && h == o.h && bpp == o.bpp && flags == o.flags && colorkey == o.colorkey &&
           masks[0] == o.masks[0] && masks[1] == o.masks[1] && masks[2] == o.masks[2] && masks[3] == o.masks[3] &&
           alpha == o.alpha;
  }
};
SheetSignature sheetSignature(const SDL_Surface* sheet);

struct TileCache {
  SDL_Surface* sheet = nullptr;       // the tileset surface it was cut from
  std::vector<uint8_t> kind;            // TileKind of each tile number
  std::vector<SDL_Surface*> tiles;    // TILE_SURFACE tiles; null for the others
  // 256 per tile, row by row. masks: TILE_FIXED where pixels holds the
  // value written, TILE_BLEND where pixels holds alpha << 24 | 0xRRGGBB ^
  // TILE_SIGNED of a blended source pixel, 0 where nothing is written.
  std::vector<uint32_t> pixels, masks;
  // A value no fixed pixel of the sheet has, stored where nothing is
  // written: rows without blended pixels need no mask.
  uint32_t hole = 0;
  std::vector<uint8_t> rowKind;         // TileRow, 16 per tile
  // What the tiles depend on; a change (or a reused address) means a rebuild.
  SheetSignature signature;
  SDL_PixelFormat* target = nullptr;  // format of the surface the tiles are made for
};

// The cache of `sheet` for drawing onto surfaces in `target`'s format, built
// now if needed. Null when the sheet has no whole tile (null, narrower than
// 16 pixels) or the tiles cannot be made.
const TileCache* tileCacheGet(SDL_Surface* sheet, SDL_Surface* target);
// True when tile `element` covers its whole 16x16 square with fixed pixels,
// so nothing drawn under it shows.
// The TileKind of tile `element`; TILE_EMPTY past the sheet.
inline int tileCacheKind(const TileCache* c, int element) {
  return c && element >= 0 && (size_t)element < c->kind.size() ? (int)c->kind[element] : (int)TILE_EMPTY;
}
inline bool tileCacheOpaque(const TileCache* c, int element) { return tileCacheKind(c, element) == TILE_OPAQUE; }
// False when tile `element` draws nothing (empty, or past the sheet).
inline bool tileCacheDraws(const TileCache* c, int element) { return tileCacheKind(c, element) != TILE_EMPTY; }
// Draws tile `element` at (x, y) of `dst`, exactly as a blit of that tile's
// rectangle from the sheet would. Numbers past the sheet draw nothing.
void tileCacheBlit(const TileCache* c, int element, SDL_Surface* dst, int x, int y);
// The same for a tile lying wholly inside `dst` (the view's cells), without
// clipping.
void tileCacheDrawWhole(const TileCache* c, int element, SDL_Surface* dst, int x, int y);
// The tiles elements[k] of caches[k], k from 0 to count - 1, drawn whole at
// (x, y) in that order, as by tileCacheDrawWhole (a null cache draws
// nothing). With `under` (a pixel value of dst), the tiles' square is first
// filled with it: the lowest tile's holes are written once.
const int TILE_CELL_RUN = 16;  // most tiles tileCacheDrawCell takes at once
void tileCacheDrawCell(const TileCache* const* caches, const int* elements, int count, SDL_Surface* dst, int x,
                       int y, const uint32_t* under);
// One pixel `d` of a 32-bit target without alpha (red, green, blue from the
// top byte down) after a per-pixel-alpha source pixel of colour `s`
// (0xRRGGBB) and alpha `a` (1 to 255) is blitted onto it, as the library
// blends: each channel moves by ((s - d) * a + 255) / 256 rounded down (alpha
// 255 included, which is no plain copy). The library leaves the blue sum
// unmasked, so a negative blue step sets bit 24; the rest of the top byte is
// cleared. Derived by experiment; the tests check it against the library's
// blit for every source, destination and alpha value of each channel.
inline uint32_t tileBlendPixel(uint32_t s, uint32_t a, uint32_t d) {
  int dr = d >> 16 & 0xFF, dg = d >> 8 & 0xFF, db = d & 0xFF;
  int tr = ((int)(s >> 16 & 0xFF) - dr) * (int)a + 255;
  int tg = ((int)(s >> 8 & 0xFF) - dg) * (int)a + 255;
  int tb = ((int)(s & 0xFF) - db) * (int)a + 255;
  return (uint32_t)(dr + (tr >> 8)) << 16 | (uint32_t)(dg + (tg >> 8)) << 8 | (uint32_t)(db + (tb >> 8)) |
         (tb < 0 ? 1u << 24 : 0u);
}
// After blits of `sheet` onto scratch surfaces about to be freed: its blit
// mapping points at one of them; changing its key and back makes the
// library map it afresh.
void tileSheetRemap(SDL_Surface* sheet);
// Forgets the tiles of `sheet` (before the sheet is freed).
void tileCacheDrop(SDL_Surface* sheet);
void tileCacheClear();
// Number of tilesets cached (tests).
int tileCacheSize();
// Draws rows with AVX2 when `on` and the processor has it (the default), else
// with the baseline vector code; returns whether AVX2 is used (tests).
bool tileCacheUseWide(bool on);
