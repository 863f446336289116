// Tilesets scaled down by averaging. The sheet is blitted by the library
// itself onto black and onto white: a pixel's result on black is its colour
// premultiplied by its coverage, and the difference between the two results
// is what shows through, so the coverage of keyed holes, per-pixel and
// whole-surface alpha all come out of the sheet's own blit, whatever its
// format. Blocks of those are summed, every level from the one below, and
// divided once: each level is the exact average of the sheet's pixels.
//
// Drawing takes a row of cells one layer at a time from the top, each tile
// laid under what is there (front to back): a cell leaves the work once it
// is fully covered, and cells holding tile 0 are skipped by a bit each. At
// a few pixels a cell the work is bookkeeping as much as blending: no
// branch a cell where a mask does, two cells a vector with AVX2.
//
// [SECTION] index
//   building    MipSet, pixel sums (Lanes), firstLevelSums, halve, cutTiles, build
//   laying      RowWork, layUnder (four pixels), layerPassOf
//   wide        the AVX2 layer pass: pairUnder, layerPassWide, nonzeroBitsWide
//   rows        layerPass, storeRow, drawRowOf
//   public      tileMipGet ... tileMipUseWide
#include "toolkit/tilemip.h"

#include <SDL/SDL.h>
#include <string.h>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#define MIP_WIDE 1  // an AVX2 build of the layer pass, chosen at run time
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <map>

#include "core/core.h"
#include "toolkit/tilecache.h"

// [SECTION] building
namespace {
const int kTile = TILE;
const size_t kMaxTiles = 1 << 16;           // a 4096 x 4096 sheet; larger ones are not drawn zoomed out
const size_t kBandPixels = 2048 * 2048;     // scratch pixels blitted at once
const Uint32 kColour = 0xFFFFFFu;           // the three colour bytes of the targets mips are made for

// Every level of one sheet, built together, and what they were made from:
// the sheet, and the order of the colour bytes of the surfaces drawn on.
struct MipSet {
  TileMip level[TILE_MIP_LEVELS];
  SheetSignature signature;
  uint32_t targetMasks[3] = {0, 0, 0};
  bool usable = false;
  bool madeFor(const SheetSignature& s, const SDL_Surface* target) const {
    const SDL_PixelFormat* f = target->format;
    return signature == s && targetMasks[0] == f->Rmask && targetMasks[1] == f->Gmask && targetMasks[2] == f->Bmask;
  }
};
std::map<SDL_Surface*, MipSet> sets;

bool targetFits(const SDL_Surface* t) {
  const SDL_PixelFormat* f = t->format;
  return f->BytesPerPixel == 4 && f->Amask == 0 && (f->Rmask | f->Gmask | f->Bmask) == kColour;
}

SDL_Surface* scratch(int w, int h, const SDL_PixelFormat* f) {
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, f->Rmask, f->Gmask, f->Bmask, 0);
}

Uint32* row32(SDL_Surface* s, int y) { return (Uint32*)((Uint8*)s->pixels + y * s->pitch); }

// Sums of blocks, four 16-bit lanes in one word: the three colour bytes
// (premultiplied) and the coverage. A block of 16 x 16 sums to 65280 at
// most, so the lanes never carry into each other and add as one word.
typedef uint64_t Lanes;

inline Lanes pixelLanes(Uint32 b, Uint32 w) {
  int cover = 0;
  for (int c = 0; c < 3; c++) {
    int through = (int)(w >> (8 * c) & 0xFF) - (int)(b >> (8 * c) & 0xFF);  // white showing through
    cover += 255 - (through < 0 ? 0 : through > 255 ? 255 : through);
  }
  return (Lanes)(b & 0xFF) | (Lanes)(b >> 8 & 0xFF) << 16 | (Lanes)(b >> 16 & 0xFF) << 32 |
         (Lanes)((cover + 1) / 3) << 48;
}

// A block's sums divided by its pixel count, rounded; no colour byte above
// the coverage (so colour + under x (1 - coverage) never exceeds a byte).
inline Uint32 average(Lanes s, Uint32 pixels) {
  Uint32 lane[4];
  for (int i = 0; i < 4; i++) lane[i] = ((Uint32)(s >> (16 * i) & 0xFFFF) + pixels / 2) / pixels;
  Uint32 out = lane[3] << 24;
  for (int c = 0; c < 3; c++) out |= (lane[c] < lane[3] ? lane[c] : lane[3]) << (8 * c);
  return out;
}

// Sums of 2 x 2 blocks of the sheet's pixels (level 1), from its blits onto
// black and white, a band of rows at a time. Pixels past the sheet count as
// uncovered.
bool firstLevelSums(SDL_Surface* sheet, SDL_Surface* target, int w1, int h1, std::vector<Lanes>& sums) {
  sums.assign((size_t)w1 * h1, 0);
  int bandRows = (int)(kBandPixels / sheet->w) / kTile * kTile;
  if (bandRows < kTile) bandRows = kTile;
  if (bandRows > sheet->h) bandRows = (sheet->h + 1) / 2 * 2;
  SDL_Surface* black = scratch(sheet->w, bandRows, target->format);
  SDL_Surface* white = scratch(sheet->w, bandRows, target->format);
  bool ok = black && white;
  for (int y0 = 0; ok && y0 < sheet->h; y0 += bandRows) {
    int rows = sheet->h - y0 < bandRows ? sheet->h - y0 : bandRows;
    SDL_Rect band = {0, (Sint16)y0, (Uint16)sheet->w, (Uint16)rows};
    SDL_FillRect(black, nullptr, 0);
    SDL_FillRect(white, nullptr, kColour);
    SDL_Rect at = {0, 0, 0, 0};
    ok = SDL_BlitSurface(sheet, &band, black, &at) == 0;
    at = {0, 0, 0, 0};
    ok = ok && SDL_BlitSurface(sheet, &band, white, &at) == 0;
    for (int r = 0; ok && r < rows; r++) {
      const Uint32 *b = row32(black, r), *wh = row32(white, r);
      Lanes* out = &sums[(size_t)((y0 + r) >> 1) * w1];
      for (int x = 0; x < sheet->w; x++) out[x >> 1] += pixelLanes(b[x] & kColour, wh[x] & kColour);
    }
  }
  if (black) SDL_FreeSurface(black);
  if (white) SDL_FreeSurface(white);
  tileSheetRemap(sheet);
  return ok;
}

// The sums of the level above, each four blocks of the one below.
std::vector<Lanes> halve(const std::vector<Lanes>& below, int wb, int hb, int w, int h) {
  std::vector<Lanes> out((size_t)w * h, 0);
  for (int y = 0; y < hb; y++)
    for (int x = 0; x < wb; x++) out[(size_t)(y >> 1) * w + (x >> 1)] += below[(size_t)y * wb + x];
  return out;
}

// Each tile's pixels, side x side together, its kind, and a last tile of
// nothing (kind MIP_EMPTY) that numbers past the sheet are drawn as.
void cutTiles(TileMip& m, int perRow, size_t count) {
  int side = m.side, px = side * side;
  m.pixels.assign((count + 1) * px, 0);
  m.kind.assign(count + 1, MIP_EMPTY);
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

bool build(MipSet& set, SDL_Surface* sheet, SDL_Surface* target) {
  int perRow = sheet->w / kTile, rows = (sheet->h + kTile - 1) / kTile;
  size_t count = (size_t)perRow * rows;
  if (count == 0 || count > kMaxTiles) return false;
  int w = (sheet->w + 1) >> 1, h = (sheet->h + 1) >> 1;
  std::vector<Lanes> sums;
  if (!firstLevelSums(sheet, target, w, h, sums)) return false;
  for (int level = 1; level <= TILE_MIP_LEVELS; level++) {
    if (level > 1) {
      int wa = (w + 1) >> 1, ha = (h + 1) >> 1;
      sums = halve(sums, w, h, wa, ha);
      w = wa, h = ha;
    }
    TileMip& m = set.level[level - 1];
    m.level = level;
    m.side = kTile >> level;
    m.imageW = w;
    m.imageH = h;
    m.image.resize((size_t)w * h);
    Uint32 pixels = 1u << (2 * level);
    for (size_t i = 0; i < m.image.size(); i++) m.image[i] = average(sums[i], pixels);
    cutTiles(m, perRow, count);
  }
  return true;
}

// [SECTION] laying
// What a row of cells is drawn with: each cell's pixels, the cells not yet
// fully covered, and those of the layer being laid that do not hold tile 0.
struct RowWork {
  std::vector<Uint32> acc;
  std::vector<uint64_t> uncovered, nonzero;  // a bit a cell
};

// Every byte of `s` (colour and coverage) times (255 - the coverage of `by`) / 255, rounded.
inline Uint32 scaleByOne(Uint32 s, Uint32 by) {
  Uint32 k = 255 - (by >> 24), out = 0;
  for (int b = 0; b < 32; b += 8) {
    Uint32 x = (s >> b & 0xFF) * k + 128;
    out |= ((x + (x >> 8)) >> 8) << b;
  }
  return out;
}

#if defined(__SSE2__)
// x / 255 rounded to nearest, for 16-bit lanes up to 255 * 255.
inline __m128i div255(__m128i x) { return _mm_mulhi_epu16(_mm_add_epi16(x, _mm_set1_epi16(128)), _mm_set1_epi16(257)); }

// Four pixels: every byte of `s` (colour and coverage) times (255 - the
// coverage of `by`) / 255.
inline __m128i scaleBy(__m128i s, __m128i by) {
  const __m128i zero = _mm_setzero_si128();
  __m128i k = _mm_sub_epi32(_mm_set1_epi32(255), _mm_srli_epi32(by, 24));
  k = _mm_or_si128(k, _mm_slli_epi32(k, 16));  // in both halves of each pixel
  __m128i lo = div255(_mm_mullo_epi16(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi32(k, k)));
  __m128i hi = div255(_mm_mullo_epi16(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi32(k, k)));
  return _mm_packus_epi16(lo, hi);
}

// The tile's pixels laid under the cell's (front to back); true when every
// pixel of the cell is then fully covered.
template <int P>
inline bool layUnder(Uint32* acc, const Uint32* tile) {
  if (P < 4) {
    Uint32 all = 0xFF;
    for (int k = 0; k < P; k++) {
      acc[k] = acc[k] + scaleByOne(tile[k], acc[k]);
      all &= acc[k] >> 24;
    }
    return all == 0xFF;
  }
  const __m128i full = _mm_set1_epi32((int)0xFF000000u);
  __m128i covered = full;
  for (int k = 0; k < P; k += 4) {
    __m128i a = _mm_loadu_si128((const __m128i*)(acc + k)), t = _mm_loadu_si128((const __m128i*)(tile + k));
    a = _mm_add_epi8(a, scaleBy(t, a));
    _mm_storeu_si128((__m128i*)(acc + k), a);
    covered = _mm_and_si128(covered, a);
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(covered, full), full)) == 0xFFFF;
}
#else
template <int P>
inline bool layUnder(Uint32* acc, const Uint32* tile) {
  Uint32 all = 0xFF;
  for (int k = 0; k < P; k++) {
    acc[k] = acc[k] + scaleByOne(tile[k], acc[k]);
    all &= acc[k] >> 24;
  }
  return all == 0xFF;
}
#endif

// A layer is laid under the cells of a row whose bit is set in
// `uncovered` and, when tile 0 draws nothing, whose cell does not hold 0
// (a sparse layer's empty cells cost a bit each, not a visit). The bits of
// the cells it covers fully are cleared; each pass returns how many it
// covered. Numbers past the sheet are drawn as the empty `nothing`.
struct LayerTiles {
  const int32_t* e;
  const Uint32* tiles;
  const uint8_t* kind;
  Uint32 nothing;
  bool first;  // the row's first layer: laid on nothing, whole words of tiles are copies
  Uint32 tile(int c) const { return (Uint32)e[c] < nothing ? (Uint32)e[c] : nothing; }
};

// Bit c of `bits` set where e[c] is not tile 0, c from 0 to n - 1.
inline void nonzeroBitsOf(const int32_t* e, int n, uint64_t* bits) {
  for (int w = 0; w < (n + 63) / 64; w++) bits[w] = 0;
  for (int c = 0; c < n; c++) bits[c >> 6] |= (uint64_t)(e[c] != 0) << (c & 63);
}

template <int P>
int layerPassOf(Uint32* acc, int n, uint64_t* uncovered, const uint64_t* nonzero, const LayerTiles& l) {
  int covered = 0;
  for (int w = 0; w < (n + 63) / 64; w++) {
    uint64_t gone = 0;
    for (uint64_t bits = uncovered[w] & (nonzero ? nonzero[w] : ~0ull); bits; bits &= bits - 1) {
      int j = __builtin_ctzll(bits), c = w * 64 + j;
      Uint32 t = l.tile(c);
      bool full = l.kind[t] != MIP_EMPTY && layUnder<P>(acc + (size_t)c * P, l.tiles + (size_t)t * P);
      gone |= (uint64_t)full << j;
    }
    uncovered[w] &= ~gone;
    covered += __builtin_popcountll(gone);
  }
  return covered;
}

// [SECTION] wide
#ifdef MIP_WIDE
// The same with AVX2, eight pixels a vector: two cells at a time at four
// pixels a cell, a cell a vector or more above that.
#pragma GCC diagnostic ignored "-Wpsabi"
__attribute__((target("avx2"))) inline __m256i div255Wide(__m256i x) {
  return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

__attribute__((target("avx2"))) inline __m256i scaleByWide(__m256i s, __m256i by) {
  // The coverage byte of each pixel of `by` into the four 16-bit lanes of
  // that pixel, for the low and high halves of each 128-bit lane.
  const __m256i low = _mm256_setr_epi8(3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1,  //
                                       3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1);
  const __m256i high = _mm256_setr_epi8(11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1, 15, -1,  //
                                        11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1, 15, -1);
  const __m256i zero = _mm256_setzero_si256(), most = _mm256_set1_epi16(255);
  __m256i kLow = _mm256_sub_epi16(most, _mm256_shuffle_epi8(by, low));
  __m256i kHigh = _mm256_sub_epi16(most, _mm256_shuffle_epi8(by, high));
  __m256i lo = div255Wide(_mm256_mullo_epi16(_mm256_unpacklo_epi8(s, zero), kLow));
  __m256i hi = div255Wide(_mm256_mullo_epi16(_mm256_unpackhi_epi8(s, zero), kHigh));
  return _mm256_packus_epi16(lo, hi);
}

// Per pixel of a vector, whether its coverage is full: a bit a pixel.
__attribute__((target("avx2"))) inline unsigned coveredBits(__m256i a) {
  const __m256i full = _mm256_set1_epi32((int)0xFF000000u);
  return (unsigned)_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(a, full), full)));
}

// For the eight pixels of two cells, bit 0 set when the first four are
// covered, bit 1 when the last four are.
struct PairCovered {
  uint8_t of[256];
  PairCovered() {
    for (int m = 0; m < 256; m++) of[m] = (uint8_t)((m & 0xF) == 0xF) | (uint8_t)(((m >> 4) == 0xF) << 1);
  }
};
const PairCovered pairCovered;

// Cells ca and cb laid together: bit 0 set when ca is covered, bit 1 when cb is.
template <bool First>
__attribute__((target("avx2"))) inline uint64_t pairUnder(Uint32* acc, const LayerTiles& l, int ca, int cb) {
  Uint32 *pa = acc + (size_t)ca * 4, *pb = acc + (size_t)cb * 4;
  __m256i a = _mm256_loadu2_m128i((const __m128i*)(l.tiles + (size_t)l.tile(cb) * 4),
                                  (const __m128i*)(l.tiles + (size_t)l.tile(ca) * 4));
  if (!First) {
    __m256i laid = _mm256_loadu2_m128i((const __m128i*)pb, (const __m128i*)pa);
    a = _mm256_add_epi8(laid, scaleByWide(a, laid));
  }
  _mm256_storeu2_m128i((__m128i*)pb, (__m128i*)pa, a);
  return pairCovered.of[coveredBits(a)];
}

template <int P>
__attribute__((target("avx2"))) int layerPassWide(Uint32* acc, int n, uint64_t* uncovered, const uint64_t* nonzero,
                                                  const LayerTiles& l) {
  int covered = 0;
  for (int w = 0; w < (n + 63) / 64; w++) {
    uint64_t bits = uncovered[w] & (nonzero ? nonzero[w] : ~0ull), gone = 0;
    if (!bits) continue;
    int base = w * 64;
    __builtin_prefetch(l.e + base + 64);
    if (P == 4 && bits == ~0ull) {  // a whole word of cells: in pairs, in order
      if (l.first)
        for (int j = 0; j < 64; j += 2) gone |= pairUnder<true>(acc, l, base + j, base + j + 1) << j;
      else
        for (int j = 0; j < 64; j += 2) gone |= pairUnder<false>(acc, l, base + j, base + j + 1) << j;
    } else if (P == 4) {
      while (bits) {
        int ja = __builtin_ctzll(bits);
        bits &= bits - 1;
        if (!bits) {  // an odd last cell
          Uint32 t = l.tile(base + ja);
          gone |= (uint64_t)layUnder<P>(acc + (size_t)(base + ja) * P, l.tiles + (size_t)t * P) << ja;
          break;
        }
        int jb = __builtin_ctzll(bits);
        bits &= bits - 1;
        uint64_t both = pairUnder<false>(acc, l, base + ja, base + jb);
        gone |= (both & 1) << ja | (both >> 1) << jb;
      }
    } else {
      for (; bits; bits &= bits - 1) {
        int j = __builtin_ctzll(bits), c = base + j;
        Uint32 t = l.tile(c);
        if (l.kind[t] == MIP_EMPTY) continue;
        Uint32* a = acc + (size_t)c * P;
        const Uint32* tile = l.tiles + (size_t)t * P;
        unsigned all = 0xFF;
        for (int q = 0; q < P; q += 8) {
          __m256i v = _mm256_loadu_si256((const __m256i*)(a + q));
          v = _mm256_add_epi8(v, scaleByWide(_mm256_loadu_si256((const __m256i*)(tile + q)), v));
          _mm256_storeu_si256((__m256i*)(a + q), v);
          all &= coveredBits(v);
        }
        gone |= (uint64_t)(all == 0xFF) << j;
      }
    }
    uncovered[w] &= ~gone;
    covered += __builtin_popcountll(gone);
  }
  return covered;
}

__attribute__((target("avx2"))) void nonzeroBitsWide(const int32_t* e, int n, uint64_t* bits) {
  for (int w = 0; w < (n + 63) / 64; w++) bits[w] = 0;
  int c = 0;
  for (; c + 8 <= n; c += 8) {
    __m256i v = _mm256_loadu_si256((const __m256i*)(e + c));
    unsigned zero = (unsigned)_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_setzero_si256())));
    bits[c >> 6] |= (uint64_t)(~zero & 0xFF) << (c & 63);
  }
  for (; c < n; c++) bits[c >> 6] |= (uint64_t)(e[c] != 0) << (c & 63);
}

bool processorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
bool wide = processorHasAvx2();
#endif

// [SECTION] rows
template <int P>
inline int layerPass(Uint32* acc, int n, uint64_t* uncovered, const int32_t* e, const TileMip* m, bool first,
                     RowWork& work) {
  LayerTiles l = {e, m->pixels.data(), m->kind.data(), (Uint32)m->kind.size() - 1, first};
  const uint64_t* nonzero = nullptr;
  if (l.kind[0] == MIP_EMPTY) {  // cells holding 0 are skipped by their bit
#ifdef MIP_WIDE
    if (wide)
      nonzeroBitsWide(e, n, work.nonzero.data());
    else
#endif
      nonzeroBitsOf(e, n, work.nonzero.data());
    nonzero = work.nonzero.data();
  }
#ifdef MIP_WIDE
  if (P >= 4 && wide) return layerPassWide<P>(acc, n, uncovered, nonzero, l);
#endif
  return layerPassOf<P>(acc, n, uncovered, nonzero, l);
}

// Cells [0, n) of a row into dst, from their pixels in `acc` (cell c's at
// acc + c * S * S), the first at column x: over black (the coverage byte
// cleared) or over what dst holds. Rows [y0, y1) of the cells, columns cut
// to dst.
template <int S>
void storeRow(const Uint32* acc, int n, SDL_Surface* dst, int x, int y, int y0, int y1, bool fromBlack) {
  const int P = S * S;
  // Cells [w0, w1) lie wholly inside dst's columns.
  int w0 = x < 0 ? (-x + S - 1) / S : 0, w1 = (dst->w - x) / S;
  if (w1 > n) w1 = n;
  if (w0 > w1) w0 = w1;
  for (int v = y0; v < y1; v++) {
    Uint32* d = row32(dst, y + v) + x;
    const Uint32* a = acc + v * S;
    if (fromBlack) {
      int c = w0;
#if defined(__SSE2__)
      const __m128i colour = _mm_set1_epi32((int)kColour);
      if (S == 2)  // row v of two cells: the same half of each cell's four pixels
        for (; c + 1 < w1; c += 2) {
          __m128i p0 = _mm_loadu_si128((const __m128i*)(acc + c * P)), p1 = _mm_loadu_si128((const __m128i*)(acc + c * P + P));
          __m128i row = v ? _mm_unpackhi_epi64(p0, p1) : _mm_unpacklo_epi64(p0, p1);
          _mm_storeu_si128((__m128i*)(d + c * S), _mm_and_si128(row, colour));
        }
      if (S >= 4)
        for (; c < w1; c++)
          for (int u = 0; u < S; u += 4)
            _mm_storeu_si128((__m128i*)(d + c * S + u),
                             _mm_and_si128(_mm_loadu_si128((const __m128i*)(a + c * P + u)), colour));
#endif
      for (; c < w1; c++)
        for (int u = 0; u < S; u++) d[c * S + u] = a[c * P + u] & kColour;
    } else {
      for (int c = w0; c < w1; c++)
        for (int u = 0; u < S; u++) d[c * S + u] = tileMipOver(d[c * S + u], a[c * P + u]);
    }
    for (int c : {w0 - 1, w1}) {  // the cells cut by dst's edges
      if (c < 0 || c >= n) continue;
      for (int u = 0; u < S; u++) {
        int col = x + c * S + u;
        if (col < 0 || col >= dst->w) continue;
        d[c * S + u] = fromBlack ? a[c * P + u] & kColour : tileMipOver(d[c * S + u], a[c * P + u]);
      }
    }
  }
}

// One row of cells, each cell's S x S pixels together, laid from the top
// layer down; a cell leaves the work once it is fully covered (an opaque
// tile, or partly covered ones enough), so lower layers cost nothing under
// it. What shows through at the end is black, or what dst held.
template <int S>
void drawRowOf(const TileMip* const* mips, const int32_t* const* cells, int layers, int count,
               SDL_Surface* dst, int x, int y, bool fromBlack, RowWork& work) {
  const int P = S * S;
  int y0 = y < 0 ? -y : 0, y1 = dst->h - y < S ? dst->h - y : S;
  int c0 = x < 0 ? -x / S : 0, c1 = (dst->w - x + S - 1) / S;
  if (c1 > count) c1 = count;
  if (y0 >= y1 || c0 >= c1) return;
  int n = c1 - c0, words = (n + 63) / 64;
  work.acc.resize((size_t)n * P);
  memset(work.acc.data(), 0, work.acc.size() * sizeof(Uint32));
  work.uncovered.assign(words, ~0ull);
  if (n % 64) work.uncovered[words - 1] = (1ull << (n % 64)) - 1;
  work.nonzero.resize(words);
  Uint32* acc = work.acc.data();
  int live = n, top = layers - 1;
  while (top >= 0 && !mips[top]) top--;
  for (int i = layers - 1; i >= 0 && live; i--)
    if (mips[i]) {
      live -= layerPass<P>(acc, n, work.uncovered.data(), cells[i] + c0, mips[i], i == top, work);
    }
  storeRow<S>(acc, n, dst, x + c0 * S, y, y0, y1, fromBlack);
}
}  // namespace

// [SECTION] public
const TileMip* tileMipGet(SDL_Surface* sheet, SDL_Surface* target, int level) {
  if (!sheet || !target || level < 1 || level > TILE_MIP_LEVELS || sheet->w < kTile || sheet->h <= 0 ||
      !targetFits(target))
    return nullptr;
  auto it = sets.find(sheet);
  SheetSignature now = sheetSignature(sheet);
  if (it != sets.end() && it->second.madeFor(now, target))
    return it->second.usable ? &it->second.level[level - 1] : nullptr;
  MipSet& set = sets[sheet];
  set = MipSet();
  set.signature = now;  // a sheet that cannot be scaled is not retried on every frame
  set.targetMasks[0] = target->format->Rmask;
  set.targetMasks[1] = target->format->Gmask;
  set.targetMasks[2] = target->format->Bmask;
  set.usable = build(set, sheet, target);
  if (!set.usable) {
    for (TileMip& m : set.level) m = TileMip();
    return nullptr;
  }
  return &set.level[level - 1];
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
  static RowWork work;  // the main thread's: kept between rows
  switch (side) {
    case 8: drawRowOf<8>(mips, cells, layers, count, dst, x, y, fromBlack, work); break;
    case 4: drawRowOf<4>(mips, cells, layers, count, dst, x, y, fromBlack, work); break;
    case 2: drawRowOf<2>(mips, cells, layers, count, dst, x, y, fromBlack, work); break;
    case 1: drawRowOf<1>(mips, cells, layers, count, dst, x, y, fromBlack, work); break;
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

void tileMipDrop(SDL_Surface* sheet) { sets.erase(sheet); }

void tileMipClear() { sets.clear(); }

bool tileMipUseWide(bool on) {
#ifdef MIP_WIDE
  wide = on && processorHasAvx2();
  return wide;
#else
  return false;
#endif
}
