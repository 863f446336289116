// Tiled's XML formats: TMX maps written and read, TSX tilesets read.
#include <pugixml.hpp>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "exchange/internal.h"
#include "model/sidecar.h"

namespace {
const char TILED_FORMAT_VERSION[] = "1.8";

void addProperty(pugi::xml_node props, const char* name, const char* type, const std::string& value) {
  pugi::xml_node p = props.append_child("property");
  p.append_attribute("name") = name;
  if (type) p.append_attribute("type") = type;
  p.append_attribute("value") = value.c_str();
}

std::string hexColour(unsigned rgb) {
  char s[8];
  snprintf(s, sizeof s, "%06x", rgb & 0xFFFFFF);
  return s;
}

void addImage(pugi::xml_node parent, const OutTileset& t) {
  pugi::xml_node im = parent.append_child("image");
  im.append_attribute("source") = t.image.c_str();
  im.append_attribute("trans") = hexColour(t.trans).c_str();
  im.append_attribute("width") = t.w;
  im.append_attribute("height") = t.h;
}

// One rectangle per blocked quarter, in each tile that has one.
void addCollisions(pugi::xml_node ts, const OutTileset& t, int* nextObject) {
  for (int n = 0; n < t.count; n++) {
    pugi::xml_node group;
    for (int q = 0; q < PASS_BYTES_PER_TILE; q++) {
      if (t.pass[(size_t)n * PASS_BYTES_PER_TILE + q] != 0) continue;
      if (!group) {
        pugi::xml_node tile = ts.append_child("tile");
        tile.append_attribute("id") = n;
        group = tile.append_child("objectgroup");
        group.append_attribute("draworder") = "index";
      }
      pugi::xml_node o = group.append_child("object");
      o.append_attribute("id") = (*nextObject)++;
      o.append_attribute("x") = q % 2 * QUARTER;
      o.append_attribute("y") = q / 2 * QUARTER;
      o.append_attribute("width") = QUARTER;
      o.append_attribute("height") = QUARTER;
    }
  }
}

bool nonZero(const Map& m, const Layer* l) {
  for (size_t c = 0; c < (size_t)m.w * m.h; c++)
    if (l->e[c]) return true;
  return false;
}

void addLayer(pugi::xml_node root, const ExportPlan& p, int i) {
  const Layer* l = p.map.layer[i];
  const OutTileset& t = p.sets[p.layerSet[i]];
  pugi::xml_node n = root.append_child(l->bg ? "imagelayer" : "layer");
  n.append_attribute("id") = i + 1;
  n.append_attribute("name") = layerName(l);
  if (!l->bg) {
    n.append_attribute("width") = p.map.w;
    n.append_attribute("height") = p.map.h;
  }
  pugi::xml_node props = n.append_child("properties");
  addProperty(props, "tileset", nullptr, t.name);
  addProperty(props, "x", "int", std::to_string(l->x));
  addProperty(props, "y", "int", std::to_string(l->y));
  if (l->bg) {
    // A background layer's cells are kept though not drawn.
    if (nonZero(p.map, l)) addProperty(props, "cells", nullptr, cellsCsv(p, i, false));
    addImage(n, t);
    return;
  }
  pugi::xml_node data = n.append_child("data");
  data.append_attribute("encoding") = "csv";
  data.append_child(pugi::node_pcdata).set_value(cellsCsv(p, i, true).c_str());
}

// The instances as the object group "entities", over the layers; object
// ids from firstId on.
void addObjects(pugi::xml_node root, const ExportPlan& p, int firstId) {
  pugi::xml_node g = root.append_child("objectgroup");
  g.append_attribute("id") = p.map.layers + 1;
  g.append_attribute("name") = OBJECT_GROUP_NAME;
  for (size_t i = 0; i < p.objects.size(); i++) {
    const OutObject& o = p.objects[i];
    pugi::xml_node n = g.append_child("object");
    n.append_attribute("id") = firstId + (int)i;
    n.append_attribute("name") = o.cls.c_str();
    n.append_attribute("type") = o.cls.c_str();   // Tiled 1.8 and earlier; 1.9 and later read class first
    n.append_attribute("class") = o.cls.c_str();
    n.append_attribute("x") = o.x;
    n.append_attribute("y") = o.y;
    n.append_attribute("width") = o.w;
    n.append_attribute("height") = o.h;
    pugi::xml_node props = n.append_child("properties");
    for (const OutProperty& q : o.props) {
      bool ref = q.type == "object";
      std::string v = ref ? std::to_string(q.value.get<int>() < 0 ? 0 : firstId + q.value.get<int>())
                          : q.value.is_string() ? q.value.get<std::string>() : q.value.dump();
      if (v.find_first_of("\n\r\t") == std::string::npos) {
        addProperty(props, q.name.c_str(), q.type == "string" ? nullptr : q.type.c_str(), v);
        continue;
      }
      pugi::xml_node e = props.append_child("property");  // several lines: as Tiled writes them (an attribute's are blanks when read)
      e.append_attribute("name") = q.name.c_str();
      e.append_child(pugi::node_pcdata).set_value(v.c_str());
    }
  }
}

bool saveDoc(FILE* f, const void* doc) {
  pugi::xml_writer_file w(f);
  ((const pugi::xml_document*)doc)->save(w, " ");
  return !ferror(f);
}

long attrLong(pugi::xml_node n, const char* name) { return n.attribute(name).as_llong(0); }

std::string propertyValue(pugi::xml_node p) {
  pugi::xml_attribute v = p.attribute("value");
  return v ? v.as_string() : p.text().as_string();
}

void readProperties(pugi::xml_node n, Properties* props) {
  for (pugi::xml_node p : n.child("properties").children("property"))
    (*props)[p.attribute("name").as_string()] = propertyValue(p);
}

// A collision shape's bounding box; polygons and polylines by their points.
InRect objectBox(pugi::xml_node o, int tile) {
  InRect r;
  r.tile = tile;
  r.x = o.attribute("x").as_double();
  r.y = o.attribute("y").as_double();
  r.w = o.attribute("width").as_double();
  r.h = o.attribute("height").as_double();
  pugi::xml_node poly = o.child("polygon") ? o.child("polygon") : o.child("polyline");
  if (!poly) return r;
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300, px, py;
  const char* s = poly.attribute("points").as_string();
  int used;
  while (sscanf(s, " %lf,%lf%n", &px, &py, &used) == 2) {
    s += used;
    x0 = std::min(x0, px), y0 = std::min(y0, py), x1 = std::max(x1, px), y1 = std::max(y1, py);
  }
  if (x1 < x0) return r;
  r.x += x0, r.y += y0, r.w = x1 - x0, r.h = y1 - y0;
  return r;
}

void readTilesetNode(pugi::xml_node ts, const std::string& file, InTileset* t) {
  t->name = ts.attribute("name").as_string();
  t->tileW = attrLong(ts, "tilewidth");
  t->tileH = attrLong(ts, "tileheight");
  t->margin = attrLong(ts, "margin");
  t->spacing = attrLong(ts, "spacing");
  const char* src = ts.child("image").attribute("source").as_string();
  if (*src) t->image = resolveBeside(file, src);
  for (pugi::xml_node tile : ts.children("tile"))
    for (pugi::xml_node o : tile.child("objectgroup").children("object"))
      t->rects.push_back(objectBox(o, tile.attribute("id").as_int(-1)));
}

// The root element `name` of the XML file at path; null, with the error,
// when the file does not parse or has another root (`what` names the kind).
pugi::xml_node loadRoot(const std::string& path, pugi::xml_document* doc, const char* name,
                        const char* what, std::string* error) {
  pugi::xml_parse_result r = doc->load_file(path.c_str());
  if (!r) {
    *error = "cannot read " + path + ": " + r.description();
    return pugi::xml_node();
  }
  pugi::xml_node root = doc->child(name);
  if (!root) *error = path + " is not a " + what;
  return root;
}

bool readData(pugi::xml_node data, std::vector<uint32_t>* gids, std::string* error) {
  std::string enc = data.attribute("encoding").as_string();
  if (data.child("chunk")) {
    *error = "layer data in chunks (infinite map)";
    return false;
  }
  if (enc == "csv") {
    if (parseCsvGids(data.text().as_string(), gids)) return true;
    *error = "bad CSV layer data";
    return false;
  }
  if (enc == "base64") return decodeLayerData(data.text().as_string(), data.attribute("compression").as_string(), gids, error);
  if (!enc.empty()) {
    *error = "unsupported layer data encoding '" + enc + "'";
    return false;
  }
  for (pugi::xml_node tile : data.children("tile")) gids->push_back((uint32_t)tile.attribute("gid").as_ullong(0));
  return true;
}

// A number attribute; absent is 0, anything else but a number marks the object.
double number(pugi::xml_node n, const char* name, InObject* o) {
  pugi::xml_attribute a = n.attribute(name);
  if (!a) return 0;
  char* end;
  double v = strtod(a.value(), &end);
  if (end == a.value() || *end) o->badNumber = true;
  return v;
}

bool readObjects(pugi::xml_node group, InMap* m, std::string* error) {
  const char* layer = group.attribute("name").as_string();
  double dx = group.attribute("offsetx").as_double(), dy = group.attribute("offsety").as_double();
  for (pugi::xml_node n : group.children("object")) {
    if (!objectRoom(*m, error)) return false;
    InObject o;
    o.id = n.attribute("id").as_llong(0);
    o.layer = layer;
    o.name = n.attribute("name").as_string();
    o.cls = n.attribute("class").as_string();
    if (o.cls.empty()) o.cls = n.attribute("type").as_string();
    o.templ = n.attribute("template").as_string();
    o.x = number(n, "x", &o) + dx;
    o.y = number(n, "y", &o) + dy;
    o.w = number(n, "width", &o);
    o.h = number(n, "height", &o);
    o.rotation = number(n, "rotation", &o);
    o.gid = (uint32_t)n.attribute("gid").as_ullong(0);
    const struct { const char* tag; InShape shape; } kShapes[] = {
        {"ellipse", SHAPE_ELLIPSE}, {"point", SHAPE_POINT}, {"polygon", SHAPE_POLYGON},
        {"polyline", SHAPE_POLYLINE}, {"text", SHAPE_TEXT}};
    for (const auto& k : kShapes)
      if (n.child(k.tag)) o.shape = k.shape;
    for (pugi::xml_node q : n.child("properties").children("property"))
      o.props.push_back({q.attribute("name").as_string(), q.attribute("type").as_string(), propertyValue(q)});
    m->objects.push_back(std::move(o));
  }
  return true;
}

bool readLayers(pugi::xml_node parent, const std::string& file, InMap* m, std::string* error) {
  for (pugi::xml_node n : parent.children()) {
    std::string kind = n.name();
    if (kind == "group") {
      if (!readLayers(n, file, m, error)) return false;
      continue;
    }
    if (kind == "objectgroup" && !readObjects(n, m, error)) return false;
    if (kind != "layer" && kind != "imagelayer") continue;
    InLayer l;
    l.name = n.attribute("name").as_string();
    readProperties(n, &l.props);
    if (kind == "imagelayer") {
      l.image = true;
      const char* src = n.child("image").attribute("source").as_string();
      if (*src) l.source = resolveBeside(file, src);
    } else if (!readData(n.child("data"), &l.gids, error)) {
      *error = "layer '" + l.name + "': " + *error;
      return false;
    }
    m->layers.push_back(std::move(l));
  }
  return true;
}
}  // namespace

bool exportTmx(const ExportPlan& p, const std::string& out, std::string* error) {
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child("map");
  root.append_attribute("version") = TILED_FORMAT_VERSION;
  root.append_attribute("orientation") = "orthogonal";
  root.append_attribute("renderorder") = "right-down";
  root.append_attribute("width") = p.map.w;
  root.append_attribute("height") = p.map.h;
  root.append_attribute("tilewidth") = TILE;
  root.append_attribute("tileheight") = TILE;
  root.append_attribute("infinite") = 0;
  pugi::xml_attribute nextLayerAttr = root.append_attribute("nextlayerid");
  nextLayerAttr = p.map.layers + 1;
  pugi::xml_attribute nextObjectAttr = root.append_attribute("nextobjectid");
  pugi::xml_node props = root.append_child("properties");
  addProperty(props, "name", nullptr, p.map.sysname ? p.map.sysname : "");
  addProperty(props, "viewX", "int", std::to_string(p.map.viewX));
  addProperty(props, "viewY", "int", std::to_string(p.map.viewY));
  int nextObject = 1;
  for (const OutTileset& t : p.sets) {
    if (!t.firstgid) continue;  // only background layers use it
    pugi::xml_node ts = root.append_child("tileset");
    ts.append_attribute("firstgid") = t.firstgid;
    ts.append_attribute("name") = t.name.c_str();
    ts.append_attribute("tilewidth") = TILE;
    ts.append_attribute("tileheight") = TILE;
    ts.append_attribute("tilecount") = t.count;
    ts.append_attribute("columns") = t.columns;
    addImage(ts, t);
    addCollisions(ts, t, &nextObject);
  }
  for (int i = 0; i < p.map.layers; i++) addLayer(root, p, i);
  if (!p.objects.empty()) {
    addObjects(root, p, nextObject);
    nextLayerAttr = p.map.layers + 2;
  }
  nextObjectAttr = nextObject + (int)p.objects.size();
  return writeFileAtomically(out, saveDoc, &doc, error);
}

bool readTsx(const std::string& path, InTileset* t, std::string* error) {
  pugi::xml_document doc;
  pugi::xml_node ts = loadRoot(path, &doc, "tileset", "TSX tileset", error);
  if (!ts) return false;
  readTilesetNode(ts, path, t);
  return true;
}

bool readTmx(const std::string& path, InMap* m, std::string* error) {
  pugi::xml_document doc;
  pugi::xml_node root = loadRoot(path, &doc, "map", "TMX map", error);
  if (!root) return false;
  m->orientation = root.attribute("orientation").as_string();
  m->w = attrLong(root, "width");
  m->h = attrLong(root, "height");
  m->tileW = attrLong(root, "tilewidth");
  m->tileH = attrLong(root, "tileheight");
  m->infinite = root.attribute("infinite").as_int(0) != 0;
  readProperties(root, &m->props);
  for (pugi::xml_node ts : root.children("tileset")) {
    InTileset t;
    t.firstgid = (uint32_t)ts.attribute("firstgid").as_ullong(0);
    const char* src = ts.attribute("source").as_string();
    if (*src) {
      if (!readExternalTileset(resolveBeside(path, src), &t, error)) return false;
    } else {
      readTilesetNode(ts, path, &t);
    }
    m->sets.push_back(std::move(t));
  }
  return readLayers(root, path, m, error);
}
