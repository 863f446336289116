#!/usr/bin/env bash
# A sanitized copy of the editor beside the normal build, and its tests.
#   run.sh build asan|tsan SOURCE_DIR OUT_DIR   configure and build the copy
#   run.sh test  asan|tsan OUT_DIR unit|e2e     run its tests
# asan: Address, Leak and UndefinedBehavior sanitizers over the unit tests
# and the end-to-end tests labelled asan; tsan: ThreadSanitizer over the
# network unit tests and the end-to-end tests labelled tsan.
set -u
here=$(cd "$(dirname "$0")" && pwd)
step=$1 mode=$2 unit=*
case $mode in
  asan) flags=address,undefined ;;
  tsan) flags=thread unit=net ;;
  *) echo "FAIL: unknown mode $mode" >&2; exit 1 ;;
esac
if [ "$step" = build ]; then
  # -O1 and line tables only: quicker to build, and stacks still name lines;
  # only what the selected tests run: no benchmarks, no fuzzers.
  cmake -S "$3" -B "$4" -DMOSKA_SANITIZE=$flags -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O1 -g1" \
    -DCMAKE_C_FLAGS="-O1 -g1" -DMOSKA_UNIT_TESTS="$unit" >/dev/null || exit 1
  exec cmake --build "$4" -j2 --target moska2 unit_tests peer_tool assets
fi
# A report fails the process. SDL and X11 frames lack frame pointers: the
# editors' allocations are unwound the slow way, so leak stacks reach our code
# and suppressions can name library functions; the unit tests allocate far
# more and keep the quick way (ASAN_OPTIONS=fast_unwind_on_malloc=0 for one).
unwind=:fast_unwind_on_malloc=0
[ "$mode/$4" = asan/unit ] && unwind=
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1$unwind
export LSAN_OPTIONS=suppressions=$here/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tsan.supp
cd "$3" || exit 1
# Tests are picked by label, so a renamed test stays in; a selection that
# finds nothing is a failure, not a pass.
case $4 in
  unit) selection=(-L '^unit$') jobs=-j2 ;;
  e2e) selection=(-L "^$mode\$" -L '^e2e$') jobs= ;;
  *) echo "FAIL: unknown step $step $4" >&2; exit 1 ;;
esac
exec ctest --output-on-failure --no-tests=error $jobs "${selection[@]}"
