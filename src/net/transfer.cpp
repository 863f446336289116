// File transfers: the tileset offer after "ADDLAYER" and the pass
// conditions after "SENDPC". Received files are written beside their final
// name and renamed into place only when complete.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "model/model.h"
#include "net/netio.h"
#include "core/files.h"

namespace {
std::atomic<int> partCounter{0};

// A temporary name beside "<name>.<ext>", unique to this transfer.
void partExtension(char* out, size_t cap, const char* ext) {
  snprintf(out, cap, "%s.%d.part", ext, partCounter++);
}

bool reply(int s, const char* word) {
  char block[REPLY_BLOCK] = {0};
  snprintf(block, sizeof block, "%s", word);
  return sendAll(s, block, REPLY_BLOCK);
}

const char* const BAD_SIZE_BLOCK = "Bloc de taille invalide recu: connexion coupee!\n";

bool recvSize(int s, long max, long* n) {
  char block[SIZE_BLOCK];
  if (!recvAll(s, block, SIZE_BLOCK, STALL_MS, STALL_MS, &disco)) return false;
  if (parseSizeBlock(block, max, n)) return true;
  fputs(BAD_SIZE_BLOCK, stdout);
  return false;
}

bool recvBytes(int s, std::vector<unsigned char>& data, long n) {
  data.resize((size_t)n);
  return n == 0 || recvAll(s, data.data(), (size_t)n, STALL_MS, STALL_MS, &disco);
}

// Moves a finished temporary file onto its final name.
bool putInPlace(const char* rep, const char* name, const char* ext, const char* partExt) {
  char from[FILE_PATH_LEN], to[FILE_PATH_LEN];
  if (!filePath(from, sizeof from, rep, name, partExt) || !filePath(to, sizeof to, rep, name, ext))
    return false;
  return rename(from, to) == 0;
}

void removePart(const char* rep, const char* name, const char* partExt) {
  char path[FILE_PATH_LEN];
  if (filePath(path, sizeof path, rep, name, partExt)) remove(path);
}

// Writes data to "<rep>/<name>.<ext>", replacing it whole or not at all.
bool writeReplace(const char* rep, const char* name, const char* ext,
                  const std::vector<unsigned char>& data) {
  char part[32];
  partExtension(part, sizeof part, ext);
  FILE* f = openFile(rep, name, part, "wb");
  if (!f) return false;
  bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = fclose(f) == 0 && ok;
  if (ok) ok = putInPlace(rep, name, ext, part);
  if (!ok) removePart(rep, name, part);
  return ok;
}

const size_t SEND_CHUNKS = 16;          // image chunks sent per write

// Writes the iovecs' bytes whole; false on an error.
bool writeAll(int fd, iovec* v, int n) {
  while (n > 0) {
    ssize_t w = writev(fd, v, n < IOV_MAX ? n : IOV_MAX);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    for (; n > 0 && (size_t)w >= v->iov_len; n--, v++) w -= (ssize_t)v->iov_len;
    if (n > 0) {
      v->iov_base = (char*)v->iov_base + w;
      v->iov_len -= (size_t)w;
    }
  }
  return true;
}

// The image's chunks as they are parsed out of the peeked bytes.
struct ChunkStream {
  char size[SIZE_BLOCK];
  size_t sizeGot = 0;     // bytes of the size block under way
  long chunk = -1;        // the current chunk's count; -1: its size block is due
  long left = 0;          // its bytes still to come
  long total = 0;
  bool done = false;      // the last chunk is in
};

// Parses the k peeked bytes at p as far as they belong to the image: the
// chunks' bytes become v, the count of bytes taken goes to *used, the log
// lines to `log` (written at once: one write, not one per chunk, to a
// line-buffered log). False for a bad size block or an image over the limit.
bool parseChunks(ChunkStream& c, const char* name, char* p, size_t k, std::vector<iovec>& v, size_t* used,
                 std::string& log) {
  size_t at = 0;
  char line[LINE_MAX];
  v.clear();
  log.clear();
  while (at < k && !c.done) {
    if (c.chunk < 0) {
      size_t step = k - at < SIZE_BLOCK - c.sizeGot ? k - at : SIZE_BLOCK - c.sizeGot;
      memcpy(c.size + c.sizeGot, p + at, step);
      at += step;
      c.sizeGot += step;
      if (c.sizeGot < SIZE_BLOCK) break;
      c.sizeGot = 0;
      if (!parseSizeBlock(c.size, CHUNK_MAX, &c.chunk)) {
        log += BAD_SIZE_BLOCK;
        return false;
      }
      c.left = c.chunk;
    } else {
      size_t step = (size_t)c.left < k - at ? (size_t)c.left : k - at;
      if (step > 0) v.push_back({p + at, step});
      at += step;
      c.left -= (long)step;
    }
    if (c.chunk < 0 || c.left > 0) continue;
    snprintf(line, sizeof line, "recu: un paquet de %ld.\n", c.chunk);
    log += line;
    c.total += c.chunk;
    if (c.total > TILESET_MAX_BYTES) {
      snprintf(line, sizeof line, "Tileset %s trop grand: connexion coupee!\n", name);
      log += line;
      return false;
    }
    c.done = c.chunk < CHUNK_MAX;
    c.chunk = -1;
  }
  *used = at;
  return true;
}

// Puts the parsed bytes in the file, their disk room checked first; false
// when there is no room or the write failed.
bool storeChunks(int fd, std::vector<iovec>& v) {
  size_t n = 0;
  for (const iovec& piece : v) n += piece.iov_len;
  return n == 0 || (diskRoom((long long)n) && writeAll(fd, v.data(), (int)v.size()));
}

// Receives the image into fd: the bytes waiting on the socket are looked at
// in place, their chunks written from there, and only then are the image's
// bytes among them taken off the socket, so reading many chunks at once
// never takes a byte of what follows. Once a write failed the rest is read
// and dropped (*written false): the connection stays in step. The image's
// size, or -1 when the connection is unusable.
long receiveChunks(int s, const char* name, int fd, bool* written) {
  ChunkStream c;
  *written = true;
  std::vector<char> buf(WRITE_BLOCK);
  std::vector<iovec> v;
  std::string log;
  bool ok = true;
  while (ok && !c.done) {
    long k = peekSome(s, buf.data(), buf.size(), STALL_MS, &disco);
    size_t used = 0;
    ok = k > 0 && parseChunks(c, name, buf.data(), (size_t)k, v, &used, log);
    fputs(log.c_str(), stdout);
    if (ok) *written = *written && storeChunks(fd, v);
    ok = ok && takePeeked(s, buf.data(), used);
  }
  return ok ? c.total : -1;
}
}  // namespace

bool diskRoom(long long bytes) {
  // The project's folder: the one holding "layers".
  char path[FILE_PATH_LEN];
  if (!filePath(path, sizeof path, LAYERS_DIR, "x", IMAGE_EXT)) return true;
  char* cut = strrchr(path, '/');
  if (cut) *cut = 0;
  struct statvfs v;
  if (statvfs(path, &v) != 0) return true;  // unknown: the write itself tells
  long long avail = (long long)v.f_bavail * (long long)v.f_frsize;
  long long total = (long long)v.f_blocks * (long long)v.f_frsize;
  long long margin = total / 20 < DISK_MARGIN ? total / 20 : DISK_MARGIN;  // small disks too
  if (avail - bytes >= margin) return true;
  printf("Disque presque plein: %lld octets refuses (%lld libres).\n", bytes, avail);
  return false;
}

bool tilesetPresent(const char* chipset) {
  if (!validName(chipset)) return false;
  FILE* f = openFile(LAYERS_DIR, chipset, IMAGE_EXT, "rb");
  if (f) closeFile(f);
  return f != nullptr;
}

// The byte count of a tileset's pass conditions as sendPC counts them; -1
// when the tileset is unknown here. A receiving thread (`onDisk`) measures
// the image: the tileset library belongs to the main thread.
static long passBytesOf(const char* chipset, bool onDisk = false) {
  int w, h;
  if (!(onDisk ? tilesetSizeOnDisk(chipset, &w, &h) : tilesetSizeByName(chipset, &w, &h))) return -1;
  return (long)tilesetCounts(w, h).tiles * PASS_BYTES_PER_TILE;
}

std::vector<unsigned char> passConditionsOf(const char* chipset) {
  std::vector<unsigned char> pass;
  long n = passBytesOf(chipset);
  if (n < 0) {
    printf("Tileset %s introuvable: aucune condition de passage envoyee.\n", chipset);
    return pass;
  }
  pass.assign((size_t)n, 1);  // missing bytes stay passable
  FILE* f = openFile(PASS_DIR, chipset, PASS_EXT, "rb");
  if (f) {
    size_t got = fread(pass.data(), 1, pass.size(), f);
    if (got < pass.size())
      printf("Fichier de passabilite %s trop court: %ld octets sur %ld, le reste passable.\n",
             chipset, (long)got, n);
    closeFile(f);
  }
  return pass;
}

bool sendPC(const std::vector<unsigned char>& pass, int s, int stallMs) {
  char block[SIZE_BLOCK];
  formatSizeBlock(block, (long)pass.size());
  if (!sendAll(s, block, SIZE_BLOCK, stallMs)) return false;
  return pass.empty() || sendAll(s, pass.data(), pass.size(), stallMs);
}

bool offerTileset(int s, const char* chipset, const std::vector<unsigned char>& pass, int stallMs) {
  char answer[REPLY_BLOCK];
  if (!recvAll(s, answer, REPLY_BLOCK, stallMs, stallMs)) return false;
  answer[REPLY_BLOCK - 1] = 0;
  if (strcmp(answer, "SENDIT") != 0) return true;  // anything else means "LEFTME"
  printf("envoi de %s...\n", chipset);
  FILE* f = openFile(LAYERS_DIR, chipset, IMAGE_EXT, "rb");
  long size = 0;
  if (f && fseek(f, 0, SEEK_END) == 0) size = ftell(f);
  if (size < 0) size = 0;
  if (f) rewind(f);
  if (!f) printf("Tileset %s introuvable: envoi d'une image vide.\n", chipset);
  bool ok = true;
  // Chunks go SEND_CHUNKS at a time, each behind its size block, in one
  // write: the kernel then sends segments as large as for any bulk write,
  // where a write per chunk costs a trip through the network stack each.
  std::vector<char> packet(SEND_CHUNKS * (SIZE_BLOCK + CHUNK_MAX));
  long long at = 0;
  long left = size;
  bool last = false;
  while (ok && !last) {
    iovec data[SEND_CHUNKS];
    int pieces = 0;
    size_t used = 0, want = 0;
    while (pieces < (int)SEND_CHUNKS && !last) {
      long chunk = left < (long)CHUNK_MAX ? left : (long)CHUNK_MAX;
      left -= chunk;
      last = chunk < CHUNK_MAX;
      printf("Envoi d'un paquet de %ld (%ld restant)", chunk, left);
      formatSizeBlock(packet.data() + used, chunk);
      used += SIZE_BLOCK;
      data[pieces++] = {packet.data() + used, (size_t)chunk};
      used += (size_t)chunk;
      want += (size_t)chunk;
    }
    ssize_t got = want == 0 || !f ? 0 : preadv(fileno(f), data, pieces, (off_t)at);
    if (got < (ssize_t)want) {
      // The file shrank under us (or is gone): the peer still gets the announced count.
      if (got < 0) got = 0;
      for (int k = 0; k < pieces; k++) {
        size_t keep = (size_t)got < data[k].iov_len ? (size_t)got : data[k].iov_len;
        memset((char*)data[k].iov_base + keep, 0, data[k].iov_len - keep);
        got -= (ssize_t)keep;
      }
      if (f) printf("Tileset %s modifie pendant l'envoi!\n", chipset);
    }
    at += (long long)want;
    ok = sendAll(s, packet.data(), used, stallMs);
  }
  if (f) closeFile(f);
  return ok && sendPC(pass, s, stallMs);
}

bool receiveTileset(int s, const char* corps) {
  // Words of a body of up to RECV_BUFFER bytes.
  std::vector<char> words(2 * (RECV_BUFFER + 1), 0);
  char* mapName = words.data();
  char* name = words.data() + RECV_BUFFER + 1;
  int bg = 0;
  if (sscanf(corps, "%s %s %d", mapName, name, &bg) != 3) {
    printf("Action ADDLAYER mal formee: tileset refuse.\n");
    return reply(s, "LEFTME");
  }
  printf("addlayer %s...\n", name);
  if (!validName(name)) return reply(s, "LEFTME");
  FILE* f = openFile(LAYERS_DIR, name, IMAGE_EXT, "r+");
  if (f) {
    printf("LayerGFX %s déjà present, envoi inutile.\n", name);
    closeFile(f);
    return reply(s, "LEFTME");
  }
  char part[32];
  partExtension(part, sizeof part, IMAGE_EXT);
  FILE* out = openFile(LAYERS_DIR, name, part, "wb");
  if (!out) {
    printf("Tileset %s impossible a creer: envoi refuse.\n", name);
    return reply(s, "LEFTME");
  }
  bool written = true;
  long total = reply(s, "SENDIT") ? receiveChunks(s, name, fileno(out), &written) : -1;
  bool ok = total >= 0;
  written = fclose(out) == 0 && written;
  bool image = false;
  if (ok && written && total > 0 && putInPlace(LAYERS_DIR, name, IMAGE_EXT, part)) {
    image = true;
    printf("LayerGFX %s recu!\n", name);
  } else {
    removePart(LAYERS_DIR, name, part);
    if (ok) printf("Tileset %s non recu (vide ou ecriture impossible).\n", name);
  }
  if (!ok) return false;
  long n = 0;
  std::vector<unsigned char> pass;
  if (!recvSize(s, PASS_MAX_BYTES, &n) || !recvBytes(s, pass, n)) return false;
  if (!image || pass.empty()) return true;  // layer creation writes the default file
  long need = passBytesOf(name, true);
  if ((long)pass.size() < need || pass.size() % PASS_BYTES_PER_TILE != 0) {
    printf("Conditions de passage %s refusees: %ld octets pour %ld attendus.\n", name, (long)pass.size(),
           need < 0 ? 0L : need);
    return true;
  }
  if (diskRoom((long long)pass.size()) && writeReplace(PASS_DIR, name, PASS_EXT, pass))
    printf("Transfert du pss %s termine!\n", name);
  else
    printf("ERREUR: fichier de passabilite %s impossible a ecrire!\n", name);
  return true;
}

bool declineTransfer(int s, WireTransfer t) {
  if (t == WIRE_TILESET) return reply(s, "LEFTME");
  long n = 0;
  std::vector<unsigned char> pass;
  return recvSize(s, PASS_MAX_BYTES, &n) && recvBytes(s, pass, n);
}

bool receivePC(int s, const char* corps) {
  long n = 0;
  std::vector<unsigned char> pass;
  if (!recvSize(s, PASS_MAX_BYTES, &n) || !recvBytes(s, pass, n)) return false;
  std::vector<char> word(RECV_BUFFER + 1, 0);
  if (sscanf(corps, "%s", word.data()) != 1 || !validName(word.data())) {
    printf("Conditions de passage refusees: nom de tileset invalide.\n");
    return true;
  }
  // A short payload would cut the receiver's file: refused, the file stays.
  long need = passBytesOf(word.data(), true);
  if (n == 0 || n % PASS_BYTES_PER_TILE != 0 || n < need) {
    printf("Conditions de passage %s refusees: %ld octets pour %ld attendus.\n", word.data(), n,
           need < 0 ? 0L : need);
    return true;
  }
  if (!diskRoom(n) || !writeReplace(PASS_DIR, word.data(), PASS_EXT, pass))
    printf("ERREUR: fichier de passabilite %s impossible a ecrire!\n", word.data());
  return true;
}
