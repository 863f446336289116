#!/usr/bin/env bash
# Project files the editor may not read or write: it names the file, ends
# with the documented status, and leaves every file as it was. Root ignores
# file modes, so the editor runs as the unprivileged user "nobody"; read-only
# media are a read-only bind mount, taken before the start or while it runs.
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
moska_app "$root/app"
chown -R nobody:nogroup "$root/app"
log=$root/app/log.txt

# CASE | what is done to project p | file that breaks | status | mode of the failed open
while IFS='|' read -r p how file want mode; do
  d=$root/$p
  cp -r "$MOSKA_DEMO" "$d"; cp -r "$d" "$d.orig"; chown -R nobody:nogroup "$d"
  case $how in
    chmod*) chmod ${how#chmod } "$d/$file" ;;
    ro) mount --bind "$d" "$d" && mounts+=("$d") && mount -o remount,ro,bind "$d" || fail "$p: mount" ;;
    ro-later) mount --bind "$d" "$d" && mounts+=("$d") || fail "$p: mount" ;;
  esac
  : > "$log"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env SDL_VIDEODRIVER=dummy \
    "$root/app/moska2" "$d/PROJECT.MSK" > "$log" 2>&1 &
  MOSKA_PID=$!; MOSKA_PIDS+=("$MOSKA_PID"); MOSKA_LOGS+=("$log")
  if [ "$how" = ro-later ]; then
    # The quit cannot write the project file.
    moska_wait_log "$root/app" "Project loaded succesfully!"
    mount -o remount,ro,bind "$d" || fail "$p: remount read-only"
    kill -TERM "$MOSKA_PID"
  fi
  moska_wait_exit 20
  [ "$MOSKA_STATUS" = "$want" ] || fail "$p ($how): status $MOSKA_STATUS, expected $want"
  grep -qxF "ERROR: can't load ($mode) file: $d/$file!" "$log" || fail "$p ($how): no error line: $(tail -n 5 "$log")"
  diff -r "$d" "$d.orig" > /dev/null || fail "$p ($how): files changed"
done <<'CASES'
p1|chmod 000|PROJECT.MSK|6|r+
p2|chmod 444|PROJECT.MSK|6|r+
p3|chmod 000|maps/map0.map|7|rb
p4|ro|PROJECT.MSK|6|r+
p5|ro-later|PROJECT.MSK|6|w+
CASES
echo "unreadable and read-only files: ok"
