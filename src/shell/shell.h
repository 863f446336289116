// Application shell: settings, paths, input state, event pump, quit path.
#pragma once
#include <SDL/SDL_events.h>
#include <stdint.h>

#include <atomic>

// Fixed buffer sizes of the text values.
enum {
  VERSION_LEN = 16,
  ADDRESS_LEN = 32,
  NAME_LEN = 256,
  PATH_LEN = 512,
};

const int PANEL_WIDTH = 322;  // the menu panel on the left of the screen
const int TILE = 16;          // tiles, map cells and palette cells are 16x16

// Exit statuses.
enum {
  EXIT_SDL_INIT = 1,
  EXIT_VIDEO_MODE = 2,
  EXIT_SURFACE = 3,
  EXIT_LIBRARY_FULL = 4,
  EXIT_PROJECT_FILE = 6,
  EXIT_MAP_READ = 7,
  EXIT_SETTINGS = 8,
  EXIT_MAP_WRITE = 9,
  EXIT_PASS_FILE = 10,
};

// Settings and paths.
extern char version[VERSION_LEN];
extern const char osRep[2];
extern char programPath[PATH_LEN];  // data: font, images, default tileset
extern char userPath[PATH_LEN];     // settings.ini and recent.txt; empty: programPath
extern bool fullscreen;
extern uint32_t video_x, video_y;
extern char username[NAME_LEN];
extern char ipServer[ADDRESS_LEN];
extern int fps;
extern bool net;
extern double autosaveMinutes;  // optional pair "autosave": 0 turns autosave off
extern char recent[PATH_LEN];
extern char projectPath[PATH_LEN];

// Shell state. Flags shared between threads are atomics, read afresh.
extern std::atomic<bool> synchronisation;
extern std::atomic<bool> stop;
extern SDL_Event event;
extern int mouseX, mouseY;
extern bool leftClic, middleClic, rightClic;
extern bool wheelUp, wheelDown;
extern bool freshEvent;  // the last boucle took a new event (edges of key presses)

// Sets programPath and userPath for the build tree or an installed program.
void findProgramFolders();
int SDL_main_body(int argc, char** argv);  // the whole program run
int init(char** argv);
int loadSettings(char** argv);
int processorF(void* unused);
bool boucle();
void stopNow();
void startPacing();
void waitFrame();  // returns once per pacing period (or when stopping)
void stopPacing();
// Saves and closes the maps, writes recent.txt; the exit status: 0, or 6 / 9
// when the project file / a map could not be written (the last log line says so).
int exitSequence();

// Host console operations: there is no console window to manage here.
void showConsole();
void* GetConsoleHwnd();
void hideConsole();

// Resets every shell global to its initial value (tests).
void shellReset();
