// The bottom layer: what every subsystem shares and nothing else. Fixed
// numbers, the settings and path globals, the flags threads share, and a
// monotonic clock. No other subsystem and no SDL here.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>

// Fixed buffer sizes of the text values.
enum {
  VERSION_LEN = 16,
  ADDRESS_LEN = 64,  // "host:port", or the longest "[IPv6]:port" (53 characters)
  NAME_LEN = 256,
  PATH_LEN = 512,
};

const int PANEL_WIDTH = 322;  // the menu panel on the left of the screen
const int TILE = 16;          // tiles, map cells and palette cells are 16x16

enum { MAX_PEERS = 64 };      // network connection slots ("tunnels")

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

// Flags shared between threads: atomics, read afresh.
extern std::atomic<bool> stop;  // the program is quitting
// Set once a project record is loaded; peers are held off until then, and
// an unloaded record is never written to disk.
extern std::atomic<bool> projectLoaded;

// Milliseconds on a monotonic clock (only differences mean anything).
uint32_t coreMillis();
void coreSleepMs(uint32_t ms);

// Log lines that read like debugging leftovers ("1".."4" while a layer is
// deleted, "deco0".."deco4", "A"/"B"/"C" in the handshake, "pcok") are kept
// word for word: peers' operators and the tests follow a run by them.
void logMarker(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Resets every global above to its initial value (tests).
void coreReset();
