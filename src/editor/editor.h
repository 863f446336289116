// Editor screens: map view, palette, menu panel and the per-frame composition.
#pragma once

void drawWindow();           // redraws the map view surface
void refresh();              // one frame: commands, panel, map view, flip
void setMenu(const char* m); // selects a menu screen and redraws the panel
