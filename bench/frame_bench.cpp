// Measures the frame period of the main loop's pacing at 30 and 1000 frames
// per second, with a headless frame drawn each turn.
#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "editor/editor.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "toolkit/video.h"

static void measure(int rate, int frames) {
  fps = rate;
  stop = false;
  startPacing();
  std::vector<double> periods;
  Uint32 last = 0;
  for (int i = 0; i <= frames; i++) {
    waitFrame();
    refresh();
    Uint32 now = SDL_GetTicks();
    if (i > 0) periods.push_back(now - last);
    last = now;
  }
  stop = true;
  stopPacing();
  std::sort(periods.begin(), periods.end());
  double sum = 0;
  for (double p : periods) sum += p;
  printf("fps %5d: mean frame period %6.2f ms, median %4.0f ms, min %3.0f ms, max %3.0f ms (%d frames)\n",
         rate, sum / periods.size(), periods[periods.size() / 2], periods.front(), periods.back(),
         frames);
}

int main() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_Init(SDL_INIT_VIDEO);
  platformProgramFolder(programPath, sizeof programPath);
  videoInit();
  measure(30, 60);
  measure(1000, 500);
  SDL_Quit();
  return 0;
}
