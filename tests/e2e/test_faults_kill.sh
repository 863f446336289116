#!/usr/bin/env bash
# Processes killed at random moments. Peers killed while they join or send
# actions or a tileset: the editor keeps running, frees their slots, keeps no
# partial tileset. The editor killed while it saves a large map: the file is
# the old one or the new one, whole.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
ned=ked$$ npr=kpr$$
moska_netns $ned 10.80.0.1
moska_netns $npr 10.80.0.2
log=$root/app/log.txt
# A random delay of 0 to $1 milliseconds, in seconds.
delay() { local d=$((RANDOM * 32768 + RANDOM)); d=$((d % $1)); printf '%d.%03d' $((d / 1000)) $((d % 1000)); }
alive() { kill -0 "$MOSKA_PID" 2>/dev/null || fail "the editor died: $(tail -n 20 "$log")"; }

demo=$MOSKA_DEMO
moska_demo "$root/app" username=alice net=1
peer() { ip netns exec $npr "$MOSKA_TOOL" 10.80.0.1 "$@"; }
# A tileset of a few megabytes, so a kill often lands inside its transfer.
convert -size 1024x1024 xc: +noise Random "$root/big.png" || fail "convert"
head -c 4096 /dev/urandom > "$root/big.pss"

moska_open $ned "$root/app"
# One peer left alone gives the length of a whole run; the others are killed
# at random moments inside it (exec: in the background, $! is the peer).
sender() {
  exec ip netns exec $npr "$MOSKA_TOOL" 10.80.0.1 peer$1 0.24a join act PARTTHIS! "map0 0 $1 1 3" \
    addlayer map0 set$1 "$root/big.png" "$root/big.pss" act PARTTHIS! "map0 0 $1 2 3" \
    sendpc dungeon "$root/big.pss" act PARTTHIS! "map0 0 $1 3 3" bye > "$root/peer$1.txt" 2>&1
}
t0=$(date +%s%N)
(sender 0) || fail "peer 0: $(cat "$root/peer0.txt")"
ms=$((($(date +%s%N) - t0) / 1000000))
moska_wait_log "$root/app" "^setElementAbsolute\(0,0,0,3,3\);$"
echo "a whole peer run takes ${ms} ms"
for k in $(seq 10); do
  sender $k &
  tp=$!
  sleep "$(delay $((ms + 1)))"
  kill -9 $tp 2>/dev/null; wait $tp 2>/dev/null
  sleep 0.2
  alive
done
sleep 1
alive
for k in $(seq 0 10); do
  f=$root/app/demo/layers/set$k.png
  [ ! -e "$f" ] || cmp -s "$f" "$root/big.png" || fail "partial tileset set$k.png"
done
find "$root/app/demo" -name '*.part' | grep -q . && fail "temporary files left"
peer last 0.24a join addlayer map0 lastset "$root/big.png" "$root/big.pss" \
  act PARTTHIS! "map0 0 30 30 4" sleep 300 bye > "$root/last.txt" 2>&1 || fail "last peer: $(cat "$root/last.txt")"
moska_wait_log "$root/app" "^setElementAbsolute\(0,0,30,30,4\);$"
grep -q "^!\{0,1\}Connecte avec last sur le tunnel 0 pour le serveur!$" "$log" ||
  fail "a killed peer's slot was not freed: $(grep "^!\{0,1\}Connecte avec last" "$log")"
cmp -s "$root/app/demo/layers/lastset.png" "$root/big.png" || fail "last tileset differs"
moska_quit "$MOSKA_PID" "the editor after the killed peers"

echo "killed peers: $(cat "$root"/peer*.txt | grep -c "^!\{0,1\}editor") of 11 past the handshake, $(grep -c "^!\{0,1\}Transfert interrompu" "$log") inside a transfer"

# --- The editor killed while it saves. A one-layer 1024x1024 map (4 MiB).
proj=$root/big
cp -r "$demo" "$proj"
python3 - "$proj/maps/map0.map" <<'PY'
import struct, sys
w = 1024
s = lambda t: struct.pack("<H", len(t) + 1) + t.encode() + b"\0"
cells = bytearray(4 * w * w)
for i in range(0, len(cells), 4 * 997):
    struct.pack_into("<i", cells, i, 1 + i % 40)
open(sys.argv[1], "wb").write(b"$" + s("Big map") + s("map0") + struct.pack("<IIIIH", w, w, 0, 0, 1)
                              + s("default") + bytes(cells) + struct.pack("<bhh", 0, 0, 0) + b"$")
PY
cp "$proj/maps/map0.map" "$root/old.map"
# Writing even a large map takes a few milliseconds here, far less than a
# shell needs to fork a kill. So strace is attached to the editor before the
# quit and delays each of its file system calls by 50 ms: the save then spans
# over half a second, and a kill at a random moment lands inside it.
# saving: the editor on the old big map, one cell painted through a peer, then
# quit under strace; returns when the save has begun.
saving() {
  cp "$root/old.map" "$proj/maps/map0.map"
  rm -f "$proj/maps/map0.map.tmp"
  moska_start -n $ned "$root/app" "$proj/PROJECT.MSK"
  moska_wait_log "$root/app" "Project loaded succesfully!" 60
  peer bob 0.24a join act PARTTHIS! "map0 0 5 5 7" sleep 200 bye > "$root/bob.txt" 2>&1 || fail "peer: $(cat "$root/bob.txt")"
  moska_wait_log "$root/app" "^setElementAbsolute\(0,0,5,5,7\);$"
  strace -f -qq -o /dev/null -p "$MOSKA_PID" -e trace=write,fsync,rename,openat,close \
    -e inject=write,fsync,rename,openat,close:delay_enter=50000 2>/dev/null &
  strace_pid=$!
  local i
  for ((i = 0; i < 100; i++)); do
    [ "$(awk '/^TracerPid/ {print $2}' /proc/$MOSKA_PID/status)" != 0 ] && break
    sleep 0.05
  done
  [ "$i" -lt 100 ] || fail "strace did not attach"
  kill -TERM "$MOSKA_PID"
  moska_wait_log "$root/app" "^Loaded file\(wb\): .*map0\.map!$" 30
}
saving
t0=$(date +%s%N)
moska_wait_log "$root/app" "^Map map0 enregistree avec succ" 30
ms=$((($(date +%s%N) - t0) / 1000000))
kill -INT $strace_pid; wait $strace_pid  # LeakSanitizer does not run under a tracer
moska_wait_exit 60
[ "$MOSKA_STATUS" = 0 ] || fail "status $MOSKA_STATUS after a whole save"
cp "$proj/maps/map0.map" "$root/new.map"
cmp -s "$root/old.map" "$root/new.map" && fail "the edit did not change the file"
echo "a slowed save of map0 takes about ${ms} ms"
old=0 new=0
for i in $(seq 6); do
  saving
  # The rename comes about half-way through the slowed save, log lines after it.
  sleep "$(delay $((ms * 3 / 4 + 1)))"
  kill -9 "$MOSKA_PID" 2>/dev/null
  wait "$MOSKA_PID" 2>/dev/null
  cmp -s "$proj/maps/map0.map" "$root/old.map" && { old=$((old + 1)); continue; }
  cmp -s "$proj/maps/map0.map" "$root/new.map" ||
    fail "killed during a save: map0.map is neither the old nor the new file ($(stat -c %s "$proj/maps/map0.map") bytes)"
  new=$((new + 1))
done
echo "editor killed during a save: old file $old times, new file $new times"
moska_start -n $ned "$root/app" "$proj/PROJECT.MSK"
moska_wait_log "$root/app" "^Map OK:$" 60
moska_quit "$MOSKA_PID" "the editor reopening"
echo "killed processes: ok"
