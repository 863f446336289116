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
na=n3a$$ nb=n3b$$ nc=n3c$$
moska_netns $na 10.79.0.1
moska_netns $nb 10.79.0.2
moska_netns $nc 10.79.0.3
a=$root/alice b=$root/bob c=$root/carol
moska_demo "$a" username=alice net=1 ipserver=10.79.0.9
moska_demo "$b" username=bob net=1 ipserver=10.79.0.9
moska_demo "$c" username=carol net=1
# Only alice has the dungeon tileset (the maps the others load do not use it).
rm "$b/demo/layers/dungeon.png" "$b/demo/layerspc/dungeon.pss" "$c/demo/layers/dungeon.png" "$c/demo/layerspc/dungeon.pss"
pause() { sleep "${1:-0.3}"; }
# Each graphical editor has its own display; these switch xdotool between them.
use_a() { export DISPLAY=$da; MOSKA_WINDOW=$wa; }
use_b() { export DISPLAY=$db; MOSKA_WINDOW=$wb; }
count() { grep -cE -- "$2" "$1/log.txt"; }
both() { moska_wait_log "$1" "$3"; moska_wait_log "$2" "$3"; }  # DIR DIR REGEX
served() {  # JOINER JOINED SLOT-AT-JOINED SLOT-AT-JOINER
  moska_wait_log "${!2}" "^Connecte avec $1 sur le tunnel $3 pour le serveur!$"
  moska_wait_log "${!1}" "^Connecte avec $2 sur le tunnel $4 pour le serveur!$"
  grep -q "^J'ai repondu donc a $1 sur le tunnel $3 pour le client!$" "${!2}/log.txt" || fail "$2's reverse handshake"
}
alice=$a bob=$b carol=$c

moska_open $nc "$c"; pid_c=$MOSKA_PID
moska_xvfb_start; db=$DISPLAY
moska_start -n $nb "$b" "$b/demo/PROJECT.MSK"; pid_b=$MOSKA_PID
moska_wait_window || fail "no window for bob"
wb=$MOSKA_WINDOW
moska_xvfb_start; da=$DISPLAY
moska_start -n $na "$a" "$a/demo/PROJECT.MSK"; pid_a=$MOSKA_PID
moska_wait_window || fail "no window for alice"
wa=$MOSKA_WINDOW
for d in "$a" "$b"; do moska_wait_log "$d" "Project loaded succesfully!"; done

# Alice joins bob on her slot 0 and carol on her slot 1; bob joins carol on
# his slot 1, where carol serves him.
use_a; moska_join "$a" 10.79.0.2
served alice bob 0 0
grep -q "^Je suis en contact client avec bob sur le tunnel 0 pour le client!$" "$a/log.txt" || fail "alice's join"
grep -q "^Reciprocite: 10.79.0.1:34567$" "$b/log.txt" || fail "bob did not connect back"
moska_join "$a" 10.79.0.3
served alice carol 0 1
use_b; moska_join "$b" 10.79.0.3
served bob carol 1 1
grep -q "^Je suis en contact client avec carol sur le tunnel 1 pour le client!$" "$b/log.txt" || fail "bob's join"
grep -q "^Reciprocite: 10.79.0.2:34567$" "$c/log.txt" || fail "carol did not connect back to bob"
for d in "$a" "$b" "$c"; do [ "$(count "$d" '^client ok$')" = 2 ] || fail "$d does not hold two outbound connections"; done

# Alice's pen reaches bob and carol; so does a layer from dungeon.png, which
# both lack: both ask for it and receive it in parallel.
use_a
moska_click 150 10; pause
moska_click 57 94; pause                 # element 21
moska_click 362 56
both "$b" "$c" "^Action reseau: PARTTHIS!,map0 0 2 3 21!$"
moska_click 260 280; pause 0.5
moska_click 50 310
both "$b" "$c" "^LayerGFX dungeon recu!$"
both "$b" "$c" "^Action reseau: ADDLAYER,map0 dungeon 0!$"
for d in "$b" "$c"; do
  cmp -s "$a/demo/layers/dungeon.png" "$d/demo/layers/dungeon.png" &&
    cmp -s "$a/demo/layerspc/dungeon.pss" "$d/demo/layerspc/dungeon.pss" || fail "tileset differs at $d"
done
# Alice opens map1: bob and carol open it for her.
moska_click 20 10; pause
moska_click 50 280                       # row 1 of the map browser: map1.map
both "$b" "$c" "^0->map1!$"

# Alice disconnects: both others free her slot 0 and release map1, which only
# she used there (saved and closed); their own link stays.
moska_click 20 10; pause
moska_click 250 110
moska_wait_log "$a" "^Tous les systèmes OK!$"
both "$b" "$c" "^working map: map0,i:map1,j=64\.$"
both "$b" "$c" "^Map map1 enregistree avec succès!$"
grep -q "^Deconnexion du client 0:bob terminee\.$" "$a/log.txt" &&
  grep -q "^Deconnexion du client 1:carol terminee\.$" "$a/log.txt" || fail "alice's disconnects"
# She joins bob again: he serves her on the slot just freed.
moska_join "$a" 10.79.0.2
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
both "$a" "$c" "^Action reseau: PARTTHIS!,map0 0 4 5 21!$"

# Everyone quits; each copy of map0 holds the dungeon layer once and both pens.
use_a; MOSKA_PID=$pid_a; moska_key Escape; moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "alice exit status $MOSKA_STATUS"
use_b; MOSKA_PID=$pid_b; moska_key Escape; moska_wait_exit 30
[ "$MOSKA_STATUS" = 0 ] || fail "bob exit status $MOSKA_STATUS"
moska_quit $pid_c carol
moska_py "$a/demo/maps/map0.map" "$b/demo/maps/map0.map" "$c/demo/maps/map0.map" <<'EOF' || fail "map0 copies do not match"
maps = [read_map(p) for p in sys.argv[1:]]
for m in maps:
    names = [l[0] for l in m["layers"]]
    base = [l[1] for l in m["layers"] if l[0] != "dungeon"][-1]
    print(names)
    assert names.count("dungeon") == 1 and len(names) == 3
    assert base[3 * m["w"] + 2] == 21 and base[5 * m["w"] + 4] == 21
assert maps[0]["layers"] == maps[1]["layers"] == maps[2]["layers"]
EOF
echo "three editors: ok"
