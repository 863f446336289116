#!/usr/bin/env bash
# Merge on join. Alice and bob share the demo project in a session and quit;
# apart, each paints cells of map0 the other leaves alone, both paint one
# cell alike and one cell differently; alice joins bob again. Both end with
# the same map: every cell either changed, the alike cell, and bob's (the
# editor joined) value in the one conflict, reported on both sides, kept in
# conflicts/ with alice's old copy, and framed on the map until K hides it.
# Apart, alice also names layer 0 and bob layer 1 (their sidecars): after
# the join both sidecars are the same and hold both names.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
na=nmA$$ nb=nmB$$ a=$root/alice b=$root/bob
moska_netns $na 10.86.0.1
moska_netns $nb 10.86.0.2
for d in "$a" "$b"; do moska_demo "$d" username="$(basename "$d")" net=1; done
# Picks the palette tile at PX, then paints row Y from column X1 to X2.
paint() { moska_on "$1" xdotool $(moska_stroke_args "${@:2}") sleep 0.2; }  # DIR PX Y X1 X2
join_bob() {
  moska_on "$a" moska_join "$a" 10.86.0.2
  for d in "$a" "$b"; do moska_wait_log "$d" "^Bases: [0-9]+ map\(s\) mise\(s\) a jour \(synchro avec" 20; done
}
# The two editors, each on a display of its own (again on the same one).
moska_window -d $nb "$b"
moska_window -d $na "$a"

# A session: the same maps on both sides become the bases; both quit.
join_bob
for d in "$a" "$b"; do moska_quit "$d" key; done
ls "$a/demo/.moska/bases/map0.map.z" "$b/demo/.moska/bases/map0.map.z" > /dev/null || fail "no base kept"

# Apart: alice paints row 20, bob row 22; both paint (5, 25) with the same
# tile, and (7, 25) with different ones. Ctrl+S keeps what each had.
DISPLAY=${MOSKA_DISPLAY[$b]} moska_window $nb "$b"
DISPLAY=${MOSKA_DISPLAY[$a]} moska_window $na "$a"
paint "$a" 57 20 0 3
paint "$a" 121 25 5 5
paint "$a" 57 25 7 7
paint "$b" 89 22 0 3
paint "$b" 121 25 5 5
paint "$b" 89 25 7 7
# Names in the map tab: alice's current layer (0), bob's next one up (the wheel).
moska_on "$a" moska_field 100 280 North
moska_on "$b" xdotool mousemove 100 200 click 4 sleep 0.3
moska_on "$b" moska_field 100 280 East
moska_wait_log "$a" "^Map map0: layer 0 nomme North\.$"
moska_wait_log "$b" "^Map map0: layer 1 nomme East\.$"
for d in "$a" "$b"; do
  moska_on "$d" moska_ctrl s
  moska_wait_log "$d" "^Saved 1 map$"
  cp "$d/demo/maps/map0.map" "$root/$(basename "$d").map"
done
join_bob
for d in "$a" "$b"; do
  moska_wait_log "$d" "^Fusion: map map0 fusionnee avec la copie de .*: 1 conflict \(1 cell\)\.$"
  moska_wait_log "$d" "^Conflit: 1 conflit\(s\) sur la map map0, rapport dans .*/conflicts/map0-[-0-9]*\.txt\.$"
  moska_has "$d" "^Fusion: sidecar de la map map0 fusionne avec celui de .*: 0 conflit\(s\)\.$" || fail "sidecar not merged"
done
moska_has "$b" "^Conflit: ancienne copie" && fail "bob, the editor joined, kept an old copy"
cmp -s "$(ls "$a"/demo/conflicts/map0-*.map)" "$root/alice.map" || fail "alice's old map0 not kept"
# The conflicting cell is framed in magenta on alice's map until K.
magenta() {  # SHOT; both pointers off the map (the pen outlines the cell under
  # it, and bob's pointer shows at alice's where it is)
  moska_on "$b" xdotool mousemove 100 300
  moska_on "$a" xdotool mousemove 100 300 sleep 0.5
  moska_on "$a" moska_screenshot "$root/$1"
  local at='p{434,400}'  # the top left corner of cell (7, 25)
  [ "$(convert "$root/$1" -format "%[fx:int(255*$at.r)],%[fx:int(255*$at.g)],%[fx:int(255*$at.b)]" info:)" = 255,0,255 ]
}
magenta marked.png || fail "the conflict is not marked"
moska_on "$a" moska_key k
magenta hidden.png && fail "K does not hide the marks"
for d in "$a" "$b"; do moska_quit "$d" key; done
cmp -s "$a/demo/mapdata/map0.json" "$b/demo/mapdata/map0.json" || fail "the sidecars differ after the merge"
for d in "$a" "$b"; do  # the digests, sidecars folded in, agreed at every quiet check
  moska_has "$d" "^Synchro: map map0 differente de celle de" && fail "$(basename "$d") repaired map0 after the merge"
done
python3 -c 'import json, sys; n = json.load(open(sys.argv[1]))["layerNames"]
assert [e["name"] for e in n] == ["North", "East"], n' "$a/demo/mapdata/map0.json" || fail "a layer name was lost"

moska_py "$MOSKA_DEMO/maps/map0.map" "$root/alice.map" "$root/bob.map" "$a" "$b" <<'EOF' || fail "merge"
import glob
base, ours, theirs = (read_map(p) for p in sys.argv[1:4])
out = [read_map(d + "/demo/maps/map0.map") for d in sys.argv[4:]]
key = lambda m: (m["name"], m["w"], m["h"], [[l[0]] + l[2:] for l in m["layers"]])
assert key(out[0]) == key(out[1]) == key(base), "sizes, names or layers differ"
conflicts, w = [], base["w"]
for k, lb in enumerate(base["layers"]):
    for c, b in enumerate(lb[1]):
        a, t = ours["layers"][k][1][c], theirs["layers"][k][1][c]
        want = t if a == b or a == t else a if t == b else t
        if a != b and t != b and a != t: conflicts.append((k, c % w, c // w, b, a, t))
        for m in out: assert m["layers"][k][1][c] == want, (k, c % w, c // w, b, a, t, m["layers"][k][1][c])
changed = lambda m: {(k, c) for k, l in enumerate(m["layers"])
                     for c, v in enumerate(l[1]) if v != base["layers"][k][1][c]}
assert len(changed(ours)) >= 4 and len(changed(theirs)) >= 4, "strokes lost"
assert len(conflicts) == 1 and conflicts[0][1:3] == (7, 25), conflicts
k, x, y, b, a, t = conflicts[0]
k = len(base["layers"]) - 1 - k  # stored top-down, numbered bottom-up
for d, mine, other in ((sys.argv[4], a, t), (sys.argv[5], t, a)):
    lines = [l for l in open(glob.glob(d + "/demo/conflicts/map0-*.txt")[0]) if not l.startswith("#")]
    assert lines == ["map0 layer %d x 7 y 25: base %d, ours %d, theirs %d\n" % (k, b, mine, other)], lines
EOF
echo "merge on join: ok"
