// The join prompt of `allow ask` over whichever menu is shown, and the
// reason of a refused join on the "main" panel.
#include <stdio.h>
#include <string.h>

#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/auth.h"
#include "toolkit/video.h"
#include "toolkit/widgets.h"

namespace {
// The prompt's box covers the panel from here; its text and buttons sit in it.
const int kBoxY = 96, kBoxH = 92, kTextY = 108;
const int kAcceptX = 20, kRefuseX = 170, kButtonsY = 146;
const int kPromptText = 14, kLineH = 17;
JoinRequest shown = {-1, 0, "", ""};

bool samePrompt(const JoinRequest& a, const JoinRequest& b) { return a.slot == b.slot && a.gen == b.gen; }

void answer(const JoinRequest& r, bool accept) {
  authAnswer(r.slot, r.gen, accept);
  setMenu(project.currentMenu);
}
}  // namespace

void drawJoinPrompt() {
  JoinRequest r;
  if (!menu || !authPendingRequest(&r)) return;
  fillRect(menu, 0, kBoxY, surfaceWidth(menu), kBoxH, 160, 0, 0);
  fillRect(menu, 2, kBoxY + 2, surfaceWidth(menu) - 4, kBoxH - 4, 255, 240, 200);
  // The address first, on its own line: the peer chose its name, not its address.
  char line[ADDRESS_TEXT_LEN + 32], name[PROMPT_NAME_MAX + 8];
  snprintf(line, sizeof line, "%s wants to join,", r.address);
  drawText(line, 6, kTextY, "black", "B", kPromptText, true);
  authPromptName(r.name, name, sizeof name);
  snprintf(line, sizeof line, "named %s", name);
  drawText(line, 6, kTextY + kLineH, "black", "", kPromptText, true);
}

bool joinPromptCommands() {
  char why[PANEL_MESSAGE_LEN];
  if (authTakeRefusal(why, sizeof why)) {
    setPanelMessage("main", why);
    if (strcmp(project.currentMenu, "main") == 0) setMenu("main");
  }
  JoinRequest r;
  if (!authPendingRequest(&r)) {
    shown.slot = -1;
    return false;
  }
  if (!samePrompt(r, shown)) {  // a new prompt: the box is drawn once, the buttons every turn
    shown = r;
    drawMenu();
    blitMenu();
  }
  if (button(kAcceptX, kButtonsY, b_accept))
    answer(r, true);
  else if (button(kRefuseX, kButtonsY, b_refuse))
    answer(r, false);
  return true;
}
