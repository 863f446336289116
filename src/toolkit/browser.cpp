// The project browser and the folder browser of the panel. Directory streams
// promise no order, so each listing is read whole, "." and ".." are handled
// by name and the rest is sorted, so that rows stay put between frames.
#include "toolkit/browser.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/files.h"
#include "platform/os.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

int gxplorer_index = 0;

namespace {
const int kTitleHeight = 18;
const int kRowStep = 16;
const int kBandTop = 14;       // band of row k starts at y + 16k + 14
const int kBandHeight = 20;
const int kNameTop = 16;
const int kScrollWidth = 32;   // right part of a row taken by the scroll buttons
const int kUpButtonTop = 16;
const int kDownButtonTop = 48;
const int kTitleSize = 13;
const int kNameSize = 12;
const size_t kFolderLen = 512;
const size_t kIsDirLen = 2048;

struct Rgb {
  int r, g, b;
};
const Rgb kGrey = {128, 128, 128};
const Rgb kTitleInside = {255, 235, 0};
const Rgb kIdle = {255, 255, 128};
const Rgb kHoverFolder = {128, 128, 255};
const Rgb kHoverProject = {0, 255, 0};
const Rgb kHoverFile = {255, 0, 0};

enum EntryKind { KIND_FOLDER, KIND_PROJECT, KIND_FILE };

void fill(int x, int y, int w, int h, Rgb c) { fillRect(menu, x, y, w, h, c.r, c.g, c.b); }

// A frame: grey border, `inside` elsewhere; `bottomEdge` adds the grey last row.
void drawFramed(int x, int y, int w, int h, Rgb inside, bool bottomEdge) {
  fill(x, y, w, h, kGrey);
  fill(x + 1, y, w - 2, bottomEdge ? h - 1 : h, inside);
}

// The title bar: "<what> <folder>:".
void drawTitle(const char* what, const char* folder, int x, int y, int w) {
  char title[kFolderLen + 16];
  snprintf(title, sizeof title, "%s %s:", what, folder);
  fill(x, y, w, kTitleHeight, kGrey);
  fill(x + 1, y + 1, w - 2, kTitleHeight - 2, kTitleInside);
  drawText(title, x + 2, y + 2, "black", "B", kTitleSize, true);
}

// Reads the whole folder, "." and ".." left out (and a project's state
// folder, which is the editor's, not the user's), sorted by name. False when
// the folder cannot be opened; `hasParent` tells whether ".." was there.
bool readListing(const char* folder, std::vector<std::string>& names, bool& hasParent) {
  names.clear();
  hasParent = false;
  DIR* d = opendir(folder);
  if (!d) return false;
  rewinddir(d);
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, STATE_DIR) == 0) continue;
    if (strcmp(e->d_name, "..") == 0) {
      hasParent = true;
      continue;
    }
    names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return true;
}

// Logs an over-long path once, not on every frame it is drawn.
void logTooLong(const char* what) {
  static char last[64];
  if (strncmp(last, what, sizeof last - 1) == 0) return;
  snprintf(last, sizeof last, "%s", what);
  printf("Chemin trop long: %.60s...\n", what);
}

bool rowHot(int x, int y, int w, int k) {
  int top = y + kRowStep * k;
  return x < mouseX && mouseX < x + w - kScrollWidth && top + kBandTop + 1 < mouseY &&
         mouseY < top + kBandTop + 18;
}

void drawBand(int x, int y, int w, int k, bool last, Rgb colour, bool solid) {
  int top = y + kRowStep * k + kBandTop;
  if (solid)
    fill(x, top, w, kBandHeight, colour);
  else
    drawFramed(x, top, w, kBandHeight, colour, last);
}

void takeClick(char* it, const char* name, bool& result) {
  if (strcmp(name, it) != 0) result = true;
  snprintf(it, PATH_LEN, "%s", name);
}

// The scroll buttons, below the rows so that they are drawn over the bands.
void scrollButtons(int x, int y, int w, bool lastRowFilled) {
  if (lastRowFilled && buttonList(x + w - kScrollWidth, y + kDownButtonTop, b_down))
    gxplorer_index++;
  if (gxplorer_index > 0 && buttonList(x + w - kScrollWidth, y + kUpButtonTop, b_up))
    gxplorer_index--;
}

// The entry of row k, or null past the end of the listing.
const char* rowEntry(const std::vector<std::string>& rows, int k) {
  long i = (long)gxplorer_index + k;
  if (i < 0 || i >= (long)rows.size()) return nullptr;
  return rows[i].c_str();
}
}  // namespace

bool isDir(const char* dir, const char* cible) {
  char path[kIsDirLen];
  int n = snprintf(path, sizeof path, "%s%s%s", dir, osRep, cible);
  if (n < 0 || (size_t)n >= sizeof path) return false;
  DIR* d = opendir(path);
  if (!d) return false;
  closedir(d);
  return true;
}

bool gxplorer(char* it, int x, int y, int l, int w) {
  char folder[kFolderLen];
  snprintf(folder, sizeof folder, "%s", projectPath);
  std::vector<std::string> rows;
  bool hasParent = false;
  if (readListing(folder, rows, hasParent) && hasParent) rows.insert(rows.begin(), "..");

  drawTitle("Exploring", folder, x, y, w);

  bool result = false;
  const char* name = nullptr;
  for (int k = 0; k < l; k++) {
    name = rowEntry(rows, k);
    bool last = k == l - 1;
    EntryKind kind = KIND_FILE;
    if (name)
      kind = isDir(folder, name) ? KIND_FOLDER
             : strcmp(name, PROJECT_FILE) == 0 ? KIND_PROJECT
                                               : KIND_FILE;
    if (name && rowHot(x, y, w, k)) {
      if (leftClic && kind != KIND_FILE) takeClick(it, name, result);
      Rgb hover = kind == KIND_FOLDER ? kHoverFolder : kind == KIND_PROJECT ? kHoverProject : kHoverFile;
      drawBand(x, y, w, k, last, hover, kind == KIND_FILE);
    } else {
      drawBand(x, y, w, k, last, kIdle, false);
    }
    if (name) {
      const char* colour = kind == KIND_FOLDER ? "black" : kind == KIND_PROJECT ? "green" : "orange";
      drawText(name, x + 2, y + kRowStep * k + kNameTop, colour, kind == KIND_FILE ? "" : "B",
               kNameSize, true);
    }
  }
  scrollButtons(x, y, w, l > 0 && name);
  blitMenu();
  return result;
}

bool folderRank(const char* rep, const char* file, int* rank, int* count) {
  *rank = *count = 0;
  char folder[kFolderLen];
  std::vector<std::string> rows;
  bool hasParent = false;
  int n = snprintf(folder, sizeof folder, "%s%s%s", projectPath, rep, osRep);
  if (n < 0 || (size_t)n >= sizeof folder || !readListing(folder, rows, hasParent)) return false;
  const char* ext = strrchr(file, '.');
  for (const std::string& r : rows) {
    size_t dot = r.rfind('.');
    if (!ext || dot == std::string::npos || r.compare(dot, std::string::npos, ext) != 0) continue;
    ++*count;
    if (r == file) *rank = *count;
  }
  return true;
}

bool explorer(char* it, int x, int y, int l, int w, const char* rep) {
  char folder[kFolderLen];
  std::vector<std::string> rows;
  bool hasParent = false;
  int n = snprintf(folder, sizeof folder, "%s%s%s", projectPath, rep, osRep);
  if (n < 0 || (size_t)n >= sizeof folder)
    logTooLong(projectPath);  // a cut path could name another folder: list nothing
  else
    readListing(folder, rows, hasParent);

  drawTitle("Open in", rep, x, y, w);

  bool result = false;
  const char* name = nullptr;
  for (int k = 0; k < l; k++) {
    name = rowEntry(rows, k);
    bool hot = name && rowHot(x, y, w, k);
    if (hot && leftClic) takeClick(it, name, result);
    drawBand(x, y, w, k, k == l - 1, hot ? kHoverFolder : kIdle, false);
    if (name) drawText(name, x + 2, y + kRowStep * k + kNameTop, "black", "", kNameSize, true);
  }
  scrollButtons(x, y, w, l > 0 && name);
  blitMenu();
  return result;
}
