// The interpreter of received actions. Runs on the main thread (netPump):
// every value from the wire is checked before it reaches the model.
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/model.h"
#include "net/netio.h"
#include "net/sync.h"
#include "core/files.h"

namespace {
// Room for any word of a received body.
struct Words {
  std::vector<char> buf;
  explicit Words(int n) : buf((size_t)n * (RECV_BUFFER + 1), 0) {}
  char* operator[](int k) { return buf.data() + (size_t)k * (RECV_BUFFER + 1); }
};

void ignored(const char* header, const char* why) {
  printf("Action %s ignoree: %s.\n", header, why);
}

bool fitsInt(long v) { return v >= INT_MIN && v <= INT_MAX; }

// The open map of that name, its slot in listeMaps, or -1 (logged).
int openMapNamed(const char* header, const char* name) {
  int m = getMap(name);
  if (openMapAt(m)) return m;
  printf("Action %s ignoree: map %s non ouverte.\n", header, name);
  return -1;
}

bool roomForLayer(const Map* m) {
  return ((unsigned long long)m->layers + 1) * m->w * m->h <= (unsigned long long)PEER_MAP_CELLS;
}

std::string peerNameOf(int i) {
  char name[NAME_BLOCK] = "";
  peerName(i, name, sizeof name);
  return name;
}

// Saves and closes an open map by name (the name is copied: closing frees it).
void closeByName(const char* filename) {
  std::string name = filename;
  int k = getMap(name.c_str());
  if (openMapAt(k) && !closeMapi(k, name.c_str()))
    printf("Map %s: enregistrement impossible, elle reste ouverte.\n", name.c_str());
}

// Another peer than i has a map of that name open here; j, or MAX_PEERS.
int otherUser(int i, const char* filename) {
  int j = 0;
  for (; j < MAX_PEERS; j++)
    if (j != i && usedMap[j] && usedMap[j]->filename && strcmp(usedMap[j]->filename, filename) == 0)
      break;
  return j;
}

void silentOpen(const char*, const char* corps, int i) {
  Words w(1);
  if (sscanf(corps, "%s", w[0]) != 1) return ignored("SILENTOPEN", "corps vide");
  const char* name = w[0];
  printf("Ouverture d'une map %s en reseau pour le client %s!\n", name, peerNameOf(i).c_str());
  if (!validName(name)) return;
  pMap old = usedMap[i];
  if (old && old->filename && strcmp(old->filename, name) != 0 &&
      otherUser(i, old->filename) == MAX_PEERS && strcmp(old->filename, project.workingMap) != 0) {
    printf("Fermeture de la map inutilisee %s.\n", old->filename);
    closeByName(old->filename);
  }
  if (Map* open = openMapAt(getMap(name))) {
    printf("Mise à jour du pointeur.\n");
    usedMap[i] = open;
    return;
  }
  usedMap[i] = nullptr;
  // A missing file: logged as such, nothing opened.
  if (!mapFileExists(name)) {
    printf("Map %s introuvable ici: le client %s n'a pas de map ouverte.\n", name,
           peerNameOf(i).c_str());
    return;
  }
  printf("Ouverture d'une nouvelle map %s!\n", name);
  int slot = openMapInFreeSlot(name);
  if (slot < 0) {
    printf("Map %s impossible a ouvrir pour le client %s.\n", name, peerNameOf(i).c_str());
    return;
  }
  usedMap[i] = openMapAt(slot);
  printf("%d->%s!\n", i, name);
}

void newMapAction(const char*, const char* corps, int) {
  Words w(1);
  long width = 0, height = 0;
  if (sscanf(corps, "%s %ld %ld", w[0], &width, &height) != 3) return ignored("NEWMAP", "corps mal forme");
  if (!validName(w[0])) return;
  if (width <= 0 || height <= 0) return ignored("NEWMAP", "taille invalide");
  // The file holds width x height cells of 4 bytes.
  if ((unsigned long long)width * (unsigned long long)height <= (unsigned long long)MAX_LAYER_CELLS &&
      !diskRoom((long long)width * height * 4))
    return ignored("NEWMAP", "disque plein");
  // Never overwrite a map this editor has.
  if (mapFileExists(w[0]) || getMap(w[0]) < project.nbreMaps) {
    printf("Map %s deja presente: NEWMAP ignore.\n", w[0]);
    return;
  }
  if (newMapFile(w[0], (unsigned long)width, (unsigned long)height))
    printf("Fin de la creation de map.\n");
}

void renameAction(const char*, const char* corps, int) {
  Words w(1);
  if (sscanf(corps, "%s", w[0]) != 1) return ignored("SENDMAPSYSNAME", "corps vide");
  // The display name is everything after the filename and one separator.
  const char* start = strstr(corps, w[0]);
  const char* rest = start + strlen(w[0]);
  if (*rest) rest++;
  if (openMapNamed("SENDMAPSYSNAME", w[0]) < 0) return;
  changeMapSysname(w[0], rest);
  printf("Map %s renommee en %s.\n", w[0], rest);
}
}  // namespace

void releasePeerMap(int i) {
  pMap m = usedMap[i];
  const char* fn = m && m->filename ? m->filename : "";
  int j = m ? otherUser(i, fn) : MAX_PEERS;
  printf("working map: %s,i:%s,j=%d.\n", project.workingMap, fn, j);
  if (m && j == MAX_PEERS && strcmp(fn, project.workingMap) != 0) closeByName(fn);
  usedMap[i] = nullptr;
}

namespace {
// The handlers of the action words: each checks its body and applies it.
void partThis(const char* header, const char* corps, int i) {
  Words w(1);
  long v[4] = {0};
  if (sscanf(corps, "%s %ld %ld %ld %ld", w[0], &v[0], &v[1], &v[2], &v[3]) != 5)
    return ignored(header, "corps mal forme");
  if (!fitsInt(v[0]) || v[1] < 0 || v[2] < 0 || !fitsInt(v[3]))
    return ignored(header, "valeurs hors limites");
  int m = openMapNamed(header, w[0]);
  // A write older than the cell's last one, by the sync stamps, loses.
  if (m >= 0 && !syncCellWrite(i, w[0], (int)v[0], v[1], v[2], v[1], v[2], (int)v[3], false))
    setElementAbsolute(m, (int)v[0], (unsigned long)v[1], (unsigned long)v[2], (int)v[3]);
}

void addLayerAction(const char* header, const char* corps, int) {
  Words w(2);
  int bg = 0;
  if (sscanf(corps, "%s %s %d", w[0], w[1], &bg) != 3) return ignored(header, "corps mal forme");
  int m = openMapNamed(header, w[0]);
  if (m < 0) return;
  // A tileset that did not arrive would take a library slot for nothing.
  if (!tilesetPresent(w[1])) return ignored(header, "tileset absent");
  if (!roomForLayer(openMapAt(m))) return ignored(header, "trop de cellules dans la map");
  addLayer(openMapAt(m), w[1], bg != 0);
}

void deleteLayerAction(const char* header, const char* corps, int) {
  long slot, layer;
  if (sscanf(corps, "%ld %ld", &slot, &layer) != 2) return ignored(header, "corps mal forme");
  // The index names the receiver's own slot, whatever map is there.
  Map* m = openMapAt(slot);
  if (!m) return ignored(header, "emplacement de map vide");
  deleteLayer(m, layer);
}

void passConditionsAction(const char*, const char*, int) {
  // The file was received and written with the action.
}

void backgroundAction(const char* header, const char* corps, int) {
  Words w(1);
  int d[4] = {0};
  if (sscanf(corps, "%s %d %d %d %d", w[0], &d[0], &d[1], &d[2], &d[3]) != 5)
    return ignored(header, "corps mal forme");
  if (openMapNamed(header, w[0]) >= 0) setLayerBGXY(w[0], d[0], (char)d[1], d[2], d[3]);
}

void drawSquare(const char* header, const char* corps, int i) {
  Words w(1);
  long v[6] = {0};
  if (sscanf(corps, "%s %ld %ld %ld %ld %ld %ld", w[0], &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 7)
    return ignored(header, "corps mal forme");
  if (!fitsInt(v[0]) || v[1] < 0 || v[2] < 0 || v[3] < 0 || v[4] < 0 || !fitsInt(v[5]))
    return ignored(header, "valeurs hors limites");
  if (openMapNamed(header, w[0]) >= 0 &&
      !syncCellWrite(i, w[0], (int)v[0], v[1], v[2], v[3], v[4], (int)v[5], true))
    setElementSquare(w[0], (int)v[0], (unsigned long)v[1], (unsigned long)v[2], (unsigned long)v[3],
                     (unsigned long)v[4], (int)v[5]);
}

void extensionsAction(const char*, const char* corps, int i) {
  unsigned bits = parseExtensions(corps);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].extensions = bits;
  }
  syncPeerAnnounced(i);
}

struct ActionWord {
  const char* header;
  void (*apply)(const char* header, const char* corps, int peer);
};
const ActionWord kActionWords[] = {
    {"PARTTHIS!", partThis},
    {"ADDLAYER", addLayerAction},
    {"DELETELAYER", deleteLayerAction},
    {"SENDPC", passConditionsAction},
    {"SETLAYERBGXY", backgroundAction},
    {"SILENTOPEN", silentOpen},
    {"NEWMAP", newMapAction},
    {"DRAWSQUARE", drawSquare},
    {"SENDMAPSYSNAME", renameAction},
    {"EXTENSIONS", extensionsAction},
};
}  // namespace

void readActions(const char* header, const char* corps, int i) {
  printf("Action reseau: %s,%.*s!\n", header, LOGGED_BODY_MAX, corps);
  if (i >= 0 && i < MAX_PEERS && syncAction(header, corps, i)) return;
  if (i < 0 || i >= MAX_PEERS) return ignored(header, "tunnel invalide");
  for (const ActionWord& a : kActionWords)
    if (strcmp(header, a.header) == 0) return a.apply(header, corps, i);
}
