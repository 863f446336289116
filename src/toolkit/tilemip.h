// Tilesets scaled down once, for the zoomed-out map view and the overview.
//
// Level k (1 to 4) holds every tile of a sheet at 16 >> k pixels a side (8,
// 4, 2, 1): each pixel is the average of a 2^k x 2^k block of what the
// sheet's own blit draws there, colour key and alpha included. The average
// is taken over colour premultiplied by coverage, so a block half covered by
// a keyed hole comes out half transparent instead of picking up the key's
// colour. Built on the first request, like the tile cache, and dropped with
// the sheet (tilesetFree).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

struct SDL_Surface;

const int TILE_MIP_LEVELS = 4;  // 16 >> 4 = one pixel a tile (the overview)

enum MipKind : uint8_t {
  MIP_EMPTY,   // draws nothing
  MIP_OPAQUE,  // every pixel covered: hides what lies under it
  MIP_MIXED,   // covered, uncovered and partly covered pixels
};

struct TileMip {
  int level = 0, side = 0;  // side = 16 >> level
  // side * side pixels a tile, row by row: the colour premultiplied by the
  // coverage in the target's three colour bytes, the coverage (0 to 255) in
  // the top byte. No colour byte exceeds the coverage. One tile more than
  // the sheet has, empty: numbers past the sheet are drawn as it.
  std::vector<uint32_t> pixels;
  std::vector<uint8_t> kind;  // MipKind of each tile number, and of the empty last one
  // The whole sheet at this level, partial tiles included (background
  // layers are drawn whole): imageW x imageH pixels as above.
  int imageW = 0, imageH = 0;
  std::vector<uint32_t> image;
};

// Level `level` of `sheet` for drawing onto surfaces in `target`'s layout,
// built now if needed. Null without whole tiles, for a level out of range,
// or for a target that is not 32 bits a pixel with 24 bits of colour.
const TileMip* tileMipGet(SDL_Surface* sheet, SDL_Surface* target, int level);

inline int tileMipKind(const TileMip* m, int element) {
  return m && element >= 0 && (size_t)element < m->kind.size() ? (int)m->kind[element] : (int)MIP_EMPTY;
}

// `under` with a mip pixel drawn over it: colour + under x (1 - coverage),
// each channel rounded to nearest. The top byte comes out clear.
inline uint32_t tileMipOver(uint32_t under, uint32_t px) {
  uint32_t a = px >> 24;
  if (a == 255) return px & 0xFFFFFFu;
  if (a == 0) return under & 0xFFFFFFu;
  uint32_t k = 255 - a;
  // Two channels a multiply, 16 bits apart; x / 255 rounded is
  // (x + 128 + ((x + 128) >> 8)) >> 8 for every x up to 255 * 255.
  uint32_t rb = (under & 0xFF00FFu) * k + 0x800080u;
  rb = ((rb + ((rb >> 8) & 0xFF00FFu)) >> 8) & 0xFF00FFu;
  uint32_t g = ((under >> 8) & 0xFFu) * k + 0x80u;
  g = ((g + (g >> 8)) >> 8) & 0xFFu;
  return (px & 0xFFFFFFu) + (rb | g << 8);
}

// Draws one row of `count` cells at level m->level: cell c's tiles are
// cells[i][c] of mips[i], i from 0 (bottom) to layers - 1, drawn at
// (x + c * side, y) of dst, clipped to it. A null mip draws nothing. With
// `fromBlack` the cells start black, else from what dst holds.
void tileMipDrawRow(const TileMip* const* mips, const int32_t* const* cells, int layers, int count,
                    SDL_Surface* dst, int x, int y, bool fromBlack);
// The whole sheet at the mip's level, its top-left corner at (x, y) of dst.
void tileMipDrawImage(const TileMip* m, SDL_Surface* dst, int x, int y);

void tileMipDrop(SDL_Surface* sheet);  // before the sheet is freed
void tileMipClear();
// Draws rows with AVX2 when `on` and the processor has it (the default),
// else four pixels a vector; returns whether AVX2 is used (tests).
bool tileMipUseWide(bool on);
