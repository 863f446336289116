#include "testutil.h"

#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/model.h"
#include "shell/shell.h"
#include "tilesheet.h"
#include "toolkit/tileset.h"
#include "toolkit/video.h"
#include "model/mapfile.h"
#include "editor/menu.h"
#include "platform/platform.h"
#include "net/netio.h"
#include <zlib.h>

std::string appDir() {
  const char* a = getenv("MOSKA_APP");
  std::string s = a ? a : MOSKA_APP_DIR;
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

std::string tempDir() {
  char tmpl[] = "/tmp/moska-test-XXXXXX";
  char* d = mkdtemp(tmpl);
  if (!d) abort();
  return std::string(d) + "/";
}

std::string makeProject() {
  std::string p = tempDir();
  for (const char* sub : {"layers", "layerspc", "maps", "models"}) mkdir((p + sub).c_str(), 0755);
  snprintf(programPath, sizeof programPath, "%s", appDir().c_str());
  snprintf(projectPath, sizeof projectPath, "%s", p.c_str());
  return p;
}

std::string makeEditingProject() {
  std::string p = makeProject();
  writeFile(p + "layers/default.png", readFile(appDir() + "default.png"));
  startVideo();
  net = false;
  return p;
}

int openNewMap(const char* name, unsigned long w, unsigned long h) {
  EXPECT_TRUE(newMapFile(name, w, h));
  return openMapInFreeSlot(name);
}

Map* showNewMap(uint32_t w, uint32_t h, const std::vector<SDL_Surface*>& sheets) {
  Map* m = new Map;
  m->w = w;
  m->h = h;
  m->layers = (uint16_t)sheets.size();
  m->layer = new Layer*[sheets.size()];
  for (size_t i = 0; i < sheets.size(); i++) {
    m->layer[i] = new Layer;
    m->layer[i]->e = (int32_t*)calloc((size_t)w * h, sizeof(int32_t));  // as the model frees cells
    m->layer[i]->s = sheets[i];
  }
  project.listeMaps = new pMap[1]{m};
  project.nbreMaps = 1;
  project.currentMap = 0;
  project.currentLayer = 0;
  return m;
}

size_t filesIn(const std::string& dir) {
  std::error_code e;
  size_t n = 0;
  for (std::filesystem::directory_iterator it(dir, e), end; !e && it != end; ++it) n++;
  return n;
}

void startVideo(int w, int h) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  snprintf(programPath, sizeof programPath, "%s", appDir().c_str());
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) SDL_Init(SDL_INIT_VIDEO);
  video_x = w;
  video_y = h;
  videoInit();
  shellInstallHooks();
}

void pushFrame(int x, int y, uint8_t buttons, std::initializer_list<int> keys, const SDL_Event* ev) {
  ScriptFrame f;
  f.mouseX = x;
  f.mouseY = y;
  f.buttons = buttons;
  int i = 0;
  for (int k : keys)
    if (i < 8) f.keys[i++] = k;
  f.hasEvent = ev != nullptr;
  if (ev) f.ev = *ev;
  platformScriptPush(f);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "";
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
  return (bool)f;
}

void writeBmpTileset(const std::string& dir, const char* name, int w, int h) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  if (!s) abort();
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) ((uint32_t*)s->pixels)[y * s->pitch / 4 + x] = (uint32_t)(x * 7 + y * 131);
  if (SDL_SaveBMP(s, (dir + "layers/" + name + ".png").c_str()) != 0) abort();
  SDL_FreeSurface(s);
}

void turn(int x, int y, uint8_t buttons, const SDL_Event* ev) { turn(x, y, buttons, {}, ev); }

void turn(int x, int y, uint8_t buttons, std::initializer_list<int> keys, const SDL_Event* ev) {
  pushFrame(x, y, buttons, keys, ev);
  boucle();
  eventMenu();
}

std::string blockOf(const std::string& text, size_t size) { return (text + std::string(size, 0)).substr(0, size); }

std::string action(const std::string& word, const std::string& body) {
  return blockOf(word + " " + std::to_string(body.size() + 1), HEADER_BLOCK) + body + '\0';
}

SDL_Event keyEvent(SDLKey k, SDLMod mod) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = k;
  e.key.keysym.mod = mod;
  return e;
}

void readyPeer(int slot, unsigned ext, const char* name) {
  std::lock_guard<std::mutex> g(peersLock);
  peers[slot].clientReady = true;
  peers[slot].extensions = ext;
  snprintf(peers[slot].clientNames, sizeof peers[slot].clientNames, "%s", name);
}

std::vector<unsigned char> zipped(const std::vector<unsigned char>& raw) {
  uLongf n = compressBound((uLong)raw.size());
  std::vector<unsigned char> out(n);
  EXPECT_EQ(compress2(out.data(), &n, raw.data(), (uLong)raw.size(), Z_BEST_SPEED), Z_OK);
  out.resize(n);
  return out;
}

int librarySlot(const char* name) {
  for (int i = 0; i < LIBRARY_SLOTS; i++)
    if (layersGFXnames[i] && strcmp(layersGFXnames[i], name) == 0) return i;
  return -1;
}

void click(int x, int y) {
  pushFrame(x, y, SDL_BUTTON(1));
  pushFrame(x, y, 0);
  boucle();
  eventMenu();
  while (platformScriptRemaining() > 0) {
    boucle();
    eventMenu();
  }
}

std::vector<unsigned char> mapFileBytes(const Map* m) {
  char* buf = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buf, &size);
  EXPECT_TRUE(f && writeMapStream(f, m));
  if (f) fclose(f);
  std::vector<unsigned char> out(buf, buf + size);
  free(buf);
  return out;
}

SDL_Surface* loadTestSheet(const std::string& project, const char* name, const SheetImage& im) {
  EXPECT_TRUE(writeSheetPng(project + "layers/" + name + ".png", im));
  SDL_Surface* s = tilesetLoad(name);
  EXPECT_NE(s, nullptr);
  return s;
}
