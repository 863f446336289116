#!/usr/bin/env bash
# Builds a sanitized copy of the editor beside the normal build and runs a
# part of its tests there.
#
#   run.sh build asan|tsan SOURCE_DIR OUT_DIR   configure and build the copy
#   run.sh test  asan|tsan OUT_DIR WHAT         run its tests: WHAT is "unit"
#                                               or "e2e"
# asan: AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer over
# the unit tests and the end-to-end tests of one and two editors.
# tsan: ThreadSanitizer over the network unit tests and the tests where
# several editors talk to each other.
set -u
here=$(cd "$(dirname "$0")" && pwd)
step=$1 mode=$2

unit=*
case $mode in
  asan) flags=address,undefined ;;
  tsan) flags=thread unit=net ;;
  *) echo "FAIL: unknown mode $mode" >&2; exit 1 ;;
esac

if [ "$step" = build ]; then
  src=$3 out=$4
  # -O1 and line tables only: quicker to build, and stacks still name lines.
  cmake -S "$src" -B "$out" -DMOSKA_SANITIZE=$flags -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_CXX_FLAGS="-O1 -g1" -DCMAKE_C_FLAGS="-O1 -g1" -DMOSKA_UNIT_TESTS="$unit" >/dev/null ||
    exit 1
  # Only what the selected tests run: no benchmarks, no fuzzers.
  exec cmake --build "$out" -j2 --target moska2 unit_tests peer_tool map_compare assets
fi

out=$3 what=$4
# A report ends the process with a failure. Library frames (SDL, X11) have no
# frame pointers: the editors' allocations are unwound the slow way, so a
# leak's stack goes through the libraries to our code and the suppressions
# can name library functions. The unit tests allocate far more, and keep the
# quick unwinding: to see a unit test's leak through SDL, run it again with
# ASAN_OPTIONS=fast_unwind_on_malloc=0.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$here/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tsan.supp
cd "$out" || exit 1
# Tests are picked by label (see tests/CMakeLists.txt), so a renamed test
# stays in; a selection that finds nothing is a failure, not a pass. The tsan
# copy builds only the network unit tests, so "unit" there means those.
case $what in
  unit) label=unit jobs=-j2 ;;
  e2e) label=$mode jobs= ;;
  *) echo "FAIL: unknown step $step $what" >&2; exit 1 ;;
esac
[ "$mode/$what" = asan/unit ] && export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
selection=(-L "^$label\$")
[ "$what" = e2e ] && selection+=(-L '^e2e$')
n=$(ctest -N "${selection[@]}" | sed -n 's/^Total Tests: //p')
[ "${n:-0}" -gt 0 ] || { echo "FAIL: no test labelled $label ($what) in $out" >&2; exit 1; }
echo "running $n tests labelled $label ($what) under $mode"
exec ctest --output-on-failure --no-tests=error $jobs "${selection[@]}"
