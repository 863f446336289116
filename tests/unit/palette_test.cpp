// The tile palette: which cells are shown, visited and selectable, when the
// scroll buttons move, and pass-condition editing per quarter.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "editor/brush.h"
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
  static SDL_Surface* last = nullptr;  // the previous set-up's sheet and map, dropped here
  static Map* shownBefore = nullptr;
  if (last && last != sheet) SDL_FreeSurface(last);
  last = sheet;
  if (shownBefore) {  // as showNewMap made it
    for (int i = 0; i < shownBefore->layers; i++) {
      free(shownBefore->layer[i]->e);
      delete shownBefore->layer[i];
    }
    delete[] shownBefore->layer;
    delete shownBefore;
    delete[] project.listeMaps;
  }
  makeProject();
  startVideo();
  project = Project();
  shownBefore = showNewMap(4, 4, {sheet});
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
  drawElements(PX, PY, COLS, ROWS);  // released: the next press starts anew
  return project.currentElement;
}

// The scroll buttons: down (or up) a row.
void pressScroll(bool down) {
  clickAt(PX + 16 * COLS + 1 + 8, down ? PY + 16 * ROWS - 32 + 8 : PY + 8, true);
  drawElements(PX, PY, COLS, ROWS);
  leftClic = false;
}
}  // namespace

// Sideways: the scroll buttons with Shift held.
void pressSideways(bool right) {
  platformScriptStart();
  int y = right ? PY + 16 * ROWS - 32 + 8 : PY + 8;
  pushFrame(PX + 16 * COLS + 1 + 8, y, SDL_BUTTON(1), {SDLK_LSHIFT});
  platformPumpInput();
  drawElements(PX, PY, COLS, ROWS);
  pushFrame(0, 0, 0);  // Shift and the button let go
  platformPumpInput();
}

// The palette in the sheet's own layout: cell (c, r) scrolled to tileset
// column `col` and row `row` shows element (row + r) * R + col + c, nothing
// past the sheet's row or its last tile, and scrolls no further than the
// sheet reaches.
TEST(Palette, ShowsTheSheetInItsOwnColumnsAndScrollsBothWays) {
  struct Case {
    int w, h;           // sheet size: R = w / 16
    int downs, rights;  // scroll presses
    int row, col;       // where they stop
  } cases[] = {
      {160, 64, 3, 3, 0, 0},      // 10 x 4: narrower and shorter than the palette
      {256, 320, 15, 2, 10, 0},   // 16 x 20: as wide as a common sheet
      {480, 320, 15, 15, 10, 12}, // 30 x 20: wider, scrolls sideways
      {288, 160, 1, 1, 0, 0},     // 18 x 10: exactly the palette
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.w << "x" << k.h);
    setUp(solidSheet(k.w, k.h));
    int R = k.w / 16, tiles = R * (k.h / 16);
    for (int i = 0; i < k.downs; i++) pressScroll(true);
    for (int i = 0; i < k.rights; i++) pressSideways(true);
    EXPECT_EQ(project.elementIndex, k.row);
    std::vector<Uint32> v = shown();
    for (int r = 0; r < ROWS; r++)
      for (int c = 0; c < COLS; c++) {
        int n = (k.row + r) * R + k.col + c;
        bool tile = k.col + c < R && n < tiles && n != 0;
        EXPECT_EQ(v[r * COLS + c], tile ? tileColour(n) : rgb(0, 0, 0)) << c << "," << r;
        if (k.col + c < R && n < tiles) {
          EXPECT_EQ(select(c, r), n) << c << "," << r;
        } else {
          EXPECT_EQ(select(c, r), -5) << c << "," << r;
        }
      }
    for (int i = 0; i < k.rights + 1; i++) pressSideways(false);
    for (int i = 0; i < k.downs + 1; i++) pressScroll(false);
    v = shown();
    EXPECT_EQ(v[1], tileColour(1));  // back at the top-left: cell (c, r) is r * R + c
    EXPECT_EQ(v[COLS], tileColour(R));
  }
}

// A drag over palette tiles makes their rectangle the stamp; a row
// remembered from the earlier 18-column palette is brought onto the sheet.
TEST(Palette, DragMakesAStampAndAnOldRowIsClamped) {
  setUp(solidSheet(256, 64));  // 16 x 4
  project.elementIndex = 40;
  shown();
  EXPECT_EQ(project.elementIndex, 0);
  clickAt(PX + 16 * 2 + 3, PY + 16 * 1 + 3, true);
  drawElements(PX, PY, COLS, ROWS);
  clickAt(PX + 16 * 3 + 3, PY + 16 * 2 + 3, true);  // dragged, held
  drawElements(PX, PY, COLS, ROWS);
  leftClic = false;
  drawElements(PX, PY, COLS, ROWS);
  EXPECT_TRUE(stampActive());
  EXPECT_EQ(brushState.stamp.w, 2u);
  EXPECT_EQ(brushState.stamp.h, 2u);
  EXPECT_EQ(brushState.stamp.cells, (std::vector<int32_t>{18, 19, 34, 35}));
  EXPECT_EQ(project.currentElement, 18);
  EXPECT_EQ(select(5, 0), 5);  // a click: one tile again
  EXPECT_FALSE(stampActive());
}

TEST(Palette, PassEditingReachesTheCellLimitWhileTilesStopAtTheTileLimit) {
  // 160 x 72: cell limit (10 * 72) / 16 = 45, tile limit 10 * 4 = 40.
  setUp(solidSheet(160, 72));
  std::vector<unsigned char> pass(45 * 4, 1);
  passconditions = pass.data();
  int x = PX + 16 * 2 + 3, y = PY + 16 * 4 + 3;  // element 42: column 2, row 4
  clickAt(x, y, true);  // the left button blocks
  drawElementsPC(PX, PY, COLS, ROWS, true);
  EXPECT_EQ(pass[4 * 42], 0);
  EXPECT_EQ(getpixel(menu, x, y), rgb(255, 0, 0));
  EXPECT_EQ(getpixel(menu, x + 8, y), rgb(0, 0, 0));  // no tile 42 drawn
  clickAt(PX + 16 * 5 + 3, y, true);  // element 45: past the cell limit
  drawElementsPC(PX, PY, COLS, ROWS, true);
  EXPECT_EQ(std::count(pass.begin(), pass.end(), 0), 1);
  clickAt(x, y, false, true);  // the right button clears
  drawElementsPC(PX, PY, COLS, ROWS, true);
  EXPECT_EQ(std::count(pass.begin(), pass.end(), 0), 0);
}
