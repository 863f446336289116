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

// Each refusal: the log's word and the user's sentence.
struct Refusal {
  const char* log;
  const char* user;
};
const Refusal kEmpty = {"vide", "it is empty"};
const Refusal kLong = {"trop long", "it is too long"};
const Refusal kSeparator = {"separateur de dossier", "no / or \\ in a name"};
const Refusal kDots = {"\"..\"", "no \"..\" in a name"};
const Refusal kControl = {"caractere de controle", "it holds a control character"};
// The project file and the actions hold names as single words.
const Refusal kSpace = {"espace", "no spaces in a name (use _ or -)"};

const Refusal* refusalOf(const char* name) {
  if (!name || !name[0]) return &kEmpty;
  if (strlen(name) >= NAME_LEN) return &kLong;
  if (strchr(name, '/') || strchr(name, '\\')) return &kSeparator;
  if (strstr(name, "..")) return &kDots;
  const Refusal* r = nullptr;
  for (const char* p = name; *p; p++)
    if (isControl((unsigned char)*p))
      r = &kControl;
    else if (*p == ' ')
      r = &kSpace;
  return r;
}
}  // namespace

const char* nameRefusal(const char* name) {
  const Refusal* r = refusalOf(name);
  return r ? r->user : nullptr;
}

bool validName(const char* name) {
  const Refusal* r = refusalOf(name);
  if (!r) return true;
  const char* why = r->log;
  char shown[NAME_LEN];
  printable(shown, sizeof shown, name ? name : "");
  printf("Nom refuse (%s): '%s'!\n", why, shown);
  return false;
}
