#!/usr/bin/env bash
# A large paste as a base peer receives it: a real editor (headless, 30
# frames per second) fed 65536 pen actions by peer_tool, once at the pace
# the editor's outbox sends a paste too large for the peers' queues
# (RECV_QUEUE_MAX = 16384 actions a second) and once unpaced. Prints how long
# the editor took to apply them all and whether it cut the connection (its
# bound: 16384 received actions not yet applied).
#   bench/paste_net.sh [BUILD_DIR]      (root: namespaces)
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd) n=65536
export MOSKA_APP=$build/app && source "$(dirname "$0")/../tests/e2e/lib.sh" && trap moska_cleanup EXIT
moska_netns npA$$ 10.83.0.1
moska_netns npB$$ 10.83.0.2
root=$(mktemp -d /tmp/moska-pastenet-XXXXXX)
moska_app "$root/app" username=editor net=1 fps=30
cp -r "$MOSKA_DEMO" "$root/demo"
for rate in 16384 0; do
  SDL_VIDEODRIVER=dummy moska_start_ns npB$$ "$root/app" "$root/demo/PROJECT.MSK"
  moska_wait_log "$root/app" "Project loaded succesfully!"
  start=$(date +%s.%N)
  ip netns exec npA$$ "$build/tests/peer_tool" 10.83.0.2 paster 0.24a join flood $n $rate sleep 500 bye > "$root/peer.txt"
  for ((i = 0; i < 1200; i++)); do
    grep -q "^!\?setElementAbsolute(0,0,[0-9]*,[0-9]*,$n);$" "$root/app/log.txt" && break
    grep -q "Trop d'actions en attente" "$root/app/log.txt" && break
    sleep 0.05
  done
  end=$(date +%s.%N)
  label=$([ $rate = 0 ] && echo unpaced || echo "$rate a second")
  if grep -q "Trop d'actions en attente" "$root/app/log.txt"; then
    echo "paste of $n actions to a base peer, $label: connection cut by the receiver ($(sed -n 's/^flood .* in //p' "$root/peer.txt") to send)"
  else
    echo "paste of $n actions to a base peer, $label: all applied in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s, not cut ($(sed -n 's/^flood .* in //p' "$root/peer.txt") to send)"
  fi
  kill -TERM "$MOSKA_PID"
  moska_wait_exit 30
done
rm -rf "$root"
