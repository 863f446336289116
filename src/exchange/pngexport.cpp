// The whole map as one PNG picture, 16 pixels a cell, drawn as the map view
// draws it: black, then every layer bottom-up, background layers as their
// whole image at the map's top-left corner, tiles through the tile cache.
// Drawn one strip of cells at a time into a small surface (no display
// needed), so any map size fits in memory. Drawing stays on this thread;
// each band of 16 picture rows is compressed on its own by worker threads
// while the next bands are drawn, and the pieces make one zlib stream.
#include <SDL/SDL.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "exchange/internal.h"
#include "toolkit/tilecache.h"

namespace {
const int STRIP_COLS = 64;               // cells drawn at once, one map row high
const size_t IDAT_BYTES = 1 << 18;       // compressed bytes per IDAT chunk
const int RGB = 3;
const int PNG_COMPRESSION = Z_BEST_SPEED;
const unsigned MAX_WORKERS = 8;          // compressing threads
const size_t BATCH_BYTES = 64 << 20;     // picture bytes drawn ahead of the compression
const size_t SYNC_ROOM = 64;             // a sync flush's bytes beyond deflateBound
// Marked cells (a map diff's changes): half of each pixel becomes this colour,
// a magenta no tileset of the examples uses, so the tiles still show through.
const Uint8 MARK_R = 255, MARK_G = 0, MARK_B = 200;

struct PngStream {
  FILE* f = nullptr;
  std::vector<unsigned char> out;  // IDAT bytes not yet written
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

// Compressed bytes into IDAT chunks of IDAT_BYTES; `end` writes the rest.
void emit(PngStream& s, const unsigned char* data, size_t n, bool end) {
  s.out.insert(s.out.end(), data, data + n);
  size_t at = 0;
  for (; s.out.size() - at >= IDAT_BYTES; at += IDAT_BYTES) chunk(s, "IDAT", s.out.data() + at, IDAT_BYTES);
  if (end && s.out.size() > at) chunk(s, "IDAT", s.out.data() + at, s.out.size() - at), at = s.out.size();
  s.out.erase(s.out.begin(), s.out.begin() + at);
}

// One band of picture rows and its compressed form: a raw deflate stream
// ended by a sync flush (the last band by the final block), so the bands
// laid end to end are one deflate stream.
struct Band {
  std::vector<unsigned char> raw, packed;
  uLong adler = 1;
  bool last = false, ok = true;
};

void compressBand(Band* b) {
  z_stream z;
  memset(&z, 0, sizeof z);
  b->ok = deflateInit2(&z, PNG_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  if (!b->ok) return;
  b->packed.resize(deflateBound(&z, b->raw.size()) + SYNC_ROOM);
  z.next_in = b->raw.data();
  z.avail_in = (uInt)b->raw.size();
  z.next_out = b->packed.data();
  z.avail_out = (uInt)b->packed.size();
  int r = deflate(&z, b->last ? Z_FINISH : Z_SYNC_FLUSH);
  b->ok = b->last ? r == Z_STREAM_END : r == Z_OK && z.avail_in == 0 && z.avail_out > 0;
  b->packed.resize(b->packed.size() - z.avail_out);
  deflateEnd(&z);
  b->adler = adler32(1, b->raw.data(), (uInt)b->raw.size());
}

// Compresses bands [0, n) on `workers` threads.
std::vector<std::thread> startCompressing(std::vector<Band>& bands, size_t n, unsigned workers) {
  std::vector<std::thread> threads;
  auto work = [&bands, n, workers](unsigned w) {
    for (size_t j = w; j < n; j += workers) compressBand(&bands[j]);
  };
  for (unsigned w = 0; w < workers && w < n; w++) {
    try {
      threads.emplace_back(work, w);
    } catch (const std::system_error&) {
      work(w);  // no thread to be had: this one does that share
    }
  }
  return threads;
}

// Waits for the bands, then writes them in order; the zlib checksum grows.
void finishBands(PngStream& s, std::vector<std::thread>& threads, std::vector<Band>& bands, size_t n,
                 uLong* adler) {
  for (std::thread& t : threads) t.join();
  threads.clear();
  for (size_t j = 0; j < n; j++) {
    s.ok = s.ok && bands[j].ok;
    emit(s, bands[j].packed.data(), bands[j].packed.size(), false);
    *adler = adler32_combine(*adler, bands[j].adler, (z_off_t)bands[j].raw.size());
  }
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
  long perRow = sheet->w / TILE, rows = sheet->h / TILE;
  if (element < 0 || element >= perRow * rows) return;
  SDL_Rect src = {(Sint16)(element % perRow * TILE), (Sint16)(element / perRow * TILE), TILE, TILE};
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
      drawBackground(s, strip, (long)x0 * TILE, (long)y * TILE);
      continue;
    }
    if (s->w < TILE || !l->e) continue;  // no whole tile to take
    const TileCache* c = tileCacheGet(s, strip);
    const int32_t* row = l->e + (size_t)y * p.map.w + x0;
    for (int k = 0; k < cols; k++)
      if (c) tileCacheDrawWhole(c, row[k], strip, k * TILE, 0);
      else drawFromSheet(s, strip, row[k], k * TILE);
  }
}

// Blends the mark colour over the marked cells of the strip.
void markStrip(const ExportPlan& p, SDL_Surface* strip, uint32_t x0, int cols, uint32_t y) {
  const uint8_t* marks = p.marked->data() + (size_t)y * p.map.w + x0;
  const SDL_PixelFormat* f = strip->format;
  for (int k = 0; k < cols; k++) {
    if (!marks[k]) continue;
    for (int r = 0; r < TILE; r++) {
      Uint32* px = (Uint32*)((Uint8*)strip->pixels + r * strip->pitch) + k * TILE;
      for (int x = 0; x < TILE; x++) {
        Uint8 cr, cg, cb;
        SDL_GetRGB(px[x], f, &cr, &cg, &cb);
        px[x] = SDL_MapRGB(f, (Uint8)((cr + MARK_R) / 2), (Uint8)((cg + MARK_G) / 2), (Uint8)((cb + MARK_B) / 2));
      }
    }
  }
}

// The strip's pixels as RGB bytes at column x0 of the picture's rows.
void stripToRgb(SDL_Surface* strip, int cols, uint32_t x0, size_t rowBytes, unsigned char* rows) {
  const SDL_PixelFormat* f = strip->format;
  for (int r = 0; r < TILE; r++) {
    const Uint32* src = (const Uint32*)((const Uint8*)strip->pixels + r * strip->pitch);
    unsigned char* dst = rows + r * rowBytes + 1 + (size_t)x0 * TILE * RGB;
    for (int x = 0; x < cols * TILE; x++, dst += RGB) {
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
  SDL_Surface* strip = SDL_CreateRGBSurface(SDL_SWSURFACE, STRIP_COLS * TILE, TILE, 32, 0, 0, 0, 0);
  if (!strip) return false;
  PngStream s;
  s.f = f;
  header(s, p.map.w * TILE, p.map.h * TILE);
  static const unsigned char zlibHeader[2] = {0x78, 0x01};  // deflate, 32 KiB window, fastest
  emit(s, zlibHeader, sizeof zlibHeader, false);
  size_t rowBytes = 1 + (size_t)p.map.w * TILE * RGB;  // filter byte 0: none
  unsigned workers = std::max(1u, std::min(std::thread::hardware_concurrency(), MAX_WORKERS));
  size_t batch = std::max<size_t>(1, std::min<size_t>(2 * workers, BATCH_BYTES / (rowBytes * TILE)));
  std::vector<Band> bands[2] = {std::vector<Band>(batch), std::vector<Band>(batch)};
  std::vector<std::thread> running;
  size_t runningCount = 0;
  uLong adler = 1;
  int cur = 0;
  for (uint32_t y0 = 0; y0 < p.map.h; y0 += (uint32_t)batch, cur ^= 1) {
    size_t n = std::min<size_t>(batch, p.map.h - y0);
    for (size_t j = 0; j < n; j++) {
      Band& b = bands[cur][j];
      b.raw.assign(rowBytes * TILE, 0);
      b.last = y0 + j + 1 == p.map.h;
      for (uint32_t x0 = 0; x0 < p.map.w; x0 += STRIP_COLS) {
        int cols = (int)std::min<uint32_t>(STRIP_COLS, p.map.w - x0);
        drawStrip(p, strip, x0, cols, y0 + (uint32_t)j);
        if (p.marked) markStrip(p, strip, x0, cols, y0 + (uint32_t)j);
        stripToRgb(strip, cols, x0, rowBytes, b.raw.data());
      }
    }
    finishBands(s, running, bands[cur ^ 1], runningCount, &adler);
    running = startCompressing(bands[cur], n, workers);
    runningCount = n;
  }
  finishBands(s, running, bands[cur ^ 1], runningCount, &adler);
  SDL_FreeSurface(strip);
  unsigned char sum[4];
  put32(sum, (uint32_t)adler);
  emit(s, sum, sizeof sum, true);
  chunk(s, "IEND", nullptr, 0);
  return s.ok;
}
}  // namespace

bool exportPng(const ExportPlan& p, const std::string& out, std::string* error) {
  if (p.map.w == 0 || p.map.h == 0) {
    *error = "empty map: no picture to make";
    return false;
  }
  if ((uint64_t)p.map.w * TILE > 0x7FFFFFFF || (uint64_t)p.map.h * TILE > 0x7FFFFFFF) {
    *error = "map too big for one picture";
    return false;
  }
  return writeFileAtomically(out, writePicture, &p, error);
}
