// Application shell: start-up, settings, event pump, pacing, quit path.
#pragma once
#include "core/core.h"
#include "platform/platform.h"

// Raised by the pacing thread once per frame period.
extern std::atomic<bool> synchronisation;

// Sets programPath and userPath for the build tree or an installed program.
void findProgramFolders();
int SDL_main_body(int argc, char** argv);  // the whole program run
int init(char** argv);
int loadSettings(char** argv);
int processorF(void* unused);
// The main loop's pump: every pending event of the frame (platformPumpFrame),
// then the quit request; true once the program is stopping.
bool boucle();
// The pump of modal waits (a held button, text entry): one event a call.
bool boucleModal();
void stopNow();
void startPacing();
void waitFrame();  // returns once per pacing period (or when stopping)
void stopPacing();
// Saves and closes the maps, writes recent.txt; the exit status: 0, or 6 / 9
// when the project file / a map could not be written (the last log line says so).
int exitSequence();

// Points the toolkit's and the model's upward hooks at the shell and the
// editor (start-up; tests that drive widgets call it too).
void shellInstallHooks();

// Resets every shell, core and input global to its initial value (tests).
void shellReset();
