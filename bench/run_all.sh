#!/usr/bin/env bash
# Runs every benchmark of the project and prints one table, each figure with
# the baseline measured in the same run and their ratio.
#   bash bench/run_all.sh [BUILD_DIR]      (build first: bash scripts/build.sh)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
out=$build/bench-results
mkdir -p "$out"
cd "$out"
export SDL_VIDEODRIVER=dummy

run() { echo "running $1..." >&2; shift; "$@" > "$out/$name.txt" 2>&1; }
name=view;    run "map view" "$build/bench/view_bench"
name=mapfile; run "map save and load" "$build/bench/mapfile_bench"
name=frame;   run "frame pacing" "$build/bench/frame_bench"
name=startup; run "start-up" "$build/bench/startup_bench" "$build/app" "$here/../examples/demo"
name=net;     run "network" bash "$here/net_bench.sh" "$build"
name=synclocal; run "sync bookkeeping" "$build/bench/sync_bench"
name=sync;    run "join sync" bash "$here/sync_bench.sh" "$build"

row() { printf '| %-46s | %-22s | %-30s | %-6s |\n' "$1" "$2" "$3" "$4"; }
echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); $(date -u +%Y-%m-%d)"
echo
row "measure" "ours" "same-run baseline" "ratio"
row "---" "---" "---" "---"
# Map view: "WxH N layers KIND SxS ... | ours X ms | sheet blit Y ms | memcpy Z ms | ours/memcpy R | blit/ours Q"
grep -E '\| ours ' view.txt | grep -E '^(640x480|1920x1080)' | while IFS='|' read -r what ours blit mem r1 r2 _; do
  what=$(echo "$what" | tr -s ' ')
  row "view ${what% }" "$(echo "$ours" | sed 's/ours *//;s/^ *//;s/ *$//')" \
    "memcpy $(echo "$mem" | sed 's/memcpy *//;s/^ *//;s/ *$//')" "$(echo "$r1" | awk '{print $2}')"
  row "view ${what% } vs per-cell sheet blit" "$(echo "$ours" | sed 's/ours *//;s/^ *//;s/ *$//')" \
    "sheet blit $(echo "$blit" | sed 's/sheet blit *//;s/^ *//;s/ *$//')" "1/$(echo "$r2" | awk '{print $2}')"
done
sed -n 's/^save + load: *\([0-9.]*\) ms *raw (fsync): *\([0-9.]*\) ms *ratio \([0-9.]*\)/\1 \2 \3/p' mapfile.txt |
  while read -r a b r; do row "map save + load, 2048x2048 x 8 layers" "$a ms" "fwrite+fsync / fread $b ms" "$r"; done
sed -n 's/^paint one cell.*16x16 \([0-9]*\) ns, 4096x4096 \([0-9]*\) ns/\1 \2/p' mapfile.txt |
  while read -r a b; do row "paint one cell, 4096x4096 map" "$b ns" "16x16 map $a ns" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", b / a}')"; done
sed -n 's/^send to applied at the peer.*p50 \([0-9]*\) us, p99 \([0-9]*\) us/\1 \2/p' net.txt |
  while read -r a b; do row "edit latency, network code (p50 / p99)" "$a / $b us" "goal 1000 / 5000 us" "-"; done
sed -n 's/^send to applied in a real editor.*p50 \([0-9]*\) us, p99 \([0-9]*\) us/\1 \2/p' net.txt |
  while read -r a b; do row "edit latency into a real editor (p50 / p99)" "$a / $b us" "goal 1000 / 5000 us" "-"; done
sed -n 's/^16 MiB tileset transfer: \([0-9.]*\) MiB\/s; raw TCP on the same link: \([0-9.]*\) MiB\/s (ratio \([0-9.]*\))/\1 \2 \3/p' net.txt |
  while read -r a b r; do row "16 MiB tileset transfer" "$a MiB/s" "raw TCP $b MiB/s" "$r"; done
sed -n 's/^start-up (median of [0-9]*): editor \([0-9.]*\) ms, bare SDL window \([0-9.]*\) ms, ratio \([0-9.]*\)/\1 \2 \3/p' startup.txt |
  while read -r a b r; do row "start-up to the main loop" "$a ms" "bare SDL window $b ms" "$r"; done
sed -n 's/^fps *\([0-9]*\): mean frame period *\([0-9.]*\) ms.*/\1 \2/p' frame.txt |
  while read -r f p; do row "frame period at $f fps" "$p ms" "1000/fps + 1 = $((1000 / f + 1)) ms" \
    "$(awk -v a="$p" -v b="$((1000 / f + 1))" 'BEGIN {printf "%.2f", a / b}')"; done
sed -n 's/^join sync, 16 MiB project, \([a-z ]*\) (.*): \([0-9]*\) ms, \([0-9]*\) bytes sent.*/\1|\2|\3/p' sync.txt |
  while IFS='|' read -r what t b; do row "join sync 16 MiB, $what" "$t ms, $b bytes" "goal 1000 ms" \
    "$(awk -v a="$t" 'BEGIN {printf "%.2f", a / 1000}')"; done
sed -n 's/^pen edit sent: stamping peer \([0-9]*\) ns *base peer \([0-9]*\) ns.*/\1 \2/p' synclocal.txt |
  while read -r a b; do row "pen edit sent, stamping peer" "$a ns" "base peer $b ns" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", a / b}')"; done
sed -n 's/^pen edit received: stamped \([0-9]*\) ns *unstamped \([0-9]*\) ns.*/\1 \2/p' synclocal.txt |
  while read -r a b; do row "pen edit received, stamped" "$a ns" "unstamped $b ns" \
    "$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", a / b}')"; done
echo
echo "Full outputs: $out"
