// The tile palette: which cells are shown, visited and selectable, when the
// scroll buttons move, and pass-condition editing per quarter.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "editor/editor.h"
#include "model/model.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/video.h"

namespace {
const int PX = 1, PY = 70, COLS = 18, ROWS = 10;

Uint32 rgb(int r, int g, int b) { return SDL_MapRGB(menu->format, r, g, b); }

// Tile n of a solid sheet is (n % 256, 1 + n / 256, 200); tile 0 is keyed.
Uint32 tileColour(int n) { return rgb(n % 256, 1 + n / 256, 200); }

SDL_Surface* solidSheet(int w, int h) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 1, 200));
  for (int n = 0; n < (w / 16) * (h / 16); n++) {
    SDL_Rect r = {(Sint16)(n % (w / 16) * 16), (Sint16)(n / (w / 16) * 16), 16, 16};
    SDL_FillRect(s, &r, SDL_MapRGB(s->format, n % 256, 1 + n / 256, 200));
  }
  SDL_SetColorKey(s, SDL_SRCCOLORKEY | SDL_RLEACCEL, getpixel(s, 0, 0));
  return s;
}

SDL_Surface* solidImage(int w, int h, int r, int g, int b) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, r, g, b));
  return s;
}

// A current map whose current layer uses `sheet`, and the palette's images.
void setUp(SDL_Surface* sheet) {
  makeProject();
  startVideo();
  project = Project();
  showNewMap(4, 4, {sheet});
  SDL_FreeSurface(b_up);  // the ones videoInit loaded
  SDL_FreeSurface(b_down);
  SDL_FreeSurface(passnot);
  b_up = solidImage(16, 48, 0, 255, 0);
  b_down = solidImage(16, 48, 0, 0, 255);
  passnot = solidImage(8, 8, 255, 0, 0);
}

// Colours of all 180 cells after drawElementsH: the cell's colour when its
// top-left and bottom-right pixels agree (a whole tile, not a shifted one),
// else 1.
std::vector<Uint32> shown() {
  fillRect(menu, 0, 0, menu->w, menu->h, 50, 50, 50);
  drawElementsH(PX, PY, COLS, ROWS);
  std::vector<Uint32> v;
  for (int j = 0; j < ROWS; j++)
    for (int k = 0; k < COLS; k++) {
      Uint32 a = getpixel(menu, PX + 16 * k, PY + 16 * j);
      Uint32 b = getpixel(menu, PX + 16 * k + 15, PY + 16 * j + 15);
      v.push_back(a == b ? a : 1);
    }
  return v;
}

void clickAt(int x, int y, bool left, bool right = false) {
  mouseX = x, mouseY = y;
  leftClic = left;
  rightClic = right;
}

// Selects with a click on cell (k, j); returns the new currentElement.
int select(int k, int j) {
  project.currentElement = -5;
  clickAt(PX + 16 * k + 3, PY + 16 * j + 3, true);
  drawElements(PX, PY, COLS, ROWS);
  leftClic = false;
  return project.currentElement;
}

void pressDown() {
  clickAt(PX + 16 * COLS + 1 + 8, PY + 16 * ROWS - 32 + 8, true);
  drawElements(PX, PY, COLS, ROWS);
  leftClic = false;
}

void pressUp() {
  clickAt(PX + 16 * COLS + 1 + 8, PY + 8, true);
  drawElements(PX, PY, COLS, ROWS);
  leftClic = false;
}
}  // namespace

TEST(Palette, FortyTilesShowVisitAndSelectOnlyTheirCells) {
  setUp(solidSheet(160, 64));  // 10 tiles per row, 4 rows
  std::vector<Uint32> v = shown();
  for (int i = 0; i < COLS * ROWS; i++)
    EXPECT_EQ(v[i], i >= 1 && i < 40 ? tileColour(i) : rgb(0, 0, 0)) << "cell " << i;
  EXPECT_EQ(select(3, 2), 39);
  EXPECT_EQ(select(4, 2), -5);  // not visited
  EXPECT_EQ(select(0, 5), -5);
  pressDown();
  EXPECT_EQ(project.elementIndex, 0);
  pressUp();
  EXPECT_EQ(project.elementIndex, 0);
  // The preview shows the selected tile right of the palette.
  project.currentElement = 17;
  shown();
  EXPECT_EQ(getpixel(menu, 297, 142), tileColour(17));
}

TEST(Palette, TwoHundredTilesScrollByRowsUntilTheEnd) {
  setUp(solidSheet(160, 320));  // 10 tiles per row, 20 rows
  std::vector<Uint32> v = shown();
  for (int i = 1; i < COLS * ROWS; i++) EXPECT_EQ(v[i], tileColour(i)) << "cell " << i;
  pressUp();
  EXPECT_EQ(project.elementIndex, 0);
  pressDown();
  EXPECT_EQ(project.elementIndex, 1);
  v = shown();
  EXPECT_EQ(v[0], tileColour(18));
  EXPECT_EQ(v[179], tileColour(197));
  pressDown();
  EXPECT_EQ(project.elementIndex, 2);
  v = shown();
  for (int i = 0; i < COLS * ROWS; i++)
    EXPECT_EQ(v[i], 36 + i < 200 ? tileColour(36 + i) : rgb(0, 0, 0)) << "cell " << i;
  EXPECT_EQ(select(17, 9), 215);  // visited past the end: black but selectable
  pressDown();
  EXPECT_EQ(project.elementIndex, 2);  // (10 + 2) * 18 = 216 is not below 200
  pressUp();
  EXPECT_EQ(project.elementIndex, 1);
}

TEST(Palette, PassEditingReachesTheCellLimitWhileTilesStopAtTheTileLimit) {
  // 160 x 72: cell limit (10 * 72) / 16 = 45, tile limit 10 * 4 = 40.
  setUp(solidSheet(160, 72));
  std::vector<unsigned char> pass(45 * 4, 1);
  passconditions = pass.data();
  int x = PX + 16 * 6 + 3, y = PY + 16 * 2 + 3;  // element 42
  clickAt(x, y, true);  // the left button blocks
  drawElementsPC(PX, PY, COLS, ROWS, true);
  EXPECT_EQ(pass[4 * 42], 0);
  EXPECT_EQ(getpixel(menu, x, y), rgb(255, 0, 0));
  EXPECT_EQ(getpixel(menu, x + 8, y), rgb(0, 0, 0));  // no tile 42 drawn
  clickAt(PX + 16 * 9 + 3, y, true);  // element 45: not visited
  drawElementsPC(PX, PY, COLS, ROWS, true);
  EXPECT_EQ(std::count(pass.begin(), pass.end(), 0), 1);
  clickAt(x, y, false, true);  // the right button clears
  drawElementsPC(PX, PY, COLS, ROWS, true);
  EXPECT_EQ(std::count(pass.begin(), pass.end(), 0), 0);
}
