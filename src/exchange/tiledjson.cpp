// Tiled's JSON formats: maps written and read, tilesets (.tsj) read.
#include <math.h>
#include <stdio.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "exchange/internal.h"
#include "model/sidecar.h"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {
const char TILED_FORMAT_VERSION[] = "1.8";

ordered_json property(const char* name, const char* type, const ordered_json& value) {
  return ordered_json{{"name", name}, {"type", type}, {"value", value}};
}

std::string colour(unsigned rgb) {
  char s[8];
  snprintf(s, sizeof s, "#%06x", rgb & 0xFFFFFF);
  return s;
}

ordered_json collisions(const OutTileset& t, int* nextObject) {
  ordered_json tiles = ordered_json::array();
  for (int n = 0; n < t.count; n++) {
    ordered_json objects = ordered_json::array();
    for (int q = 0; q < PASS_BYTES_PER_TILE; q++)
      if (t.pass[(size_t)n * PASS_BYTES_PER_TILE + q] == 0)
        objects.push_back({{"id", (*nextObject)++}, {"name", ""}, {"type", ""}, {"rotation", 0},
                           {"visible", true}, {"x", q % 2 * QUARTER}, {"y", q / 2 * QUARTER},
                           {"width", QUARTER}, {"height", QUARTER}});
    if (objects.empty()) continue;
    tiles.push_back({{"id", n},
                     {"objectgroup", {{"draworder", "index"}, {"name", ""}, {"objects", objects},
                                      {"opacity", 1}, {"type", "objectgroup"}, {"visible", true},
                                      {"x", 0}, {"y", 0}}}});
  }
  return tiles;
}

ordered_json tileset(const OutTileset& t, int* nextObject) {
  ordered_json j = {{"firstgid", t.firstgid}, {"name", t.name}, {"image", t.image},
                    {"imagewidth", t.w}, {"imageheight", t.h}, {"tilewidth", TILE},
                    {"tileheight", TILE}, {"tilecount", t.count}, {"columns", t.columns},
                    {"margin", 0}, {"spacing", 0}, {"transparentcolor", colour(t.trans)}};
  ordered_json tiles = collisions(t, nextObject);
  if (!tiles.empty()) j["tiles"] = tiles;
  return j;
}

ordered_json cellArray(const ExportPlan& p, int i, bool gids) {
  const Layer* l = p.map.layer[i];
  const OutTileset& t = p.sets[p.layerSet[i]];
  size_t cells = (size_t)p.map.w * p.map.h;
  ordered_json a = ordered_json::array();
  a.get_ref<ordered_json::array_t&>().reserve(cells);
  for (size_t c = 0; c < cells; c++)
    if (gids) a.push_back(exportGid(t, l->e[c]));
    else a.push_back(l->e[c]);
  return a;
}

bool anyCell(const ExportPlan& p, const Layer* l) {
  for (size_t c = 0; c < (size_t)p.map.w * p.map.h; c++)
    if (l->e[c]) return true;
  return false;
}

ordered_json layer(const ExportPlan& p, int i) {
  const Layer* l = p.map.layer[i];
  const OutTileset& t = p.sets[p.layerSet[i]];
  ordered_json props = ordered_json::array({property("tileset", "string", t.name),
                                            property("x", "int", l->x), property("y", "int", l->y)});
  ordered_json j = {{"id", i + 1}, {"name", layerName(l)}, {"opacity", 1},
                    {"visible", true}, {"x", 0}, {"y", 0}};
  if (l->bg) {
    // A background layer's cells are kept though not drawn.
    if (anyCell(p, l)) props.push_back(property("cells", "string", cellsCsv(p, i, false)));
    j["type"] = "imagelayer";
    j["image"] = t.image;
    j["transparentcolor"] = colour(t.trans);
  } else {
    j["type"] = "tilelayer";
    j["width"] = p.map.w;
    j["height"] = p.map.h;
    j["data"] = cellArray(p, i, true);
  }
  j["properties"] = props;
  return j;
}

// The instances as the object group "entities", over the layers; object
// ids from firstId on.
ordered_json objectGroup(const ExportPlan& p, int firstId) {
  ordered_json objects = ordered_json::array();
  for (size_t i = 0; i < p.objects.size(); i++) {
    const OutObject& o = p.objects[i];
    ordered_json props = ordered_json::array();
    for (const OutProperty& q : o.props) {
      bool ref = q.type == "object";
      props.push_back(property(q.name.c_str(), q.type.c_str(),
                               ref ? ordered_json(q.value.get<int>() < 0 ? 0 : firstId + q.value.get<int>()) : ordered_json(q.value)));
    }
    // "type" for Tiled 1.8 and earlier; 1.9 and later read "class" first.
    objects.push_back({{"id", firstId + (int)i}, {"name", o.cls}, {"type", o.cls}, {"class", o.cls},
                       {"x", o.x}, {"y", o.y}, {"width", o.w}, {"height", o.h}, {"rotation", 0},
                       {"visible", true}, {"properties", props}});
  }
  return {{"id", p.map.layers + 1}, {"name", OBJECT_GROUP_NAME}, {"type", "objectgroup"},
          {"draworder", "topdown"}, {"opacity", 1}, {"visible", true}, {"x", 0}, {"y", 0},
          {"objects", objects}};
}

bool saveText(FILE* f, const void* text) {
  const std::string& s = *(const std::string*)text;
  return fwrite(s.data(), 1, s.size(), f) == s.size();
}

long num(const json& o, const char* key) {
  auto it = o.find(key);
  return it != o.end() && it->is_number() ? it->get<long>() : 0;
}

std::string str(const json& o, const char* key) {
  auto it = o.find(key);
  return it != o.end() && it->is_string() ? it->get<std::string>() : "";
}

void readProperties(const json& o, Properties* props) {
  auto it = o.find("properties");
  if (it == o.end() || !it->is_array()) return;
  for (const json& p : *it) {
    if (!p.is_object() || !p.contains("value")) continue;
    const json& v = p["value"];
    (*props)[str(p, "name")] = v.is_string() ? v.get<std::string>() : v.dump();
  }
}

double real(const json& o, const char* key) {
  auto it = o.find(key);
  return it != o.end() && it->is_number() ? it->get<double>() : 0;
}

// A collision shape's bounding box; polygons and polylines by their points.
InRect objectBox(const json& o, int tile) {
  InRect r{tile, real(o, "x"), real(o, "y"), real(o, "width"), real(o, "height")};
  const char* keys[] = {"polygon", "polyline"};
  for (const char* k : keys) {
    auto it = o.find(k);
    if (it == o.end() || !it->is_array() || it->empty()) continue;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const json& pt : *it) {
      x0 = std::min(x0, real(pt, "x")), y0 = std::min(y0, real(pt, "y"));
      x1 = std::max(x1, real(pt, "x")), y1 = std::max(y1, real(pt, "y"));
    }
    r.x += x0, r.y += y0, r.w = x1 - x0, r.h = y1 - y0;
  }
  return r;
}

void readTilesetObject(const json& ts, const std::string& file, InTileset* t) {
  t->name = str(ts, "name");
  t->tileW = num(ts, "tilewidth");
  t->tileH = num(ts, "tileheight");
  t->margin = num(ts, "margin");
  t->spacing = num(ts, "spacing");
  std::string src = str(ts, "image");
  if (!src.empty()) t->image = resolveBeside(file, src);
  auto tiles = ts.find("tiles");
  if (tiles == ts.end() || !tiles->is_array()) return;
  for (const json& tile : *tiles) {
    if (!tile.is_object() || !tile.contains("objectgroup")) continue;
    const json& group = tile["objectgroup"];
    auto objects = group.find("objects");
    if (objects == group.end() || !objects->is_array()) continue;
    for (const json& o : *objects)
      if (o.is_object()) t->rects.push_back(objectBox(o, (int)num(tile, "id")));
  }
}

bool loadJson(const std::string& path, json* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  try {
    *out = json::parse(in);
  } catch (const json::exception& e) {
    *error = "cannot read " + path + ": " + e.what();
    return false;
  }
  if (out->is_object()) return true;
  *error = path + " holds no JSON object";
  return false;
}

bool readData(const json& l, std::vector<uint32_t>* gids, std::string* error) {
  if (l.contains("chunks")) {
    *error = "layer data in chunks (infinite map)";
    return false;
  }
  auto data = l.find("data");
  if (data != l.end() && data->is_string())
    return decodeLayerData(data->get<std::string>(), str(l, "compression"), gids, error);
  if (data == l.end() || !data->is_array()) {
    *error = "layer without data";
    return false;
  }
  gids->reserve(data->size());
  for (const json& g : *data) {
    if (!g.is_number_unsigned() || g.get<uint64_t>() > 0xFFFFFFFFu) {
      *error = "bad gid " + g.dump();
      return false;
    }
    gids->push_back(g.get<uint32_t>());
  }
  return true;
}

// A number member; absent is 0, anything else but a number marks the object.
double number(const json& o, const char* key, InObject* in) {
  auto it = o.find(key);
  if (it == o.end()) return 0;
  if (!it->is_number()) in->badNumber = true;
  return it->is_number() ? it->get<double>() : 0;
}

std::string text(const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
  return v.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool readObjects(const json& group, InMap* m, std::string* error) {
  auto list = group.find("objects");
  if (list == group.end()) return true;
  if (!list->is_array()) return *error = "object group '" + str(group, "name") + "': objects is not a list", false;
  double dx = real(group, "offsetx"), dy = real(group, "offsety");
  for (const json& j : *list) {
    if (!objectRoom(*m, error)) return false;
    InObject o;
    o.layer = str(group, "name");
    if (!j.is_object()) {
      o.badNumber = true;  // listed: not an object at all
      m->objects.push_back(std::move(o));
      continue;
    }
    double id = number(j, "id", &o);
    o.id = fabs(id) < 1e15 ? (long)id : 0;
    o.name = str(j, "name");
    o.cls = str(j, "class");
    if (o.cls.empty()) o.cls = str(j, "type");
    o.templ = str(j, "template");
    o.x = number(j, "x", &o) + dx;
    o.y = number(j, "y", &o) + dy;
    o.w = number(j, "width", &o);
    o.h = number(j, "height", &o);
    o.rotation = number(j, "rotation", &o);
    double gid = number(j, "gid", &o);
    o.gid = gid >= 0 && gid <= 0xFFFFFFFFu ? (uint32_t)gid : 0;
    // As Tiled tells them: flags true, point lists, a text's object.
    const struct { const char* key; InShape shape; json::value_t kind; } kShapes[] = {
        {"ellipse", SHAPE_ELLIPSE, json::value_t::boolean}, {"point", SHAPE_POINT, json::value_t::boolean},
        {"polygon", SHAPE_POLYGON, json::value_t::array}, {"polyline", SHAPE_POLYLINE, json::value_t::array},
        {"text", SHAPE_TEXT, json::value_t::object}};
    for (const auto& k : kShapes) {
      auto it = j.find(k.key);
      if (it != j.end() && it->type() == k.kind && *it != false) o.shape = k.shape;
    }
    auto props = j.find("properties");
    if (props != j.end() && props->is_array())
      for (const json& q : *props)
        if (q.is_object()) o.props.push_back({str(q, "name"), str(q, "type"), q.contains("value") ? text(q["value"]) : ""});
    m->objects.push_back(std::move(o));
  }
  return true;
}

bool readLayers(const json& list, const std::string& file, InMap* m, std::string* error) {
  if (!list.is_array()) return true;
  for (const json& l : list) {
    if (!l.is_object()) continue;
    std::string type = str(l, "type");
    if (type == "group") {
      if (l.contains("layers") && !readLayers(l["layers"], file, m, error)) return false;
      continue;
    }
    if (type == "objectgroup" && !readObjects(l, m, error)) return false;
    if (type != "tilelayer" && type != "imagelayer") continue;
    InLayer in;
    in.name = str(l, "name");
    readProperties(l, &in.props);
    if (type == "imagelayer") {
      in.image = true;
      std::string src = str(l, "image");
      if (!src.empty()) in.source = resolveBeside(file, src);
    } else if (!readData(l, &in.gids, error)) {
      *error = "layer '" + in.name + "': " + *error;
      return false;
    }
    m->layers.push_back(std::move(in));
  }
  return true;
}
}  // namespace

bool exportJson(const ExportPlan& p, const std::string& out, std::string* error) {
  int nextObject = 1;
  ordered_json sets = ordered_json::array();
  for (const OutTileset& t : p.sets)
    if (t.firstgid) sets.push_back(tileset(t, &nextObject));
  ordered_json layers = ordered_json::array();
  for (int i = 0; i < p.map.layers; i++) layers.push_back(layer(p, i));
  int firstObject = nextObject;
  if (!p.objects.empty()) layers.push_back(objectGroup(p, firstObject));
  nextObject += (int)p.objects.size();
  ordered_json map = {
      {"type", "map"}, {"version", TILED_FORMAT_VERSION}, {"orientation", "orthogonal"},
      {"renderorder", "right-down"}, {"width", p.map.w}, {"height", p.map.h},
      {"tilewidth", TILE}, {"tileheight", TILE}, {"infinite", false},
      {"nextlayerid", p.map.layers + (p.objects.empty() ? 1 : 2)}, {"nextobjectid", nextObject},
      {"properties", {property("name", "string", p.map.sysname ? p.map.sysname : ""),
                      property("viewX", "int", p.map.viewX), property("viewY", "int", p.map.viewY)}},
      {"tilesets", sets}, {"layers", layers}};
  std::string text = map.dump(-1, ' ', false, json::error_handler_t::replace);
  text += '\n';
  return writeFileAtomically(out, saveText, &text, error);
}

bool readTsj(const std::string& path, InTileset* t, std::string* error) {
  json ts;
  if (!loadJson(path, &ts, error)) return false;
  readTilesetObject(ts, path, t);
  return true;
}

bool readJson(const std::string& path, InMap* m, std::string* error) {
  json root;
  if (!loadJson(path, &root, error)) return false;
  m->orientation = str(root, "orientation");
  m->w = num(root, "width");
  m->h = num(root, "height");
  m->tileW = num(root, "tilewidth");
  m->tileH = num(root, "tileheight");
  auto inf = root.find("infinite");
  m->infinite = inf != root.end() && (inf->is_boolean() ? inf->get<bool>() : inf->is_number() && *inf != 0);
  readProperties(root, &m->props);
  auto sets = root.find("tilesets");
  if (sets != root.end() && sets->is_array()) {
    for (const json& ts : *sets) {
      if (!ts.is_object()) continue;
      InTileset t;
      t.firstgid = (uint32_t)num(ts, "firstgid");
      std::string src = str(ts, "source");
      if (!src.empty()) {
        if (!readExternalTileset(resolveBeside(path, src), &t, error)) return false;
      } else {
        readTilesetObject(ts, path, &t);
      }
      m->sets.push_back(std::move(t));
    }
  }
  auto layers = root.find("layers");
  return layers == root.end() || readLayers(*layers, path, m, error);
}
