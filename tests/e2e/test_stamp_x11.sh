#!/usr/bin/env bash
# Stamps, strokes and copy/paste with real input under Xvfb, seen by a real
# editor and by a test peer of the base protocol. Alice drags a 2x2 stamp out
# of the 16-column palette and paints it with one click, drops it with
# Escape, draws a stroke across 30 cells within a few frames, selects cells,
# copies and pastes them. Her saved map holds exactly those cells; bob's
# copy is the same, and so is the demo map with the actions the base peer
# received applied to it.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
na=ns1$$ nb=ns2$$ nc=ns3$$
for n in 1 2 3; do moska_netns ns$n$$ 10.79.0.$n; done
a=$root/alice b=$root/bob
moska_demo "$a" username=alice net=1 video_x=900 video_y=600
moska_demo "$b" username=bob net=1

moska_xvfb_start
moska_window $na "$a"
moska_open $nb "$b"
moska_join "$a" 10.79.0.2
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
ip netns exec $nc "$MOSKA_TOOL" 10.79.0.1 carol 0.24a join collect SENDMAPSYSNAME bye > "$root/carol.txt" &
carol=$!
moska_wait_log "$a" "^Connecte avec carol sur le tunnel [0-9]+ pour le serveur!$"

# The stamp: palette cells (2, 1) to (3, 2), elements 18, 19, 34 and 35,
# painted with its top-left tile on cell (10, 20) by one click.
moska_menu map
xdotool mousemove 41 94 sleep 0.1 mousedown 1 sleep 0.15 mousemove 50 100 sleep 0.1 mousemove 57 110 sleep 0.15 mouseup 1
moska_wait_log "$a" "^Tampon 2x2 depuis l'element 18\.$"
moska_click $(moska_cell 10 20)
moska_wait_log "$b" "^Action reseau: CELLS,map0 0 10 20 2 2 "   # one block to an editor that takes them
moska_key Escape
moska_wait_log "$a" "^Selection et tampon abandonnes\.$"
# Element 21 and a stroke from (2, 25) to (31, 25) in a few milliseconds.
moska_pick21
read x0 y <<< "$(moska_cell 2 25)"; read x1 _ <<< "$(moska_cell 31 25)"
xdotool mousemove $x0 $y sleep 0.1 mousedown 1 mousemove 420 $y mousemove 600 $y mousemove $x1 $y mouseup 1
moska_wait_log "$a" "^setElementAbsolute\(0,0,31,25,21\);$"
# Cells (9, 20) to (13, 25) selected, copied and pasted at (30, 3).
moska_key s
read x0 y0 <<< "$(moska_cell 9 20)"; read x1 y1 <<< "$(moska_cell 13 25)"
xdotool mousemove $x0 $y0 sleep 0.1 mousedown 1 sleep 0.15 mousemove $x1 $y1 sleep 0.2 mouseup 1
moska_ctrl c; moska_wait_log "$a" "^Copie 5x6 cellules en 9x20\.$"
moska_ctrl v; moska_wait_log "$a" "^Collage: tampon 5x6\.$"
moska_click $(moska_cell 30 3)
moska_key Escape
moska_field 100 56 "done"
moska_wait_log "$b" "^Action reseau: SENDMAPSYSNAME,map0 done!$"
wait $carol || fail "the base peer: $(tail -n 5 "$root/carol.txt")"
moska_quit "$a" key  # nothing held now: Escape quits
moska_quit "$b"

moska_py "$MOSKA_DEMO" "$a/demo" "$b/demo" "$root/carol.txt" <<'PY' || fail "the cells differ from what was painted"
demo, da, db, actions = sys.argv[1:]
m = read_map(da + "/maps/map0.map")
w, cells = m["w"], m["layers"][-1][1]
at = lambda x, y: cells[y * w + x]
assert [at(10, 20), at(11, 20), at(10, 21), at(11, 21)] == [18, 19, 34, 35], "stamp"
bad = [x for x in range(2, 32) if at(x, 25) != 21]
assert not bad, "stroke gaps at %s" % bad
bad = [(x, y) for y in range(6) for x in range(5) if at(30 + x, 3 + y) != at(9 + x, 20 + y)]
assert not bad, "paste differs at %s" % bad
assert read_map(db + "/maps/map0.map")["layers"] == m["layers"], "bob's copy"
base = read_map(demo + "/maps/map0.map")
layers = [l[1] for l in base["layers"]][::-1]  # bottom-up, as the actions count them
n = 0
for line in open(actions):
    head, _, body = line.rstrip("\n").partition("|")
    f = body.split()
    if head not in ("PARTTHIS!", "DRAWSQUARE") or f[0] != "map0":
        continue
    v = [int(t) for t in f[1:]]
    x1, y1, x2, y2 = (v[1], v[2], v[1], v[2]) if head == "PARTTHIS!" else v[1:5]
    for y in range(min(y1, y2), max(y1, y2) + 1):
        for x in range(min(x1, x2), max(x1, x2) + 1):
            layers[v[0]][y * w + x] = v[-1]
    n += 1
print("base peer: %d cell actions" % n)
assert layers[0] == cells, "the base peer's copy"
PY
echo "stamps, strokes, copy and paste: ok"
