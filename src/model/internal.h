// Helpers shared by the model's own source files.
#pragma once
#include "model/model.h"

// The log line of a full tileset library.
void printLibraryFull();
// A layer of m, or null when m is null or has no such layer.
Layer* mapLayer(Map* m, int layer);
// Clears the peers' entries that point at m (m is being freed).
void forgetPeerMap(const Map* m);
