// Shared set-up of the unit tests: a program folder, a project folder and
// headless video.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/platform.h"

// Path of the built program folder (build/app).
std::string appDir();
// A fresh empty temporary folder, ending with "/".
std::string tempDir();
// Points programPath at the built program folder and projectPath at a new
// project folder with layers, layerspc, maps and models; returns projectPath.
std::string makeProject();
// makeProject with the program's default tileset in layers/, headless video
// and networking off: the set-up of the editing tests.
std::string makeEditingProject();
// A new map file of w x h cells (tileset "default") opened in a free slot;
// returns the slot.
int openNewMap(const char* name, unsigned long w, unsigned long h);
// A w x h map of empty cells, one layer per sheet (bottom first), made the
// only open map and the current one (modelReset frees it).
Map* showNewMap(uint32_t w, uint32_t h, const std::vector<SDL_Surface*>& sheets);
// Number of entries in a folder (0 when it cannot be read).
size_t filesIn(const std::string& dir);
// Starts SDL with the dummy driver, runs videoInit at w x h and sets the
// shell's hooks.
void startVideo(int w = 640, int h = 480);
// Queues one frame of scripted input: the pointer, its buttons, the keys held
// and an event.
void pushFrame(int x, int y, uint8_t buttons, std::initializer_list<int> keys = {},
               const SDL_Event* ev = nullptr);
// A map record in the map file layout (written by the model's writer).
// One turn of the main loop (scripted input): the event pump, then the
// command handler.
void turn(int x, int y, uint8_t buttons = 0, const SDL_Event* ev = nullptr);
// The same with these keys held.
void turn(int x, int y, uint8_t buttons, std::initializer_list<int> keys, const SDL_Event* ev = nullptr);
// text in a block of size bytes, NUL-padded (cut when longer).
std::string blockOf(const std::string& text, size_t size);
// An action as it travels: the header block "WORD SIZE", the body and its NUL.
std::string action(const std::string& word, const std::string& body);
// A key-down event of key k with modifiers mod.
SDL_Event keyEvent(SDLKey k, SDLMod mod = KMOD_NONE);
// A ready peer in slot that announced ext, named name (no link: nothing is sent to it).
void readyPeer(int slot, unsigned ext, const char* name = "bob");
// raw compressed as a sender compresses a map copy (zlib, fastest level).
std::vector<unsigned char> zipped(const std::vector<unsigned char>& raw);
// The tileset library's slot holding name, or -1.
int librarySlot(const char* name);
// A left click: pressed in one turn, released in the button's wait (or in a
// turn of its own where no button took it).
void click(int x, int y);
std::vector<unsigned char> mapFileBytes(const Map* m);
// Whole file content, or "" when it cannot be read.
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);
// The log lines (standard output) written while f runs.
template <class F>
std::string logOf(F f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}
// Lines in a log.
inline int lineCount(const std::string& log) {
  int n = 0;
  for (char c : log) n += c == '\n';
  return n;
}
// The image written as "<name>.png" in the project's "layers" folder and
// loaded as a tileset (the test fails when either step does).
struct SheetImage;
SDL_Surface* loadTestSheet(const std::string& project, const char* name, const SheetImage& im);
// A w x h 32-bit tileset image in dir's "layers" folder (BMP bytes under the
// ".png" name: the loader goes by content); pixel (x, y) is x * 7 + y * 131.
void writeBmpTileset(const std::string& dir, const char* name, int w, int h);
