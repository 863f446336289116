#!/usr/bin/env bash
# Maps in a real git repository, set up with the lines moska2 --git-setup
# prints: two branches paint the same map (different cells, and one cell
# differently); git merge through the driver keeps both sides' cells, ours in
# the conflicting one, and reports that one conflict; a later merge without
# conflicts goes through on its own. git diff and git log -p name the changed
# cells; --diff's picture highlights exactly the changed cells.
set -u
source "$(dirname "$0")/lib.sh"
root=$(mktemp -d /tmp/moska-git-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$root"' EXIT
app=$MOSKA_APP/moska2
repo=$root/repo
export GIT_CONFIG_NOSYSTEM=1 HOME=$root
unset DISPLAY SDL_VIDEODRIVER

# paint FILE [LAYER X Y VALUE]...: cells written in place; cells FILE
# [LAYER X Y]... prints them on one line (both through the independent
# reader's layout).
cat > "$root/cells.py" <<PY
$MOSKA_MAP_PY
def offset(path, layer, x, y):
    m = read_map(path)
    b = open(path, "rb").read()
    p = 1
    for _ in range(2):
        p += 2 + struct.unpack_from("<H", b, p)[0]
    p += 18
    for stored in range(len(m["layers"])):
        p += 2 + struct.unpack_from("<H", b, p)[0]
        if len(m["layers"]) - 1 - stored == layer:
            return p + 4 * (y * m["w"] + x)
        p += 4 * m["w"] * m["h"] + 5
cmd, path, args = sys.argv[1], sys.argv[2], list(map(int, sys.argv[3:]))
step = 4 if cmd == "paint" else 3
at = [offset(path, *args[i:i + 3]) for i in range(0, len(args), step)]
if cmd == "paint":
    with open(path, "r+b") as f:
        for i, a in enumerate(at):
            f.seek(a); f.write(struct.pack("<i", args[i * 4 + 3]))
else:
    b = open(path, "rb").read()
    print(" ".join(str(struct.unpack_from("<i", b, a)[0]) for a in at))
PY
paint() { python3 "$root/cells.py" paint "$@" || fail "painting $*"; }
cells() { python3 "$root/cells.py" cells "$@"; }

mkdir -p "$repo" && cd "$repo" || fail "no repository folder"
git init -q -b main . && git config user.email t@example.org && git config user.name Tester
cp -r "$MOSKA_DEMO"/. .
"$app" --git-setup > "$root/setup.txt" || fail "--git-setup"
[ "$(grep -c '^git config' "$root/setup.txt")" = 2 ] || fail "--git-setup: not two git config lines: $(cat "$root/setup.txt")"
bash -e <(grep '^git config' "$root/setup.txt") || fail "running the git config lines"
grep -v -e '^#' -e '^git ' "$root/setup.txt" > .gitattributes
map=maps/map0.map
git add -A && git commit -qm base || fail "base commit"
base=$root/base.map && cp $map "$base"
read -r b011 b153 b0107 b022 < <(cells "$base" 0 1 1 1 5 3 0 10 7 0 2 2)

# Branch "other": two cells and the disputed one; main: another cell and the
# disputed one painted differently.
git checkout -qb other
paint $map 0 1 1 11 1 5 3 22 0 2 2 40
git commit -qam "other paints" || fail "commit on other"
git checkout -q main
paint $map 0 10 7 33 0 2 2 50
git commit -qam "main paints" || fail "commit on main"

# git diff and git log -p through the diff driver, in words.
git diff main other -- $map > "$root/diff.txt" || fail "git diff"
for want in "diff --moska2 a/$map b/$map" "layer 0 row 1: x 1: $b011 -> 11" \
    "layer 1 row 3: x 5: $b153 -> 22" "layer 0 row 2: x 2: 50 -> 40" "layer 0 row 7: x 10: 33 -> $b0107"; do
  grep -qxF "$want" "$root/diff.txt" || fail "git diff lacks '$want': $(cat "$root/diff.txt")"
done
[ "$(grep -c ' row ' "$root/diff.txt")" = 4 ] || fail "git diff names other cells: $(cat "$root/diff.txt")"
git log -p --ext-diff -1 other | grep -qxF "layer 1 row 3: x 5: $b153 -> 22" ||
  fail "git log -p does not name the changed cell"

# The merge: one conflict, reported; every other change of both sides kept.
git merge other > "$root/merge.txt" 2>&1 && fail "git merge: no conflict reported"
conflict="$map layer 0 x 2 y 2: base $b022, ours 50, theirs 40"
grep -qF "CONFLICT $conflict" "$root/merge.txt" || fail "merge output lacks the conflict: $(cat "$root/merge.txt")"
grep -qF "1 conflict (1 cell)" "$root/merge.txt" || fail "merge output lacks the count: $(cat "$root/merge.txt")"
[ "$(grep -vc '^#' $map.conflicts.txt)" = 1 ] && grep -qxF "$conflict" $map.conflicts.txt ||
  fail "report: $(cat $map.conflicts.txt)"
got=$(cells $map 0 1 1 1 5 3 0 10 7 0 2 2)
[ "$got" = "11 22 33 50" ] || fail "merged cells hold $got"
# Nothing else changed: the merge against each side differs only in those cells.
"$app" --diff "$base" $map > "$root/merged.txt"
[ "$(grep -c ' row ' "$root/merged.txt")" = 4 ] || fail "merged map changed more: $(cat "$root/merged.txt")"
git add $map && git commit -qm "merged" || fail "committing the merge"

# A branch painting elsewhere merges without a conflict.
git checkout -qb third HEAD~1 && paint $map 1 0 0 7 && git commit -qam third
git checkout -q main
git merge -q -m "third in" third > "$root/merge2.txt" 2>&1 || fail "clean merge refused: $(cat "$root/merge2.txt")"
[ "$(cells $map 1 0 0 0 2 2)" = "7 50" ] || fail "clean merge lost a cell"

# The picture: the export of the new map, and the changed cells half magenta.
"$app" --diff "$base" $map "$root/diff.png" > /dev/null; [ $? = 1 ] || fail "--diff with a picture"
"$app" --export . map0 "$root/plain.png" > /dev/null || fail "export"
python3 - "$root/plain.png" "$root/diff.png" <<'PY' || fail "the picture's highlight is not on exactly the changed cells"
import struct, sys, zlib
def pixels(path):
    b = open(path, "rb").read()
    w, h = struct.unpack(">II", b[16:24])
    p, data = 8, b""
    while p < len(b):
        n, = struct.unpack(">I", b[p:p + 4])
        if b[p + 4:p + 8] == b"IDAT": data += b[p + 8:p + 8 + n]
        p += 12 + n
    raw = zlib.decompress(data)
    return w, [raw[y * (3 * w + 1) + 1:(y + 1) * (3 * w + 1)] for y in range(h)]
w, plain = pixels(sys.argv[1])
_, marked = pixels(sys.argv[2])
changed = {(x, y // 16) for y in range(len(plain)) for x in range(w // 16)
           if plain[y][48 * x:48 * x + 48] != marked[y][48 * x:48 * x + 48]}
assert changed == {(1, 1), (5, 3), (10, 7), (2, 2), (0, 0)}, sorted(changed)
PY
echo "git: ok"
