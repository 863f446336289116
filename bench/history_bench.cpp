// Memory of the undo history: 1000 pen strokes of 64 cells each, recorded
// the way the editor records them, against the bare cell data (index,
// before, after: 12 bytes a cell).
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "editor/history.h"
#include "benchutil.h"
#include "model/model.h"
#include "net/net.h"
#include "shell/shell.h"

namespace {
const int STEPS = 1000, CELLS = 64, SIDE = 512;

}  // namespace

int main() {
  benchProject();
  net = false;
  historyInstall();
  int saved = benchLogAway();
  newMap(SIDE, SIDE);  // one layer
  project.currentMap = 0;
  long before = benchResidentKiB();
  for (int s = 0; s < STEPS; s++) {
    historyOpen("pen stroke");
    LocalEdit local;
    for (int c = 0; c < CELLS; c++)
      // Tiles 1 to 3, in every tileset; a row painted again gets another.
      action_SetElementAbsolute(project.listeMaps[0]->filename, 0, (s * 7 + c) % SIDE, s % SIDE, 1 + s % 3);
    historyClose();
  }
  long after = benchResidentKiB();
  benchLogBack(saved);
  double counted = historyBytes() / 1048576.0, bare = STEPS * CELLS * 12 / 1048576.0;
  printf("history of %d strokes of %d cells: %.2f MiB counted (%zu steps kept), resident growth %.2f MiB,"
         " bare cell data %.2f MiB\n",
         STEPS, CELLS, counted, historySteps(project.listeMaps[0]->filename), (after - before) / 1024.0,
         bare);
  printf("bound %d MiB for at least %d steps: %s\n", HISTORY_MAX_BYTES >> 20, STEPS,
         counted <= (HISTORY_MAX_BYTES >> 20) && historySteps(project.listeMaps[0]->filename) >= (size_t)STEPS
             ? "met"
             : "MISSED");
  return 0;
}
