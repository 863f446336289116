// The switch of the current map, which keeps the maps the peers use loaded.
#include <stdio.h>
#include <string.h>

#include "editor/brush.h"
#include "editor/editor.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"
#include "core/core.h"
#include "core/files.h"

char e_openmap[PATH_LEN] = "";

namespace {
// The log's reason, and the user's sentence on the panel.
void refuse(const char* why, const char* user) {
  printf("Map %s non ouverte: %s. La map actuelle %s reste ouverte.\n", e_openmap, why,
         project.workingMap);
  char text[PANEL_MESSAGE_LEN];
  snprintf(text, sizeof text, "Map %.40s not opened: %s", e_openmap, user);
  setPanelMessage("main", text);
  setMenu("main");
}
}  // namespace

void g_openmap() {
  if (strcmp(e_openmap, project.workingMap) == 0) {
    setMenu("main");
    return;
  }
  if (!validName(e_openmap)) {
    refuse("nom invalide", nameRefusal(e_openmap));
    return;
  }
  // A map already loaded here (a peer uses it, or used it) is reused: a
  // second copy read from its file would lose the edits made since.
  int loaded = getMap(e_openmap);
  bool isLoaded = loaded < project.nbreMaps;
  // Checked before the switch is announced to the peers.
  if (!isLoaded && !mapFileExists(e_openmap)) {
    refuse("fichier illisible", "its file cannot be read.");
    return;
  }
  bool leftInUse = mapUsedByPeers(project.workingMap);
  // The map left behind is closed after the switch: it must reach its file
  // first, or the switch does not happen and the map stays the current one.
  if (!leftInUse && currentMapOrNull() && currentMapOrNull()->dirty && !saveMap(project.currentMap)) {
    refuse("la map actuelle ne peut pas etre enregistree",
           "the current map cannot be saved first (disk full or read-only?).");
    return;
  }
  action_silentopen(e_openmap);
  printf("openmap!\n");
  printf(leftInUse ? "Map actuelle %s utilisee en reseau\n" : "Map actuelle %s inutilisee en reseau\n",
         project.workingMap);
  int index;
  ModelError why = MODEL_OK;
  if (mapUsedByPeers(e_openmap) && isLoaded) {
    printf("Map a ouvrir %s utilisee en reseau\n", e_openmap);
    index = loaded;
  } else {
    printf("Map a ouvrir %s inutilisee en reseau\n", e_openmap);
    index = isLoaded ? loaded : openMapInFreeSlot(e_openmap, &why);
  }
  if (index < 0) {
    // The peers were told about the switch: point them back at this map.
    action_silentopen(project.workingMap);
    refuse(why == MODEL_LIBRARY_FULL     ? "librairie de tilesets pleine"
           : why == MODEL_MAP_UNREADABLE ? "fichier illisible"
                                         : "fichier MAP incorrect",
           why == MODEL_LIBRARY_FULL     ? "the tileset library is full."
           : why == MODEL_MAP_UNREADABLE ? "its file cannot be read."
                                         : "its file is damaged or not a map.");
    return;
  }
  int leftIndex = project.currentMap;
  char leftName[NAME_LEN];
  snprintf(leftName, sizeof leftName, "%s", project.workingMap);
  project.currentMap = index;
  snprintf(project.workingMap, sizeof project.workingMap, "%s", e_openmap);
  project.currentLayer = 0;
  project.currentElement = 0;
  project.elementIndex = 0;
  // The selection was cells of the map left, a palette stamp tiles of its
  // palette; a pasted copy stays, for a layer of the same tileset here.
  brushState.hasSelection = brushState.selecting = false;
  if (!brushState.stamp.copied) brushState.stamp = Stamp();
  printf("Map %s ouverte avec succes.\n", e_openmap);
  pMap left = openMapAt(leftIndex);
  if (!leftInUse) {
    if (left && left->filename && strcmp(left->filename, leftName) == 0 && leftIndex != index)
      closeMapi(leftIndex, leftName);
  } else {
    printf("Map %s utilisee en reseau (%d).\n", e_openmap, index);
  }
  setMenu("main");
}
