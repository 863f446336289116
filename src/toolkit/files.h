// Location of every file, image and font of the program and of the project.
//   rep ""      -> the program folder (data)
//   rep USER_FILES -> the user's folder (settings.ini, recent.txt)
//   rep osRep   -> the project folder itself
//   rep "?"     -> the project folder (doubled separator)
//   other word  -> that sub-folder of the project
#pragma once
#include <SDL/SDL_video.h>
#include <stddef.h>
#include <stdio.h>

struct _TTF_Font;

enum { FILE_PATH_LEN = 256 };  // every built path fits 255 characters
extern const char USER_FILES[];

// Builds the path openFile would open; false when it would not fit.
bool filePath(char* out, size_t cap, const char* rep, const char* name, const char* extension);
// Builds the path loadImage/openFont would open; false when it would not fit.
bool imagePath(char* out, size_t cap, const char* rep, const char* name);

FILE* openFile(const char* rep, const char* name, const char* extension, const char* params);
void closeFile(FILE* f);
SDL_Surface* loadImage(const char* rep, const char* name);
SDL_Surface* loadImageT(const char* rep, const char* name);
_TTF_Font* openFont(const char* rep, const char* name, int size);
