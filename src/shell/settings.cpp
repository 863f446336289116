// Settings file and recent-project file.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "net/address.h"
#include "net/auth.h"
#include "net/presence.h"
#include "net/net.h"
#include "shell/shell.h"
#include "core/files.h"
#include "toolkit/video.h"

namespace {
const int kMaxSide = 16384;
const double kMaxAutosaveMinutes = 24 * 60;

// One label word then one value word; false when the file ends first.
bool readValue(FILE* f, char* out, size_t cap, bool* tooLong) {
  char label[64];
  bool skip;
  return readWord(f, label, sizeof label, &skip) && readWord(f, out, cap, tooLong);
}

bool readInt(FILE* f, long* v, const char* what) {
  char word[64];
  bool tooLong;
  if (!readValue(f, word, sizeof word, &tooLong)) return false;
  char* end;
  long n = strtol(word, &end, 10);
  if (tooLong || end == word || *end) {
    printf("Parametre %s incorrect (%s), valeur par defaut conservee.\n", what, word);
    return false;
  }
  *v = n;
  return true;
}

void readText(FILE* f, char* dst, size_t cap, const char* what) {
  char word[1024];
  bool tooLong;
  if (!readValue(f, word, sizeof word, &tooLong)) return;
  if (tooLong || strlen(word) >= cap) {
    printf("Parametre %s trop long (%zu caracteres au plus), valeur par defaut conservee.\n", what,
           cap - 1);
    return;
  }
  memcpy(dst, word, strlen(word) + 1);
}

void readSettingsFile(FILE* f) {
  long v;
  if (readInt(f, &v, "fullscreen")) fullscreen = v != 0;
  if (readInt(f, &v, "video_x")) {
    if (v < VIDEO_MIN_WIDTH || v > kMaxSide)
      printf("Parametre video_x incorrect (%ld), valeur par defaut conservee.\n", v);
    else
      video_x = (uint32_t)v;
  }
  if (readInt(f, &v, "video_y")) {
    if (v < VIDEO_MIN_HEIGHT || v > kMaxSide)
      printf("Parametre video_y incorrect (%ld), valeur par defaut conservee.\n", v);
    else
      video_y = (uint32_t)v;
  }
  readText(f, username, sizeof username, "username");
  readText(f, ipServer, sizeof ipServer, "ipserver");
  if (readInt(f, &v, "fps")) {
    if (v <= 0 || v > 100000)
      printf("Parametre fps incorrect (%ld), valeur par defaut conservee.\n", v);
    else
      fps = (int)v;
  }
  if (readInt(f, &v, "net")) net = v != 0;
}

bool autosaveGiven = false;

void readAutosave(const char* value) {
  char* end;
  double v = strtod(value, &end);
  if (end == value || *end || !(v >= 0) || v > kMaxAutosaveMinutes) {
    printf("Parametre autosave incorrect (%s), valeur par defaut conservee.\n", value);
    return;
  }
  autosaveMinutes = v;
  autosaveGiven = true;
}

bool portGiven = false;

// `port`: the port this editor listens on (and joins when a join names none).
void readPort(const char* value) {
  int port = 0;
  if (!parsePort(value, PORT_MIN, &port)) {
    printf("Parametre port incorrect (%s), valeur par defaut conservee.\n", value);
    return;
  }
  netPort = port;
  portGiven = true;
}

// Pairs that may follow the seven, in any order, known by their label. A
// `line` value runs to the end of its line (a key may hold blanks).
struct OptionalPair {
  const char* label;
  void (*read)(const char* value);
  bool line;
};
const OptionalPair kOptionalPairs[] = {
    {"autosave", readAutosave, false},
    {"port", readPort, false},
    {"allow", authReadAllow, false},
    {"key", authReadKey, true},
    {"colour", presenceReadColour, false},
    {"viewkey", authReadViewKey, true},
};

// Appends the rest of the line to a value, trailing blanks dropped.
void readRestOfLine(FILE* f, char* value, size_t cap, bool* tooLong) {
  size_t n = strlen(value);
  int c;
  while ((c = fgetc(f)) != EOF && c != '\n') {
    if (n + 1 < cap) value[n++] = (char)c;
    else *tooLong = true;
  }
  while (n > 0 && isspace((unsigned char)value[n - 1])) n--;
  value[n] = 0;
}

void readOptionalPairs(FILE* f) {
  char label[64], value[1024];
  bool tooLong;
  while (readWord(f, label, sizeof label, &tooLong)) {
    const OptionalPair* known = nullptr;
    for (const OptionalPair& p : kOptionalPairs)
      if (strcasecmp(p.label, label) == 0) known = &p;
    if (!readWord(f, value, sizeof value, &tooLong)) value[0] = 0;
    if (known && known->line && value[0]) readRestOfLine(f, value, sizeof value, &tooLong);
    // A known pair with a bad value still fails as its reader says (closed, for allow and key).
    if (known)
      known->read(tooLong ? "" : value);
    else
      printf("Parametre %s inconnu ou trop long, ignore.\n", label);
  }
}

// False when the file cannot be opened.
bool readRecent() {
  FILE* f = openFile(USER_FILES, RECENT_NAME, RECENT_EXT, "rb");
  recent[0] = 0;
  if (!f) return false;
  long size = -1;
  if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
  fseek(f, 0, SEEK_SET);
  if (size < 0 || size >= (long)sizeof recent) {
    printf("Fichier recent.txt trop long (%ld octets), ignore.\n", size);
  } else {
    size_t got = fread(recent, 1, (size_t)size, f);
    recent[got] = 0;
  }
  closeFile(f);
  return true;
}

// True when the project file that recent names can be opened.
bool recentProjectOpens() {
  size_t n = strlen(recent);
  if (n < PROJECT_FILE_LEN) return false;
  memcpy(projectPath, recent, n - PROJECT_FILE_LEN);
  projectPath[n - PROJECT_FILE_LEN] = 0;
  FILE* f = openFile(osRep, PROJECT_FILE_NAME, PROJECT_FILE_EXT, "r+");
  if (!f) return false;
  closeFile(f);
  return true;
}
}  // namespace

int loadSettings(char** argv) {
  FILE* f = openFile(USER_FILES, SETTINGS_NAME, SETTINGS_EXT, "r+");
  if (!f) exit(EXIT_SETTINGS);
  readSettingsFile(f);
  autosaveGiven = false;
  portGiven = false;
  readOptionalPairs(f);
  closeFile(f);

  printf("Reading software application parameters:\n");
  printf("fullscreen: %d\n", fullscreen ? 1 : 0);
  printf("video_x: %ld\n", (long)video_x);
  printf("video_y: %ld\n", (long)video_y);
  printf("username: %s\n", username);
  printf("ipserver:%s\n", ipServer);
  printf("fps: %d\n", fps);
  printf("net: %d\n", net ? 1 : 0);
  if (autosaveGiven) printf("autosave: %g\n", autosaveMinutes);
  if (portGiven) printf("port: %d\n", netPort);
  authEchoSettings();
  presenceEchoSettings();

  if (readRecent() && !argv[1]) {
    printf("Verifying recent %s...\n", recent);
    if (!recentProjectOpens()) {
      printf("Can't load recent project %s!\n", recent);
      recent[0] = 0;
    }
  }
  if (argv[1] && argv[1][0] == '?') recent[0] = 0;
  return 1;
}
