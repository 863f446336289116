// Modal keyboard entry of the text and number fields. The loops take the key
// presses from the event queue, with the library's translation of the key
// (Shift and the keyboard layout: capitals and every printable ASCII
// character), and pace themselves; every append is bounded by both the
// length limit and the real capacity of the buffer.
#include <SDL/SDL_keysym.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "core/core.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
const uint32_t kEntryPassMs = 30;
// Events taken per pass: a burst of typing (xdotool, a paste of keys) is
// taken within a pass or two, and a flood cannot hold the field forever.
const int kEventsPerPass = 64;
const int kFirstPrintable = 32, kLastPrintable = 126;  // ASCII space to tilde

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

// One event and the mouse, without the Escape handling of the event pump;
// true when an event was taken.
bool pumpQuiet() {
  SDL_Event ev;
  bool fresh = platformPollEvent(&ev) == 1;
  if (fresh) event = ev;
  uint8_t b = platformGetMouseState(&mouseX, &mouseY);
  leftClic = (b & SDL_BUTTON(1)) != 0;
  rightClic = (b & SDL_BUTTON(3)) != 0;
  if (fresh && ev.type == SDL_QUIT) toolkitHooks.quit();
  return fresh;
}

bool append(char* ch, size_t limit, char c) {
  size_t n = strlen(ch);
  if (n + 2 > limit) return false;  // no room: the key is ignored
  ch[n] = c;
  ch[n + 1] = 0;
  return true;
}
}  // namespace

int typedChar(const SDL_keysym& k) {
  // The library's translation (Shift, the layout) when it gave one; a
  // printable key without it types its own, unshifted character.
  int c = k.unicode ? (int)k.unicode : (int)k.sym;
  return c >= kFirstPrintable && c <= kLastPrintable ? c : 0;
}

bool entryKey(char* ch, size_t limit, const SDL_keysym& k, bool number) {
  switch (k.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return true;
    case SDLK_BACKSPACE: {
      size_t n = strlen(ch);
      if (n) ch[n - 1] = 0;
      return false;
    }
    case SDLK_CLEAR:
    case SDLK_DELETE: ch[0] = 0; return false;
    default: break;
  }
  int c = typedChar(k);
  if (!number) {
    if (c) append(ch, limit, (char)c);
    return false;
  }
  // Numbers: digits (a leading "0" is dropped) and the keypad period.
  if (k.sym >= SDLK_KP0 && k.sym <= SDLK_KP9) c = '0' + (k.sym - SDLK_KP0);
  if ((c >= '1' && c <= '9') || (c == '0' && ch[0]))
    append(ch, limit, (char)c);
  else if (k.sym == SDLK_KP_PERIOD)
    append(ch, limit, '.');
  return false;
}

namespace {
// The entry loop of both fields: every key press since the last pass, in
// order. A text field pumps events through the shell's pump, so a quit
// request runs the quit path there and ends the entry (a closed window can
// no longer give the Enter that would end it); a number field pumps quietly,
// without Escape. False when there is no buffer to edit.
bool entryLoop(char* ch, size_t cap, int x, int y, int w, int size, bool number) {
  if (!ch || cap == 0) return false;
  size_t limit = entryCap(cap, size);
  for (;;) {
    platformDelay(kEntryPassMs);
    showEditing(ch, x, y, w);
    for (int k = 0; k < kEventsPerPass; k++) {
      bool fresh, quit;
      if (number) {
        fresh = pumpQuiet();
        quit = stop.load();
      } else {
        quit = toolkitHooks.pump();
        fresh = freshEvent;
      }
      if (quit) return true;
      if (!fresh) break;
      if (event.type == SDL_KEYDOWN && entryKey(ch, limit, event.key.keysym, number)) return true;
    }
  }
}
}  // namespace

void inputText(char* ch, size_t cap, int x, int y, int w, int size) {
  if (!entryLoop(ch, cap, x, y, w, size, false)) return;
  drawField(ch, x, y, w, false);
  blitMenu();
}

void inputNumber(char* ch, size_t cap, int x, int y, int w, int size) {
  if (!entryLoop(ch, cap, x, y, w, size, true)) return;
  if (!ch[0] && cap >= 2) snprintf(ch, cap, "0");
  drawField(ch, x, y, w, false);
  blitMenu();
}
