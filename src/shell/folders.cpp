// Where the program finds its data and keeps each user's files. Run from
// the build tree, both are the program's own folder. Installed (the program
// in <prefix>/bin, its data in <prefix>/share/moska2), the data stays there
// and settings.ini and recent.txt live in $XDG_CONFIG_HOME/moska2 (default
// ~/.config/moska2), settings.ini copied from the installed one on first start.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/files.h"
#include "platform/os.h"
#include "shell/shell.h"

#ifndef MOSKA_DATA_FROM_BIN
#define MOSKA_DATA_FROM_BIN "../share/moska2"
#endif

namespace {
const char CONFIG_SUBDIR[] = "moska2/";

bool exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// Makes every missing folder of path (which ends with '/').
bool makeFolders(char* path) {
  for (char* p = path + 1; *p; p++) {
    if (*p != '/') continue;
    *p = 0;
    bool ok = exists(path) || platformMakeDir(path);
    *p = '/';
    if (!ok) return false;
  }
  return true;
}

bool copyFile(const char* from, const char* to) {
  FILE* in = fopen(from, "rb");
  if (!in) return false;
  char temp[PATH_LEN + 8];
  snprintf(temp, sizeof temp, "%s.new", to);
  FILE* out = fopen(temp, "wb");
  bool ok = out != nullptr;
  char buf[4096];
  for (size_t n; ok && (n = fread(buf, 1, sizeof buf, in)) > 0;) ok = fwrite(buf, 1, n, out) == n;
  ok = !ferror(in) && ok;
  fclose(in);
  if (out) ok = fclose(out) == 0 && ok;
  ok = ok && rename(temp, to) == 0;
  if (!ok) remove(temp);
  return ok;
}

// The user's folder: $XDG_CONFIG_HOME/moska2/, else ~/.config/moska2/.
bool userConfigFolder(char* out, size_t cap) {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  int n;
  if (xdg && xdg[0] == '/')
    n = snprintf(out, cap, "%s/%s", xdg, CONFIG_SUBDIR);
  else if (home && home[0])
    n = snprintf(out, cap, "%s/.config/%s", home, CONFIG_SUBDIR);
  else
    return false;
  return n > 0 && (size_t)n < cap;
}

// The installed data folder beside bin/, when the program runs from there.
bool installedDataFolder(const char* exeDir, char* out, size_t cap) {
  size_t n = strlen(exeDir);
  if (n < 5 || strcmp(exeDir + n - 5, "/bin/") != 0) return false;
  char settings[PATH_LEN];
  int w = snprintf(out, cap, "%s%s/", exeDir, MOSKA_DATA_FROM_BIN);
  if (w <= 0 || (size_t)w >= cap) return false;
  snprintf(settings, sizeof settings, "%s%s.%s", out, SETTINGS_NAME, SETTINGS_EXT);
  char real[PATH_MAX];
  if (!exists(settings) || !realpath(out, real)) return false;
  w = snprintf(out, cap, "%s/", real);  // without the "bin/.."
  return w > 0 && (size_t)w < cap;
}
}  // namespace

void findProgramFolders() {
  char exeDir[PATH_LEN];
  if (!platformProgramFolder(exeDir, sizeof exeDir)) exeDir[0] = 0;
  snprintf(programPath, sizeof programPath, "%s", exeDir);
  snprintf(userPath, sizeof userPath, "%s", exeDir);
  char data[PATH_LEN], user[PATH_LEN];
  if (!installedDataFolder(exeDir, data, sizeof data)) return;
  snprintf(programPath, sizeof programPath, "%s", data);
  if (!userConfigFolder(user, sizeof user) || !makeFolders(user)) {
    printf("Dossier de configuration introuvable ou impossible a creer, %s utilise.\n", data);
    snprintf(userPath, sizeof userPath, "%s", data);
    return;
  }
  snprintf(userPath, sizeof userPath, "%s", user);
  char mine[PATH_LEN + 16], installed[PATH_LEN + 16];
  snprintf(mine, sizeof mine, "%s%s.%s", user, SETTINGS_NAME, SETTINGS_EXT);
  snprintf(installed, sizeof installed, "%s%s.%s", data, SETTINGS_NAME, SETTINGS_EXT);
  if (!exists(mine) && !copyFile(installed, mine))
    printf("Impossible de creer %s: %s\n", mine, strerror(errno));
}
