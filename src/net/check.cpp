// The quiet-second check: once no edit was sent or received for a second,
// each editor sends the digests of its open maps; a copy that differs is
// asked for from the reference (sync.h).
#include <sys/stat.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "core/core.h"
#include "model/sidecar.h"
#include "net/handlers.h"
#include "net/netio.h"
#include "net/syncstate.h"
#include "net/wire.h"
#include "core/files.h"

namespace {
// A closed map's digest from its file, read again only when the file changed.
bool closedMapDigest(const char* name, MapDigest* d) {
  char path[FILE_PATH_LEN];
  struct stat st;
  if (!mapFileExists(name) || !filePath(path, sizeof path, "maps", name, "map") || stat(path, &st) != 0)
    return false;
  long long mtime = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  FileDigest& f = syncState.fileDigests[name];
  if (f.mtimeNs == mtime && f.size == (long long)st.st_size) {
    *d = f.d;
    return true;
  }
  if (!projectMapDigest(name, d)) {
    syncState.fileDigests.erase(name);
    return false;
  }
  f.mtimeNs = mtime;
  f.size = (long long)st.st_size;
  f.d = *d;
  return true;
}
}  // namespace

bool currentMapDigest(const char* name, MapDigest* d) {
  return getMap(name) < project.nbreMaps ? projectMapDigest(name, d) : closedMapDigest(name, d);
}

namespace {
void sendCheck(int slot, const char* name) {
  MapDigest d;
  if (!peerMapDigest(slot, name, &d)) return;
  char hex[DIGEST_HEX + 1], body[SMALL_BODY];
  digestHex(d, hex);
  snprintf(body, sizeof body, "%" PRIu64 " %s %s", siteId(), hex, name);
  actionSendToPeer(slot, "SYNCCHECK", body);
}
}  // namespace

// A peer's digest after its quiet second. The higher site asks the lower
// one for its copy; the lower one answers with its own check, so the
// higher one asks even when it was busy at the first check.
void onSyncCheck(const char*, const char* corps, int slot) {
  PeerSync& st = peers[slot].sync;
  unsigned long long theirSite = 0;
  char hex[DIGEST_HEX + 2], name[NAME_WORD];
  MapDigest theirs, mine;
  if (sscanf(corps, "%llu %33s %255s", &theirSite, hex, name) != 3 || !parseDigestHex(hex, &theirs) ||
      !validName(name))
    return;
  if (coreMillis() - syncState.lastActivity < QUIET_MS || waiting()) return;  // my own check follows
  // Checks name open maps only. Open on both sides, the lower site's copy
  // is the reference; open there and closed here, theirs is the live one
  // (nobody edits a map closed here); missing here, it is asked for.
  bool open = getMap(name) < project.nbreMaps;
  bool have = open ? projectMapDigest(name, &mine) : closedMapDigest(name, &mine);
  if (have && peerHas(slot, EXT_NAMES)) sidecarFold(name, &mine);
  if (have && mine == theirs) return;
  // A viewer's copy is never taken: it is answered, and asks for ours.
  if (peerIsViewer(slot)) {
    if (have) sendCheck(slot, name);
    return;
  }
  if (have && open && siteId() < theirSite && !viewingPeer(slot)) return sendCheck(slot, name);
  printf("Synchro: map %s differente de celle de %s: reparation depuis sa copie.\n", name,
         nameOf(slot).c_str());
  st.repairing = name;
  actionSendToPeer(slot, "SYNCWANT", name);
}
void onSyncWant(const char*, const char* corps, int slot) {
  PeerSync& st = peers[slot].sync;
  char name[NAME_WORD];
  if (sscanf(corps, "%255s", name) != 1 || !validName(name)) return;
  if (getMap(name) >= project.nbreMaps && !mapFileExists(name)) return;
  if (std::find(st.toSend.begin(), st.toSend.end(), name) == st.toSend.end()) st.toSend.push_back(name);
}

void quietCheck(const bool sync[], int n) {
  if (!n || syncState.checked || coreMillis() - syncState.lastActivity < QUIET_MS || busy()) return;
  syncState.checked = true;
  syncState.stamps.clear();  // every write of the last second has arrived: nothing left to order
  std::vector<std::string> open;
  for (int k = 0; k < project.nbreMaps; k++)
    if (project.listeMaps[k] && project.listeMaps[k]->filename) open.push_back(project.listeMaps[k]->filename);
  for (int i = 0; i < MAX_PEERS; i++)
    if (sync[i])
      for (const std::string& name : open) sendCheck(i, name.c_str());
}
