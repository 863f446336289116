#!/usr/bin/env bash
# Soak: four editors in namespaces, each on its own Xvfb display, in a full
# mesh (one joins the others, who then link by themselves), paint, erase and
# fill their own bands of map0 by real input for SOAK_SECONDS (60); ann
# adds a layer from a tileset only she has, ben renames the map, cat works
# on map1 until both reach it. Then all paint one row at
# once (how many cells their copies disagree on is printed) and ben fills it.
# Every action sent is applied once; all copies agree; the tileset arrives
# whole; every slot is released; memory grows at most RSS_GROWTH_PERCENT.
set -u
source "$(dirname "$0")/lib.sh"
SOAK_SECONDS=${SOAK_SECONDS:-60}
RSS_GROWTH_PERCENT=${RSS_GROWTH_PERCENT:-30}
names=(ann ben cat dan)
N=${#names[@]}
dirs=() pids=() loops=()
soak_cleanup() {  # the drivers stop before the editors and their displays
  local p
  for p in "${loops[@]}"; do kill "$p" 2>/dev/null; done
  moska_cleanup
}
moska_root soak_cleanup
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
on() { local i=$1; shift; moska_on "${dirs[i]}" "$@"; }  # input to editor i
count() { moska_count "${dirs[$1]}" "$2"; }
sent() {  # actions editor $1 sent to the others
  local j n=0
  for ((j = 0; j < N; j++)); do ((j == $1)) || n=$((n + $(count "$j" "Action reseau -> X\.X\.X\.$(($1 + 1)):"))); done
  echo $n
}
all_applied() { local j; for ((j = 0; j < N; j++)); do ((j == $1)) || moska_wait_log "${dirs[j]}" "$2" 60; done; }

for ((i = 0; i < N; i++)); do
  dirs[i]=$root/${names[i]}
  moska_netns "nso$i$$" "10.79.0.$((i + 1))"
  moska_demo "${dirs[i]}" username="${names[i]}" net=1 ipserver=10.79.0.99
  [ $i = 0 ] && cp "$MOSKA_DEMO/layers/dungeon.png" "${dirs[0]}/demo/layers/cave.png"
  moska_window -d "nso$i$$" "${dirs[i]}"; pids[i]=$MOSKA_PID
done
# Ann joins each of the others; they link with each other by themselves (the
# session's members), so a join of ours there would find them linked.
for ((j = 1; j < N; j++)); do
  on 0 moska_join "${dirs[0]}" "10.79.0.$((j + 1))"
  moska_wait_log "${dirs[j]}" "J'ai repondu donc a ann sur le tunnel" 30
done
for ((i = 0; i < N; i++)); do
  moska_wait_count "${dirs[i]}" "client ok$" +$((N - 1)) 30
  on "$i" moska_click 150 10   # the "map" menu
done

# Editor i paints rows 7i+1 to 7i+6, columns 1 to 17 of the view, far from
# the screen edges that scroll it.
cell_x() { echo $((322 + 16 * $1 + 8)); }
cell_y() { echo $((16 * $1 + 8)); }
tap() { xdotool mousemove "$1" "$2" sleep 0.05 mousedown "${3:-1}" sleep 0.1 mouseup "${3:-1}" sleep 0.05; }
stroke() {  # C1 C2 ROW BUTTON: every frame with the button held paints one cell
  local c step=$(($2 >= $1 ? 1 : -1))
  xdotool mousemove "$(cell_x "$1")" "$(cell_y "$3")" sleep 0.05 mousedown "$4"
  for ((c = $1; c != $2 + step; c += step)); do xdotool mousemove "$(cell_x "$c")" "$(cell_y "$3")" sleep 0.05; done
  xdotool mouseup "$4" sleep 0.05
}
paint_turn() {  # one random pen stroke, eraser stroke or rectangle in editor i's band
  local i=$1 r=$((RANDOM % 10)) c=$((1 + RANDOM % 17)) y=$((7 * $1 + 1 + RANDOM % 6))
  local c2=$((1 + RANDOM % 17)) y2=$((7 * $1 + 1 + RANDOM % 6))
  on "$i" tap $((1 + 16 * (RANDOM % 18) + 8)) $((70 + 16 * (RANDOM % 4) + 8))  # palette
  if ((r < 6)); then on "$i" stroke "$c" "$c2" "$y" 1
  elif ((r < 8)); then on "$i" stroke "$c" "$c2" "$y" 3
  else
    on "$i" tap 250 52                        # rectangle brush, two corners, pen again
    on "$i" tap "$(cell_x $c)" "$(cell_y $y)"
    on "$i" tap "$(cell_x $c2)" "$(cell_y $y2)" 3
    on "$i" tap 250 52
  fi
}
overlapped() {  # cat has ann's layer and ben's name
  count 2 "Action reseau: ADDLAYER,map0 cave 0!$" >/dev/null && count 2 "Map map0 renommee en soak village\.$" >/dev/null
}
special() {  # the one shared change of editor i, mid-run
  case $1 in
    0)  # a layer from cave.png, which the others fetch; then paint on it
      on 0 moska_click 260 280; sleep 0.5
      on 0 moska_click 50 293                          # row 0 of "layers": cave.png
      all_applied 0 "Action reseau: ADDLAYER,map0 cave 0!$"
      on 0 moska_move 100 440; on 0 xdotool click 4 sleep 0.5 click 4 sleep 0.5 ;;
    1) on 1 moska_field 100 56 "soak village"; all_applied 1 "Map map0 renommee en soak village\.$" ;;
    2)  # to map1 through the map browser, paint there, back to map0
      on 2 moska_menu main
      on 2 moska_click 50 280                          # row 1 of "maps": map1.map
      all_applied 2 "Action reseau: SILENTOPEN,map1!$"
      on 2 moska_menu map
      local until=$((SECONDS + SOAK_SECONDS / 6 + 3))
      while ((SECONDS < end)) && { ((SECONDS < until)) || ! overlapped; }; do paint_turn 2; done
      on 2 moska_menu main
      on 2 moska_click 50 263                          # row 0: map0.map
      all_applied 2 "Action reseau: SILENTOPEN,map0!$"
      on 2 moska_menu map ;;
  esac
  echo "special $1" >> "$root/specials"
}
drive() {  # EDITOR END SPECIAL-AT
  local done_special=0
  RANDOM=$((1000 + $1))
  while ((SECONDS < $2)); do
    ((done_special || SECONDS < $3)) || { special "$1"; done_special=1; }
    paint_turn "$1"
  done
}
special_at=(25 30 20 100)
start=$SECONDS end=$((SECONDS + SOAK_SECONDS))
for ((i = 0; i < N; i++)); do drive "$i" "$end" $((start + SOAK_SECONDS * special_at[i] / 100)) & loops+=($!); done
# Memory after the warm-up (a fifth of the run, at least 10 s), and at the end.
sleep $((SOAK_SECONDS / 5 > 10 ? SOAK_SECONDS / 5 : 10))
for ((i = 0; i < N; i++)); do rss_warm[i]=$(rss_kb "${pids[i]}"); done
while ((SECONDS < end)); do
  for ((i = 0; i < N; i++)); do kill -0 "${pids[i]}" 2>/dev/null || fail "${names[i]} died during the run"; done
  sleep 2
done
for p in "${loops[@]}"; do wait "$p" || fail "a driver failed"; done
loops=()
[ "$(sort -u "$root/specials" | wc -l)" = 3 ] || fail "a shared change did not happen (run too short?)"
awk '/Map map1 ouverte avec succes/ { s = 1 } s && /ADDLAYER,map0/ { a = 1 } s && /Map map0 renommee/ { r = 1 }
     /Map map0 ouverte avec succes/ { if (s) exit !(a && r) } END { if (!s) exit 1 }' "${dirs[2]}/log.txt" ||
  fail "the new layer and name did not reach cat while it was on map1"

wait_quiet() {
  local k j
  for ((k = 0; k < 300; k++)); do
    for ((j = 0; j < N; j++)); do [ "$(count "$j" "Action reseau: ")" = "$(sent "$j")" ] || break; done
    ((j == N)) && return 0
    sleep 0.1
  done
  fail "${names[j]} applied $(count "$j" "Action reseau: ") actions of $(sent "$j") sent"
}
wait_quiet
# The same cells painted at once: each editor strokes row 29 with its own
# tile; the last write to each cell in each log is what its copy holds.
for ((i = 0; i < N; i++)); do
  marks[i]=$(wc -l < "${dirs[i]}/log.txt")
  on "$i" tap $((1 + 16 * (i + 2) + 8)) $((70 + 8))
done
for ((i = 0; i < N; i++)); do on "$i" stroke 1 17 29 1 & loops+=($!); done
wait "${loops[@]}"; loops=()
wait_quiet
for ((i = 0; i < N; i++)); do
  tail -n +$((marks[i] + 1)) "${dirs[i]}/log.txt" |
    sed -n 's/^!\{0,1\}setElementAbsolute([0-9]*,[0-9]*,\([0-9]*\),\([0-9]*\),\([0-9-]*\));$/\1 \2 \3/p' |
    awk '{ last[$1 " " $2] = $3 } END { for (c in last) print c, last[c] }'
done | awk -v n=$N '{ c = $1 " " $2; seen[c]++; if (!(c in v)) v[c] = $3; else if (v[c] != $3) odd[c] = 1 }
  END { for (c in seen) { t++; if (seen[c] < n || (c in odd)) d++ }
        printf "same cells painted at once by %d editors: %d of %d cells differ between the copies\n", n, d, t }'
# Ben fills the row alone on layer 0, where the others painted it (ann is on
# her new layer).
on 1 tap $((1 + 16 * 7 + 8)) $((70 + 8))
on 1 tap 250 52; on 1 tap "$(cell_x 1)" "$(cell_y 29)"; on 1 tap "$(cell_x 17)" "$(cell_y 29)" 3; on 1 tap 250 52
wait_quiet
for ((i = 0; i < N; i++)); do
  rss=$(rss_kb "${pids[i]}")
  echo "${names[i]}: $(sent "$i") actions applied, RSS ${rss_warm[i]} kB after the warm-up, $rss kB at the end"
  ((rss <= rss_warm[i] * (100 + RSS_GROWTH_PERCENT) / 100)) || fail "${names[i]} memory grew to $rss kB"
done

for ((i = 0; i < N; i++)); do
  moska_quit "${dirs[i]}" key
  for ((j = i + 1; j < N; j++)); do moska_wait_count "${dirs[j]}" "working map: " +$((i + 1)) 30; done
done
for ((i = 0; i < N; i++)); do
  released=$(($(count "$i" "working map: ") + $(count "$i" "Deconnexion du client .* terminee\.$")))
  [ "$released" = $((N - 1)) ] || fail "${names[i]} released $released slots"
  ! grep -E "Connexion perdue|En-tete invalide|Transfert interrompu|Poignee de main|Envoi de .* impossible|ignoree" \
    "${dirs[i]}/log.txt" >&2 || fail "${names[i]} logged a failure"
  cmp -s "${dirs[0]}/demo/layers/cave.png" "${dirs[i]}/demo/layers/cave.png" &&
    cmp -s "${dirs[0]}/demo/layerspc/cave.pss" "${dirs[i]}/demo/layerspc/cave.pss" || fail "cave tileset at ${names[i]}"
done
moska_py $(for m in map0 map1; do for d in "${dirs[@]}"; do echo "$d/demo/maps/$m.map"; done; done) <<'EOF' ||
copies = [read_map(p) for p in sys.argv[1:]]
n = len(copies) // 2
for m in copies:
    print(m["name"], [(l[0], l[2], l[3], l[4], sum(c != 0 for c in l[1])) for l in m["layers"]])
for k in (0, n):
    assert all(c["layers"] == copies[k]["layers"] for c in copies[k:k + n]), "copies differ"
m0 = copies[0]["layers"]
assert copies[0]["name"] == "soak village" and len(m0) == 3, "map0 not renamed or without the new layer"
assert m0[0][0] == "cave" and m0[0][2:] == [0, 1, 1] and any(m0[0][1]), "the cave layer"
EOF
  fail "soak: map copies (logs in $root)"
cmp -s "$MOSKA_DEMO/maps/map1.map" "${dirs[2]}/demo/maps/map1.map" && fail "cat's paints on map1 were not saved"
rm -rf "$root"
echo "soak: ok"
