#!/usr/bin/env bash
# Builds the network fuzzer (ASan + UBSan) and runs it briefly on its corpus.
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
out=${MOSKA_BUILD:-$here/build}/fuzz-net
command -v clang++ >/dev/null || { echo "FAIL: clang++ missing" >&2; exit 1; }
bin=$(bash "$here/fuzz/build.sh" net "$out" | tail -n 1)
corpus=$(mktemp -d /tmp/moska-netfuzz-XXXXXX)
trap 'rm -rf "$corpus" /tmp/moska-netfuzz-??????' EXIT
cp "$here"/fuzz/corpus/net/* "$corpus"/
SDL_VIDEODRIVER=dummy "$bin" -max_total_time=${FUZZ_SECONDS:-20} -timeout=10 "$corpus" 2>&1 | tail -n 3
echo "network fuzzer ran clean"
