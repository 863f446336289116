// Tiles cut once per tileset. Each tile's pixels are taken by blitting it
// from the sheet, with the sheet's own blit, onto scratch destinations of
// several colours: a pixel that keeps the scratch colour is transparent, a
// pixel that comes out the same on all of them is what the blit always
// writes there. A pixel whose result depends on what lies under it (per-pixel
// alpha) is kept as its source colour and alpha and blended the way the
// library blends it, when that formula gives every scratch result; a tile
// with a pixel the formula does not explain is cut in the sheet's own format
// and flags instead, so it blends exactly as the sheet does.
// Index:
//   [SECTION] building a cache
//   [SECTION] the caches of the sheets
//   [SECTION] drawing rows
//   [SECTION] drawing tiles
//   [SECTION] dropping caches
#include "toolkit/tilecache.h"

#include <SDL/SDL.h>
#include <string.h>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <unordered_map>

// [SECTION] building a cache
namespace {
const int kTile = TILE;
const int kTilePixels = TILE * TILE;
const int kMaxTiles = 1 << 14;  // larger sheets (2048 x 2048 pixels) are drawn from the sheet
const int kScratches = 5;
// Every channel low, high and in between, and the unused top byte both set
// and clear (a blend rewrites it).
const Uint32 kScratchColour[kScratches] = {0x00000000u, 0xFFFFFFFFu, 0x7F80817Eu, 0x3C01FE40u,
                                           0xA5FE0137u};

std::unordered_map<SDL_Surface*, TileCache> caches;

void freeTiles(TileCache& c) {
  for (SDL_Surface* t : c.tiles)
    if (t) SDL_FreeSurface(t);
  c.tiles.clear();
  c.kind.clear();
  c.pixels.clear();
  c.masks.clear();
  c.rowKind.clear();
}

void takeSignature(TileCache& c, SDL_Surface* s, SDL_Surface* target) {
  c.sheet = s;
  c.signature = sheetSignature(s);
  c.target = target->format;
}

bool sameSignature(const TileCache& c, SDL_Surface* s, SDL_Surface* target) {
  return c.signature == sheetSignature(s) && c.target == target->format;
}

SDL_Surface* newSurface(int w, int h, const SDL_PixelFormat* f) {
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, f->BitsPerPixel, f->Rmask, f->Gmask, f->Bmask,
                              f->Amask);
}

Uint32* row32(SDL_Surface* s, int y) { return (Uint32*)((Uint8*)s->pixels + y * s->pitch); }

Uint32 rawPixel(SDL_Surface* s, int x, int y) {
  const Uint8* p = (const Uint8*)s->pixels + y * s->pitch + x * s->format->BytesPerPixel;
  switch (s->format->BytesPerPixel) {
    case 1: return *p;
    case 2: return *(const Uint16*)p;
    case 3: return SDL_BYTEORDER == SDL_LIL_ENDIAN ? p[0] | p[1] << 8 | p[2] << 16 : p[2] | p[1] << 8 | p[0] << 16;
    default: return *(const Uint32*)p;
  }
}

// The tile's rectangle of the sheet in the sheet's own format and flags.
SDL_Surface* cutSameFormat(SDL_Surface* sheet, int sx, int sy) {
  int h = sheet->h - sy < kTile ? sheet->h - sy : kTile;
  SDL_Surface* t = newSurface(kTile, h, sheet->format);
  if (!t) return nullptr;
  SDL_PixelFormat* f = sheet->format;
  if (f->palette) SDL_SetPalette(t, SDL_LOGPAL, f->palette->colors, 0, f->palette->ncolors);
  if (SDL_LockSurface(sheet) < 0) {
    SDL_FreeSurface(t);
    return nullptr;
  }
  int bytes = kTile * f->BytesPerPixel;
  for (int y = 0; y < h; y++)
    memcpy((Uint8*)t->pixels + y * t->pitch,
           (Uint8*)sheet->pixels + (sy + y) * sheet->pitch + sx * f->BytesPerPixel, bytes);
  SDL_UnlockSurface(sheet);
  Uint32 rle = (sheet->flags & SDL_RLEACCELOK) ? SDL_RLEACCEL : 0;
  SDL_SetColorKey(t, (sheet->flags & SDL_SRCCOLORKEY) | rle, f->colorkey);
  SDL_SetAlpha(t, (sheet->flags & SDL_SRCALPHA) | rle, f->alpha);
  return t;
}

// The blend formula is known for per-pixel-alpha sheets drawn onto 32-bit
// targets without alpha, red in the top channel.
bool blendKnown(SDL_Surface* sheet, SDL_Surface* target) {
  const SDL_PixelFormat* t = target->format;
  return (sheet->flags & SDL_SRCALPHA) && sheet->format->Amask && sheet->format->BytesPerPixel == 4 &&
         t->BytesPerPixel == 4 && t->Rmask == 0xFF0000u && t->Gmask == 0xFF00u &&
         t->Bmask == 0xFFu && t->Amask == 0;
}

// Source colour (0xRRGGBB) and alpha of each tile pixel, read from the sheet
// (alpha 0 below its last row).
bool readSources(SDL_Surface* sheet, int perRow, size_t count, std::vector<Uint32>& colour,
                 std::vector<Uint8>& alpha) {
  if (SDL_LockSurface(sheet) < 0) return false;
  for (size_t t = 0; t < count; t++)
    for (int y = 0; y < kTile; y++) {
      int sy = (int)(t / perRow) * kTile + y;
      if (sy >= sheet->h) break;
      for (int x = 0; x < kTile; x++) {
        Uint8 r, g, b, a;
        SDL_GetRGBA(rawPixel(sheet, (int)(t % perRow) * kTile + x, sy), sheet->format, &r, &g, &b, &a);
        size_t p = (t * kTile + y) * kTile + x;
        colour[p] = (Uint32)r << 16 | (Uint32)g << 8 | b;
        alpha[p] = a;
      }
    }
  SDL_UnlockSurface(sheet);
  return true;
}

// Sorts the rows of tile n and sets its kind; a tile with a pixel neither
// fixed, untouched nor blended by the known formula is cut as a surface.
bool finishTile(TileCache& c, int n, int sx, int sy, bool unexplained) {
  if (unexplained) {
    c.kind[n] = TILE_SURFACE;
    c.tiles[n] = cutSameFormat(c.sheet, sx, sy);
    return c.tiles[n] != nullptr;
  }
  size_t at = (size_t)n * kTilePixels;
  int full = 0, written = 0, blendedRows = 0;
  for (int y = 0; y < kTile; y++) {
    int fixed = 0, blended = 0;
    for (int x = 0; x < kTile; x++) {
      fixed += c.masks[at + y * kTile + x] == TILE_FIXED;
      blended += c.masks[at + y * kTile + x] == TILE_BLEND;
    }
    c.rowKind[n * kTile + y] = blended && !fixed ? ROW_ALPHA
                               : blended           ? ROW_BLENDED
                               : fixed == kTile    ? ROW_FULL
                               : fixed             ? ROW_MASKED
                                                   : ROW_NONE;
    if (blended && !fixed)  // blended pixels have alpha 1 to 255; the rest say 0
      for (int x = 0; x < kTile; x++)
        if (c.masks[at + y * kTile + x] != TILE_BLEND) c.pixels[at + y * kTile + x] = 0;
    full += fixed == kTile;
    written += fixed + blended;
    blendedRows += blended != 0;
  }
  c.kind[n] = full == kTile ? TILE_OPAQUE : blendedRows ? TILE_BLENDED : written ? TILE_PIXELS : TILE_EMPTY;
  bool alphaOnly = true;
  for (int y = 0; y < kTile; y++) alphaOnly &= c.rowKind[n * kTile + y] == ROW_ALPHA || c.rowKind[n * kTile + y] == ROW_NONE;
  if (blendedRows && alphaOnly) {  // drawn without a branch per row: empty rows say 0 too
    c.kind[n] = TILE_ALPHA;
    for (int y = 0; y < kTile; y++) {
      if (c.rowKind[n * kTile + y] == ROW_NONE) memset(&c.pixels[at + y * kTile], 0, kTile * 4);
      c.rowKind[n * kTile + y] = ROW_ALPHA;
    }
  }
  return true;
}

// A value none of the fixed pixels has (there are fewer of them than values,
// so the search ends).
Uint32 unusedValue(const std::vector<Uint32>& pixels, const std::vector<Uint8>& fixed,
                   const std::vector<Uint8>& untouched, const std::vector<Uint8>& blends) {
  for (Uint32 v = 0x5AFE01FDu;; v++) {
    bool used = false;
    for (size_t p = 0; !used && p < pixels.size(); p++)
      used = pixels[p] == v && fixed[p] && !untouched[p] && !blends[p];
    if (!used) return v;
  }
}

// Blits the whole sheet onto each scratch colour in turn (every blit works
// pixel by pixel, so this equals blitting tile by tile) and sorts each pixel
// of each tile: untouched, always the same value, blended as the formula
// says, or none of these.
bool recordTiles(TileCache& c, SDL_Surface* target, int perRow, int rows) {
  size_t count = (size_t)perRow * rows, n = count * kTilePixels;
  bool blend = blendKnown(c.sheet, target);
  std::vector<Uint32> colour(blend ? n : 0);
  std::vector<Uint8> alpha(blend ? n : 0);
  if (blend && !readSources(c.sheet, perRow, count, colour, alpha)) return false;
  SDL_Surface* scratch = newSurface(perRow * kTile, rows * kTile, target->format);
  if (!scratch) return false;
  std::vector<Uint8> untouched(n, 1), fixed(n, 1), blends(n, blend ? 1 : 0);
  for (int i = 0; i < kScratches; i++) {
    SDL_FillRect(scratch, nullptr, kScratchColour[i]);
    SDL_Rect dst = {0, 0, 0, 0};
    SDL_BlitSurface(c.sheet, nullptr, scratch, &dst);
    for (size_t t = 0; t < count; t++)
      for (int y = 0; y < kTile; y++) {
        const Uint32* src = row32(scratch, (int)(t / perRow) * kTile + y) + (t % perRow) * kTile;
        size_t at = (t * kTile + y) * kTile;
        for (int x = 0; x < kTile; x++) {
          if (i == 0) c.pixels[at + x] = src[x];
          untouched[at + x] &= src[x] == kScratchColour[i];
          fixed[at + x] &= src[x] == c.pixels[at + x];
          if (blend && blends[at + x])
            blends[at + x] = alpha[at + x] &&
                             src[x] == tileBlendPixel(colour[at + x], alpha[at + x], kScratchColour[i]);
        }
      }
  }
  SDL_FreeSurface(scratch);
  c.hole = unusedValue(c.pixels, fixed, untouched, blends);
  bool ok = true;
  for (size_t t = 0; ok && t < count; t++) {
    bool unexplained = false;
    for (size_t p = t * kTilePixels; p < (t + 1) * kTilePixels; p++) {
      c.masks[p] = 0;
      if (blends[p]) {  // the formula gives every result: blended, even where it looked fixed
        c.pixels[p] = (Uint32)alpha[p] << 24 | (colour[p] ^ TILE_SIGNED);
        c.masks[p] = TILE_BLEND;
      } else if (untouched[p]) {
        c.pixels[p] = c.hole;
      } else if (fixed[p]) {
        c.masks[p] = TILE_FIXED;
      } else {
        unexplained = true;
      }
    }
    ok = finishTile(c, (int)t, (int)(t % perRow) * kTile, (int)(t / perRow) * kTile, unexplained);
  }
  return ok;
}

}  // namespace

SheetSignature sheetSignature(const SDL_Surface* s) {
  const Uint32 kStateFlags = SDL_SRCCOLORKEY | SDL_SRCALPHA | SDL_RLEACCELOK;
  const SDL_PixelFormat* f = s->format;
  SheetSignature g;
  g.w = s->w;
  g.h = s->h;
  g.bpp = f->BitsPerPixel;
  g.flags = s->flags & kStateFlags;
  g.colorkey = f->colorkey;
  g.alpha = f->alpha;
  g.masks[0] = f->Rmask, g.masks[1] = f->Gmask, g.masks[2] = f->Bmask, g.masks[3] = f->Amask;
  return g;
}

void tileSheetRemap(SDL_Surface* sheet) {
  Uint32 flags = sheet->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK);
  Uint32 f = (flags & SDL_SRCCOLORKEY) | ((flags & SDL_RLEACCELOK) ? SDL_RLEACCEL : 0);
  Uint32 key = sheet->format->colorkey;
  SDL_SetColorKey(sheet, f ^ SDL_SRCCOLORKEY, key);
  SDL_SetColorKey(sheet, f, key);
}

namespace {

bool build(TileCache& c, SDL_Surface* sheet, SDL_Surface* target) {
  int perRow = sheet->w / kTile, rows = (sheet->h + kTile - 1) / kTile;
  if ((long long)perRow * rows > kMaxTiles || target->format->BytesPerPixel != 4) return false;
  size_t count = (size_t)perRow * rows;
  c.kind.assign(count, TILE_EMPTY);
  c.tiles.assign(count, nullptr);
  c.pixels.assign(count * kTilePixels, 0);
  c.masks.assign(count * kTilePixels, 0);
  c.rowKind.assign(count * kTile, ROW_NONE);
  bool ok = recordTiles(c, target, perRow, rows);
  tileSheetRemap(sheet);
  if (!ok) freeTiles(c);
  return ok;
}
}  // namespace

// [SECTION] the caches of the sheets
const TileCache* tileCacheGet(SDL_Surface* sheet, SDL_Surface* target) {
  if (!sheet || !target || sheet->w < kTile || sheet->h <= 0) return nullptr;
  auto it = caches.find(sheet);
  if (it != caches.end()) {
    if (sameSignature(it->second, sheet, target)) return it->second.kind.empty() ? nullptr : &it->second;
    freeTiles(it->second);
  }
  TileCache& c = caches[sheet];
  c.sheet = sheet;
  // The signature is taken first: building does not change the sheet, and a
  // sheet that cannot be cached is not retried on every frame.
  takeSignature(c, sheet, target);
  if (!build(c, sheet, target)) return nullptr;
  return &c;
}

// [SECTION] drawing rows
namespace {
bool sameLayout(const SDL_PixelFormat* a, const SDL_PixelFormat* b) {
  return a == b || (a->BytesPerPixel == 4 && b->BytesPerPixel == 4 && a->Rmask == b->Rmask &&
                    a->Gmask == b->Gmask && a->Bmask == b->Bmask && a->Amask == b->Amask);
}

// Fixed pixels where the mask is set; fixed-length, so it compiles to vector
// operations.
void maskedRow(Uint32* __restrict d, const Uint32* __restrict s, Uint32 hole) {
  for (int x = 0; x < kTile; x++) d[x] = s[x] == hole ? d[x] : s[x];
}

// A row with holes over a plain colour.
void holedRow(Uint32* __restrict d, const Uint32* __restrict s, Uint32 hole, Uint32 under) {
  for (int x = 0; x < kTile; x++) d[x] = s[x] == hole ? under : s[x];
}

// Columns [x0, x1) of one recorded row, pixel by pixel.
void partRow(Uint32* d, const Uint32* s, const Uint32* m, int x0, int x1) {
  for (int x = x0; x < x1; x++) {
    if (m[x] == TILE_BLEND)
      d[x] = tileBlendPixel((s[x] ^ TILE_SIGNED) & 0xFFFFFF, s[x] >> 24, d[x]);
    else if (m[x] == TILE_FIXED)
      d[x] = s[x];
  }
}

#if defined(__SSE2__)
// The row kernels are written once, over the vector operations of one width:
// Narrow (SSE2, four pixels a vector) or Wide (AVX2, eight; its byte
// unpacking and packing work within each 128-bit half, so pixel order is
// kept). Wide's operations are built for AVX2 only and inlined into the AVX2
// drawing function (drawRowsWide, by GCC's `flatten`), never run on other
// processors. Clang refuses 256-bit vectors through the shared body's
// functions, so its builds (the fuzzers) draw with Narrow only.
struct Narrow {
  typedef __m128i V;
  static const int kPixels = 4;
  static V load(const Uint32* p) { return _mm_loadu_si128((const __m128i*)p); }
  static void store(Uint32* p, V v) { _mm_storeu_si128((__m128i*)p, v); }
  static V all32(Uint32 v) { return _mm_set1_epi32((int)v); }
  static V all16(short v) { return _mm_set1_epi16(v); }
  static V zero() { return _mm_setzero_si128(); }
  static V eq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
  static V eq8(V a, V b) { return _mm_cmpeq_epi8(a, b); }
  static V max8(V a, V b) { return _mm_max_epu8(a, b); }
  static V low8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V high8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V pack16(V a, V b) { return _mm_packus_epi16(a, b); }
  static V add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V mul16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V shr16by8(V a) { return _mm_srli_epi16(a, 8); }
  static V shl32by24(V a) { return _mm_slli_epi32(a, 24); }
  static V alpha16(V a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0xFF), 0xFF); }
  static V select(V mask, V a, V b) { return (mask & a) | _mm_andnot_si128(mask, b); }  // a where mask
};

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Wide's vectors pass between functions built for AVX2 only.
#pragma GCC diagnostic ignored "-Wpsabi"
struct Wide {
  typedef __m256i V;
  static const int kPixels = 8;
  __attribute__((target("avx2"))) static V load(const Uint32* p) { return _mm256_loadu_si256((const __m256i*)p); }
  __attribute__((target("avx2"))) static void store(Uint32* p, V v) { _mm256_storeu_si256((__m256i*)p, v); }
  __attribute__((target("avx2"))) static V all32(Uint32 v) { return _mm256_set1_epi32((int)v); }
  __attribute__((target("avx2"))) static V all16(short v) { return _mm256_set1_epi16(v); }
  __attribute__((target("avx2"))) static V zero() { return _mm256_setzero_si256(); }
  __attribute__((target("avx2"))) static V eq32(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
  __attribute__((target("avx2"))) static V eq8(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
  __attribute__((target("avx2"))) static V max8(V a, V b) { return _mm256_max_epu8(a, b); }
  __attribute__((target("avx2"))) static V low8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  __attribute__((target("avx2"))) static V high8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  __attribute__((target("avx2"))) static V pack16(V a, V b) { return _mm256_packus_epi16(a, b); }
  __attribute__((target("avx2"))) static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
  __attribute__((target("avx2"))) static V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  __attribute__((target("avx2"))) static V mul16(V a, V b) { return _mm256_mullo_epi16(a, b); }
  __attribute__((target("avx2"))) static V shr16by8(V a) { return _mm256_srli_epi16(a, 8); }
  __attribute__((target("avx2"))) static V shl32by24(V a) { return _mm256_slli_epi32(a, 24); }
  __attribute__((target("avx2"))) static V alpha16(V a) {
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a, 0xFF), 0xFF);
  }
  __attribute__((target("avx2"))) static V select(V mask, V a, V b) { return _mm256_blendv_epi8(b, a, mask); }
};
#endif

// tileBlendPixel for a vector of pixels. Each channel is d + floor(((s - d)
// * a + 255) / 256) = (d * (256 - a) + s * a + 255) >> 8, whose terms are
// all unsigned and fit 16 bits; the blue step is negative exactly where the
// new blue is below the old one, which sets bit 24.
template <class O>
inline typename O::V blendHalf(typename O::V s16, typename O::V d16) {
  typename O::V a16 = O::alpha16(s16);
  typename O::V sum = O::add16(O::mul16(d16, O::sub16(O::all16(256), a16)), O::mul16(s16, a16));
  return O::shr16by8(O::add16(sum, O::all16(255)));
}

template <class O>
inline typename O::V blendPixels(typename O::V sv, typename O::V dv) {
  const typename O::V zero = O::zero();
  sv = sv ^ O::all32(TILE_SIGNED);
  typename O::V r = O::pack16(blendHalf<O>(O::low8(sv, zero), O::low8(dv, zero)),
                              blendHalf<O>(O::high8(sv, zero), O::high8(dv, zero)));
  typename O::V below = ~O::eq8(O::max8(r, dv), r) & O::all32(1);
  return (r & O::all32(0xFFFFFF)) | O::shl32by24(below);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// The same with AVX2's byte multiply-add, in fewer operations: each 16-bit
// lane pairs a destination byte with its source byte, both less 128
// (signed; the source stored so), weighted by 256 - a and a: (256 - a)(d - 128) + a(s - 128) + 0x80FF =
// d(256 - a) + s a + 255, whose true value lies in [-32768, 32512] before
// the constant, so the signed sum never saturates. The alpha lane gets
// weight 0 and constant 0, so the top byte comes out clear; bit 24 is then
// set where the blue byte went down.
template <>
__attribute__((target("avx2"))) inline Wide::V blendPixels<Wide>(Wide::V sv, Wide::V dv) {
  const __m256i flip = _mm256_set1_epi8((char)0x80);
  const __m256i alphaLo = _mm256_setr_epi8(3, 3, 3, 3, 3, 3, -1, -1, 7, 7, 7, 7, 7, 7, -1, -1,  //
                                           3, 3, 3, 3, 3, 3, -1, -1, 7, 7, 7, 7, 7, 7, -1, -1);
  const __m256i alphaHi = _mm256_setr_epi8(11, 11, 11, 11, 11, 11, -1, -1, 15, 15, 15, 15, 15, 15, -1, -1,  //
                                           11, 11, 11, 11, 11, 11, -1, -1, 15, 15, 15, 15, 15, 15, -1, -1);
  const __m256i negateLow = _mm256_set1_epi16(0x01FF);                   // 256 - a below, a above
  const __m256i round = _mm256_set1_epi64x(0x000080FF80FF80FFll);
  __m256i dx = _mm256_xor_si256(dv, flip);
  __m256i wLo = _mm256_sign_epi8(_mm256_shuffle_epi8(sv, alphaLo), negateLow);
  __m256i wHi = _mm256_sign_epi8(_mm256_shuffle_epi8(sv, alphaHi), negateLow);
  __m256i lo = _mm256_maddubs_epi16(wLo, _mm256_unpacklo_epi8(dx, sv));
  __m256i hi = _mm256_maddubs_epi16(wHi, _mm256_unpackhi_epi8(dx, sv));
  __m256i r = _mm256_packus_epi16(_mm256_srli_epi16(_mm256_add_epi16(lo, round), 8),
                                  _mm256_srli_epi16(_mm256_add_epi16(hi, round), 8));
  // d - r saturated is nonzero exactly where a byte went down; blue's, cut to 1, moves to bit 24.
  __m256i down = _mm256_min_epu8(_mm256_subs_epu8(dv, r), _mm256_set1_epi8(1));
  return _mm256_or_si256(r, _mm256_slli_epi32(down, 24));
}
#endif

// A row with blended pixels, a vector at a time: blended where the mask says
// so, fixed values copied, the rest kept.
template <class O>
inline void blendedRowOf(Uint32* d, const Uint32* s, const Uint32* m) {
  const typename O::V fixedMark = O::all32(TILE_FIXED), blendMark = O::all32(TILE_BLEND);
  for (int x = 0; x < kTile; x += O::kPixels) {
    typename O::V sv = O::load(s + x), dv = O::load(d + x), mv = O::load(m + x);
    typename O::V isFixed = O::eq32(mv, fixedMark), isBlend = O::eq32(mv, blendMark);
    typename O::V keep = ~(isFixed | isBlend) & dv;
    O::store(d + x, keep | (isFixed & sv) | (isBlend & blendPixels<O>(sv, dv)));
  }
}

// A row of 16 fixed pixels, in vectors: the library's copy is a call per row.
template <class O>
inline void copyRowOf(Uint32* d, const Uint32* s) {
#pragma GCC unroll 4
  for (int x = 0; x < kTile; x += O::kPixels) O::store(d + x, O::load(s + x));
}

// A ROW_ALPHA row: blended where the pixel is set (alpha 1 to 255), kept where it is 0.
template <class O>
inline void alphaRowOf(Uint32* d, const Uint32* s) {
#pragma GCC unroll 4
  for (int x = 0; x < kTile; x += O::kPixels) {
    typename O::V sv = O::load(s + x), dv = O::load(d + x);
    typename O::V keep = O::eq32(sv, O::zero());
    O::store(d + x, O::select(keep, dv, blendPixels<O>(sv, dv)));
  }
}
#else
// Without vectors: pixel by pixel, whatever the width asked for.
struct Narrow {};
template <class O>
inline void copyRowOf(Uint32* d, const Uint32* s) { memcpy(d, s, kTile * 4); }
template <class O>
inline void blendedRowOf(Uint32* d, const Uint32* s, const Uint32* m) { partRow(d, s, m, 0, kTile); }
template <class O>
inline void alphaRowOf(Uint32* d, const Uint32* s) {
  for (int x = 0; x < kTile; x++)
    if (s[x] >> 24) d[x] = tileBlendPixel((s[x] ^ TILE_SIGNED) & 0xFFFFFF, s[x] >> 24, d[x]);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
bool processorHasAvx2() {
  __builtin_cpu_init();  // may run before the library's own start-up code
  return __builtin_cpu_supports("avx2");
}
#else
typedef Narrow Wide;
bool processorHasAvx2() { return false; }
#endif

bool drawable(const TileCache* c, int element, SDL_Surface* dst) {
  return c && dst && element >= 0 && (size_t)element < c->kind.size();
}

// Drawn from the recorded pixels (not empty, no surface of its own).
bool recorded(int kind) { return kind != TILE_EMPTY && kind != TILE_SURFACE; }

// Rows [y0, y1), columns [x0, x1) of recorded tile n, whose top-left pixel
// is at `d` (rows `pitch` pixels apart).
template <class O>
inline void drawRows(const TileCache* c, int n, Uint32* d, int pitch, int x0, int x1, int y0, int y1) {
  size_t at = (size_t)n * kTilePixels;
  const Uint32* px = &c->pixels[at];
  const Uint32* mask = &c->masks[at];
  const Uint8* rowKind = &c->rowKind[(size_t)n * kTile];
  bool whole = x0 == 0 && x1 == kTile;
  if (whole && c->kind[n] == TILE_OPAQUE) {
    for (int y = y0; y < y1; y++) copyRowOf<O>(d + y * pitch, px + y * kTile);
    return;
  }
  if (whole && c->kind[n] == TILE_PIXELS) {  // every row alike: no branch per row to mispredict
    for (int y = y0; y < y1; y++) maskedRow(d + y * pitch, px + y * kTile, c->hole);
    return;
  }
  if (whole && c->kind[n] == TILE_ALPHA) {
    for (int y = y0; y < y1; y++) alphaRowOf<O>(d + y * pitch, px + y * kTile);
    return;
  }
  for (int y = y0; y < y1; y++) {
    Uint32* row = d + y * pitch;
    int k = rowKind[y];
    if (k == ROW_NONE) continue;
    if (!whole)
      partRow(row, px + y * kTile, mask + y * kTile, x0, x1);
    else if (k == ROW_FULL)
      copyRowOf<O>(row, px + y * kTile);
    else if (k == ROW_MASKED)
      maskedRow(row, px + y * kTile, c->hole);
    else if (k == ROW_ALPHA)
      alphaRowOf<O>(row, px + y * kTile);
    else
      blendedRowOf<O>(row, px + y * kTile, mask + y * kTile);
  }
}

void fillSquare(Uint32* d, int pitch, Uint32 value) {
  Uint32 row[kTile];
  for (int i = 0; i < kTile; i++) row[i] = value;
  for (int r = 0; r < kTile; r++) memcpy(d + r * pitch, row, sizeof row);
}

#if defined(__SSE2__)
// TILE_ALPHA tiles src[0 .. count - 1] drawn one over the other at `d`, two
// rows at a time: the pixels under them stay in registers through all of them.
// With `under`, over that value instead of d's pixels.
template <class O>
inline void alphaStackOf(const Uint32* const* src, int count, Uint32* d, int pitch, const Uint32* under) {
  const int kPer = kTile / O::kPixels, kRows = 2, kVectors = kRows * kPer;
  for (int y = 0; y < kTile; y += kRows) {
    typename O::V acc[kVectors];
#pragma GCC unroll 8
    for (int v = 0; v < kVectors; v++)
      acc[v] = under ? O::all32(*under) : O::load(d + (y + v / kPer) * pitch + v % kPer * O::kPixels);
    for (int k = 0; k < count; k++) {
      const Uint32* s = src[k] + y * kTile;
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; v++) {
        typename O::V sv = O::load(s + v * O::kPixels);
        acc[v] = O::select(O::eq32(sv, O::zero()), acc[v], blendPixels<O>(sv, acc[v]));
      }
    }
#pragma GCC unroll 8
    for (int v = 0; v < kVectors; v++) O::store(d + (y + v / kPer) * pitch + v % kPer * O::kPixels, acc[v]);
  }
}
#else
template <class O>
inline void alphaStackOf(const Uint32* const* src, int count, Uint32* d, int pitch, const Uint32* under) {
  if (under) fillSquare(d, pitch, *under);
  for (int k = 0; k < count; k++)
    for (int y = 0; y < kTile; y++) alphaRowOf<O>(d + y * pitch, src[k] + y * kTile);
}
#endif

// The tiles of one cell at `d`, wholly inside dst, bottom first: one call
// for the cell's layers rather than one per tile. The square is filled with
// *under (when set) by the first tile drawn: the holes of a tile with holes,
// the starting value of blended ones, or a plain fill.
template <class O>
inline void drawCellOf(const TileCache* const* caches, const int* elements, int count, SDL_Surface* dst,
                       int x, int y, Uint32* d, const Uint32* under) {
  int pitch = dst->pitch / 4;
  const Uint32* alpha[TILE_CELL_RUN];
  int stacked = 0;
  for (int k = 0; k <= count; k++) {
    const TileCache* c = k < count ? caches[k] : nullptr;
    int n = k < count ? elements[k] : 0;
    bool ok = drawable(c, n, dst) && recorded(c->kind[n]) && sameLayout(dst->format, c->target);
    if (ok && c->kind[n] == TILE_ALPHA && stacked < TILE_CELL_RUN) {
      alpha[stacked++] = &c->pixels[(size_t)n * kTilePixels];
      continue;
    }
    if (stacked) {
      alphaStackOf<O>(alpha, stacked, d, pitch, under);
      under = nullptr;
      stacked = 0;
    }
    if (under && ok && c->kind[n] == TILE_PIXELS) {
      const Uint32* px = &c->pixels[(size_t)n * kTilePixels];
      for (int r = 0; r < kTile; r++) holedRow(d + r * pitch, px + r * kTile, c->hole, *under);
      under = nullptr;
      continue;
    }
    if (under) fillSquare(d, pitch, *under);  // the library's fill costs more than a tile
    under = nullptr;
    if (ok)
      drawRows<O>(c, n, d, pitch, 0, kTile, 0, kTile);
    else if (k < count)
      tileCacheBlit(c, n, dst, x, y);
  }
}

// The same code built for AVX2 processors, with every call inlined: a row of
// 16 pixels is two vectors.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target("avx2"), flatten))
#endif
void drawRowsWide(const TileCache* c, int n, Uint32* d, int pitch, int x0, int x1, int y0, int y1) {
  drawRows<Wide>(c, n, d, pitch, x0, x1, y0, y1);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target("avx2"), flatten))
#endif
void drawCellWide(const TileCache* const* caches, const int* elements, int count, SDL_Surface* dst, int x, int y,
                  Uint32* d, const Uint32* under) {
  drawCellOf<Wide>(caches, elements, count, dst, x, y, d, under);
}

bool wide = processorHasAvx2();

void drawRecorded(const TileCache* c, int n, Uint32* d, int pitch, int x0, int x1, int y0, int y1) {
  if (wide)
    drawRowsWide(c, n, d, pitch, x0, x1, y0, y1);
  else
    drawRows<Narrow>(c, n, d, pitch, x0, x1, y0, y1);
}

void drawClipped(const TileCache* c, int n, SDL_Surface* dst, int x, int y) {
  int x0 = x < 0 ? -x : 0, y0 = y < 0 ? -y : 0;
  int x1 = dst->w - x < kTile ? dst->w - x : kTile, y1 = dst->h - y < kTile ? dst->h - y : kTile;
  if (x0 >= x1 || y0 >= y1) return;
  bool locked = SDL_MUSTLOCK(dst);
  if (locked && SDL_LockSurface(dst) < 0) return;
  drawRecorded(c, n, row32(dst, y) + x, dst->pitch / 4, x0, x1, y0, y1);
  if (locked) SDL_UnlockSurface(dst);
}

// Tile `element` lies wholly inside `dst`, which is drawn on in place.
inline bool wholeInside(const TileCache* c, int element, SDL_Surface* dst, int x, int y) {
  return recorded(c->kind[element]) && !SDL_MUSTLOCK(dst) && sameLayout(dst->format, c->target) && x >= 0 &&
         y >= 0 && x <= dst->w - kTile && y <= dst->h - kTile;
}
}  // namespace

// [SECTION] drawing tiles
void tileCacheBlit(const TileCache* c, int element, SDL_Surface* dst, int x, int y) {
  if (!drawable(c, element, dst)) return;
  int k = c->kind[element];
  if (recorded(k) && sameLayout(dst->format, c->target)) {
    drawClipped(c, element, dst, x, y);
  } else if (k == TILE_SURFACE) {
    SDL_Rect d = {(Sint16)x, (Sint16)y, 0, 0};
    SDL_BlitSurface(c->tiles[element], nullptr, dst, &d);
  }
}

void tileCacheDrawWhole(const TileCache* c, int element, SDL_Surface* dst, int x, int y) {
  if (!drawable(c, element, dst)) return;
  if (!wholeInside(c, element, dst, x, y)) {
    tileCacheBlit(c, element, dst, x, y);
    return;
  }
  drawRecorded(c, element, row32(dst, y) + x, dst->pitch / 4, 0, kTile, 0, kTile);
}

void tileCacheDrawCell(const TileCache* const* caches, const int* elements, int count, SDL_Surface* dst, int x,
                       int y, const Uint32* under) {
  if (!dst || SDL_MUSTLOCK(dst) || x < 0 || y < 0 || x > dst->w - kTile || y > dst->h - kTile) {
    if (under && dst && dst->format->BytesPerPixel == 4) {
      SDL_Rect r = {(Sint16)x, (Sint16)y, kTile, kTile};
      SDL_FillRect(dst, &r, *under);
    }
    for (int k = 0; k < count; k++) tileCacheDrawWhole(caches[k], elements[k], dst, x, y);
    return;
  }
  Uint32* d = row32(dst, y) + x;
  if (wide)
    drawCellWide(caches, elements, count, dst, x, y, d, under);
  else
    drawCellOf<Narrow>(caches, elements, count, dst, x, y, d, under);
}

// [SECTION] dropping caches
void tileCacheDrop(SDL_Surface* sheet) {
  auto it = caches.find(sheet);
  if (it == caches.end()) return;
  freeTiles(it->second);
  caches.erase(it);
}

void tileCacheClear() {
  for (auto& kv : caches) freeTiles(kv.second);
  caches.clear();
}

int tileCacheSize() { return (int)caches.size(); }

bool tileCacheUseWide(bool on) {
  wide = on && processorHasAvx2();
  return wide;
}
