#!/usr/bin/env bash
# The map file and network fuzzers (ASan + UBSan), FUZZ_SECONDS (20) each on
# a scratch copy of their seeds; a failed build, a crash or a report fails.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d /tmp/moska-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
for target in mapfile net; do
  out=${MOSKA_BUILD:-$here/build}/fuzz-$target
  bin=$(bash "$here/fuzz/build.sh" $target "$out" | tail -n 1) && [ -x "$bin" ] ||
    { echo "FAIL: the $target fuzzer did not build" >&2; exit 1; }
  mkdir "$scratch/$target"
  cp "$here/fuzz/corpus/$target"/* "$scratch/$target"/
  TMPDIR=$scratch SDL_VIDEODRIVER=dummy "$bin" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=10 \
    -rss_limit_mb=2048 "$scratch/$target" > "$out/run.log" 2>&1
  status=$?
  tail -n 3 "$out/run.log"
  [ "$status" = 0 ] || { echo "FAIL: the $target fuzzer exited with status $status" >&2; exit 1; }
  echo "$target fuzzer ran clean"
done
