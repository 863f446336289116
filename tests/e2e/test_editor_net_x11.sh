#!/usr/bin/env bash
# Two editors in two network namespaces: alice, driven under Xvfb, joins bob
# through the address field and the join button. Every shared command reaches
# bob; the view, the brush and the palette stay with alice; her layer swap,
# which no action carries, is repaired after a quiet second.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
na=nea$$ nb=neb$$
moska_netns $na 10.78.0.1
moska_netns $nb 10.78.0.2
a=$root/alice b=$root/bob
moska_app "$a" username=alice net=1 ipserver=10.78.0.9
moska_app "$b" username=bob net=1
cp -r "$demo" "$a/demo"
cp -r "$demo" "$b/demo"
pause() { sleep "${1:-0.3}"; }
# Waits until bob has applied an action of alice.
applied() { moska_wait_log "$b" "^Action reseau: $1!$" 20; }

SDL_VIDEODRIVER=dummy moska_start_ns $nb "$b" "$b/demo/PROJECT.MSK"
pid_b=$MOSKA_PID
moska_wait_log "$b" "Project loaded succesfully!"
moska_xvfb_start
moska_start_ns $na "$a" "$a/demo/PROJECT.MSK"
pid_a=$MOSKA_PID
moska_wait_window || fail "no window"
moska_wait_log "$a" "Project loaded succesfully!"
pause 0.5

# Join: the address typed into the field, then the join button.
moska_click 70 110
moska_key Delete
moska_type "10.78.0.2"
moska_key Return
moska_click 186 112
moska_wait_log "$b" "^Connecte avec alice sur le tunnel 0 pour le serveur!$"
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
pause 1
moska_screenshot "$root/net_main.png"

# "map" menu: palette (local), pen and eraser, rectangle brush, view (local).
moska_click 150 10; pause
moska_click 57 94; pause                 # element 21
moska_click 362 56; applied "PARTTHIS!,map0 0 2 3 21"
moska_click 394 56; applied "PARTTHIS!,map0 0 4 3 21"
moska_click 394 56 3; applied "PARTTHIS!,map0 0 4 3 0"
moska_click 250 52; pause                # rectangle brush
moska_click 426 88; pause
moska_click 458 120 3; applied "DRAWSQUARE,map0 0 6 5 8 7 21"
moska_click 250 52; pause                # back to the pen
moska_key Right; moska_key Down; pause
# Rename.
moska_click 100 56; moska_key Delete; moska_type "shared village"; moska_key Return
applied "SENDMAPSYSNAME,map0 shared village"
# A layer from dungeon.png, then the background commands on it.
moska_click 260 280; pause 0.5
moska_click 50 310; applied "ADDLAYER,map0 dungeon 0"
moska_move 100 440; xdotool click 4; pause 0.5; xdotool click 4; pause 0.5
moska_click 250 340; applied "SETLAYERBGXY,map0 2 1 1 1"
moska_click 186 124; applied "SETLAYERBGXY,map0 2 1 2 1"
moska_click 154 164; applied "SETLAYERBGXY,map0 2 1 2 0"
moska_click 250 340; applied "SETLAYERBGXY,map0 2 0 2 0"
# Pass conditions of dungeon, pushed to bob.
moska_click 260 390; moska_wait_log "$a" "^pcok$"
moska_click 20 73 3; pause
moska_click 260 390; applied "SENDPC,dungeon"
# Delete layer 1, then swap the two that are left (only here).
moska_move 100 440; xdotool click 5; pause 0.5
moska_click 250 310; applied "DELETELAYER,0 1"
moska_click 270 245; pause
# "main" menu: a new map, then back to map0 through the map browser.
moska_click 20 10; pause
moska_click 260 270; moska_key Delete; moska_type "cave"; moska_key Return
moska_click 260 300; moska_key Delete; moska_type "64"; moska_key Return
moska_click 260 320; moska_key Delete; moska_type "32"; moska_key Return
moska_click 280 342
applied "NEWMAP,cave 64 32"
applied "SILENTOPEN,cave"
moska_wait_log "$a" "^Fin de la creation de map\.$"
pause 0.5
moska_click 50 280                       # row 1: map0.map
applied "SILENTOPEN,map0"
moska_wait_log "$b" "^Fermeture de la map inutilisee cave\.$"
grep -q "^Map actuelle map0 utilisee en reseau$" "$a/log.txt" || fail "map0 not seen in use by bob"
grep -q "^Map a ouvrir map0 utilisee en reseau$" "$a/log.txt" || fail "map0 not reused"

# The swap is repaired after a quiet second: one copy replaces the other,
# which is kept in conflicts/.
for ((i = 0; i < 100; i++)); do
  grep -q "^Synchro: map map0 recue de" "$a/log.txt" "$b/log.txt" && break
  sleep 0.1
done
[ "$i" -lt 100 ] || fail "map0 was not repaired"
ls "$a/demo/conflicts" "$b/demo/conflicts" 2>/dev/null | grep -q "^map0-" || fail "no copy of map0 kept"

# Alice quits; bob is told, then stopped and saves.
MOSKA_PID=$pid_a
moska_key Escape
moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "alice exit status $MOSKA_STATUS"
pause 1
MOSKA_PID=$pid_b
kill -TERM "$pid_b"
moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "bob exit status $MOSKA_STATUS"

# Bob got alice's extensions, then exactly the shared commands, in order
# (the sync actions between them aside).
got=$(sed -n 's/^Action reseau: \([^,]*\),.*/\1/p' "$b/log.txt" | grep -vE '^(STAMP|SYNC)' | uniq | tr '\n' ' ')
want="EXTENSIONS PARTTHIS! DRAWSQUARE SENDMAPSYSNAME ADDLAYER SETLAYERBGXY SENDPC DELETELAYER NEWMAP SILENTOPEN "
[ "$got" = "$want" ] || fail "bob received: $got"
cmp -s "$a/demo/layerspc/dungeon.pss" "$b/demo/layerspc/dungeon.pss" || fail "pass conditions differ"
cmp -s "$a/demo/maps/cave.map" "$b/demo/maps/cave.map" || fail "cave.map differs"
python3 - "$a/demo/maps/map0.map" "$b/demo/maps/map0.map" <<'EOF' || fail "map0 copies do not match"
import struct, sys
def parse(path):
    b = open(path, "rb").read()
    p = 1
    S, = struct.unpack_from("<H", b, p); p += 2; sysname = b[p:p + S]; p += S
    F, = struct.unpack_from("<H", b, p); p += 2 + F
    w, h, vx, vy, L = struct.unpack_from("<IIIIH", b, p); p += 18
    layers = []
    for _ in range(L):
        G, = struct.unpack_from("<H", b, p); p += 2
        name = b[p:p + G]; p += G
        cells = b[p:p + 4 * w * h]; p += 4 * w * h
        layers.append((name, cells, b[p:p + 5])); p += 5
    return sysname, (vx, vy), layers
sa, va, la = parse(sys.argv[1])
sb, vb, lb = parse(sys.argv[2])
ok = sa == sb == b"shared village\0"
ok &= va != (0, 0) and vb == (0, 0)             # the view stayed with alice
ok &= len(la) == len(lb) == 2 and la == lb        # one order, from either copy
dungeon = [l for l in lb if l[0] == b"dungeon\0"]
base = [l for l in lb if l[0] != b"dungeon\0"]
ok &= len(dungeon) == 1 and dungeon[0][2] == struct.pack("<bhh", 0, 2, 0)
cell = lambda l, x, y: struct.unpack_from("<i", l[1], 4 * (y * 64 + x))[0]
ok &= cell(base[0], 2, 3) == 21 and cell(base[0], 4, 3) == 0 and cell(base[0], 7, 6) == 21
print(sa, sb, va, vb, [l[0] for l in la], [l[0] for l in lb])
sys.exit(0 if ok else 1)
EOF
[ -n "${MOSKA_SHOTS:-}" ] && cp "$root/net_main.png" "$MOSKA_SHOTS"/
echo "editor network: ok"
