#!/usr/bin/env bash
# Start-up, settings, window and quit path of the real program.
set -u
source "$(dirname "$0")/lib.sh"
trap moska_cleanup EXIT
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)

# Without settings.ini: the openFile error line, then status 8.
moska_app "$root/nosettings"
rm "$root/nosettings/settings.ini"
SDL_VIDEODRIVER=dummy moska_start "$root/nosettings"
moska_wait_exit 20
[ "$MOSKA_STATUS" = 8 ] || fail "status $MOSKA_STATUS without settings.ini, expected 8"
grep -q "^ERROR: can't load (r+) file: $root/nosettings/settings.ini!$" "$root/nosettings/log.txt" ||
  fail "missing openFile error line"

# A project folder that is neither a project file nor holds one: status 6.
moska_app "$root/badarg"
SDL_VIDEODRIVER=dummy moska_start "$root/badarg" /nonexistent/folder
moska_wait_exit 20
[ "$MOSKA_STATUS" = 6 ] || fail "status $MOSKA_STATUS for a bad project argument, expected 6"

# A real window under Xvfb on a copy of the example project.
moska_app "$root/app" username=alice fps=30
cp -r "$demo" "$root/demo"
moska_xvfb_start
moska_start "$root/app" "$root/demo/PROJECT.MSK"
moska_wait_window || fail "no window"
moska_wait_log "$root/app" "Project loaded succesfully!"
log="$root/app/log.txt"
head -n 3 "$log" | grep -qx "MOSKA 2 0.24a" || fail "banner"
sed -n 2p "$log" | grep -qx "============" || fail "banner rule"
sed -n 3p "$log" | grep -qx "$root/demo/PROJECT.MSK" || fail "argument line"
grep -A7 -x "Reading software application parameters:" "$log" | tr '\n' '|' |
  grep -q "fullscreen: 0|video_x: 640|video_y: 480|username: alice|ipserver:127.0.0.1|fps: 30|net: 0|" ||
  fail "echo lines"
[ "$(xdotool getwindowname "$MOSKA_WINDOW")" = "MOSKA 2 version 0.24a" ] || fail "caption"
eval "$(xdotool getwindowgeometry --shell "$MOSKA_WINDOW")"
[ "$WIDTH" = 640 ] && [ "$HEIGHT" = 480 ] || fail "window is ${WIDTH}x${HEIGHT}"
# The panel shows its background and the map view shows the painted map: both
# halves hold many colours, not a blank fill.
moska_wait_colours 322x480+0+0 21 "$root/shot.png"
moska_wait_colours 318x480+322+0 21 "$root/shot.png"
moska_key Escape
moska_wait_exit 20
[ "$MOSKA_STATUS" = 0 ] || fail "status $MOSKA_STATUS after Escape"
grep -q "^Saving project $root/demo/...$" "$log" || fail "project not saved"
grep -q "Programme termine." "$log" || fail "no end line"
[ -f "$root/app/recent.txt" ] || fail "recent.txt not written"
grep -q "^MAPS 1$" "$root/demo/PROJECT.MSK" || fail "project file"
echo "startup: ok"
