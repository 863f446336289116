// A real window with one text field and one button, driven by the event
// pump like the editor's screens. Prints the field's value on each click of
// the button and ends on Escape or a window close.
//   widget_demo PROGRAM_FOLDER/
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <stdio.h>

#include "shell/shell.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
const int kFieldX = 8, kFieldY = 100, kFieldW = 200, kFieldLimit = 16;
const int kButtonX = 220, kButtonY = 100;
const uint32_t kFrameMs = 30;

// Stand-in for a missing b_new image: 100 x 60, states of 20 rows.
SDL_Surface* standInButton() {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 100, 60, 32, 0, 0, 0, 0);
  if (!s) return nullptr;
  const Uint8 shades[3][3] = {{60, 60, 200}, {90, 90, 230}, {30, 30, 120}};
  for (int i = 0; i < 3; i++) {
    SDL_Rect r = {0, (Sint16)(20 * i), 100, 20};
    SDL_FillRect(s, &r, SDL_MapRGB(s->format, shades[i][0], shades[i][1], shades[i][2]));
  }
  return s;
}
}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc > 1) snprintf(programPath, sizeof programPath, "%s", argv[1]);
  TTF_Init();
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    printf("Init SDL error: %s\n", SDL_GetError());
    return EXIT_SDL_INIT;
  }
  videoInit();
  shellInstallHooks();
  SDL_WM_SetCaption("MOSKA 2 widget demo", nullptr);
  if (!b_new) b_new = standInButton();
  if (b_new) printf("button: %d x %d\n", b_new->w, b_new->h / 3);

  char value[NAME_LEN] = "";
  // The panel is cleared once: a hovered field is not redrawn, so it must
  // keep its last pixels, as on the editor's panel.
  fillRect(menu, 0, 0, menu->w, menu->h, 200, 200, 200);
  while (!boucle()) {
    textArea(value, kFieldX, kFieldY, kFieldW, kFieldLimit, false);
    if (button(kButtonX, kButtonY, b_new)) printf("clicked: %s\n", value);
    blitMenu();
    SDL_Delay(kFrameMs);
  }
  printf("demo ends\n");
  SDL_Quit();
  return 0;
}
