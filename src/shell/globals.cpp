#include <string.h>

#include "shell/shell.h"

char version[VERSION_LEN] = "0.24a";
const char osRep[2] = "/";
char programPath[PATH_LEN] = "";
char userPath[PATH_LEN] = "";
bool fullscreen = false;
uint32_t video_x = 640, video_y = 480;
char username[NAME_LEN] = "?";
char ipServer[ADDRESS_LEN] = "10.0.0.2";
int fps = 30;
bool net = true;
double autosaveMinutes = 2;
char recent[PATH_LEN] = "";
char projectPath[PATH_LEN] = "";

std::atomic<bool> synchronisation{true};
std::atomic<bool> stop{false};
SDL_Event event;
int mouseX = 0, mouseY = 0;
bool leftClic = false, middleClic = false, rightClic = false;
bool wheelUp = false, wheelDown = false;
bool freshEvent = false;

void shellReset() {
  snprintf(version, sizeof version, "0.24a");
  programPath[0] = 0;
  userPath[0] = 0;
  fullscreen = false;
  video_x = 640;
  video_y = 480;
  snprintf(username, sizeof username, "?");
  snprintf(ipServer, sizeof ipServer, "10.0.0.2");
  fps = 30;
  net = true;
  autosaveMinutes = 2;
  recent[0] = 0;
  projectPath[0] = 0;
  synchronisation = true;
  stop = false;
  memset(&event, 0, sizeof event);
  mouseX = mouseY = 0;
  leftClic = middleClic = rightClic = wheelUp = wheelDown = freshEvent = false;
}

// There is no console window to show or hide on this platform.
void showConsole() {}
void* GetConsoleHwnd() { return nullptr; }
void hideConsole() {}
