// The shell's own state and the hooks it sets for the layers below it.
#include <string.h>

#include "editor/editor.h"
#include "shell/shell.h"
#include "toolkit/widgets.h"

std::atomic<bool> synchronisation{true};

void shellInstallHooks() {
  toolkitHooks.pump = boucleModal;
  toolkitHooks.idleRedraw = drawWindow;
  toolkitHooks.quit = stopNow;
}

void shellReset() {
  coreReset();
  platformInputReset();
  synchronisation = true;
}
