#!/usr/bin/env bash
# Builds the network fuzzer (ASan + UBSan) and runs it briefly on its corpus.
# A failed build, a crash or a sanitizer report fails the test.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
out=${MOSKA_BUILD:-$here/build}/fuzz-net
command -v clang++ >/dev/null || { echo "FAIL: clang++ missing" >&2; exit 1; }
bin=$(bash "$here/fuzz/build.sh" net "$out" | tail -n 1)
[ -x "$bin" ] || { echo "FAIL: the network fuzzer did not build" >&2; exit 1; }
scratch=$(mktemp -d /tmp/moska-netfuzz-run-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
corpus=$scratch/corpus
mkdir "$corpus"
cp "$here"/fuzz/corpus/net/* "$corpus"/
status=0
TMPDIR=$scratch SDL_VIDEODRIVER=dummy "$bin" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=10 "$corpus" \
  > "$out/run.log" 2>&1 || status=$?
tail -n 3 "$out/run.log"
[ "$status" -eq 0 ] || { echo "FAIL: network fuzzer exited with status $status" >&2; exit 1; }
echo "network fuzzer ran clean"
