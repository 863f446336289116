// The whole map as one PNG picture, 16 pixels a cell, drawn as the map view
// draws it: black, then every layer bottom-up, background layers as their
// whole image at the map's top-left corner, tiles through the tile cache.
// Drawn one strip of cells at a time into a small surface (no display
// needed) and compressed row by row, so any map size fits in memory.
#include <SDL/SDL.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "exchange/internal.h"
#include "toolkit/tilecache.h"

namespace {
const int STRIP_COLS = 64;               // cells drawn at once, one map row high
const size_t IDAT_BYTES = 1 << 18;       // compressed bytes per IDAT chunk
const int RGB = 3;
const int PNG_COMPRESSION = Z_BEST_SPEED;

struct PngStream {
  FILE* f = nullptr;
  z_stream z;
  std::vector<unsigned char> out;
  bool ok = true;
};

void put32(unsigned char* b, uint32_t v) {
  b[0] = (unsigned char)(v >> 24), b[1] = (unsigned char)(v >> 16), b[2] = (unsigned char)(v >> 8), b[3] = (unsigned char)v;
}

void chunk(PngStream& s, const char* type, const unsigned char* data, size_t n) {
  unsigned char head[8], tail[4];
  put32(head, (uint32_t)n);
  memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (n) crc = crc32(crc, data, (uInt)n);  // a null buffer would restart the sum
  put32(tail, (uint32_t)crc);
  s.ok = s.ok && fwrite(head, 1, 8, s.f) == 8 && (n == 0 || fwrite(data, 1, n, s.f) == n) &&
         fwrite(tail, 1, 4, s.f) == 4;
}

// Compresses n bytes (or finishes the stream), writing full IDAT chunks.
void feed(PngStream& s, const unsigned char* data, size_t n, int flush) {
  s.z.next_in = (Bytef*)data;
  s.z.avail_in = (uInt)n;
  int r;
  do {
    size_t have = s.out.size();
    s.out.resize(IDAT_BYTES);
    s.z.next_out = s.out.data() + have;
    s.z.avail_out = (uInt)(IDAT_BYTES - have);
    r = deflate(&s.z, flush);
    s.out.resize(IDAT_BYTES - s.z.avail_out);
    if (s.out.size() == IDAT_BYTES || (flush == Z_FINISH && r == Z_STREAM_END)) {
      chunk(s, "IDAT", s.out.data(), s.out.size());
      s.out.clear();
    }
  } while (s.ok && r != Z_STREAM_ERROR && (s.z.avail_in > 0 || (flush == Z_FINISH && r != Z_STREAM_END)));
  if (r == Z_STREAM_ERROR) s.ok = false;
}

void header(PngStream& s, uint32_t w, uint32_t h) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  s.ok = fwrite(signature, 1, sizeof signature, s.f) == sizeof signature;
  unsigned char ihdr[13];
  put32(ihdr, w);
  put32(ihdr + 4, h);
  ihdr[8] = 8;      // bits per channel
  ihdr[9] = 2;      // RGB
  ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, no filter method variant, no interlace
  chunk(s, "IHDR", ihdr, sizeof ihdr);
}

// A background layer's part that falls on the strip at map pixel (px, py).
void drawBackground(SDL_Surface* img, SDL_Surface* strip, long px, long py) {
  if (px >= img->w || py >= img->h) return;
  SDL_Rect src = {(Sint16)px, (Sint16)py, (Uint16)std::min<long>(strip->w, img->w - px),
                  (Uint16)std::min<long>(strip->h, img->h - py)};
  SDL_Rect dst = {0, 0, 0, 0};
  SDL_BlitSurface(img, &src, strip, &dst);
}

// A tile from the sheet itself, when its tiles could not be cached.
void drawFromSheet(SDL_Surface* sheet, SDL_Surface* strip, int element, int x) {
  long perRow = sheet->w / TILED_TILE, rows = sheet->h / TILED_TILE;
  if (element < 0 || element >= perRow * rows) return;
  SDL_Rect src = {(Sint16)(element % perRow * TILED_TILE), (Sint16)(element / perRow * TILED_TILE), TILED_TILE, TILED_TILE};
  SDL_Rect dst = {(Sint16)x, 0, 0, 0};
  SDL_BlitSurface(sheet, &src, strip, &dst);
}

// Cells [x0, x0 + cols) of map row y into the strip.
void drawStrip(const ExportPlan& p, SDL_Surface* strip, uint32_t x0, int cols, uint32_t y) {
  SDL_FillRect(strip, nullptr, SDL_MapRGB(strip->format, 0, 0, 0));
  for (int i = 0; i < p.map.layers; i++) {
    const Layer* l = p.map.layer[i];
    SDL_Surface* s = p.sets[p.layerSet[i]].s;
    if (l->bg) {
      drawBackground(s, strip, (long)x0 * TILED_TILE, (long)y * TILED_TILE);
      continue;
    }
    if (s->w < TILED_TILE || !l->e) continue;  // no whole tile to take
    const TileCache* c = tileCacheGet(s, strip);
    const int32_t* row = l->e + (size_t)y * p.map.w + x0;
    for (int k = 0; k < cols; k++)
      if (c) tileCacheDrawWhole(c, row[k], strip, k * TILED_TILE, 0);
      else drawFromSheet(s, strip, row[k], k * TILED_TILE);
  }
}

// The strip's pixels as RGB bytes at column x0 of the picture's rows.
void stripToRgb(SDL_Surface* strip, int cols, uint32_t x0, size_t rowBytes, unsigned char* rows) {
  const SDL_PixelFormat* f = strip->format;
  for (int r = 0; r < TILED_TILE; r++) {
    const Uint32* src = (const Uint32*)((const Uint8*)strip->pixels + r * strip->pitch);
    unsigned char* dst = rows + r * rowBytes + 1 + (size_t)x0 * TILED_TILE * RGB;
    for (int x = 0; x < cols * TILED_TILE; x++, dst += RGB) {
      Uint32 v = src[x];
      dst[0] = (unsigned char)((v & f->Rmask) >> f->Rshift);
      dst[1] = (unsigned char)((v & f->Gmask) >> f->Gshift);
      dst[2] = (unsigned char)((v & f->Bmask) >> f->Bshift);
    }
  }
}

bool writePicture(FILE* f, const void* ctx) {
  const ExportPlan& p = *(const ExportPlan*)ctx;
  // The view's own surface format: 32 bits, no alpha.
  SDL_Surface* strip = SDL_CreateRGBSurface(SDL_SWSURFACE, STRIP_COLS * TILED_TILE, TILED_TILE, 32, 0, 0, 0, 0);
  if (!strip) return false;
  PngStream s;
  s.f = f;
  memset(&s.z, 0, sizeof s.z);
  if (deflateInit(&s.z, PNG_COMPRESSION) != Z_OK) {
    SDL_FreeSurface(strip);
    return false;
  }
  header(s, p.map.w * TILED_TILE, p.map.h * TILED_TILE);
  size_t rowBytes = 1 + (size_t)p.map.w * TILED_TILE * RGB;  // filter byte 0: none
  std::vector<unsigned char> rows(rowBytes * TILED_TILE, 0);
  for (uint32_t y = 0; y < p.map.h && s.ok; y++) {
    for (uint32_t x0 = 0; x0 < p.map.w; x0 += STRIP_COLS) {
      int cols = (int)std::min<uint32_t>(STRIP_COLS, p.map.w - x0);
      drawStrip(p, strip, x0, cols, y);
      stripToRgb(strip, cols, x0, rowBytes, rows.data());
    }
    feed(s, rows.data(), rows.size(), Z_NO_FLUSH);
  }
  feed(s, nullptr, 0, Z_FINISH);
  deflateEnd(&s.z);
  SDL_FreeSurface(strip);
  chunk(s, "IEND", nullptr, 0);
  return s.ok;
}
}  // namespace

bool exportPng(const ExportPlan& p, const std::string& out, std::string* error) {
  if (p.map.w == 0 || p.map.h == 0) {
    *error = "empty map: no picture to make";
    return false;
  }
  if ((uint64_t)p.map.w * TILED_TILE > 0x7FFFFFFF || (uint64_t)p.map.h * TILED_TILE > 0x7FFFFFFF) {
    *error = "map too big for one picture";
    return false;
  }
  return writeFileAtomically(out, writePicture, &p, error);
}
