// Tileset images as the model sees them: opaque surfaces with a size.
// Keeps SDL video out of the model.
#pragma once
struct SDL_Surface;

// Loads "<name>.png" from the project's "layers" folder and makes the colour
// of its pixel (0, 0) transparent. Logs like loadImage. Null on failure.
SDL_Surface* tilesetLoad(const char* name);
void tilesetFree(SDL_Surface* s);
// Pixel size of a tileset; false (and 0 x 0) for a null surface.
bool tilesetSize(SDL_Surface* s, int* w, int* h);
// Pixel size of "<name>.png" without keeping it: loaded, measured and freed
// at once (never drawn, so any thread may call it). False when it does not load.
bool tilesetMeasure(const char* name, int* w, int* h);
