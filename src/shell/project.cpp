// The project file "PROJECT.MSK" and loading the project at start-up.
#include "shell/project.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/model.h"
#include "shell/shell.h"
#include "core/files.h"

char newproject[256] = "newgame";
char newprojectw[NEW_PROJECT_SIZE_LEN] = "64", newprojecth[NEW_PROJECT_SIZE_LEN] = "48";

namespace {
const int kMaxMapSlots = 65536;

// One label word (discarded) then one value word, read whole.
bool readPair(FILE* f, char* out, size_t cap) {
  char label[NAME_LEN];
  if (!readWord(f, label, sizeof label, nullptr)) return false;
  if (!readWord(f, out, cap, nullptr)) out[0] = 0;
  return out[0] != 0;
}

long readNumber(FILE* f) {
  char w[64];
  return readPair(f, w, sizeof w) ? strtol(w, nullptr, 10) : 0;
}

bool isFile(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The argument names the project file itself or its folder.
bool projectFromArgument(const char* arg) {
  char path[PATH_LEN];
  size_t n = strlen(arg);
  bool endsWithFile = n >= PROJECT_FILE_LEN && strcmp(arg + n - PROJECT_FILE_LEN, PROJECT_FILE) == 0 &&
                      (n == PROJECT_FILE_LEN || arg[n - PROJECT_FILE_LEN - 1] == osRep[0]);
  int w;
  if (n == PROJECT_FILE_LEN && endsWithFile)  // a bare name: the current folder
    w = snprintf(path, sizeof path, ".%s%s", osRep, arg);
  else if (endsWithFile)
    w = snprintf(path, sizeof path, "%s", arg);
  else
    w = snprintf(path, sizeof path, "%s%s%s", arg, n && arg[n - 1] == osRep[0] ? "" : osRep,
                 PROJECT_FILE);
  if (w < 0 || (size_t)w >= sizeof path || !isFile(path)) {
    printf("Projet introuvable: %s (ni fichier %s ni dossier de projet)!\n", arg, PROJECT_FILE);
    return false;
  }
  memcpy(projectPath, path, strlen(path) + 1);
  return true;
}
}  // namespace

bool readProjectFile() {
  FILE* f = openFile(osRep, PROJECT_FILE_NAME, PROJECT_FILE_EXT, "r+");
  if (!f) return false;
  printf("Loading project %s...\n", projectPath);
  readPair(f, project.name, sizeof project.name);
  project.crc = (uint32_t)readNumber(f);
  project.mapIndex = (int32_t)readNumber(f);
  long maps = readNumber(f);
  project.currentMap = (int32_t)readNumber(f);
  project.currentMap = 0;
  project.currentLayer = (int32_t)readNumber(f);
  project.currentElement = (int32_t)readNumber(f);
  project.elementIndex = (int32_t)readNumber(f);
  if (!readPair(f, project.currentMenu, sizeof project.currentMenu))
    snprintf(project.currentMenu, sizeof project.currentMenu, "main");
  readPair(f, project.workingMap, sizeof project.workingMap);
  closeFile(f);
  if (maps < 0 || maps > kMaxMapSlots) {
    printf("MAPS incorrect (%ld), ramene a 1.\n", maps);
    maps = 1;
  }
  project.nbreMaps = (int32_t)maps;
  if (project.currentElement < 0) project.currentElement = 0;
  if (project.elementIndex < 0) project.elementIndex = 0;
  printf("project name:%s\n", project.name);
  printf("crc: %ld\n", (long)project.crc);
  printf("mapIndex: %d\n", project.mapIndex);
  printf("NbreMaps: %d\n", project.nbreMaps);
  return true;
}

bool saveProjectFile() {
  // Written beside the old file and renamed over it, as the maps are: a full
  // disk or a crash never leaves a truncated project file.
  char path[FILE_PATH_LEN], temp[FILE_PATH_LEN + 8];
  FILE* f = nullptr;
  if (filePath(path, sizeof path, osRep, PROJECT_FILE_NAME, PROJECT_FILE_EXT))
    f = replacingOpen(path, ".tmp", temp, sizeof temp);
  if (!f) {
    printf("ERROR: can't load (w+) file: %s%s!\n", projectPath, PROJECT_FILE);
    return false;
  }
  printf("Loaded file(w+): %s!\n", path);
  printf("Saving project %s...\n", projectPath);
  // The file names one map, the working one, whatever the open-map list holds.
  bool ok = replacingCommit(f, temp, path, writeProjectStream(f, project, 1), nullptr);
  if (!ok) {
    printf("ERREUR: ecriture du fichier projet impossible, ancien fichier conserve!\n");
  }
  return ok;
}

void startProject() {
  printf("Start project...\n");
  unsigned long w = strtoul(newprojectw, nullptr, 10), h = strtoul(newprojecth, nullptr, 10);
  newMap(w, h);  // a size the model refuses gives its default
}

// Opens the working map into slot 0 of a fresh list, or starts the project.
static void openWorkingMap() {
  if (project.nbreMaps != 0) {
    project.listeMaps = new pMap[project.nbreMaps]();
    // Only a missing file starts a new map; one that exists but cannot be
    // opened ends the start with status 7 (nothing is made over it), and
    // one whose tilesets do not fit the library with status 4.
    char path[FILE_PATH_LEN];
    struct stat st;
    bool found = validName(project.workingMap) &&
                 filePath(path, sizeof path, MAPS_DIR, project.workingMap, MAP_EXT) &&
                 stat(path, &st) == 0;
    if (!found) printf("Carte de travail %s introuvable.\n", project.workingMap);
    ModelError why = MODEL_OK;
    bool opened = found && openMapi(0, project.workingMap, &why);
    if (why == MODEL_MAP_UNREADABLE || why == MODEL_LIBRARY_FULL) {
      fflush(stdout);
      exit(why == MODEL_MAP_UNREADABLE ? EXIT_MAP_READ : EXIT_LIBRARY_FULL);
    }
    if (!opened) {
      printf("Carte de travail %s illisible: nouvelle carte.\n", project.workingMap);
      delete[] project.listeMaps;
      project.listeMaps = nullptr;
      project.nbreMaps = 0;
    }
  }
  if (project.nbreMaps == 0 || !project.listeMaps[0]) {
    startProject();
    project.currentMap = project.nbreMaps - 1;
  }
  pMap m = project.listeMaps[project.currentMap];
  snprintf(project.workingMap, sizeof project.workingMap, "%s", m->filename);
  if (project.currentLayer < 0 || project.currentLayer >= m->layers) {
    printf("CURRENTLAYER %d hors de la carte (%d layers), ramene a 0.\n", project.currentLayer,
           m->layers);
    project.currentLayer = 0;
  }
}

int chooseProjectScreen();  // project-selection screen (choose.cpp)

int loadProject(char** argv) {
  if (argv[1] && argv[1][0] != '?') {
    if (!projectFromArgument(argv[1])) exit(EXIT_PROJECT_FILE);
  } else {
    snprintf(projectPath, sizeof projectPath, "%s", recent);
    if (!recent[0] && !chooseProjectScreen()) return 0;
  }
  size_t n = strlen(projectPath);
  projectPath[n >= PROJECT_FILE_LEN ? n - PROJECT_FILE_LEN : 0] = 0;
  printf("->projectPath=%s\n", projectPath);
  if (!readProjectFile()) exit(EXIT_PROJECT_FILE);
  openWorkingMap();
  projectLoaded = true;
  printf("Project loaded.\n");
  return 1;
}
