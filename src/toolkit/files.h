// Images and fonts, found like every other file (core/files.h).
#pragma once
struct SDL_Surface;

#include "core/files.h"

struct _TTF_Font;

SDL_Surface* loadImage(const char* rep, const char* name);
SDL_Surface* loadImageT(const char* rep, const char* name);
_TTF_Font* openFont(const char* rep, const char* name, int size);
