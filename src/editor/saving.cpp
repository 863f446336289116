// Saving while editing: Ctrl+S and autosave. The open maps that changed are
// copied on the main thread (a memory copy) and written by the model's
// background writer, so a big map never stalls the frame.
#include <stdio.h>

#include <vector>

#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "platform/platform.h"
#include "shell/shell.h"

bool (*projectSaveHook)() = nullptr;

namespace {
const uint32_t kQuietMs = 1000;  // autosave waits for this long without a held button
const uint32_t kMinuteMs = 60000;

uint32_t lastSaveMs = 0;   // last save started (0: not yet, set at the first turn)
uint32_t lastBusyMs = 0;   // last turn with a mouse button held
bool manualPending = false;
char failedProject[] = "PROJECT.MSK";

void showResult(const char* text) {
  setPanelMessage(project.currentMenu, text);
  setMenu(project.currentMenu);
}

bool anyChanged() {
  for (int i = 0; i < project.nbreMaps; i++)
    if (project.listeMaps[i] && project.listeMaps[i]->dirty) return true;
  return false;
}

// The result of a batch that ended, on the panel; false when none ended.
bool showBatchResult() {
  int saved = 0, failedCount = 0;
  char failed[PANEL_MESSAGE_LEN - 16];
  if (!backgroundSaveCollect(&saved, failed, sizeof failed, &failedCount)) return false;
  char text[PANEL_MESSAGE_LEN];
  if (failedCount)
    snprintf(text, sizeof text, "Save failed: %s", failed);
  else
    snprintf(text, sizeof text, "Saved %d map%s", saved, saved == 1 ? "" : "s");
  printf("%s\n", text);
  if (failedCount || manualPending) showResult(text);
  manualPending = false;
  return true;
}

// Copies every changed map and hands the copies to the writer.
void saveAll(bool manual) {
  backgroundSaveWait();
  showBatchResult();  // the batch that just ended is reported first
  std::vector<Map*> copies;
  bool copyFailed = false;
  for (int i = 0; i < project.nbreMaps; i++) {
    Map* m = project.listeMaps[i];
    if (!m || !m->dirty) continue;
    Map* c = snapshotMap(m);
    if (c) {
      copies.push_back(c);
      m->dirty = false;  // marked again if the write fails
    } else {
      copyFailed = true;
    }
  }
  bool projectOk = !projectSaveHook || projectSaveHook();
  lastSaveMs = platformTicks();
  printf("%s de %zu map(s)...\n", manual ? "Sauvegarde" : "Sauvegarde automatique", copies.size());
  manualPending = manual;
  if (!projectOk || copyFailed) {
    char text[PANEL_MESSAGE_LEN];
    snprintf(text, sizeof text, "Save failed: %s", !projectOk ? failedProject : "memoire insuffisante");
    showResult(text);
    manualPending = false;  // the failure is what the panel keeps
  }
  if (copies.empty()) {
    if (manual && projectOk && !copyFailed) showResult("Saved 0 maps");
    return;
  }
  backgroundSaveStart(copies.data(), (int)copies.size());
}
}  // namespace

void saveAllCommand() { saveAll(true); }

void savingStep() {
  uint32_t now = platformTicks();
  if (!lastSaveMs) lastSaveMs = now ? now : 1;
  if (leftClic || rightClic || middleClic) lastBusyMs = now;
  if (showBatchResult()) return;
  if (autosaveMinutes <= 0 || backgroundSaveBusy() || now - lastBusyMs < kQuietMs) return;
  if ((double)(now - lastSaveMs) < autosaveMinutes * kMinuteMs || !anyChanged()) return;
  saveAll(false);
}
