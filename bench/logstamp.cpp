// Stamps lines as they are appended to files, for the end-to-end latency
// benchmark: logstamp OUT FILE... writes "<microseconds> <file index> <line>"
// to OUT for every line appended to a FILE after the start, on the monotonic
// clock, until SIGTERM or SIGINT. Lines of one file keep their order.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {
volatile sig_atomic_t done = 0;
void quit(int) { done = 1; }

long long nowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

struct Watched {
  FILE* f;
  std::string partial;  // a line not yet ended
};

// Reads what was appended to w and stamps its whole lines with `at`.
void drain(Watched& w, int index, long long at, FILE* out) {
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, w.f)) > 0) {
    w.partial.append(buf, n);
    size_t start = 0, end;
    while ((end = w.partial.find('\n', start)) != std::string::npos) {
      fprintf(out, "%lld %d %.*s\n", at, index, (int)(end - start), w.partial.data() + start);
      start = end + 1;
    }
    w.partial.erase(0, start);
  }
  clearerr(w.f);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: logstamp OUT FILE...\n");
    return 2;
  }
  FILE* out = fopen(argv[1], "w");
  int in = inotify_init1(IN_NONBLOCK);
  if (!out || in < 0) return 1;
  std::vector<Watched> files;
  std::vector<int> watch;
  for (int i = 2; i < argc; i++) {
    FILE* f = fopen(argv[i], "r");
    if (!f) {
      fprintf(stderr, "logstamp: cannot open %s\n", argv[i]);
      return 1;
    }
    fseek(f, 0, SEEK_END);
    files.push_back({f, ""});
    watch.push_back(inotify_add_watch(in, argv[i], IN_MODIFY));
  }
  signal(SIGTERM, quit);
  signal(SIGINT, quit);
  char ev[4096];
  while (!done) {
    ssize_t n = read(in, ev, sizeof ev);
    long long at = nowUs();
    if (n <= 0) {
      usleep(100);  // nonblocking, so a signal is seen promptly
      continue;
    }
    for (char* p = ev; p < ev + n;) {
      const inotify_event* e = (const inotify_event*)p;
      for (size_t k = 0; k < watch.size(); k++)
        if (watch[k] == e->wd) drain(files[k], (int)k, at, out);
      p += sizeof(inotify_event) + e->len;
    }
  }
  for (size_t k = 0; k < files.size(); k++) drain(files[k], (int)k, nowUs(), out);
  fclose(out);
  return 0;
}
