#!/usr/bin/env bash
# Join sync between two real editors in network namespaces:
#   bash bench/sync_bench.sh [BUILD_DIR] [ROUNDS]
# Bob (headless) holds 4 maps of 512x512 cells and 4 layers (16 MiB of
# cells); alice, under Xvfb, joins him. Stale: each of her maps differs from
# his in one cell, so all four travel. Up to date: the same maps, digests
# only. Time: from alice's handshake ("client ok") to her last received map
# (stale) or to the end of the list exchange (up to date), both lines stamped
# by logstamp as they reach her log (no polling delay). Bytes: every sync
# action both sides sent, header blocks included. Merge: one such map, shared
# in a first session (its base on both sides), then changed on both sides
# apart (2000 cells each, 20 of them differently on both): from alice's
# "client ok" to the later of both editors' "Fusion" line, which they log
# once the merged map is in place (the next frame shows it). Median of
# ROUNDS (3).
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
rounds=${2:-3}
export MOSKA_APP=$build/app
source "$(dirname "$0")/../tests/e2e/lib.sh"
trap moska_cleanup EXIT
GOAL_MS=1000
MERGE_GOAL_MS=1500
root=$(mktemp -d /tmp/moska-syncbench-XXXXXX)
demo=$(cd "$(dirname "$0")/../examples/demo" && pwd)
moska_netns sbA$$ 10.84.0.1
moska_netns sbB$$ 10.84.0.2

# The project: demo's tilesets, MAPS (4) maps written in the map file layout.
make_project() {  # DIR STALE(0/1) [MAPS]
  cp -r "$demo" "$1"
  rm -f "$1"/maps/*.map
  python3 - "$1/maps" "$2" "${3:-4}" <<'EOF'
import array, random, struct, sys
folder, stale, maps = sys.argv[1], sys.argv[2] == "1", int(sys.argv[3])
side, layers = 512, 4
def s16(t):
    b = t.encode() + b"\0"
    return struct.pack("<H", len(b)) + b
# Ground tiles from a small set with runs and one cell in 7 anything, sparse
# objects above: a map as people make them, neither all zeros nor noise.
for k in range(maps):
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
start_pair() {  # A B: bob headless, alice in a window; sets pid_a pid_b
  SDL_VIDEODRIVER=dummy moska_start_ns sbB$$ "$2" "$2/demo/PROJECT.MSK"; pid_b=$MOSKA_PID
  moska_wait_log "$2" "Project loaded succesfully!" 60
  SDL_VIDEODRIVER=x11 moska_start_ns sbA$$ "$1" "$1/demo/PROJECT.MSK"; pid_a=$MOSKA_PID
  moska_wait_window || fail "no window"
  moska_wait_log "$1" "Project loaded succesfully!" 60
}
stop_pair() { for pid in $pid_a $pid_b; do MOSKA_PID=$pid; kill -TERM "$pid"; moska_wait_exit 30; done; }
# Waits for a line matching WANT in each LOG, then prints the time from
# alice's "client ok" to the latest of them (ms), as logstamp stamped them.
stamped_wait() {  # STAMPS STAMPER WANT LOG...
  local stamps=$1 stamper=$2 want=$3 i k t t0 t1=0
  shift 3
  for ((i = 0; i < 3000; i++)); do
    k=0
    for f in "$@"; do grep -qE "^!?$want" "$f" && k=$((k + 1)); done
    [ "$k" = $# ] && break
    sleep 0.005
  done
  [ "$i" -lt 3000 ] || fail "no sync within 15 s"
  sleep 0.2
  kill -TERM "$stamper"; wait "$stamper"
  # Each line stamped as it reached the log: "<microseconds> <file> <line>".
  t0=$(grep -aE '^[0-9]+ 0 !?client ok$' "$stamps" | head -n 1 | cut -d' ' -f1)
  for ((k = 0; k < $#; k++)); do
    t=$(grep -aE "^[0-9]+ $k !?$want" "$stamps" | head -n 1 | cut -d' ' -f1)
    [ -n "$t" ] && [ -n "$t0" ] || fail "log lines not stamped"
    [ "$t" -gt "$t1" ] && t1=$t
  done
  echo $(((t1 - t0) / 1000))
}
one_round() {  # STALE
  local r=$root/round$$_$RANDOM a b want t
  a=$r/alice b=$r/bob
  moska_app "$a" username=alice net=1 ipserver=10.84.0.2
  moska_app "$b" username=bob net=1
  make_project "$b/demo" 0
  make_project "$a/demo" "$1"
  start_pair "$a" "$b"
  "$build/bench/logstamp" "$r/stamps.txt" "$a/log.txt" &
  local stamper=$!
  sleep 0.5
  moska_click 186 112  # Join: the address comes from the settings
  moska_wait_log "$a" "^client ok$" 20
  if [ "$1" = 1 ]; then want="Synchro: map big3 recue de bob"; else want="Synchro avec bob"; fi
  t=$(stamped_wait "$r/stamps.txt" $stamper "$want" "$a/log.txt")
  sleep 1.5  # the quiet-second check, counted in the bytes
  echo "$t $(( $(sent_bytes "$a/log.txt") + $(sent_bytes "$b/log.txt") ))"
  stop_pair
  rm -rf "$r"
}
# Cells of big0 changed apart: SEED picks 2000 cells of its 4 layers (odd or
# even ones by its parity: seeds of either parity never pick one cell), and
# cells 0-19 of layer 1 take SEED too, so two seeds change them differently.
change_apart() {  # DIR SEED
  python3 - "$1/demo/maps/big0.map" "$2" <<'EOF'
import random, struct, sys
path, seed = sys.argv[1], int(sys.argv[2])
b = bytearray(open(path, "rb").read())
side, layers, record = 512, 4, 4 * 512 * 512 + 15   # "default" named, cells, bg, x, y
first = len(b) - 1 - layers * record + 10           # the top layer's cells
rnd = random.Random(seed)
for c in rnd.sample(range(seed % 2, layers * side * side, 2), 2000) + [side * side + c for c in range(20)]:
    l, cell = divmod(c, side * side)
    struct.pack_into("<i", b, first + l * record + 4 * cell, seed + l)
open(path, "wb").write(b)
EOF
}
merge_round() {
  local r=$root/round$$_$RANDOM a b t
  a=$r/alice b=$r/bob
  moska_app "$a" username=alice net=1 ipserver=10.84.0.2
  moska_app "$b" username=bob net=1
  make_project "$b/demo" 0 1
  make_project "$a/demo" 0 1
  # A first session: the same map on both sides becomes their base.
  start_pair "$a" "$b"
  sleep 0.5
  moska_click 186 112
  for d in "$a" "$b"; do moska_wait_log "$d" "^Bases: [0-9]+ map\\(s\\) mise\\(s\\) a jour \\(synchro" 20; done
  stop_pair
  change_apart "$a" 101
  change_apart "$b" 202
  start_pair "$a" "$b"
  "$build/bench/logstamp" "$r/stamps.txt" "$a/log.txt" "$b/log.txt" &
  local stamper=$!
  sleep 0.5
  moska_click 186 112
  moska_wait_log "$a" "^client ok$" 20
  t=$(stamped_wait "$r/stamps.txt" $stamper "Fusion: map big0 fusionnee" "$a/log.txt" "$b/log.txt")
  grep -qaE "^!?Fusion: map big0 fusionnee avec la copie de bob: 20 conflicts \\(20 cells\\)" "$a/log.txt" ||
    fail "alice's merge: $(grep -a Fusion "$a/log.txt")"
  echo "$t"
  stop_pair
  cmp -s "$a/demo/maps/big0.map" "$b/demo/maps/big0.map" || fail "the merged maps differ"
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
results=()
for ((k = 0; k < rounds; k++)); do results+=("$(merge_round)"); done
t=$(printf '%s\n' "${results[@]}" | median)
verdict=$([ "$t" -le "$MERGE_GOAL_MS" ] && echo "goal met" || echo "GOAL MISSED")
echo "join merge, 512x512x4 map changed on both sides: $t ms; goal ${MERGE_GOAL_MS} ms: $verdict" \
  "(rounds: $(printf '%s ms ' "${results[@]}"))"
rm -rf "$root"
