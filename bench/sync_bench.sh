#!/usr/bin/env bash
# Join sync between two real editors in network namespaces:
#   bash bench/sync_bench.sh [BUILD_DIR] [ROUNDS]
# Bob (headless) holds 4 maps of 512x512 cells and 4 layers (16 MiB of
# cells); alice, under Xvfb, joins him. Stale: each of her maps differs from
# his in one cell, so all four travel. Up to date: the same maps, digests
# only. Time: from alice's handshake ("client ok") to her last received map
# (stale) or to the end of the list exchange (up to date), both lines stamped
# by logstamp as they reach her log (no polling delay). Bytes: every sync
# action both sides sent, header blocks included. Median of ROUNDS (3).
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
rounds=${2:-3}
export MOSKA_APP=$build/app
source "$(dirname "$0")/../tests/e2e/lib.sh"
trap moska_cleanup EXIT
GOAL_MS=1000
root=$(mktemp -d /tmp/moska-syncbench-XXXXXX)
demo=$(cd "$(dirname "$0")/../examples/demo" && pwd)
moska_netns sbA$$ 10.84.0.1
moska_netns sbB$$ 10.84.0.2

# The project: demo's tilesets, 4 maps written in the map file layout.
make_project() {  # DIR STALE(0/1)
  cp -r "$demo" "$1"
  rm -f "$1"/maps/*.map
  python3 - "$1/maps" "$2" <<'EOF'
import array, random, struct, sys
folder, stale = sys.argv[1], sys.argv[2] == "1"
side, layers = 512, 4
def s16(t):
    b = t.encode() + b"\0"
    return struct.pack("<H", len(b)) + b
# Ground tiles from a small set with runs and one cell in 7 anything, sparse
# objects above: a map as people make them, neither all zeros nor noise.
for k in range(4):
    name = "big%d" % k
    out = [b"$", s16("Big %d" % k), s16(name), struct.pack("<IIIIH", side, side, 0, 0, layers)]
    rnd = random.Random(7 + k)
    for l in range(layers):
        if l == 0:
            cells = array.array("i", [(c // 37) % 5 for c in range(side * side)])
            for c in rnd.sample(range(side * side), side * side // 7):
                cells[c] = rnd.randrange(48)
        else:
            cells = array.array("i", bytes(4 * side * side))
            for c in rnd.sample(range(side * side), side * side // 23):
                cells[c] = rnd.randrange(200)
        if stale and l == 0:
            cells[k * 1000] += 1
        out += [s16("default"), cells.tobytes(), struct.pack("<bhh", 0, 0, 0)]
    out.append(b"$")
    open("%s/%s.map" % (folder, name), "wb").write(b"".join(out))
EOF
  sed -i "s/^WORKINGMAP .*/WORKINGMAP big0/" "$1/PROJECT.MSK"
}
sent_bytes() {  # LOG: header block + body of every sync action sent
  grep -aoE ' : (SYNC[A-Z]+|STAMP) [0-9]+,' "$1" | awk '{ s += 32 + $3 } END { print s + 0 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

moska_xvfb_start
one_round() {  # STALE
  local r=$root/round$$_$RANDOM a b t0 t1 want i
  a=$r/alice b=$r/bob
  moska_app "$a" username=alice net=1 ipserver=10.84.0.2
  moska_app "$b" username=bob net=1
  make_project "$b/demo" 0
  make_project "$a/demo" "$1"
  SDL_VIDEODRIVER=dummy moska_start_ns sbB$$ "$b" "$b/demo/PROJECT.MSK"; pid_b=$MOSKA_PID
  moska_wait_log "$b" "Project loaded succesfully!" 60
  SDL_VIDEODRIVER=x11 moska_start_ns sbA$$ "$a" "$a/demo/PROJECT.MSK"; pid_a=$MOSKA_PID
  moska_wait_window || fail "no window"
  moska_wait_log "$a" "Project loaded succesfully!" 60
  "$build/bench/logstamp" "$r/stamps.txt" "$a/log.txt" &
  local stamper=$!
  sleep 0.5
  moska_click 186 112  # Join: the address comes from the settings
  moska_wait_log "$a" "^client ok$" 20
  if [ "$1" = 1 ]; then want="Synchro: map big3 recue de bob"; else want="Synchro avec bob"; fi
  for ((i = 0; i < 3000; i++)); do grep -qE "^!?$want" "$a/log.txt" && break; sleep 0.005; done
  [ "$i" -lt 3000 ] || fail "no sync within 15 s"
  sleep 0.2
  kill -TERM "$stamper"; wait "$stamper"
  # Each line stamped as it reached the log: "<microseconds> <file> <line>".
  t0=$(grep -aE '^[0-9]+ 0 !?client ok$' "$r/stamps.txt" | head -n 1 | cut -d' ' -f1)
  t1=$(grep -aE "^[0-9]+ 0 !?$want" "$r/stamps.txt" | head -n 1 | cut -d' ' -f1)
  [ -n "$t0" ] && [ -n "$t1" ] || fail "log lines not stamped"
  t0=$((t0 / 1000)) t1=$((t1 / 1000))
  sleep 1.5  # the quiet-second check, counted in the bytes
  echo "$((t1 - t0)) $(( $(sent_bytes "$a/log.txt") + $(sent_bytes "$b/log.txt") ))"
  for pid in $pid_a $pid_b; do MOSKA_PID=$pid; kill -TERM "$pid"; moska_wait_exit 30; done
  rm -rf "$r"
}
for stale in 1 0; do
  results=()
  for ((k = 0; k < rounds; k++)); do results+=("$(one_round $stale)"); done
  t=$(printf '%s\n' "${results[@]}" | cut -d' ' -f1 | median)
  bytes=$(printf '%s\n' "${results[@]}" | cut -d' ' -f2 | median)
  what=$([ $stale = 1 ] && echo "stale (4 maps replaced)" || echo "up to date (digests only)")
  verdict=$([ "$t" -le "$GOAL_MS" ] && echo "goal met" || echo "GOAL MISSED")
  echo "join sync, 16 MiB project, $what: $t ms, $bytes bytes sent; goal ${GOAL_MS} ms: $verdict (rounds: $(printf '%s ms ' "${results[@]%% *}"))"
done
rm -rf "$root"
