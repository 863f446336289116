// Tiles cut once per tileset. Each tile's pixels are taken by blitting it
// from the sheet, with the sheet's own blit, onto scratch destinations of
// three different colours: a pixel that keeps the scratch colour is
// transparent, a pixel that comes out the same on all three is what the blit
// always writes there. Such a tile is kept as pixels in the target's format
// with a mask of the written ones, and copied straight into the target
// (whole rows with memcpy). A tile whose result depends on what lies under it (blended alpha) is
// cut in the sheet's own format and flags instead, so it blends exactly as
// the sheet does.
#include "toolkit/tilecache.h"

#include <SDL/SDL.h>
#include <string.h>

#include <unordered_map>

namespace {
const int kTile = 16;
const int kMaxTiles = 1 << 14;  // larger sheets (2048 x 2048 pixels) are drawn from the sheet
const int kScratches = 3;
const Uint32 kScratchColour[kScratches] = {0x00000000u, 0xFFFFFFFFu, 0x7F80817Eu};

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

const Uint32 kStateFlags = SDL_SRCCOLORKEY | SDL_SRCALPHA | SDL_RLEACCELOK;

void takeSignature(TileCache& c, SDL_Surface* s, SDL_Surface* target) {
  c.sheet = s;
  c.w = s->w;
  c.h = s->h;
  c.bpp = s->format->BitsPerPixel;
  c.flags = s->flags & kStateFlags;
  c.colorkey = s->format->colorkey;
  c.alpha = s->format->alpha;
  c.sheetMasks[0] = s->format->Rmask;
  c.sheetMasks[1] = s->format->Gmask;
  c.sheetMasks[2] = s->format->Bmask;
  c.sheetMasks[3] = s->format->Amask;
  c.target = target->format;
}

bool sameSignature(const TileCache& c, SDL_Surface* s, SDL_Surface* target) {
  const SDL_PixelFormat* f = s->format;
  return c.w == s->w && c.h == s->h && c.bpp == f->BitsPerPixel &&
         c.flags == (s->flags & kStateFlags) && c.colorkey == f->colorkey && c.alpha == f->alpha &&
         c.sheetMasks[0] == f->Rmask && c.sheetMasks[1] == f->Gmask && c.sheetMasks[2] == f->Bmask &&
         c.sheetMasks[3] == f->Amask && c.target == target->format;
}

SDL_Surface* newSurface(int w, int h, const SDL_PixelFormat* f) {
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, f->BitsPerPixel, f->Rmask, f->Gmask, f->Bmask,
                              f->Amask);
}

Uint32* row32(SDL_Surface* s, int y) { return (Uint32*)((Uint8*)s->pixels + y * s->pitch); }

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

// Marks tile n blended (drawn from its own surface) or sorts its rows.
bool finishTile(TileCache& c, int n, int sx, int sy, bool blended) {
  if (blended) {
    c.kind[n] = TILE_SURFACE;
    c.tiles[n] = cutSameFormat(c.sheet, sx, sy);
    return c.tiles[n] != nullptr;
  }
  const Uint32* mask = &c.masks[(size_t)n * kTile * kTile];
  int written = 0;
  for (int y = 0; y < kTile; y++) {
    int set = 0;
    for (int x = 0; x < kTile; x++) set += mask[y * kTile + x] != 0;
    c.rowKind[n * kTile + y] = set == 0 ? 0 : set == kTile ? 1 : 2;
    written += set;
  }
  c.kind[n] = written ? TILE_PIXELS : TILE_EMPTY;
  return true;
}

// Blits the whole sheet onto each scratch colour in turn (every blit works
// pixel by pixel, so this equals blitting tile by tile) and sorts each pixel
// of each tile: untouched, always the same value, or depending on what lay
// under it.
bool recordTiles(TileCache& c, SDL_Surface* target, int perRow, int rows) {
  SDL_Surface* scratch = newSurface(perRow * kTile, rows * kTile, target->format);
  if (!scratch) return false;
  size_t count = (size_t)perRow * rows, n = count * kTile * kTile;
  std::vector<Uint8> untouched(n, 1), fixed(n, 1);
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
        }
      }
  }
  SDL_FreeSurface(scratch);
  bool ok = true;
  for (size_t t = 0; ok && t < count; t++) {
    bool blended = false;
    for (size_t p = t * kTile * kTile; p < (t + 1) * kTile * kTile; p++) {
      blended = blended || (!untouched[p] && !fixed[p]);
      c.masks[p] = untouched[p] ? 0 : ~0u;
      if (untouched[p]) c.pixels[p] = 0;
    }
    ok = finishTile(c, (int)t, (int)(t % perRow) * kTile, (int)(t / perRow) * kTile, blended);
  }
  return ok;
}

// The sheet's blit mapping now points at a scratch surface about to be
// freed; changing its key and back makes the library map it afresh.
void remapSheet(SDL_Surface* sheet) {
  Uint32 flags = sheet->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK);
  Uint32 f = (flags & SDL_SRCCOLORKEY) | ((flags & SDL_RLEACCELOK) ? SDL_RLEACCEL : 0);
  Uint32 key = sheet->format->colorkey;
  SDL_SetColorKey(sheet, f ^ SDL_SRCCOLORKEY, key);
  SDL_SetColorKey(sheet, f, key);
}

bool build(TileCache& c, SDL_Surface* sheet, SDL_Surface* target) {
  int perRow = sheet->w / kTile, rows = (sheet->h + kTile - 1) / kTile;
  if ((long long)perRow * rows > kMaxTiles || target->format->BytesPerPixel != 4) return false;
  size_t count = (size_t)perRow * rows;
  c.kind.assign(count, TILE_EMPTY);
  c.tiles.assign(count, nullptr);
  c.pixels.assign(count * kTile * kTile, 0);
  c.masks.assign(count * kTile * kTile, 0);
  c.rowKind.assign(count * kTile, 0);
  bool ok = recordTiles(c, target, perRow, rows);
  remapSheet(sheet);
  if (!ok) freeTiles(c);
  return ok;
}
}  // namespace

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

namespace {
bool sameLayout(const SDL_PixelFormat* a, const SDL_PixelFormat* b) {
  return a == b || (a->BytesPerPixel == 4 && b->BytesPerPixel == 4 && a->Rmask == b->Rmask &&
                    a->Gmask == b->Gmask && a->Bmask == b->Bmask && a->Amask == b->Amask);
}

// Copies the written pixels of a recorded tile, clipped to dst.
void copyPixels(const TileCache* c, int n, SDL_Surface* dst, int x, int y) {
  int x0 = x < 0 ? -x : 0, y0 = y < 0 ? -y : 0;
  int x1 = dst->w - x < kTile ? dst->w - x : kTile, y1 = dst->h - y < kTile ? dst->h - y : kTile;
  if (x0 >= x1 || y0 >= y1) return;
  const Uint32* px = &c->pixels[(size_t)n * kTile * kTile];
  const Uint32* mask = &c->masks[(size_t)n * kTile * kTile];
  const Uint8* rowKind = &c->rowKind[(size_t)n * kTile];
  bool locked = SDL_MUSTLOCK(dst);
  if (locked && SDL_LockSurface(dst) < 0) return;
  for (int ty = y0; ty < y1; ty++) {
    if (rowKind[ty] == 0) continue;
    Uint32* d = row32(dst, y + ty) + x;
    const Uint32* s = px + ty * kTile;
    if (rowKind[ty] == 1 && x0 == 0 && x1 == kTile) {
      memcpy(d, s, kTile * 4);
      continue;
    }
    const Uint32* m = mask + ty * kTile;
    if (x0 == 0 && x1 == kTile) {
      for (int tx = 0; tx < kTile; tx++) d[tx] = (s[tx] & m[tx]) | (d[tx] & ~m[tx]);
      continue;
    }
    for (int tx = x0; tx < x1; tx++) d[tx] = (s[tx] & m[tx]) | (d[tx] & ~m[tx]);
  }
  if (locked) SDL_UnlockSurface(dst);
}
}  // namespace

void tileCacheBlit(const TileCache* c, int element, SDL_Surface* dst, int x, int y) {
  if (!c || !dst || element < 0 || (size_t)element >= c->kind.size()) return;
  if (c->kind[element] == TILE_PIXELS && sameLayout(dst->format, c->target)) {
    copyPixels(c, element, dst, x, y);
  } else if (c->kind[element] == TILE_SURFACE) {
    SDL_Rect d = {(Sint16)x, (Sint16)y, 0, 0};
    SDL_BlitSurface(c->tiles[element], nullptr, dst, &d);
  }
}

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
