#!/usr/bin/env bash
# Maps through Tiled's formats, checked by Tiled's own tools and an
# independent map file reader: the example maps and one with a background
# layer exported to TMX, JSON and PNG; Tiled's picture equals the PNG, Tiled
# reads our cells, tilesets and pass conditions; every file, ours or re-saved
# by Tiled, imports back to the same bytes; entities as typed objects.
# Command-line failures; installing.
set -u
source "$(dirname "$0")/lib.sh"
root=$(mktemp -d /tmp/moska-exchange-XXXXXX)
trap 'rm -rf "$root"' EXIT
app=$MOSKA_APP/moska2 build=${MOSKA_BUILD:-$(cd "$MOSKA_APP/.." && pwd)}
cp -r "$MOSKA_DEMO" "$root/demo"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$root
unset DISPLAY SDL_VIDEODRIVER

# The map file read independently (read_map); Tiled's reading of an export
# compared with it; a map with a background layer written.
{ echo "$MOSKA_MAP_PY"; cat <<'PY'; } > "$root/check.py"
import json, os
def stem(path):
    return os.path.splitext(os.path.basename(path))[0]

def check(tiled_json, map_file, project):
    t, m = json.load(open(tiled_json)), read_map(map_file)
    assert (t['width'], t['height']) == (m['w'], m['h']), 'size'
    assert {p['name']: p['value'] for p in t.get('properties', [])}['name'] == m['name'], 'name'
    sets = sorted(t['tilesets'], key=lambda s: s['firstgid'])
    layers = [l for l in t['layers'] if l['type'] in ('tilelayer', 'imagelayer')]
    assert len(layers) == len(m['layers']), 'layer count'
    for n, (tl, (gfx, cells, bg, _, _)) in enumerate(zip(layers, m['layers'][::-1])):
        assert (tl['type'] == 'imagelayer') == bool(bg), 'layer %d kind' % n
        if bg:
            assert stem(tl['image']) == gfx, 'image of layer %d' % n
            continue
        for c, (gid, cell) in enumerate(zip(tl['data'], cells)):
            if gid == 0:
                assert cell == 0, 'layer %d cell %d: empty, map holds %d' % (n, c, cell)
                continue
            s = [s for s in sets if s['firstgid'] <= gid][-1]
            assert stem(s['image']) == gfx and gid - s['firstgid'] == cell, \
                'layer %d cell %d: gid %d, map holds %d' % (n, c, gid, cell)
    for s in sets:
        pss = open(os.path.join(project, 'layerspc', stem(s['image']) + '.pss'), 'rb').read()
        want = {(i // 4, i % 4) for i, b in enumerate(pss[:4 * s['tilecount']]) if b == 0}
        got = {(tile['id'], int(o['y']) // 8 * 2 + int(o['x']) // 8)
               for tile in s.get('tiles', []) for o in tile.get('objectgroup', {}).get('objects', [])}
        assert got == want, 'collisions of ' + s['name']

def write_map(path, name, w, h, layers):
    # layers bottom-up: (tileset, bg, x, y, cells)
    string = lambda s: struct.pack('<H', len(s) + 1) + s.encode() + b'\0'
    out = b'$' + string(name) + string(stem(path)) + struct.pack('<IIIIH', w, h, 16, 32, len(layers))
    for gfx, bg, x, y, cells in reversed(layers):
        out += string(gfx) + struct.pack('<%di' % (w * h), *cells) + struct.pack('<Bhh', bg, x, y)
    open(path, 'wb').write(out + b'$')

if sys.argv[1] == 'check':
    check(*sys.argv[2:])
else:  # a map with a background layer between two tilesets' layers
    w, h = 24, 20
    write_map(sys.argv[2], 'With background', w, h, [
        ('dungeon', 0, 1, 1, [(x * 3 + y) % 32 for y in range(h) for x in range(w)]),
        ('default', 1, -3, 5, [7 if x == y else 0 for y in range(h) for x in range(w)]),
        ('default', 0, 0, 0, [(x * y) % 128 if (x + y) % 3 else 0 for y in range(h) for x in range(w)])])
PY
python3 "$root/check.py" make "$root/demo/maps/layered.map" || fail "writing the layered map"

for map in map0 map1 layered; do
  out=$root/$map
  for ext in tmx json png; do
    "$app" --export "$root/demo" "$map" "$out.$ext" > /dev/null || fail "export of $map to .$ext"
  done
  tmxrasterizer "$out.tmx" "$out-tiled.png" 2>/dev/null || fail "tmxrasterizer on $map"
  convert "$out-tiled.png" -background black -flatten -type TrueColor "$out-tiled.png"
  diff=$(compare -metric AE "$out-tiled.png" "$out.png" null: 2>&1)
  [ "$diff" = 0 ] || fail "$map: Tiled's picture differs from the PNG export in $diff pixels"
  for ext in tmx json; do
    tiled --export-map json "$out.$ext" "$out-$ext-tiled.json" 2>/dev/null || fail "Tiled cannot read $map.$ext"
    python3 "$root/check.py" check "$out-$ext-tiled.json" "$root/demo/maps/$map.map" "$root/demo" ||
      fail "$map.$ext as Tiled reads it differs from the map file"
  done
  tiled --export-map tmx "$out.json" "$out-tiled.tmx" 2>/dev/null || fail "Tiled cannot convert $map.json"
  for file in "$out.tmx" "$out.json" "$out-tmx-tiled.json" "$out-tiled.tmx"; do
    "$app" --import "$file" "$root/demo" "$map" --force > /dev/null || fail "import of $file"
    [ -e "$root/$map.orig" ] || cp "$root/demo/maps/$map.map" "$root/$map.orig"  # the first: reference
    cmp -s "$root/demo/maps/$map.map" "$root/$map.orig" || fail "$file imported back differs"
  done
done
cmp -s "$root/map0.orig" "$MOSKA_DEMO/maps/map0.map" || fail "map0 changed by its round trips"

# Entities: a definition with a field of every type and two instances on
# map1, exported; Tiled and Python's XML reader see every object and every
# property with its type; an import losing an ellipse says so (status 3).
mkdir -p "$root/demo/mapdata"
cat > "$root/demo/models/Door.json" <<'J'
{"name": "Door", "size": [1, 2], "fields": [{"name": "hp", "type": "integer"}, {"name": "speed", "type": "number"},
 {"name": "open", "type": "boolean"}, {"name": "label", "type": "text"},
 {"name": "kind", "type": "choice", "choices": ["wood", "iron"]}, {"name": "tint", "type": "colour"},
 {"name": "target", "type": "point"}, {"name": "to", "type": "reference"}]}
J
cat > "$root/demo/mapdata/map1.json" <<'J'
{"entities": [{"id": "00000000000000a1", "model": "Door", "x": 16, "y": 32},
 {"id": "fedcba9876543210", "model": "Door", "x": 48, "y": 0, "fields": {"hp": 7, "speed": 2.5, "open": true,
  "label": "hi", "kind": "iron", "tint": "#102030", "target": [3, 4], "to": "00000000000000a1"}}]}
J
for ext in tmx json; do
  "$app" --export "$root/demo" map1 "$root/ent.$ext" > /dev/null || fail "export of entities to .$ext"
  tiled --export-map json "$root/ent.$ext" "$root/ent-$ext-tiled.json" 2>/dev/null || fail "Tiled cannot read ent.$ext"
done
python3 - "$root" <<'PY' || fail "the entities as Tiled and Python's XML reader see them"
import json, sys, xml.etree.ElementTree as ET
root = sys.argv[1]
want = {'moska_id': ('string', 'fedcba9876543210'), 'hp': ('int', 7), 'speed': ('float', 2.5),
        'open': ('bool', True), 'label': ('string', 'hi'), 'kind': ('string', 'iron'),
        'tint': ('color', '#ff102030'), 'target': ('string', '3,4'), 'to': ('object', 'A')}
def check(objects):  # [(id, class, x, y, w, h, {name: (type, value)})]
    assert [o[1:6] for o in objects] == [('Door', 16, 32, 16, 32), ('Door', 48, 0, 16, 32)], objects
    got = objects[1][6]
    assert got['to'][1] == objects[0][0], 'reference'
    assert got == dict(want, to=('object', objects[0][0])), got
    assert objects[0][6]['moska_id'] == ('string', '00000000000000a1')
for ext in ('tmx', 'json'):
    layer = [l for l in json.load(open('%s/ent-%s-tiled.json' % (root, ext)))['layers'] if l['name'] == 'entities'][0]
    check([(o['id'], o.get('class') or o['type'], o['x'], o['y'], o['width'], o['height'],
            {p['name']: (p['type'], p['value']) for p in o['properties']}) for o in layer['objects']])
cast = {'int': int, 'float': float, 'bool': lambda v: v == 'true', 'object': int}
group = [g for g in ET.parse(root + '/ent.tmx').getroot().iter('objectgroup') if g.get('name') == 'entities'][0]
check([(int(o.get('id')), o.get('class'), *(int(o.get(k)) for k in ('x', 'y', 'width', 'height')),
        {p.get('name'): (p.get('type', 'string'), cast.get(p.get('type'), str)(p.get('value')))
         for p in o.iter('property')}) for o in group.iter('object')])
PY
sed 's|<objectgroup id="[0-9]*" name="entities">|&<object id="90" type="Door" x="0" y="0" width="16" height="32"><ellipse/></object>|' \
  "$root/ent.tmx" > "$root/lossy.tmx"
"$app" --import "$root/lossy.tmx" "$root/demo" map2 > /dev/null 2> "$root/err"
[ $? = 3 ] && grep -q "object 90 (layer 'entities'): an ellipse" "$root/err" && [ ! -e "$root/demo/maps/map2.map" ] ||
  fail "an import losing an ellipse: $(cat "$root/err")"

# Failures: status 1, one line on standard error, no output file left behind.
expect_failure() {  # WHAT OUTPUT ARGS...
  local what=$1 output=$2; shift 2
  "$app" "$@" > /dev/null 2> "$root/err" && fail "$what: succeeded"
  [ "$(wc -l < "$root/err")" = 1 ] || fail "$what: standard error is not one line: $(cat "$root/err")"
  [ -z "$output" ] || [ -z "$(ls "$output"* 2>/dev/null)" ] || fail "$what: left $(ls "$output"*)"
}
expect_failure "unknown map" "$root/x.tmx" --export "$root/demo" nosuchmap "$root/x.tmx"
expect_failure "no project" "$root/x.tmx" --export "$root/nowhere" map0 "$root/x.tmx"
expect_failure "missing folder" "" --export "$root/demo" map0 "$root/nowhere/x.png"
expect_failure "existing map" "" --import "$root/map1.tmx" "$root/demo" map0
expect_failure "bad map name" "" --import "$root/map1.tmx" "$root/demo" "../x"
expect_failure "wrong arguments" "" --export "$root/demo"
expect_failure "unknown option" "" --frobnicate

# Installed: the program, its data, a menu entry and an icon; the data is
# found from bin/, each user's settings and recent project in their folder.
cmake --install "$build" --prefix "$root/usr" > /dev/null || fail "cmake --install"
(cd "$root/usr" && ls bin/moska2 share/moska2/{STONE.TTF,default.png,menubg.png,settings.ini} \
  share/applications/moska2.desktop share/icons/hicolor/scalable/apps/moska2.svg > /dev/null) || fail "not installed"
[ "$("$root/usr/bin/moska2" --version)" = "moska2 0.24a" ] || fail "installed --version"
export XDG_CONFIG_HOME=$root/config SDL_VIDEODRIVER=dummy
unshare -n "$root/usr/bin/moska2" "$root/demo" > "$root/installed.log" 2>&1 &  # its own port 34567
pid=$!
for _ in $(seq 200); do grep -q "Project loaded succesfully!" "$root/installed.log" && break; sleep 0.1; done
kill -TERM "$pid"; wait "$pid"
grep -q "^Loaded image: $root/usr/share/moska2/menubg.png!$" "$root/installed.log" || fail "data not found in share/moska2"
cmp -s "$root/config/moska2/settings.ini" "$root/usr/share/moska2/settings.ini" || fail "settings.ini not created in the user's folder"
[ -f "$root/config/moska2/recent.txt" ] && [ ! -e "$root/usr/share/moska2/recent.txt" ] ||
  fail "recent.txt not kept in the user's folder"
echo "exchange: ok"
