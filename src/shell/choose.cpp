// The project-selection screen: browse for a project or create a new one.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/platform.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "toolkit/browser.h"
#include "core/files.h"
#include "model/model.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
const uint32_t kNewProjectCrc = 777;
const char* const kSubFolders[] = {PASS_DIR, MAPS_DIR, MODELS_DIR};
const int kNameLimit = 64;
// The bottom row: name, first map width and height, New project.
const int kNameW = 120, kSizeW = 40, kSizeGap = 4, kSizeTextSize = 12;
const int kTurnDelayMs = 10;

char message[160] = "";

void showMessage(const char* m) {
  snprintf(message, sizeof message, "%s", m);
  printf("%s\n", m);
}

void drawMessage() {
  int y = (int)video_y - 24;
  if (menubg)
    blitIt(menubg, menu, 0, 0);
  else
    fillRect(menu, 0, y, PANEL_WIDTH, 20, 0, 0, 0);
  drawText(message, 8, y, "red", "B", 13, true);
}

bool exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// Writes "recent.txt" holding projectPath and one NUL byte.
void writeRecentWithNul() {
  FILE* f = openFile(USER_FILES, RECENT_NAME, RECENT_EXT, "wb");
  if (!f) {
    printf("recent.txt ne peut pas etre ecrit.\n");
    return;
  }
  fwrite(projectPath, 1, strlen(projectPath) + 1, f);
  closeFile(f);
}

bool copyDefaultTileset(FILE* in) {
  FILE* out = openFile(LAYERS_DIR, DEFAULT_TILESET, IMAGE_EXT, "wb");
  if (!out) return false;
  char buf[16384];
  size_t n;
  bool ok = true;
  while ((n = fread(buf, 1, sizeof buf, in)) > 0)
    if (fwrite(buf, 1, n, out) != n) ok = false;
  if (fclose(out) != 0) ok = false;
  return ok;
}

// The field's limit, then the check every name that becomes a file name
// passes ("." names a folder that exists, refused below).
bool validProjectName(const char* name) {
  return strlen(name) <= (size_t)kNameLimit && validName(name);
}

}  // namespace

// Creates the new project folder tree inside the folder being browsed.
// On success projectPath names the new project file.
bool createProject() {
  char folder[PATH_LEN];
  if (!validProjectName(newproject)) {
    showMessage("Nom de projet refuse (vide, blancs ou separateurs).");
    return false;
  }
  int n = snprintf(folder, sizeof folder, "%s%s%s", projectPath, osRep, newproject);
  if (n < 0 || (size_t)n + strlen(osRep) + 12 >= sizeof folder) {
    showMessage("Chemin du projet trop long.");
    return false;
  }
  unsigned long w = strtoul(newprojectw, nullptr, 10), h = strtoul(newprojecth, nullptr, 10);
  if (w < 1 || h < 1 || (unsigned long long)w * h > (unsigned long long)MAX_LAYER_CELLS) {
    char m[160];
    snprintf(m, sizeof m, "First map size refused: from 1 to %d cells.", (int)MAX_LAYER_CELLS);
    showMessage(m);
    return false;
  }
  if (exists(folder)) {
    char m[160];
    snprintf(m, sizeof m, "Le dossier %.100s existe deja!", newproject);
    showMessage(m);
    return false;
  }
  FILE* def = openFile("", DEFAULT_TILESET, IMAGE_EXT, "rb");
  if (!def) {
    showMessage("default.png manquant: projet non cree.");
    return false;
  }
  char browsed[PATH_LEN];
  memcpy(browsed, projectPath, sizeof browsed);
  bool ok = platformMakeDir(folder);
  memcpy(projectPath, folder, sizeof projectPath);
  FILE* pf = ok ? openFile("?", PROJECT_FILE_NAME, PROJECT_FILE_EXT, "w+") : nullptr;
  if (pf) {
    // A new project names no map yet; its first map is map0.
    Project fresh;
    snprintf(fresh.name, sizeof fresh.name, "%s", newproject);
    fresh.crc = kNewProjectCrc;
    snprintf(fresh.currentMenu, sizeof fresh.currentMenu, "main");
    snprintf(fresh.workingMap, sizeof fresh.workingMap, "map0");
    ok = writeProjectStream(pf, fresh, 0);
    if (fclose(pf) != 0) ok = false;
  } else {
    ok = false;
  }
  char sub[PATH_LEN];
  snprintf(sub, sizeof sub, "%s%slayers", folder, osRep);
  ok = ok && platformMakeDir(sub) && copyDefaultTileset(def);
  closeFile(def);
  for (const char* s : kSubFolders) {
    snprintf(sub, sizeof sub, "%s%s%s", folder, osRep, s);
    ok = ok && platformMakeDir(sub);
  }
  if (!ok) {
    memcpy(projectPath, browsed, sizeof projectPath);
    showMessage("Creation du projet impossible (dossier ou fichier).");
    return false;
  }
  snprintf(projectPath, sizeof projectPath, "%s%s%s", folder, osRep, PROJECT_FILE);
  writeRecentWithNul();
  memcpy(recent, projectPath, sizeof recent);
  return true;
}

namespace {

void waitRelease() {
  while (leftClic && !stop) boucle();
}

// Cuts projectPath at its last separator, never at position 0.
void goUp() {
  for (size_t i = strlen(projectPath); i-- > 1;) {
    if (projectPath[i] == osRep[0]) {
      projectPath[i] = 0;
      return;
    }
  }
}
}  // namespace

int chooseProjectScreen() {
  // Installed, the program's folder is read-only: browsing starts at home.
  const char* home = getenv("HOME");
  bool installed = strcmp(userPath, programPath) != 0;
  if (installed && home && home[0] == '/')
    snprintf(projectPath, sizeof projectPath, "%s%s", home, osRep);
  else
    snprintf(projectPath, sizeof projectPath, "%s", programPath);
  goUp();
  printf("recent: %s!\n", recent);
  printf("projectPath:%s!\n", projectPath);
  drawMessage();
  for (;;) {
    int rowY = (int)video_y - 48;
    textAreaNew(newproject, 8, rowY, kNameW, kNameLimit);
    numberAreaNew(newprojectw, 8 + kNameW + kSizeGap, rowY, kSizeW, NEW_PROJECT_SIZE_LIMIT);
    numberAreaNew(newprojecth, 8 + kNameW + 2 * kSizeGap + kSizeW, rowY, kSizeW, NEW_PROJECT_SIZE_LIMIT);
    if (!message[0])
      drawText("name, first map width x height", 8, rowY + 22, "black", "", kSizeTextSize, true);
    if (button(220, (int)video_y - 48, b_new)) {
      if (createProject()) return 1;
      drawMessage();
    }
    if (boucle()) return 0;
    platformDelay(kTurnDelayMs);
    if (!gxplorer(recent, 1, 1, (int)video_y / 16 - 4, 320)) continue;
    if (strcmp(recent, "..") == 0) {
      printf(":%s!\n", recent);
      goUp();
      printf("projectPath:%s!\n", projectPath);
      recent[0] = 0;
      waitRelease();
      gxplorer_index = 0;
      continue;
    }
    size_t len = strlen(projectPath);
    if (snprintf(projectPath + len, sizeof projectPath - len, "%s%s", osRep, recent) >=
        (int)(sizeof projectPath - len)) {
      projectPath[len] = 0;
      showMessage("Chemin trop long.");
      continue;
    }
    waitRelease();
    gxplorer_index = 0;
    if (strcmp(recent, PROJECT_FILE) == 0) {
      writeRecentWithNul();
      memcpy(recent, projectPath, sizeof recent);
      return 1;
    }
  }
}
