#!/usr/bin/env bash
# A full disk under a running editor: the project lives on a small tmpfs that
# is filled up. A map saved when a peer leaves it, a new map, a received
# tileset and received pass conditions all fail to be written: each failure
# is logged, the old files stay whole, no partial file is left, the map stays
# open, and once there is room again the same work succeeds.
set -u
source "$(dirname "$0")/lib.sh"
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
proj=$root/proj
mkdir -p "$proj"
mount -t tmpfs -o size=1m tmpfs "$proj" || fail "cannot mount a tmpfs"
cleanup() {
  local status=$?
  ( moska_cleanup ) || status=1   # a sanitizer report fails the test too
  umount "$proj" 2>/dev/null || umount -l "$proj" 2>/dev/null
  exit $status
}
trap cleanup EXIT
demo=$MOSKA_DEMO
ned=fed$$ npr=fpr$$
moska_netns $ned 10.79.0.1
moska_netns $npr 10.79.0.2
peer() { ip netns exec $npr "$MOSKA_TOOL" 10.79.0.1 "$@"; }

moska_app "$root/app" username=alice net=1
cp -r "$demo"/. "$proj"/
cp -r "$demo" "$root/orig"
head -c 12000 /dev/urandom > "$root/big.pss"
moska_start -n $ned "$root/app" "$proj/PROJECT.MSK"
moska_wait_log "$root/app" "Project loaded succesfully!"
log=$root/app/log.txt

# Fills the disk, then frees one page: a write of more than that fails
# part of the way.
fill() {
  cat /dev/zero > "$proj/filler" 2>/dev/null
  local size; size=$(stat -c %s "$proj/filler")
  truncate -s $((size > 4096 ? size - 4096 : 0)) "$proj/filler"
}
room() { rm -f "$proj/filler"; }
leftovers() { find "$proj" -name '*.tmp' -o -name '*.part' | grep -q . && fail "partial files: $(find "$proj" -name '*.tmp' -o -name '*.part')"; }
alive() { kill -0 "$MOSKA_PID" 2>/dev/null || fail "the editor died: $(tail -n 20 "$log")"; }

# 1. A map saved when the peer that opened it leaves.
fill
peer bob 0.24a join act SILENTOPEN map1 act PARTTHIS! "map1 0 1 1 9" sleep 300 bye > "$root/p1.txt" ||
  fail "peer 1: $(cat "$root/p1.txt")"
moska_wait_log "$root/app" "^ERREUR: ecriture de la map map1 impossible \(No space left on device\), ancien fichier conserve!$"
moska_wait_log "$root/app" "^Map map1: enregistrement impossible, elle reste ouverte\.$"
grep -q "^Map map1 enregistree avec succ" "$log" && fail "a failed save reported as saved"
cmp -s "$root/orig/maps/map1.map" "$proj/maps/map1.map" || fail "map1.map changed by a failed save"
leftovers
alive

# 2. A new map from a peer: no file at all.
peer carol 0.24a join act NEWMAP "cave 64 64" sleep 300 bye > "$root/p2.txt" || fail "peer 2: $(cat "$root/p2.txt")"
# Refused before writing when the free space is known, else the write fails.
moska_wait_log "$root/app" "^(ERREUR: ecriture de la map cave impossible \(No space left on device\), ancien fichier conserve!|Action NEWMAP ignoree: disque plein\.)$"
[ ! -e "$proj/maps/cave.map" ] || fail "a half-written cave.map"
grep -q "^Fin de la creation de map\.$" "$log" && fail "a failed NEWMAP reported as done"
leftovers

# 3. A received tileset and received pass conditions.
peer dave 0.24a join addlayer map0 newtiles "$demo/layers/default.png" "$root/big.pss" \
  sendpc dungeon "$root/big.pss" sleep 300 bye > "$root/p3.txt" || fail "peer 3: $(cat "$root/p3.txt")"
moska_wait_log "$root/app" "^Tileset newtiles non recu \(vide ou ecriture impossible\)\.$"
moska_wait_log "$root/app" "^ERREUR: fichier de passabilite dungeon impossible a ecrire!$"
[ ! -e "$proj/layers/newtiles.png" ] || fail "a truncated tileset is in place"
[ ! -e "$proj/layerspc/newtiles.pss" ] || fail "pass conditions of a missing tileset"
cmp -s "$root/orig/layerspc/dungeon.pss" "$proj/layerspc/dungeon.pss" || fail "dungeon.pss changed"
leftovers
alive

# 4. Room again: the map kept open still holds the first edit, and every
# write now succeeds.
room
peer erin 0.24a join act SILENTOPEN map1 act PARTTHIS! "map1 0 2 2 9" \
  addlayer map0 newtiles "$demo/layers/default.png" "$root/big.pss" sleep 300 bye > "$root/p4.txt" ||
  fail "peer 4: $(cat "$root/p4.txt")"
moska_wait_log "$root/app" "^Map map1 enregistree avec succ"
grep -q "^Mise à jour du pointeur\.$" "$log" || fail "map1 was not kept open"
grep -q "^LayerGFX newtiles recu!$" "$log" || fail "tileset not received with room"
cmp -s "$demo/layers/default.png" "$proj/layers/newtiles.png" || fail "tileset differs"
cmp -s "$root/big.pss" "$proj/layerspc/newtiles.pss" || fail "pass conditions differ"
moska_py "$proj/maps/map1.map" <<'PY' || fail "map1.map is not whole or lacks the edits"
m = read_map(sys.argv[1]); w = m["w"]
assert m["rest"] == b"$", "length"
assert any(l[1][w + 1] == 9 and l[1][2 * w + 2] == 9 for l in m["layers"]), "edits"
PY
leftovers
moska_quit "$MOSKA_PID" editor
echo "full disk: ok"
