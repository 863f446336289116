#!/usr/bin/env bash
# Presence between three editors in namespaces, each on its own display:
# bob's pointer over a cell shows on alice's screen at that cell in bob's
# colour and goes when he leaves the map; carol joins alice only, and her
# pointer shows on both others' screens (the session links her to bob);
# alice's client list names bob's map;
# clicking his name makes her view follow his, until she scrolls; her
# overview frames his view.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
moska_pair 10.81.0
magenta=FF00FF
echo "COLOUR #ff00ff" >> "$b/settings.ini"
moska_window -d $nb "$b"
moska_window -d $na "$a"
moska_has "$b" "^colour: #ff00ff$" || fail "bob's colour setting not read"
moska_on "$a" moska_join "$a" 10.81.0.2
for d in "$a" "$b"; do moska_wait_log "$d" "^Action reseau: EXTENSIONS,.* PRESENCE( [A-Z]+)*!$"; done

# Bob's pointer over cell (5, 4) of map0: at alice's, an arrow from the
# cell's middle (view x 322) and the cell's outline, in bob's colour.
moska_on "$b" xdotool mousemove 410 72
moska_wait_log "$a" "^Client bob sur la map map0\.$"
moska_wait_pixel "$a" 411 77 $magenta
moska_wait_pixel "$a" 406 64 $magenta
moska_on "$b" xdotool mousemove 490 200   # cell (10, 12)
moska_wait_pixel "$a" 411 77 "!$magenta"
moska_wait_pixel "$a" 491 205 $magenta
# Carol joins alice; the session links her to bob, who sees her pointer too.
c=$root/carol nc=n53$$ cyan=00FFFF
moska_netns $nc 10.81.0.3
moska_demo "$c" username=carol net=1 ipserver=10.81.0.1
echo "COLOUR #00ffff" >> "$c/settings.ini"
moska_window -d $nc "$c"
moska_on "$c" moska_join "$c" 10.81.0.1
moska_wait_log "$b" "^Connecte avec carol sur le tunnel [0-9]+ pour le serveur!$"
moska_on "$c" moska_menu map
moska_on "$c" xdotool mousemove 570 136   # cell (15, 8)
for d in "$a" "$b"; do moska_wait_pixel "$d" 571 141 $cyan; done
# No presence line in the logs, no activity picture: nothing for it either way.
for d in "$a" "$b" "$c"; do [ "$(grep -a PRESENCE "$d/log.txt" | grep -vc EXTENSIONS)" = 0 ] || fail "$d logs presence actions"; done

# Bob opens map1: his pointer leaves alice's map0, her list names map1.
moska_on "$b" moska_menu main
moska_on "$b" moska_click 50 280
moska_wait_log "$a" "^Client bob sur la map map1\.$"
moska_on "$a" moska_screenshot "$a/left.png"
n=$(convert "$a/left.png" -crop 318x480+322+0 +repage -fill black +opaque "#$magenta" -format "%[fx:int(mean*w*h*3+0.5)]" info:)
[ "$n" = 0 ] || fail "bob's pointer still drawn at alice's after he left map0 ($n)"

# Bob scrolls map1 to the right twice (its 30 rows fill his view: down would
# show the margin past its bottom edge, which a view in cells does not
# carry), his pointer on his panel. Alice clicks his name: she switches to
# map1 and her view shows what his shows.
moska_on "$b" xdotool mousemove 100 400
view() { moska_on "$1" moska_screenshot "$1/shot.png"; convert "$1/shot.png" -crop 318x480+322+0 +repage "$1/$2"; }
view "$b" before.png
moska_on "$b" moska_key Right
moska_on "$b" moska_key Right
view "$b" after.png
[ "$(compare -metric AE "$b/before.png" "$b/after.png" null: 2>&1)" != 0 ] || fail "bob's view did not scroll"
moska_on "$a" moska_click 60 175
moska_wait_log "$a" "^Suivi de bob \(tunnel 0\)\.$"
moska_wait_log "$a" "^Map map1 ouverte avec succes\.$"
same=""
for ((i = 0; i < 50; i++)); do
  for d in "$a" "$b"; do view "$d" view.png; done
  [ "$(compare -metric AE "$a/view.png" "$b/view.png" null: 2>&1)" = 0 ] && { same=1; break; }
  sleep 0.1
done
[ -n "$same" ] || fail "alice's view does not show bob's"
# Alice scrolls: following ends.
moska_on "$a" moska_key Left
moska_wait_log "$a" "^Fin du suivi de bob\.$"
# Alice's overview (M) frames bob's view in his colour.
moska_on "$a" moska_key m
moska_wait_log "$a" "^Apercu de la map en [0-9]+x[0-9]+ \([0-9]+x[0-9]+\)\.$"
read -r ox oy ow oh < <(grep -a "^Apercu de la map en" "$a/log.txt" | tail -n 1 | tr -c '0-9\n' ' ')
seen=""
for ((i = 0; i < 30; i++)); do
  moska_on "$a" moska_screenshot "$a/over.png"
  n=$(convert "$a/over.png" -crop "${ow}x${oh}+${ox}+${oy}" +repage -fill black +opaque "#$magenta" \
    -format "%[fx:int(mean*w*h*3+0.5)]" info:)
  [ "$n" -gt 20 ] && { seen=1; break; }
  sleep 0.1
done
[ -n "$seen" ] || fail "alice's overview does not frame bob's view ($n magenta pixels)"

for d in "$c" "$b" "$a"; do moska_quit "$d"; done
echo "presence: ok"
