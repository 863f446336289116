// File transfers: the tileset offer after "ADDLAYER" and the pass
// conditions after "SENDPC". Received files are written beside their final
// name and renamed into place only when complete.
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>

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

bool recvSize(int s, long max, long* n) {
  char block[SIZE_BLOCK];
  if (!recvAll(s, block, SIZE_BLOCK, STALL_MS, STALL_MS, &disco)) return false;
  if (parseSizeBlock(block, max, n)) return true;
  printf("Bloc de taille invalide recu: connexion coupee!\n");
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
// when the tileset is unknown here.
static long passBytesOf(const char* chipset) {
  int w, h;
  if (!tilesetSizeByName(chipset, &w, &h)) return -1;
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
  static_assert(CHUNK_MAX <= 16384, "one chunk on the stack");
  char packet[SIZE_BLOCK + CHUNK_MAX];
  long long at = 0;
  long left = size;
  bool ok = true;
  for (;;) {
    long chunk = left < (long)CHUNK_MAX ? left : (long)CHUNK_MAX;
    left -= chunk;
    printf("Envoi d'un paquet de %ld (%ld restant)", chunk, left);
    // The size block waits for the chunk's bytes (one segment, not a
    // 16-byte one), which the kernel sends from the page cache.
    formatSizeBlock(packet, chunk);
    ok = sendAll(s, packet, SIZE_BLOCK, stallMs, chunk > 0 ? MSG_MORE : 0);
    long sent = ok && chunk > 0 ? sendFromFile(s, fileno(f), at, (size_t)chunk, stallMs) : 0;
    ok = ok && sent >= 0;
    if (ok && sent < chunk) {
      ssize_t got = pread(fileno(f), packet, (size_t)(chunk - sent), (off_t)(at + sent));
      if (got < 0) got = 0;
      if (got < chunk - sent) {
        // The file shrank under us: the peer still gets the announced count.
        memset(packet + got, 0, (size_t)(chunk - sent - got));
        printf("Tileset %s modifie pendant l'envoi!\n", chipset);
      }
      ok = sendAll(s, packet, (size_t)(chunk - sent), stallMs);
    }
    if (!ok) break;
    at += chunk;
    if (chunk < CHUNK_MAX) break;
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
  bool ok = reply(s, "SENDIT"), written = true;
  long total = 0, n = 0;
  // Chunks gather in one block, written (and its disk room checked) once
  // full: a few large writes instead of a write and a disk query per chunk.
  // A full chunk is always followed by the next size block: both are read
  // at once, never a byte past them.
  std::vector<unsigned char> block(WRITE_BLOCK + CHUNK_MAX + SIZE_BLOCK);
  size_t used = 0;
  ok = ok && recvSize(s, CHUNK_MAX, &n);
  while (ok) {
    bool more = n == CHUNK_MAX;
    size_t want = (size_t)n + (more ? SIZE_BLOCK : 0);
    ok = want == 0 || recvAll(s, block.data() + used, want, STALL_MS, STALL_MS, &disco);
    if (!ok) break;
    printf("recu: un paquet de %ld.\n", n);
    total += n;
    if (total > TILESET_MAX_BYTES) {
      printf("Tileset %s trop grand: connexion coupee!\n", name);
      ok = false;
      break;
    }
    char next[SIZE_BLOCK];
    if (more) memcpy(next, block.data() + used + n, SIZE_BLOCK);
    used += (size_t)n;
    if (used >= WRITE_BLOCK || !more) {
      // Without room the rest is read and thrown away: the connection stays in step.
      written = written && diskRoom((long long)used) && (used == 0 || fwrite(block.data(), 1, used, out) == used);
      used = 0;
    }
    if (!more) break;
    if (!parseSizeBlock(next, CHUNK_MAX, &n)) {
      printf("Bloc de taille invalide recu: connexion coupee!\n");
      ok = false;
    }
  }
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
  n = 0;
  std::vector<unsigned char> pass;
  if (!recvSize(s, PASS_MAX_BYTES, &n) || !recvBytes(s, pass, n)) return false;
  if (!image || pass.empty()) return true;  // layer creation writes the default file
  long need = passBytesOf(name);
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
  long need = passBytesOf(word.data());
  if (n == 0 || n % PASS_BYTES_PER_TILE != 0 || n < need) {
    printf("Conditions de passage %s refusees: %ld octets pour %ld attendus.\n", word.data(), n,
           need < 0 ? 0L : need);
    return true;
  }
  if (!diskRoom(n) || !writeReplace(PASS_DIR, word.data(), PASS_EXT, pass))
    printf("ERREUR: fichier de passabilite %s impossible a ecrire!\n", word.data());
  return true;
}
