// Tiles cut once per tileset. Each tile's pixels are taken by blitting it
// from the sheet, with the sheet's own blit, onto scratch destinations of
// three different colours: a pixel that keeps the scratch colour is
// transparent, a pixel that comes out the same on all three is what the blit
// always writes there. Such a tile becomes a surface in the target's format,
// keyed on a value none of its pixels has, which the library copies run by
// run. A tile whose result depends on what lies under it (blended alpha) is
// cut in the sheet's own format and flags instead, so it blends exactly as
// the sheet does.
#include "toolkit/tilecache.h"

#include <SDL/SDL.h>
#include <string.h>

#include <unordered_map>

namespace {
const int kTile = 16;
const int kMaxTiles = 1 << 16;  // larger sheets (64 MiB of tiles) are drawn from the sheet
const int kScratches = 3;
const Uint32 kScratchColour[kScratches] = {0x00000000u, 0xFFFFFFFFu, 0x7F80817Eu};

std::unordered_map<SDL_Surface*, TileCache> caches;

void freeTiles(TileCache& c) {
  for (SDL_Surface* t : c.tiles)
    if (t) SDL_FreeSurface(t);
  c.tiles.clear();
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
  c.masks[0] = s->format->Rmask;
  c.masks[1] = s->format->Gmask;
  c.masks[2] = s->format->Bmask;
  c.masks[3] = s->format->Amask;
  c.target = target->format;
}

bool sameSignature(const TileCache& c, SDL_Surface* s, SDL_Surface* target) {
  const SDL_PixelFormat* f = s->format;
  return c.w == s->w && c.h == s->h && c.bpp == f->BitsPerPixel &&
         c.flags == (s->flags & kStateFlags) && c.colorkey == f->colorkey && c.alpha == f->alpha &&
         c.masks[0] == f->Rmask && c.masks[1] == f->Gmask && c.masks[2] == f->Bmask &&
         c.masks[3] == f->Amask && c.target == target->format;
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

bool keyTaken(const Uint32* px, const bool* opaque, Uint32 key) {
  for (int i = 0; i < kTile * kTile; i++)
    if (opaque[i] && px[i] == key) return true;
  return false;
}

// Makes the tile at (sx, sy) of the sheet. Null with *empty set: the blit
// writes nothing. Null without it: out of memory.
SDL_Surface* makeTile(SDL_Surface* sheet, SDL_Surface* scratch[], int sx, int sy, bool* empty) {
  *empty = false;
  for (int i = 0; i < kScratches; i++) {
    SDL_FillRect(scratch[i], nullptr, kScratchColour[i]);
    SDL_Rect src = {(Sint16)sx, (Sint16)sy, kTile, kTile};
    SDL_Rect dst = {0, 0, 0, 0};
    SDL_BlitSurface(sheet, &src, scratch[i], &dst);
  }
  Uint32 px[kTile * kTile];
  bool opaque[kTile * kTile];
  int written = 0;
  for (int y = 0; y < kTile; y++)
    for (int x = 0; x < kTile; x++) {
      Uint32 v[kScratches];
      bool untouched = true, fixed = true;
      for (int i = 0; i < kScratches; i++) {
        v[i] = row32(scratch[i], y)[x];
        untouched = untouched && v[i] == kScratchColour[i];
        fixed = fixed && v[i] == v[0];
      }
      if (!untouched && !fixed) return cutSameFormat(sheet, sx, sy);
      opaque[y * kTile + x] = !untouched;
      px[y * kTile + x] = v[0];
      written += !untouched;
    }
  if (written == 0) {
    *empty = true;
    return nullptr;
  }
  // A key that no written pixel has; at most 256 values are taken.
  Uint32 key = 0xFF00FE01u;
  while (keyTaken(px, opaque, key)) key++;
  SDL_Surface* t = newSurface(kTile, kTile, scratch[0]->format);
  if (!t) return nullptr;
  for (int y = 0; y < kTile; y++)
    for (int x = 0; x < kTile; x++) row32(t, y)[x] = opaque[y * kTile + x] ? px[y * kTile + x] : key;
  if (written < kTile * kTile) SDL_SetColorKey(t, SDL_SRCCOLORKEY | SDL_RLEACCEL, key);
  return t;
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
  SDL_Surface* scratch[kScratches] = {nullptr, nullptr, nullptr};
  bool ok = true;
  for (int i = 0; i < kScratches; i++) {
    scratch[i] = newSurface(kTile, kTile, target->format);
    ok = ok && scratch[i];
  }
  c.tiles.assign((size_t)perRow * rows, nullptr);
  for (int n = 0; ok && n < perRow * rows; n++) {
    bool empty = false;
    c.tiles[n] = makeTile(sheet, scratch, (n % perRow) * kTile, (n / perRow) * kTile, &empty);
    ok = c.tiles[n] || empty;
  }
  for (SDL_Surface* s : scratch)
    if (s) SDL_FreeSurface(s);
  remapSheet(sheet);
  if (!ok) freeTiles(c);
  return ok;
}
}  // namespace

const TileCache* tileCacheGet(SDL_Surface* sheet, SDL_Surface* target) {
  if (!sheet || !target || sheet->w < kTile || sheet->h <= 0) return nullptr;
  auto it = caches.find(sheet);
  if (it != caches.end()) {
    if (sameSignature(it->second, sheet, target)) return it->second.tiles.empty() ? nullptr : &it->second;
    freeTiles(it->second);
  }
  TileCache& c = caches[sheet];
  // The signature is taken first: building does not change the sheet, and a
  // sheet that cannot be cached is not retried on every frame.
  takeSignature(c, sheet, target);
  if (!build(c, sheet, target)) return nullptr;
  return &c;
}

void tileCacheBlit(const TileCache* c, int element, SDL_Surface* dst, int x, int y) {
  if (!c || element < 0 || (size_t)element >= c->tiles.size()) return;
  SDL_Surface* t = c->tiles[element];
  if (!t) return;
  SDL_Rect d = {(Sint16)x, (Sint16)y, 0, 0};
  SDL_BlitSurface(t, nullptr, dst, &d);
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
