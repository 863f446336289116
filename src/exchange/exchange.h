// Maps in the formats other tools read: Tiled's TMX (XML) and JSON maps,
// and a PNG picture of the whole map; Tiled maps read back into a project.
// Runs without a display: nothing here opens a window.
#pragma once
#include <string>
#include <vector>

enum ExchangeFormat { FORMAT_NONE, FORMAT_TMX, FORMAT_JSON, FORMAT_PNG };

// The format a file name asks for: ".tmx", ".tmj" or ".json", ".png".
ExchangeFormat exchangeFormatOf(const std::string& path);

// Writes map `map` of the project `project` (its folder or its PROJECT.MSK)
// to `out`, in the format its extension names. The file appears whole or
// not at all. False with the first problem in *error.
bool exportMap(const std::string& project, const std::string& map, const std::string& out,
               std::string* error);

// Reads the TMX or JSON map `in` into the new map `map` of `project`,
// copying the tileset images it needs into layers/ and writing their pass
// conditions. Its objects become the map's entities, with the definitions
// they name created in models/ when missing. What of the objects cannot be
// brought over (a shape, a rotation, a property of no field type...) is one
// line each in *dropped (may be null). `force` lets an existing map be
// replaced and the import go on without what is dropped. False with the
// first problem in *error, and the project unchanged.
bool importMap(const std::string& in, const std::string& project, const std::string& map,
               bool force, std::string* error, std::vector<std::string>* dropped = nullptr);

// The command line without a window: --export, --import, --help,
// --version. Returns the exit status, or -1 when argv asks for the editor.
int exchangeCommand(int argc, char** argv);
