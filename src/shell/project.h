// The project: choosing it at start-up, the project file, saving it at quit.
#pragma once
#include "core/core.h"

extern char newproject[256];
// The first map's width and height as typed on the selection screen.
enum { NEW_PROJECT_SIZE_LEN = 16, NEW_PROJECT_SIZE_LIMIT = 5 };
extern char newprojectw[NEW_PROJECT_SIZE_LEN], newprojecth[NEW_PROJECT_SIZE_LEN];

int loadProject(char** argv);   // 1 loaded, 0 quit during the project choice
void startProject();  // the project's first map, of the size typed (64x48 by default)
// Creates the folder tree of the project `newproject` inside the folder being
// browsed (projectPath); refuses, with a message, names that would not read
// back and folders that exist. On success projectPath names its project file.
bool createProject();
bool readProjectFile();         // reads "PROJECT.MSK" of projectPath into project
bool saveProjectFile();         // writes it back (temp file, renamed); false: old file kept
