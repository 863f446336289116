// Instances drawn over the map view, in every menu: each one's tile, else a
// rectangle of its definition's colour; a misfit gets a red corner, the
// selected one a white frame. One function, given the view's conversion.
#include "editor/editor.h"
#include "model/entities.h"
#include "toolkit/video.h"

void drawEntities(const Map* m, const EntityViewConv& c, uint64_t selected) {
  const MapEntities* me = entitiesOfConst(m);
  if (!me || !window) return;
  const int W = surfaceWidth(window), H = surfaceHeight(window);
  const EntityModel* d = nullptr;
  for (const Entity& e : me->list) {
    if (!d || d->name != e.model) d = entityModelFind(e.model);
    int w = (d ? d->w : 1) * TILE * c.scale / c.unit, h = (d ? d->h : 1) * TILE * c.scale / c.unit;
    int x = (int)((e.x - c.originX) * c.scale / c.unit), y = (int)((e.y - c.originY) * c.scale / c.unit);
    if (x >= W || y >= H || x + w <= 0 || y + h <= 0) continue;
    uint32_t rgb = d ? d->colour : 0x808080;
    tintRect(window, x, y, w, h, rgb >> 16 & 255, rgb >> 8 & 255, rgb & 255, 160);
    if (e.misfit) fillRect(window, x, y, w / 3 + 1, h / 3 + 1, 220, 0, 0);
    if (e.id == selected) {
      fillRect(window, x, y, w, 1, 255, 255, 255), fillRect(window, x, y + h - 1, w, 1, 255, 255, 255);
      fillRect(window, x, y, 1, h, 255, 255, 255), fillRect(window, x + w - 1, y, 1, h, 255, 255, 255);
    }
  }
}
