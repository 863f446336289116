// The interpreter of received actions. Runs on the main thread (netPump):
// every value from the wire is checked before it reaches the model.
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/model.h"
#include "net/handlers.h"
#include "net/members.h"
#include "net/wire.h"
#include "net/netio.h"
#include "net/presence.h"
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

}  // namespace

int openMapNamed(const char* header, const char* name) {
  int m = getMap(name);
  if (openMapAt(m)) return m;
  if (validName(name) && mapFileExists(name)) {
    m = openMapInFreeSlot(name);
    if (m >= 0) {
      printf("Map %s ouverte pour l'action %s.\n", name, header);
      return m;
    }
  }
  printf("Action %s ignoree: map %s non ouverte.\n", header, name);
  return -1;
}

namespace {

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

}  // namespace

void onSilentOpen(const char*, const char* corps, int i) {
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

void onNewMap(const char*, const char* corps, int) {
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

void onRename(const char*, const char* corps, int) {
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
// A cell write's values, checked; false (logged) when they cannot name a cell.
bool readCells(const char* header, const char* corps, WireCells* c) {
  if (!wireReadCells(header, corps, c)) {
    ignored(header, "corps mal forme");
    return false;
  }
  if (!fitsInt(c->layer) || c->x1 < 0 || c->y1 < 0 || c->x2 < 0 || c->y2 < 0 || !fitsInt(c->element)) {
    ignored(header, "valeurs hors limites");
    return false;
  }
  return true;
}
}  // namespace

void onPartThis(const char* header, const char* corps, int i) {
  WireCells c;
  if (!readCells(header, corps, &c)) return;
  int m = openMapNamed(header, c.map);
  // A write older than the cell's last one, by the sync stamps, loses.
  if (m >= 0 && !syncCellWrite(i, c))
    setElementAbsolute(m, (int)c.layer, (unsigned long)c.x1, (unsigned long)c.y1, (int)c.element);
  if (m >= 0) presenceCellsWritten(i, c);
}

void onDrawSquare(const char* header, const char* corps, int i) {
  WireCells c;
  if (!readCells(header, corps, &c)) return;
  if (openMapNamed(header, c.map) < 0) return;
  if (!syncCellWrite(i, c))
    setElementSquare(c.map, (int)c.layer, (unsigned long)c.x1, (unsigned long)c.y1, (unsigned long)c.x2,
                     (unsigned long)c.y2, (int)c.element);
  presenceCellsWritten(i, c);
}

// "CELLS": a block of cells of any values; a stamp before it orders it
// like any cell write.
void onCells(const char* header, const char* corps, int i) {
  WireBlock b;
  if (!wireReadBlock(corps, &b)) return ignored(header, "corps mal forme");
  if (!fitsInt(b.layer)) return ignored(header, "valeurs hors limites");
  int m = openMapNamed(header, b.map);
  if (m >= 0 && !syncBlockWrite(i, b))
    setElementBlock(openMapAt(m), (int)b.layer, (uint32_t)b.x, (uint32_t)b.y, (uint32_t)b.w, (uint32_t)b.h,
                    b.cells.data());
}

void onAddLayer(const char* header, const char* corps, int) {
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

void onDeleteLayer(const char* header, const char* corps, int) {
  long slot, layer;
  if (sscanf(corps, "%ld %ld", &slot, &layer) != 2) return ignored(header, "corps mal forme");
  // The index names the receiver's own slot, whatever map is there.
  Map* m = openMapAt(slot);
  if (!m) return ignored(header, "emplacement de map vide");
  deleteLayer(m, layer);
}

// "LAYERDEL filename layer": the map named, whatever slot it has here.
void onLayerDelete(const char* header, const char* corps, int) {
  Words w(1);
  long layer;
  if (sscanf(corps, "%s %ld", w[0], &layer) != 2) return ignored(header, "corps mal forme");
  int m = openMapNamed(header, w[0]);
  if (m >= 0) deleteLayer(openMapAt(m), layer);
}

// "LAYERMOVE filename from to".
void onLayerMove(const char* header, const char* corps, int) {
  Words w(1);
  int from, to;
  if (sscanf(corps, "%s %d %d", w[0], &from, &to) != 3) return ignored(header, "corps mal forme");
  int m = openMapNamed(header, w[0]);
  if (m < 0 || !moveLayer(openMapAt(m), from, to)) return;
  // The layer chosen here stays the one chosen.
  if (m == project.currentMap) {
    int& c = project.currentLayer;
    if (c == from) c = to;
    else if (from < c && c <= to) c--;
    else if (to <= c && c < from) c++;
  }
  printf("Map %s: layer %d deplace en %d.\n", w[0], from, to);
}

void onPassConditions(const char*, const char*, int) {
  // The file was received and written with the action.
}

void onBackground(const char* header, const char* corps, int) {
  Words w(1);
  int d[4] = {0};
  if (sscanf(corps, "%s %d %d %d %d", w[0], &d[0], &d[1], &d[2], &d[3]) != 5)
    return ignored(header, "corps mal forme");
  if (openMapNamed(header, w[0]) >= 0) setLayerBGXY(w[0], d[0], (char)d[1], d[2], d[3]);
}

void onExtensions(const char*, const char* corps, int i) {
  unsigned bits = parseExtensions(corps);
  {
    std::lock_guard<std::mutex> g(peersLock);
    peers[i].extensions = bits;
  }
  // A peer that compares copies is told which map this editor shows, so it
  // opens that map for us and applies our edits to it (base peers take the
  // map shown at their end, as they always did).
  Map* shown = currentMapOrNull();
  if ((bits & EXT_SYNC) && shown && shown->filename) actionSendToPeer(i, "SILENTOPEN", shown->filename);
  syncPeerAnnounced(i);
  membersPeerAnnounced(i);
  presencePeerAnnounced(i);
  rolesPeerAnnounced(i);
}

void onMembers(const char*, const char* corps, int i) { membersReceived(i, corps); }

void readActions(const char* header, const char* corps, int i) {
  const WireWord* w = wireWord(header);
  bool quiet = w && w->quiet;  // no line per action, and no edit for the sync
  if (!quiet) printf("Action reseau: %s,%.*s!\n", header, LOGGED_BODY_MAX, corps);
  if (i < 0 || i >= MAX_PEERS) return ignored(header, "tunnel invalide");
  if (!quiet) syncSawAction(i, header);
  // An unknown word, or one of an extension the peer did not announce,
  // has no effect beyond the log line.
  if (!w || !w->apply || (w->ext && !peerHas(i, w->ext))) return;
  // A viewer's edit is dropped, whatever its editor let through.
  if (w->edits && peerIsViewer(i)) return ignored(header, "envoyee par un lecteur (lecture seule)");
  w->apply(header, corps, i);
}
