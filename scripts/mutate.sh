#!/usr/bin/env bash
# Mutation run, by hand (not in CI): applies each deliberate fault of
# scripts/mutations.txt to a scratch copy of the tree (never this one),
# rebuilds what the quick tier needs, runs `ctest -L quick`, and prints
# caught / missed per fault and a score.
#   bash scripts/mutate.sh [NAME_REGEX [REVISION]]
# REVISION (a commit) is the tree to mutate (with this tree's test labels),
# by default the working tree's tracked files; MUTATE_KEEP=1 keeps the copy; MUTATE_DRY=1 only checks that
# each fault applies.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/scripts/mutations.txt
only=${1:-.} rev=${2:-}
jobs=${MUTATE_JOBS:-2}
scratch=$(mktemp -d /tmp/moska-mutate-XXXXXX)
[ "${MUTATE_KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
tree=$scratch/tree build=$scratch/build
mkdir -p "$tree"
if [ -n "$rev" ]; then
  git -C "$root" archive "$rev" | tar -x -C "$tree" || { echo "FAIL: no revision $rev"; exit 1; }
  # The tier's labels as this tree gives them, so both trees run the same tier.
  cp "$root/tests/CMakeLists.txt" "$tree/tests/CMakeLists.txt"
else
  (cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$tree")
fi
targets=(moska2 unit_tests assets)

build() { cmake --build "$build" -j"$jobs" --target "${targets[@]}" > "$scratch/build.log" 2>&1; }
quick() {
  (cd "$build" && ctest -L quick -j"$jobs" --timeout 120 --stop-on-failure --no-tests=error \
    > "$scratch/test.log" 2>&1)
}
# Replaces the one occurrence of the fault's text; fails when it is not
# there exactly once (the code moved on: the fault needs updating).
apply() {
  python3 - "$tree/$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2], sys.argv[3]
old, new = (t.replace("<NL>", "\n") for t in (old, new))
text = open(path).read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w").write(text.replace(old, new))
PY
}

echo "scratch copy: $tree"
dry=${MUTATE_DRY:-0}
[ "$dry" = 1 ] || cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log"; echo "FAIL: configure"; exit 1; }
[ "$dry" = 1 ] || build || { tail -n 30 "$scratch/build.log"; echo "FAIL: the unmutated tree does not build"; exit 1; }
[ "$dry" = 1 ] || quick || { tail -n 30 "$scratch/test.log"; echo "FAIL: the quick tier fails without a fault"; exit 1; }

caught=0 missed=0 skipped=0
missed_names=()
while IFS= read -r line; do
  case $line in '#'* | '') continue ;; esac
  # Fields split at " | "; "\|" inside a field is a literal "|".
  mapfile -t f < <(printf '%s\n' "$line" | sed 's/\\|/\x01/g; s/ *| */\n/g' | tr '\001' '|')
  name=$(echo "${f[0]}" | tr -d ' ') file=$(echo "${f[1]}" | tr -d ' ')
  [[ $name =~ $only ]] || continue
  cp "$tree/$file" "$scratch/original"
  if ! apply "$file" "${f[2]}" "${f[3]}"; then
    printf '%-24s %-28s NOT APPLIED (text not found once)\n' "$name" "$file"
    skipped=$((skipped + 1))
    continue
  fi
  start=$SECONDS
  if [ "$dry" = 1 ]; then
    verdict="applies"
  elif ! build; then
    verdict="did not build (not counted)"; skipped=$((skipped + 1))
  elif quick; then
    verdict="MISSED"; missed=$((missed + 1)); missed_names+=("$name")
  else
    failed=$(grep -m1 -oE '(Failed|Timeout|Exception|SEGFAULT)[^\n]*' "$scratch/test.log" | head -n 1)
    first=$(grep -m1 -E '\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception| Failed ' "$scratch/test.log" |
      sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/')
    verdict="caught by ${first:-$failed}"; caught=$((caught + 1))
  fi
  printf '%-24s %-28s %s (%ds)\n' "$name" "$file" "$verdict" $((SECONDS - start))
  # The next build sees the file restored (newer than its object: rebuilt).
  cp "$scratch/original" "$tree/$file"
  touch "$tree/$file"
done < "$list"
total=$((caught + missed))
echo
echo "score: $caught of $total faults caught ($missed missed, $skipped not counted)"
((missed == 0)) || echo "missed: ${missed_names[*]}"
