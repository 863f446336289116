#!/usr/bin/env bash
# Soak test: four editors, each in its own network namespace and under its
# own Xvfb display, joined in a full mesh through the join button. Each one
# paints, erases and fills its own band of rows of map0 with real mouse input
# for SOAK_SECONDS (60 by default), while ann adds a layer from a tileset only
# she has, ben renames the map and cat switches to map1, paints there and
# comes back. Then all quit, and every copy of map0 and map1 must hold the
# same layers and cells, every received tileset must equal ann's, every
# editor must exit 0 with all its slots released, and no editor's memory may
# grow by more than RSS_GROWTH_PERCENT after the warm-up. At the end all four
# paint the same row at once; how many cells their copies disagree on is
# printed, and ann then fills the row so the copies agree again.
set -u
source "$(dirname "$0")/lib.sh"
SOAK_SECONDS=${SOAK_SECONDS:-60}
RSS_GROWTH_PERCENT=${RSS_GROWTH_PERCENT:-30}
RSS_SAMPLE_SECONDS=5
compare=${MOSKA_BUILD:-$(dirname "$0")/../../build}/tests/map_compare
[ -x "$compare" ] || fail "map_compare not built ($compare)"
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
root=$(mktemp -d /tmp/moska-soak-XXXXXX)

names=(ann ben cat dan)
N=${#names[@]}
ips=() dirs=() nss=() pids=() displays=() windows=() xvfbs=() loops=()
for ((i = 0; i < N; i++)); do
  ips[i]=10.79.0.$((i + 1))
  dirs[i]=$root/${names[i]}
  nss[i]=nso$i$$
done

# The editors go before their displays; moska_cleanup then removes the
# namespaces (and keeps the test's status).
soak_cleanup() {
  local p
  for p in "${loops[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  for p in "${xvfbs[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  moska_cleanup
}
trap soak_cleanup EXIT

pause() { sleep "${1:-0.3}"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
# Runs a lib.sh input command against editor i's display and window.
on() {
  local i=$1; shift
  DISPLAY=${displays[i]} MOSKA_WINDOW=${windows[i]} "$@"
}
# Actions editor i sent to editor j (one log line per peer and action).
sent_to() { grep -c "Action reseau -> X\.X\.X\.$(($2 + 1)):" "${dirs[$1]}/log.txt"; }
applied() { grep -c "Action reseau: " "${dirs[$1]}/log.txt"; }

# --- Start: one namespace, display and editor each. cave.png is only ann's.
for ((i = 0; i < N; i++)); do
  moska_netns "${nss[i]}" "${ips[i]}"
  moska_app "${dirs[i]}" username="${names[i]}" net=1 ipserver=10.79.0.99
  cp -r "$demo" "${dirs[i]}/demo"
done
cp "$demo/layers/dungeon.png" "${dirs[0]}/demo/layers/cave.png"
for ((i = 0; i < N; i++)); do
  moska_xvfb_start
  displays[i]=$DISPLAY xvfbs[i]=$MOSKA_XVFB_PID
  MOSKA_XVFB_PID=""
  moska_start_ns "${nss[i]}" "${dirs[i]}" "${dirs[i]}/demo/PROJECT.MSK"
  pids[i]=$MOSKA_PID
  moska_wait_window || fail "no window for ${names[i]}"
  windows[i]=$MOSKA_WINDOW
  moska_wait_log "${dirs[i]}" "Project loaded succesfully!"
done
unset DISPLAY

# --- Full mesh: i joins every later editor, one join at a time, each through
# the address field and the join button; the joined side connects back.
join() {
  local i=$1 j=$2
  on "$i" moska_click 70 110
  on "$i" moska_key Delete
  on "$i" moska_type "${ips[j]}"
  on "$i" moska_key Return
  on "$i" moska_click 186 112
  moska_wait_log "${dirs[j]}" "Connecte avec ${names[i]} sur le tunnel [0-9]+ pour le serveur!$" 30
  moska_wait_log "${dirs[i]}" "Connecte avec ${names[j]} sur le tunnel [0-9]+ pour le serveur!$" 30
  moska_wait_log "${dirs[j]}" "J'ai repondu donc a ${names[i]} sur le tunnel" 30
}
# Waits until the log of editor i has at least n lines matching re.
wait_count() {
  local i=$1 re=$2 n=$3 k
  for ((k = 0; k < 300; k++)); do
    (($(grep -cE -- "$re" "${dirs[i]}/log.txt") >= n)) && return 0
    sleep 0.1
  done
  fail "${names[i]}: fewer than $n lines matching '$re'"
}
for ((i = 0; i < N; i++)); do
  for ((j = i + 1; j < N; j++)); do join "$i" "$j"; done
done
for ((i = 0; i < N; i++)); do
  wait_count "$i" "client ok$" $((N - 1))
  on "$i" moska_click 150 10   # the "map" menu
done
pause 1
for ((i = 0; i < N; i++)); do rss_join[i]=$(rss_kb "${pids[i]}"); done

# --- The drivers. Editor i paints rows 7i+1 to 7i+6, columns 1 to 17 of the
# view, far from the screen edges that scroll it.
cell_x() { echo $((322 + 16 * $1 + 8)); }
cell_y() { echo $((16 * $1 + 8)); }
# A click held for about three frames, shorter than moska_click's.
tap() {
  xdotool mousemove "$1" "$2"; sleep 0.05
  xdotool mousedown "${3:-1}"; sleep 0.1
  xdotool mouseup "${3:-1}"; sleep 0.05
}
# A pen stroke along row y from column c1 to c2: every frame with the button
# held paints (and sends) one cell.
stroke() {
  local c1=$1 c2=$2 y=$3 b=$4 c step
  step=$((c2 >= c1 ? 1 : -1))
  xdotool mousemove "$(cell_x "$c1")" "$(cell_y "$y")"; sleep 0.05
  xdotool mousedown "$b"
  for ((c = c1; c != c2 + step; c += step)); do
    xdotool mousemove "$(cell_x "$c")" "$(cell_y "$y")"; sleep 0.05
  done
  xdotool mouseup "$b"; sleep 0.05
}
paint_turn() {  # one random paint of editor i in its band; counts in $2
  local i=$1 counts=$2 r c y c2 y2
  on "$i" tap $((1 + 16 * (RANDOM % 18) + 8)) $((70 + 16 * (RANDOM % 4) + 8))  # palette
  c=$((1 + RANDOM % 17)) y=$((7 * i + 1 + RANDOM % 6))
  c2=$((1 + RANDOM % 17)) y2=$((7 * i + 1 + RANDOM % 6))
  r=$((RANDOM % 10))
  if ((r < 6)); then
    on "$i" stroke "$c" "$c2" "$y" 1
    echo pen >> "$counts"
  elif ((r < 8)); then
    on "$i" stroke "$c" "$c2" "$y" 3
    echo erase >> "$counts"
  else
    on "$i" tap 250 52                        # rectangle brush
    on "$i" tap "$(cell_x $c)" "$(cell_y $y)"
    on "$i" tap "$(cell_x $c2)" "$(cell_y $y2)" 3
    on "$i" tap 250 52                        # back to the pen
    echo fill >> "$counts"
  fi
}
# Waits until every other editor has applied an action matching $2.
all_applied() {
  local i=$1 re=$2 j
  for ((j = 0; j < N; j++)); do
    ((j == i)) || moska_wait_log "${dirs[j]}" "$re" 60
  done
}
# Cat, on map1, has applied ann's new layer and ben's new name of map0.
overlapped() {
  grep -q "Action reseau: ADDLAYER,map0 cave 0!$" "${dirs[2]}/log.txt" &&
    grep -q "Map map0 renommee en soak village\.$" "${dirs[2]}/log.txt"
}
special() {  # the one shared change of editor i, mid-run
  local i=$1 counts=$2
  case $i in
    0)  # a layer from cave.png, which the others fetch; then paint on it
      on 0 moska_click 260 280; pause 0.5
      on 0 moska_click 50 293                          # row 0 of "layers": cave.png
      all_applied 0 "Action reseau: ADDLAYER,map0 cave 0!$"
      on 0 moska_move 100 440
      on 0 xdotool click 4; pause 0.5; on 0 xdotool click 4; pause 0.5
      echo addlayer >> "$counts" ;;
    1)
      on 1 moska_click 100 56
      on 1 moska_key Delete
      on 1 moska_type "soak village"
      on 1 moska_key Return
      all_applied 1 "Map map0 renommee en soak village\.$"
      echo rename >> "$counts" ;;
    2)  # to map1 through the map browser, paint there a while, back to map0
      on 2 moska_click 20 10; pause
      on 2 moska_click 50 280                          # row 1 of "maps": map1.map
      moska_wait_log "${dirs[2]}" "Map map1 ouverte avec succes\.$" 30
      all_applied 2 "Action reseau: SILENTOPEN,map1!$"
      on 2 moska_click 150 10; pause
      # Stays there until ann's layer and ben's name have reached map0 here.
      local until=$((SECONDS + SOAK_SECONDS / 6 + 3))
      while ((SECONDS < until)) || ! overlapped; do
        ((SECONDS < end)) || break
        paint_turn 2 "$counts.map1"
      done
      on 2 moska_click 20 10; pause
      on 2 moska_click 50 263                          # row 0: map0.map
      moska_wait_log "${dirs[2]}" "Map map0 ouverte avec succes\.$" 30
      all_applied 2 "Action reseau: SILENTOPEN,map0!$"
      on 2 moska_click 150 10; pause
      echo switch >> "$counts" ;;
  esac
}
drive() {
  local i=$1 end=$2 at=$3 counts=$root/counts.$1 done_special=0
  RANDOM=$((1000 + i))
  : > "$counts"
  while ((SECONDS < end)); do
    if ((done_special == 0 && SECONDS >= at)); then
      special "$i" "$counts"
      done_special=1
    fi
    paint_turn "$i" "$counts"
  done
}

# The shared changes overlap: ann adds the layer and ben renames map0 while
# cat is on map1 (a fifth of the run in, for a sixth of it).
special_at=(25 30 20 100)
start=$SECONDS
end=$((start + SOAK_SECONDS))
for ((i = 0; i < N; i++)); do
  drive "$i" "$end" $((start + SOAK_SECONDS * special_at[i] / 100)) &
  loops+=($!)
done
# Memory: the warm-up ends after a fifth of the run (at least 10 s); the
# samples go to rss.txt, one line per sample.
warm=$((start + (SOAK_SECONDS / 5 > 10 ? SOAK_SECONDS / 5 : 10)))
rss_warm=()
while ((SECONDS < end)); do
  line="$((SECONDS - start))s"
  for ((i = 0; i < N; i++)); do
    kill -0 "${pids[i]}" 2>/dev/null || fail "${names[i]} died during the run"
    line+=" $(rss_kb "${pids[i]}")"
  done
  echo "$line" >> "$root/rss.txt"
  if ((${#rss_warm[@]} == 0 && SECONDS >= warm)); then
    for ((i = 0; i < N; i++)); do rss_warm[i]=$(rss_kb "${pids[i]}"); done
  fi
  sleep $RSS_SAMPLE_SECONDS
done
for p in "${loops[@]}"; do wait "$p" || fail "a driver failed"; done
loops=()
duration=$((SECONDS - start))
((${#rss_warm[@]})) || for ((i = 0; i < N; i++)); do rss_warm[i]=${rss_join[i]}; done

# --- Quiet: every action sent has been applied by its receiver, none twice.
wait_quiet() {
  local k j i want quiet
  for ((k = 0; k < 300; k++)); do
    quiet=1
    for ((j = 0; j < N; j++)); do
      want=0
      for ((i = 0; i < N; i++)); do ((i == j)) || want=$((want + $(sent_to "$i" "$j"))); done
      (($(applied "$j") >= want)) || quiet=0
    done
    ((quiet)) && break
    sleep 0.1
  done
  ((quiet)) || fail "actions still unapplied 30 s after the run"
  for ((j = 0; j < N; j++)); do
    want=0
    for ((i = 0; i < N; i++)); do ((i == j)) || want=$((want + $(sent_to "$i" "$j"))); done
    [ "$(applied "$j")" = "$want" ] || fail "${names[j]} applied $(applied "$j") actions of $want sent"
  done
}
wait_quiet

# --- The same cells painted at once: every editor strokes row 29 of its
# view with its own tile, all together. What each copy holds afterwards (the
# last write to each cell in its log) is recorded, not asserted: editors do
# not agree on the order of simultaneous edits yet. Then ann fills the row
# alone, so the copies agree again for the comparison below.
contended=29
for ((i = 0; i < N; i++)); do
  marks[i]=$(wc -l < "${dirs[i]}/log.txt")
  on "$i" tap $((1 + 16 * (i + 2) + 8)) $((70 + 8))  # palette tile i + 2
done
for ((i = 0; i < N; i++)); do on "$i" stroke 1 17 $contended 1 & loops+=($!); done
for p in "${loops[@]}"; do wait "$p"; done
loops=()
wait_quiet
for ((i = 0; i < N; i++)); do
  tail -n +$((marks[i] + 1)) "${dirs[i]}/log.txt" |
    sed -n 's/^setElementAbsolute([0-9]*,[0-9]*,\([0-9]*\),\([0-9]*\),\([0-9-]*\));$/\1 \2 \3/p' |
    awk '{ last[$1 " " $2] = $3 } END { for (c in last) print c, last[c] }' | sort > "$root/contended.$i"
done
read -r differ cells < <(cat "$root"/contended.* | awk -v n=$N '
  { c = $1 " " $2; seen[c]++; if (!(c in first)) first[c] = $3; else if (first[c] != $3) odd[c] = 1 }
  END { for (c in seen) { total++; if (seen[c] < n || (c in odd)) d++ } print d + 0, total + 0 }')
echo "same cells painted at once by $N editors: $differ of $cells cells differ between the copies"
on 0 tap $((1 + 16 * 7 + 8)) $((70 + 8))
on 0 tap 250 52                                 # rectangle brush
on 0 tap "$(cell_x 1)" "$(cell_y $contended)"
on 0 tap "$(cell_x 17)" "$(cell_y $contended)" 3
on 0 tap 250 52                                 # back to the pen
wait_quiet
pause 1
for ((i = 0; i < N; i++)); do rss_end[i]=$(rss_kb "${pids[i]}"); done

# --- All quit with Escape, one after the other; the others see each leave.
for ((i = 0; i < N; i++)); do
  on "$i" moska_key Escape
  MOSKA_PID=${pids[i]}
  moska_wait_exit 60
  [ "$MOSKA_STATUS" = 0 ] || fail "${names[i]} exit status $MOSKA_STATUS"
  for ((j = i + 1; j < N; j++)); do
    wait_count "$j" "working map: " $((i + 1))
  done
done

# --- Figures.
echo "soak: $N editors, $duration s of input (SOAK_SECONDS=$SOAK_SECONDS)"
printf '%-5s %5s %5s %5s %6s %7s %7s %9s %9s %9s %6s\n' editor pen erase fill map1 actions applied \
  "rss-join" "rss-warm" "rss-end" slots
status=0
for ((i = 0; i < N; i++)); do
  log=${dirs[i]}/log.txt counts=$root/counts.$i
  sent=0
  for ((j = 0; j < N; j++)); do ((i == j)) || sent=$((sent + $(sent_to "$i" "$j"))); done
  released=$(($(grep -c "working map: " "$log") + $(grep -c "Deconnexion du client .* terminee\.$" "$log")))
  printf '%-5s %5d %5d %5d %6d %7d %7d %7dkB %7dkB %7dkB %4d/%d\n' "${names[i]}" \
    "$(grep -c '^pen$' "$counts")" "$(grep -c '^erase$' "$counts")" "$(grep -c '^fill$' "$counts")" \
    "$(cat "$counts.map1" 2>/dev/null | wc -l)" $((sent / (N - 1))) "$(applied "$i")" \
    "${rss_join[i]}" "${rss_warm[i]}" "${rss_end[i]}" "$released" $((N - 1))
  [ "$released" = $((N - 1)) ] || { echo "FAIL: ${names[i]} released $released slots" >&2; status=1; }
  if grep -E "Connexion perdue|En-tete invalide|Transfert interrompu|Poignee de main|Envoi de .* impossible|ignoree" "$log" >&2; then
    status=1
  fi
  limit=$((rss_warm[i] + rss_warm[i] * RSS_GROWTH_PERCENT / 100))
  ((rss_end[i] <= limit)) || { echo "FAIL: ${names[i]} RSS ${rss_warm[i]} -> ${rss_end[i]} kB" >&2; status=1; }
done
echo "RSS samples (kB, every ${RSS_SAMPLE_SECONDS} s: ${names[*]}):"
sed 's/^/  /' "$root/rss.txt"
grep -q addlayer "$root/counts.0" && grep -q rename "$root/counts.1" && grep -q switch "$root/counts.2" ||
  { echo "FAIL: a shared change did not happen (run too short?)" >&2; status=1; }
awk '/Map map1 ouverte avec succes/ { s = 1 } s == 1 && /ADDLAYER,map0/ { a = 1 }
     s == 1 && /Map map0 renommee/ { r = 1 } /Map map0 ouverte avec succes/ { if (s) exit !(a && r) }
     END { if (!s) exit 1 }' "${dirs[2]}/log.txt" ||
  { echo "FAIL: the new layer and name did not reach cat while it was on map1" >&2; status=1; }

# --- Every copy of each map holds the same layers and cells.
copies() { local i; for ((i = 0; i < N; i++)); do echo "${dirs[i]}/demo/maps/$1.map"; done; }
"$compare" $(copies map0) > "$root/map0.txt" || status=1
"$compare" $(copies map1) > "$root/map1.txt" || status=1
cat "$root/map0.txt" "$root/map1.txt"
[ "$(grep -c '"soak village" .* 3 layers: .* \[2 cave bg=0 x=1 y=1 cells=[1-9]' "$root/map0.txt")" = $N ] ||
  { echo "FAIL: map0 is not renamed with the cave layer painted in every copy" >&2; status=1; }
cmp -s "$demo/maps/map1.map" "${dirs[2]}/demo/maps/map1.map" &&
  { echo "FAIL: cat's paints on map1 were not saved" >&2; status=1; }
for ((i = 1; i < N; i++)); do
  cmp "${dirs[0]}/demo/layers/cave.png" "${dirs[i]}/demo/layers/cave.png" || status=1
  cmp "${dirs[0]}/demo/layerspc/cave.pss" "${dirs[i]}/demo/layerspc/cave.pss" || status=1
done
[ $status = 0 ] || fail "soak: see above (logs in $root)"
rm -rf "$root"
echo "soak: ok"
