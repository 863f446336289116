// The map view's picture at any scale, worked out straight from the tileset
// images' pixels as they were written (tilesheet.h), with nothing of the
// editor's drawing code: a sheet pixel's coverage is 0 where it holds the key
// (the index of pixel (0, 0) in a paletted sheet, its colour in an RGB one)
// and the alpha channel's value in an RGBA one. Below 1:1 each screen pixel
// of a cell is the average of a block of the tile's pixels, colour weighted
// by coverage; above it, a tile pixel repeated. Layers are laid bottom up
// over black, background layers whole at the view's corner at the same
// scale, and the map's outline one pixel outside its rectangle.
// Shared by the unit tests and the benchmarks; header-only.
#pragma once
#include <math.h>
#include <stdint.h>

#include <vector>

#include "tilesheet.h"

const uint32_t REF_OUTLINE = 0x5A6EA0;  // the outline's colour (90, 110, 160)

struct RefLayer {
  const SheetImage* sheet = nullptr;
  const int32_t* cells = nullptr;  // map width x height, row by row
  bool bg = false;
};

struct RefView {
  int width = 0, height = 0;  // the view, pixels
  int cell = 16;               // screen pixels a cell side: 2, 4, 8, 16, 32, 48 or 64
  uint32_t viewX = 0, viewY = 0;
  uint32_t mapW = 0, mapH = 0;
};

namespace ref {

// Colour (0..255 each) and coverage (0..1) of sheet pixel (x, y); nothing
// outside the sheet.
inline void sheetPixel(const SheetImage& s, int x, int y, double rgb[3], double* cover) {
  *cover = 0;
  rgb[0] = rgb[1] = rgb[2] = 0;
  if (x < 0 || y < 0 || x >= s.w || y >= s.h) return;
  int ch = sheetChannels(s.kind);
  const unsigned char* p = &s.pixels[((size_t)y * s.w + x) * ch];
  if (s.kind == SHEET_PALETTED) {
    if (p[0] == s.pixels[0]) return;
    for (int c = 0; c < 3; c++) rgb[c] = s.palette[p[0] * 3 + c];
    *cover = 1;
    return;
  }
  if (s.kind == SHEET_RGB && p[0] == s.pixels[0] && p[1] == s.pixels[1] && p[2] == s.pixels[2]) return;
  for (int c = 0; c < 3; c++) rgb[c] = p[c];
  *cover = s.kind == SHEET_RGBA ? p[3] / 255.0 : 1;
}

// The block of n x n sheet pixels from (x, y): colour premultiplied by
// coverage and coverage, averaged.
inline void block(const SheetImage& s, int x, int y, int n, double pre[3], double* cover) {
  pre[0] = pre[1] = pre[2] = *cover = 0;
  for (int j = 0; j < n; j++)
    for (int i = 0; i < n; i++) {
      double rgb[3], a;
      sheetPixel(s, x + i, y + j, rgb, &a);
      for (int c = 0; c < 3; c++) pre[c] += rgb[c] * a / (n * n);
      *cover += a / (n * n);
    }
}

}  // namespace ref

// 0xRRGGBB for every pixel of the view, row by row.
inline std::vector<uint32_t> referenceView(const RefView& v, const std::vector<RefLayer>& layers) {
  std::vector<uint32_t> out((size_t)v.width * v.height, 0);
  // Below 1:1 one screen pixel stands for n x n map pixels; above it, one
  // map pixel for f x f screen pixels.
  int n = v.cell < 16 ? 16 / v.cell : 1, f = v.cell > 16 ? v.cell / 16 : 1;
  int64_t ox = (int64_t)v.viewX * v.cell / 16, oy = (int64_t)v.viewY * v.cell / 16;
  for (int y = 0; y < v.height; y++)
    for (int x = 0; x < v.width; x++) {
      // The map pixel at the top-left of what this screen pixel shows.
      int64_t mx = (ox + x) * n / f, my = (oy + y) * n / f;
      bool onMap = mx < (int64_t)v.mapW * 16 && my < (int64_t)v.mapH * 16;
      double c[3] = {0, 0, 0};
      for (const RefLayer& l : layers) {
        double pre[3], a;
        if (l.bg) {
          ref::block(*l.sheet, x * n / f, y * n / f, n, pre, &a);
        } else {
          if (!onMap) continue;
          int32_t e = l.cells[(my / 16) * v.mapW + mx / 16];
          int perRow = l.sheet->w / 16, rows = (l.sheet->h + 15) / 16;
          if (perRow == 0 || e < 0 || e >= perRow * rows) continue;
          ref::block(*l.sheet, e % perRow * 16 + (int)(mx % 16), e / perRow * 16 + (int)(my % 16), n, pre, &a);
        }
        for (int k = 0; k < 3; k++) c[k] = pre[k] + c[k] * (1 - a);
      }
      uint32_t px = 0;
      for (int k = 0; k < 3; k++) px |= (uint32_t)lround(c[k] > 255 ? 255 : c[k]) << (16 - 8 * k);
      out[(size_t)y * v.width + x] = px;
    }
  // The outline, one pixel outside the map's rectangle.
  int64_t left = -ox - 1, top = -oy - 1, right = (int64_t)v.mapW * v.cell - ox, bottom = (int64_t)v.mapH * v.cell - oy;
  for (int y = 0; y < v.height; y++)
    for (int x = 0; x < v.width; x++) {
      bool across = x >= left && x <= right, down = y >= top && y <= bottom;
      if ((across && (y == top || y == bottom)) || (down && (x == left || x == right)))
        out[(size_t)y * v.width + x] = REF_OUTLINE;
    }
  return out;
}
