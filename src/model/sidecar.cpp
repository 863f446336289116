// The per-map sidecar file (sidecar.h): bounded reading, the sections'
// table, broken files set aside, crash-safe writing, and its text for the
// digest and the peers.
//
// [SECTION] index
//   table      kSections, the document built from a map and taken into one
//   reading    withinBounds, parseDoc, readFileText, setAside
//   writing    writeDoc
//   public     sidecarLoad ... sidecarTake
#include "model/sidecar.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "core/files.h"
#include "model/mapfile.h"
#include "model/sidecarsection.h"

using nlohmann::json;

void (*sidecarNoticeHook)(const char*) = nullptr;

// [SECTION] table
namespace {
// Every section this editor knows, one row each.
const SidecarSection* const kSections[] = {&layerNamesSection, &entitiesSection};

const SidecarSection* sectionOf(const std::string& key) {
  for (const SidecarSection* s : kSections)
    if (key == s->key) return s;
  return nullptr;
}

const char TEMP_SUFFIX[] = ".tmp";
const int ASIDE_TRIES = 100;       // ".broken", ".broken-2" ... ".broken-100"
const int FILE_INDENT = 1;         // the file is indented for people who read and diff it
const size_t WHY_LEN = 200;

std::string dumped(const json& j, int indent = -1) {
  return j.dump(indent, ' ', false, json::error_handler_t::replace);  // control characters escaped: no NUL
}

// m's sections and the members it keeps from elsewhere.
json buildDoc(const Map* m) {
  json doc = json::object();
  if (m->sidecarKept) {
    json kept = json::parse(m->sidecarKept, nullptr, false);
    if (kept.is_object()) doc = std::move(kept);
  }
  for (const SidecarSection* s : kSections) {
    json v = s->write(m);
    if (!v.is_null()) doc[s->key] = std::move(v);
  }
  return doc;
}

// Every section present checked against m before anything is taken.
bool checkDoc(const Map* m, const json& doc, std::string* why) {
  for (const SidecarSection* s : kSections) {
    auto it = doc.find(s->key);
    if (it != doc.end() && !s->check(m, *it, why)) return false;
  }
  return true;
}

void takeDoc(Map* m, const json& doc) {
  json kept = json::object();
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    const SidecarSection* s = sectionOf(it.key());
    if (s)
      s->take(m, it.value());
    else
      kept[it.key()] = it.value();
  }
  for (const SidecarSection* s : kSections)
    if (!doc.contains(s->key)) s->clear(m);
  free(m->sidecarKept);
  m->sidecarKept = kept.empty() ? nullptr : strdup(dumped(kept).c_str());
}

bool pathOf(const char* name, char* path, size_t cap) {
  return validName(name) && filePath(path, cap, MAPDATA_DIR, name, MAPDATA_EXT);
}

// [SECTION] reading
// Nesting and the number of values, counted on the bytes before a parser
// builds anything: a hostile file costs one pass over at most
// SIDECAR_MAX_BYTES. A value is counted where it starts (a string once it
// is seen not to be a key).
bool withinBounds(const char* p, size_t n, std::string* why) {
  if (n > SIDECAR_MAX_BYTES) return *why = "larger than 32 MiB", false;
  int depth = 0;
  size_t values = 0;
  bool inString = false, escaped = false, stringEnded = false;
  char last = 0;  // the last character outside strings and blanks
  for (size_t i = 0; i < n; i++) {
    char c = p[i];
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false, stringEnded = true;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (stringEnded) values += c != ':', stringEnded = false;
    if (c == '"') inString = true;
    else if (c == '[' || c == '{') depth++, values++;
    else if (c == ']' || c == '}') depth--;
    else if (c != ',' && c != ':' && (!last || last == ',' || last == '[' || last == ':')) values++;
    last = c;
    if (depth > SIDECAR_MAX_DEPTH) return *why = "nested more than 16 deep", false;
  }
  values += stringEnded;
  if (values > SIDECAR_MAX_VALUES) return *why = "more than 262144 values", false;
  return true;
}
static_assert(SIDECAR_MAX_BYTES == 32 << 20 && SIDECAR_MAX_DEPTH == 16 && SIDECAR_MAX_VALUES == 1 << 18,
              "the refusals above name the limits");

// Text into a JSON object, within the bounds; false with why.
bool parseDoc(const char* text, size_t n, json* doc, std::string* why) {
  if (!withinBounds(text, n, why)) return false;
  try {
    *doc = json::parse(text, text + n);
  } catch (const json::parse_error& e) {
    char at[64];
    snprintf(at, sizeof at, "not valid JSON (byte %zu)", (size_t)e.byte);
    return *why = at, false;
  } catch (const json::exception&) {
    return *why = "not valid JSON", false;
  }
  if (!doc->is_object()) return *why = "not a JSON object", false;
  return true;
}

enum FileText { FILE_ABSENT, FILE_READ, FILE_TOO_BIG, FILE_UNREADABLE };

FileText readFileText(const char* path, std::string* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return errno == ENOENT ? FILE_ABSENT : FILE_UNREADABLE;
  struct stat st;
  FileText r = FILE_UNREADABLE;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
    if (st.st_size > SIDECAR_MAX_BYTES) {
      r = FILE_TOO_BIG;
    } else {
      out->resize((size_t)st.st_size);
      r = fread(&(*out)[0], 1, out->size(), f) == out->size() ? FILE_READ : FILE_UNREADABLE;
    }
  }
  fclose(f);
  return r;
}

// Renames a broken file to "<path>.broken" (".broken-2" ... when taken);
// the name given in `aside`. False when it stays where it is.
bool setAside(const char* path, char* aside, size_t cap) {
  for (int k = 1; k <= ASIDE_TRIES; k++) {
    int n = k == 1 ? snprintf(aside, cap, "%s%s", path, SIDECAR_BROKEN_SUFFIX)
                   : snprintf(aside, cap, "%s%s-%d", path, SIDECAR_BROKEN_SUFFIX, k);
    if (n < 0 || (size_t)n >= cap) return false;
    if (access(aside, F_OK) == 0) continue;  // never over an earlier one
    return rename(path, aside) == 0;
  }
  return false;
}

// The file of a closed map, read, parsed and checked alone.
FileText readDoc(const char* path, json* doc, std::string* why) {
  std::string text;
  FileText r = readFileText(path, &text);
  if (r == FILE_TOO_BIG) *why = "larger than 32 MiB";
  if (r == FILE_UNREADABLE) *why = strerror(errno);
  Map none;
  if (r == FILE_READ && (!parseDoc(text.data(), text.size(), doc, why) || !checkDoc(&none, *doc, why)))
    return FILE_UNREADABLE;
  return r;
}

// [SECTION] writing
// The document as the map's file, crash-safe; an empty one removes the file.
bool writeDoc(const char* path, const json& doc, std::string* why) {
  if (doc.empty()) {
    if (unlink(path) == 0 || errno == ENOENT) return true;
    return *why = strerror(errno), false;
  }
  char dir[FILE_PATH_LEN], temp[FILE_PATH_LEN + sizeof TEMP_SUFFIX];
  snprintf(dir, sizeof dir, "%s", path);
  char* slash = strrchr(dir, '/');
  if (slash) *slash = 0;
  if (slash && mkdir(dir, 0777) != 0 && errno != EEXIST) return *why = strerror(errno), false;
  FILE* f = replacingOpen(path, TEMP_SUFFIX, temp, sizeof temp);
  if (!f) return *why = strerror(errno), false;
  std::string text = dumped(doc, FILE_INDENT) + "\n";
  int err = 0;
  if (replacingCommit(f, temp, path, fwrite(text.data(), 1, text.size(), f) == text.size(), &err)) return true;
  return *why = strerror(err), false;
}

void notice(const char* text) {
  printf("%s\n", text);
  if (sidecarNoticeHook) sidecarNoticeHook(text);
}

// A closed map's file, parsed (no surfaces); false when it cannot be read.
bool readClosedMap(const char* name, Map* m) {
  std::vector<unsigned char> bytes;
  if (!projectMapBytes(name, bytes)) return false;
  MapRead r = readMapBytes(bytes.data(), bytes.size(), m);
  return r == MAP_READ_OK || r == MAP_READ_BAD_END;
}

// A file's change stamp: modification time and size.
struct Stamp {
  long long mtimeNs = -1, size = -1;
  bool operator!=(const Stamp& o) const { return mtimeNs != o.mtimeNs || size != o.size; }
};
Stamp stampOf(const char* path) {
  struct stat st;
  Stamp s;
  if (stat(path, &st) == 0) s.mtimeNs = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, s.size = st.st_size;
  return s;
}

// The sidecar text of closed maps, made again only when the sidecar or the
// map file changed.
struct ClosedText {
  Stamp side, map;
  std::string text;
  bool broken = false;
};
std::map<std::string, ClosedText> closedTexts;
}  // namespace

// [SECTION] public
bool sidecarParse(const char* text, size_t n, json* doc, std::string* why) { return parseDoc(text, n, doc, why); }

std::string sidecarValueText(const json& v) { return dumped(v); }

bool sidecarParseValue(const char* text, size_t n, json* v, std::string* why) {
  if (!withinBounds(text, n, why)) return false;
  *v = json::parse(text, text + n, nullptr, false);
  return !v->is_discarded() || (*why = "not valid JSON", false);
}

SidecarRead sidecarLoad(Map* m, const char* name, bool setAsideBroken, char* why, size_t cap) {
  char path[FILE_PATH_LEN];
  if (why && cap) why[0] = 0;
  if (!pathOf(name, path, sizeof path)) return SIDECAR_NONE;
  std::string text, reason;
  FileText r = readFileText(path, &text);
  if (r == FILE_ABSENT) return SIDECAR_NONE;
  json doc;
  if (r == FILE_TOO_BIG) reason = "larger than 32 MiB";
  if (r == FILE_UNREADABLE) reason = strerror(errno);
  if (r == FILE_READ && parseDoc(text.data(), text.size(), &doc, &reason) && checkDoc(m, doc, &reason)) {
    takeDoc(m, doc);
    if (setAsideBroken) printf("Sidecar %s lu.\n", path);  // a map opening
    return SIDECAR_OK;
  }
  char line[WHY_LEN], aside[FILE_PATH_LEN + 16];
  SidecarRead result = SIDECAR_BROKEN;
  const char* file = path + strlen(path) - strlen(name) - strlen(MAPDATA_EXT) - 1;
  if (!setAsideBroken) {
    snprintf(line, sizeof line, "%s/%.64s: %.80s; ignored", MAPDATA_DIR, file, reason.c_str());
  } else if (setAside(path, aside, sizeof aside)) {
    result = SIDECAR_SET_ASIDE;
    snprintf(line, sizeof line, "%s/%.64s: %.60s; kept as %.80s", MAPDATA_DIR, file, reason.c_str(),
             strrchr(aside, '/') ? strrchr(aside, '/') + 1 : aside);
  } else {
    result = SIDECAR_HELD;
    m->sidecarHeld = true;
    snprintf(line, sizeof line, "%s/%.64s: %.60s; left alone, not saved this session", MAPDATA_DIR, file,
             reason.c_str());
  }
  if (why && cap) snprintf(why, cap, "%s", line);
  if (setAsideBroken) notice(line);
  return result;
}

bool sidecarSave(const Map* m, const char* name, char* why, size_t cap) {
  char path[FILE_PATH_LEN];
  std::string reason = "bad map name";
  bool ok = !m->sidecarHeld && pathOf(name, path, sizeof path) && writeDoc(path, buildDoc(m), &reason);
  if (m->sidecarHeld) reason = "its sidecar file is left alone this session";
  if (!ok) {
    printf("ERREUR: sidecar de la map %s non ecrit (%s)!\n", name ? name : "", reason.c_str());
    if (why && cap) snprintf(why, cap, "%s", reason.c_str());
  }
  return ok;
}

std::string sidecarText(const Map* m) {
  json doc = buildDoc(m);
  return doc.empty() ? "" : dumped(doc);
}

bool sidecarTextOf(const char* name, std::string* out) {
  out->clear();
  if (Map* m = openMapAt(getMap(name))) {
    *out = sidecarText(m);
    return true;
  }
  // A closed map's file, taken onto its map's layers as opening it would:
  // the text its copy would have open, so two editors compare alike.
  char path[FILE_PATH_LEN], mapPath[FILE_PATH_LEN];
  if (!pathOf(name, path, sizeof path) || !filePath(mapPath, sizeof mapPath, MAPS_DIR, name, MAP_EXT)) return false;
  Stamp side = stampOf(path), map = stampOf(mapPath);
  if (side.size < 0) return true;  // no file
  ClosedText& c = closedTexts[name];
  if (c.side != side || c.map != map) {
    Map m;
    json doc;
    std::string why;
    if (readClosedMap(name, &m)) {
      SidecarRead r = sidecarLoad(&m, name, false, nullptr, 0);
      c.broken = r != SIDECAR_OK && r != SIDECAR_NONE;
      c.text = r == SIDECAR_OK ? sidecarText(&m) : "";
    } else {
      c.broken = readDoc(path, &doc, &why) != FILE_READ;
      c.text = c.broken || doc.empty() ? "" : dumped(doc);
    }
    freeMapRecord(&m);
    c.side = side, c.map = map;
  }
  *out = c.text;
  return !c.broken;
}

void sidecarFold(const char* name, MapDigest* d) {
  std::string text;
  sidecarTextOf(name, &text);  // broken: folds nothing, as no file
  if (!text.empty()) *d = digestFold(*d, text.data(), text.size());
}

bool sidecarTake(const char* name, const char* text, size_t n, char* why, size_t cap) {
  std::string reason;
  json doc;
  Map none;
  Map* m = openMapAt(getMap(name));
  char path[FILE_PATH_LEN];
  bool ok = pathOf(name, path, sizeof path) || (reason = "bad map name", false);
  if (ok && n == 0) doc = json::object();  // a peer's empty sidecar: nothing to keep
  ok = ok && (n == 0 || parseDoc(text, n, &doc, &reason)) && checkDoc(m ? m : &none, doc, &reason);
  if (ok && m) {
    takeDoc(m, doc);
    m->dirty = true;  // written with the map
    return true;
  }
  if (ok && !mapFileExists(name)) ok = (reason = "no such map here", false);
  if (ok) {
    // A broken file of ours is set aside, never overwritten.
    json old;
    char aside[FILE_PATH_LEN + 16];
    if (readDoc(path, &old, &reason) == FILE_UNREADABLE && !setAside(path, aside, sizeof aside)) ok = false;
    // Written as the map's layers take it, as an open map would save it.
    Map closed;
    if (ok && readClosedMap(name, &closed)) {
      takeDoc(&closed, doc);
      doc = buildDoc(&closed);
    }
    freeMapRecord(&closed);
    ok = ok && writeDoc(path, doc, &reason);
  }
  if (!ok && why && cap) snprintf(why, cap, "%s", reason.c_str());
  return ok;
}
