#!/usr/bin/env bash
# The editor as a user drives it under Xvfb, on a fresh project: palette, pen,
# eraser, rectangle brush, renaming, a new map, the map browser, layers,
# background values, layer order, pass conditions; then the files and the log.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
app=$root/app
log=$app/log.txt
moska_app "$app"
moska_xvfb_start

moska_start "$app" "?"
moska_wait_window || fail "no window"
moska_wait_log "$app" "^projectPath:"
moska_field 60 442 "fresh"
moska_click 269 446
moska_wait_log "$app" "^Project loaded\.$"
proj=$app/fresh
cp "$MOSKA_DEMO/layers/dungeon.png" "$proj/layers/"   # a second tileset for the project
moska_wait_colours 322x480+0+0 21 "$root/panel.png"
pause() { sleep "${1:-0.3}"; }

# "map" menu: pick element 21 (palette row 1, column 3), paint, erase.
moska_click 150 10; pause
moska_click 57 94; pause
moska_click 362 56; pause          # cell (2, 3)
moska_click 394 56; pause          # cell (4, 3)
moska_click 394 56 3; pause        # erased
# The rectangle brush: left click on (6, 5), right click on (8, 7), back to the pen.
moska_click 250 52; pause
moska_click 426 88; pause
moska_click 458 120 3; pause
moska_click 250 52; pause
grep -qx "Brush SQUARE 6x5->8x7" "$log" || fail "no Brush SQUARE line"

moska_field 100 56 "my dungeon level"; pause   # the map's name

# "main" menu: a 64x32 map named cave, then map0 again from the map browser.
moska_click 20 10; pause
moska_field 260 270 cave; moska_field 260 300 64; moska_field 260 320 32
moska_click 280 342
moska_wait_log "$app" "^Fin de la creation de map\.$"
[ -f "$proj/maps/map0.map" ] || fail "map0 not saved when left"
cp "$proj/maps/map0.map" "$root/map0_first.map"
moska_click 50 280                 # row 1: map0.map (cave.map is row 0)
moska_wait_log "$app" "^Map map0 ouverte avec succes\.$"

# "map" menu: a layer from dungeon.png, made a background, moved to the limits.
moska_click 150 10; pause
moska_click 260 280; pause 0.5
moska_click 50 310; pause          # row 1: dungeon.png
moska_move 100 440; xdotool click 4; pause 0.5   # wheel: the new layer
moska_click 250 340; pause         # to background
for i in $(seq 34); do moska_click 186 124; done  # x + 1, from 1 to 33 and no further
for i in $(seq 36); do moska_click 154 164; done  # y - 1, from 1 to -33 and no further
pause 0.5
moska_click 250 340; pause         # back to a tile layer
moska_click 230 245; pause         # layer order: dungeon below default
moska_click 260 280; pause 0.5
moska_click 50 294; pause          # row 0: default.png, a third layer
moska_move 100 440; xdotool click 4; pause 0.5
moska_click 250 310; pause         # delete it

# Pass conditions of the dungeon tileset (layer 0 is current after a deletion).
moska_click 260 390
moska_wait_log "$app" "^pcok$"
moska_click 20 73 3; pause         # element 1, top-left quarter blocked
moska_click 45 98 3; pause         # element 20, bottom-right quarter blocked
moska_click 260 390; pause 0.5
moska_key Escape
moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "status $MOSKA_STATUS after Escape"

python3 - "$root" "$proj" <<'EOF' || fail "files differ from what the actions must produce"
import re, struct, sys
root, proj = sys.argv[1], sys.argv[2]
W = H = 512
cells = {c: 21 for c in [(2, 3)] + [(x, y) for y in range(5, 8) for x in range(6, 9)]}
def s(t):
    b = t.encode() + b"\0"
    return struct.pack("<H", len(b)) + b
def layer(name, w, h, cells, bg, x, y):
    e = bytearray(4 * w * h)
    for (cx, cy), v in cells.items():
        struct.pack_into("<i", e, 4 * (cy * w + cx), v)
    return s(name) + bytes(e) + struct.pack("<bhh", bg, x, y)
def mapfile(sysname, fname, w, h, layers_topdown):
    return (b"$" + s(sysname) + s(fname) + struct.pack("<IIIIH", w, h, 0, 0, len(layers_topdown))
            + b"".join(layers_topdown) + b"$")
first = mapfile("my dungeon level", "map0", W, H, [layer("default", W, H, cells, 0, 1, 1)])
final = mapfile("my dungeon level", "map0", W, H,
                [layer("default", W, H, cells, 0, 1, 1), layer("dungeon", W, H, {}, 0, 33, -33)])
cave = mapfile("New map", "cave", 64, 32, [layer("default", 64, 32, {}, 0, 0, 0)])
ok = True
for label, path, want in (("map0 when left", f"{root}/map0_first.map", first),
                          ("map0 at exit", f"{proj}/maps/map0.map", final),
                          ("cave", f"{proj}/maps/cave.map", cave)):
    got = open(path, "rb").read()
    if got != want:
        ok = False
        diff = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]), None)
        print(f"{label}: {len(got)} bytes, want {len(want)}, first difference at {diff}")
pss = bytearray([1] * 128)        # dungeon.png: 8 x 4 tiles
pss[4 * 1 + 0] = 0
pss[4 * 20 + 3] = 0
if open(f"{proj}/layerspc/dungeon.pss", "rb").read() != bytes(pss):
    ok = False
    print("dungeon.pss differs")
sys.exit(0 if ok else 1)
EOF
echo "editor: ok"
