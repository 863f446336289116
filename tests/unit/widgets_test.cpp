// Widgets and modal text entry, driven frame by frame through scripted input.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <string.h>

#include <initializer_list>
#include <vector>

#include "platform/platform.h"
#include "shell/shell.h"
#include "testutil.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
void pushFrame(int mx, int my, uint8_t buttons, std::initializer_list<int> keys = {}) {
  ScriptFrame f;
  f.mouseX = mx;
  f.mouseY = my;
  f.buttons = buttons;
  int i = 0;
  for (int k : keys)
    if (i < 8) f.keys[i++] = k;
  platformScriptPush(f);
}
// A key pressed then released, the pointer left where it is.
void press(std::initializer_list<int> keys) {
  pushFrame(mouseX, mouseY, 0, keys);
  pushFrame(mouseX, mouseY, 0);
}
// Keys pressed together and released one at a time, in the order given.
void holdTogether(std::initializer_list<int> keys) {
  std::vector<int> held(keys);
  while (true) {
    ScriptFrame f;
    for (size_t i = 0; i < held.size() && i < 8; i++) f.keys[i] = held[i];
    platformScriptPush(f);
    if (held.empty()) break;
    held.erase(held.begin());
  }
}
void pressEnter() { pushFrame(mouseX, mouseY, 0, {SDLK_RETURN}); }

void clickAt(int x, int y) {
  mouseX = x;
  mouseY = y;
  leftClic = true;
}

bool isColour(SDL_Surface* s, int x, int y, int r, int g, int b) {
  return getpixel(s, x, y) == SDL_MapRGB(s->format, r, g, b);
}

// A 30 x 30 three-state image: red normal, green hovered, blue pressed.
SDL_Surface* threeStateImage() {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 30, 30, 32, 0, 0, 0, 0);
  SDL_Rect r0 = {0, 0, 30, 10}, r1 = {0, 10, 30, 10}, r2 = {0, 20, 30, 10};
  SDL_FillRect(s, &r0, SDL_MapRGB(s->format, 255, 0, 0));
  SDL_FillRect(s, &r1, SDL_MapRGB(s->format, 0, 255, 0));
  SDL_FillRect(s, &r2, SDL_MapRGB(s->format, 0, 0, 255));
  return s;
}

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    makeProject();
    startVideo();
    platformScriptStart();
    img = threeStateImage();
  }
  void TearDown() override { SDL_FreeSurface(img); }
  SDL_Surface* img = nullptr;
};

// Text entry in a non-dynamic field at (8, 100), width 200.
std::string typeInto(const char* start, int limit, size_t bufLen = 64) {
  char buf[256] = {0};
  snprintf(buf, bufLen, "%s", start);
  clickAt(20, 110);
  textArea(buf, 8, 100, 200, limit, false);
  return buf;
}
}  // namespace

TEST_F(Widgets, ButtonHitAreaIsOpen) {
  // Image 30 x 30 at (10, 10): states 10 high, hits 10 < x < 40 and 10 < y < 20.
  struct {
    int x, y;
    bool hit;
  } cases[] = {{10, 15, false}, {11, 15, true}, {39, 15, true}, {40, 15, false},
               {15, 10, false}, {15, 11, true}, {15, 19, true}, {15, 20, false}};
  for (auto c : cases) {
    clickAt(c.x, c.y);
    EXPECT_EQ(buttonList(10, 10, img), c.hit) << c.x << "," << c.y;
    // A hit waits for the release; a press on an edge pixel returns at once.
    if (c.hit) pushFrame(c.x, c.y, 0);
    clickAt(c.x, c.y);
    EXPECT_EQ(button(10, 10, img), c.hit) << c.x << "," << c.y;
    EXPECT_EQ(platformScriptRemaining(), 0u);
  }
}

TEST_F(Widgets, ButtonClickCompletesOnReleaseInside) {
  clickAt(15, 15);
  pushFrame(16, 15, SDL_BUTTON(1));
  pushFrame(16, 16, 0);
  EXPECT_TRUE(button(10, 10, img));
  EXPECT_EQ(platformScriptRemaining(), 0u);
  EXPECT_TRUE(isColour(menu, 11, 11, 0, 0, 255));  // pressed look left on the panel
  leftClic = false;
  EXPECT_FALSE(button(10, 10, img));
  EXPECT_TRUE(isColour(menu, 11, 11, 0, 255, 0));  // hovered
}

TEST_F(Widgets, ButtonDraggedOffBeforeReleaseDoesNothing) {
  clickAt(15, 15);
  pushFrame(15, 15, SDL_BUTTON(1));
  pushFrame(100, 100, SDL_BUTTON(1));
  pushFrame(100, 100, 0);
  EXPECT_FALSE(button(10, 10, img));
  EXPECT_EQ(platformScriptRemaining(), 0u);
  EXPECT_FALSE(button(10, 10, img));  // next frame: normal look
  EXPECT_TRUE(isColour(menu, 11, 11, 255, 0, 0));
}

TEST_F(Widgets, ListButtonHeldFiveFramesReportsFiveTimes) {
  for (int i = 0; i < 5; i++) pushFrame(20, 15, SDL_BUTTON(1));
  pushFrame(20, 15, 0);
  int reports = 0;
  for (int i = 0; i < 6; i++) {
    boucle();
    if (buttonList(10, 10, img)) reports++;
  }
  EXPECT_EQ(reports, 5);
  EXPECT_TRUE(isColour(menu, 11, 11, 0, 255, 0));  // released: hovered look
}

TEST_F(Widgets, ButtonWithoutImageNeverHitsNorCrashes) {
  clickAt(15, 15);
  EXPECT_FALSE(button(10, 10, nullptr));
  EXPECT_FALSE(buttonList(10, 10, nullptr));
  leftClic = false;
  EXPECT_FALSE(button(10, 10, nullptr));
}

TEST_F(Widgets, FieldLookAndHoverDoesNotRedraw) {
  char s[32] = "";
  mouseX = mouseY = 300;
  leftClic = false;
  textArea(s, 8, 100, 200, 16, false);
  EXPECT_TRUE(isColour(menu, 8, 110, 128, 128, 128));    // left border
  EXPECT_TRUE(isColour(menu, 207, 110, 128, 128, 128));  // right border
  EXPECT_TRUE(isColour(menu, 100, 100, 128, 128, 128));  // top row
  EXPECT_TRUE(isColour(menu, 100, 119, 128, 128, 128));  // bottom row
  EXPECT_TRUE(isColour(menu, 206, 118, 255, 255, 255));  // white inside
  // Hovered without a click: nothing is drawn this frame.
  setPixel(menu, 206, 118, 1, 2, 3);
  mouseX = 100;
  mouseY = 110;
  EXPECT_EQ(textArea(s, 8, 100, 200, 16, false), s);
  EXPECT_TRUE(isColour(menu, 206, 118, 1, 2, 3));
  // Edge pixels of a field do not hit it: the field is drawn idle again.
  mouseX = 8;
  leftClic = true;
  textArea(s, 8, 100, 200, 16, false);
  EXPECT_TRUE(isColour(menu, 206, 118, 255, 255, 255));
}

TEST_F(Widgets, NumberEntry) {
  char n[16] = "12";
  clickAt(20, 110);
  pushFrame(20, 110, 0, {SDLK_DELETE});
  pressEnter();
  numberArea(n, 8, 100, 200, 10, false);
  EXPECT_STREQ(n, "0");

  // Leading zero refused; "1", "0" gives "10"; keypad period adds "."; the
  // main-row "." and letters are not accepted.
  n[0] = 0;
  clickAt(20, 110);
  press({SDLK_0});
  press({SDLK_KP0});
  press({SDLK_1});
  press({SDLK_0});
  press({SDLK_KP_PERIOD});
  press({SDLK_PERIOD});
  press({SDLK_a});
  press({SDLK_KP7});
  pressEnter();
  numberArea(n, 8, 100, 200, 10, false);
  EXPECT_STREQ(n, "10.7");
}

// Closing the window ends either entry and runs the quit path once, though
// the close event stays the last one while no other comes.
TEST_F(Widgets, EntryEndsOnWindowCloseAndQuitsOnce) {
  for (bool number : {true, false}) {
    stop = false;
    char n[16] = "";
    clickAt(20, 110);
    ScriptFrame quit;
    quit.mouseX = 20;
    quit.mouseY = 110;
    quit.hasEvent = true;
    quit.ev.type = SDL_QUIT;
    platformScriptPush(quit);
    for (int i = 0; i < 5; i++) pushFrame(20, 110, 0);
    captureLogBegin();
    if (number)
      numberArea(n, 8, 100, 200, 10, false);
    else
      textArea(n, 8, 100, 200, 10, false);
    std::string log = captureLogEnd();
    EXPECT_TRUE(stop);
    EXPECT_STREQ(n, number ? "0" : "");
    size_t first = log.find("Aucun projet charge");
    EXPECT_NE(first, std::string::npos) << number;
    EXPECT_EQ(log.find("Aucun projet charge", first + 1), std::string::npos) << log;
  }
}

TEST_F(Widgets, TextEntryKeys) {
  press({SDLK_LEFTBRACKET});
  press({SDLK_LSHIFT, SDLK_a});
  press({SDLK_KP_DIVIDE});
  press({SDLK_SPACE});
  press({SDLK_RSHIFT});  // no text of its own
  press({SDLK_F1});
  pressEnter();
  EXPECT_EQ(typeInto("", 16), "#[a/ ");

  // A held key appends once.
  for (int i = 0; i < 6; i++) pushFrame(20, 110, 0, {SDLK_z});
  pushFrame(20, 110, 0);
  pressEnter();
  EXPECT_EQ(typeInto("x", 16), "xz");

  // Keys held together in one pass are all appended, in table order.
  holdTogether({SDLK_9, SDLK_a, SDLK_b});
  pressEnter();
  EXPECT_EQ(typeInto("", 16), "9ab");
}

TEST_F(Widgets, FullFieldStillEdits) {
  const char* full = "abcdefghijklmnop";  // 16 characters
  press({SDLK_q});
  press({SDLK_BACKSPACE});
  press({SDLK_BACKSPACE});
  pressEnter();
  EXPECT_EQ(typeInto(full, 16), "abcdefghijklmn");

  pushFrame(20, 110, 0, {SDLK_CLEAR});
  press({SDLK_q});
  pressEnter();
  EXPECT_EQ(typeInto(full, 16), "q");

  pushFrame(20, 110, 0, {SDLK_DELETE});
  pressEnter();
  EXPECT_EQ(typeInto(full, 16), "");
}

TEST_F(Widgets, EntryNeverWritesPastTheLimitOrTheBuffer) {
  // Eight keys held together one character short of the limit, the last
  // one the two-character "[" key: only one character fits.
  holdTogether({SDLK_a, SDLK_b, SDLK_c, SDLK_d, SDLK_e, SDLK_f, SDLK_g, SDLK_LEFTBRACKET});
  pressEnter();
  EXPECT_EQ(typeInto("abcdefghijklmno", 16), "abcdefghijklmnoa");

  // "#[" does not fit in one remaining character and is not cut in half.
  press({SDLK_LEFTBRACKET});
  pressEnter();
  EXPECT_EQ(typeInto("abcdefghijklmno", 16), "abcdefghijklmno");

  // A buffer smaller than the limit: its capacity wins; the guard after it
  // stays untouched.
  struct {
    char buf[8];
    char guard[8];
  } b;
  memset(b.guard, 'G', sizeof b.guard);
  snprintf(b.buf, sizeof b.buf, "abcd");
  holdTogether({SDLK_a, SDLK_b, SDLK_c, SDLK_d, SDLK_e, SDLK_f, SDLK_g, SDLK_h});
  pressEnter();
  inputText(b.buf, sizeof b.buf, 8, 100, 200, 64);
  EXPECT_STREQ(b.buf, "abcdabc");
  for (char g : b.guard) EXPECT_EQ(g, 'G');

  // inputchar reports whether it appended.
  char small[4] = "ab";
  pushFrame(0, 0, 0, {SDLK_LEFTBRACKET});
  boucle();
  EXPECT_FALSE(inputchar(small, sizeof small, SDLK_LEFTBRACKET, "#["));
  EXPECT_FALSE(inputchar(small, sizeof small, SDLK_a, "a"));  // key up
  EXPECT_STREQ(small, "ab");
}

TEST_F(Widgets, DynamicFieldReturnsNewArrayEveryEdit) {
  char* s = new char[3];
  snprintf(s, 3, "ab");
  clickAt(20, 110);
  pressEnter();
  char* same = textArea(s, 8, 100, 200, 16, true);  // unchanged text, new array
  EXPECT_NE(same, s);
  EXPECT_STREQ(same, "ab");

  clickAt(20, 110);
  press({SDLK_c});
  pressEnter();
  char* again = numberArea(same, 8, 100, 200, 16, true);
  EXPECT_NE(again, same);
  EXPECT_STREQ(again, "ab");  // letters are not digits
  clickAt(20, 110);
  press({SDLK_5});
  pressEnter();
  char* more = numberArea(again, 8, 100, 200, 16, true);
  EXPECT_STREQ(more, "ab5");

  // A null value starts empty.
  clickAt(20, 110);
  press({SDLK_k});
  pressEnter();
  char* fresh = textArea(nullptr, 8, 100, 200, 16, true);
  EXPECT_STREQ(fresh, "k");
  delete[] more;
  delete[] fresh;
}

TEST_F(Widgets, TextAreaNewEditsInPlace) {
  char name[256] = "pro";
  clickAt(20, 110);
  press({SDLK_j});
  pressEnter();
  textAreaNew(name, 8, 100, 200, 64);
  EXPECT_STREQ(name, "proj");
  // Outside it only draws.
  mouseX = 300;
  textAreaNew(name, 8, 100, 200, 64);
  EXPECT_TRUE(isColour(menu, 206, 118, 255, 255, 255));
  EXPECT_EQ(platformScriptRemaining(), 0u);
}
