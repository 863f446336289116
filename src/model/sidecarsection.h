// One section of the per-map sidecar (sidecar.h): a member of the file's
// top-level object and how it goes into and out of a map record. A new kind
// of data adds one row to the table in sidecar.cpp and its own file.
#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "model/model.h"

struct SidecarSection {
  const char* key;  // its member of the file's object
  // Whether the member's value is what the section writes, given m's layers;
  // false with the reason (one line) otherwise. Nothing is taken from a file
  // until every section present has been checked.
  bool (*check)(const Map* m, const nlohmann::json& value, std::string* why);
  // Takes a checked value into m, replacing what m held of the section.
  void (*take)(Map* m, const nlohmann::json& value);
  // Drops what m holds of the section (the file had no such member).
  void (*clear)(Map* m);
  // The member's value for m; null when the section holds nothing (no member).
  nlohmann::json (*write)(const Map* m);
};

// The layer names' section (layernames.cpp) and the instances' (entities.cpp).
extern const SidecarSection layerNamesSection;
extern const SidecarSection entitiesSection;

// JSON text into an object within the sidecar's bounds (size, nesting,
// values), before a parser builds anything; false with why. Definition
// files are read with it too.
bool sidecarParse(const char* text, size_t n, nlohmann::json* doc, std::string* why);
// The same for any JSON value (a peer's field value).
bool sidecarParseValue(const char* text, size_t n, nlohmann::json* v, std::string* why);
// A value as one line of JSON text (bad UTF-8 replaced): what goes into a
// peer's action or a closed map's sidecar, read back by the two above.
std::string sidecarValueText(const nlohmann::json& v);
