#!/usr/bin/env bash
# Three editors in namespaces: alice and bob (on Xvfb displays of their own)
# press Join at each other at once (one pair), then join carol. Every edit is
# applied once by each other editor; a tileset only alice has arrives whole at
# both; a peer that stops reading while she paints is dropped, she paints on;
# her disconnect frees her slots and the map she opened; she rejoins; all agree.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
na=n31$$ nb=n32$$ nc=n33$$ nm=n34$$
for n in 1 2 3 4; do moska_netns n3$n$$ 10.79.0.$n; done
a=$root/alice b=$root/bob c=$root/carol
moska_demo "$a" username=alice net=1 ipserver=10.79.0.2
moska_demo "$b" username=bob net=1 ipserver=10.79.0.1
moska_demo "$c" username=carol net=1
# Only alice has the dungeon tileset (the maps the others load do not use it).
for d in "$b" "$c"; do rm "$d/demo/layers/dungeon.png" "$d/demo/layerspc/dungeon.pss"; done
use() { export DISPLAY=${MOSKA_DISPLAY[$1]}; MOSKA_WINDOW=${MOSKA_WIN[$1]}; }  # input to DIR
both() { moska_wait_log "$1" "$3"; moska_wait_log "$2" "$3"; }  # DIR DIR REGEX
served() {  # JOINER JOINED SLOT-AT-JOINED SLOT-AT-JOINER JOINER'S-ADDRESS (folders)
  local j=${1##*/} d=${2##*/}
  moska_wait_log "$2" "^Connecte avec $j sur le tunnel $3 pour le serveur!$"
  moska_wait_log "$1" "^Connecte avec $d sur le tunnel $4 pour le serveur!$"
  moska_wait_log "$2" "^J'ai repondu donc a $j sur le tunnel $3 pour le client!$"
  moska_has "$1" "^Je suis en contact client avec $d sur le tunnel $4 pour le client!$" || fail "$j's join"
  moska_has "$2" "^Reciprocite: $5:34567$" || fail "$d did not connect back"
}

moska_open $nc "$c"
moska_window -d $nb "$b"
moska_window -d $na "$a"

# Alice and bob press Join (the address comes from the settings) together.
join="mousemove 186 112 mousedown 1 sleep 0.15 mouseup 1"
moska_together "$a $join" "$b $join"
for d in "$a" "$b"; do moska_wait_log "$d" '^Tentative de connexion' 10; moska_wait_log "$d" "^client ok$"; done
# Alice joins carol on her slot 1; alice tells carol the session's other
# member, and carol joins bob by herself on her slot 1, where bob serves her.
use "$a"; moska_join "$a" 10.79.0.3
served "$a" "$c" 0 1 10.79.0.1
moska_wait_log "$c" "^Membre de la session 10.79.0.2 \(annonce par le tunnel 0\): connexion\.$"
served "$c" "$b" 1 1 10.79.0.3
for d in "$a" "$b" "$c"; do
  # One pair per peer, whoever joined; each announced its extensions once.
  moska_wait_count "$d" "^Action reseau: EXTENSIONS,AUTH SYNC LAYERS MEMBERS CELLS ROLES!$" 2
  [ "$(moska_count "$d" '^client ok$')" = 2 ] && [ "$(moska_count "$d" '^little serveur demarre!$')" = 2 ] ||
    fail "$d does not hold exactly one connection pair per peer"
done

# Alice and bob paint a cell each (every frame of the click sends it): each
# other editor applies it as often as it was made.
use "$a"; moska_pick21; moska_click 362 56   # (2, 3)
use "$b"; moska_pick21; moska_click 394 88   # (4, 5)
for cell in "$a $b 2 3" "$a $c 2 3" "$b $a 4 5" "$b $c 4 5"; do
  read -r from to x y <<< "$cell"
  made=$(moska_count "$from" "setElementAbsolute\\(0,0,$x,$y,21\\);$")
  [ "$made" -gt 0 ] || fail "($x,$y) not painted"
  moska_wait_count "$to" "^Action reseau: PARTTHIS!,map0 0 $x $y 21!$" "$made"
done

# Alice holds the pen on cell (8, 7): one pen action per frame, so her log
# counts her frames. Mallory joins her and never reads; its receive buffer
# is small, so it is full within seconds. (Her frames are counted, not
# timed: a test times nothing; the unit tests prove the send never waits.)
frames() { moska_count "$a" 'setElementAbsolute\(0,0,8,7,21\);$'; }
use "$a"; xdotool mousemove 458 120 mousedown 1
ip netns exec $nm "$MOSKA_TOOL" 10.79.0.1 mallory 0.24a tiny join sleep 120000 > "$root/mallory.txt" 2>&1 &
MOSKA_PIDS+=("$!")
moska_wait_log "$a" "^Connecte avec mallory sur le tunnel 2 pour le serveur!$"
n0=$(frames)
moska_wait_log "$a" "^Client mallory du tunnel 2 abandonne: " 90
n1=$(frames)
moska_wait_count "$a" 'setElementAbsolute\(0,0,8,7,21\);$' +$((n1 + 10))
xdotool mouseup 1
echo "alice's frames: $n0 before mallory hung, $((n1 - n0)) while hung, $(($(frames) - n1)) after"
((n1 - n0 >= 10)) || fail "alice painted $((n1 - n0)) frames while mallory hung"

# A layer from dungeon.png, which bob and carol lack: both ask for it and
# receive it in parallel.
moska_click 260 280; sleep 0.5
moska_click 50 310
both "$b" "$c" "^LayerGFX dungeon recu!$"
both "$b" "$c" "^Action reseau: ADDLAYER,map0 dungeon 0!$"
# Served all along, bob and carol applied every one of her pen actions
# before the layer, which she sent after the last.
for d in "$b" "$c"; do
  n=$(moska_count "$d" '^Action reseau: PARTTHIS!,map0 0 8 7 21!$')
  [ "$n" = "$(frames)" ] || fail "$d applied $n of her $(frames) pen actions"
  cmp -s "$a/demo/layers/dungeon.png" "$d/demo/layers/dungeon.png" &&
    cmp -s "$a/demo/layerspc/dungeon.pss" "$d/demo/layerspc/dungeon.pss" || fail "tileset differs at $d"
done
# Alice opens map1: bob and carol open it for her. She disconnects: both
# free her slot 0 and release map1, which only she used there (saved and
# closed); their own link stays.
moska_menu main
moska_click 50 280                       # row 1 of the map browser: map1.map
both "$b" "$c" "^0->map1!$"
moska_menu main
moska_click 250 110
moska_wait_log "$a" "^Tous les systèmes OK!$"
both "$b" "$c" "^working map: map0,i:map1,j=64\.$"
both "$b" "$c" "^Map map1 enregistree avec succès!$"
moska_has "$a" "^Deconnexion du client 0:bob terminee\.$" &&
  moska_has "$a" "^Deconnexion du client 1:carol terminee\.$" || fail "alice's disconnects"
# She joins bob again: he serves her on the slot just freed.
moska_join "$a" 10.79.0.2
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
moska_wait_count "$b" '^Connecte avec alice sur le tunnel 0 pour le serveur!$' 2

# Everyone quits; each copy of map0 holds the dungeon layer once and the pens.
moska_quit "$b" key   # bob by the key, the others by a signal
moska_quit "$a"
moska_quit "$c"
moska_py "$a/demo/maps/map0.map" "$b/demo/maps/map0.map" "$c/demo/maps/map0.map" <<'EOF' || fail "map0 copies do not match"
maps = [read_map(p) for p in sys.argv[1:]]
for m in maps:
    names = [l[0] for l in m["layers"]]
    base = [l[1] for l in m["layers"] if l[0] != "dungeon"][-1]
    print(names)
    assert names.count("dungeon") == 1 and len(names) == 3
    assert all(base[y * m["w"] + x] == 21 for x, y in ((2, 3), (4, 5), (8, 7)))
assert maps[0]["layers"] == maps[1]["layers"] == maps[2]["layers"]
EOF
echo "three editors: ok"
