#include "toolkit/tileset.h"

#include <SDL/SDL.h>
#include <stdio.h>

#include "toolkit/files.h"
#include "toolkit/tilecache.h"
#include "toolkit/tilemip.h"
#include "toolkit/video.h"

SDL_Surface* tilesetLoad(const char* name) {
  char file[FILE_PATH_LEN];
  if (snprintf(file, sizeof file, "%s.png", name) >= (int)sizeof file) return nullptr;
  SDL_Surface* s = loadImage(LAYERS_DIR, file);
  if (!s) return nullptr;
  // The colour of the top-left pixel is the tileset's transparent colour.
  SDL_SetColorKey(s, SDL_SRCCOLORKEY | SDL_RLEACCEL, getpixel(s, 0, 0));
  return s;
}

void tilesetFree(SDL_Surface* s) {
  tileCacheDrop(s);  // the address may come back for another tileset
  tileMipDrop(s);
  if (s) SDL_FreeSurface(s);
}

bool tilesetSize(SDL_Surface* s, int* w, int* h) {
  *w = s ? s->w : 0;
  *h = s ? s->h : 0;
  return s != nullptr;
}

bool tilesetMeasure(const char* name, int* w, int* h) {
  SDL_Surface* s = tilesetLoad(name);
  bool ok = tilesetSize(s, w, h);
  if (s) SDL_FreeSurface(s);  // never entered the tile cache
  return ok;
}
