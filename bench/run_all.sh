#!/usr/bin/env bash
# Runs every benchmark of the project and prints one table, each figure with
# the baseline measured in the same run, and "MISSED" beside every figure
# that misses its goal.
#   bash bench/run_all.sh [BUILD_DIR]      (build first: bash scripts/build.sh;
#                                           root, for the network namespaces)
# EDITS (default 500) sets the number of edits of the end-to-end latency runs;
# TABLE_ONLY=1 prints the table again from the last run's outputs.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
out=$build/bench-results
mkdir -p "$out"
cd "$out"
export SDL_VIDEODRIVER=dummy
edits=${EDITS:-500}

run() {
  [ "${TABLE_ONLY:-0}" = 1 ] && return
  echo "running $1..." >&2
  shift
  "$@" > "$out/$name.txt" 2>&1
}
name=view;     run "map view" "$build/bench/view_bench" "$here/../examples/demo"
name=mapfile;  run "map save and load" "$build/bench/mapfile_bench"
name=frame;    run "frame pacing" "$build/bench/frame_bench" "$build/app"
name=startup;  run "start-up" "$build/bench/startup_bench" "$build/app" "$here/../examples/demo"
name=net;      run "network" bash "$here/net_bench.sh" "$build"
name=latency1; run "edit latency, 1 peer" bash "$here/edit_latency.sh" "$build" 1 "$edits"
name=latency8; run "edit latency, 8 peers" bash "$here/edit_latency.sh" "$build" 8 "$edits"
name=latency60; FPS=60 run "edit latency, 1 peer, 60 fps" bash "$here/edit_latency.sh" "$build" 1 "$edits"
name=latencymotion; FPS=60 MOTION=2 run "edit latency after 2 s of motion, 60 fps" bash "$here/edit_latency.sh" "$build" 1 20
name=paste;    run "paste" "$build/bench/paste_bench"
name=pastenet; run "paste to a base peer" bash "$here/paste_net.sh" "$build"
name=pastepeers; run "paste to 8 peers" bash "$here/paste_peers.sh" "$build" 8 5
name=synclocal; run "sync bookkeeping" "$build/bench/sync_bench"
name=sync;     run "join sync" bash "$here/sync_bench.sh" "$build"
name=fill;     run "fill brush" "$build/bench/fill_bench"
name=presence; run "presence" "$build/bench/presence_bench" "$build/app"
name=history;  run "undo history memory" "$build/bench/history_bench"
name=autosave; run "autosave frame" "$build/bench/autosave_bench"
name=export;   run "export" "$build/bench/exchange_bench" 3
name=gitmerge; run "git merge and diff" "$build/bench/merge_bench" 3
name=entities; run "entities drawn, saved and loaded" "$build/bench/entity_bench" "$build/app"
name=entitymove8; KIND=entity run "entity move, 8 peers" bash "$here/edit_latency.sh" "$build" 8 "$edits"

row() { printf '| %-50s | %-24s | %-34s | %-18s |\n' "$1" "$2" "$3" "$4"; }
# ratio A B: A / B to two places.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
# goal TEXT OK: TEXT, with MISSED when OK is not 1.
goal() { if [ "$2" = 1 ]; then echo "$1"; else echo "$1 MISSED"; fi; }
le() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? 1 : 0 }'; }
# field FILE REGEX: the first line of FILE matching REGEX.
field() { grep -m1 -E "$2" "$1" 2>/dev/null; }
num() { sed -n "s/.*$1 *\([-0-9.]*\).*/\1/p" | head -n 1; }

echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); load average $(cut -d' ' -f1-3 /proc/loadavg); $(date -u +%Y-%m-%d)"
echo
row "measure" "ours" "same-run baseline" "ratio (goal)"
row "---" "---" "---" "---"

# Map view.
if l=$(field view.txt '^realistic'); then
  ours=$(echo "$l" | sed -n 's/.*| ours \([0-9.]*\) ms.*/\1/p') sdl=$(echo "$l" | num 'SDL per-tile surfaces')
  per=$(echo "$l" | sed -n 's/.*ours \([0-9.]*\) ns per tile.*/\1/p')
  ok=$(awk -v a="$ours" -v b="$sdl" 'BEGIN { print (a <= 2 && a < b) ? 1 : 0 }')
  row "view, realistic village map 1920x1080, 4 layers" "$ours ms ($per ns/tile)" "SDL per-tile surfaces $sdl ms" \
    "$(goal "$(ratio "$ours" "$sdl") (<=2 ms, <1)" "$ok")"
  row "tile cache build, village tileset" "$(echo "$l" | sed -n 's/.*cache built in \([0-9.]*\) ms.*/\1/p') ms" "-" "-"
  echo "$l" | grep -q 'PICTURE DIFFERS' && row "view, realistic: picture" "DIFFERS from the reference" "-" "MISSED"
fi
grep -E '^1920x1080' view.txt | while IFS='|' read -r what ours blit mem r1 r2 build check; do
  what=$(echo "$what" | tr -s ' ' | sed 's/ *$//')
  o=$(echo "$ours" | num 'ours') m=$(echo "$mem" | num 'memcpy') b=$(echo "$blit" | num 'sheet blit')
  r=$(ratio "$o" "$m")
  case $what in
    *RGBA*) row "view $what" "$o ms" "memcpy $m ms" "$(goal "$r (<=2)" "$(le "$r" 2)")" ;;
    *) row "view $what" "$o ms" "memcpy $m ms" "$r" ;;
  esac
  case $what in 1920x1080*any*) row "  same, against the per-cell sheet blit" "$o ms" "sheet blit $b ms" "1/$(ratio "$b" "$o")" ;; esac
  case $check in *DIFFERS*) row "  picture of $what" "DIFFERS from the reference" "-" "MISSED" ;; esac
done

# Zoomed view: 1/8 at most 8 ms a frame.
grep -E '^zoom ' view.txt | while IFS='|' read -r what ours base r build check; do
  what=$(echo "$what" | sed 's/^zoom //; s/ 1920x1080 8 layers 2048x2048 map,/ 2048x2048x8 1920x1080,/; s/ *$//')
  o=$(echo "$ours" | num 'ours') m=$(echo "$base" | num 'memcpy of the frame')
  case $what in
    1/8*) row "view zoomed $what" "$o ms" "memcpy of the frame $m ms" "$(goal "$(ratio "$o" "$m") (<= 8 ms)" "$(le "$o" 8)")" ;;
    *) row "view zoomed $what" "$o ms" "memcpy of the frame $m ms" "$(ratio "$o" "$m")" ;;
  esac
  case $check in *DIFFERS*) row "  picture of zoomed $what" "DIFFERS from the reference" "-" "MISSED" ;; esac
done
l=$(grep -E '^zoom 1/8 .*RGB 1024' view.txt | head -n 1) &&
  row "mip levels built, 1024x1024 tileset" "$(echo "$l" | num 'built in') ms" "-" "-"

# Map files and painting.
if l=$(field mapfile.txt '^save '); then
  row "map save, 2048x2048 x 8 layers (128 MiB)" "$(echo "$l" | sed -n 's/.*: *\([0-9.]*\) ms   fwrite.*/\1/p') ms" \
    "fwrite + fsync $(echo "$l" | num 'fwrite + fsync:') ms" "$(echo "$l" | num 'ratio')"
fi
if l=$(field mapfile.txt '^load '); then
  row "map load, same map, compared whole" "$(echo "$l" | sed -n 's/.*: *\([0-9.]*\) ms   fread.*/\1/p') ms" \
    "fread into new memory $(echo "$l" | num 'new memory:') ms" "$(echo "$l" | num 'ratio')"
fi
if l=$(field mapfile.txt '^paint one cell'); then
  a=$(echo "$l" | num '16x16') b=$(echo "$l" | num '4096x4096')
  row "paint one cell, 4096x4096 map, spread, no log" "$b ns" "16x16 map $a ns" "$(ratio "$b" "$a")"
fi

# Network.
if l=$(field net.txt '^send to applied at the peer'); then
  row "edit, network code to network code, p50 / p99" "$(echo "$l" | num 'p50') / $(echo "$l" | num 'p99') us" "-" "-"
fi
if l=$(field net.txt '^keyed: send to applied at the peer'); then
  k=$(echo "$l" | num 'p50') plain=$(field net.txt '^send to applied at the peer' | num 'p50')
  row "  same between editors with a session key" "$k / $(echo "$l" | num 'p99') us" "without a key $plain us" \
    "$(ratio "$k" "$plain")"
fi
if l=$(field net.txt '^send to applied in a real editor'); then
  p99=$(echo "$l" | num 'p99')
  row "edit applied in a running editor, p50 / p99" "$(echo "$l" | num 'p50') / $p99 us" "-" \
    "$(goal "p99 <= 5000 us" "$(le "$p99" 5000)")"
fi
if l=$(field net.txt '^16 MiB tileset transfer'); then
  r=$(echo "$l" | num 'ratio')
  row "16 MiB tileset transfer, median of 5" "$(echo "$l" | sed -n 's/.*holds it): \([0-9.]*\) MiB.*/\1/p') MiB/s" \
    "raw TCP $(echo "$l" | num 'same link:') MiB/s" "$(goal "$r (>=0.80)" "$(le 0.80 "$r")")"
fi
if l=$(field net.txt '^keyed: 16 MiB tileset transfer'); then
  k=$(echo "$l" | sed -n 's/.*holds it): \([0-9.]*\) MiB.*/\1/p')
  plain=$(field net.txt '^16 MiB tileset transfer' | sed -n 's/.*holds it): \([0-9.]*\) MiB.*/\1/p')
  row "  same between editors with a session key" "$k MiB/s" "without a key $plain MiB/s" "$(ratio "$k" "$plain")"
fi
if l=$(field net.txt '^raw TCP written to a file'); then
  t=$(field net.txt '^16 MiB tileset transfer' | sed -n 's/.*holds it): \([0-9.]*\) MiB.*/\1/p')
  row "  same, against raw TCP written to a file" "$t MiB/s" "raw TCP into a file $(echo "$l" | num 'writes):') MiB/s" \
    "$(echo "$l" | num 'ratio')"
fi
for n in 1 8; do
  f=latency$n.txt
  l=$(field $f '^input -> alice map') &&
    row "$n peer(s): input -> own map, p50 / p99" "$(echo "$l" | num 'p50') / $(echo "$l" | num 'p99') ms" "-" "-"
  if l=$(field $f '^send -> all'); then
    p99=$(echo "$l" | num 'p99')
    if [ "$n" = 8 ]; then g=$(goal "p99 <= 10 ms" "$(le "$p99" 10)"); else g="-"; fi
    row "$n peer(s): send -> every peer's map, p50 / p99" "$(echo "$l" | num 'p50') / $p99 ms" "-" "$g"
  fi
  l=$(field $f '^input -> peer next frame') &&
    row "$n peer(s): input -> peer's next frame, p50 / p99" "$(echo "$l" | num 'p50') / $(echo "$l" | num 'p99') ms" "-" "-"
  l=$(field $f '^edit latency end to end') && row "  ($(echo "$l" | sed 's/.*edits, //'))" "" "" ""
done

# Input to the editor's own screen: within one frame period plus 2 ms.
for f in latency1.txt latency60.txt latencymotion.txt; do
  l=$(field $f '^input -> alice screen') || continue
  fps=$(echo "$l" | sed -n 's/.* at \([0-9]*\) fps.*/\1/p') p99=$(echo "$l" | num 'p99')
  lim=$(awk -v f="$fps" 'BEGIN { printf "%.1f", 1000 / f + 2 }')
  after=""; [ $f = latencymotion.txt ] && after=" after 2 s of motion"
  row "input -> own screen at $fps fps$after, p50 / p99" "$(echo "$l" | num 'p50') / $p99 ms" "frame period $(awk -v f="$fps" 'BEGIN { printf "%.1f", 1000 / f }') ms" \
    "$(goal "p99 <= $lim ms" "$(le "$p99" "$lim")")"
done

# Paste.
sed -n 's/^paste 256x256 applied locally, \([a-z ]*\) (.*: p50 \([0-9.]*\) ms, p99 \([0-9.]*\) ms   memcpy of the rows: p50 \([0-9.]*\) ms.*/\1|\2|\3|\4/p' paste.txt |
  while IFS='|' read -r what a b c; do
    row "paste 256x256 applied locally, $what, p50 / p99" "$a / $b ms" "memcpy of the rows $c ms" "$(goal "p99 <= 10 ms" "$(le "$b" 10)")"
  done
if l=$(field paste.txt '^paste 256x256 of noise with a base peer'); then
  row "  same with a base peer: painter's wait p50 / p99" "$(echo "$l" | num 'p50') / $(echo "$l" | num 'p99') ms" "-" "-"
  row "  its $(echo "$l" | sed -n 's/.*; \([0-9]*\) actions.*/\1/p') actions sent in slices" "$(echo "$l" | sed -n 's/.*all sent in \([0-9.]*\) s.*/\1/p') s" \
    "queue bound $(echo "$l" | sed -n 's/.*send \([0-9]*\),.*/\1/p')" "at most $(echo "$l" | sed -n 's/.*at most \([0-9]*\) queued.*/\1/p') queued"
fi

sed -n 's/^paste of \([0-9]*\) actions to a base peer, \([a-z0-9 ]*\): \(.*\)/\1|\2|\3/p' pastenet.txt |
  while IFS='|' read -r n pace what; do
    ok=0; [[ $pace == unpaced || $what != *cut\ by* ]] && ok=1
    row "  $n actions to a real editor, $pace" "$what" "-" "$(goal "$([ "$pace" = unpaced ] && echo "(why the pace)" || echo "not cut")" "$ok")"
  done

if l=$(field pastepeers.txt '^paste 256x256 on'); then
  p99=$(echo "$l" | num 'p99')
  row "paste 256x256 on 8 peers' maps (CELLS), p50 / p99" "$(echo "$l" | num 'p50') / $p99 ms" "-" \
    "$(goal "p99 <= 50 ms" "$(le "$p99" 50)")"
fi

# Project sync.
sed -n 's/^join sync, 16 MiB project, \([a-z ]*\) (.*): \([0-9]*\) ms, \([0-9]*\) bytes sent.*/\1|\2|\3/p' sync.txt |
  while IFS='|' read -r what t b; do
    row "join sync, 16 MiB project, $what" "$t ms, $b bytes" "-" "$(goal "<= 1000 ms" "$(le "$t" 1000)")"
  done
if l=$(field sync.txt '^join merge'); then
  t=$(echo "$l" | num 'both sides:')
  row "join merge, 512x512x4 map changed on both sides" "$t ms" "-" "$(goal "<= 1500 ms" "$(le "$t" 1500)")"
fi
if l=$(field synclocal.txt '^pen edit sent'); then
  a=$(echo "$l" | num 'stamping peer') b=$(echo "$l" | num 'base peer')
  row "pen edit sent to a stamping peer" "$a ns" "base peer $b ns" "$(ratio "$a" "$b")"
fi
if l=$(field synclocal.txt '^pen edit received:'); then
  a=$(echo "$l" | num 'received: stamped') b=$(echo "$l" | num 'unstamped')
  row "pen edit received with its stamp" "$a ns" "unstamped $b ns" "$(ratio "$a" "$b")"
fi
l=$(field synclocal.txt '^stamp memory') && row "stamp memory, 100000 edits of one map" "$(echo "$l" | num 'map:') KiB" "-" "-"

# Presence.
sed -n 's/^presence traffic while painting at \([0-9]*\) fps: \([0-9]*\) B\/s per peer, \([0-9.]*\) updates.*pen cell writes \([0-9]*\) B\/s.*/\1 \2 \3 \4/p' presence.txt |
  while read -r f b u pen; do
    row "presence sent to a peer, painting at $f fps" "$b B/s ($u updates/s)" "pen cell writes $pen B/s" \
      "$(goal "$(ratio "$b" "$pen") (<= 2048 B/s)" "$(le "$b" 2048)")"
  done
if l=$(field presence.txt '^draw 16 peers'); then
  a=$(echo "$l" | sed -n 's/.*: \([0-9.]*\) ms per frame.*/\1/p') v=$(echo "$l" | num 'map view')
  row "draw 16 peers' pointers and footprints, 1080p" "$a ms" "map view $v ms" "$(goal "$(ratio "$a" "$v") (<= 0.1 ms)" "$(le "$a" 0.1)")"
  row "  same, all 16 fading" "$(echo "$l" | num 'fading') ms" "map view $v ms" "-"
  row "  same, 16 x 64 cells flashing" "$(echo "$l" | sed -n 's/.*flashing writes each \([0-9.]*\) ms.*/\1/p') ms" "map view $v ms" "-"
fi

# Editing tools, saving and export.
if l=$(field fill.txt '^fill of a whole'); then
  a=$(echo "$l" | sed -n 's/.*layer: \([0-9.]*\) ms.*/\1/p') b=$(echo "$l" | sed -n 's/.*same cells \([0-9.]*\) ms.*/\1/p')
  row "fill of a whole 4096x4096 layer" "$a ms" "plain loop $b ms" "$(goal "$(ratio "$a" "$b") (< 1000 ms)" "$(le "$a" 1000)")"
fi
if l=$(field history.txt '^history of 1000'); then
  a=$(echo "$l" | sed -n 's/.*cells: \([0-9.]*\) MiB counted.*/\1/p') r=$(echo "$l" | sed -n 's/.*resident growth \([0-9.]*\) MiB.*/\1/p')
  b=$(echo "$l" | sed -n 's/.*bare cell data \([0-9.]*\) MiB.*/\1/p')
  row "undo history, 1000 strokes of 64 cells" "$a MiB ($r MiB resident)" "bare cells $b MiB" "$(goal "<= 64 MiB" "$(le "$a" 64)")"
fi
if l=$(field autosave.txt '^autosave of'); then
  a=$(echo "$l" | sed -n 's/.*longest frame \([0-9.]*\) ms.*/\1/p') b=$(echo "$l" | sed -n 's/.*same map \([0-9.]*\) ms.*/\1/p')
  row "longest frame while a 2048x2048x8 map autosaves" "$a ms" "synchronous save $b ms" "$(goal "< 100 ms" "$(le "$a" 100)")"
fi
grep -E '^(tmx|json|png) ' export.txt 2>/dev/null | while IFS='|' read -r fmt ours base r size; do
  row "export 2048x2048x8 to $(echo $fmt)" "$(echo "$ours" | sed 's/ours *//; s/ *(.*//')" "$(echo "$base" | sed 's/^ *//; s/ *$//')" "$(echo "$r" | num 'ratio')"
done

# Maps in git.
if l=$(field gitmerge.txt '^three-way merge in memory'); then
  a=$(echo "$l" | num 'memory:') b=$(echo "$l" | num 'three files')
  row "three-way merge 2048x2048x8, 1% changed a side" "$a ms" "reading the three files $b ms" \
    "$(goal "$(ratio "$a" "$b") (<= 1000 ms)" "$(le "$a" 1000)")"
fi
if l=$(field gitmerge.txt '^moska2 --merge'); then
  a=$(echo "$l" | num 'write):') b=$(echo "$l" | num '(fsync)')
  row "  moska2 --merge whole: read, merge, write (fsync)" "$a ms" "read three, write one $b ms" \
    "$(goal "$(ratio "$a" "$b") (<= 1000 ms)" "$(le "$a" 1000)")"
fi
if l=$(field gitmerge.txt '^moska2 --diff'); then
  a=$(echo "$l" | num 'describe):') b=$(echo "$l" | num 'two files')
  row "moska2 --diff of the same maps (text)" "$a ms" "reading the two files $b ms" \
    "$(goal "$(ratio "$a" "$b") (<= 1000 ms)" "$(le "$a" 1000)")"
fi

# Entities: 10,000 instances on a map.
grep -E '^entities drawn at' entities.txt 2>/dev/null | while IFS='|' read -r what with without added; do
  scale=$(echo "$what" | sed -n 's/^entities drawn at \([^ ]*\) .*/\1/p')
  n=$(echo "$what" | sed -n 's/.*: \([0-9]*\) of .*/\1/p') a=$(echo "$added" | num 'added')
  w=$(echo "$with" | num 'with them') wo=$(echo "$without" | num 'without')
  row "10000 entities, 1080p view at $scale ($n shown)" "+$a ms" "frame without them $wo ms" \
    "$(goal "$(ratio "$w" "$wo") (<= +2 ms)" "$(le "$a" 2)")"
done
for what in save load; do
  l=$(field entities.txt "^sidecar $what of") || continue
  a=$(echo "$l" | sed -n 's/^[^|]*: \([0-9.]*\) ms |.*/\1/p') b=$(echo "$l" | num 'alone')
  if [ "$what" = save ]; then base="bytes written crash-safe $b ms"; else base="read + JSON parse $b ms"; fi
  row "sidecar $what, 10000 entities" "$a ms" "$base" "$(goal "$(ratio "$a" "$b") (<= 50 ms)" "$(le "$a" 50)")"
done
if l=$(field entitymove8.txt '^send -> all'); then
  p99=$(echo "$l" | num 'p99')
  row "entity move, send -> all 8 peers' maps, p50 / p99" "$(echo "$l" | num 'p50') / $p99 ms" "-" "$(goal "p99 <= 10 ms" "$(le "$p99" 10)")"
  l=$(field entitymove8.txt '^entity move latency') && row "  ($(echo "$l" | sed 's/.*peer(s), //'))" "" "" ""
fi

# Start-up and pacing.
if l=$(field startup.txt '^start-up'); then
  row "start-up to the main loop" "$(echo "$l" | num 'editor') ms" "bare SDL window $(echo "$l" | num 'window') ms" \
    "$(echo "$l" | num 'ratio')"
fi
sed -n 's/^fps \([0-9]*\): mean frame period \([0-9.]*\) ms, p99 \([0-9.]*\) ms, goal \([0-9.]*\) ms.*/\1 \2 \3 \4/p' frame.txt |
  while read -r f p q g; do
    r=$(ratio "$p" "$g")
    ok=$(awk -v r="$r" 'BEGIN { print (r >= 0.98 && r <= 1.02) ? 1 : 0 }')
    row "frame period at $f fps, mean (p99)" "$p ($q) ms" "1000/fps = $g ms" "$(goal "$r (1 +- 0.02)" "$ok")"
  done
sed -n 's/^fps \([0-9]*\): frame drawing (refresh) p50 \([0-9.]*\) ms, p99 \([0-9.]*\) ms.*/\1 \2 \3/p' frame.txt |
  while read -r f a b; do row "frame drawing at $f fps, p50 / p99" "$a / $b ms" "-" "-"; done
echo
echo "Full outputs: $out"
