// Thin layer between the editor and the operating system / SDL input.
// Every read of events, mouse state and key state goes through here, so that
// tests can replace the real input with a scripted sequence of frames.
#pragma once
#include <SDL/SDL_events.h>
#include <SDL/SDL_keysym.h>
#include <stddef.h>
#include <stdint.h>

#include "platform/os.h"

// The last event taken by platformPumpInput (it stays while none is pending).
extern SDL_Event event;

int platformPollEvent(SDL_Event* ev);          // 1 when an event was taken
// The size the window was last resized to since the previous call, if it
// was (every event taken is looked at, by whichever loop takes it).
bool platformTakeResize(int* w, int* h);
uint8_t platformGetMouseState(int* x, int* y);  // SDL_BUTTON() mask
const uint8_t* platformGetKeyState();           // indexed by key code

// Scripted input for tests. Each poll consumes one frame; once the script
// is exhausted the last frame's state stays. Delays do not sleep.
struct ScriptFrame {
  int mouseX = 0, mouseY = 0;
  uint8_t buttons = 0;      // SDL_BUTTON(1) | ...
  int keys[8] = {0};        // key codes held in this frame, 0 ends the list
  bool hasEvent = false;
  SDL_Event ev{};
  // Further events of the same frame, taken after ev by platformPumpFrame
  // (one frame of the script is one pump, however many events it holds).
  enum { EXTRA_MAX = 64 };
  SDL_Event extra[EXTRA_MAX]{};
  int extraCount = 0;
};
void platformScriptStart();                 // switch to scripted input, empty script
void platformScriptPush(const ScriptFrame& f);
size_t platformScriptRemaining();
