// Start-up and the main loop.
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "editor/editor.h"
#include "editor/history.h"
#include "editor/menu.h"
#include "model/entities.h"
#include "model/model.h"
#include "model/sidecar.h"
#include "net/net.h"
#include "net/sync.h"
#include "platform/platform.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "toolkit/video.h"

int init(char** argv) {
  TTF_Init();
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    printf("Init SDL error: %s\n", SDL_GetError());
    exit(EXIT_SDL_INIT);
  }
  for (pMap& m : usedMap) m = nullptr;
  atexit(SDL_Quit);
  loadSettings(argv);
  VideoInit video = videoInit();
  if (video != VIDEO_OK) exit(video == VIDEO_NO_MODE ? EXIT_VIDEO_MODE : EXIT_SURFACE);
  libraryClear();
  startPacing();
  return 0;
}

static void mainLoop() {
  for (;;) {
    // Peers' edits land here and in the frame wait, never inside a command.
    netPump();
    waitFrame();
    // Input is taken right before the frame uses it: an event never waits a
    // whole period behind the frame wait.
    boucle();
    if (stop) break;
    refresh();
  }
}

namespace {
// The project's entity definitions; broken files are told on the panel.
void loadEntityModels() {
  std::string why;
  char text[200];
  int broken = entityModelsLoad(&why);
  snprintf(text, sizeof text, "%d entity definition%s not read: %.140s", broken, broken == 1 ? "" : "s", why.c_str());
  if (broken) setPanelMessage(project.currentMenu, text);
}

// A replaced map's note goes under the commands of the menu in view.
void syncNotice(const char* text) { setPanelMessage(project.currentMenu, text); }
}  // namespace

int SDL_main_body(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);  // the log is read while the program runs
  printf("MOSKA 2 %s\n============\n", version);
  findProgramFolders();
  if (argc > 1) printf("%s\n", argv[1]);
  init(argv);
  char caption[64];
  snprintf(caption, sizeof caption, "MOSKA 2 version %s", version);
  SDL_WM_SetCaption(caption, nullptr);
  initCursor();
  shellInstallHooks();
  historyInstall();
  projectSaveHook = saveProjectFile;
  syncNoticeHook = syncNotice;
  sidecarNoticeHook = syncNotice;  // a broken sidecar set aside
  if (net) initNet();
  loadProject(argv);
  printf("Project loaded succesfully!\n");
  loadEntityModels();
  setMenu(project.currentMenu);
  mainLoop();
  return exitSequence();
}
