// Test tilesets: a small PNG writer (paletted, RGB, RGBA) and a generator of
// tile sheets whose tiles mix opaque, keyed and (for RGBA) half-transparent
// pixels.
// Shared by the unit tests and the benchmarks; header-only.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <zlib.h>

#include <string>
#include <vector>

enum SheetKind { SHEET_PALETTED, SHEET_RGB, SHEET_RGBA };

namespace sheet {

inline void putU32(std::string& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += (char)((v >> s) & 0xFF);
}

inline void putChunk(std::string& out, const char* type, const std::string& data) {
  putU32(out, (uint32_t)data.size());
  std::string body = std::string(type, 4) + data;
  out += body;
  putU32(out, (uint32_t)crc32(0, (const Bytef*)body.data(), (uInt)body.size()));
}

}  // namespace sheet

// A zlib stream of the bytes.
inline std::string zlibBytes(const std::string& raw) {
  uLongf n = compressBound(raw.size());
  std::string z(n, 0);
  compress((Bytef*)&z[0], &n, (const Bytef*)raw.data(), raw.size());
  z.resize(n);
  return z;
}

// An image to be written: for SHEET_PALETTED `pixels` holds palette indices
// and `palette` up to 256 RGB triples; otherwise 3 or 4 bytes per pixel.
struct SheetImage {
  SheetKind kind = SHEET_RGB;
  int w = 0, h = 0;
  std::vector<unsigned char> pixels;
  std::vector<unsigned char> palette;
};

inline int sheetChannels(SheetKind k) { return k == SHEET_PALETTED ? 1 : k == SHEET_RGB ? 3 : 4; }

inline std::string encodeSheetPng(const SheetImage& im) {
  int ch = sheetChannels(im.kind);
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  sheet::putU32(ihdr, (uint32_t)im.w);
  sheet::putU32(ihdr, (uint32_t)im.h);
  ihdr += (char)8;  // bit depth
  ihdr += (char)(im.kind == SHEET_PALETTED ? 3 : im.kind == SHEET_RGB ? 2 : 6);
  ihdr += std::string(3, '\0');  // deflate, adaptive filters, no interlace
  sheet::putChunk(out, "IHDR", ihdr);
  if (im.kind == SHEET_PALETTED)
    sheet::putChunk(out, "PLTE", std::string(im.palette.begin(), im.palette.end()));
  std::string raw;
  raw.reserve((size_t)im.h * (im.w * ch + 1));
  for (int y = 0; y < im.h; y++) {
    raw += '\0';  // filter: none
    raw.append((const char*)&im.pixels[(size_t)y * im.w * ch], (size_t)im.w * ch);
  }
  sheet::putChunk(out, "IDAT", zlibBytes(raw));
  sheet::putChunk(out, "IEND", "");
  return out;
}

inline bool writeSheetPng(const std::string& path, const SheetImage& im) {
  std::string bytes = encodeSheetPng(im);
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// A w x h tile sheet. Pixel (0, 0) holds the key colour (magenta), so tile 0
// is the empty tile. Tiles vary with their number: every third is fully
// opaque, the others have keyed holes; RGBA sheets also carry alpha 0, 255 and
// values between. Paletted sheets repeat the key colour at a second, opaque
// index, which a blit must keep.
inline SheetImage makeSheet(SheetKind kind, int w, int h) {
  SheetImage im;
  im.kind = kind;
  im.w = w;
  im.h = h;
  int ch = sheetChannels(kind);
  im.pixels.assign((size_t)w * h * ch, 0);
  if (kind == SHEET_PALETTED) {
    im.palette.resize(256 * 3);
    for (int i = 0; i < 256; i++) {
      im.palette[i * 3] = (unsigned char)(i * 37);
      im.palette[i * 3 + 1] = (unsigned char)(i * 91 + 17);
      im.palette[i * 3 + 2] = (unsigned char)(255 - i);
    }
    const unsigned char magenta[3] = {255, 0, 255};
    for (int c = 0; c < 3; c++) {
      im.palette[c] = magenta[c];        // index 0: the key
      im.palette[5 * 3 + c] = magenta[c];  // index 5: same colour, not the key
    }
  }
  int perRow = w / 16 > 0 ? w / 16 : 1;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      int tile = (y / 16) * perRow + x / 16;
      int tx = x % 16, ty = y % 16;
      bool hole = tile == 0 || (tile % 3 != 0 && ((tx + ty + tile) % 5 == 0 || (tx > 10 && ty < 4)));
      unsigned char* p = &im.pixels[((size_t)y * w + x) * ch];
      if (kind == SHEET_PALETTED) {
        p[0] = hole ? 0 : (unsigned char)(1 + (tile * 7 + tx * 3 + ty) % 255);
        continue;
      }
      if (hole) {
        p[0] = 255, p[1] = 0, p[2] = 255;
        if (ch == 4) p[3] = (tile == 0 || tile % 2) ? 0 : 255;
        continue;
      }
      p[0] = (unsigned char)(tile * 13 + tx * 9);
      p[1] = (unsigned char)(tile * 5 + ty * 11);
      p[2] = (unsigned char)(tx * ty + tile);
      if (ch == 4) p[3] = (unsigned char)((tile % 4 == 1) ? 255 : (tx * 16 + ty * 7 + tile) & 0xFF);
    }
  return im;
}
