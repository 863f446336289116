// The platform layer without SDL: input state as the editor reads it (mouse,
// buttons, wheel, the last event's key press, the keys held), filled by
// platformPumpInput, and the operating system's clocks, delays and folders.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Key codes (the values of the keys in the platform's key table).
enum Key {
  KEY_ESCAPE = 27,
  KEY_DELETE = 127,
  KEY_SPACE = ' ',
  KEY_PLUS = '+',
  KEY_MINUS = '-',
  KEY_0 = '0',
  KEY_EQUALS = '=',
  KEY_B = 'b',
  KEY_C = 'c',
  KEY_F = 'f',
  KEY_G = 'g',
  KEY_H = 'h',
  KEY_K = 'k',
  KEY_M = 'm',
  KEY_P = 'p',
  KEY_R = 'r',
  KEY_S = 's',
  KEY_V = 'v',
  KEY_X = 'x',
  KEY_Y = 'y',
  KEY_Z = 'z',
  KEY_KP0 = 256,
  KEY_KP_MINUS = 269,
  KEY_KP_PLUS = 270,
  KEY_UP = 273,
  KEY_DOWN = 274,
  KEY_RIGHT = 275,
  KEY_LEFT = 276,
  KEY_RSHIFT = 303,
  KEY_LSHIFT = 304,
  KEY_RCTRL = 305,
  KEY_LCTRL = 306,
  KEY_RALT = 307,
  KEY_LALT = 308,
  KEY_TABLE_SIZE = 323,  // entries of the key-state table
};
// Modifier bits of a key press.
enum : unsigned { MOD_SHIFT = 0x0003, MOD_CTRL = 0x00C0 };

extern int mouseX, mouseY;
extern bool leftClic, middleClic, rightClic;
extern bool wheelUp, wheelDown;
extern bool freshEvent;  // the last pump took a new event (edges of key presses)

// Everything one frame's pump took, in the order it happened: the pointer's
// path (every motion and button event, then the pointer as it is now) and
// the key presses. Bounded: past the bounds the newest entries replace the
// last one (the path) or are dropped (keys), which SDL's own queue of 128
// events never reaches.
enum { INPUT_PATH_MAX = 512, INPUT_KEYS_MAX = 64 };
struct InputPoint {
  int x, y;
  uint8_t buttons;  // buttons held at that point (bit 0 left, 1 middle, 2 right)
};
struct KeyPress {
  int key;
  unsigned mods;
};
struct InputFrame {
  InputPoint path[INPUT_PATH_MAX];
  int pathLen = 0;
  KeyPress keys[INPUT_KEYS_MAX];
  int keyCount = 0;
  int escapes = 0;      // Escape presses among the keys
  bool quit = false;    // the window was asked to close
};
extern InputFrame inputFrame;
enum : uint8_t { BUTTON_LEFT = 1, BUTTON_MIDDLE = 2, BUTTON_RIGHT = 4 };

// The last event taken, when it is a key press: its key and modifiers.
bool inputKeyPressed(int* key, unsigned* mods);
// True when the last event is a press of `key`.
bool inputKeyIs(int key);
// True while `key` is held (the live key table).
bool inputKeyHeld(int key);
// Either Shift, Ctrl or Alt key held (the live key table).
bool inputShiftHeld();
bool inputCtrlHeld();
bool inputAltHeld();
// True when the last event asks to quit (window closed, Escape pressed).
bool inputQuitAsked();
// True when the frame's keys hold a press of `key`.
bool inputFramePressed(int key);
// True while the pointer is over the window (its last position is not
// where it is when it has left).
bool inputPointerInside();

// Takes one pending event, if any (the last one stays otherwise), and the
// mouse state: the pump of modal waits, which read `event` (text entry).
// inputFrame then holds that one event.
void platformPumpInput();
// Takes every pending event into inputFrame (the last one stays in `event`)
// and the mouse state; a button pressed and released within the frame
// still counts as held for it. The main loop's pump.
void platformPumpFrame();
void platformInputReset();  // tests

void platformDelay(uint32_t ms);              // no sleep under scripted input
uint32_t platformTicks();
int64_t platformMicros();                     // monotonic clock, microseconds
void platformSleepUntil(int64_t micros);      // on platformMicros' clock

// The program folder: where the executable really lives, ending with "/".
bool platformProgramFolder(char* out, size_t cap);
bool platformMakeDir(const char* path);         // true when created
