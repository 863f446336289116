#!/usr/bin/env bash
# Undo and redo with real keys between two editors in namespaces: alice paints
# a stroke, bob paints a cell over it, alice draws a rectangle, then Ctrl+Z
# twice and Ctrl+Y once. Bob's cell stays his; both saved copies of the map
# hold exactly the expected cells, also after a fill (F) and a pick (Alt+click).
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
na=nua$$ nb=nub$$
moska_netns $na 10.79.0.1
moska_netns $nb 10.79.0.2
a=$root/alice b=$root/bob
moska_app "$a" username=alice net=1 ipserver=10.79.0.9
moska_app "$b" username=bob net=1
cp -r "$demo" "$a/demo"
cp -r "$demo" "$b/demo"
sed -i 's/^CURRENTELEMENT .*/CURRENTELEMENT 33/' "$b/demo/PROJECT.MSK"
pause() { sleep "${1:-0.3}"; }
applied() { moska_wait_log "$1" "^Action reseau: $2!$" 20; }
ctrl_key() { moska_focus; xdotool keydown ctrl; xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; xdotool keyup ctrl; sleep 0.1; }

moska_xvfb_start
moska_start_ns $na "$a" "$a/demo/PROJECT.MSK"
pid_a=$MOSKA_PID
moska_wait_window || fail "no window for alice"
wa=$MOSKA_WINDOW
moska_wait_log "$a" "Project loaded succesfully!"
moska_start_ns $nb "$b" "$b/demo/PROJECT.MSK"
pid_b=$MOSKA_PID
moska_wait_log "$b" "Project loaded succesfully!"
for ((i = 0; i < 100; i++)); do
  wb=$(xdotool search --name "MOSKA 2" 2>/dev/null | grep -vx "$wa" | head -n 1)
  [ -n "$wb" ] && break
  sleep 0.1
done
[ -n "$wb" ] || fail "no window for bob"
# Bob's window lower right; its map view starts at screen (706, 288).
xdotool windowmove "$wb" 384 288; pause 0.5
MOSKA_WINDOW=$wa

moska_click 70 110; moska_key Delete; moska_type "10.79.0.2"; moska_key Return
moska_click 186 112
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
moska_wait_log "$b" "^Connecte avec alice sur le tunnel 0 pour le serveur!$"
pause 1

# Alice: element 21, a stroke over cells (2..4, 3) of layer 0.
moska_click 150 10; pause
moska_click 57 94; pause
xdotool mousemove 362 56; sleep 0.1; xdotool mousedown 1; sleep 0.2
xdotool mousemove 378 56; sleep 0.2; xdotool mousemove 394 56; sleep 0.2; xdotool mouseup 1
applied "$b" "PARTTHIS!,map0 0 4 3 21"
# Bob paints cell (3, 3) with his element 33.
moska_click 762 344
applied "$a" "PARTTHIS!,map0 0 3 3 33"
# Alice: the rectangle (R), from (6, 5) to (8, 7).
moska_key r; pause
moska_click 426 88; pause
moska_click 458 120 3
applied "$b" "DRAWSQUARE,map0 0 6 5 8 7 21"
pause 0.5
ctrl_key z; moska_wait_log "$a" "^Annulation rectangle: "
ctrl_key z; moska_wait_log "$a" "^Annulation pen stroke: 2 cellules, 1 laissees"
ctrl_key y; moska_wait_log "$a" "^Retablissement pen stroke: 2 cellules, 1 laissees"
pause 0.5
# A fill with the pen's element at (10, 10), then a pick of bob's tile at (3, 3).
moska_key f; pause
moska_click 490 168
moska_wait_log "$a" "^Remplissage 10x10 par 21"
xdotool mousemove 378 56; sleep 0.1; xdotool keydown alt; sleep 0.1
xdotool mousedown 1; sleep 0.2; xdotool mouseup 1; sleep 0.1; xdotool keyup alt
moska_wait_log "$a" "^Element 33 pris en 3x3\.$"
pause 1

for who in a b; do
  if [ $who = a ]; then MOSKA_PID=$pid_a; else MOSKA_PID=$pid_b; fi
  kill -TERM "$MOSKA_PID"
  moska_wait_exit 30
  [ "$MOSKA_STATUS" = 0 ] || fail "$who exit status $MOSKA_STATUS"
done

python3 - "$demo/maps/map0.map" "$a/demo/maps/map0.map" "$b/demo/maps/map0.map" <<'PY' || fail "map cells"
import struct, sys
def bottom(path):
    b = open(path, "rb").read()
    p = 1
    S, = struct.unpack_from("<H", b, p); p += 2 + S
    F, = struct.unpack_from("<H", b, p); p += 2 + F
    w, h, vx, vy, L = struct.unpack_from("<IIIIH", b, p); p += 18
    for _ in range(L):  # records run top-down: the last one is layer 0
        G, = struct.unpack_from("<H", b, p); p += 2 + G
        cells = list(struct.unpack_from("<%di" % (w * h), b, p)); p += 4 * w * h + 5
    return w, h, cells
w, h, want = bottom(sys.argv[1])
want[3 * w + 2] = want[3 * w + 4] = 21
want[3 * w + 3] = 33
old, stack = want[10 * w + 10], [(10, 10)]
while stack:
    x, y = stack.pop()
    if 0 <= x < w and 0 <= y < h and want[y * w + x] == old:
        want[y * w + x] = 21
        stack += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]
for path in sys.argv[2:]:
    got = bottom(path)[2]
    bad = [(i % w, i // w, got[i], want[i]) for i in range(w * h) if got[i] != want[i]]
    print(path, "differs at", bad[:8]) if bad else None
    if bad: sys.exit(1)
PY
echo "undo between editors: ok"
