// What changed between two map files, in words (--diff OLD NEW), as git's
// external diff driver (its 7 arguments), and as a picture of the new map
// with the changed cells highlighted (--diff OLD NEW OUT.png). Layers are
// matched as the merge matches them; cells are compared a row at a time
// (memcmp) and the changed ones written as runs of one old and new value.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "exchange/exchange.h"
#include "exchange/internal.h"
#include "model/mapfile.h"
#include "model/merge.h"

namespace {
const size_t LINE_LEN = 512;            // one line of the description (names clipped)
const size_t FLUSH_BYTES = 1 << 20;     // output written in pieces of this size
const char NO_FILE[] = "/dev/null";     // git's name for the side of an added or deleted file
const int GIT_ARGS = 7;                 // path old-file old-hex old-mode new-file new-hex new-mode
const char PROJECT_MAPS[] = "/maps";

struct Differ {
  const Map *a, *b;          // old and new (either may be absent: null)
  std::string text;
  bool changed = false;
  std::vector<uint8_t>* marks = nullptr;  // new cells to highlight, when a picture is asked for

  void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    char buf[LINE_LEN];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    text.append(buf, n < 0 ? 0 : (size_t)n < sizeof buf ? (size_t)n : sizeof buf - 1);
    text += '\n';
    changed = true;
    if (text.size() >= FLUSH_BYTES) flush();
  }
  void flush() {
    fwrite(text.data(), 1, text.size(), stdout);
    text.clear();
  }
  void mark(uint32_t x, uint32_t y) {
    if (marks && x < b->w && y < b->h) (*marks)[(size_t)y * b->w + x] = 1;
  }

  static size_t nonZero(const Map* m, const Layer* l) {
    size_t n = 0, cells = (size_t)m->w * m->h;
    for (size_t c = 0; l->e && c < cells; c++) n += l->e[c] != 0;
    return n;
  }
  // Every non-zero cell of a layer of `m` marked (a layer added or removed).
  void markLayer(const Map* m, const Layer* l) {
    for (uint32_t y = 0; marks && l->e && y < m->h; y++)
      for (uint32_t x = 0; x < m->w; x++)
        if (l->e[(size_t)y * m->w + x]) mark(x, y);
  }

  void header() {
    if (!a) {
      line("new map: name \"%s\", size %ux%u, %d layers", b->sysname, b->w, b->h, b->layers);
    } else if (!b) {
      line("map removed: name \"%s\", size %ux%u, %d layers", a->sysname, a->w, a->h, a->layers);
      return;
    }
    if (!a || !b) return;
    if (strcmp(a->sysname, b->sysname) != 0) line("name: \"%s\" -> \"%s\"", a->sysname, b->sysname);
    if (a->w != b->w || a->h != b->h) {
      line("size: %ux%u -> %ux%u", a->w, a->h, b->w, b->h);
      for (uint32_t y = 0; marks && y < b->h; y++)
        for (uint32_t x = y < a->h ? a->w : 0; x < b->w; x++) mark(x, y);
    }
    if (a->viewX != b->viewX || a->viewY != b->viewY)
      line("view: %u,%u -> %u,%u", a->viewX, a->viewY, b->viewX, b->viewY);
  }

  void cells(int j, const Layer* lo, const Layer* ln) {
    uint32_t w = a->w < b->w ? a->w : b->w, h = a->h < b->h ? a->h : b->h;
    if (!lo->e || !ln->e) return;
    for (uint32_t y = 0; y < h; y++) {
      const int32_t *ro = lo->e + (size_t)y * a->w, *rn = ln->e + (size_t)y * b->w;
      if (memcmp(ro, rn, (size_t)w * sizeof(int32_t)) == 0) continue;
      for (uint32_t x = 0; x < w;) {
        if (ro[x] == rn[x]) {
          x++;
          continue;
        }
        uint32_t e = x;
        while (e + 1 < w && ro[e + 1] == ro[x] && rn[e + 1] == rn[x]) e++;
        if (e == x) line("layer %d row %u: x %u: %d -> %d", j, y, x, ro[x], rn[x]);
        else line("layer %d row %u: x %u-%u: %d -> %d", j, y, x, e, ro[x], rn[x]);
        for (uint32_t k = x; k <= e; k++) mark(k, y);
        x = e + 1;
      }
    }
  }

  void fields(int j, int i, const Layer* lo, const Layer* ln) {
    if (i != j) line("layer %d: was layer %d", j, i);
    if (lo->bg != ln->bg) line("layer %d: background %d -> %d", j, lo->bg, ln->bg);
    if (lo->x != ln->x) line("layer %d: x %d -> %d", j, lo->x, ln->x);
    if (lo->y != ln->y) line("layer %d: y %d -> %d", j, lo->y, ln->y);
  }

  void run() {
    header();
    if (!b) return;
    static const Map none;
    std::vector<int> match = matchLayers(a ? a : &none, b);
    std::vector<bool> kept(a ? a->layers : 0, false);
    for (int j = 0; j < b->layers; j++)
      if (match[j] >= 0) kept[match[j]] = true;
    for (int i = 0; a && i < a->layers; i++) {
      if (kept[i]) continue;
      line("layer %d removed (tileset \"%s\"%s): %zu cells not 0", i, a->layer[i]->layerGFX,
           a->layer[i]->bg ? ", background" : "", nonZero(a, a->layer[i]));
      markLayer(a, a->layer[i]);
    }
    for (int j = 0; j < b->layers; j++) {
      const Layer* ln = b->layer[j];
      if (match[j] < 0) {
        line("layer %d added (tileset \"%s\"%s): %zu cells not 0", j, ln->layerGFX, ln->bg ? ", background" : "",
             nonZero(b, ln));
        markLayer(b, ln);
        continue;
      }
      fields(j, match[j], a->layer[match[j]], ln);
      cells(j, a->layer[match[j]], ln);
    }
  }
};

// Reads a side of the diff; NO_FILE is a side that does not exist.
bool readSide(const std::string& path, Map* m, bool* present, std::string* error) {
  *present = path != NO_FILE;
  return !*present || readMapPath(path, m, error);
}

// The project a map file belongs to: the folder above its "maps" folder,
// else the current folder.
std::string projectOf(const std::string& mapPath) {
  size_t slash = mapPath.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : mapPath.substr(0, slash);
  if (dir.size() >= strlen(PROJECT_MAPS) && dir.compare(dir.size() - strlen(PROJECT_MAPS), std::string::npos, PROJECT_MAPS) == 0)
    return dir.substr(0, dir.size() - strlen(PROJECT_MAPS));
  return ".";  // "maps/x.map" too
}

bool picture(Map* newMap, const std::string& newPath, const std::vector<uint8_t>& marks, const std::string& out,
             std::string* error) {
  if (!useProject(projectOf(newPath), error)) return false;
  ExportPlan p;
  p.map = *newMap;
  *newMap = Map();
  p.marked = &marks;
  size_t slash = out.find_last_of('/');
  return planTilesets(slash == std::string::npos ? "." : out.substr(0, slash), false, &p, error) &&
         exportPng(p, out, error);
}
}  // namespace

int runDiff(int argc, char** argv) {
  bool git = argc == 2 + GIT_ARGS, png = argc == 5;
  if (argc != 4 && !png && !git) {
    fprintf(stderr, "moska2: --diff takes OLD NEW [OUT.png], or git's seven diff arguments (see moska2 --help)\n");
    return CLI_DIFF_REFUSED;
  }
  if (png && exchangeFormatOf(argv[4]) != FORMAT_PNG) {
    fprintf(stderr, "moska2: --diff OLD NEW OUT: OUT must end in .png\n");
    return CLI_DIFF_REFUSED;
  }
  std::string oldPath = git ? argv[3] : argv[2], newPath = git ? argv[6] : argv[3], error;
  Map a, b;
  bool hasA, hasB;
  bool ok = readSide(oldPath, &a, &hasA, &error) && readSide(newPath, &b, &hasB, &error);
  if (ok && png && !hasB) ok = false, error = "no new map to draw";
  int status = CLI_DIFF_REFUSED;
  if (!ok && git) {
    // git stops the whole diff on a failed driver: say it in the output instead.
    printf("diff --moska2 a/%s b/%s\n%s\n", argv[2], argv[2], error.c_str());
    status = CLI_DIFF_SAME;
  } else if (!ok) {
    fprintf(stderr, "moska2: diff refused: %s\n", error.c_str());
  } else {
    Differ d;
    d.a = hasA ? &a : nullptr;
    d.b = hasB ? &b : nullptr;
    std::vector<uint8_t> marks;
    if (png) marks.assign((size_t)b.w * b.h, 0), d.marks = &marks;
    if (git) d.text = std::string("diff --moska2 a/") + argv[2] + " b/" + argv[2] + "\n";
    d.run();
    d.flush();
    status = git || !d.changed ? CLI_DIFF_SAME : CLI_DIFF_CHANGED;
    if (png && !picture(&b, newPath, marks, argv[4], &error)) {
      fprintf(stderr, "moska2: diff picture failed: %s\n", error.c_str());
      status = CLI_DIFF_REFUSED;
    }
  }
  freeMapRecord(&a);
  freeMapRecord(&b);
  return status;
}
