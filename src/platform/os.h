// The platform layer without SDL: input state as the editor reads it (mouse,
// buttons, wheel, the last event's key press, the keys held), filled by
// platformPumpInput, and the operating system's clocks, delays and folders.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Key codes (the values of the keys in the platform's key table).
enum Key {
  KEY_ESCAPE = 27,
  KEY_SPACE = ' ',
  KEY_PLUS = '+',
  KEY_MINUS = '-',
  KEY_0 = '0',
  KEY_EQUALS = '=',
  KEY_B = 'b',
  KEY_F = 'f',
  KEY_G = 'g',
  KEY_M = 'm',
  KEY_R = 'r',
  KEY_S = 's',
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

// The last event taken, when it is a key press: its key and modifiers.
bool inputKeyPressed(int* key, unsigned* mods);
// True when the last event is a press of `key`.
bool inputKeyIs(int key);
// True while `key` is held (the live key table).
bool inputKeyHeld(int key);
// True when the last event asks to quit (window closed, Escape pressed).
bool inputQuitAsked();
// True while the pointer is over the window (its last position is not
// where it is when it has left).
bool inputPointerInside();

// Takes one pending event, if any (the last one stays otherwise), and the
// mouse state.
void platformPumpInput();
void platformInputReset();  // tests

void platformDelay(uint32_t ms);              // no sleep under scripted input
uint32_t platformTicks();
int64_t platformMicros();                     // monotonic clock, microseconds
void platformSleepUntil(int64_t micros);      // on platformMicros' clock

// The program folder: where the executable really lives, ending with "/".
bool platformProgramFolder(char* out, size_t cap);
bool platformMakeDir(const char* path);         // true when created
