// Event pump, frame pacing, quit path and exit sequence.
#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "editor/editor.h"
#include "model/model.h"
#include "net/net.h"
#include "platform/platform.h"
#include "shell/project.h"
#include "shell/shell.h"
#include "core/files.h"
#include "toolkit/video.h"

static SDL_Thread* processorThread = nullptr;
// Counts the raises of synchronisation, so a frame is drawn once per period
// even when it takes less than the 1 ms the flag stays raised.
static std::atomic<uint32_t> pacingTicks{0};
static uint32_t lastFrameTick = 0;
// When the next raise is due (platformMicros), so waitFrame sleeps no longer.
static std::atomic<int64_t> nextRaise{0};
static const int64_t kMicrosPerSecond = 1000000;
static const int64_t kRaisedMicros = 1000;   // the flag stays up about 1 ms
static const int64_t kStopMicros = 10000;    // waitFrame looks at `stop` this often
static const int64_t kCatchUpPeriods = 3;    // a late raise within this many periods keeps the beat

// Raises come at fixed deadlines (start + k * period), not a fixed sleep
// after the work, so the period does not grow by the work, by sleep
// overshoot or by a thread scheduled late. After a long stall (a modal
// wait) counting restarts from now instead of firing the missed raises in a
// burst.
int processorF(void*) {
  int64_t due = platformMicros();
  while (!stop) {
    synchronisation = false;
    int64_t period = kMicrosPerSecond / (fps > 0 ? fps : 1);
    due += period;
    int64_t now = platformMicros();
    if (due < now - kCatchUpPeriods * period) due = now;
    nextRaise = due;
    platformSleepUntil(due);
    pacingTicks++;
    synchronisation = true;
    platformSleepUntil(due + std::min(kRaisedMicros, period / 2));
  }
  return 0;
}

// With MOSKA_FRAME_LOG set, one log line per frame put on the screen (for
// the end-to-end latency benchmark): waitFrame is entered once the previous
// frame has been drawn and flipped.
static const bool frameLog = getenv("MOSKA_FRAME_LOG") != nullptr;

void waitFrame() {
  if (frameLog) printf("Image %u affichee.\n", (unsigned)lastFrameTick);
  while (pacingTicks == lastFrameTick) {
    if (stop) return;
    netPump();  // peers' edits are applied while waiting, not once per frame
    // Woken by the next queued edit, not by polling; `stop` is looked at
    // every kStopMicros at the latest.
    int64_t now = platformMicros();
    netWaitQueued(std::max<int64_t>(0, std::min(kStopMicros, nextRaise - now)));
  }
  // A frame that started late is followed by the ones it delayed, so frames
  // keep their average rate (and input its pace); after a long stall the
  // missed ones are dropped.
  uint32_t ticks = pacingTicks;
  lastFrameTick = ticks - lastFrameTick > (uint32_t)kCatchUpPeriods ? ticks : lastFrameTick + 1;
}

void startPacing() { processorThread = SDL_CreateThread(processorF, nullptr); }

void stopPacing() {
  if (processorThread) SDL_WaitThread(processorThread, nullptr);
  processorThread = nullptr;
}

namespace {
// A window-close request quits; Escape first drops what the editor holds
// (a selection, a stamp) and quits only when nothing was held. Only events
// taken by this pump count, so a held-over event never acts twice.
bool quitStep() {
  if (stop) return stop;
  // A resize seen by any loop that takes events is made here, the one
  // place every loop passes through; the panel is drawn again next turn.
  int w, h;
  if (platformTakeResize(&w, &h) && videoResize(w, h)) {
    printf("Fenetre %dx%d.\n", surfaceWidth(screen), surfaceHeight(screen));
    refreshMenu = true;
  }
  if (inputFrame.quit) {
    stopNow();
    return stop;
  }
  for (int k = 0; k < inputFrame.escapes && !stop; k++)
    if (!editorEscape()) stopNow();
  return stop;
}
}  // namespace

bool boucle() {
  // No received action is applied here: boucle also runs inside modal waits
  // (a held button, text entry), where a command holds map and layer state.
  platformPumpFrame();
  return quitStep();
}

bool boucleModal() {
  platformPumpInput();
  return quitStep();
}

namespace {
bool projectSaveFailed = false;

// Saves and closes every open map. A map that cannot be written to its file
// is written beside it as "<name>.map.unsaved" when possible; returns how
// many maps did not reach their own file.
int closeAllMaps() {
  int failed = 0;
  for (int i = 0; i < project.nbreMaps; i++) {
    pMap m = project.listeMaps[i];
    if (!m || closeMapi(i, m->filename)) continue;
    if (!m->dirty) continue;  // its file already holds it
    failed++;
    char copy[FILE_PATH_LEN];
    if (writeUnsavedCopy(m, copy, sizeof copy))
      printf("Map %s non enregistree: copie ecrite dans %s.\n", m->filename, copy);
    else
      printf("Map %s non enregistree: aucune copie possible!\n", m->filename);
  }
  return failed;
}
}  // namespace

void stopNow() {
  disconnect(true);
  if (!projectLoaded)
    printf("Aucun projet charge: fichier projet non enregistre.\n");
  else if (!saveProjectFile())
    projectSaveFailed = true;  // the maps are still saved; the exit status tells
  stop = true;
}

int exitSequence() {
  int failedMaps = closeAllMaps();
  FILE* f = openFile(USER_FILES, RECENT_NAME, RECENT_EXT, "w+");
  if (f) {
    fputs(recent, f);
    closeFile(f);
  }
  stopPacing();
  printf("\nProgramme termine.\n");
  if (failedMaps)
    printf("ERREUR: %d map(s) non enregistree(s) dans leur fichier, voir les copies .unsaved!\n",
           failedMaps);
  if (projectSaveFailed)
    printf("ERREUR: fichier projet %s%s non enregistre!\n", projectPath, PROJECT_FILE);
  return projectSaveFailed ? EXIT_PROJECT_FILE : failedMaps ? EXIT_MAP_WRITE : 0;
}
