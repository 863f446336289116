// Location of every file of the program and of the project.
//   rep ""      -> the program folder (data)
//   rep USER_FILES -> the user's folder (settings.ini, recent.txt)
//   rep osRep   -> the project folder itself
//   rep "?"     -> the project folder (doubled separator)
//   other word  -> that sub-folder of the project
#pragma once
#include <stddef.h>
#include <stdio.h>

enum { FILE_PATH_LEN = 256 };  // every built path fits 255 characters
extern const char USER_FILES[];

// The project file in the project's folder: name, extension, and both.
constexpr char PROJECT_FILE_NAME[] = "PROJECT";
constexpr char PROJECT_FILE_EXT[] = "MSK";
constexpr char PROJECT_FILE[] = "PROJECT.MSK";
constexpr size_t PROJECT_FILE_LEN = sizeof PROJECT_FILE - 1;
// The project's folders and the extensions of their files.
constexpr char MAPS_DIR[] = "maps";
constexpr char MAP_EXT[] = "map";
constexpr char LAYERS_DIR[] = "layers";  // tilesets
constexpr char IMAGE_EXT[] = "png";
constexpr char PASS_DIR[] = "layerspc";  // pass conditions
constexpr char PASS_EXT[] = "pss";
constexpr char MODELS_DIR[] = "models";
// This editor's own state in a project (not project data, never listed by
// the browsers): the base of each map, the state last shared with peers.
constexpr char STATE_DIR[] = ".moska";
constexpr char BASES_DIR[] = ".moska/bases";
constexpr char BASE_EXT[] = "map.z";
constexpr char BASE_SIDECAR_EXT[] = "json.z";  // the sidecar of a map's base, beside it
// Copies of maps replaced or merged by a sync, and the merge reports.
constexpr char CONFLICTS_DIR[] = "conflicts";
constexpr char MAPDATA_DIR[] = "mapdata";  // each map's sidecar: data the map file has no field for
constexpr char MAPDATA_EXT[] = "json";
// The tileset every new map starts with, in the program folder and copied
// into each new project's layers.
constexpr char DEFAULT_TILESET[] = "default";
// The program's font, and the user's settings and last project.
constexpr char FONT_FILE[] = "STONE.TTF";
constexpr char SETTINGS_NAME[] = "settings";
constexpr char SETTINGS_EXT[] = "ini";
constexpr char RECENT_NAME[] = "recent";
constexpr char RECENT_EXT[] = "txt";

// Builds the path openFile would open; false when it would not fit.
bool filePath(char* out, size_t cap, const char* rep, const char* name, const char* extension);
// Builds the path of a file named whole (images, fonts); false when it would not fit.
bool imagePath(char* out, size_t cap, const char* rep, const char* name);

// Opens a file by location, logging the path opened or refused.
FILE* openFile(const char* rep, const char* name, const char* extension, const char* params);
void closeFile(FILE* f);

// Crash-safe replacement of a whole file: replacingOpen creates the new
// file beside `path` (named path + suffix, or a unique name when suffix is
// null) into `temp`; replacingCommit flushes it to the disk, closes it and,
// when `ok`, renames it over path and syncs the folder. On any failure the
// temporary file is removed, the old file is untouched and *err (may be
// null) holds the errno. Null / false on failure.
FILE* replacingOpen(const char* path, const char* suffix, char* temp, size_t cap);
bool replacingCommit(FILE* f, const char* temp, const char* path, bool ok, int* err);

// Reads one blank-separated word whole, keeping at most cap - 1 characters.
// Returns false at end of file; *tooLong (may be null) tells whether
// characters were dropped. The settings and project files are read with it.
bool readWord(FILE* f, char* out, size_t cap, bool* tooLong);

// Names that become file names: not empty, no separator, no "..", no
// control character, no blank (names are single words in the project file
// and in actions), shorter than NAME_LEN. Logs the refusal.
bool validName(const char* name);
// Why the check refuses a name, in the user's words; null when it passes.
const char* nameRefusal(const char* name);
