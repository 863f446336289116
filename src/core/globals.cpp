#include <stdarg.h>
#include <stdio.h>
#include <time.h>

#include "core/core.h"

char version[VERSION_LEN] = "0.24a";
const char osRep[2] = "/";
char programPath[PATH_LEN] = "";
char userPath[PATH_LEN] = "";
bool fullscreen = false;
uint32_t video_x = 640, video_y = 480;
char username[NAME_LEN] = "?";
char ipServer[ADDRESS_LEN] = "10.0.0.2";
int fps = 30;
bool net = true;
double autosaveMinutes = 2;
char recent[PATH_LEN] = "";
char projectPath[PATH_LEN] = "";

std::atomic<bool> stop{false};
std::atomic<bool> projectLoaded{false};

namespace {
uint64_t monotonicMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint64_t)t.tv_sec * 1000 + (uint64_t)t.tv_nsec / 1000000;
}
const uint64_t kStartMs = monotonicMs();  // counted from start-up, so it wraps after 49 days of running
}  // namespace

uint32_t coreMillis() { return (uint32_t)(monotonicMs() - kStartMs); }

void coreSleepMs(uint32_t ms) {
  timespec t{time_t(ms / 1000), long(ms % 1000) * 1000000};
  while (nanosleep(&t, &t) != 0) {
  }
}

void logMarker(const char* format, ...) {
  char line[NAME_LEN + 16];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  printf("%s\n", line);
}

void coreReset() {
  snprintf(version, sizeof version, "0.24a");
  programPath[0] = 0;
  userPath[0] = 0;
  fullscreen = false;
  video_x = 640;
  video_y = 480;
  snprintf(username, sizeof username, "?");
  snprintf(ipServer, sizeof ipServer, "10.0.0.2");
  fps = 30;
  net = true;
  autosaveMinutes = 2;
  recent[0] = 0;
  projectPath[0] = 0;
  stop = false;
}
