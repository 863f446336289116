// Immediate-mode widgets drawn on the panel, and modal keyboard entry.
#pragma once
#include <stddef.h>

struct SDL_Surface;
struct SDL_keysym;

enum {
  FIELD_HEIGHT = 20,
  DYNAMIC_EDIT_LEN = 2048,  // edit buffer of dynamic fields
};

// Upward calls of the modal waits (a held button, text entry), set by the
// shell at start-up: `pump` takes one turn of events and returns whether the
// program is quitting, `idleRedraw` redraws the map view while a field is
// drawn, `quit` starts the quit path. Until set, pump only reads input.
struct ToolkitHooks {
  bool (*pump)();
  void (*idleRedraw)();
  void (*quit)();
};
extern ToolkitHooks toolkitHooks;

bool button(int bx1, int by1, SDL_Surface* s);
bool buttonList(int bx1, int by1, SDL_Surface* s);
// A button drawn as a field w wide holding `text` (pale yellow under the
// pointer); true once per completed click, like `button`.
bool textButton(const char* text, int x, int y, int w);
char* textArea(char* s, int x, int y, int w, int wtext, bool dynamic);
char* numberArea(char* s, int x, int y, int w, int wtext, bool dynamic);
void textAreaNew(char* s, int x, int y, int w, int wtext);
void numberAreaNew(char* s, int x, int y, int w, int wtext);  // the same for a number

// Entry loops edit ch (capacity cap bytes) in place, up to size characters.
void inputText(char* ch, size_t cap, int x, int y, int w, int size);
void inputNumber(char* ch, size_t cap, int x, int y, int w, int size);
// One key press in a field (ch holds at most limit - 1 characters): Enter
// ends the entry (true), Backspace removes the last character, Clear and
// Delete empty it, a printable character is appended (a number field takes
// digits, without a leading zero, and the keypad period).
bool entryKey(char* ch, size_t limit, const SDL_keysym& k, bool number);
// The printable ASCII character a key press types, 0 when none.
int typedChar(const SDL_keysym& k);

// Draws a field frame with its text; editing adds the pale-yellow look and "|".
void drawField(const char* s, int x, int y, int w, bool editing);
