#!/usr/bin/env bash
# A real editor in its own network namespace, driven over TCP by a test peer
# in another: handshake both ways, edits, a tileset the editor lacks, pass
# conditions, map following, a peer killed mid-transfer, a wrong version,
# and the disconnect at quit.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
tool=${MOSKA_BUILD:-$(dirname "$0")/../../build}/tests/peer_tool
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
ned=ned$$ npr=npr$$
moska_netns $ned 10.77.0.1
moska_netns $npr 10.77.0.2
peer() { ip netns exec $npr "$tool" 10.77.0.1 bob "$@"; }

moska_app "$root/app" username=alice net=1
cp -r "$demo" "$root/demo"
mkdir -p "$root/peer"
cp "$demo/layers/dungeon.png" "$root/peer/newtiles.png"
head -c 4096 /dev/urandom > "$root/peer/newtiles.pss"
# Pass conditions: one payload shorter than the tileset needs (refused, the
# file stays whole), then a whole one.
printf '\0\1\0\1\1\1\1\1' > "$root/peer/short.pss"
head -c "$(stat -c %s "$demo/layerspc/dungeon.pss")" /dev/zero > "$root/peer/dungeon.pss"
SDL_VIDEODRIVER=dummy moska_start_ns $ned "$root/app" "$root/demo/PROJECT.MSK"
moska_wait_log "$root/app" "Project loaded succesfully!"
log="$root/app/log.txt"

peer 0.24a join act PARTTHIS! "map0 0 3 2 5" act DRAWSQUARE "map0 0 0 0 1 1 7" \
  act SENDMAPSYSNAME "map0 Hall of the king" act NEWMAP "fresh 4 3" \
  addlayer map0 newtiles "$root/peer/newtiles.png" "$root/peer/newtiles.pss" \
  sendpc dungeon "$root/peer/short.pss" sendpc dungeon "$root/peer/dungeon.pss" act SILENTOPEN map1 act NEWMAP "../../escape 2 2" \
  act PARTTHIS! "nomap 0 1 1 1" sleep 300 bye > "$root/peer1.txt" || fail "peer 1: $(cat "$root/peer1.txt")"
grep -q "reverse token THANKS!" "$root/peer1.txt" || fail "no reverse connection"
moska_wait_log "$root/app" "^working map: map0,i:map1,j=64\.$"
grep -q "^Connecte avec bob sur le tunnel 0 pour le serveur!$" "$log" || fail "serving log"
grep -q "^Reciprocite: 10.77.0.2:34567$" "$log" || fail "reverse log"
grep -q "^J'ai repondu donc a bob sur le tunnel 0 pour le client!$" "$log" || fail "reverse client log"
grep -q "^setElementAbsolute(0,0,3,2,5);$" "$log" || fail "pen not applied"
grep -q "^setElementAbsolute(0,0,1,1,7);$" "$log" || fail "rectangle not applied"
grep -q "^Map map0 renommee en Hall of the king\.$" "$log" || fail "rename"
grep -q "^LayerGFX newtiles recu!$" "$log" || fail "tileset not received"
cmp -s "$root/peer/newtiles.png" "$root/demo/layers/newtiles.png" || fail "tileset differs"
cmp -s "$root/peer/newtiles.pss" "$root/demo/layerspc/newtiles.pss" || fail "pass conditions differ"
grep -q "^Conditions de passage dungeon refusees: 8 octets" "$log" || fail "short pass conditions not refused"
cmp -s "$root/peer/dungeon.pss" "$root/demo/layerspc/dungeon.pss" || fail "pushed pass conditions differ"
[ -f "$root/demo/maps/fresh.map" ] || fail "NEWMAP created no file"
[ ! -e "$root/escape.map" ] && [ ! -e "$root/demo/escape.map" ] || fail "NEWMAP wrote outside maps"
grep -q "^0->map1!$" "$log" || fail "map following"
# map1 was released (saved and closed) when bob left: it is on disk.
grep -q "^Map map1 enregistree avec succès!$" "$log" || fail "map1 not released"

# A peer killed in the middle of a tileset: no tileset, no leftover, slot freed.
peer 0.24a join addlayer map0 halfset "$root/peer/newtiles.png" "$root/peer/newtiles.pss" cut > "$root/peer2.txt"
moska_wait_log "$root/app" "(Transfert interrompu|Connexion perdue).*tunnel 0"
[ ! -e "$root/demo/layers/halfset.png" ] || fail "truncated tileset left in place"
ls "$root/demo/layers" | grep -q part && fail "temporary file left"

# Another version is refused on both sides: the joiner closes without a
# token, the editor logs the mismatch all the same and frees the slot at once.
peer 0.23 join > "$root/peer3.txt"
[ $? = 2 ] || fail "wrong version not refused: $(cat "$root/peer3.txt")"
grep -q "^Mauvaise version 0.23<>0.24a!$" "$root/peer3.txt" || fail "joiner's mismatch log"
moska_wait_log "$root/app" "^Mauvaise version 0.24a<>0.23!$" 5

# Quit with a peer connected: it gets "DISCONNECT! 0"; every edit reaches the files.
peer 0.24a join expect DISCONNECT! > "$root/peer4.txt" &
tp=$!
# Peers 1 and 2 were served before: wait for the third serving to start.
for ((i = 0; i < 200; i++)); do
  [ "$(grep -c "^little serveur demarre!$" "$log")" -ge 3 ] && break
  sleep 0.1
done
[ "$i" -lt 200 ] || fail "peer 4 not served"
[ "$(grep "^Cient pour le tunnel" "$log" | tail -n 1)" = "Cient pour le tunnel 0!" ] || fail "slot of the refused peer not freed"
sleep 0.5
kill -TERM "$MOSKA_PID"
moska_wait_exit 20
[ "$MOSKA_STATUS" = 0 ] || fail "editor exit status $MOSKA_STATUS"
wait $tp || fail "peer 4 got no DISCONNECT!: $(cat "$root/peer4.txt")"
# Its first action was the announcement of the editor's extensions (AUTH,
# though no key is set, and SYNC), which a peer of the base protocol passes over.
[ "$(grep -c "^EXTENSIONS|" "$root/peer4.txt")" = 1 ] && grep -q "^EXTENSIONS|AUTH SYNC$" "$root/peer4.txt" ||
  fail "no single EXTENSIONS action: $(cat "$root/peer4.txt")"
grep -q "^Deconnexion du client 0:bob terminee\.$" "$log" || fail "disconnect log"
grep -aq "Hall of the king" "$root/demo/maps/map0.map" || fail "display name not saved"
grep -aq "newtiles" "$root/demo/maps/map0.map" || fail "added layer not saved"
echo "network peer test passed"
