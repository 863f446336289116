// Undo and redo of this user's own steps, per map, selective: a cell that
// another editor changed after a step is left as that editor made it. Undo
// and redo reach the peers as ordinary actions (cells, rectangles, layer,
// background and rename actions).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "model/model.h"

struct Map;
struct Layer;

enum {
  HISTORY_MAX_BYTES = 64 << 20,  // all maps together; the oldest steps go first
  HISTORY_MAX_STEPS = 10000,     // per map
  HISTORY_LABEL_LEN = 48,
};


// Sets the model hooks that tell this history about cell writes and closed maps.
void historyInstall();

// Cell steps: the cells local edits write between open and close are one step
// of the current map (a pen stroke from press to release, one rectangle).
void historyOpen(const char* label);
void historyClose();
// Marks the edits of its scope as this user's own.
struct LocalEdit {
  LocalEdit();
  ~LocalEdit();
  LocalEdit(const LocalEdit&) = delete;
  LocalEdit& operator=(const LocalEdit&) = delete;
};

// Steps the layer and map commands record (m: the current map).
void historyCells(Map* m, int layer, std::vector<CellRun> runs, const char* label);
// Records in the open step, inside a LocalEdit scope, the cells the runs
// (values in `after`) are about to write (writes that call no model hook).
void historyCapture(Map* m, int layer, const std::vector<CellRun>& runs);
void historyLayerAdded(Map* m, const Layer* l);
void historyLayerDeleting(Map* m, int layer);  // before the layer goes
void historyLayerMoved(Map* m, int from, int to);  // after the move, through action_moveLayer
void historyBackground(Map* m, const Layer* l, char oldBg, int oldX, int oldY);  // after the change
void historyRename(Map* m, const char* oldName, const char* newName);
// After layer l was named (its old name as layerName gave it).
void historyLayerNamed(Map* m, const Layer* l, const char* oldName);
// Resizes the current map m to w x h here and on the peers
// (action_resizeMap), one step that keeps the cells it cuts off; false with
// the reason when it was refused.
bool historyResize(Map* m, unsigned long w, unsigned long h, char* why, size_t cap);

// Undo / redo the current map's last step; false when there is none.
// An entity change (editor/entitypanel.cpp): the instance before and after
// as JSON text ("" : absent); undo and redo call entityStepHook(m, from, to).
void historyEntity(Map* m, const char* label, std::string before, std::string after);
extern bool (*entityStepHook)(Map* m, const std::string& from, const std::string& to);
bool historyUndo();
bool historyRedo();
// What Ctrl+Z would undo on the current map; "" when nothing.
const char* historyUndoLabel();
// A map replaced by a sync from a peer: its history no longer applies.
void historyForget(const char* filename);

size_t historyBytes();
size_t historySteps(const char* filename, bool redo = false);
