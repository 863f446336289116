#!/usr/bin/env bash
# Runs the network benchmarks between two network namespaces: net_bench.sh [BUILD_DIR]
#  1. net_bench drive/echo: two processes of the network code pumping in a
#     tight loop (pen round trip, tileset transfer next to raw TCP), without
#     and with a session key.
#  2. A real editor (headless, 30 frames per second) fed pen actions by
#     peer_tool, which times each from its send until the editor's log shows
#     the cell applied on the editor's main thread (inotify on the log file).
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
export MOSKA_APP=$build/app
source "$(dirname "$0")/../tests/e2e/lib.sh"
trap moska_cleanup EXIT
demo=$(cd "$(dirname "$0")/../examples/demo" && pwd)
moska_netns nbA$$ 10.78.0.1
moska_netns nbB$$ 10.78.0.2
# Without a key, then with one (every byte through the encrypted channel).
for key in "" "bench key"; do
  ip netns exec nbB$$ "$build/bench/net_bench" echo ${key:+"$key"} &
  MOSKA_PIDS+=($!)
  sleep 0.5
  ip netns exec nbA$$ "$build/bench/net_bench" drive 10.78.0.2 ${key:+"$key"}
  wait
  rm -rf /tmp/moska-netbench-*
done

root=$(mktemp -d /tmp/moska-netbench-editor-XXXXXX)
moska_app "$root/app" username=editor net=1 fps=30
cp -r "$demo" "$root/demo"
SDL_VIDEODRIVER=dummy moska_start_ns nbB$$ "$root/app" "$root/demo/PROJECT.MSK"
moska_wait_log "$root/app" "Project loaded succesfully!"
ip netns exec nbA$$ "$build/tests/peer_tool" 10.78.0.2 bench 0.24a join sleep 300 \
  latency 1000 "$root/app/log.txt" bye | grep "^send to applied"
kill -TERM "$MOSKA_PID"
moska_wait_exit 20
rm -rf "$root"
