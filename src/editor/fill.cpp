// The fill brush: the 4-connected region of equal tiles under the pointer.
#include <stdio.h>

#include <vector>

#include "editor/history.h"
#include "editor/menu.h"
#include "model/model.h"
#include "net/net.h"

std::vector<CellRun> fillRegion(const Map* m, const Layer* l, uint32_t x, uint32_t y, int32_t value) {
  std::vector<CellRun> runs;
  if (!m || !l || x >= m->w || y >= m->h) return runs;
  const int32_t* e = l->e;
  const int32_t old = e[(size_t)y * m->w + x];
  if (old == value) return runs;
  std::vector<uint8_t> seen((size_t)m->w * m->h, 0);
  struct Seed {
    uint32_t x, y;
  };
  std::vector<Seed> stack{{x, y}};
  while (!stack.empty()) {
    Seed s = stack.back();
    stack.pop_back();
    size_t row = (size_t)s.y * m->w;
    if (seen[row + s.x] || e[row + s.x] != old) continue;
    // The whole run of equal tiles through the seed, then one seed per run
    // of equal tiles touching it in the rows above and below.
    uint32_t x1 = s.x, x2 = s.x;
    while (x1 > 0 && e[row + x1 - 1] == old && !seen[row + x1 - 1]) x1--;
    while (x2 + 1 < m->w && e[row + x2 + 1] == old && !seen[row + x2 + 1]) x2++;
    for (uint32_t i = x1; i <= x2; i++) seen[row + i] = 1;
    runs.push_back({x1, s.y, x2 - x1 + 1, old, value});
    for (int dy = -1; dy <= 1; dy += 2) {
      if ((dy < 0 && s.y == 0) || (dy > 0 && s.y + 1 >= m->h)) continue;
      size_t r = (size_t)(s.y + dy) * m->w;
      bool inRun = false;
      for (uint32_t i = x1; i <= x2; i++) {
        bool open = e[r + i] == old && !seen[r + i];
        if (open && !inRun) stack.push_back({i, s.y + (uint32_t)dy});
        inRun = open;
      }
    }
  }
  return runs;
}

void fillAt(Map* m, int layer, uint32_t x, uint32_t y, int32_t value) {
  if (!m || layer < 0 || layer >= m->layers) return;
  std::vector<CellRun> runs = fillRegion(m, m->layer[layer], x, y, value);
  if (runs.empty()) return;
  std::vector<CellRun> writes = runs;
  size_t cells = action_setCells(m, layer, writes);
  printf("Remplissage %ldx%ld par %d: %zu cellules.\n", (long)x, (long)y, value, cells);
  historyCells(m, layer, std::move(runs), "fill");
}
