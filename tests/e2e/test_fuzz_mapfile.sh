#!/bin/bash
# Fuzzes the map file parser for a short while on the seed corpus, under
# AddressSanitizer and UndefinedBehaviorSanitizer. Longer runs by hand:
#   fuzz/build.sh mapfile build-fuzz && build-fuzz/mapfile_fuzz -max_total_time=600 fuzz/corpus/mapfile
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="${MOSKA_BUILD:-$root/build}/fuzz"
seconds="${FUZZ_SECONDS:-20}"
bin="$(bash "$root/fuzz/build.sh" mapfile "$out" | tail -n 1)"
# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
rm -rf "$out/corpus-run"
mkdir -p "$out/corpus-run"
cd "$out"
set +e
"$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
  "$out/corpus-run" "$root/fuzz/corpus/mapfile" 2>&1 | tail -n 20
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
  echo "map file fuzzer failed with status $status" >&2
  exit 1
fi
echo "map file fuzzer ran ${seconds}s clean"
