#!/usr/bin/env bash
# Three editors, each in its own network namespace: alice and bob each under
# an Xvfb display of their own and driven with xdotool, carol headless.
# Alice joins bob, then carol; bob joins carol, all through the address field
# and the join button. Handshakes run both ways with reverse connections;
# edits reach both other editors; a tileset only alice has arrives whole at
# both; alice's disconnect frees her slot at the others and releases the map
# she had them open; she joins again on the freed slot; quitting saves.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
na=n3a$$ nb=n3b$$ nc=n3c$$
moska_netns $na 10.79.0.1
moska_netns $nb 10.79.0.2
moska_netns $nc 10.79.0.3
a=$root/alice b=$root/bob c=$root/carol
moska_app "$a" username=alice net=1 ipserver=10.79.0.9
moska_app "$b" username=bob net=1 ipserver=10.79.0.9
moska_app "$c" username=carol net=1
for d in "$a" "$b" "$c"; do cp -r "$demo" "$d/demo"; done
# Only alice has the dungeon tileset (the maps the others load do not use it).
rm "$b/demo/layers/dungeon.png" "$b/demo/layerspc/dungeon.pss"
rm "$c/demo/layers/dungeon.png" "$c/demo/layerspc/dungeon.pss"
pause() { sleep "${1:-0.3}"; }
# Each graphical editor has its own display; these switch xdotool between them.
use_a() { export DISPLAY=$da; MOSKA_WINDOW=$wa; }
use_b() { export DISPLAY=$db; MOSKA_WINDOW=$wb; }
count() { grep -cE -- "$2" "$1/log.txt"; }
# Types an address into the main menu's field of the editor in DIR and
# presses the join button. On a loaded machine a key or the click can be
# lost; the user then tries again, as the test does when no connection
# attempt appears in the log.
join() {
  local dir=$1 addr=$2 try i n
  local re="^Tentative de connexion a X.X.X.${addr##*.}:34567/"
  n=$(count "$dir" "$re")
  for try in 1 2 3; do
    moska_click 70 110; moska_key Delete; moska_type "$addr"; moska_key Return
    moska_click 186 112
    for ((i = 0; i < 50; i++)); do
      [ "$(count "$dir" "$re")" -gt "$n" ] && return 0
      sleep 0.1
    done
    echo "join of $addr from $dir not seen, trying again" >&2
  done
  fail "$dir did not join $addr"
}

SDL_VIDEODRIVER=dummy moska_start_ns $nc "$c" "$c/demo/PROJECT.MSK"
pid_c=$MOSKA_PID
moska_xvfb_start
db=$DISPLAY
MOSKA_PIDS+=("$MOSKA_XVFB_PID")  # the next start takes over MOSKA_XVFB_PID
moska_start_ns $nb "$b" "$b/demo/PROJECT.MSK"
pid_b=$MOSKA_PID
moska_wait_window || fail "no window for bob"
wb=$MOSKA_WINDOW
moska_xvfb_start
da=$DISPLAY
moska_start_ns $na "$a" "$a/demo/PROJECT.MSK"
pid_a=$MOSKA_PID
moska_wait_window || fail "no window for alice"
wa=$MOSKA_WINDOW
for d in "$a" "$b" "$c"; do moska_wait_log "$d" "Project loaded succesfully!"; done
pause 0.5

# Alice joins bob: she opens slot 0, bob serves it and connects back.
use_a; join "$a" 10.79.0.2
moska_wait_log "$b" "^Connecte avec alice sur le tunnel 0 pour le serveur!$"
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
grep -q "^Je suis en contact client avec bob sur le tunnel 0 pour le client!$" "$a/log.txt" || fail "alice's join"
grep -q "^Reciprocite: 10.79.0.1:34567$" "$b/log.txt" || fail "bob did not connect back"
grep -q "^J'ai repondu donc a alice sur le tunnel 0 pour le client!$" "$b/log.txt" || fail "bob's reverse handshake"
# Alice joins carol on her slot 1; carol serves her on slot 0.
join "$a" 10.79.0.3
moska_wait_log "$c" "^Connecte avec alice sur le tunnel 0 pour le serveur!$"
moska_wait_log "$a" "^Connecte avec carol sur le tunnel 1 pour le serveur!$"
grep -q "^J'ai repondu donc a alice sur le tunnel 0 pour le client!$" "$c/log.txt" || fail "carol's reverse handshake"
# Bob joins carol on his slot 1; carol serves him on slot 1.
use_b; join "$b" 10.79.0.3
moska_wait_log "$c" "^Connecte avec bob sur le tunnel 1 pour le serveur!$"
moska_wait_log "$b" "^Connecte avec carol sur le tunnel 1 pour le serveur!$"
grep -q "^Je suis en contact client avec carol sur le tunnel 1 pour le client!$" "$b/log.txt" || fail "bob's join"
grep -q "^Reciprocite: 10.79.0.2:34567$" "$c/log.txt" || fail "carol did not connect back to bob"
[ "$(count "$a" '^client ok$')" = 2 ] && [ "$(count "$b" '^client ok$')" = 2 ] &&
  [ "$(count "$c" '^client ok$')" = 2 ] || fail "each editor should hold two outbound connections"
pause 0.5
moska_screenshot "$root/three_bob.png"

# Alice's pen reaches bob and carol.
use_a
moska_click 150 10; pause
moska_click 57 94; pause                 # element 21
moska_click 362 56
moska_wait_log "$b" "^Action reseau: PARTTHIS!,map0 0 2 3 21!$"
moska_wait_log "$c" "^Action reseau: PARTTHIS!,map0 0 2 3 21!$"

# A layer from dungeon.png, which bob and carol lack: both ask for it and
# receive it in parallel.
moska_click 260 280; pause 0.5
moska_click 50 310
moska_wait_log "$b" "^LayerGFX dungeon recu!$"
moska_wait_log "$c" "^LayerGFX dungeon recu!$"
moska_wait_log "$b" "^Action reseau: ADDLAYER,map0 dungeon 0!$"
moska_wait_log "$c" "^Action reseau: ADDLAYER,map0 dungeon 0!$"
for d in "$b" "$c"; do
  cmp -s "$a/demo/layers/dungeon.png" "$d/demo/layers/dungeon.png" || fail "tileset differs at $d"
  cmp -s "$a/demo/layerspc/dungeon.pss" "$d/demo/layerspc/dungeon.pss" || fail "pass conditions differ at $d"
done

# Alice opens map1: bob and carol open it for her.
moska_click 20 10; pause
moska_click 50 280                       # row 1 of the map browser: map1.map
moska_wait_log "$b" "^0->map1!$"
moska_wait_log "$c" "^0->map1!$"

# Alice disconnects: both others free her slot 0 and release map1, which only
# she used there (saved and closed); their own link stays.
moska_click 20 10; pause
moska_click 250 110
moska_wait_log "$a" "^Tous les systèmes OK!$"
for d in "$b" "$c"; do
  moska_wait_log "$d" "^working map: map0,i:map1,j=64\.$"
  moska_wait_log "$d" "^Map map1 enregistree avec succès!$"
done
grep -q "^Deconnexion du client 0:bob terminee\.$" "$a/log.txt" || fail "alice's disconnect of bob"
grep -q "^Deconnexion du client 1:carol terminee\.$" "$a/log.txt" || fail "alice's disconnect of carol"
pause 0.5
# She joins bob again: he serves her on the slot just freed.
join "$a" 10.79.0.2
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
for ((i = 0; i < 100; i++)); do
  [ "$(count "$b" '^Connecte avec alice sur le tunnel 0 pour le serveur!$')" = 2 ] && break
  sleep 0.1
done
[ "$i" -lt 100 ] || fail "bob did not serve alice again on slot 0"

# Bob's pen reaches alice and carol.
use_b
moska_click 150 10; pause
moska_click 57 94; pause                 # element 21
moska_click 394 88
moska_wait_log "$a" "^Action reseau: PARTTHIS!,map0 0 4 5 21!$"
moska_wait_log "$c" "^Action reseau: PARTTHIS!,map0 0 4 5 21!$"
moska_screenshot "$root/three_bob_map.png"

# Everyone quits; each saves its copy of map0.
use_a; MOSKA_PID=$pid_a; moska_key Escape; moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "alice exit status $MOSKA_STATUS"
use_b; MOSKA_PID=$pid_b; moska_key Escape; moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "bob exit status $MOSKA_STATUS"
MOSKA_PID=$pid_c; kill -TERM "$pid_c"; moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "carol exit status $MOSKA_STATUS"
python3 - "$a/demo/maps/map0.map" "$b/demo/maps/map0.map" "$c/demo/maps/map0.map" <<'EOF' || fail "map0 copies do not match"
import struct, sys
def parse(path):
    b = open(path, "rb").read()
    p = 1
    S, = struct.unpack_from("<H", b, p); p += 2 + S
    F, = struct.unpack_from("<H", b, p); p += 2 + F
    w, h, vx, vy, L = struct.unpack_from("<IIIIH", b, p); p += 18
    layers = []
    for _ in range(L):
        G, = struct.unpack_from("<H", b, p); p += 2
        name = b[p:p + G]; p += G
        cells = b[p:p + 4 * w * h]; p += 4 * w * h
        layers.append((name, cells)); p += 5
    return w, layers
maps = [parse(p) for p in sys.argv[1:]]
ok = True
for w, layers in maps:
    names = [l[0] for l in layers]
    print(names)
    cell = lambda l, x, y: struct.unpack_from("<i", l[1], 4 * (y * w + x))[0]
    base = [l for l in layers if l[0] != b"dungeon\0"]
    ok &= names.count(b"dungeon\0") == 1 and len(layers) == 3
    ok &= cell(base[-1], 2, 3) == 21 and cell(base[-1], 4, 5) == 21
ok &= maps[0][1] == maps[1][1] == maps[2][1]
sys.exit(0 if ok else 1)
EOF
[ -n "${MOSKA_SHOTS:-}" ] && cp "$root"/three_*.png "$MOSKA_SHOTS"/
echo "three editors: ok"
