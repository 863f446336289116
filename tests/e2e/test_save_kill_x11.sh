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
# Cell (x, y) of layer 0 (the last record) in the map file, or "broken".
cell() {
  python3 - "$a/demo/maps/map0.map" "$1" "$2" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
p = 1
S, = struct.unpack_from("<H", b, p); p += 2 + S
F, = struct.unpack_from("<H", b, p); p += 2 + F
w, h, vx, vy, L = struct.unpack_from("<IIIIH", b, p); p += 18
for _ in range(L):
    G, = struct.unpack_from("<H", b, p); p += 2 + G
    at = p; p += 4 * w * h + 5
print(struct.unpack_from("<i", b, at + 4 * (int(sys.argv[3]) * w + int(sys.argv[2])))[0] if b[-1:] == b"$" and p == len(b) - 1 else "broken")
PY
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
  [ "$(cell "$2" 2)" = 7 ] || fail "$3: cell ($2, 2) is $(cell "$2" 2) after the kill"
}
run "" 3 key
grep -q "^Sauvegarde de 1 map(s)" "$a/log.txt" || fail "no save line"
run "AUTOSAVE 0.02" 5 autosave
grep -q "^autosave: 0.02$" "$a/log.txt" || fail "autosave setting not echoed"
grep -q "^Sauvegarde automatique de 1 map(s)" "$a/log.txt" || fail "no autosave line"
[ "$(cell 3 2)" = 7 ] || fail "the first cell was lost"
echo "save and kill: ok"
