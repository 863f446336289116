// The map view's drawing, shared by its files: the map at 1:1 (view.cpp),
// zoomed out (viewscaled.cpp), and the marks drawn over it. Each returns
// false when network traffic began and drawing stopped.
#pragma once
#include <stdint.h>

struct Map;
struct SDL_Surface;

// The map at 1:1 into all of dst, map pixel (px, py) at dst's top-left corner.
bool drawMapAt(SDL_Surface* dst, const Map* m, uint32_t px, uint32_t py);
// The map into the view from the tilesets' mip level `mip` (1 to 3).
bool drawMapReduced(const Map* m, int mip);
// Over the drawn map: its outline, the grid when shown, the overview when shown.
void drawViewMarks(const Map* m);
// The overview (overview.cpp), when shown.
void drawOverview(const Map* m);
