// Start-up time: the editor started headless on a copy of the example
// project, timed until it reports the project loaded (the last start-up step;
// the main loop draws at the next pacing tick), against a bare SDL program
// that only opens its window, started the same way in the same run.
//   startup_bench APP_DIR EXAMPLE_PROJECT_DIR
#include <SDL/SDL.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
const int kRuns = 10;
const char kReadyLine[] = "Project loaded succesfully!";

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Starts argv with stdout on a pipe; returns seconds until a line holding
// `ready` appears, then kills the child. -1 on failure.
double timeUntil(char* const argv[], const char* ready) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  double t0 = now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    execv(argv[0], argv);
    _exit(127);
  }
  close(fds[1]);
  std::string seen;
  char buf[4096];
  double t = -1;
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) {
    seen.append(buf, (size_t)n);
    if (seen.find(ready) != std::string::npos) {
      t = now() - t0;
      break;
    }
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(fds[0]);
  return t;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The floor: SDL video and a 640x480 window, nothing else.
int floorProgram() {
  SDL_Init(SDL_INIT_VIDEO);
  SDL_SetVideoMode(640, 480, 32, SDL_HWSURFACE | SDL_DOUBLEBUF);
  printf("ready\n");
  fflush(stdout);
  pause();
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--floor") == 0) return floorProgram();
  if (argc != 3) {
    fprintf(stderr, "usage: startup_bench APP_DIR EXAMPLE_PROJECT_DIR\n");
    return 2;
  }
  char work[] = "/tmp/moska-startup-XXXXXX";
  if (!mkdtemp(work)) return 1;
  char cmd[2048];
  snprintf(cmd, sizeof cmd, "cp -r '%s' '%s/app' && cp -r '%s' '%s/demo'", argv[1], work, argv[2],
           work);
  if (system(cmd) != 0) return 1;
  std::string exe = std::string(work) + "/app/moska2";
  std::string project = std::string(work) + "/demo/PROJECT.MSK";
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = 0;

  std::vector<double> editor, floor;
  for (int i = 0; i < kRuns; i++) {
    char* e[] = {(char*)exe.c_str(), (char*)project.c_str(), nullptr};
    char* f[] = {self, (char*)"--floor", nullptr};
    double te = timeUntil(e, kReadyLine), tf = timeUntil(f, "ready");
    if (te < 0 || tf < 0) {
      fprintf(stderr, "a run did not reach its ready line\n");
      return 1;
    }
    editor.push_back(te * 1000);
    floor.push_back(tf * 1000);
  }
  double me = median(editor), mf = median(floor);
  printf("start-up (median of %d): editor %.1f ms, bare SDL window %.1f ms, ratio %.2f\n",
         kRuns, me, mf, me / mf);
  snprintf(cmd, sizeof cmd, "rm -rf '%s'", work);
  return system(cmd) == 0 ? 0 : 1;
}
