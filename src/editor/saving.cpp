// Saving while editing: Ctrl+S and autosave. The open maps that changed are
// copied a slice per frame on the main thread and written by the model's
// background writer, so a big map never stalls the frame.
#include <stdio.h>

#include <vector>

#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "core/core.h"
#include "platform/os.h"

bool (*projectSaveHook)() = nullptr;

namespace {
const uint32_t kQuietMs = 1000;        // autosave waits for this long without a held button
const uint32_t kMinuteMs = 60000;
const size_t kCopyCellsPerFrame = 2 << 20;  // 8 MiB of cells copied per frame

// A map being copied for the writer.
struct Copy {
  Map* from;
  Map* to;
  size_t cursor;
};
std::vector<Copy> copying;
std::vector<Map*> copied;
uint32_t lastSaveMs = 0;  // last save started (0: not yet, set at the first turn)
uint32_t lastBusyMs = 0;  // last turn with a mouse button held
bool manualPending = false, manualAgain = false;
int copyFailures = 0;

void showResult(const char* text, PanelKind kind) {
  setPanelMessage(project.currentMenu, text, kind);
  setMenu(project.currentMenu);
}

bool anyChanged() {
  for (int i = 0; i < project.nbreMaps; i++)
    if (project.listeMaps[i] && project.listeMaps[i]->dirty) return true;
  return false;
}

bool stillOpen(const Map* m) {
  for (int i = 0; i < project.nbreMaps; i++)
    if (project.listeMaps[i] == m) return true;
  return false;
}

void report(int saved, int failedCount, const char* failed) {
  char text[PANEL_MESSAGE_LEN];
  if (failedCount)
    snprintf(text, sizeof text, "Save failed: %s", failed);
  else
    snprintf(text, sizeof text, "Saved %d map%s", saved, saved == 1 ? "" : "s");
  printf("%s\n", text);
  if (failedCount || manualPending) showResult(text, failedCount ? PANEL_ERROR : PANEL_INFO);
  manualPending = false;
}

// Starts copying every changed map; the project file is written at once.
void saveAll(bool manual) {
  if (!copying.empty() || backgroundSaveBusy()) {
    manualAgain = manualAgain || manual;  // once the running save is done
    return;
  }
  copyFailures = 0;
  for (int i = 0; i < project.nbreMaps; i++) {
    Map* m = project.listeMaps[i];
    if (!m || !m->dirty) continue;
    Map* c = snapshotBegin(m);
    if (!c) {
      copyFailures++;
      continue;
    }
    copying.push_back({m, c, 0});
    m->dirty = false;  // a change from now on marks it again
  }
  bool projectOk = !projectSaveHook || projectSaveHook();
  lastSaveMs = platformTicks();
  printf("%s de %zu map(s)...\n", manual ? "Sauvegarde" : "Sauvegarde automatique", copying.size());
  manualPending = manual;
  if (!projectOk || copyFailures) {
    char why[PANEL_MESSAGE_LEN];
    if (projectOk)
      snprintf(why, sizeof why, "Save failed: not enough memory to copy the maps.");
    else
      snprintf(why, sizeof why, "Save failed: %s cannot be written (disk full or read-only?)", PROJECT_FILE);
    showResult(why, PANEL_ERROR);
    manualPending = false;
  }
  if (copying.empty() && manualPending) report(0, 0, "");
}

// One frame's slice of the copies; the finished copies go to the writer.
void copyStep() {
  size_t budget = kCopyCellsPerFrame;
  while (!copying.empty() && budget) {
    Copy& c = copying.back();
    size_t before = c.cursor;
    int r = stillOpen(c.from) ? snapshotContinue(c.from, c.to, &c.cursor, budget) : -2;
    budget -= c.cursor - before < budget ? c.cursor - before : budget;
    if (r == 0) continue;
    if (r == 1) {
      copied.push_back(c.to);
    } else {
      // Closed meanwhile (its close saved it), or its layers changed: copied afresh next time.
      if (r == -1) c.from->dirty = true;
      snapshotFree(c.to);
    }
    copying.pop_back();
  }
  if (!copying.empty()) return;
  if (!copied.empty()) backgroundSaveStart(copied.data(), (int)copied.size());
  else if (manualPending) report(0, 0, "");
  copied.clear();
}
}  // namespace

void saveAllCommand() { saveAll(true); }

void savingStep() {
  uint32_t now = platformTicks();
  if (!lastSaveMs) lastSaveMs = now ? now : 1;
  if (leftClic || rightClic || middleClic) lastBusyMs = now;
  if (!copying.empty()) return copyStep();
  int saved = 0, failedCount = 0;
  char failed[PANEL_MESSAGE_LEN - 16];
  if (backgroundSaveCollect(&saved, failed, sizeof failed, &failedCount)) {
    report(saved, failedCount, failed);
    if (manualAgain) {
      manualAgain = false;
      saveAll(true);
    }
    return;
  }
  if (autosaveMinutes <= 0 || backgroundSaveBusy() || now - lastBusyMs < kQuietMs) return;
  if ((double)(now - lastSaveMs) < autosaveMinutes * kMinuteMs || !anyChanged()) return;
  saveAll(false);
}
