// Immediate-mode widgets of the panel: image buttons, auto-repeat list
// buttons and the text and number fields.
#include "toolkit/widgets.h"

#include <stdio.h>
#include <string.h>

#include "core/core.h"
#include "platform/platform.h"
#include "toolkit/video.h"

namespace {
bool pumpInputOnly() {
  platformPumpInput();
  return stop;
}
void noRedraw() {}
void quitFlag() { stop = true; }
}  // namespace

ToolkitHooks toolkitHooks = {pumpInputOnly, noRedraw, quitFlag};

namespace {
const int kGrey = 128;
const int kFieldTextOffset = 2;
const int kFieldTextSize = 16;

// Hit areas are open rectangles: the edge pixels do not count.
bool insideOpen(int x, int y, int w, int h) {
  return x < mouseX && mouseX < x + w && y < mouseY && mouseY < y + h;
}

// A button without an image has no size, hence no hit area.
bool overButton(int bx1, int by1, SDL_Surface* s) {
  return s && insideOpen(bx1, by1, s->w, s->h / 3);
}

bool overField(int x, int y, int w) { return insideOpen(x, y, w, FIELD_HEIGHT); }

enum EntryKind { ENTRY_TEXT, ENTRY_NUMBER };

void runEntry(EntryKind kind, char* ch, size_t cap, int x, int y, int w, int size) {
  if (kind == ENTRY_NUMBER)
    inputNumber(ch, cap, x, y, w, size);
  else
    inputText(ch, cap, x, y, w, size);
}

// Capacity assumed for a caller's in-place buffer: the limit plus the
// terminator, which every caller's buffer holds.
size_t inPlaceCap(int wtext) { return wtext > 0 ? (size_t)wtext + 1 : 1; }

char* fieldArea(EntryKind kind, char* s, int x, int y, int w, int wtext, bool dynamic) {
  if (!overField(x, y, w)) {
    drawField(s, x, y, w, false);
    toolkitHooks.idleRedraw();
    blitMenu();
    return s;
  }
  if (!leftClic) return s;  // hovered only: not redrawn this frame
  if (!dynamic) {
    if (s) runEntry(kind, s, inPlaceCap(wtext), x, y, w, wtext);
    return s;
  }
  char edit[DYNAMIC_EDIT_LEN];
  snprintf(edit, sizeof edit, "%s", s ? s : "");
  runEntry(kind, edit, sizeof edit, x, y, w, wtext);
  // The new array is taken before the old one is freed, so the caller always
  // gets a pointer different from the one it passed.
  size_t n = strlen(edit) + 1;
  char* out = new char[n];
  memcpy(out, edit, n);
  delete[] s;
  return out;
}
}  // namespace

bool button(int bx1, int by1, SDL_Surface* s) {
  if (!overButton(bx1, by1, s)) {
    blitButton(s, bx1, by1, 0);
    return false;
  }
  if (!leftClic) {
    blitButton(s, bx1, by1, 1);
    return false;
  }
  blitButton(s, bx1, by1, 2);
  blitMenu();  // show the pressed look while the button is held
  // A quit request ends the wait too: the release may never be seen then.
  while (leftClic)
    if (toolkitHooks.pump()) return false;
  return overButton(bx1, by1, s);
}

bool textButton(const char* text, int x, int y, int w) {
  bool over = overField(x, y, w);
  drawField(text, x, y, w, over);
  if (!over || !leftClic) return false;
  blitMenu();
  while (leftClic)
    if (toolkitHooks.pump()) return false;
  return overField(x, y, w);
}

bool buttonList(int bx1, int by1, SDL_Surface* s) {
  if (!overButton(bx1, by1, s)) {
    blitButton(s, bx1, by1, 0);
    return false;
  }
  blitButton(s, bx1, by1, leftClic ? 2 : 1);
  return leftClic;
}

void drawField(const char* s, int x, int y, int w, bool editing) {
  if (!menu || w <= 0) return;
  fillRect(menu, x, y, w, FIELD_HEIGHT, kGrey, kGrey, kGrey);
  fillRect(menu, x + 1, y + 1, w - 2, FIELD_HEIGHT - 2, 255, 255, editing ? 128 : 255);
  char shown[DYNAMIC_EDIT_LEN + 2];
  snprintf(shown, sizeof shown, "%s%s", s ? s : "", editing ? "|" : "");
  // The text stays inside the frame: a tall glyph must not mark the panel below.
  SDL_Rect saved, inside = {(Sint16)(x + 1), (Sint16)(y + 1), (Uint16)(w > 2 ? w - 2 : 0),
                            FIELD_HEIGHT - 2};
  SDL_GetClipRect(menu, &saved);
  SDL_SetClipRect(menu, &inside);
  drawText(shown, x + kFieldTextOffset, y + kFieldTextOffset, "black", "", kFieldTextSize, true);
  SDL_SetClipRect(menu, &saved);
}

char* textArea(char* s, int x, int y, int w, int wtext, bool dynamic) {
  return fieldArea(ENTRY_TEXT, s, x, y, w, wtext, dynamic);
}

char* numberArea(char* s, int x, int y, int w, int wtext, bool dynamic) {
  return fieldArea(ENTRY_NUMBER, s, x, y, w, wtext, dynamic);
}

void textAreaNew(char* s, int x, int y, int w, int wtext) {
  if (!overField(x, y, w)) {
    drawField(s, x, y, w, false);
    return;
  }
  if (leftClic && s) inputText(s, inPlaceCap(wtext), x, y, w, wtext);
}

void numberAreaNew(char* s, int x, int y, int w, int wtext) {
  if (!overField(x, y, w)) {
    drawField(s, x, y, w, false);
    return;
  }
  if (leftClic && s) inputNumber(s, inPlaceCap(wtext), x, y, w, wtext);
}
