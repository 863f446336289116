// Tilesets scaled down by averaging. The sheet is blitted, one row of tiles
// at a time, by the library itself onto black and onto white: a pixel's
// result on black is its colour premultiplied by its coverage, and the
// difference between the two results is what shows through, so the
// coverage of keyed holes, per-pixel and whole-surface alpha come out of the
// sheet's own blit whatever its format. Blocks of those are then averaged.
#include "toolkit/tilemip.h"

#include <SDL/SDL.h>

#include <map>
#include <utility>

#include "core/core.h"
#include "toolkit/tilecache.h"

namespace {
const int kTile = TILE;
const size_t kMaxTiles = 1 << 16;  // a 4096 x 4096 sheet; larger ones are not drawn zoomed out
const Uint32 kColour = 0xFFFFFFu;   // the three colour bytes of the targets mips are made for
const Uint32 kStateFlags = SDL_SRCCOLORKEY | SDL_SRCALPHA | SDL_RLEACCELOK;

std::map<std::pair<SDL_Surface*, int>, TileMip> mips;

bool targetFits(const SDL_Surface* t) {
  const SDL_PixelFormat* f = t->format;
  return f->BytesPerPixel == 4 && f->Amask == 0 && (f->Rmask | f->Gmask | f->Bmask) == kColour;
}

void takeSignature(TileMip& m, SDL_Surface* s, SDL_Surface* target) {
  m.w = s->w;
  m.h = s->h;
  m.bpp = s->format->BitsPerPixel;
  m.flags = s->flags & kStateFlags;
  m.colorkey = s->format->colorkey;
  m.alpha = s->format->alpha;
  const Uint32 masks[4] = {s->format->Rmask, s->format->Gmask, s->format->Bmask, s->format->Amask};
  for (int i = 0; i < 4; i++) m.masks[i] = masks[i];
  m.targetMasks[0] = target->format->Rmask;
  m.targetMasks[1] = target->format->Gmask;
  m.targetMasks[2] = target->format->Bmask;
}

bool sameSignature(const TileMip& m, SDL_Surface* s, SDL_Surface* target) {
  TileMip now;
  takeSignature(now, s, target);
  bool same = now.w == m.w && now.h == m.h && now.bpp == m.bpp && now.flags == m.flags &&
              now.colorkey == m.colorkey && now.alpha == m.alpha;
  for (int i = 0; i < 4; i++) same = same && now.masks[i] == m.masks[i];
  for (int i = 0; i < 3; i++) same = same && now.targetMasks[i] == m.targetMasks[i];
  return same;
}

SDL_Surface* scratch(int w, int h, const SDL_PixelFormat* f, Uint32 colour) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, f->Rmask, f->Gmask, f->Bmask, 0);
  if (s) SDL_FillRect(s, nullptr, colour);
  return s;
}

Uint32* row32(SDL_Surface* s, int y) { return (Uint32*)((Uint8*)s->pixels + y * s->pitch); }

// Sums of one row of blocks: three colour bytes and the coverage per block.
struct BlockSums {
  std::vector<Uint32> sum;
  explicit BlockSums(int blocks) : sum((size_t)blocks * 4, 0) {}
  // Adds one pixel from its results on black (b) and white (w).
  void add(int block, Uint32 b, Uint32 w) {
    Uint32* s = &sum[(size_t)block * 4];
    int cover = 0;
    for (int c = 0; c < 3; c++) {
      int bc = b >> (8 * c) & 0xFF, wc = w >> (8 * c) & 0xFF;
      int through = wc - bc;  // how much of white shows through
      cover += 255 - (through < 0 ? 0 : through > 255 ? 255 : through);
      s[c] += (Uint32)bc;
    }
    s[3] += (Uint32)((cover + 1) / 3);
  }
  // The block's average (pixels outside the sheet count as uncovered).
  Uint32 average(int block, Uint32 pixels) const {
    const Uint32* s = &sum[(size_t)block * 4];
    Uint32 cover = (s[3] + pixels / 2) / pixels, out = cover << 24;
    for (int c = 0; c < 3; c++) {
      Uint32 v = (s[c] + pixels / 2) / pixels;
      out |= (v < cover ? v : cover) << (8 * c);
    }
    return out;
  }
};

// The whole sheet averaged over 2^level blocks, one row of tiles at a time.
bool averageImage(TileMip& m, SDL_Surface* sheet, SDL_Surface* target) {
  int n = 1 << m.level;
  m.imageW = (sheet->w + n - 1) >> m.level;
  m.imageH = (sheet->h + n - 1) >> m.level;
  m.image.assign((size_t)m.imageW * m.imageH, 0);
  SDL_Surface* black = scratch(sheet->w, kTile, target->format, 0);
  SDL_Surface* white = scratch(sheet->w, kTile, target->format, kColour);
  bool ok = black && white;
  BlockSums sums(m.imageW);
  for (int y0 = 0; ok && y0 < sheet->h; y0 += kTile) {
    int rows = sheet->h - y0 < kTile ? sheet->h - y0 : kTile;
    SDL_Rect band = {0, (Sint16)y0, (Uint16)sheet->w, (Uint16)rows};
    SDL_FillRect(black, nullptr, 0);
    SDL_FillRect(white, nullptr, kColour);
    SDL_Rect at = {0, 0, 0, 0};
    ok = SDL_BlitSurface(sheet, &band, black, &at) == 0;
    at = {0, 0, 0, 0};
    ok = ok && SDL_BlitSurface(sheet, &band, white, &at) == 0;
    for (int r = 0; ok && r < rows; r++) {
      const Uint32 *b = row32(black, r), *w = row32(white, r);
      for (int x = 0; x < sheet->w; x++) sums.add(x >> m.level, b[x] & kColour, w[x] & kColour);
      int y = y0 + r;
      if ((y + 1) % n && y + 1 < sheet->h) continue;  // the block row goes on
      Uint32* out = &m.image[(size_t)(y >> m.level) * m.imageW];
      for (int i = 0; i < m.imageW; i++) out[i] = sums.average(i, (Uint32)(n * n));
      sums.sum.assign(sums.sum.size(), 0);
    }
  }
  if (black) SDL_FreeSurface(black);
  if (white) SDL_FreeSurface(white);
  tileSheetRemap(sheet);
  return ok;
}

// Each tile's pixels, side x side together, and its kind.
void cutTiles(TileMip& m, int perRow, size_t count) {
  int side = m.side, px = side * side;
  m.pixels.assign(count * px, 0);
  m.kind.assign(count, MIP_EMPTY);
  for (size_t t = 0; t < count; t++) {
    int x0 = (int)(t % perRow) * side, y0 = (int)(t / perRow) * side;
    Uint32* out = &m.pixels[t * px];
    int full = 0, none = 0;
    for (int v = 0; v < side; v++)
      for (int u = 0; u < side; u++) {
        int y = y0 + v, x = x0 + u;
        Uint32 p = y < m.imageH && x < m.imageW ? m.image[(size_t)y * m.imageW + x] : 0;
        out[v * side + u] = p;
        full += p >> 24 == 255;
        none += p >> 24 == 0;
      }
    m.kind[t] = full == px ? MIP_OPAQUE : none == px ? MIP_EMPTY : MIP_MIXED;
  }
}

bool build(TileMip& m, SDL_Surface* sheet, SDL_Surface* target, int level) {
  int perRow = sheet->w / kTile, rows = (sheet->h + kTile - 1) / kTile;
  size_t count = (size_t)perRow * rows;
  if (count == 0 || count > kMaxTiles) return false;
  m.level = level;
  m.side = kTile >> level;
  if (!averageImage(m, sheet, target)) return false;
  cutTiles(m, perRow, count);
  return true;
}

// A block of pixels of one cell written to dst, clipped: rows [y0, y1) and
// columns [x0, x1) of the side x side block whose top-left is at `d`.
template <int S>
inline void storeBlock(const Uint32* acc, Uint32* d, int pitch, int x0, int x1, int y0, int y1) {
  if (x0 == 0 && x1 == S && y0 == 0 && y1 == S) {
    for (int v = 0; v < S; v++)
      for (int u = 0; u < S; u++) d[v * pitch + u] = acc[v * S + u];
    return;
  }
  for (int v = y0; v < y1; v++)
    for (int u = x0; u < x1; u++) d[v * pitch + u] = acc[v * S + u];
}

template <int S>
void drawRowOf(const TileMip* const* mips, const int32_t* const* cells, int layers, int count,
               SDL_Surface* dst, int x, int y, bool fromBlack) {
  const int kPixels = S * S;
  int pitch = dst->pitch / 4;
  int y0 = y < 0 ? -y : 0, y1 = dst->h - y < S ? dst->h - y : S;
  if (y0 >= y1) return;
  for (int c = 0; c < count; c++) {
    int cx = x + c * S;
    if (cx + S <= 0) continue;
    if (cx >= dst->w) break;
    int x0 = cx < 0 ? -cx : 0, x1 = dst->w - cx < S ? dst->w - cx : S;
    Uint32* d = row32(dst, y) + cx;  // may point before the row: only [x0, x1) x [y0, y1) is touched
    Uint32 acc[kPixels];
    int top = layers - 1;
    while (top >= 0 && tileMipKind(mips[top], cells[top][c]) != MIP_OPAQUE) top--;
    if (top >= 0) {
      const Uint32* p = &mips[top]->pixels[(size_t)cells[top][c] * kPixels];
      for (int k = 0; k < kPixels; k++) acc[k] = p[k] & kColour;
    } else if (fromBlack) {
      for (int k = 0; k < kPixels; k++) acc[k] = 0;
    } else {
      for (int v = 0; v < S; v++)
        for (int u = 0; u < S; u++)
          acc[v * S + u] = u >= x0 && u < x1 && v >= y0 && v < y1 ? d[v * pitch + u] : 0;
    }
    for (int i = top + 1; i < layers; i++) {
      int e = cells[i][c];
      if (tileMipKind(mips[i], e) != MIP_MIXED) continue;  // none above `top` is opaque
      const Uint32* p = &mips[i]->pixels[(size_t)e * kPixels];
      for (int k = 0; k < kPixels; k++) acc[k] = tileMipOver(acc[k], p[k]);
    }
    storeBlock<S>(acc, d, pitch, x0, x1, y0, y1);
  }
}
}  // namespace

const TileMip* tileMipGet(SDL_Surface* sheet, SDL_Surface* target, int level) {
  if (!sheet || !target || level < 1 || level > TILE_MIP_LEVELS || sheet->w < kTile || sheet->h <= 0 ||
      !targetFits(target))
    return nullptr;
  auto key = std::make_pair(sheet, level);
  auto it = mips.find(key);
  if (it != mips.end() && sameSignature(it->second, sheet, target))
    return it->second.kind.empty() ? nullptr : &it->second;
  TileMip& m = mips[key];
  m = TileMip();
  // The signature first: a sheet that cannot be scaled is not retried on every frame.
  takeSignature(m, sheet, target);
  if (!build(m, sheet, target, level)) {
    m.kind.clear();
    return nullptr;
  }
  return &m;
}

void tileMipDrawRow(const TileMip* const* mips, const int32_t* const* cells, int layers, int count,
                    SDL_Surface* dst, int x, int y, bool fromBlack) {
  if (!dst || layers <= 0 || count <= 0 || !targetFits(dst)) return;
  int side = 0;
  for (int i = 0; i < layers && !side; i++) side = mips[i] ? mips[i]->side : 0;
  for (int i = 0; i < layers; i++)
    if (mips[i] && mips[i]->side != side) return;  // one level a row
  if (!side) return;
  bool locked = SDL_MUSTLOCK(dst);
  if (locked && SDL_LockSurface(dst) < 0) return;
  switch (side) {
    case 8: drawRowOf<8>(mips, cells, layers, count, dst, x, y, fromBlack); break;
    case 4: drawRowOf<4>(mips, cells, layers, count, dst, x, y, fromBlack); break;
    case 2: drawRowOf<2>(mips, cells, layers, count, dst, x, y, fromBlack); break;
    case 1: drawRowOf<1>(mips, cells, layers, count, dst, x, y, fromBlack); break;
  }
  if (locked) SDL_UnlockSurface(dst);
}

void tileMipDrawImage(const TileMip* m, SDL_Surface* dst, int x, int y) {
  if (!m || !dst || !targetFits(dst)) return;
  bool locked = SDL_MUSTLOCK(dst);
  if (locked && SDL_LockSurface(dst) < 0) return;
  for (int v = y < 0 ? -y : 0; v < m->imageH && y + v < dst->h; v++) {
    Uint32* d = row32(dst, y + v);
    const Uint32* s = &m->image[(size_t)v * m->imageW];
    for (int u = x < 0 ? -x : 0; u < m->imageW && x + u < dst->w; u++) d[x + u] = tileMipOver(d[x + u], s[u]);
  }
  if (locked) SDL_UnlockSurface(dst);
}

void tileMipDrop(SDL_Surface* sheet) {
  for (int level = 1; level <= TILE_MIP_LEVELS; level++) mips.erase(std::make_pair(sheet, level));
}

void tileMipClear() { mips.clear(); }
