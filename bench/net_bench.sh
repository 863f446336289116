#!/usr/bin/env bash
# Runs net_bench between two network namespaces: net_bench.sh [BUILD_DIR]
set -u
build=${1:-$(dirname "$0")/../build}
source "$(dirname "$0")/../tests/e2e/lib.sh"
trap moska_cleanup EXIT
moska_netns nbA$$ 10.78.0.1
moska_netns nbB$$ 10.78.0.2
ip netns exec nbB$$ "$build/bench/net_bench" echo &
MOSKA_PIDS+=($!)
sleep 0.5
ip netns exec nbA$$ "$build/bench/net_bench" drive 10.78.0.2
wait
rm -rf /tmp/moska-netbench-*
