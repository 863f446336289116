// File and project browsers drawn on the panel.
#pragma once
#include <stddef.h>

extern int gxplorer_index;  // entries passed over before the first row, shared

bool gxplorer(char* it, int x, int y, int l, int w);
bool explorer(char* it, int x, int y, int l, int w, const char* rep);
// Where `file` stands among the files of project folder `rep` with its
// extension, in the browser's order: rank from 1 (0: not there) of count.
// False when the folder cannot be read.
bool folderRank(const char* rep, const char* file, int* rank, int* count);
bool isDir(const char* dir, const char* cible);
