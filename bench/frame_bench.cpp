// Measures the frame period of the main loop's pacing at 30 and 60 frames
// per second, with a headless frame drawn each turn: mean and 99th
// percentile against 1000/fps.
#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "benchutil.h"
#include "editor/editor.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "toolkit/video.h"

static const double kGoalPercent = 2.0;  // mean period within 2% of 1000/fps

static void measure(int rate, int frames) {
  fps = rate;
  stop = false;
  startPacing();
  std::vector<double> periods, draws;
  int64_t last = 0;
  for (int i = 0; i <= frames; i++) {
    waitFrame();
    int64_t now = platformMicros();
    if (i > 0) periods.push_back((now - last) / 1000.0);
    last = now;
    refresh();
    draws.push_back((platformMicros() - now) / 1000.0);
  }
  stop = true;
  stopPacing();
  std::sort(periods.begin(), periods.end());
  std::sort(draws.begin(), draws.end());
  double sum = 0;
  for (double p : periods) sum += p;
  double mean = sum / periods.size(), goal = 1000.0 / rate;
  double p99 = periods[periods.size() * 99 / 100];
  double off = 100.0 * (mean - goal) / goal;
  printf("fps %d: mean frame period %.2f ms, p99 %.2f ms, goal %.2f ms, off %+.2f%% (%d frames)%s\n",
         rate, mean, p99, goal, off, frames,
         std::abs(off) <= kGoalPercent ? "" : "  GOAL MISSED");
  // While a frame is drawn, received edits wait: this bounds their delay.
  printf("fps %d: frame drawing (refresh) p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", rate,
         draws[draws.size() / 2], draws[draws.size() * 99 / 100], draws.back());
}

// frame_bench [APP_DIR/]: the program folder with the interface images.
int main(int argc, char** argv) {
  benchStartSdl(argc, argv);
  videoInit();
  shellInstallHooks();
  measure(30, 150);
  measure(60, 300);
  SDL_Quit();
  return 0;
}
