// Map and tileset names become file names inside the project's folders.
#include <stdio.h>
#include <string.h>

#include "core/core.h"
#include "core/files.h"

namespace {
bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The refused name for the log, control characters shown as '?'.
void printable(char* out, size_t cap, const char* name) {
  size_t i = 0;
  for (; name[i] && i + 1 < cap; i++) out[i] = isControl((unsigned char)name[i]) ? '?' : name[i];
  out[i] = 0;
}
}  // namespace

bool validName(const char* name) {
  const char* why = nullptr;
  if (!name || !name[0])
    why = "vide";
  else if (strlen(name) >= NAME_LEN)
    why = "trop long";
  else if (strchr(name, '/') || strchr(name, '\\'))
    why = "separateur de dossier";
  else if (strstr(name, ".."))
    why = "\"..\"";
  else
    for (const char* p = name; *p; p++)
      if (isControl((unsigned char)*p))
        why = "caractere de controle";
      else if (*p == ' ')
        why = "espace";  // project file and actions hold names as single words
  if (!why) return true;
  char shown[NAME_LEN];
  printable(shown, sizeof shown, name ? name : "");
  printf("Nom refuse (%s): '%s'!\n", why, shown);
  return false;
}
