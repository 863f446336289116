// File and project browsers drawn on the panel.
#pragma once
#include <stddef.h>

extern int gxplorer_index;  // entries passed over before the first row, shared

bool gxplorer(char* it, int x, int y, int l, int w);
bool explorer(char* it, int x, int y, int l, int w, const char* rep);
bool isDir(const char* dir, const char* cible);
