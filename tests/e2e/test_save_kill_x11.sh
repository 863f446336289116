#!/usr/bin/env bash
# Saving without quitting: a painted cell, Ctrl+S, then SIGKILL: the cell is in
# the map file. Then the same with autosave every 1.2 seconds and no key.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
a=$root/app
moska_app "$a" net=0
cp -r "$demo" "$a/demo"
sed -i 's/^CURRENTELEMENT .*/CURRENTELEMENT 7/' "$a/demo/PROJECT.MSK"
size=$(stat -c %s "$demo/maps/map0.map")
# Cell (x, 2) of layer 0 of the 64-wide map: its record is the last one, so
# the cells end 6 bytes before the end marker. "broken" unless the file is whole.
cell() {
  local f=$a/demo/maps/map0.map
  [ "$(stat -c %s "$f")" = "$size" ] && [ "$(tail -c 1 "$f")" = '$' ] || { echo broken; return; }
  od -An -t d4 -j $((size - 6 - 4 * 64 * 48 + 4 * (2 * 64 + $1))) -N 4 "$f" | tr -d ' '
}
moska_xvfb_start

run() {  # $1: extra settings line, $2: cell column, $3: how the save is made
  [ -n "$1" ] && echo "$1" >> "$a/settings.ini"
  moska_start "$a" "$a/demo/PROJECT.MSK"
  moska_wait_window || fail "no window"
  moska_wait_log "$a" "Project loaded succesfully!"
  sleep 0.5
  moska_click $((322 + 16 * $2 + 8)) 40
  moska_wait_log "$a" "^setElementAbsolute\(0,0,$2,2,7\);$"
  [ "$3" = key ] && { moska_focus; xdotool keydown ctrl keydown s; sleep 0.15; xdotool keyup s keyup ctrl; }
  moska_wait_log "$a" "^Saved 1 map$" 20
  kill -9 "$MOSKA_PID"
  wait "$MOSKA_PID" 2>/dev/null
  [ "$(cell "$2")" = 7 ] || fail "$3: cell ($2, 2) is $(cell "$2") after the kill"
}
run "" 3 key
grep -q "^Sauvegarde de 1 map(s)" "$a/log.txt" || fail "no save line"
run "AUTOSAVE 0.02" 5 autosave
grep -q "^autosave: 0.02$" "$a/log.txt" || fail "autosave setting not echoed"
grep -q "^Sauvegarde automatique de 1 map(s)" "$a/log.txt" || fail "no autosave line"
[ "$(cell 3)" = 7 ] || fail "the first cell was lost"
echo "save and kill: ok"
