#!/usr/bin/env bash
# A real editor in a namespace, driven over TCP by test peers, its project on
# a small tmpfs. Disk full: a map saved when its peer leaves, a new map, a
# received tileset and pass conditions fail, logged, old files whole, no
# partial file, the map kept open; with room the same work succeeds. Then
# the base protocol: handshakes, edits, a missing tileset, pass conditions,
# map following, names leaving the project, a peer killed mid-transfer, a
# wrong version, the disconnect at quit.
set -u
source "$(dirname "$0")/lib.sh"
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
app=$root/app demo=$MOSKA_DEMO
proj=$app/demo log=$app/log.txt
moska_app "$app" username=alice net=1
mkdir -p "$proj" "$root/peer"
mount -t tmpfs -o size=1m tmpfs "$proj" || fail "cannot mount a tmpfs"
cleanup() {
  local status=$?
  ( moska_cleanup ) || status=1   # a sanitizer report fails the test too
  umount "$proj" 2>/dev/null || umount -l "$proj" 2>/dev/null
  exit $status
}
trap cleanup EXIT
cp -r "$demo"/. "$proj"/
ned=ned$$ npr=npr$$
moska_netns $ned 10.77.0.1
moska_netns $npr 10.77.0.2
peer() { ip netns exec $npr "$MOSKA_TOOL" 10.77.0.1 "$@"; }
moska_open $ned "$app"
# Fills the disk, then frees one page: a write of more than that fails part
# of the way.
fill() {
  cat /dev/zero > "$proj/filler" 2>/dev/null
  local size; size=$(stat -c %s "$proj/filler")
  truncate -s $((size > 4096 ? size - 4096 : 0)) "$proj/filler"
}
leftovers() { find "$proj" -name '*.tmp' -o -name '*.part' | grep -q . && fail "partial files: $(find "$proj" -name '*.tmp' -o -name '*.part')"; }
alive() { kill -0 "$MOSKA_PID" 2>/dev/null || fail "the editor died: $(tail -n 20 "$log")"; }
head -c 12000 /dev/urandom > "$root/big.pss"

fill
peer bob 0.24a join act SILENTOPEN map1 act PARTTHIS! "map1 0 1 1 9" sleep 300 bye > "$root/p1.txt" ||
  fail "peer 1: $(cat "$root/p1.txt")"
moska_wait_log "$app" "^ERREUR: ecriture de la map map1 impossible \(No space left on device\), ancien fichier conserve!$"
moska_wait_log "$app" "^Map map1: enregistrement impossible, elle reste ouverte\.$"
grep -q "^!\{0,1\}Map map1 enregistree avec succ" "$log" && fail "a failed save reported as saved"
cmp -s "$demo/maps/map1.map" "$proj/maps/map1.map" || fail "map1.map changed by a failed save"
# A new map: refused before writing when the free space is known, else the
# write fails; no file at all.
peer carol 0.24a join act NEWMAP "cave 64 64" sleep 300 bye > "$root/p2.txt" || fail "peer 2: $(cat "$root/p2.txt")"
moska_wait_log "$app" "^(ERREUR: ecriture de la map cave impossible \(No space left on device\), ancien fichier conserve!|Action NEWMAP ignoree: disque plein\.)$"
[ ! -e "$proj/maps/cave.map" ] || fail "a half-written cave.map"
grep -q "^!\{0,1\}Fin de la creation de map\.$" "$log" && fail "a failed NEWMAP reported as done"
peer dave 0.24a join addlayer map0 roomtiles "$demo/layers/default.png" "$root/big.pss" \
  sendpc dungeon "$root/big.pss" sleep 300 bye > "$root/p3.txt" || fail "peer 3: $(cat "$root/p3.txt")"
moska_wait_log "$app" "^Tileset roomtiles non recu \(vide ou ecriture impossible\)\.$"
moska_wait_log "$app" "^ERREUR: fichier de passabilite dungeon impossible a ecrire!$"
[ ! -e "$proj/layers/roomtiles.png" ] && [ ! -e "$proj/layerspc/roomtiles.pss" ] || fail "a tileset without room is in place"
cmp -s "$demo/layerspc/dungeon.pss" "$proj/layerspc/dungeon.pss" || fail "dungeon.pss changed"
leftovers
alive
# Room again: the map kept open still holds the first edit and is saved (the
# tileset with room comes below).
rm -f "$proj/filler"
peer erin 0.24a join act SILENTOPEN map1 act PARTTHIS! "map1 0 2 2 9" sleep 300 bye > "$root/p4.txt" ||
  fail "peer 4: $(cat "$root/p4.txt")"
moska_wait_log "$app" "^Map map1 enregistree avec succ"
grep -q "^!\{0,1\}Mise à jour du pointeur\.$" "$log" || fail "map1 was not kept open"
moska_py "$proj/maps/map1.map" <<'PY' || fail "map1.map is not whole or lacks the edits"
m = read_map(sys.argv[1]); w = m["w"]
assert m["rest"] == b"$", "length"
assert any(l[1][w + 1] == 9 and l[1][2 * w + 2] == 9 for l in m["layers"]), "edits"
PY
leftovers

# The base protocol: lines since this mark belong to it.
mark=$(wc -l < "$log")
since() { tail -n +$((mark + 1)) "$log" | grep -qE -- "$1"; }
cp "$demo/layers/dungeon.png" "$root/peer/newtiles.png"
cp "$root/big.pss" "$root/peer/newtiles.pss"
# Pass conditions: one payload shorter than the tileset needs (refused, the
# file stays whole), then a whole one.
printf '\0\1\0\1\1\1\1\1' > "$root/peer/short.pss"
head -c "$(stat -c %s "$demo/layerspc/dungeon.pss")" /dev/zero > "$root/peer/dungeon.pss"
peer bob 0.24a join act PARTTHIS! "map0 0 3 2 5" act DRAWSQUARE "map0 0 0 0 1 1 7" \
  act SENDMAPSYSNAME "map0 Hall of the king" act NEWMAP "fresh 4 3" \
  addlayer map0 newtiles "$root/peer/newtiles.png" "$root/peer/newtiles.pss" \
  sendpc dungeon "$root/peer/short.pss" sendpc dungeon "$root/peer/dungeon.pss" act SILENTOPEN map1 act NEWMAP "../../escape 2 2" \
  act PARTTHIS! "nomap 0 1 1 1" sleep 300 bye > "$root/peer1.txt" || fail "peer 1: $(cat "$root/peer1.txt")"
grep -q "reverse token THANKS!" "$root/peer1.txt" || fail "no reverse connection"
for ((i = 0; i < 200; i++)); do since "^Map map1 enregistree avec succès!$" && break; sleep 0.1; done
for line in "working map: map0,i:map1,j=64\." "Map map1 enregistree avec succès!" "0->map1!" \
    "Connecte avec bob sur le tunnel 0 pour le serveur!" "Reciprocite: 10.77.0.2:34567" \
    "J'ai repondu donc a bob sur le tunnel 0 pour le client!" "setElementAbsolute\(0,0,3,2,5\);" \
    "setElementAbsolute\(0,0,1,1,7\);" "Map map0 renommee en Hall of the king\." "LayerGFX newtiles recu!" \
    "Conditions de passage dungeon refusees: 8 octets.*"; do
  since "^$line$" || fail "no line '$line'"
done
cmp -s "$root/peer/newtiles.png" "$proj/layers/newtiles.png" || fail "tileset differs"
cmp -s "$root/peer/newtiles.pss" "$proj/layerspc/newtiles.pss" || fail "pass conditions differ"
cmp -s "$root/peer/dungeon.pss" "$proj/layerspc/dungeon.pss" || fail "pushed pass conditions differ"
[ -f "$proj/maps/fresh.map" ] || fail "NEWMAP created no file"
[ ! -e "$app/escape.map" ] && [ ! -e "$proj/escape.map" ] || fail "NEWMAP wrote outside maps"

peer bob 0.24a join addlayer map0 halfset "$root/peer/newtiles.png" "$root/peer/newtiles.pss" cut > "$root/peer2.txt"
moska_wait_log "$app" "(Transfert interrompu|Connexion perdue).*tunnel 0"
[ ! -e "$proj/layers/halfset.png" ] || fail "truncated tileset left in place"
leftovers
# Another version is refused on both sides: the joiner closes without a
# token, the editor logs the mismatch all the same and frees the slot at once.
peer bob 0.23 join > "$root/peer3.txt"
[ $? = 2 ] || fail "wrong version not refused: $(cat "$root/peer3.txt")"
grep -q "^!\{0,1\}Mauvaise version 0.23<>0.24a!$" "$root/peer3.txt" || fail "joiner's mismatch log"
moska_wait_log "$app" "^Mauvaise version 0.24a<>0.23!$" 5

served=$(grep -c "little serveur demarre!$" "$log")
peer bob 0.24a join expect DISCONNECT! > "$root/peer4.txt" &
tp=$!
for ((i = 0; i < 200; i++)); do
  (($(grep -c "little serveur demarre!$" "$log") > served)) && break
  sleep 0.1
done
[ "$i" -lt 200 ] || fail "peer 4 not served"
[ "$(grep "^!\{0,1\}Cient pour le tunnel" "$log" | sed "s/^!//" | tail -n 1)" = "Cient pour le tunnel 0!" ] || fail "slot of the refused peer not freed"
sleep 0.5
moska_quit "$MOSKA_PID" editor
wait $tp || fail "peer 4 got no DISCONNECT!: $(cat "$root/peer4.txt")"
# Its first action was the announcement of the editor's extensions (AUTH,
# though no key is set, and SYNC), which a peer of the base protocol passes over.
[ "$(grep -c "^EXTENSIONS|" "$root/peer4.txt")" = 1 ] && grep -q "^EXTENSIONS|AUTH SYNC$" "$root/peer4.txt" ||
  fail "no single EXTENSIONS action: $(cat "$root/peer4.txt")"
grep -q "^!\{0,1\}Deconnexion du client 0:bob terminee\.$" "$log" || fail "disconnect log"
grep -aq "Hall of the king" "$proj/maps/map0.map" && grep -aq "newtiles" "$proj/maps/map0.map" ||
  fail "display name or added layer not saved"
echo "network peer and full disk: ok"
