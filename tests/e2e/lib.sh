#!/usr/bin/env bash
# End-to-end harness: the real editor in a private program folder, headless or
# under Xvfb (xdotool input, screenshots), optionally in a network namespace.
# An editor is known by its folder DIR (DIR/log.txt, the example project in
# DIR/demo): moska_open, moska_window, moska_on DIR CMD (input to its window),
# moska_wait_log, moska_quit. moska_py reads map files on its own; the EXIT
# trap (moska_root) fails on a sanitizer report in any editor's log.

MOSKA_APP=${MOSKA_APP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/app}
MOSKA_TOOL=${MOSKA_BUILD:-$(dirname "$MOSKA_APP")}/tests/peer_tool
MOSKA_DEMO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples/demo" && pwd)
MOSKA_PIDS=() MOSKA_LOGS=() MOSKA_NS=() MOSKA_XVFBS=()
declare -gA MOSKA_PIDOF MOSKA_DISPLAY MOSKA_WIN  # by editor folder
MOSKA_XVFB_PID=""
MOSKA_BRIDGE=mosbr$$
MOSKA_SANITIZER_RE='ERROR: (Address|Leak|Thread)Sanitizer|runtime error:|WARNING: ThreadSanitizer'

fail() { echo "FAIL: $*" >&2; exit 1; }
moska_root() { root=$(mktemp -d /tmp/moska-e2e-XXXXXX); trap "${1:-moska_cleanup}" EXIT; }

moska_app() {
  local dir=$1; shift
  mkdir -p "$dir"
  cp -r "$MOSKA_APP"/. "$dir"/
  rm -f "$dir/recent.txt"
  local fullscreen=0 video_x=640 video_y=480 username=tester ipserver=127.0.0.1 fps=30 net=0 kv
  for kv in "$@"; do local "$kv"; done
  printf 'FULLSCREEN %s\nVIDEO_X %s\nVIDEO_Y %s\nUSERNAME %s\nIPSERVER %s\nFPS %s\nNET %s\n' \
    "$fullscreen" "$video_x" "$video_y" "$username" "$ipserver" "$fps" "$net" > "$dir/settings.ini"
}
moska_demo() { moska_app "$@"; rm -rf "$1/demo"; cp -r "$MOSKA_DEMO" "$1/demo"; }

# A log about to be emptied for a new run keeps its sanitizer reports aside;
# emptied, a wait never matches an earlier run's lines.
moska_start() {
  local ns=()
  [ "$1" = -n ] && { ns=(ip netns exec "$2"); shift 2; }
  local dir=$1; shift
  if grep -qaE -- "$MOSKA_SANITIZER_RE" "$dir/log.txt" 2>/dev/null; then
    cat "$dir/log.txt" >> "$dir/sanitizer.txt"
    MOSKA_LOGS+=("$dir/sanitizer.txt")
  fi
  : > "$dir/log.txt"
  local driver=dummy
  [ -n "${DISPLAY:-}" ] && driver=x11
  "${ns[@]}" env SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-$driver} "$dir/moska2" "$@" > "$dir/log.txt" 2>&1 &
  MOSKA_PID=$!
  MOSKA_LOGS+=("$dir/log.txt")
  MOSKA_PIDS+=("$MOSKA_PID")
  MOSKA_PIDOF[$dir]=$MOSKA_PID MOSKA_DISPLAY[$dir]=${DISPLAY:-}
}
moska_start_ns() { moska_start -n "$@"; }
moska_open() {  # NS|- DIR: headless, on DIR/demo, loaded
  local ns=(); [ "$1" = - ] || ns=(-n "$1")
  SDL_VIDEODRIVER=dummy moska_start "${ns[@]}" "$2" "$2/demo/PROJECT.MSK"
  moska_wait_log "$2" "Project loaded succesfully!" 60
}
# The same under the display (with -d a new one of its own), drawn; its
# window is the first not already known (KNOWN...).
moska_window() {  # [-d] NS|- DIR [KNOWN...]
  [ "$1" = -d ] && { shift; moska_xvfb_start; }
  local ns=(); [ "$1" = - ] || ns=(-n "$1")
  moska_start "${ns[@]}" "$2" "$2/demo/PROJECT.MSK"
  moska_wait_window "${@:3}" || fail "no window for $2"
  MOSKA_WIN[$2]=$MOSKA_WINDOW
  moska_wait_log "$2" "Project loaded succesfully!" 60
  moska_wait_colours 322x480+0+0 21 "$2/panel.png"
}
moska_on() { local d=$1; shift; DISPLAY=${MOSKA_DISPLAY[$d]} MOSKA_WINDOW=${MOSKA_WIN[$d]} "$@"; }
moska_together() {  # "DIR XDOTOOL-ARGS"...: each on DIR's display, at the same moment
  local pids=() job
  for job in "$@"; do moska_on ${job%% *} xdotool ${job#* } & pids+=($!); done
  wait "${pids[@]}"
}

# A sent action's log line ends in "\n!" (its operators' format), so the "!"
# opens whatever line another thread prints next: a pattern anchored at the
# line's start accepts it.
moska_count() { grep -cE -- "${2/#^/^!?}" "$1/log.txt" 2>/dev/null; }  # DIR REGEX
moska_has() { grep -qE -- "${2/#^/^!?}" "$1/log.txt"; }
# Until DIR's log holds REGEX exactly N times (+N: at least N times).
moska_wait_count() {  # DIR REGEX N [SECS]
  local secs=${4:-10} i n
  for ((i = 0; i < secs * 10; i++)); do
    n=$(moska_count "$1" "$2")
    if [[ $3 == +* ]]; then ((n >= ${3#+})) && return 0; else ((n == $3)) && return 0; fi
    sleep 0.1
  done
  echo "--- links in the log of $1 ---" >&2
  grep -aE "Connecte|Connexion|contact|Membre|refus|SYNCLIST|Synchro avec|Bases:" "$1/log.txt" | head -n 40 >&2
  echo "--- log of $1 ---" >&2; tail -n 40 "$1/log.txt" >&2
  fail "$1 shows '$2' ${n:-0} times within ${secs}s, not $3"
}
moska_wait_log() { moska_wait_count "$1" "$2" +1 "${3:-20}"; }  # DIR REGEX [SECS]

moska_wait_exit() {
  local secs=${1:-20} i
  for ((i = 0; i < secs * 10; i++)); do
    kill -0 "$MOSKA_PID" 2>/dev/null || { wait "$MOSKA_PID"; MOSKA_STATUS=$?; return 0; }
    sleep 0.1
  done
  kill -9 "$MOSKA_PID" 2>/dev/null
  fail "the editor did not exit within ${secs}s"
}
moska_quit() {  # DIR [key]: by SIGTERM (or Escape in its window), status 0
  MOSKA_PID=${MOSKA_PIDOF[$1]}
  if [ "${2:-}" = key ]; then moska_on "$1" moska_key Escape; else kill -TERM "$MOSKA_PID"; fi
  moska_wait_exit 60
  [ "$MOSKA_STATUS" = 0 ] || fail "$1: exit status $MOSKA_STATUS"
}

# The server picks a free display number itself (-displayfd), so parallel
# runs never race for one. A second server keeps the first one running.
moska_xvfb_start() {
  local i n="" out
  [ -n "$MOSKA_XVFB_PID" ] && MOSKA_XVFBS+=("$MOSKA_XVFB_PID")
  out=$(mktemp /tmp/moska-xvfb-XXXXXX)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$out" >/dev/null 2>&1 &
  MOSKA_XVFB_PID=$!
  for ((i = 0; i < 100; i++)); do
    [ -z "$n" ] && n=$(cat "$out" 2>/dev/null)
    [ -n "$n" ] && DISPLAY=:$n xdpyinfo >/dev/null 2>&1 && { export DISPLAY=:$n; rm -f "$out"; return 0; }
    sleep 0.1
  done
  fail "Xvfb did not start"
}

moska_xvfb_stop() { [ -n "$MOSKA_XVFB_PID" ] && kill "$MOSKA_XVFB_PID" 2>/dev/null && wait "$MOSKA_XVFB_PID" 2>/dev/null; MOSKA_XVFB_PID=""; unset DISPLAY; }

# The first window not already known (the known ones are the arguments).
moska_wait_window() {
  local i known=" $* "
  for ((i = 0; i < 100; i++)); do
    for MOSKA_WINDOW in $(xdotool search --name "MOSKA 2" 2>/dev/null); do
      [[ $known == *" $MOSKA_WINDOW "* ]] || return 0
    done
    sleep 0.1
  done
  MOSKA_WINDOW=""
  return 1
}

moska_focus() { xdotool windowfocus --sync "$MOSKA_WINDOW" 2>/dev/null || xdotool windowfocus "$MOSKA_WINDOW"; }

# Keys are held long enough for a loop polling the key state to see them.
moska_key() { moska_focus; xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; sleep 0.05; }
moska_ctrl() { moska_focus; xdotool keydown ctrl keydown "$1"; sleep 0.15; xdotool keyup "$1" keyup ctrl; sleep 0.1; }

moska_shifted() { moska_focus; xdotool keydown shift keydown "$1"; sleep 0.15; xdotool keyup "$1" keyup shift; sleep 0.05; }
# Types a text key by key, Shift held for capitals and "_" as on a US keyboard.
moska_type() {
  local s=$1 i c
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case "$c" in
      [A-Z]) moska_shifted "${c,,}"; continue ;;
      "_") moska_shifted minus; continue ;;
      ":") moska_shifted semicolon; continue ;;
      " ") c=space ;; ".") c=period ;; "-") c=minus ;; "/") c=slash ;; "[") c=bracketleft ;; "]") c=bracketright ;;
    esac
    moska_key "$c"
  done
}
# Clicks a text field at (X, Y), replaces its text, presses Return.
moska_field() { moska_click "$1" "$2"; moska_key Delete; moska_type "$3"; moska_key Return; }

moska_move() { xdotool mousemove "$1" "$2"; sleep 0.1; }
moska_menu() { if [ "$1" = main ]; then moska_click 20 10; else moska_click 150 10; fi; sleep 0.3; }
moska_pick21() { moska_menu map; moska_click 89 94; sleep 0.3; }  # palette row 1, column 5 (16-column sheet)

# Screen centre of map cell (X, Y), the view at the origin at 1:1.
moska_cell() { echo $((322 + 16 * $1 + 8)) $((16 * $2 + 8)); }
MOSKA_HIT="mousedown 1 sleep 0.15 mouseup 1"  # a click the editor's polling sees
# xdotool arguments: the palette element at PX picked (map menu), then a
# stroke along row Y from column X1 to X2.
moska_stroke_args() {  # PX Y X1 X2
  local x args=(mousemove 150 10 $MOSKA_HIT sleep 0.3 mousemove "$1" 94 $MOSKA_HIT sleep 0.3)
  args+=(mousemove $((322 + 16 * $3 + 8)) $((16 * $2 + 8)) mousedown 1)
  for ((x = $3; x <= $4; x++)); do args+=(mousemove $((322 + 16 * x + 8)) $((16 * $2 + 8)) sleep 0.04); done
  echo "${args[@]}" mouseup 1
}
moska_click() { xdotool mousemove "$1" "$2" sleep 0.1 mousedown "${3:-1}" sleep 0.15 mouseup "${3:-1}" sleep 0.15; }

moska_screenshot() { import -window root "$1"; }

moska_wait_colours() {
  local crop=$1 min=$2 file=$3 secs=${4:-10} i n=0
  for ((i = 0; i < secs * 10; i++)); do
    moska_screenshot "$file"
    n=$(convert "$file" -crop "$crop" -format %k info: 2>/dev/null)
    [ "${n:-0}" -ge "$min" ] && return 0
    sleep 0.1
  done
  fail "region $crop shows ${n:-0} colours, fewer than $min, after ${secs}s"
}

# The colour of one pixel of a picture, as RRGGBB.
moska_pixel() { convert "$1" -format "%[hex:p{$2,$3}]" info: 2>/dev/null | cut -c1-6; }
# Until the pixel (X, Y) of DIR's screen is RRGGBB (with !, until it is not).
moska_wait_pixel() {  # DIR X Y [!]RRGGBB [SECS]
  local secs=${5:-10} i want=${4#!} c="" shot=$1/pixel.png
  for ((i = 0; i < secs * 10; i++)); do
    moska_on "$1" moska_screenshot "$shot"
    c=$(moska_pixel "$shot" "$2" "$3")
    if [[ $4 == !* ]]; then [ "${c^^}" != "${want^^}" ] && return 0; else [ "${c^^}" = "${want^^}" ] && return 0; fi
    sleep 0.1
  done
  fail "pixel ($2, $3) of $1 is $c, expected $4 within ${secs}s"
}

# Fails when the attempt does not show: a key or the click was lost. The
# log hides all but the address's last part ("X.X.X.4", "[X::4]").
moska_join() {  # DIR ADDR[:PORT] | V6 | [V6][:PORT], from the main menu
  local host=${2%%:*} port=34567 n re hidden
  [[ $2 == *:* ]] && port=${2##*:}
  hidden="X.X.X.${host##*.}"
  if [[ $2 == \[* ]]; then
    host=${2#[}; host=${host%%]*}; port=34567
    [[ $2 == *\]:* ]] && port=${2##*:}
  elif [[ $2 == *:*:* ]]; then
    host=$2 port=34567
  fi
  [[ $host == *:* ]] && hidden="\\[X::${host##*:}\\]"
  re="^Tentative de connexion a $hidden:$port/"
  n=$(moska_count "$1" "$re")
  moska_menu main
  moska_field 70 110 "$2"
  moska_click 186 112
  moska_wait_count "$1" "$re" +$((n + 1))
}

moska_netns() {  # NS IP: a veth pair from the test bridge into NS, eth0 there (IPv4 /24, IPv6 /64)
  local ns=$1 ip=$2 veth=v${1:0:6}$$
  ip link show "$MOSKA_BRIDGE" >/dev/null 2>&1 || { ip link add "$MOSKA_BRIDGE" type bridge && ip link set "$MOSKA_BRIDGE" up; }
  ip netns add "$ns"
  MOSKA_NS+=("$ns")
  ip link add "${veth}a" type veth peer name eth0 netns "$ns"
  ip link set "${veth}a" master "$MOSKA_BRIDGE" up
  if [[ $ip == *:* ]]; then ip -n "$ns" addr add "$ip/64" dev eth0 nodad; else ip -n "$ns" addr add "$ip/24" dev eth0; fi
  ip -n "$ns" link set eth0 up
  ip -n "$ns" link set lo up
}
# Alice and bob, each in a namespace of their own ($na, $nb: NET.1 and
# NET.2), with the demo project, each the other's address to join ($a, $b).
moska_pair() {  # NET
  na=pa$$ nb=pb$$ a=$root/alice b=$root/bob
  moska_netns $na $1.1
  moska_netns $nb $1.2
  moska_demo "$a" username=alice net=1 ipserver=$1.2
  moska_demo "$b" username=bob net=1 ipserver=$1.1
}

# The map file read on its own: read_map(path) gives name, w, h, view x and
# y, and the layers as stored (top-down), each [tileset, cells, bg, x, y];
# rest is what follows the last layer (the end mark).
MOSKA_MAP_PY='
import struct, sys
def read_map(path):
    b = open(path, "rb").read()
    assert b[0:1] == b"$", "start mark"
    p = [1]
    def s():
        n, = struct.unpack_from("<H", b, p[0]); p[0] += 2 + n
        return b[p[0] - n:p[0] - 1].decode()
    name = s(); s()
    w, h, vx, vy, n = struct.unpack_from("<IIIIH", b, p[0]); p[0] += 18
    layers = []
    for _ in range(n):
        g = s()
        cells = list(struct.unpack_from("<%di" % (w * h), b, p[0])); p[0] += 4 * w * h
        layers.append([g, cells] + list(struct.unpack_from("<bhh", b, p[0]))); p[0] += 5
    return dict(name=name, w=w, h=h, view=(vx, vy), layers=layers, rest=b[p[0]:])
'
moska_py() { python3 -c "$MOSKA_MAP_PY$(cat)" "$@"; }

# The EXIT trap: exits 1 on a sanitizer report even when the test itself
# passed, and keeps the test's own failure status otherwise.
moska_cleanup() {
  local status=$? p ns log bad=0
  for p in "${MOSKA_PIDS[@]}"; do kill -9 "$p" 2>/dev/null; done
  for p in "${MOSKA_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  for p in "${MOSKA_XVFBS[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  for ns in "${MOSKA_NS[@]}"; do ip netns del "$ns" 2>/dev/null; done
  ip link del "$MOSKA_BRIDGE" 2>/dev/null
  moska_xvfb_stop
  for log in $(printf '%s\n' "${MOSKA_LOGS[@]}" | sort -u); do
    if grep -qaE -- "$MOSKA_SANITIZER_RE" "$log" 2>/dev/null; then
      echo "--- sanitizer report in $log ---" >&2
      grep -aE -A30 -- "$MOSKA_SANITIZER_RE" "$log" | head -n 80 >&2
      bad=1
    fi
  done
  ((bad == 0)) || { echo "FAIL: sanitizer report in an editor's log" >&2; exit 1; }
  return $status
}
