#!/usr/bin/env bash
# End-to-end harness: the real editor in a private program folder, headless or
# under Xvfb (xdotool input, screenshots), optionally in a network namespace.
# moska_app/moska_demo DIR [key=value...] (settings; plus the example project
# in DIR/demo); moska_start [-n NS] DIR ARGS (log in DIR/log.txt, MOSKA_PID);
# moska_open NS|- DIR (headless on DIR/demo, loaded); moska_quit PID WHO;
# moska_wait_log DIR REGEX [SECS]; moska_wait_exit (MOSKA_STATUS); input on
# MOSKA_WINDOW; moska_join DIR ADDR (fails when the attempt does not show);
# moska_netns NS IP; moska_py (python with read_map); moska_cleanup, the EXIT
# trap, fails on a sanitizer report in any started editor's log.

MOSKA_APP=${MOSKA_APP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/app}
MOSKA_BIN=${MOSKA_BUILD:-$(dirname "$MOSKA_APP")}/tests
MOSKA_TOOL=$MOSKA_BIN/peer_tool
MOSKA_DEMO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples/demo" && pwd)
MOSKA_PIDS=() MOSKA_LOGS=() MOSKA_NS=() MOSKA_XVFBS=()
MOSKA_XVFB_PID=""
MOSKA_BRIDGE=mosbr$$
MOSKA_SANITIZER_RE='ERROR: (Address|Leak|Thread)Sanitizer|runtime error:|WARNING: ThreadSanitizer'

fail() { echo "FAIL: $*" >&2; exit 1; }

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
}
moska_start_ns() { moska_start -n "$@"; }
moska_open() {
  if [ "$1" = - ]; then SDL_VIDEODRIVER=dummy moska_start "$2" "$2/demo/PROJECT.MSK"
  else SDL_VIDEODRIVER=dummy moska_start -n "$1" "$2" "$2/demo/PROJECT.MSK"; fi
  moska_wait_log "$2" "Project loaded succesfully!" 60
}

# A sent action's log line ends in "\n!" (its operators' format), so the "!"
# opens whatever line another thread prints next: a pattern anchored at the
# line's start accepts it.
moska_wait_log() {
  local dir=$1 re=${2/#^/^!?} secs=${3:-20} i
  for ((i = 0; i < secs * 10; i++)); do
    grep -qE -- "$re" "$dir/log.txt" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "--- log of $dir ---" >&2; tail -n 40 "$dir/log.txt" >&2
  fail "no log line matching '$re' within ${secs}s"
}

moska_wait_exit() {
  local secs=${1:-20} i
  for ((i = 0; i < secs * 10; i++)); do
    kill -0 "$MOSKA_PID" 2>/dev/null || { wait "$MOSKA_PID"; MOSKA_STATUS=$?; return 0; }
    sleep 0.1
  done
  kill -9 "$MOSKA_PID" 2>/dev/null
  fail "the editor did not exit within ${secs}s"
}
moska_quit() {
  MOSKA_PID=$1; kill -TERM "$1"; moska_wait_exit 30
  [ "$MOSKA_STATUS" = 0 ] || fail "$2 exit status $MOSKA_STATUS"
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

moska_type() {
  local s=$1 i c
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case "$c" in " ") c=space ;; ".") c=period ;; "-") c=minus ;; "_") c=underscore ;; "/") c=slash ;; esac
    moska_key "$c"
  done
}
# Clicks a text field at (X, Y), replaces its text, presses Return.
moska_field() { moska_click "$1" "$2"; moska_key Delete; moska_type "$3"; moska_key Return; }

moska_move() { xdotool mousemove "$1" "$2"; sleep 0.1; }

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

moska_join() {
  local dir=$1 addr=$2 n i
  local re="^!?Tentative de connexion a X.X.X.${addr##*.}:34567/"
  n=$(grep -cE -- "$re" "$dir/log.txt")
  moska_field 70 110 "$addr"
  moska_click 186 112
  for ((i = 0; i < 100; i++)); do
    (($(grep -cE -- "$re" "$dir/log.txt") > n)) && return 0
    sleep 0.1
  done
  fail "$dir did not try to join $addr: a key or the click was lost"
}

moska_netns() {  # NS IP: a veth pair from the test bridge into NS, eth0 there
  local ns=$1 ip=$2 veth=v${1:0:6}$$
  ip link show "$MOSKA_BRIDGE" >/dev/null 2>&1 || { ip link add "$MOSKA_BRIDGE" type bridge && ip link set "$MOSKA_BRIDGE" up; }
  ip netns add "$ns"
  MOSKA_NS+=("$ns")
  ip link add "${veth}a" type veth peer name "${veth}b"
  ip link set "${veth}a" master "$MOSKA_BRIDGE" up
  ip link set "${veth}b" netns "$ns"
  ip -n "$ns" link set "${veth}b" name eth0
  ip -n "$ns" addr add "$ip/24" dev eth0
  ip -n "$ns" link set eth0 up
  ip -n "$ns" link set lo up
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
