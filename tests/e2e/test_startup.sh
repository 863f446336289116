#!/usr/bin/env bash
# Start-up, saving and quit: statuses for a missing settings file, a bad
# argument, unreadable and read-only files; under Xvfb the selection screen
# creates a project (files byte for byte) that a start without argument
# reopens; the example project shows its banner, caption, size,
# panel and map; Ctrl+S and autosave outlast SIGKILL.
set -u
source "$(dirname "$0")/lib.sh"
mounts=()
cleanup() {
  local status=$? m
  ( moska_cleanup ) || status=1
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  exit $status
}
moska_root cleanup
chmod 755 "$root"
app=$root/app log=$root/app/log.txt
ended() {  # STATUS WHAT
  moska_wait_exit 20
  [ "$MOSKA_STATUS" = "$1" ] || fail "$2: status $MOSKA_STATUS, expected $1"
}
moska_app "$app"
rm "$app/settings.ini"
SDL_VIDEODRIVER=dummy moska_start "$app"
ended 8 "without settings.ini"
grep -qx "ERROR: can't load (r+) file: $app/settings.ini!" "$log" || fail "missing openFile error line"
moska_app "$app" username=alice
SDL_VIDEODRIVER=dummy moska_start "$app" /nonexistent/folder
ended 6 "a bad project argument"
# Project files it may not read or write: the file named, the status, every
# file as it was. The editor runs as "nobody" (root ignores file modes);
# read-only media are a read-only bind mount, before the start or while it runs.
chown -R nobody:nogroup "$app"
# project | what is done to it | file that breaks | status | mode of the failed open
while IFS='|' read -r p how file want mode; do
  d=$root/$p
  cp -r "$MOSKA_DEMO" "$d"; cp -r "$d" "$d.orig"; chown -R nobody:nogroup "$d"
  case $how in
    chmod*) chmod ${how#chmod } "$d/$file" ;;
    ro) mount --bind "$d" "$d" && mounts+=("$d") && mount -o remount,ro,bind "$d" || fail "$p: mount" ;;
    ro-later) mount --bind "$d" "$d" && mounts+=("$d") || fail "$p: mount" ;;
  esac
  setpriv --reuid=nobody --regid=nogroup --clear-groups env SDL_VIDEODRIVER=dummy \
    "$app/moska2" "$d/PROJECT.MSK" > "$log" 2>&1 &
  MOSKA_PID=$!; MOSKA_PIDS+=("$MOSKA_PID"); MOSKA_LOGS+=("$log")
  if [ "$how" = ro-later ]; then
    # The quit cannot write the project file.
    moska_wait_log "$app" "Project loaded succesfully!"
    mount -o remount,ro,bind "$d" || fail "$p: remount read-only"
    kill -TERM "$MOSKA_PID"
  fi
  moska_wait_exit 20
  [ "$MOSKA_STATUS" = "$want" ] || fail "$p ($how): status $MOSKA_STATUS, expected $want"
  grep -qxF "ERROR: can't load ($mode) file: $d/$file!" "$log" || fail "$p ($how): no error line: $(tail -n 5 "$log")"
  diff -r "$d" "$d.orig" > /dev/null || fail "$p ($how): files changed"
done <<'CASES'
p1|chmod 000|PROJECT.MSK|6|r+
p2|chmod 444|PROJECT.MSK|6|r+
p3|chmod 000|maps/map0.map|7|rb
p4|ro|PROJECT.MSK|6|r+
p5|ro-later|PROJECT.MSK|6|w+
CASES

# The project-selection screen: ".." is the first row (idle yellow band, black
# bold name).
moska_xvfb_start
moska_start "$app" "?"
moska_wait_window || fail "no window"
moska_wait_log "$app" "^projectPath:$app!$"
moska_wait_colours 200x16+2+16 3 "$root/choose.png"
moska_field 60 442 "mygame"   # the field starts with "newgame"
moska_field 150 442 40        # the first map's width; its height stays 48
moska_click 269 446
moska_wait_log "$app" "^Project loaded\.$"
proj=$app/mygame
for d in layers layerspc maps models; do [ -d "$proj/$d" ] || fail "no $d folder"; done
cmp -s "$proj/layers/default.png" "$app/default.png" || fail "default.png not copied"
# The template is written before loading; the file is rewritten only at quit.
printf 'NAME mygame\nCRC 777\nMAPINDEX 0\nMAPS 0\nCURRENTMAP 0\nCURRENTLAYER 0\nCURRENTELEMENT 0\nELEMENTINDEX 0\nCURRENTMENU main\nWORKINGMAP map0\n' |
  cmp -s "$proj/PROJECT.MSK" - || fail "project file is not the template"
printf '%s/PROJECT.MSK\0' "$proj" | cmp -s "$app/recent.txt" - || fail "recent.txt is not the path and a NUL"
grep -q "^Start project...$" "$log" || fail "no Start project line"
moska_wait_colours 322x480+0+0 21 "$root/editor.png"  # the editor's panel
moska_key Escape
ended 0 "after Escape"
grep -q "^Saving project $proj/...$" "$log" && grep -q "Programme termine." "$log" || fail "no save or end line"
grep -qx "MAPS 1" "$proj/PROJECT.MSK" && grep -qx "WORKINGMAP map0" "$proj/PROJECT.MSK" || fail "project file at quit"
# "$", "New map 0", "map0", 40x48 at view 0,0, one layer "default" of
# 40*48 empty cells, not a background, scroll 1,1, "$".
{ printf '$\012\000New map 0\000\005\000map0\000\050\000\000\000\060\000\000\000'
  printf '\000\000\000\000\000\000\000\000\001\000\010\000default\000'
  head -c $((4 * 40 * 48)) /dev/zero
  printf '\000\001\000\001\000$'; } | cmp "$proj/maps/map0.map" - || fail "map0.map is not the new empty map"
# Without argument: the recent project again.
moska_start "$app"
moska_wait_log "$app" "^Project loaded\.$"
grep -q "^Verifying recent $proj/PROJECT.MSK...$" "$log" || fail "recent not verified"
grep -q "^Ouverture de la map map0...$" "$log" || fail "map0 not reopened"
moska_wait_window
moska_key Escape
ended 0 "on the reopening run"

# The example project: banner, argument, caption, window size,
# panel and map drawn. Cell (x, 2) of layer 1 painted, saved by Ctrl+S or on a
# second run by autosave (1.2 s), outlasts SIGKILL; before it the layer order
# buttons swap map0's two layers, the moved layer staying current: "up" (the
# paint lands on it), then "down" and the wheel up to the other layer.
cp -r "$MOSKA_DEMO" "$app/demo"
sed -i 's/^CURRENTELEMENT .*/CURRENTELEMENT 7/' "$app/demo/PROJECT.MSK"
layers() {  # FROM COLUMN FROM COLUMN: map0's layers as stored (top first), the example's stored FROM with cell (COLUMN, 2) at 7
  moska_py "$MOSKA_DEMO/maps/map0.map" "$app/demo/maps/map0.map" "$@" <<'EOF' || fail "$HOW: map0 is not $*"
d, m = read_map(sys.argv[1]), read_map(sys.argv[2])
for k, (src, x) in enumerate(zip(sys.argv[3::2], sys.argv[4::2])):
    want = d["layers"][int(src)][1]
    if x != "-": want[2 * d["w"] + int(x)] = 7
    assert m["layers"][k][1] == want, k
assert m["rest"] == b"$"
EOF
}
saved_then_killed() {  # COLUMN HOW: paints on layer 1
  local saves; saves=$(moska_count "$app" "^Saved 1 map$")
  moska_click $((322 + 16 * $1 + 15)) 40   # the cell's last pixel column
  moska_wait_log "$app" "^setElementAbsolute\(0,1,$1,2,7\);$"
  [ "$2" = key ] && moska_ctrl s
  moska_wait_count "$app" "^Saved 1 map$" +$((saves + 1)) 20
  kill -9 "$MOSKA_PID"; wait "$MOSKA_PID" 2>/dev/null
  HOW=$2
}
moska_window - "$app"
printf 'MOSKA 2 0.24a\n============\n%s\n' "$app/demo/PROJECT.MSK" | cmp -s - <(head -3 "$log") || fail banner
[ "$(xdotool getwindowname "$MOSKA_WINDOW")" = "MOSKA 2 version 0.24a" ] || fail "caption"
eval "$(xdotool getwindowgeometry --shell "$MOSKA_WINDOW")"
[ "$WIDTH" = 640 ] && [ "$HEIGHT" = 480 ] || fail "window is ${WIDTH}x${HEIGHT}"
moska_wait_colours 318x480+322+0 21 "$root/shot.png"
moska_menu map
moska_click 270 245                        # layer 0 up: the current layer is 1
saved_then_killed 3 key
layers 1 3 0 -
grep -q "^Sauvegarde de 1 map(s)" "$log" || fail "no save line"
echo "AUTOSAVE 0.02" >> "$app/settings.ini"
moska_window - "$app"
moska_menu map
moska_move 100 440; xdotool click 4 sleep 0.5   # layer 1, down, layer 0
moska_click 230 245
xdotool mousemove 100 440 click 4 sleep 0.5   # layer 0 is current again: up to 1
moska_wait_log "$app" "^Saved 1 map$"   # the new order, autosaved before the paint
saved_then_killed 5 autosave
layers 0 5 1 3
grep -q "^autosave: 0.02$" "$log" && grep -q "^Sauvegarde automatique de 1 map(s)" "$log" || fail "no autosave"
echo "startup: ok"
