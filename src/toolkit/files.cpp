// Images and fonts of the program folder and of the project.
#include "toolkit/files.h"

#include <SDL/SDL_image.h>
#include <SDL/SDL_ttf.h>

SDL_Surface* loadImage(const char* rep, const char* name) {
  char path[FILE_PATH_LEN];
  SDL_Surface* s = nullptr;
  if (imagePath(path, sizeof path, rep, name))
    s = IMG_Load(path);
  else
    snprintf(path, sizeof path, "%s%s", rep, name);
  if (s)
    printf("Loaded image: %s!\n", path);
  else
    printf("ERROR: can't load image: %s!\n", path);
  return s;
}

SDL_Surface* loadImageT(const char* rep, const char* name) {
  SDL_Surface* s = loadImage(rep, name);
  if (s) SDL_SetColorKey(s, SDL_SRCCOLORKEY | SDL_RLEACCEL, SDL_MapRGB(s->format, 255, 0, 255));
  return s;
}

TTF_Font* openFont(const char* rep, const char* name, int size) {
  char path[FILE_PATH_LEN];
  if (!imagePath(path, sizeof path, rep, name)) return nullptr;
  if (!TTF_WasInit()) TTF_Init();
  return TTF_OpenFont(path, size);
}
