#!/usr/bin/env bash
# The project-selection screen under Xvfb: create a project, edit it, quit,
# and reopen it from "recent.txt".
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
app=$root/app
moska_app "$app"
echo "left here to be listed" > "$app/notes.txt"
moska_xvfb_start

moska_start "$app" "?"
moska_wait_window || fail "no window"
moska_wait_log "$app" "^projectPath:$app!$"
# ".." is the first row: its band (y 15..34) is idle yellow, its name black bold.
moska_wait_colours 200x16+2+16 3 "$root/choose.png"
# A hovered row leaves its idle look; a plain file's band is solid red, edge
# included: find notes.txt's row by scanning.
found=""
for k in $(seq 0 20); do
  y=$((1 + 16 * k + 24))
  xdotool mousemove 150 $y
  moska_wait_pixel 150 $((1 + 16 * k + 20)) 'srgb\(128,128,255\)|srgb\(0,255,0\)|lime|srgb\(255,0,0\)|red' \
    "$root/hover.png" 1 || continue
  c=$(convert "$root/hover.png" -format '%[pixel:p{1,'$((1 + 16 * k + 20))'}]' info:)
  case "$c" in srgb\(255,0,0\)|red) found=$k; break ;; esac
done
[ -n "$found" ] || fail "no red band on a plain file"

# Type a name and press the new-project button.
moska_click 60 442
moska_key Delete   # the field starts with "newgame"
moska_type "mygame"
moska_key Return
moska_click 269 446
moska_wait_log "$app" "^Project loaded\.$"
proj=$app/mygame
[ -f "$proj/PROJECT.MSK" ] || fail "no project file"
for d in layers layerspc maps models; do [ -d "$proj/$d" ] || fail "no $d folder"; done
cmp -s "$proj/layers/default.png" "$app/default.png" || fail "default.png not copied"
printf 'NAME mygame\nCRC 777\nMAPINDEX 0\nMAPS 0\nCURRENTMAP 0\nCURRENTLAYER 0\nCURRENTELEMENT 0\nELEMENTINDEX 0\nCURRENTMENU main\nWORKINGMAP map0\n' > "$root/template"
# The template was written before loading; the file is rewritten only at quit.
cmp -s "$proj/PROJECT.MSK" "$root/template" || fail "project file is not the template"
printf '%s/PROJECT.MSK\0' "$proj" > "$root/recent"
cmp -s "$app/recent.txt" "$root/recent" || fail "recent.txt is not the path and a NUL"
grep -q "^Start project...$" "$app/log.txt" || fail "no Start project line"
moska_wait_colours 322x480+0+0 21 "$root/editor.png"  # the editor's panel
moska_key Escape
moska_wait_exit 20
[ "$MOSKA_STATUS" = 0 ] || fail "status $MOSKA_STATUS"
grep -qx "MAPS 1" "$proj/PROJECT.MSK" || fail "MAPS not 1"
grep -qx "WORKINGMAP map0" "$proj/PROJECT.MSK" || fail "WORKINGMAP"
# "$", "New map 0", "map0", 512x512 at view 0,0, one layer "default" of
# 512*512 empty cells, not a background, scroll 1,1, "$".
{ printf '$\012\000New map 0\000\005\000map0\000\000\002\000\000\000\002\000\000'
  printf '\000\000\000\000\000\000\000\000\001\000\010\000default\000'
  head -c $((4 * 512 * 512)) /dev/zero
  printf '\000\001\000\001\000$'; } > "$root/map0.want"
cmp "$proj/maps/map0.map" "$root/map0.want" || fail "map0.map is not the new empty map"

# Started again without argument: the same project from recent.txt.
moska_start "$app"
moska_wait_log "$app" "^Project loaded\.$"
grep -q "^Verifying recent $proj/PROJECT.MSK...$" "$app/log.txt" || fail "recent not verified"
grep -q "^Ouverture de la map map0...$" "$app/log.txt" || fail "map0 not reopened"
moska_wait_window
moska_key Escape
moska_wait_exit 20
[ "$MOSKA_STATUS" = 0 ] || fail "status $MOSKA_STATUS on the second run"
[ -n "${MOSKA_SHOTS:-}" ] && cp "$root/choose.png" "$root/editor.png" "$MOSKA_SHOTS"/
echo "project choice: ok"
