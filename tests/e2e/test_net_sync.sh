#!/usr/bin/env bash
# Three editors under Xvfb, in namespaces, end with the same maps. Alice joins
# bob with a stale map0 and a map only she has (bob has one only he has); both
# paint the same cells with different tiles at once; carol, stale too, joins
# alice while they paint, then bob; all three paint one row at once; with
# alice's link down, she and bob add different layers, then delete different
# ones. All copies end alike, layer names (bob's, in map sidecars) too; each
# replaced copy is kept in conflicts/.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
na=ns1$$ nb=ns2$$ nc=ns3$$
a=$root/alice b=$root/bob c=$root/carol
for n in 1 2 3; do moska_netns ns$n$$ 10.83.0.$n; done
for d in "$a" "$b" "$c"; do moska_demo "$d" username="$(basename "$d")" net=1; done
# Bob's map0 has cells the others lack (5 in row 20, columns 0-9, of the top
# layer; the bottom layer's name takes 10 bytes); alice alone has alicemap, bob bobmap.
moska_py "$b/demo/maps/map0.map" <<'EOF'
p = sys.argv[1]; m = read_map(p); b = bytearray(open(p, "rb").read())
top = len(b) - 1 - 2 * (4 * m["w"] * m["h"] + 5) - 10
struct.pack_into("<10i", b, top + 4 * 20 * m["w"], *[5] * 10)
open(p, "wb").write(b)
EOF
cp "$a/demo/maps/map1.map" "$a/demo/maps/alicemap.map"
cp "$b/demo/maps/map1.map" "$b/demo/maps/bobmap.map"
mkdir "$b/demo/mapdata"
echo '{"layerNames":[{"name":"Meadow","tileset":"default"},{"name":"Hills","tileset":"default"}]}' > "$b/demo/mapdata/map0.json"
echo '{"layerNames":[null,{"name":"Stones","tileset":"dungeon"}]}' > "$b/demo/mapdata/bobmap.json"
# Types an address into DIR's join field and presses Join; its link is up.
join() {
  local ok; ok=$(moska_count "$1" '^client ok$')
  moska_on "$1" moska_join "$1" "$2"
  moska_wait_count "$1" '^client ok$' +$((ok + 1)) 20
}
# Waits until no editor logged a sync line for three seconds: a quiet
# second, the digest checks, and any repair they start, are over.
settle() {
  local last=-1 now same=0 i
  for ((i = 0; i < 120; i++)); do
    now=$(cat "$a/log.txt" "$b/log.txt" "$c/log.txt" 2>/dev/null | grep -c "^!\{0,1\}Synchro")
    if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
    [ "$same" -ge 6 ] && return 0
    last=$now
    sleep 0.5
  done
  fail "the editors never settled"
}
moska_window -d $nb "$b"
moska_window -d $na "$a"

# Alice joins bob: bob's map0 replaces hers, the maps only one has cross.
join "$a" 10.83.0.2
moska_wait_log "$a" "^Synchro: map map0 recue de bob" 20
moska_wait_log "$a" "^Synchro: map bobmap recue de bob" 20
moska_wait_log "$b" "^Synchro: map alicemap recue de alice" 20
moska_wait_log "$a" "^Synchro: sidecar de la map bobmap recu de bob" 20
kept=$(ls "$a"/demo/conflicts/map0-*.map) || fail "alice's old map0 not kept"
cmp -s "$kept" "$MOSKA_DEMO/maps/map0.map" || fail "the kept copy is not alice's old map0"
moska_has "$a" "^Conflit: ancienne copie de la map map0 gardee dans .*conflicts/map0-" || fail "no conflict"
[ -z "$(ls "$b/demo/conflicts" 2>/dev/null)" ] || fail "bob, the reference, replaced something"

# Both paint row 12 with different tiles at the same moment.
moska_together "$a $(moska_stroke_args 57 12 0 20)" "$b $(moska_stroke_args 89 12 0 20)"
settle

# Carol (stale) shows map1 and joins alice only, while alice and bob paint:
# alice names bob as a member of the session, and carol links with him by
# herself; her map0, closed, is replaced as a file.
moska_window -d $nc "$c"
moska_on "$c" moska_menu main
moska_on "$c" moska_click 50 280             # row 1 of the map browser: map1.map
moska_wait_log "$c" "^Map map1 ouverte avec succes\.$"
(sleep 0.5; moska_together "$a $(moska_stroke_args 57 14 0 30)" "$b $(moska_stroke_args 89 15 0 30)") &
painter=$!
join "$c" 10.83.0.1
moska_wait_log "$c" "^Synchro: map map0 recue de alice" 20
wait $painter
moska_wait_log "$c" "^Membre de la session 10.83.0.2 \(annonce par le tunnel 0\): connexion\.$" 20
moska_wait_log "$c" "^Synchro avec bob" 20
settle
ls "$c"/demo/conflicts/map0-*.map > /dev/null || fail "carol's old map0 not kept"
# All three paint row 16 at once, carol on map1.
moska_together "$a $(moska_stroke_args 57 16 0 25)" "$b $(moska_stroke_args 89 16 0 25)" \
  "$c $(moska_stroke_args 121 16 0 25)"
settle
# While carol still shows map1 (her slot 0), alice moves map0's bottom layer
# up and deletes one: carol applies both to her map0, named, not to map1.
moska_on "$a" xdotool mousemove 270 245 $MOSKA_HIT sleep 0.3 mousemove 250 310 $MOSKA_HIT
for d in "$b" "$c"; do
  moska_wait_log "$d" "^Action reseau: LAYERMOVE,map0 0 1!$" 20
  moska_wait_log "$d" "^Action reseau: LAYERDEL,map0 " 20
done
# Carol opens map0; all three paint row 18 at once, twice.
moska_on "$c" moska_menu main
moska_on "$c" moska_click 50 294             # row 2 (after alicemap, bobmap): map0.map
moska_wait_log "$c" "^Map map0 ouverte avec succes\.$"
for row in 18 19; do
  moska_together "$a $(moska_stroke_args 57 $row 0 25)" "$b $(moska_stroke_args 89 $row 0 25)" \
    "$c $(moska_stroke_args 121 $row 0 25)"
done
settle

# Structure edits that cross: alice's link is down while she and bob add
# different layers, then again while she deletes layer 1 and bob layer 0.
apart() { ip -n $na link set eth0 down; moska_together "$@"; sleep 0.3; ip -n $na link set eth0 up; }
repairs() { cat "$a/log.txt" "$b/log.txt" "$c/log.txt" | grep -c "^!\{0,1\}Synchro: map map0 differente"; }
before=$(repairs)
apart "$a mousemove 150 10 $MOSKA_HIT sleep 0.3 mousemove 260 280 $MOSKA_HIT sleep 0.5 mousemove 50 310 $MOSKA_HIT" \
      "$b mousemove 150 10 $MOSKA_HIT sleep 0.3 mousemove 260 280 $MOSKA_HIT sleep 0.5 mousemove 50 292 $MOSKA_HIT"
moska_wait_log "$a" "^Action reseau: ADDLAYER,map0 default 0!$" 20
moska_wait_log "$b" "^Action reseau: ADDLAYER,map0 dungeon 0!$" 20
settle
[ "$(repairs)" -gt "$before" ] || fail "crossed layer additions were not repaired"
before=$(repairs)
moska_on "$a" xdotool mousemove 100 440 click 4
sleep 0.5
apart "$a mousemove 250 310 $MOSKA_HIT" "$b mousemove 250 310 $MOSKA_HIT"
moska_wait_log "$a" "^Action reseau: LAYERDEL,map0 " 20
moska_wait_log "$b" "^Action reseau: LAYERDEL,map0 " 20
settle
[ "$(repairs)" -gt "$before" ] || fail "crossed layer deletions were not repaired"

for d in "$a" "$b" "$c"; do moska_quit "$d" key; done
# Each map alike in all three copies: size, layers (tileset, background,
# scroll, cells) and the end mark; the display name and view may differ.
moska_py "$a" "$b" "$c" <<'EOF' || fail "the copies differ"
show = lambda m: (m["name"], m["view"], [(l[0], l[2:], sum(map(bool, l[1]))) for l in m["layers"]])
for name in ("map0", "map1", "alicemap", "bobmap"):
    c = [read_map(d + "/demo/maps/" + name + ".map") for d in sys.argv[1:]]
    print(name, [show(m) for m in c])
    assert all((m["w"], m["h"], m["layers"], m["rest"]) == (c[0]["w"], c[0]["h"], c[0]["layers"], b"$")
               for m in c), name + " copies differ"
EOF
# The layer names too, whatever the crossed layer edits left of map0's.
python3 - "$a" "$b" "$c" <<'EOF' || fail "the layer names differ"
import sys, json, os
def names(d, m):
    f = d + "/demo/mapdata/" + m + ".json"
    return json.load(open(f)) if os.path.exists(f) else None
for m in ("map0", "bobmap"):
    c = [names(d, m) for d in sys.argv[1:]]
    print(m, c)
    assert c[0] == c[1] == c[2], m
assert c[0]["layerNames"][1]["name"] == "Stones"
EOF
# The strokes really met: alice and bob sent different tiles for one cell of row 12.
sent() { grep -oE '^!?[0-9]+->corps:[0-9]+!map0 0 [0-9]+ 12 [0-9]+!$' "$1/log.txt" | tr -d '!' | cut -d' ' -f3,5 | sort -u; }
command join <(sent "$a") <(sent "$b") | awk '$2 != $3 { found = 1 } END { exit !found }' ||
  fail "the strokes of row 12 did not cross"
echo "sync: ok"
