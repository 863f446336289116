// The join prompt of `allow ask` over whichever menu is shown (Accept as
// editor, Accept as viewer, Refuse), and the reason of a refused join or of
// being left out on the "main" panel.
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
const int kBoxY = 96, kBoxH = 124, kTextY = 108;
const int kAcceptX = 20, kRefuseX = 170, kButtonsY = 146;
const int kViewerY = 178, kViewerW = 242;  // "Accept as viewer", under the two pictures
const int kPromptText = 14, kLineH = 17;
JoinRequest shown = {-1, 0, "", "", false};

bool samePrompt(const JoinRequest& a, const JoinRequest& b) { return a.slot == b.slot && a.gen == b.gen; }

void answer(const JoinRequest& r, JoinAnswer a) {
  authAnswer(r.slot, r.gen, a);
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
  snprintf(line, sizeof line, "named %s%s", name, r.leftOut ? " (left out)" : "");
  drawText(line, 6, kTextY + kLineH, "black", "", kPromptText, true);
}

bool joinPromptCommands() {
  char why[PANEL_MESSAGE_LEN];
  if (authTakeRefusal(why, sizeof why)) {
    setPanelMessage("main", why);
    if (strcmp(project.currentMenu, "main") == 0) setMenu("main");
  }
  char by[NAME_BLOCK];
  if (takeLeftOutBy(by, sizeof by)) {
    snprintf(why, sizeof why, "%.40s left this editor out.", by);
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
    answer(r, JOIN_EDITOR);
  else if (button(kRefuseX, kButtonsY, b_refuse))
    answer(r, JOIN_REFUSE);
  else if (textButton("Accept as viewer", kAcceptX, kViewerY, kViewerW))
    answer(r, JOIN_VIEWER);
  return true;
}
