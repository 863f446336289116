#!/usr/bin/env bash
# A 256x256 paste reaching PEERS real editors (headless, 30 frames per
# second), each in its own namespace: one test peer per editor announces
# "CELLS" and sends the paste as an editor with that extension does (blocks
# of 16 rows), all at the same moment, ROUNDS times after a first round that
# opens the map. logstamp stamps each sender's start and each editor's log;
# per editor and round: the sender's start to the editor's last block
# applied (its log line "Action reseau: CELLS" for the last block, printed
# as the main thread takes it).
#   bench/paste_peers.sh [BUILD_DIR] [PEERS] [ROUNDS]      (root: namespaces)
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
peers=${2:-8} rounds=${3:-5} side=256
blocks=$((side / (4096 / side)))  # blocks in one paste
export MOSKA_APP=$build/app
source "$(dirname "$0")/../tests/e2e/lib.sh"
root=$(mktemp -d /tmp/moska-pastepeers-XXXXXX)
stamp=""
cleanup_paste() { [ -n "$stamp" ] && kill "$stamp" 2>/dev/null; moska_cleanup; rm -rf "$root"; }
trap cleanup_paste EXIT

# Editor k is 10.86.0.k, its sender 10.86.0.(100 + k).
files=() logs=()
for ((k = 1; k <= peers; k++)); do
  moska_netns "npe$k$$" "10.86.0.$k"
  moska_netns "nps$k$$" "10.86.0.$((100 + k))"
  moska_app "$root/e$k" username="e$k" net=1 fps=30 ipserver=10.86.0.250
  cp -r "$MOSKA_DEMO" "$root/e$k/demo"
  SDL_VIDEODRIVER=dummy moska_start_ns "npe$k$$" "$root/e$k" "$root/e$k/demo/PROJECT.MSK"
  files+=("$root/s$k.txt") logs+=("$root/e$k/log.txt")
  : > "$root/s$k.txt"
done
for ((k = 1; k <= peers; k++)); do moska_wait_log "$root/e$k" "Project loaded succesfully!" 60; done
"$build/bench/logstamp" "$root/stamps.txt" "${files[@]}" "${logs[@]}" &
stamp=$!
sleep 0.5
pids=()
for ((k = 1; k <= peers; k++)); do
  ip netns exec "nps$k$$" "$build/tests/peer_tool" "10.86.0.$k" "s$k" 0.24a join act NEWMAP "big $side $side" \
    sleep 2000 paste big $side $side $((rounds + 1)) 1000 sleep 1000 bye >> "$root/s$k.txt" 2>&1 &
  pids+=($!)
done
wait "${pids[@]}"
sleep 1
kill "$stamp"; wait "$stamp" 2>/dev/null; stamp=""

# File k - 1: sender k; file peers + k - 1: editor k. Round 0 is left out.
awk -v peers="$peers" -v blocks="$blocks" -v rounds="$rounds" '
  function pct(a, n, p,   i, j, t) {
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j > 0 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
    return n ? a[int((n - 1) * p / 100) + 1] : -1
  }
  $2 < peers && $3 == "paste" && $5 == "start" { start[$2 + 1, $4] = $1 }
  $2 >= peers && $0 ~ /Action reseau: CELLS,/ {
    k = $2 - peers + 1; n = ++cells[k]
    if (n % blocks == 0) done[k, n / blocks - 1] = $1
  }
  END {
    for (k = 1; k <= peers; k++)
      for (r = 1; r <= rounds; r++)
        if ((k, r) in start && (k, r) in done) { ms[++m] = (done[k, r] - start[k, r]) / 1000 }
        else missing++
    printf "paste 256x256 on %d peers, %d rounds: sender start to the last block applied: p50 %.1f ms, p99 %.1f ms (%d of %d missing)\n",
      peers, rounds, pct(ms, m, 50), pct(ms, m, 99), missing, peers * rounds
  }' "$root/stamps.txt"
