#!/usr/bin/env bash
# End-to-end harness: runs the real editor in a private program folder, under
# Xvfb (real window, xdotool input, screenshots) or headless (dummy video),
# optionally inside a network namespace.
#
#   moska_app DIR [key=value ...]   copy build/app into DIR, write settings.ini
#                                   (keys: fullscreen video_x video_y username ipserver fps net)
#   moska_start DIR [ARGS...]       start DIR/moska2 (log in DIR/log.txt), sets MOSKA_PID
#   moska_start_ns NS DIR [ARGS...] the same inside network namespace NS
#   moska_wait_log DIR REGEX [SECS] wait until the log matches
#   moska_wait_exit [SECS]          wait for MOSKA_PID, sets MOSKA_STATUS
#   moska_xvfb_start / moska_xvfb_stop
#   moska_wait_window, moska_focus, moska_key KEY, moska_type TEXT,
#   moska_click X Y [BUTTON], moska_move X Y, moska_screenshot FILE
#   moska_wait_colours CROP MIN FILE [SECS]  screenshot into FILE until the region
#                                   CROP (WxH+X+Y) shows at least MIN colours
#   moska_wait_pixel X Y REGEX FILE [SECS]   screenshot into FILE until pixel (X, Y)
#                                   matches REGEX (e.g. 'srgb\(255,0,0\)|red')
#   moska_join DIR ADDR             type ADDR into the focused editor's address field
#                                   and press join, once; fails unless DIR's log
#                                   shows the connection attempt (lost input is a failure)
#   moska_netns NS IP               namespace NS on the test bridge with address IP/24
#   moska_cleanup                   kill what was started, remove namespaces; in the
#                                   EXIT trap it fails the test when a sanitizer reported
#                                   in any started editor's log

MOSKA_APP=${MOSKA_APP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/app}
MOSKA_PIDS=()
MOSKA_LOGS=()
MOSKA_NS=()
MOSKA_XVFB_PID=""
MOSKA_BRIDGE=mosbr$$
MOSKA_SANITIZER_RE='ERROR: (Address|Leak|Thread)Sanitizer|runtime error:|WARNING: ThreadSanitizer'

fail() { echo "FAIL: $*" >&2; exit 1; }

moska_app() {
  local dir=$1; shift
  mkdir -p "$dir"
  cp -r "$MOSKA_APP"/. "$dir"/
  rm -f "$dir/recent.txt"
  local fullscreen=0 video_x=640 video_y=480 username=tester ipserver=127.0.0.1 fps=30 net=0
  local kv
  for kv in "$@"; do local "$kv"; done
  printf 'FULLSCREEN %s\nVIDEO_X %s\nVIDEO_Y %s\nUSERNAME %s\nIPSERVER %s\nFPS %s\nNET %s\n' \
    "$fullscreen" "$video_x" "$video_y" "$username" "$ipserver" "$fps" "$net" > "$dir/settings.ini"
}

moska_driver() { if [ -n "${DISPLAY:-}" ]; then echo x11; else echo dummy; fi; }

# A log about to be emptied for a new run keeps its sanitizer reports aside.
moska_keep_reports() {
  local dir=$1
  if grep -qaE -- "$MOSKA_SANITIZER_RE" "$dir/log.txt" 2>/dev/null; then
    cat "$dir/log.txt" >> "$dir/sanitizer.txt"
    MOSKA_LOGS+=("$dir/sanitizer.txt")
  fi
}

moska_start() {
  local dir=$1; shift
  moska_keep_reports "$dir"
  : > "$dir/log.txt"  # emptied now, so a wait never matches an earlier run's lines
  SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-$(moska_driver)} "$dir/moska2" "$@" > "$dir/log.txt" 2>&1 &
  MOSKA_PID=$!
  MOSKA_LOGS+=("$dir/log.txt")
  MOSKA_PIDS+=("$MOSKA_PID")
}

moska_start_ns() {
  local ns=$1 dir=$2; shift 2
  moska_keep_reports "$dir"
  : > "$dir/log.txt"
  ip netns exec "$ns" env SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-$(moska_driver)} \
    "$dir/moska2" "$@" > "$dir/log.txt" 2>&1 &
  MOSKA_PID=$!
  MOSKA_LOGS+=("$dir/log.txt")
  MOSKA_PIDS+=("$MOSKA_PID")
}

moska_wait_log() {
  local dir=$1 re=$2 secs=${3:-20} i
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
    if ! kill -0 "$MOSKA_PID" 2>/dev/null; then
      wait "$MOSKA_PID"; MOSKA_STATUS=$?
      return 0
    fi
    sleep 0.1
  done
  kill -9 "$MOSKA_PID" 2>/dev/null
  fail "the editor did not exit within ${secs}s"
}

# The server picks a free display number itself (-displayfd), so parallel
# runs never race for one.
moska_xvfb_start() {
  local try i n out
  for try in 1 2 3; do
    out=$(mktemp /tmp/moska-xvfb-XXXXXX)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$out" >/dev/null 2>&1 &
    MOSKA_XVFB_PID=$!
    for ((i = 0; i < 50; i++)); do
      n=$(cat "$out" 2>/dev/null)
      [ -n "$n" ] && break
      sleep 0.1
    done
    rm -f "$out"
    if [ -n "$n" ]; then
      export DISPLAY=:$n
      for ((i = 0; i < 50; i++)); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
      done
    fi
    kill -9 "$MOSKA_XVFB_PID" 2>/dev/null
    wait "$MOSKA_XVFB_PID" 2>/dev/null
  done
  fail "Xvfb did not start"
}

moska_xvfb_stop() {
  [ -n "$MOSKA_XVFB_PID" ] && kill "$MOSKA_XVFB_PID" 2>/dev/null && wait "$MOSKA_XVFB_PID" 2>/dev/null
  MOSKA_XVFB_PID=""
  unset DISPLAY
}

moska_wait_window() {
  local i
  for ((i = 0; i < 100; i++)); do
    MOSKA_WINDOW=$(xdotool search --name "MOSKA 2" 2>/dev/null | head -n 1)
    [ -n "$MOSKA_WINDOW" ] && return 0
    sleep 0.1
  done
  return 1
}

moska_focus() { xdotool windowfocus --sync "$MOSKA_WINDOW" 2>/dev/null || xdotool windowfocus "$MOSKA_WINDOW"; }

# Keys are held long enough for a loop polling the key state to see them.
moska_key() { moska_focus; xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; sleep 0.05; }

moska_type() {
  local s=$1 i c
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case "$c" in
      " ") c=space ;; ".") c=period ;; "-") c=minus ;; "_") c=underscore ;; "/") c=slash ;;
    esac
    moska_key "$c"
  done
}

moska_move() { xdotool mousemove "$1" "$2"; sleep 0.1; }

moska_click() {
  local b=${3:-1}
  xdotool mousemove "$1" "$2"; sleep 0.1
  xdotool mousedown "$b"; sleep 0.15
  xdotool mouseup "$b"; sleep 0.15
}

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

# Returns 1 (no failure) when the pixel never matches, for scans.
moska_wait_pixel() {
  local x=$1 y=$2 re=$3 file=$4 secs=${5:-5} i c
  for ((i = 0; i < secs * 10; i++)); do
    moska_screenshot "$file"
    c=$(convert "$file" -format "%[pixel:p{$x,$y}]" info: 2>/dev/null)
    [[ $c =~ ^($re)$ ]] && return 0
    sleep 0.1
  done
  return 1
}

moska_join() {
  local dir=$1 addr=$2 n
  local re="^Tentative de connexion a X.X.X.${addr##*.}:34567/"
  n=$(grep -cE -- "$re" "$dir/log.txt")
  moska_click 70 110; moska_key Delete; moska_type "$addr"; moska_key Return
  moska_click 186 112
  local i
  for ((i = 0; i < 100; i++)); do
    (($(grep -cE -- "$re" "$dir/log.txt") > n)) && return 0
    sleep 0.1
  done
  fail "$dir did not try to join $addr: a key or the click was lost"
}

moska_netns() {
  local ns=$1 ip=$2
  if ! ip link show "$MOSKA_BRIDGE" >/dev/null 2>&1; then
    ip link add "$MOSKA_BRIDGE" type bridge
    ip link set "$MOSKA_BRIDGE" up
  fi
  ip netns add "$ns"
  MOSKA_NS+=("$ns")
  local veth=v${ns:0:6}$$
  ip link add "${veth}a" type veth peer name "${veth}b"
  ip link set "${veth}a" master "$MOSKA_BRIDGE" up
  ip link set "${veth}b" netns "$ns"
  ip -n "$ns" link set "${veth}b" name eth0
  ip -n "$ns" addr add "$ip/24" dev eth0
  ip -n "$ns" link set eth0 up
  ip -n "$ns" link set lo up
}

# Sanitizer reports (ASan, LeakSanitizer, UBSan, TSan) in the logs of the
# editors started so far; prints them and returns 1 when there is one.
moska_sanitizer_check() {
  local log bad=0
  for log in $(printf '%s\n' "${MOSKA_LOGS[@]}" | sort -u); do
    if grep -qaE -- "$MOSKA_SANITIZER_RE" "$log" 2>/dev/null; then
      echo "--- sanitizer report in $log ---" >&2
      grep -aE -A30 -- "$MOSKA_SANITIZER_RE" "$log" | head -n 80 >&2
      bad=1
    fi
  done
  return $bad
}

# Meant for the EXIT trap: exits 1 on a sanitizer report even when the test
# itself passed, and keeps the test's own failure status otherwise.
moska_cleanup() {
  local status=$? p ns
  for p in "${MOSKA_PIDS[@]}"; do kill -9 "$p" 2>/dev/null; done
  for p in "${MOSKA_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  for ns in "${MOSKA_NS[@]}"; do ip netns del "$ns" 2>/dev/null; done
  ip link del "$MOSKA_BRIDGE" 2>/dev/null
  moska_xvfb_stop
  if ! moska_sanitizer_check; then
    echo "FAIL: sanitizer report in an editor's log" >&2
    exit 1
  fi
  return $status
}
