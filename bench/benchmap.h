// The big map the export and merge benchmarks share: side x side
// cells, a ground layer everywhere, then ever sparser layers, from 16 of the
// 128 tiles of a 256x128 tileset in diagonal bands.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "model/mapfile.h"
#include "model/model.h"

inline void makeBenchMap(Map* m, uint32_t side, int layers) {
  m->w = m->h = side;
  m->layers = (uint16_t)layers;
  m->layer = new Layer*[layers];
  m->sysname = strdup("Bench");
  m->filename = strdup("big");
  uint32_t seed = 1;
  for (int i = 0; i < layers; i++) {
    Layer* l = m->layer[i] = new Layer();
    l->layerGFX = strdup(i == 0 ? "ground" : "items");
    l->e = allocCells((size_t)side * side);
    for (size_t c = 0; c < (size_t)side * side; c++) {
      seed = seed * 1664525u + 1013904223u;
      bool filled = i == 0 || (seed >> 24) < 256u / (i + 1);
      l->e[c] = filled ? (int32_t)((c % side / 8 + c / side / 8 + i) % 16) : 0;
    }
  }
}
