#!/usr/bin/env bash
# Two editors in namespaces under Xvfb, real input: alice joins bob with the
# address field and Join. Her stroke, his cell over it, her rectangle; Ctrl+Z
# twice and Ctrl+Y leave his cell his; fill, pick, eraser, rename, a layer and
# its background values up to their limits, pass conditions, a deletion, a new
# map and the map browser reach bob; view and palette stay local. A layer
# name and a resize reach bob too (and his TMX export); with a base-protocol
# peer joined, a resize is refused and it gets nothing of the names. Both
# copies hold exactly the expected cells and files.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
na=ne1$$ nb=ne2$$ nc=ne3$$
for n in 1 2 3; do moska_netns ne$n$$ 10.78.0.$n; done
a=$root/alice b=$root/bob
moska_demo "$a" username=alice net=1 ipserver=10.78.0.9
moska_demo "$b" username=bob net=1
sed -i 's/^CURRENTELEMENT .*/CURRENTELEMENT 33/' "$b/demo/PROJECT.MSK"
applied() { moska_wait_log "${2:-$b}" "^Action reseau: $1!$" 20; }  # ACTION [DIR]

moska_xvfb_start
moska_window $na "$a"
moska_window $nb "$b" "${MOSKA_WIN[$a]}"
# Bob's window lower right; its map view starts at screen (706, 288).
xdotool windowmove "$MOSKA_WINDOW" 384 288; sleep 0.5
MOSKA_WINDOW=${MOSKA_WIN[$a]}
moska_join "$a" 10.78.0.2
moska_wait_log "$b" "^Connecte avec alice sur le tunnel 0 pour le serveur!$"
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"

# Alice: element 21, a stroke over cells (2..4, 3) of layer 0; bob paints
# (3, 3) with 33; alice's rectangle (R) from (6, 5) to (8, 7); undo, redo.
moska_pick21
xdotool mousemove 362 56 sleep 0.1 mousedown 1 sleep 0.2 mousemove 378 56 sleep 0.2 \
  mousemove 394 56 sleep 0.2 mouseup 1
applied "PARTTHIS!,map0 0 4 3 21"
moska_click 762 344
applied "PARTTHIS!,map0 0 3 3 33" "$a"
moska_key r; sleep 0.3
moska_click 426 88; sleep 0.3
moska_click 458 120 3
applied "DRAWSQUARE,map0 0 6 5 8 7 21"
moska_ctrl z; moska_wait_log "$a" "^Annulation rectangle: "
moska_ctrl z; moska_wait_log "$a" "^Annulation pen stroke: 2 cellules, 1 laissees"
moska_ctrl y; moska_wait_log "$a" "^Retablissement pen stroke: 2 cellules, 1 laissees"
# A fill with the pen's element at (10, 10), a pick of bob's tile at (3, 3),
# then (4, 3) erased.
moska_key f; sleep 0.3
moska_click 490 168
moska_wait_log "$a" "^Remplissage 10x10 par 21"
xdotool mousemove 378 56 sleep 0.1 keydown alt sleep 0.1 mousedown 1 sleep 0.2 mouseup 1 sleep 0.1 keyup alt
moska_wait_log "$a" "^Element 33 pris en 3x3\.$"
moska_key b; sleep 0.3                       # back to the pen
moska_click 394 56 3; applied "PARTTHIS!,map0 0 4 3 0"
moska_key Right; moska_key Down; sleep 0.3  # the view: local
moska_field 100 56 "shared village"
applied "SENDMAPSYSNAME,map0 shared village"
# A layer from dungeon.png, made a background, its x from 1 to 33 and no
# further, its y from 1 to -33 and no further, a tile layer again.
moska_click 260 280; sleep 0.5
moska_click 50 310; applied "ADDLAYER,map0 dungeon 0"
moska_move 100 440; xdotool click 4; sleep 0.5; xdotool click 4; sleep 0.5
moska_click 250 340; applied "SETLAYERBGXY,map0 2 1 1 1"
for i in $(seq 34); do moska_click 186 124; done
applied "SETLAYERBGXY,map0 2 1 33 1"
for i in $(seq 36); do moska_click 154 164; done
applied "SETLAYERBGXY,map0 2 1 33 -33"
moska_click 250 340; applied "SETLAYERBGXY,map0 2 0 33 -33"
# Pass conditions of dungeon: element 1's top-left and element 20's
# bottom-right quarters blocked, pushed to bob.
moska_click 260 390; moska_wait_log "$a" "^pcok$"
moska_click 20 73; sleep 0.3
moska_click 77 113; sleep 0.3  # element 20: row 2, column 4 of the 8-column sheet
moska_click 260 390; applied "SENDPC,dungeon"
# Delete layer 1.
moska_move 100 440; xdotool click 5; sleep 0.5
moska_click 250 310; applied "LAYERDEL,map0 1"   # the map by name, between editors that know it
# "main" menu: a new map, then back to map0 through the map browser.
moska_menu main
moska_field 260 270 cave; moska_field 260 300 64; moska_field 260 320 32
moska_click 280 342
applied "NEWMAP,cave 64 32"
applied "SILENTOPEN,cave"
moska_wait_log "$a" "^Fin de la creation de map\.$"
sleep 0.5
moska_click 50 280                       # row 1: map0.map
applied "SILENTOPEN,map0"
moska_wait_log "$b" "^Fermeture de la map inutilisee cave\.$"
moska_has "$a" "^Map actuelle map0 utilisee en reseau$" &&
  moska_has "$a" "^Map a ouvrir map0 utilisee en reseau$" || fail "map0 not seen in use by bob"
# Map tab: layer 0 named, map0 resized to 40x30 (the sidecar and the size reach bob).
moska_menu map
moska_field 100 280 "Old Road"; applied "LAYERNAME,map0 0 Old Road"
moska_wait_log "$b" "^Map map0: layer 0 nomme Old Road\.$"
moska_field 40 366 40; moska_field 116 366 30; moska_click 183 366
applied "MAPRESIZE,map0 40 30"
# A base-protocol peer joins alice: the resize is refused, and of the next
# name only bob hears.
ip netns exec $nc "$MOSKA_TOOL" 10.78.0.1 carol 0.24a join expect DISCONNECT! > "$root/carol.txt" 2>&1 &
carol=$!
moska_wait_log "$a" "^Connecte avec carol sur le tunnel [0-9]+ pour le serveur!$"
moska_field 40 366 20; moska_click 183 366
moska_wait_log "$a" "^Redimensionnement refuse: 1 connected editor of an older version would keep the old size\.$"
moska_field 100 280 "Road"; applied "LAYERNAME,map0 0 Road"

moska_quit "$a" key
moska_quit "$b"
wait $carol || fail "carol got no DISCONNECT!: $(cat "$root/carol.txt")"
# Carol, of the base protocol, got the extension words and the disconnect alone.
got=$(grep '|' "$root/carol.txt" | sed 's/^EXTENSIONS|AUTH SYNC\( [A-Z]*\)*$/EXTENSIONS|words/')
[ "$got" = "EXTENSIONS|words
DISCONNECT!|" ] || fail "carol received: $(cat "$root/carol.txt")"
"$b/moska2" --export "$b/demo" map0 "$root/bob.tmx" > /dev/null || fail "bob's export"
python3 - "$root/bob.tmx" "$a/demo/mapdata/map0.json" "$b/demo/mapdata/map0.json" <<'EOF' || fail "layer names"
import sys, json, xml.etree.ElementTree as ET
assert [l.get("name") for l in ET.parse(sys.argv[1]).getroot().findall("layer")] == ["Road", "dungeon"]
for f in sys.argv[2:]:
    assert json.load(open(f))["layerNames"] == [{"name": "Road", "tileset": "default"}, None], f
EOF
# Bob got alice's extensions and the map she shows, then only the shared
# commands, in order (the sync actions between them aside).
got=$(sed -n 's/^!\{0,1\}Action reseau: \([^,]*\),.*/\1/p' "$b/log.txt" | grep -vE '^!?(STAMP|SYNC)' | uniq | tr '\n' ' ')
[[ $got =~ ^EXTENSIONS\ SILENTOPEN\ ((PARTTHIS!|DRAWSQUARE|CELLS)\ )+SENDMAPSYSNAME\ ADDLAYER\ SETLAYERBGXY\ SENDPC\ LAYERDEL\ NEWMAP\ SILENTOPEN\ SENDMAPSYSNAME\ SILENTOPEN\ LAYERNAME\ MAPRESIZE\ LAYERNAME\ $ ]] ||
  fail "bob received: $got"
moska_py "$MOSKA_DEMO" "$a/demo" "$b/demo" <<'EOF' || fail "the copies differ from what the actions make"
demo, da, db = sys.argv[1:]
m = read_map(demo + "/maps/map0.map")
w, h, want = m["w"], m["h"], m["layers"][-1][1]
W, H = 40, 30   # resized: the old cells kept from the top-left
want[3 * w + 2] = 21; want[3 * w + 3] = 33
old, stack = want[10 * w + 10], [(10, 10)]
while stack:
    x, y = stack.pop()
    if 0 <= x < w and 0 <= y < h and want[y * w + x] == old:
        want[y * w + x] = 21
        stack += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]
want[3 * w + 4] = 0
ma, mb = (read_map(d + "/maps/map0.map") for d in (da, db))
assert (ma["w"], ma["h"]) == (mb["w"], mb["h"]) == (W, H), (ma["w"], ma["h"], mb["w"], mb["h"])
want = [want[y * w + x] for y in range(H) for x in range(W)]
w, h = W, H
la, lb = ma["layers"], mb["layers"]
print(ma["name"], mb["name"], ma["view"], mb["view"], [l[0] for l in la], [l[0] for l in lb])
assert ma["name"] == mb["name"] == "shared village" and ma["rest"] == mb["rest"] == b"$"
assert ma["view"] != (0, 0) and mb["view"] == (0, 0)   # the view stayed with alice
assert [l[0] for l in la] == ["dungeon", "default"] and la == lb   # stored top-down
assert la[0][2:] == [0, 33, -33]
base = la[1][1]
bad = [(i % w, i // w, base[i], want[i]) for i in range(w * h) if base[i] != want[i]]
assert not bad, bad[:8]
# cave: named as typed, 64x32 at view 0,0, one empty "default" layer, scroll 0,0.
s = lambda t: struct.pack("<H", len(t) + 1) + t.encode() + b"\0"
cave = (b"$" + s("cave") + s("cave") + struct.pack("<IIIIH", 64, 32, 0, 0, 1) + s("default")
        + bytes(4 * 64 * 32) + struct.pack("<bhh", 0, 0, 0) + b"$")
pss = bytearray(open(demo + "/layerspc/dungeon.pss", "rb").read())
pss[4 * 1 + 0] = pss[4 * 20 + 3] = 0
for d in (da, db):
    assert open(d + "/maps/cave.map", "rb").read() == cave, d + ": cave.map"
    assert open(d + "/layerspc/dungeon.pss", "rb").read() == pss, d + ": dungeon.pss"
EOF
echo "two editors: ok"
