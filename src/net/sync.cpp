// The join sync: both lists of digests, then the maps that differ or are
// missing, each as its tilesets and a zlib stream in text bodies (sync.h).
// Index:
//   [SECTION] state
//   [SECTION] the list of maps
//   [SECTION] copies sent
//   [SECTION] copies received
//   [SECTION] ticks and status
//   [SECTION] base64
//   [SECTION] tests
#include "net/sync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <deque>
#include <map>
#include <new>

#include "core/core.h"
#include "core/files.h"
#include "model/digest.h"
#include "model/mapfile.h"
#include "net/handlers.h"
#include "net/netio.h"
#include "net/syncstate.h"
#include "net/wire.h"

// [SECTION] state
namespace {
const size_t LIST_BODY_MAX = 30000;      // a "SYNCLIST" body, within the receive limit
const size_t DATA_CHUNK = 24000;         // bytes per "SYNCDATA": 32000 base64 characters
// Map data held for copies on their way here. Per peer: the project's own
// map files plus INCOMING_MARGIN, so a 2048x2048 map of 8 layers (128 MiB of
// cells) still reaches an empty project; for all peers at once,
// INCOMING_TOTAL_MAX. An announcement past either is refused at its header.
const size_t INCOMING_MARGIN = (size_t)160 << 20;
const size_t INCOMING_TOTAL_MAX = (size_t)256 << 20;
const uint32_t INCOMING_IDLE_MS = 30000;  // a copy with no data for this long (none queued) is abandoned
const size_t LIST_MAX = 10000;           // maps a peer may announce
const int SEND_ROOM = SEND_QUEUE_MAX / 2;  // a map goes out while its peer's queue is below this
const size_t INFLATE_STEP = 1 << 16;
const uint32_t AWAIT_MS = 5000;            // a promised map that shows nothing for this long is not waited for
static_assert(LIST_BODY_MAX + 300 < RECV_BUFFER, "a list body fits the receive limit");
static_assert((DATA_CHUNK + 2) / 3 * 4 < RECV_BUFFER, "a data body fits the receive limit");
}  // namespace

void (*syncNoticeHook)(const char*) = nullptr;

SyncState syncState;

uint64_t siteId() {
  if (syncState.site) return syncState.site;
  int fd = open("/dev/urandom", O_RDONLY);
  if (fd >= 0) {
    if (read(fd, &syncState.site, sizeof syncState.site) != (ssize_t)sizeof syncState.site) syncState.site = 0;
    close(fd);
  }
  if (!syncState.site) syncState.site = (uint64_t)time(nullptr) * 2654435761u ^ (uint64_t)getpid() << 32;
  syncState.site &= 0x7FFFFFFFFFFFFFFFull;  // printed and read as a signed-safe number
  if (!syncState.site) syncState.site = 1;
  return syncState.site;
}
void activity() {
  syncState.lastActivity = coreMillis();
  syncState.checked = false;
}
std::string nameOf(int slot) {
  char n[NAME_BLOCK] = "";
  peerName(slot, n, sizeof n);
  return n;
}
bool syncPeer(int slot) { return peerHas(slot, EXT_SYNC); }
int syncPeers() {
  int n = 0;
  for (int i = 0; i < MAX_PEERS; i++) n += syncPeer(i);
  return n;
}
// A copy may be on its way here.
bool waiting() {
  for (int i = 0; i < MAX_PEERS; i++)
    if (peers[i].sync.in.active || !peers[i].sync.repairing.empty() || peers[i].sync.listPending || peers[i].sync.awaiting > 0)
      return true;
  return false;
}
bool busy() {
  if (waiting()) return true;
  for (int i = 0; i < MAX_PEERS; i++)
    if (!peers[i].sync.toSend.empty()) return true;
  return false;
}
// Drops the copy on its way from a peer, and the repair it was to be.
void abortIncoming(PeerSync& st, const char* why) {
  Incoming& in = st.in;
  if (!in.active) return;
  printf("Synchro: reception de la map %s abandonnee (%s).\n", in.name.c_str(), why);
  if (st.repairing == in.name) st.repairing.clear();  // the next quiet second asks again
  inflateEnd(&in.z);
  in = Incoming();  // the buffer goes with it
}

// [SECTION] the list of maps
namespace {

// A copy from the peer on `slot` refused: the log line and the panel's.
void refuseCopy(int slot, const char* map, const char* why) {
  printf("Synchro: map %s de %s refusee: %s.\n", map, nameOf(slot).c_str(), why);
  char text[NOTICE_LEN];
  snprintf(text, sizeof text, "Map %.40s from %.40s refused: %s", map, nameOf(slot).c_str(), why);
  if (syncNoticeHook) syncNoticeHook(text);
}

// Announced sizes of the copies on their way from every peer.
size_t incomingReserved() {
  size_t n = 0;
  for (const Peer& p : peers)
    if (p.sync.in.active) n += p.sync.in.raw;
  return n;
}

bool joinedPeer(int slot) {
  std::lock_guard<std::mutex> g(peersLock);
  return peers[slot].joinedThere;
}

// "SYNCLIST last site joined clock (digest name)...": parts of
// LIST_BODY_MAX. The clock brings a joiner's up to ours, so its first
// writes do not lose to every write of ours still kept.
void sendList(int slot) {
  PeerSync& st = peers[slot].sync;
  std::vector<std::string> names = projectMapNames();
  char head[64];
  snprintf(head, sizeof head, " %" PRIu64 " %d %" PRIu64, siteId(), joinedPeer(slot) ? 1 : 0, syncState.lamport);
  std::string body = "";
  size_t sent = 0;
  for (size_t k = 0; k <= names.size(); k++) {
    bool last = k == names.size();
    std::string entry;
    MapDigest d;
    if (!last && peerMapDigest(slot, names[k].c_str(), &d)) {
      char hex[DIGEST_HEX + 1];
      digestHex(d, hex);
      entry = std::string(" ") + hex + " " + names[k];
      if (st.mergeTalk) entry += mergeListBase(st, names[k], peerHas(slot, EXT_NAMES));
      sent++;
    }
    if (last || body.size() + entry.size() > LIST_BODY_MAX) {
      std::string out = (last ? "1" : "0") + std::string(head) + body;
      actionSendToPeer(slot, "SYNCLIST", out.c_str());
      body.clear();
    }
    body += entry;
  }
  printf("Synchro: %zu maps annoncees a %s.\n", sent, nameOf(slot).c_str());
}

const MapDigest* theirDigest(const PeerSync& st, const std::string& name) {
  auto it = st.theirs.find(name);
  return it == st.theirs.end() ? nullptr : &it->second;
}

// Both lists are known: the reference sends what differs or what the joiner
// lacks; the joiner sends only what the reference lacks.
void decide(int slot, PeerSync& st) {
  bool joiner = joinedPeer(slot);
  // Two joins that crossed (or none): the lower site is the reference.
  if (joiner == st.theirJoined) joiner = siteId() > st.theirSite;
  // A viewer's copies are never taken: it follows ours, and we push none to an editor we view.
  bool viewer = peerIsViewer(slot), viewing = viewingPeer(slot);
  if (viewer || viewing) joiner = viewing;
  int give = 0, take = 0;
  std::vector<std::string> mine = projectMapNames();
  st.joiner = joiner;
  for (const std::string& n : mine) {
    MapDigest d;
    if (!peerMapDigest(slot, n.c_str(), &d)) continue;
    const MapDigest* t = theirDigest(st, n);
    bool send = false, receive = false;
    if (viewing) {
      receive = t && *t != d;  // an editor we view: its copies only, none of ours
    } else if (!viewer && t && *t != d && mergeDecide(st, n, d, *t, &send, &receive)) {
      if (send && receive)
        printf("Synchro: map %s changee des deux cotes depuis la base commune: fusion.\n", n.c_str());
    } else if (!t || (!joiner && *t != d)) {
      send = true;
    } else if (*t != d) {
      receive = true;
    }
    if (send) st.toSend.push_back(n);
    give += send;
    take += receive;
  }
  for (const auto& e : st.theirs)
    if (!viewer && !std::binary_search(mine.begin(), mine.end(), e.first)) take++;
  printf("Synchro avec %s (%s): %d maps a envoyer, %d a recevoir.\n", nameOf(slot).c_str(),
         joiner ? "reference" : "arrivant", give, take);
  st.theirs.clear();
  st.theirBases.clear();
  st.basesDue = st.mergeTalk;
  st.listPending = false;
  st.awaiting = take;
  st.lastData = coreMillis();
  activity();
}

}  // namespace

void onSyncList(const char*, const char* corps, int slot) {
  PeerSync& st = peers[slot].sync;
  if (!st.listPending) return;  // one list a join: a repeated one would cost every digest again
  const char* p = corps;
  bool last = *p == '1';
  if (*p != '0' && *p != '1') return;
  p++;
  unsigned long long theirSite = 0, clock = 0;
  int joined = 0, used = 0;
  if (sscanf(p, " %llu %d %llu%n", &theirSite, &joined, &clock, &used) != 3) return;
  p += used;
  if (clock > syncState.lamport && clock < syncState.lamport + CLOCK_JUMP_MAX) syncState.lamport = clock;
  st.theirSite = theirSite;
  st.theirJoined = joined != 0;
  char hex[DIGEST_HEX + 2], name[NAME_WORD];
  while (sscanf(p, " %33s %255s%n", hex, name, &used) == 2) {
    p += used;
    if (st.mergeTalk && !mergeReadListBase(&p, st, name)) break;
    MapDigest d;
    if (!parseDigestHex(hex, &d) || !validName(name) || st.theirs.size() >= LIST_MAX) continue;
    st.theirs[name] = d;
  }
  if (last) decide(slot, st);
}

// [SECTION] copies sent
namespace {

// The digest and tileset names of a map in the file layout; false when it
// does not parse.
bool describe(const std::vector<unsigned char>& bytes, MapDigest* d, std::vector<std::string>& tilesets) {
  Map m;
  MapRead r = readMapBytes(bytes.data(), bytes.size(), &m);
  if (r != MAP_READ_OK && r != MAP_READ_BAD_END) return false;
  *d = mapDigest(&m);
  for (int i = 0; i < m.layers; i++)
    if (m.layer[i]->layerGFX && std::find(tilesets.begin(), tilesets.end(), m.layer[i]->layerGFX) == tilesets.end())
      tilesets.push_back(m.layer[i]->layerGFX);
  freeMapRecord(&m);
  return true;
}

// The map as it is in memory now (its file when closed): its tilesets
// through the usual offer, then the zlib stream. Later edits queue after it.
void sendMap(int slot, const std::string& name) {
  std::vector<unsigned char> bytes;
  MapDigest d;
  std::vector<std::string> tilesets;
  if (!projectMapBytes(name.c_str(), bytes) || !describe(bytes, &d, tilesets)) {
    printf("Synchro: map %s illisible, non envoyee.\n", name.c_str());
    return;
  }
  uLongf compLen = compressBound((uLong)bytes.size());
  std::vector<unsigned char> comp;
  try {
    comp.resize(compLen);
  } catch (const std::bad_alloc&) {
    printf("Synchro: map %s: memoire insuffisante.\n", name.c_str());
    return;
  }
  if (compress2(comp.data(), &compLen, bytes.data(), (uLong)bytes.size(), Z_BEST_SPEED) != Z_OK) return;
  size_t chunks = (compLen + DATA_CHUNK - 1) / DATA_CHUNK;
  if (sendQueuedFor(slot) + (int)chunks + 2 > SEND_QUEUE_MAX) {
    printf("Synchro: map %s trop grande pour la file d'envoi (%zu paquets), non envoyee.\n", name.c_str(),
           chunks);
    return;
  }
  char body[SMALL_BODY];
  for (const std::string& t : tilesets) {
    if (!tilesetPresent(t.c_str())) continue;
    snprintf(body, sizeof body, "%s %s 0", name.c_str(), t.c_str());
    actionSendToPeer(slot, "SYNCTILESET", body);
  }
  char hex[DIGEST_HEX + 1];
  digestHex(d, hex);
  snprintf(body, sizeof body, "%s %zu %lu %s", name.c_str(), bytes.size(), (unsigned long)compLen, hex);
  actionSendToPeer(slot, "SYNCMAP", body);
  for (size_t at = 0; at < compLen; at += DATA_CHUNK) {
    size_t n = std::min(DATA_CHUNK, (size_t)compLen - at);
    actionSendToPeer(slot, "SYNCDATA", base64Encode(comp.data() + at, n).c_str());
  }
  if (peerHas(slot, EXT_NAMES)) {
    std::string sent = syncSendSidecar(slot, name.c_str());  // its sidecar follows it
    PeerSync& st = peers[slot].sync;
    if (st.merging.count(name)) st.sentSidecars[name] = std::move(sent);  // what the peer merges with
  }
  printf("Synchro: map %s envoyee a %s: %zu octets, %lu compresses.\n", name.c_str(), nameOf(slot).c_str(),
         bytes.size(), (unsigned long)compLen);
}

}  // namespace

bool syncSendOwnCopyNow(int slot, PeerSync& st, const std::string& name) {
  auto at = std::find(st.toSend.begin(), st.toSend.end(), name);
  if (at == st.toSend.end()) return true;
  if (sendQueuedFor(slot) >= SEND_ROOM) return false;
  st.toSend.erase(at);
  sendMap(slot, name);
  return true;
}

// [SECTION] copies received
void onSyncMap(const char*, const char* corps, int slot) {
  PeerSync& st = peers[slot].sync;
  abortIncoming(st, "une autre arrive");
  char name[NAME_WORD], hex[DIGEST_HEX + 2];
  unsigned long long raw = 0, comp = 0;
  bool parsed = sscanf(corps, "%255s %llu %llu %33s", name, &raw, &comp, hex) == 4 && validName(name);
  // Refused at the header, before a byte is held: its data is then ignored.
  size_t mine = std::min(INCOMING_TOTAL_MAX, projectMapsBytes() + INCOMING_MARGIN);
  size_t room = std::min(mine, INCOMING_TOTAL_MAX - incomingReserved());
  if (parsed && raw > room) {
    char why[96];
    snprintf(why, sizeof why, "%llu octets annonces, %zu permis", raw, room);
    if (st.repairing == name) st.repairing.clear();
    return refuseCopy(slot, name, why);
  }
  if (!parsed || raw == 0 || comp == 0 || comp > compressBound((uLong)raw)) {
    printf("Synchro: en-tete de map invalide de %s: ignore.\n", nameOf(slot).c_str());
    return;
  }
  if (!diskRoom((long long)raw * 2)) return;  // the new file and the kept copy
  Incoming& in = st.in;
  // Room for the whole announcement at once: pages are only taken as the
  // data fills them, and a buffer that grew by copies would hold twice that.
  try {
    in.data.reserve((size_t)raw);
  } catch (const std::bad_alloc&) {
    return refuseCopy(slot, name, "memoire insuffisante");
  }
  if (inflateInit(&in.z) != Z_OK) {
    in.data = std::vector<unsigned char>();
    return;
  }
  in.active = true;
  in.name = name;
  in.raw = (size_t)raw;
  in.comp = (size_t)comp;
  st.lastData = coreMillis();
  printf("Synchro: reception de la map %s de %s (%llu octets).\n", name, nameOf(slot).c_str(), raw);
  activity();
}

namespace {

void install(int slot, PeerSync& st) {
  Incoming& in = st.in;
  std::string name = in.name;
  std::vector<unsigned char> data = std::move(in.data);
  inflateEnd(&in.z);
  in = Incoming();
  if (st.awaiting > 0) st.awaiting--;
  char kept[FILE_PATH_LEN] = "", why[NOTICE_LEN];
  if (st.merging.count(name) ? !mergeInstall(slot, st, name, data, why, sizeof why)
             : !replaceProjectMap(name.c_str(), data.data(), data.size(), kept, sizeof kept, why, sizeof why)) {
    if (st.repairing == name) st.repairing.clear();
    return refuseCopy(slot, name.c_str(), why);
  }
  printf("Synchro: map %s recue de %s (%zu octets).\n", name.c_str(), nameOf(slot).c_str(), data.size());
  // The stamps stay: the copy's cells are older than every write they
  // record, so the journal and later writes are ordered against them.
  syncState.fileDigests.erase(name);
  replayJournal(name);
  if (st.repairing == name) st.repairing.clear();
  if (kept[0]) {
    printf("Conflit: ancienne copie de la map %s gardee dans %s.\n", name.c_str(), kept);
    const char* file = strrchr(kept, '/');
    char text[NOTICE_LEN];
    snprintf(text, sizeof text, "Map %s replaced, old copy: conflicts/%s", name.c_str(), file ? file + 1 : kept);
    if (syncNoticeHook) syncNoticeHook(text);
  }
  activity();
}

}  // namespace

void onSyncData(const char*, const char* corps, int slot) {
  PeerSync& st = peers[slot].sync;
  Incoming& in = st.in;
  if (!in.active) return;
  std::vector<unsigned char> piece;
  if (!base64Decode(corps, strlen(corps), piece) || in.got + piece.size() > in.comp)
    return abortIncoming(st, "donnees invalides");
  in.got += piece.size();
  st.lastData = coreMillis();
  in.z.next_in = piece.data();
  in.z.avail_in = (uInt)piece.size();
  unsigned char out[INFLATE_STEP];
  int r = Z_OK;
  while (in.z.avail_in > 0 && r == Z_OK) {
    in.z.next_out = out;
    in.z.avail_out = sizeof out;
    r = inflate(&in.z, Z_NO_FLUSH);
    size_t made = sizeof out - in.z.avail_out;
    if ((r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) || in.data.size() + made > in.raw)
      return abortIncoming(st, "flux invalide");
    in.data.insert(in.data.end(), out, out + made);
    if (r == Z_BUF_ERROR) r = Z_OK;
  }
  activity();
  // Bytes past the end of the stream: more than the map that was announced.
  if (r == Z_STREAM_END && (in.z.avail_in > 0 || in.got < in.comp)) return abortIncoming(st, "donnees en trop");
  if (in.got < in.comp) return;
  if (r != Z_STREAM_END || in.data.size() != in.raw) return abortIncoming(st, "flux incomplet");
  install(slot, st);
}

void syncPeerAnnounced(int slot) {
  if (!syncPeer(slot)) return;
  PeerSync& st = peers[slot].sync;
  abortIncoming(st, "nouvelle synchro");
  st.theirs.clear();
  st.mergeTalk = peerHas(slot, EXT_MERGE);
  st.theirBases.clear();
  st.ourBases.clear();
  st.merging.clear();
  st.listPending = true;
  st.lastData = coreMillis();
  sendList(slot);
}

// [SECTION] ticks and status
void onSyncTileset(const char*, const char* corps, int) {
  printf("Synchro: tileset de %s pret.\n", corps);  // the transfer ran with the action
}

void syncTick() {
  bool sync[MAX_PEERS];
  int n = 0;
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) {
      sync[i] = peers[i].clientReady && (peers[i].extensions & EXT_SYNC);
      n += sync[i];
    }
  }
  // One map a turn, to the first peer owed one whose queue has room.
  bool sentOne = false;
  for (int i = 0; i < MAX_PEERS; i++) {
    PeerSync& st = peers[i].sync;
    // A peer that stopped halfway lets its buffer go (unless its data waits in the queue).
    if (st.in.active && coreMillis() - st.lastData > INCOMING_IDLE_MS && netQueued() == 0)
      abortIncoming(st, "plus de donnees");
    if (!sync[i]) continue;
    bool late = coreMillis() - st.lastData > AWAIT_MS && !st.in.active;
    if ((st.awaiting > 0 || st.listPending) && late) {
      printf("Synchro: %s n'a pas tout envoye (%d maps promises).\n", nameOf(i).c_str(), st.awaiting);
      st.awaiting = 0;
      st.listPending = false;
    }
    mergeSyncComplete(i, st);
    if (sentOne || st.toSend.empty() || sendQueuedFor(i) >= SEND_ROOM) continue;
    sentOne = true;
    std::string name = st.toSend.front();
    st.toSend.pop_front();
    sendMap(i, name);
    refreshMenu = true;
  }
  if (!waiting()) {
    syncState.journal.clear();
    syncState.journalNames.clear();
  }
  quietCheck(sync, n);
  char now[sizeof syncState.shownStatus];
  syncStatus(now, sizeof now);
  if (strcmp(now, syncState.shownStatus) != 0) {
    snprintf(syncState.shownStatus, sizeof syncState.shownStatus, "%s", now);
    refreshMenu = true;
  }
}

void syncStatus(char* out, size_t cap) {
  bool sync[MAX_PEERS];
  {
    std::lock_guard<std::mutex> g(peersLock);
    for (int i = 0; i < MAX_PEERS; i++) sync[i] = peers[i].clientReady && (peers[i].extensions & EXT_SYNC);
  }
  int n = 0;
  out[0] = 0;
  for (int i = 0; i < MAX_PEERS; i++) {
    if (!sync[i]) continue;
    n++;
    const PeerSync& st = peers[i].sync;
    if (out[0]) continue;
    if (st.in.active)
      snprintf(out, cap, "Receiving %s from %s: %d%%", st.in.name.c_str(), nameOf(i).c_str(),
               (int)(st.in.got * 100 / st.in.comp));
    else if (!st.toSend.empty())
      snprintf(out, cap, "Sending %d maps to %s", (int)st.toSend.size(), nameOf(i).c_str());
    else if (!st.repairing.empty())
      snprintf(out, cap, "Repairing %s from %s", st.repairing.c_str(), nameOf(i).c_str());
  }
  if (!out[0] && n) snprintf(out, cap, "In sync with %d editor%s", n, n > 1 ? "s" : "");
}

size_t syncIncomingBytes() {
  size_t n = 0;
  for (const Peer& p : peers) n += p.sync.in.data.capacity();
  return n;
}

// [SECTION] base64
std::string base64Encode(const unsigned char* p, size_t n) {
  static const char abc[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = (uint32_t)p[i] << 16 | (i + 1 < n ? (uint32_t)p[i + 1] << 8 : 0) | (i + 2 < n ? p[i + 2] : 0);
    out += abc[v >> 18 & 63];
    out += abc[v >> 12 & 63];
    out += i + 1 < n ? abc[v >> 6 & 63] : '=';
    out += i + 2 < n ? abc[v & 63] : '=';
  }
  return out;
}
bool base64Decode(const char* text, size_t len, std::vector<unsigned char>& out) {
  out.clear();
  if (len % 4) return false;
  auto val = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
  };
  out.reserve(len / 4 * 3);
  for (size_t i = 0; i < len; i += 4) {
    bool end = i + 4 == len;
    int pad = end ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (pad == 1 && text[i + 2] == '=') return false;  // "x=y=" is not padding
    uint32_t v = 0;
    for (int k = 0; k < 4 - pad; k++) {
      int d = val(text[i + k]);
      if (d < 0) return false;
      v |= (uint32_t)d << (18 - 6 * k);
    }
    out.push_back((unsigned char)(v >> 16));
    if (pad < 2) out.push_back((unsigned char)(v >> 8));
    if (pad < 1) out.push_back((unsigned char)v);
  }
  return true;
}
void syncSlotEnded(PeerSync& st) { abortIncoming(st, "editeur parti"); }

// [SECTION] tests
void syncReset() {
  for (Peer& p : peers) {
    abortIncoming(p.sync, "remise a zero");
    p.sync = PeerSync();
  }
  syncState = SyncState();
}
