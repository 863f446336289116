#include "core/files.h"

#include <ctype.h>
#include <string.h>

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
  out[n] = 0;
  if (tooLong) *tooLong = cut;
  return true;
}
