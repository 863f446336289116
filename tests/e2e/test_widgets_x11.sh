#!/usr/bin/env bash
# Types into a real text field and clicks a real button with xdotool, under
# Xvfb: the button prints the field's value; Escape ends the program.
set -u
. "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT

BUILD=${MOSKA_BUILD:-$(dirname "$MOSKA_APP")}
DEMO=$BUILD/tests/widget_demo
[ -x "$DEMO" ] || fail "widget_demo not built: $DEMO"

dir=$(mktemp -d /tmp/moska-widgets-XXXXXX)
moska_app "$dir"
# The demo up with its window: its button line logged, its window found.
moska_xvfb_start
SDL_VIDEODRIVER=x11 "$DEMO" "$dir/" > "$dir/log.txt" 2>&1 &
MOSKA_PID=$!
MOSKA_PIDS+=("$MOSKA_PID")
moska_wait_log "$dir" '^button: [0-9]+ x [0-9]+' 10
moska_wait_window || fail "no demo window: $(cat "$dir/log.txt")"
read -r bw bh < <(sed -n 's/^button: \([0-9]*\) x \([0-9]*\)$/\1 \2/p' "$dir/log.txt" | head -n 1)
moska_focus

# The field at (8, 100), 200 x 20: click inside, type, Enter.
moska_click 60 110
moska_type abc
moska_key Return
moska_screenshot "$dir/typed.png"

# The button at (220, 100): press, hold, release inside.
moska_click $((220 + bw / 2)) $((100 + bh / 2))
moska_wait_log "$dir" '^clicked: abc$' 10

# A press dragged off the button before release does not click.
xdotool mousemove $((220 + bw / 2)) $((100 + bh / 2)); sleep 0.1
xdotool mousedown 1; sleep 0.15
xdotool mousemove 600 400; sleep 0.15
xdotool mouseup 1; sleep 0.3
[ "$(grep -c '^clicked:' "$dir/log.txt")" = 1 ] || fail "a dragged-off press clicked"

moska_key Escape
moska_wait_exit 10
[ "$MOSKA_STATUS" = 0 ] || fail "exit status $MOSKA_STATUS"
grep -q '^demo ends$' "$dir/log.txt" || fail "no end line"
rm -rf "$dir"
echo "PASS"
