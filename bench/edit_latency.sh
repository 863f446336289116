#!/usr/bin/env bash
# End-to-end edit latency: a real editor (alice) with a window under Xvfb,
# joined through its join button to N headless editors, each in its own
# network namespace. Scripted clicks paint EDITS distinct cells of alice's
# map view; logstamp stamps every log line as it is written. Per edit:
#   input -> alice's map          the click to alice's own cell write
#   send -> all peers' maps       alice's first send line to the slowest peer's write
#   input -> peer's map           the click to each peer's write
#   input -> peer's next frame    the click to the first frame each peer puts
#                                 on its screen after the write
#   input -> alice's screen       the click to the first frame alice puts on
#                                 her screen after her own write
# With MOTION=S, each click comes right after S seconds of the pointer moving
# without a pause over the view (the motion events a real hand gives).
#   [FPS=30] [MOTION=S] bench/edit_latency.sh [BUILD_DIR] [PEERS] [EDITS]      (root: namespaces)
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
peers=${2:-1} edits=${3:-500} fps=${FPS:-30} motion=${MOTION:-0}
export MOSKA_APP=$build/app
source "$(dirname "$0")/../tests/e2e/lib.sh"
kind=${KIND:-cell}  # KIND=entity: instance moves, see below
trap moska_cleanup EXIT
demo=$(cd "$(dirname "$0")/../examples/demo" && pwd)
root=$(mktemp -d /tmp/moska-latency-XXXXXX)
stamp=""
cleanup_latency() { [ -n "$stamp" ] && kill "$stamp" 2>/dev/null; moska_cleanup; }
trap cleanup_latency EXIT

# alice is 10.82.0.1, peer k is 10.82.0.(k + 1).
moska_netns "nla$$" 10.82.0.1
moska_app "$root/alice" username=alice net=1 fps=$fps ipserver=10.82.0.99
cp -r "$demo" "$root/alice/demo"
crate() { [ "$kind" = entity ] && printf '{"name":"Crate"}' > "$1/demo/models/Crate.json"; true; }
crate "$root/alice"
logs=("$root/alice/log.txt")
for ((k = 1; k <= peers; k++)); do
  moska_netns "nl$k$$" "10.82.0.$((k + 1))"
  moska_app "$root/p$k" username="p$k" net=1 fps=$fps ipserver=10.82.0.99
  cp -r "$demo" "$root/p$k/demo"
  crate "$root/p$k"
  MOSKA_FRAME_LOG=1 SDL_VIDEODRIVER=dummy moska_start_ns "nl$k$$" "$root/p$k" "$root/p$k/demo/PROJECT.MSK"
  logs+=("$root/p$k/log.txt")
done
moska_xvfb_start
MOSKA_FRAME_LOG=1 SDL_VIDEODRIVER=x11 moska_start_ns "nla$$" "$root/alice" "$root/alice/demo/PROJECT.MSK"
moska_wait_window || fail "no window for alice"
for ((k = 0; k <= peers; k++)); do moska_wait_log "$(dirname "${logs[k]}")" "Project loaded succesfully!" 60; done

# alice joins each peer through the address field and the join button.
for ((k = 1; k <= peers; k++)); do
  moska_click 70 110; moska_key Delete; moska_type "10.82.0.$((k + 1))"; moska_key Return
  moska_click 186 112
  moska_wait_log "$root/p$k" "Connecte avec alice sur le tunnel [0-9]+ pour le serveur!$" 30
done
for ((i = 0; i < 300; i++)); do
  (($(grep -c "client ok$" "$root/alice/log.txt") >= peers)) && break
  sleep 0.1
done
moska_click 150 10  # the map menu: the view takes the clicks

: > "$root/clicks.txt"
"$build/bench/logstamp" "$root/stamps.txt" "$root/clicks.txt" "${logs[@]}" &
stamp=$!
sleep 0.5
# Cells 1..18 of rows 1..28 of the view, away from the edges that scroll it.
# With KIND=entity, alice places one instance in the Entities tab and each
# edit drags it from cell e to cell e + 1 instead: send -> all peers' maps is
# then alice's first "ENTMOVE" send line to the slowest peer's received one
# (logged on its main thread as the move is applied), input -> peer's map
# the pointer's move to each peer's.
cellX() { echo $((322 + 16 * (1 + $1 % 18) + 8)); }
cellY() { echo $((16 * (1 + ($1 / 18) % 28) + 8)); }
dragEntity() {
  xdotool mousemove "$(cellX "$1")" "$(cellY "$1")"
  xdotool mousedown 1
  sleep 0.08  # held past two frames: the grab is seen where the instance is
  xdotool mousemove "$(cellX $(($1 + 1)))" "$(cellY $(($1 + 1)))"
  echo "click $1 $((1 + ($1 + 1) % 18)) $((1 + (($1 + 1) / 18) % 28))" >> "$root/clicks.txt"
  sleep 0.08
  xdotool mouseup 1
  sleep 0.02
}
if [ "$kind" = entity ]; then
  moska_click 260 12  # the Entities tab: its first definition, Crate, is placed
  moska_click "$(cellX 0)" "$(cellY 0)"
  sleep 0.5
fi
for ((e = 0; e < edits; e++)); do
  [ "$kind" = entity ] && { dragEntity "$e"; continue; }
  c=$((1 + e % 18)) r=$((1 + (e / 18) % 28))
  if [ "$motion" != 0 ]; then
    # Circles of 40 pixels across the view's middle, a step every 5 ms.
    end=$((motion * 200))
    for ((k = 0; k < end; k++)); do echo "mousemove $((480 + (k * 7) % 40)) $((200 + (k * 11) % 40)) sleep 0.005"; done |
      xdotool -
  fi
  xdotool mousemove $((322 + 16 * c + 8)) $((16 * r + 8))
  xdotool mousedown 1
  echo "click $e $c $r" >> "$root/clicks.txt"
  sleep 0.05  # held past one frame, so the editor's poll sees it
  xdotool mouseup 1
  sleep 0.02
done
sleep 2
kill "$stamp"; wait "$stamp" 2>/dev/null; stamp=""

# Files in stamps.txt: 0 clicks, 1 alice, 1 + k peer k. Cells are told
# apart by their coordinates (each edit paints its own cell); the view's
# offset comes from the first click and alice's first write.
awk -v peers="$peers" -v edits="$edits" -v fps="$fps" -v kind="$kind" '
  function pct(a, n, p,   i, j, t) {  # p-th percentile of a[1..n]
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j > 0 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
    return n ? a[int((n - 1) * p / 100) + 1] : -1
  }
  # A line may start with the "!" a send line leaves for whatever comes next.
  { t = $1; f = $2; $1 = ""; $2 = ""; line = substr($0, 3); sub(/^!/, "", line) }
  f == 0 && line ~ /^click / { split(line, w, " "); n++; clickT[n] = t; clickC[n] = w[3]; clickR[n] = w[4]; next }
  # An entity move, "...ENTMOVE...map id x y clock site": cells by its pixels.
  kind == "entity" && line ~ /ENTMOVE/ {
    k = split(line, w, " ")
    xy = int(w[k - 3] / 16) " " int(w[k - 2] / 16)
    if (f == 1 && line ~ /^Action reseau -> /) { if (!(xy in sent)) sent[xy] = t; if (!firstXY) firstXY = xy }
    if (f >= 2 && line ~ /^Action reseau: / && !((f, xy) in wrote)) wrote[f, xy] = t
    next
  }
  # A cell write: "setElementAbsolute(map,layer,x,y,e);"
  match(line, /^setElementAbsolute\([0-9-]+,[0-9-]+,[0-9]+,[0-9]+,/) {
    split(substr(line, 20, RLENGTH - 20), m, ",")
    xy = m[3] " " m[4]
    if (f == 1 && !firstXY) firstXY = xy
    if (!((f, xy) in wrote)) wrote[f, xy] = t
    pendingFrame[f, ++queued[f]] = xy
    next
  }
  # alice sending: "Action reseau -> X.X.X.n:port : PARTTHIS! size,map layer x y e"
  f == 1 && line ~ /^Action reseau -> .*PARTTHIS!/ {
    k = split(line, w, " ")
    xy = w[k - 2] " " w[k - 1]
    if (!(xy in sent)) sent[xy] = t
    next
  }
  # A frame on a peer screen shows every write before it.
  f >= 1 && line ~ /^Image [0-9]+ affichee/ {
    for (; done[f] < queued[f]; ) { xy = pendingFrame[f, ++done[f]]; if (!((f, xy) in shown)) shown[f, xy] = t }
  }
  END {
    split(firstXY, p0, " "); dx = p0[1] - clickC[1]; dy = p0[2] - clickR[1]
    for (e = 1; e <= n; e++) {
      xy = (clickC[e] + dx) " " (clickR[e] + dy)
      if ((1, xy) in wrote) a1[++n1] = (wrote[1, xy] - clickT[e]) / 1000
      if ((1, xy) in shown) a5[++n5] = (shown[1, xy] - clickT[e]) / 1000
      slow = 0; all = 1
      for (f = 2; f <= peers + 1; f++) {
        if ((f, xy) in wrote) { a3[++n3] = (wrote[f, xy] - clickT[e]) / 1000; if (wrote[f, xy] > slow) slow = wrote[f, xy] }
        else all = 0
        if ((f, xy) in shown) a4[++n4] = (shown[f, xy] - clickT[e]) / 1000
      }
      if (all && (xy in sent)) a2[++n2] = (slow - sent[xy]) / 1000
    }
    if (kind == "entity") {
      printf "entity move latency end to end, %d peer(s), %d drags, %d reached every peer\n", peers, edits, n2
      printf "send -> all %d peers maps: p50 %.2f ms, p99 %.2f ms\n", peers, pct(a2, n2, 50), pct(a2, n2, 99)
      printf "input -> peer map: p50 %.2f ms, p99 %.2f ms\n", pct(a3, n3, 50), pct(a3, n3, 99)
      exit
    }
    printf "edit latency end to end, %d peer(s), %d edits, %d seen by alice, %d reached every peer\n", peers, edits, n1, n2
    printf "input -> alice map: p50 %.2f ms, p99 %.2f ms\n", pct(a1, n1, 50), pct(a1, n1, 99)
    printf "input -> alice screen at %d fps: p50 %.2f ms, p99 %.2f ms (%d shown)\n", fps, pct(a5, n5, 50), pct(a5, n5, 99), n5
    printf "send -> all %d peers maps: p50 %.2f ms, p99 %.2f ms\n", peers, pct(a2, n2, 50), pct(a2, n2, 99)
    printf "input -> peer map: p50 %.2f ms, p99 %.2f ms\n", pct(a3, n3, 50), pct(a3, n3, 99)
    printf "input -> peer next frame: p50 %.2f ms, p99 %.2f ms\n", pct(a4, n4, 50), pct(a4, n4, 99)
  }' "$root/stamps.txt"
moska_key Escape
rm -rf "$root"
