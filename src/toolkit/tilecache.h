// Per-tileset tiles kept in a form that blits fast onto the map view.
//
// Blitting a 16x16 sub-rectangle of a whole sheet is slow (an RLE-keyed
// sheet is rescanned from its top on every blit, other formats are converted
// pixel by pixel). The cache cuts each tileset once into one small surface
// per tile and draws from those, with the very pixels the sheet blit gives.
// It is built on the first draw of a tileset, shared by every layer that
// borrows the surface, and dropped by tilesetFree.
#pragma once
#include <SDL/SDL_video.h>

#include <vector>

enum TileKind : Uint8 {
  TILE_EMPTY,    // the blit writes nothing
  TILE_PIXELS,   // fixed pixels in the target's format, copied where the mask is set
  TILE_SURFACE,  // blended: drawn from its own surface in the sheet's format
};
enum { TILE_PIXELS_PER_TILE = 16 * 16 };

struct TileCache {
  SDL_Surface* sheet = nullptr;       // the tileset surface it was cut from
  std::vector<Uint8> kind;            // TileKind of each tile number
  std::vector<SDL_Surface*> tiles;    // TILE_SURFACE tiles; null for the others
  std::vector<Uint32> pixels, masks;  // TILE_PIXELS tiles: 256 values each, mask ~0 where written
  std::vector<Uint8> rowKind;         // 16 per tile: 0 nothing written, 1 all written, 2 some
  // What the tiles depend on; a change (or a reused address) means a rebuild.
  int w = 0, h = 0, bpp = 0;
  Uint32 flags = 0, colorkey = 0, sheetMasks[4] = {0, 0, 0, 0};
  Uint8 alpha = 0;
  SDL_PixelFormat* target = nullptr;  // format of the surface the tiles are made for
};

// The cache of `sheet` for drawing onto surfaces in `target`'s format, built
// now if needed. Null when the sheet has no whole tile (null, narrower than
// 16 pixels) or the tiles cannot be made.
const TileCache* tileCacheGet(SDL_Surface* sheet, SDL_Surface* target);
// Draws tile `element` at (x, y) of `dst`, exactly as a blit of that tile's
// rectangle from the sheet would. Numbers past the sheet draw nothing.
void tileCacheBlit(const TileCache* c, int element, SDL_Surface* dst, int x, int y);
// Forgets the tiles of `sheet` (before the sheet is freed).
void tileCacheDrop(SDL_Surface* sheet);
void tileCacheClear();
// Number of tilesets cached (tests).
int tileCacheSize();
