// Modal keyboard entry of the text and number fields. The loops read the
// live key-state array and pace themselves; every append is bounded by both
// the length limit and the real capacity of the buffer.
#include <SDL/SDL_keysym.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "core/core.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
const uint32_t kEntryPassMs = 30;

struct KeyText {
  int key;
  const char* text;
};

// Scan order of the text field. Letters are lower case only: Shift is not
// looked at. The "[" key stands for "#[".
const KeyText kTextKeys[] = {
    {SDLK_0, "0"}, {SDLK_1, "1"}, {SDLK_2, "2"}, {SDLK_3, "3"}, {SDLK_4, "4"},
    {SDLK_5, "5"}, {SDLK_6, "6"}, {SDLK_7, "7"}, {SDLK_8, "8"}, {SDLK_9, "9"},
    {SDLK_PERIOD, "."},
    {SDLK_a, "a"}, {SDLK_b, "b"}, {SDLK_c, "c"}, {SDLK_d, "d"}, {SDLK_e, "e"},
    {SDLK_f, "f"}, {SDLK_g, "g"}, {SDLK_h, "h"}, {SDLK_i, "i"}, {SDLK_j, "j"},
    {SDLK_k, "k"}, {SDLK_l, "l"}, {SDLK_m, "m"}, {SDLK_n, "n"}, {SDLK_o, "o"},
    {SDLK_p, "p"}, {SDLK_q, "q"}, {SDLK_r, "r"}, {SDLK_s, "s"}, {SDLK_t, "t"},
    {SDLK_u, "u"}, {SDLK_v, "v"}, {SDLK_w, "w"}, {SDLK_x, "x"}, {SDLK_y, "y"},
    {SDLK_z, "z"},
    {SDLK_DOLLAR, "$"}, {SDLK_HASH, "#"}, {SDLK_SPACE, " "}, {SDLK_EXCLAIM, "!"},
    {SDLK_QUOTEDBL, "\""}, {SDLK_AMPERSAND, "&"}, {SDLK_QUOTE, "'"},
    {SDLK_LEFTPAREN, "("}, {SDLK_RIGHTPAREN, ")"}, {SDLK_ASTERISK, "*"},
    {SDLK_PLUS, "+"}, {SDLK_COMMA, ","}, {SDLK_MINUS, "-"}, {SDLK_SLASH, "/"},
    {SDLK_COLON, ":"}, {SDLK_SEMICOLON, ";"}, {SDLK_LESS, "<"}, {SDLK_EQUALS, "="},
    {SDLK_GREATER, ">"}, {SDLK_QUESTION, "?"},
    {SDLK_LEFTBRACKET, "#["}, {SDLK_BACKSLASH, "\\"}, {SDLK_RIGHTBRACKET, "]"},
    {SDLK_CARET, "^"}, {SDLK_UNDERSCORE, "_"}, {SDLK_BACKQUOTE, "`"},
    {SDLK_KP_DIVIDE, "/"}, {SDLK_KP_MULTIPLY, "*"}, {SDLK_KP_MINUS, "-"},
    {SDLK_KP_PLUS, "+"}, {SDLK_KP_EQUALS, "="},
    {SDLK_KP0, "0"}, {SDLK_KP1, "1"}, {SDLK_KP2, "2"}, {SDLK_KP3, "3"}, {SDLK_KP4, "4"},
    {SDLK_KP5, "5"}, {SDLK_KP6, "6"}, {SDLK_KP7, "7"}, {SDLK_KP8, "8"}, {SDLK_KP9, "9"},
    {SDLK_KP_PERIOD, "."},
};

const char* const kDigits[10] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};

bool keyDown(int key) {
  const uint8_t* keys = platformGetKeyState();
  return key > 0 && key < KEY_TABLE_SIZE && keys && keys[key];
}

// The capacity that keeps the text within `size` characters and the buffer.
size_t entryCap(size_t cap, int size) {
  size_t bySize = size > 0 ? (size_t)size + 1 : 1;
  return bySize < cap ? bySize : cap;
}

void showEditing(const char* ch, int x, int y, int w) {
  drawField(ch, x, y, w, true);
  blitMenu();
  blitWindow();
}

// One event and the mouse, without the Escape handling of the event pump.
void pumpQuiet() {
  SDL_Event ev;
  bool fresh = platformPollEvent(&ev) == 1;
  if (fresh) event = ev;
  uint8_t b = platformGetMouseState(&mouseX, &mouseY);
  leftClic = (b & SDL_BUTTON(1)) != 0;
  rightClic = (b & SDL_BUTTON(3)) != 0;
  if (fresh && ev.type == SDL_QUIT) toolkitHooks.quit();
}

// Main-row then keypad digits; "0" never leads.
void scanDigits(char* ch, size_t cap, int key0, int key1) {
  if (ch[0]) inputchar(ch, cap, key0, kDigits[0]);
  for (int d = 1; d <= 9; d++) inputchar(ch, cap, key1 + d - 1, kDigits[d]);
}

void clearOnClearOrDelete(char* ch) {
  if (keyDown(SDLK_CLEAR) || keyDown(SDLK_DELETE)) ch[0] = 0;
}

void removeLast(char* ch) {
  size_t n = strlen(ch);
  if (n) ch[n - 1] = 0;
}

bool enterDown() { return keyDown(SDLK_RETURN) || keyDown(SDLK_KP_ENTER); }
}  // namespace

bool inputchar(char* ch, size_t cap, int value, const char* strng) {
  if (!keyDown(value)) return false;
  size_t have = strlen(ch), add = strlen(strng);
  if (have + add + 1 > cap) return false;  // no room: the key is ignored
  memcpy(ch + have, strng, add + 1);
  while (keyDown(value)) toolkitHooks.pump();
  return true;
}

bool backspace() {
  if (!keyDown(SDLK_BACKSPACE)) return false;
  while (keyDown(SDLK_BACKSPACE)) {
    pumpQuiet();
    if (stop) break;
  }
  return true;
}

namespace {
void scanText(char* ch, size_t limit) {
  for (const KeyText& k : kTextKeys) inputchar(ch, limit, k.key, k.text);
}

void scanNumber(char* ch, size_t limit) {
  scanDigits(ch, limit, SDLK_0, SDLK_1);
  scanDigits(ch, limit, SDLK_KP0, SDLK_KP1);
  inputchar(ch, limit, SDLK_KP_PERIOD, ".");
}

// The entry loop of both fields: `scan` takes this pass's keys. A text
// field pumps events through the shell's pump, so a quit request runs the
// quit path there and ends the entry (a closed window can no longer give the
// Enter that would end it); a number field pumps quietly, without Escape.
// False when there is no buffer to edit.
bool entryLoop(char* ch, size_t cap, int x, int y, int w, int size, void (*scan)(char*, size_t),
               bool quiet) {
  if (!ch || cap == 0) return false;
  size_t limit = entryCap(cap, size);
  for (;;) {
    platformDelay(kEntryPassMs);
    showEditing(ch, x, y, w);
    scan(ch, limit);
    if (quiet ? (pumpQuiet(), stop.load()) : toolkitHooks.pump()) break;
    if (enterDown()) break;
    if (backspace()) removeLast(ch);
    clearOnClearOrDelete(ch);
  }
  return true;
}
}  // namespace

void inputText(char* ch, size_t cap, int x, int y, int w, int size) {
  if (!entryLoop(ch, cap, x, y, w, size, scanText, false)) return;
  drawField(ch, x, y, w, false);
  blitMenu();
}

void inputNumber(char* ch, size_t cap, int x, int y, int w, int size) {
  if (!entryLoop(ch, cap, x, y, w, size, scanNumber, true)) return;
  if (!ch[0] && cap >= 2) snprintf(ch, cap, "0");
  drawField(ch, x, y, w, false);
  blitMenu();
}
