#!/usr/bin/env bash
# Takes the README's screenshots of the editor on the example project:
#   bash scripts/screenshots.sh [OUT_DIR]   (default docs/screenshots)
set -eu
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
mkdir -p "$out"
source tests/e2e/lib.sh
trap 'set +e; moska_cleanup' EXIT  # the clean-up goes on past what is gone already
root=$(mktemp -d /tmp/moska-shots-XXXXXX)
moska_app "$root/app"
cp -r examples/demo "$root/demo"
moska_xvfb_start
shot() { sleep 0.6; import -window root -crop 640x480+0+0 "$out/$1.png"; }

moska_start "$root/app" "?"
moska_wait_window
shot choose
moska_key Escape
moska_wait_exit 20

moska_start "$root/app" "$root/demo/PROJECT.MSK"
moska_wait_window
moska_wait_log "$root/app" "Project loaded succesfully!"
moska_click 20 10
shot main
moska_click 150 10
moska_click 89 94
moska_click 362 120
shot map
moska_key p
shot blocked
moska_key p
# A selection (S and a drag on the map) and a 2x2 stamp dragged out of the
# palette, its preview under the pointer (B: the pen).
moska_key s
xdotool mousemove 410 216 sleep 0.1 mousedown 1 sleep 0.2 mousemove 474 280 sleep 0.2 mouseup 1
xdotool mousemove 9 158 sleep 0.1 mousedown 1 sleep 0.15 mousemove 25 174 sleep 0.15 mouseup 1
moska_key b
moska_move 550 120
shot stamp
moska_key Escape  # drops the stamp and the selection
moska_click 260 390
shot passconditions
moska_click 260 390
# The window made larger, the map at 1/2 with its grid and the overview.
xdotool windowsize "$MOSKA_WINDOW" 900 600
moska_wait_log "$root/app" "^Fenetre 900x600\.$" || exit 1  # in a test: set -e would stop at its first look
moska_move 600 300
moska_key minus
moska_key g
moska_key m
moska_move 500 560
sleep 0.6
import -window root -crop 900x600+0+0 "$out/zoom.png"
moska_key Escape
moska_wait_exit 20

# Entities: three definitions (a door drawn with a tile, with a reference
# to another door), instances on map0, a chest selected: its fields on the
# panel.
e=$root/ent
cp -r examples/demo "$e"
mkdir -p "$e/models" "$e/mapdata"
cat > "$e/models/Door.json" <<'JSON'
{"name": "Door", "size": [1, 2], "colour": "#8040c0", "tile": {"tileset": "default", "element": 52},
 "fields": [{"name": "to", "type": "reference"}, {"name": "locked", "type": "boolean"}]}
JSON
cat > "$e/models/Chest.json" <<'JSON'
{"name": "Chest", "colour": "#e0a020", "fields": [{"name": "gold", "type": "integer", "min": 0, "max": 999},
 {"name": "kind", "type": "choice", "choices": ["wood", "iron", "gold"]}, {"name": "label", "type": "text"}]}
JSON
cat > "$e/models/PlayerStart.json" <<'JSON'
{"name": "PlayerStart", "colour": "#20c040", "limit": 1, "fields": [{"name": "facing", "type": "choice", "choices": ["north", "south"]}]}
JSON
cat > "$e/mapdata/map0.json" <<'JSON'
{"entities": [
 {"id": "1a2b3c4d5e6f7081", "model": "Door", "x": 64, "y": 96, "fields": {"to": "9a8b7c6d5e4f3021"}},
 {"id": "9a8b7c6d5e4f3021", "model": "Door", "x": 224, "y": 48},
 {"id": "2b3c4d5e6f708192", "model": "Chest", "x": 144, "y": 160, "fields": {"gold": 120, "kind": "iron", "label": "key room"}},
 {"id": "3c4d5e6f70819203", "model": "PlayerStart", "x": 32, "y": 224}]}
JSON
moska_start "$root/app" "$e/PROJECT.MSK"
moska_wait_window
moska_wait_log "$root/app" "Project loaded succesfully!"
moska_click 250 10
moska_click $((322 + 144 + 8)) $((160 + 8))
moska_move 600 400
shot entities
moska_key Escape
moska_key Escape
moska_wait_exit 20

# Presence: bob, in a namespace of his own with a display of his own, joins
# alice and points at a cell; her screen shows his pointer and name in his
# colour, and her overview frames the part of the map he is looking at.
a=$root/alice b=$root/bob
moska_netns nsa$$ 10.88.0.1
moska_netns nsb$$ 10.88.0.2
moska_demo "$a" username=alice net=1 ipserver=10.88.0.2
moska_demo "$b" username=bob net=1 ipserver=10.88.0.1
echo "COLOUR #ff00ff" >> "$b/settings.ini"
moska_window -d nsb$$ "$b"
moska_window -d nsa$$ "$a"
moska_on "$b" moska_join "$b" 10.88.0.1 || exit 1  # (set -e would stop inside it at its first look)
moska_wait_log "$a" "^Client bob sur la map map0\.$" || true
moska_on "$b" moska_menu map
moska_on "$b" moska_key Right
moska_on "$b" moska_key Down
moska_on "$b" xdotool mousemove 430 170
moska_on "$a" moska_menu map
moska_on "$a" moska_key m
moska_on "$a" xdotool mousemove 100 460
sleep 1
moska_on "$a" import -window root -crop 640x480+0+0 "$out/presence.png"
echo "screenshots in $out"
