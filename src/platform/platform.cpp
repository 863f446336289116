#include "platform/platform.h"

#include <SDL/SDL.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <deque>
#include <initializer_list>
#include <utility>

// The platform's key codes and modifier bits are the library's own.
constexpr bool sameKeys(std::initializer_list<std::pair<int, int>> pairs) {
  for (auto p : pairs)
    if (p.first != p.second) return false;
  return true;
}
static_assert(sameKeys({{KEY_TABLE_SIZE, SDLK_LAST}, {KEY_Z, SDLK_z}, {KEY_B, SDLK_b}, {KEY_UP, SDLK_UP},
                        {KEY_SPACE, SDLK_SPACE}, {KEY_PLUS, SDLK_PLUS}, {KEY_MINUS, SDLK_MINUS}, {KEY_0, SDLK_0},
                        {KEY_EQUALS, SDLK_EQUALS}, {KEY_G, SDLK_g}, {KEY_M, SDLK_m}, {KEY_KP0, SDLK_KP0},
                        {KEY_KP_MINUS, SDLK_KP_MINUS}, {KEY_KP_PLUS, SDLK_KP_PLUS},
                        {KEY_LEFT, SDLK_LEFT}, {KEY_LALT, SDLK_LALT}, {KEY_RSHIFT, SDLK_RSHIFT},
                        {KEY_LCTRL, SDLK_LCTRL}, {KEY_ESCAPE, SDLK_ESCAPE},
                        {MOD_SHIFT, KMOD_SHIFT}, {MOD_CTRL, KMOD_CTRL}}),
              "key codes");

SDL_Event event;
int mouseX = 0, mouseY = 0;
bool leftClic = false, middleClic = false, rightClic = false;
bool wheelUp = false, wheelDown = false;
bool freshEvent = false;
InputFrame inputFrame;

namespace {
bool scripted = false;
bool resized = false;
int resizedW = 0, resizedH = 0;
std::deque<ScriptFrame> script;
ScriptFrame current;
uint8_t scriptKeys[KEY_TABLE_SIZE];
size_t pollsPastEnd = 0;
// A modal loop waiting on input the script never gives would spin forever.
const size_t kMaxPollsPastEnd = 200000;

void applyFrame(const ScriptFrame& f) {
  current = f;
  memset(scriptKeys, 0, sizeof scriptKeys);
  for (int k : f.keys)
    if (k > 0 && k < KEY_TABLE_SIZE) scriptKeys[k] = 1;
}
}  // namespace

namespace {
// The next event, real or scripted.
int takeEvent(SDL_Event* ev) {
  if (!scripted) return SDL_PollEvent(ev);
  if (script.empty()) {
    if (++pollsPastEnd > kMaxPollsPastEnd) {
      fprintf(stderr, "input script exhausted: a loop waits for input that never comes\n");
      abort();
    }
    return 0;
  }
  ScriptFrame f = script.front();
  script.pop_front();
  applyFrame(f);
  if (!f.hasEvent) return 0;
  *ev = f.ev;
  return 1;
}
}  // namespace

int platformPollEvent(SDL_Event* ev) {
  int got = takeEvent(ev);
  if (got == 1 && ev->type == SDL_VIDEORESIZE) {
    resized = true;
    resizedW = ev->resize.w;
    resizedH = ev->resize.h;
  }
  return got;
}

bool platformTakeResize(int* w, int* h) {
  if (!resized) return false;
  resized = false;
  *w = resizedW;
  *h = resizedH;
  return true;
}

uint8_t platformGetMouseState(int* x, int* y) {
  if (!scripted) return SDL_GetMouseState(x, y);
  if (x) *x = current.mouseX;
  if (y) *y = current.mouseY;
  return current.buttons;
}

const uint8_t* platformGetKeyState() {
  if (!scripted) return SDL_GetKeyState(NULL);
  return scriptKeys;
}

void platformDelay(uint32_t ms) {
  if (!scripted) SDL_Delay(ms);
}

uint32_t platformTicks() { return SDL_GetTicks(); }

int64_t platformMicros() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void platformSleepUntil(int64_t micros) {
  if (scripted) return;
  timespec t{time_t(micros / 1000000), long(micros % 1000000) * 1000};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

bool platformProgramFolder(char* out, size_t cap) {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return false;
  buf[n] = 0;
  char* slash = strrchr(buf, '/');
  if (!slash) return false;
  slash[1] = 0;
  if (strlen(buf) >= cap) return false;
  memcpy(out, buf, strlen(buf) + 1);
  return true;
}

bool platformMakeDir(const char* path) { return mkdir(path, 0755) == 0; }

void platformScriptStart() {
  scripted = true;
  script.clear();
  applyFrame(ScriptFrame());
  pollsPastEnd = 0;
}
void platformScriptPush(const ScriptFrame& f) {
  script.push_back(f);
  pollsPastEnd = 0;
}
size_t platformScriptRemaining() { return script.size(); }

namespace {
uint8_t heldButtons = 0;  // as the events left them (BUTTON_* bits)

uint8_t buttonBit(int b) {
  return b == SDL_BUTTON_LEFT ? BUTTON_LEFT : b == SDL_BUTTON_MIDDLE ? BUTTON_MIDDLE
         : b == SDL_BUTTON_RIGHT ? BUTTON_RIGHT : 0;
}

uint8_t bitsOfMask(uint8_t mask) {
  return (uint8_t)(((mask & SDL_BUTTON(1)) ? BUTTON_LEFT : 0) | ((mask & SDL_BUTTON(2)) ? BUTTON_MIDDLE : 0) |
                   ((mask & SDL_BUTTON(3)) ? BUTTON_RIGHT : 0));
}

void addPoint(int x, int y, uint8_t buttons) {
  InputFrame& f = inputFrame;
  if (f.pathLen == INPUT_PATH_MAX) f.pathLen--;  // the newest replaces the last
  f.path[f.pathLen++] = {x, y, buttons};
}

// One event into the frame record; returns the buttons pressed by it.
uint8_t takeEvent(const SDL_Event& ev) {
  event = ev;
  InputFrame& f = inputFrame;
  uint8_t pressed = 0;
  switch (ev.type) {
    case SDL_MOUSEMOTION:
      heldButtons = bitsOfMask(ev.motion.state);
      addPoint(ev.motion.x, ev.motion.y, heldButtons);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (ev.button.button == SDL_BUTTON_WHEELUP) wheelUp = true;
      if (ev.button.button == SDL_BUTTON_WHEELDOWN) wheelDown = true;
      pressed = buttonBit(ev.button.button);
      if (!pressed) break;
      heldButtons |= pressed;
      addPoint(ev.button.x, ev.button.y, heldButtons);
      break;
    case SDL_MOUSEBUTTONUP:
      if (!buttonBit(ev.button.button)) break;
      heldButtons &= (uint8_t)~buttonBit(ev.button.button);
      addPoint(ev.button.x, ev.button.y, heldButtons);
      break;
    case SDL_KEYDOWN:
      if (ev.key.keysym.sym == SDLK_ESCAPE) f.escapes++;
      if (f.keyCount < INPUT_KEYS_MAX) f.keys[f.keyCount++] = {ev.key.keysym.sym, ev.key.keysym.mod};
      break;
    case SDL_QUIT:
      f.quit = true;
      break;
    default:
      break;
  }
  return pressed;
}

// The pointer as it is now ends the path; a button held at any moment of
// the frame counts as held for it even when already released, so a click
// or the end of a stroke within one frame is still seen.
void takeMouse(uint8_t pressedDuringFrame) {
  uint8_t buttons = platformGetMouseState(&mouseX, &mouseY);
  heldButtons = bitsOfMask(buttons);
  addPoint(mouseX, mouseY, heldButtons);
  uint8_t seen = pressedDuringFrame;
  for (int i = 0; i < inputFrame.pathLen; i++) seen |= inputFrame.path[i].buttons;
  leftClic = seen & BUTTON_LEFT;
  middleClic = seen & BUTTON_MIDDLE;
  rightClic = seen & BUTTON_RIGHT;
}
}  // namespace

void platformPumpInput() {
  inputFrame = InputFrame();
  wheelUp = wheelDown = false;
  SDL_Event ev;
  freshEvent = platformPollEvent(&ev) == 1;  // when none is pending, the last event stays
  if (freshEvent) takeEvent(ev);
  takeMouse(0);
}

void platformPumpFrame() {
  inputFrame = InputFrame();
  wheelUp = wheelDown = false;
  uint8_t pressed = 0;
  SDL_Event ev;
  freshEvent = false;
  // A script frame is one pump: its event and its extra events.
  if (scripted) {
    if (platformPollEvent(&ev) == 1) {
      freshEvent = true;
      pressed |= takeEvent(ev);
    }
    for (int k = 0; k < current.extraCount && k < ScriptFrame::EXTRA_MAX; k++) {
      freshEvent = true;
      pressed |= takeEvent(current.extra[k]);
    }
  } else {
    while (platformPollEvent(&ev) == 1) {  // a resize is noted there
      freshEvent = true;
      pressed |= takeEvent(ev);
    }
  }
  takeMouse(pressed);
}

bool inputFramePressed(int key) {
  for (int k = 0; k < inputFrame.keyCount; k++)
    if (inputFrame.keys[k].key == key) return true;
  return false;
}

bool inputKeyPressed(int* key, unsigned* mods) {
  if (event.type != SDL_KEYDOWN) return false;
  *key = event.key.keysym.sym;
  *mods = event.key.keysym.mod;
  return true;
}

bool inputKeyIs(int key) { return event.type == SDL_KEYDOWN && event.key.keysym.sym == key; }

bool inputKeyHeld(int key) {
  const uint8_t* keys = platformGetKeyState();
  return keys && key > 0 && key < KEY_TABLE_SIZE && keys[key];
}

bool inputShiftHeld() { return inputKeyHeld(KEY_LSHIFT) || inputKeyHeld(KEY_RSHIFT); }
bool inputCtrlHeld() { return inputKeyHeld(KEY_LCTRL) || inputKeyHeld(KEY_RCTRL); }
bool inputAltHeld() { return inputKeyHeld(KEY_LALT) || inputKeyHeld(KEY_RALT); }

bool inputQuitAsked() { return event.type == SDL_QUIT || inputKeyIs(KEY_ESCAPE); }

bool inputPointerInside() { return scripted || (SDL_GetAppState() & SDL_APPMOUSEFOCUS) != 0; }

void platformInputReset() {
  memset(&event, 0, sizeof event);
  mouseX = mouseY = 0;
  leftClic = middleClic = rightClic = wheelUp = wheelDown = freshEvent = false;
  inputFrame = InputFrame();
  heldButtons = 0;
  resized = false;
}
