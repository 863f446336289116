// The project: choosing it at start-up, the project file, saving it at quit.
#pragma once
#include "core/core.h"

extern char newproject[256];

int loadProject(char** argv);   // 1 loaded, 0 quit during the project choice
void startProject();
// Creates the folder tree of the project `newproject` inside the folder being
// browsed (projectPath); refuses, with a message, names that would not read
// back and folders that exist. On success projectPath names its project file.
bool createProject();
bool readProjectFile();         // reads "PROJECT.MSK" of projectPath into project
bool saveProjectFile();         // writes it back (temp file, renamed); false: old file kept
