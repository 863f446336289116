#!/usr/bin/env bash
# Layers and the panel under Xvfb, real input, an editor on the example
# joined by a headless one: a new layer gets the strokes (the ground keeps
# its own), a moved layer stays current and gets them, undo of a move and of
# a deletion brings the layers back to their indexes (bytes of the saved
# map, and the joined editor's copy the same); P shows blocked
# quarters in red; a hidden layer is absent from the view, refuses paint and
# is still exported; "Forest_Gate" typed with Shift names the new map's
# file and its display name.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
app=$root/app bob=$root/bob carol=$root/carol
na=nl1$$ nb=nl2$$
moska_netns $na 10.84.0.1
moska_netns $nb 10.84.0.2
moska_demo "$app" net=1 ipserver=10.84.0.2
moska_demo "$bob" username=bob net=1 ipserver=10.84.0.1
sed -i 's/^CURRENTELEMENT .*/CURRENTELEMENT 17/' "$app/demo/PROJECT.MSK"  # a tile with blocked quarters
moska_xvfb_start
moska_open $nb "$bob"
moska_window $na "$app"
moska_join "$app" 10.84.0.2
for d in "$app" "$bob"; do moska_wait_log "$d" "^Action reseau: EXTENSIONS,.* LAYERS( [A-Z]+)*!$"; done
crop() { moska_screenshot "$root/s.png"; convert "$root/s.png" -crop 16x16+$((322 + 16 * $1))+$((16 * $2)) +repage "$3"; }
same() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = 0 ]; }
painted() { moska_wait_log "$app" "^setElementAbsolute\(0,$1,$2,2,17\);$"; }  # LAYER COLUMN (row 2)

moska_menu map
crop 3 2 "$root/ground.png"
# Add layer: the browser's row 0 is default.png; the new layer (2) is current.
moska_click 260 280; sleep 0.3
moska_click 50 294
moska_click $(moska_cell 3 2); painted 2 3
# Down: the layer moves to 1 and stays current.
moska_click 230 245; moska_wait_log "$app" "^Layer 2 de map0 deplace en 1\.$"
moska_click $(moska_cell 5 2); painted 1 5
moska_ctrl z; moska_wait_log "$app" "^Annulation pen stroke: 1 cellules"
moska_ctrl z; moska_wait_log "$app" "^Layer 1 de map0 deplace en 2\.$"
# Layer 1 (the example's top layer) deleted, then back at index 1.
xdotool mousemove 100 440 click 5 sleep 0.5
moska_click 250 310; moska_wait_log "$app" "^OK\.$"
moska_ctrl z; moska_wait_count "$app" "^Layer 2 de map0 deplace en 1\.$" 2
moska_ctrl s; moska_wait_log "$app" "^Saved 1 map$"
moska_wait_count "$bob" "^Action reseau: LAYERMOVE," 3   # the move, its undo, the deletion's undo
moska_quit "$bob"
moska_py "$MOSKA_DEMO/maps/map0.map" "$app/demo/maps/map0.map" "$bob/demo/maps/map0.map" <<'EOF' || fail "map0 after the undos"
d, m, b = read_map(sys.argv[1]), read_map(sys.argv[2]), read_map(sys.argv[3])
w, h = d["w"], d["h"]
new = [0] * (w * h); new[2 * w + 3] = 17
assert m["layers"][1:] == d["layers"], "the example's layers, in their order"   # stored top-down
assert m["layers"][0] == ["default", new, 0, 1, 1], m["layers"][0][2:]
assert b["layers"] == m["layers"], "the joined editor's layers differ"
EOF

# P: blocked quarters of tile 17 in red over the cell, then off again.
crop 3 2 "$root/shown.png"
same "$root/shown.png" "$root/ground.png" && fail "the new layer's cell is not drawn"
moska_key p; moska_wait_log "$app" "^Vue: quarts bloques montres\.$"; sleep 0.3
crop 3 2 "$root/blocked.png"
convert "$root/blocked.png" rgb:- | python3 -c '
import sys; b = sys.stdin.buffer.read()
red = sum(1 for i in range(0, len(b), 3) if b[i] > b[i + 1] + 60 and b[i] > b[i + 2] + 60)
sys.exit(0 if red >= 64 else 1)' || fail "no red quarter under P"
moska_key p; moska_wait_log "$app" "^Vue: quarts bloques caches\.$"

# Hidden: the view shows the ground again; painting is refused; export has it.
xdotool mousemove 100 440 click 4 sleep 0.5          # layer 2, the new one
moska_click 60 310; moska_wait_log "$app" "^Layer 2 cache dans la vue\.$"; sleep 0.3
crop 3 2 "$root/hidden.png"
same "$root/hidden.png" "$root/ground.png" || fail "a hidden layer's cell is drawn"
moska_click $(moska_cell 7 2); moska_wait_log "$app" "^Peinture refusee: le layer 2 est cache\.$"
moska_has "$app" "^setElementAbsolute\(0,2,7," && fail "a hidden layer was painted"
"$app/moska2" --export "$app/demo" map0 "$root/map0.tmx" > /dev/null || fail "export"
python3 - "$root/map0.tmx" <<'EOF' || fail "the hidden layer is not exported"
import sys, xml.etree.ElementTree as ET
layers = ET.parse(sys.argv[1]).getroot().findall("layer")
top = [int(v) for v in layers[-1].find("data").text.replace("\n", "").split(",")]
assert len(layers) == 3 and top[2 * 64 + 3] != 0 and top.count(0) == 64 * 48 - 1
EOF

moska_quit "$app" key

# Another editor: the new map "Forest_Gate", typed with Shift.
moska_demo "$carol"
moska_window - "$carol"
moska_menu main
moska_field 260 270 Forest_Gate
moska_click 280 342; moska_wait_log "$carol" "^Fin de la creation de map\.$"
moska_quit "$carol" key
moska_py "$carol/demo/maps/Forest_Gate.map" <<'EOF' || fail "maps/Forest_Gate.map"
assert read_map(sys.argv[1])["name"] == "Forest_Gate"
EOF
echo "layers: ok"
