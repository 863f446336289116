#!/usr/bin/env bash
# Zoom and getting around, with real input under Xvfb: Ctrl+wheel zooms in
# and out around the pointer and leaves the layer alone (the map menu's
# wheel would change it); a click at 1/4 paints the cell under the pointer;
# the window resized by the window system, the view fills it and a click
# beyond the old width paints the cell under the pointer; M's overview,
# clicked, moves the view there. Cells and view byte-checked in the saved map.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
app=$root/app
moska_demo "$app"
sed -i 's/^CURRENTELEMENT .*/CURRENTELEMENT 7/; s/^CURRENTMENU .*/CURRENTMENU map/' "$app/demo/PROJECT.MSK"
moska_xvfb_start
moska_window - "$app"

# Ctrl held over a wheel notch: one scale a notch.
wheel() {
  moska_focus
  xdotool keydown ctrl sleep 0.1 click "$1" sleep 0.2 keyup ctrl sleep 0.1
}
moska_move 480 240
wheel 4
moska_wait_log "$app" "^Zoom 2$"
for z in 1 1/2 1/4; do
  wheel 5
  moska_wait_log "$app" "^Zoom $z$"
done
# At 1/4 a cell is 4 pixels and the 64x48 map lies at the view's corner.
moska_click $((322 + 4 * 20 + 1)) $((4 * 30 + 3))
moska_wait_log "$app" "^setElementAbsolute\(0,0,20,30,7\);$"

xdotool windowsize "$MOSKA_WINDOW" 900 600
moska_wait_log "$app" "^Fenetre 900x600\.$"
moska_wait_colours 578x600+322+0 21 "$root/resized.png"
moska_key 0
moska_wait_log "$app" "^Zoom 1$"
moska_key m
moska_wait_log "$app" "^Apercu de la map en "
read -r ox oy ow oh < <(sed -n 's/^Apercu de la map en \([0-9]*\)x\([0-9]*\) (\([0-9]*\)x\([0-9]*\))\.$/\1 \2 \3 \4/p' "$app/log.txt")
moska_click $((ox + ow / 2)) $((oy + oh / 2))
moska_wait_log "$app" "^Apercu: vue en "
read -r vx vy < <(sed -n 's/^Apercu: vue en \([0-9]*\)x\([0-9]*\)\.$/\1 \2/p' "$app/log.txt" | tail -n 1)
# Right of the old 640-pixel window, left of the overview: the cell there at 1:1.
x=700 y=300 col=$(((vx + 700 - 322) / 16)) row=$(((vy + 300) / 16))
moska_click $x $y
moska_wait_log "$app" "^setElementAbsolute\(0,0,$col,$row,7\);$"
moska_ctrl s
moska_wait_log "$app" "^Saved 1 map$"
moska_py "$MOSKA_DEMO/maps/map0.map" "$app/demo/maps/map0.map" "$col" "$row" "$vx" "$vy" <<'EOF' || fail "saved map"
d, m = read_map(sys.argv[1]), read_map(sys.argv[2])
col, row, vx, vy = map(int, sys.argv[3:7])
changed = sorted((k, i % d["w"], i // d["w"], m["layers"][k][1][i])
                 for k in range(len(d["layers"])) for i in range(d["w"] * d["h"])
                 if d["layers"][k][1][i] != m["layers"][k][1][i])
layer = changed[0][0] if changed else -1
assert changed == sorted([(layer, 20, 30, 7), (layer, col, row, 7)]), changed
assert m["view"] == (vx, vy), m["view"]
EOF
moska_quit "$app" key
echo "zoom: ok"
