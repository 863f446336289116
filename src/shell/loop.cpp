// Event pump, frame pacing, quit path and exit sequence.
#include <SDL/SDL.h>
#include <stdio.h>

#include "editor/editor.h"
#include "model/model.h"
#include "net/net.h"
#include "platform/platform.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "toolkit/files.h"

static SDL_Thread* processorThread = nullptr;
// Counts the raises of synchronisation, so a frame is drawn once per period
// even when it takes less than the 1 ms the flag stays raised.
static std::atomic<uint32_t> pacingTicks{0};
static uint32_t lastFrameTick = 0;

int processorF(void*) {
  while (!stop) {
    synchronisation = false;
    platformDelay(1000 / fps);
    pacingTicks++;
    synchronisation = true;
    platformDelay(1);
  }
  return 0;
}

void waitFrame() {
  while (!synchronisation || pacingTicks == lastFrameTick) {
    if (stop) return;
    netPump();  // peers' edits are applied while waiting, not once per frame
    platformDelay(1);
  }
  lastFrameTick = pacingTicks;
}

void startPacing() { processorThread = SDL_CreateThread(processorF, nullptr); }

void stopPacing() {
  if (processorThread) SDL_WaitThread(processorThread, nullptr);
  processorThread = nullptr;
}

bool boucle() {
  netPump();  // received actions change the maps only here, between frames
  platformPollEvent(&event);  // when none is pending, the last event stays
  uint8_t buttons = platformGetMouseState(&mouseX, &mouseY);
  leftClic = buttons & SDL_BUTTON(1);
  middleClic = buttons & SDL_BUTTON(2);
  rightClic = buttons & SDL_BUTTON(3);
  bool down = event.type == SDL_MOUSEBUTTONDOWN;
  wheelDown = down && event.button.button == SDL_BUTTON_WHEELDOWN;
  wheelUp = down && event.button.button == SDL_BUTTON_WHEELUP;
  if (event.type == SDL_QUIT || (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE))
    stopNow();
  return stop;
}

void stopNow() {
  disconnect(true);
  if (projectLoaded)
    saveProjectFile();
  else
    printf("Aucun projet charge: fichier projet non enregistre.\n");
  stop = true;
}

void exitSequence() {
  for (int i = 0; i < project.nbreMaps; i++) {
    pMap m = project.listeMaps[i];
    if (m) closeMapi(i, m->filename);
  }
  FILE* f = openFile(USER_FILES, "recent", "txt", "w+");
  if (f) {
    fputs(recent, f);
    closeFile(f);
  }
  stopPacing();
  printf("\nProgramme termine.\n");
}
