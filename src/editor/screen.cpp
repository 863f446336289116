// Per-frame composition of the screen and the menu panel.
#include <stdio.h>

#include "editor/editor.h"
#include "model/model.h"
#include "shell/shell.h"
#include "toolkit/video.h"

void setMenu(const char* m) {
  if (m != project.currentMenu) snprintf(project.currentMenu, sizeof project.currentMenu, "%s", m);
  blitIt(menubg, menu, 0, 0);
  blitButton(moska, 10, 40, 0);
}

void refresh() {
  SDL_Rect origin = {0, 0, 0, 0};
  if (menu && screen) SDL_BlitSurface(menu, nullptr, screen, &origin);
  drawWindow();
  blitWindow();
}
