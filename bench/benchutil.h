// What the benchmark programs share: clocks, medians, a scratch project
// folder and a way to keep the editor's log out of what is measured.
#pragma once
#include <SDL/SDL.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "editor/history.h"
#include "model/model.h"
#include "net/net.h"
#include "platform/os.h"
#include "shell/shell.h"
#include "toolkit/video.h"

inline double benchClock(clockid_t id) {
  timespec t;
  clock_gettime(id, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}
inline double benchNow() { return benchClock(CLOCK_MONOTONIC); }            // seconds
inline double benchCpuNow() { return benchClock(CLOCK_PROCESS_CPUTIME_ID); }  // seconds

inline double benchMedian(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A fresh project folder tree under /var/tmp, which becomes projectPath.
inline std::string benchProject() {
  char tmpl[] = "/var/tmp/moska-bench-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  std::string p = std::string(tmpl) + "/";
  for (const char* sub : {"layers", "layerspc", "maps", "models"}) mkdir((p + sub).c_str(), 0755);
  snprintf(projectPath, sizeof projectPath, "%s", p.c_str());
  return p;
}

// Standard output to /dev/null until benchLogBack(the returned descriptor).
inline int benchLogAway() {
  fflush(stdout);
  int saved = dup(1), null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  return saved;
}
inline void benchLogBack(int saved) {
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

inline long benchResidentKiB() {
  FILE* f = fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f && fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  if (f) fclose(f);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The set-up of the editing benchmarks: a scratch project, networking off,
// the undo history's hooks, the log away; returns the descriptor for
// benchLogBack.
inline int benchEditing() {
  benchProject();
  net = false;
  historyInstall();
  return benchLogAway();
}

// A side x side map with one "default" layer, the only open map.
inline Map* benchOnlyMap(uint32_t side, const char* name) {
  Map* m = new Map();
  m->w = m->h = side;
  m->filename = strdup(name);
  project.listeMaps = new pMap[1]{m};
  project.nbreMaps = 1;
  addLayer(m, "default", false);
  return m;
}

// Headless video, and the program folder with the interface images: the
// first argument (APP_DIR), else the benchmark's own folder.
inline void benchStartSdl(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_Init(SDL_INIT_VIDEO);
  if (argc > 1)
    snprintf(programPath, sizeof programPath, "%s/", argv[1]);
  else
    platformProgramFolder(programPath, sizeof programPath);
}

// The set-up of the view benchmarks: headless video at w x h with the
// shell's hooks, a scratch project (projectPath) with the program's default
// tileset, and a side x side map "map0" of it, open and current; the log
// away until benchLogBack(*saved). Null (the log back) on failure.
inline Map* benchViewMap(int argc, char** argv, int w, int h, uint32_t side, int* saved) {
  benchStartSdl(argc, argv);
  std::string folder = benchProject();
  std::string copy = "cp '" + std::string(programPath) + "default.png' '" + folder + "layers/'";
  *saved = benchLogAway();
  video_x = w, video_y = h;
  if (system(copy.c_str()) == 0 && videoInit() == VIDEO_OK) {
    shellInstallHooks();
    newMapFile("map0", side, side);
    project.currentMap = openMapInFreeSlot("map0");
    if (project.currentMap >= 0) return openMapAt(project.currentMap);
  }
  benchLogBack(*saved);
  return nullptr;
}
