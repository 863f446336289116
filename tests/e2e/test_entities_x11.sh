#!/usr/bin/env bash
# Entities made and edited together with real input, two editors in
# namespaces, each on its own display. Alice makes a definition on her panel
# (New, a name, two fields); both place an instance by a click at the same
# moment; alice drags bob's, bob sets a field of hers and deletes her
# second one; then alice undoes her move while bob sets a field of that
# same instance. Both saved sidecars are the same bytes and hold what was
# done, and both projects export the same TMX objects.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
moska_pair 10.84.0
cell() { echo $((322 + 16 * $1 + 8)) $((16 * $2 + 8)); }  # screen centre of map0's cell (X, Y)
press() { echo "mousemove $1 $2 sleep 0.1 mousedown 1 sleep 0.15 mouseup 1 sleep 0.1"; }
moska_window -d $nb "$b"
moska_window -d $na "$a"
moska_on "$a" moska_join "$a" 10.84.0.2
for d in "$a" "$b"; do moska_wait_log "$d" "^Action reseau: EXTENSIONS,.* ENTITIES( [A-Z]+)*!$"; done
for d in "$a" "$b"; do moska_on "$d" moska_click 250 10; done  # the Entities tab

# The definition: New, named Chest, an integer "gold" and a text "label".
moska_on "$a" moska_click 200 50
moska_wait_log "$b" "^Action reseau: ENTMODEL,"
moska_on "$a" moska_field 200 80 Chest
moska_wait_log "$b" "^Definition Entity1 renommee en Chest \(0 instances\)\.$"
moska_on "$a" moska_field 200 188 gold
moska_on "$a" moska_click 275 214                                   # Add field
moska_on "$a" moska_field 200 188 label
for i in 1 2 3; do moska_on "$a" moska_click 200 214; done          # integer, number, boolean, text
moska_on "$a" moska_click 275 214
moska_wait_count "$b" '^Action reseau: ENTMODEL,.*"label"' 1
python3 - "$a/demo/models" "$b/demo/models" <<'PY' || fail "the definition made on the panel"
import json, os, sys
for d in sys.argv[1:]:
    assert [f for f in os.listdir(d) if f.endswith(".json")] == ["Chest.json"], (d, os.listdir(d))
    m = json.load(open(d + "/Chest.json"))
    assert [(f["name"], f["type"]) for f in m["fields"]] == [("gold", "integer"), ("label", "text")], m
PY

# Both place one at the same moment; alice a second one.
moska_together "$a $(press $(cell 3 3))" "$b $(press $(cell 12 6))"
moska_on "$a" moska_click $(cell 16 10)
moska_wait_count "$b" "^Action reseau: ENTPLACE,map0 " 2
moska_wait_log "$a" "^Action reseau: ENTPLACE,map0 "
idof() {  # DIR X Y: the id of the instance placed at (X, Y) as DIR received it
  sed -n "s/.*Action reseau: ENTPLACE,map0 [0-9]* [0-9]* {\"id\":\"\([0-9a-f]*\)\",\"model\":\"Chest\",\"x\":$2,\"y\":$3}.*/\1/p" "$1/log.txt"
}
A1=$(idof "$b" 48 48) A2=$(idof "$b" 256 160) B1=$(idof "$a" 192 96)
[ -n "$A1" ] && [ -n "$A2" ] && [ -n "$B1" ] || fail "placements not received: '$A1' '$A2' '$B1'"

# Alice drags bob's instance two cells right and down; bob selects hers
# and types its gold, then selects her second one and deletes it.
read x y <<< "$(cell 12 6)"; read x1 y1 <<< "$(cell 14 8)"
moska_on "$a" xdotool mousemove $x $y sleep 0.1 mousedown 1 sleep 0.15 mousemove $((x + 9)) $((y + 9)) \
  sleep 0.15 mousemove $x1 $y1 sleep 0.15 mouseup 1
moska_wait_log "$b" "^Action reseau: ENTMOVE,map0 $B1 224 128 "
moska_on "$b" moska_click $(cell 3 3)
moska_on "$b" moska_field 200 250 50
moska_wait_log "$a" "^Action reseau: ENTFIELD,map0 $A1 [0-9]+ [0-9]+ gold 50!$"
moska_on "$b" moska_click $(cell 16 10)
moska_on "$b" moska_key Delete
moska_wait_log "$a" "^Action reseau: ENTDEL,map0 $A2!$"

# Alice undoes her move while bob sets the label of the same instance.
moska_on "$b" moska_click $(cell 14 8)
moska_on "$b" moska_click 200 272
moska_on "$b" moska_key Delete
moska_on "$b" moska_type "the key"
moska_together "$a keydown ctrl keydown z sleep 0.15 keyup z keyup ctrl" "$b key Return"
moska_wait_log "$b" "^Action reseau: ENTMOVE,map0 $B1 192 96 "
moska_wait_log "$a" "^Action reseau: ENTFIELD,map0 $B1 [0-9]+ [0-9]+ label \"the key\"!$"

for d in "$a" "$b"; do moska_on "$d" moska_ctrl s; moska_wait_log "$d" "^Saved [0-9]+ maps?$"; done
cmp "$a/demo/mapdata/map0.json" "$b/demo/mapdata/map0.json" || fail "the sidecars differ"
python3 - "$a/demo/mapdata/map0.json" "$A1" "$B1" <<'PY' || fail "the instances are not what was done"
import json, sys
got = {e["id"]: e for e in json.load(open(sys.argv[1]))["entities"]}
a1, b1 = got.pop(sys.argv[2]), got.pop(sys.argv[3])
assert not got, got  # the deleted one is gone
assert (a1["x"], a1["y"], a1.get("fields")) == (48, 48, {"gold": 50}), a1
assert (b1["x"], b1["y"], b1.get("fields")) == (192, 96, {"label": "the key"}), b1
PY
moska_quit "$a"
moska_quit "$b"
for d in "$a" "$b"; do "$MOSKA_APP/moska2" --export "$d/demo" map0 "$d/map0.tmx" > /dev/null || fail "export of $d"; done
cmp "$a/map0.tmx" "$b/map0.tmx" || fail "the TMX exports differ"
python3 - "$a/map0.tmx" <<'PY' || fail "the exported objects"
import sys, xml.etree.ElementTree as ET
g = [g for g in ET.parse(sys.argv[1]).getroot().iter("objectgroup") if g.get("name") == "entities"][0]
objs = sorted((o.get("x"), o.get("y"), {p.get("name"): (p.get("type"), p.get("value")) for p in o.iter("property")})
              for o in g.iter("object"))
assert [o[:2] for o in objs] == [("192", "96"), ("48", "48")], objs
assert objs[0][2]["label"] == (None, "the key") and objs[1][2]["gold"] == ("int", "50"), objs
PY
echo "entities together: ok"
