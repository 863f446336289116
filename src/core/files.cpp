#include "core/files.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/core.h"

const char USER_FILES[] = "~";

namespace {
bool endsWithSeparator(const char* p) {
  size_t n = strlen(p);
  return n > 0 && p[n - 1] == osRep[0];
}

// snprintf that reports whether the whole text fitted.
bool fits(int written, size_t cap) { return written >= 0 && (size_t)written < cap; }
}  // namespace

bool filePath(char* out, size_t cap, const char* rep, const char* name, const char* extension) {
  if (cap > FILE_PATH_LEN) cap = FILE_PATH_LEN;
  int n;
  if (rep[0] == 0 || strcmp(rep, USER_FILES) == 0) {
    const char* dir = rep[0] && userPath[0] ? userPath : programPath;
    n = snprintf(out, cap, "%s%s.%s", dir, name, extension);
  } else {
    // "?" is the project folder reached as a sub-folder named "".
    const char* sub = strcmp(rep, "?") == 0 ? "" : rep;
    const char* sep = endsWithSeparator(projectPath) ? "" : osRep;
    if (strcmp(rep, osRep) == 0)
      n = snprintf(out, cap, "%s%s%s.%s", projectPath, sep, name, extension);
    else
      n = snprintf(out, cap, "%s%s%s%s%s.%s", projectPath, sep, sub, osRep, name, extension);
  }
  if (fits(n, cap)) return true;
  out[0] = 0;
  return false;
}

bool imagePath(char* out, size_t cap, const char* rep, const char* name) {
  if (cap > FILE_PATH_LEN) cap = FILE_PATH_LEN;
  int n;
  if (rep[0] == 0)
    n = snprintf(out, cap, "%s%s", programPath, name);
  else if (strcmp(rep, osRep) == 0)
    n = snprintf(out, cap, "%s%s", projectPath, name);
  else
    n = snprintf(out, cap, "%s%s%s%s", projectPath, rep, osRep, name);
  if (fits(n, cap)) return true;
  out[0] = 0;
  return false;
}

FILE* openFile(const char* rep, const char* name, const char* extension, const char* params) {
  char path[FILE_PATH_LEN];
  FILE* f = nullptr;
  if (filePath(path, sizeof path, rep, name, extension)) {
    f = fopen(path, params);
  } else {
    // Too long to open: name what was asked, cut to fit the log line.
    snprintf(path, sizeof path, "%s%s.%s", rep, name, extension);
  }
  if (f)
    printf("Loaded file(%s): %s!\n", params, path);
  else
    printf("ERROR: can't load (%s) file: %s!\n", params, path);
  return f;
}

void closeFile(FILE* f) {
  if (f) fclose(f);
}

FILE* replacingOpen(const char* path, const char* suffix, char* temp, size_t cap) {
  if (!fits(snprintf(temp, cap, "%s%s", path, suffix ? suffix : ".XXXXXX"), cap)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  if (suffix) return fopen(temp, "wb");
  int fd = mkstemp(temp);
  if (fd < 0) return nullptr;
  mode_t mask = umask(0);  // the mode a plain fopen would give
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  FILE* f = fdopen(fd, "wb");
  if (!f) close(fd), unlink(temp);
  return f;
}

namespace {
// Makes the rename of a finished file durable too.
void syncFolder(const char* file) {
  char dir[PATH_LEN];
  snprintf(dir, sizeof dir, "%s", file);
  char* slash = strrchr(dir, '/');
  if (!slash) return;
  slash[1] = 0;
  int fd = open(dir, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}
}  // namespace

bool replacingCommit(FILE* f, const char* temp, const char* path, bool ok, int* err) {
  int e = ok ? 0 : errno;  // the caller's failed write
  if (ok && (fflush(f) != 0 || fsync(fileno(f)) != 0)) {
    ok = false;
    e = errno;
  }
  if (fclose(f) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && rename(temp, path) != 0) {
    e = errno;
    ok = false;
  }
  if (!ok) {
    remove(temp);
    if (err) *err = e ? e : EIO;
    return false;
  }
  syncFolder(path);
  return true;
}

bool readWord(FILE* f, char* out, size_t cap, bool* tooLong) {
  int c;
  do c = fgetc(f); while (c != EOF && isspace(c));
  if (c == EOF) return false;
  size_t n = 0;
  bool cut = false;
  for (; c != EOF && !isspace(c); c = fgetc(f)) {
    if (n + 1 < cap) out[n++] = (char)c;
    else cut = true;
  }
  if (c != EOF) ungetc(c, f);  // a value running to the line's end keeps its blanks
  out[n] = 0;
  if (tooLong) *tooLong = cut;
  return true;
}
