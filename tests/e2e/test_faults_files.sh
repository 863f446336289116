#!/usr/bin/env bash
# Project files the editor may not read or write: it says which file, ends
# with the documented status, and leaves every file as it was. Root ignores
# file modes, so those cases run the editor as the unprivileged user
# "nobody"; read-only media are a read-only bind mount.
set -u
source "$(dirname "$0")/lib.sh"
root=$(mktemp -d /tmp/moska-e2e-XXXXXX)
chmod 755 "$root"
mounts=()
cleanup() {
  local status=$? m
  ( moska_cleanup ) || status=1
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  exit $status
}
trap cleanup EXIT
demo=$(cd "$(dirname "$0")/../../examples/demo" && pwd)
moska_app "$root/app"
chown -R nobody:nogroup "$root/app"

# A fresh project copy, owned by "nobody", and a copy to compare with.
project() {
  rm -rf "$root/$1"
  cp -r "$demo" "$root/$1"
  cp -r "$root/$1" "$root/$1.orig"
  chown -R nobody:nogroup "$root/$1"
}
# Runs the editor headless on a project as "nobody"; sets MOSKA_STATUS.
run_as_nobody() {
  : > "$root/app/log.txt"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env SDL_VIDEODRIVER=dummy \
    "$root/app/moska2" "$1" > "$root/app/log.txt" 2>&1 &
  MOSKA_PID=$!
  MOSKA_PIDS+=("$MOSKA_PID")
  MOSKA_LOGS+=("$root/app/log.txt")
  moska_wait_exit 20
}
same() { diff -r "$root/$1" "$root/$1.orig" > /dev/null || fail "$2: files changed"; }
line() { grep -qxF -- "$1" "$root/app/log.txt" || fail "$2: no line '$1' in: $(tail -n 5 "$root/app/log.txt")"; }
status() { [ "$MOSKA_STATUS" = "$1" ] || fail "$2: status $MOSKA_STATUS, expected $1"; }

# The project file unreadable: status 6 at load, the file named.
project p1
chmod 000 "$root/p1/PROJECT.MSK"
run_as_nobody "$root/p1/PROJECT.MSK"
status 6 "unreadable project file"
line "ERROR: can't load (r+) file: $root/p1/PROJECT.MSK!" "unreadable project file"
chmod 644 "$root/p1/PROJECT.MSK"
same p1 "unreadable project file"

# The project file read-only: it is opened for update, so the same.
project p2
chmod 444 "$root/p2/PROJECT.MSK"
run_as_nobody "$root/p2/PROJECT.MSK"
status 6 "read-only project file"
line "ERROR: can't load (r+) file: $root/p2/PROJECT.MSK!" "read-only project file"
same p2 "read-only project file"

# The working map unreadable: status 7, the map file named.
project p3
chmod 000 "$root/p3/maps/map0.map"
run_as_nobody "$root/p3/PROJECT.MSK"
status 7 "unreadable map"
line "ERROR: can't load (rb) file: $root/p3/maps/map0.map!" "unreadable map"
chmod 644 "$root/p3/maps/map0.map"
same p3 "unreadable map"

# The whole project on a read-only medium (as root): status 6 at load.
project p4
mount --bind "$root/p4" "$root/p4" && mounts+=("$root/p4") &&
  mount -o remount,ro,bind "$root/p4" || fail "read-only bind mount"
SDL_VIDEODRIVER=dummy moska_start "$root/app" "$root/p4/PROJECT.MSK"
moska_wait_exit 20
status 6 "read-only medium"
line "ERROR: can't load (r+) file: $root/p4/PROJECT.MSK!" "read-only medium"
same p4 "read-only medium"

# The medium turns read-only while the editor runs: the quit cannot write
# the project file, so it ends with status 6 and every file stays as it was.
project p5
mount --bind "$root/p5" "$root/p5" && mounts+=("$root/p5") || fail "bind mount"
SDL_VIDEODRIVER=dummy moska_start "$root/app" "$root/p5/PROJECT.MSK"
moska_wait_log "$root/app" "Project loaded succesfully!"
mount -o remount,ro,bind "$root/p5" || fail "remount read-only"
kill -TERM "$MOSKA_PID"
moska_wait_exit 20
status 6 "medium turned read-only"
line "ERROR: can't load (w+) file: $root/p5/PROJECT.MSK!" "medium turned read-only"
same p5 "medium turned read-only"
echo "unreadable and read-only files: ok"
