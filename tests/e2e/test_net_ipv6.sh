#!/usr/bin/env bash
# Two editors over IPv6 only: namespaces with no IPv4 address, bob headless
# on port 40000 admitting only alice's IPv6 address (allow), alice typing
# "[fd79::2]:40000" into the join field. Bob connects back to the address
# alice came from; his differing map0 reaches her, her stroke reaches him,
# and both save the same map0.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
a=$root/alice b=$root/bob na=n61$$ nb=n62$$
moska_netns $na fd79::1
moska_netns $nb fd79::2
for d in "$a" "$b"; do
  moska_demo "$d" username="$(basename "$d")" net=1
  echo "port 40000" >> "$d/settings.ini"
done
echo "allow fd79::1" >> "$b/settings.ini"
cp "$b/demo/maps/map1.map" "$b/demo/maps/map0.map"  # bob's map0 differs: it travels
moska_xvfb_start
moska_open $nb "$b"
moska_has "$b" "^allow: fd79::1$" || fail "the IPv6 allow list was not read"
moska_window $na "$a"
moska_join "$a" "[fd79::2]:40000"
moska_wait_log "$b" "^Tentative de servir une connexion a \[X::1\]:[0-9]+\.\.\.$"
moska_wait_log "$b" "^Reciprocite: \[fd79::1\]:40000$"
moska_wait_log "$a" "^Synchro: map map0 recue de bob"
moska_pick21; moska_click 362 56   # (2, 3), with a tile of bob's map0's tileset
moska_wait_log "$a" "^setElementAbsolute\(0,0,2,3,[0-9]+\);$"
tile=$(grep -oE "^setElementAbsolute\(0,0,2,3,[0-9]+\);$" "$a/log.txt" | tail -n 1 | grep -oE "[0-9]+\);" | tr -d ');')
moska_wait_log "$b" "^Action reseau: PARTTHIS!,map0 0 2 3 $tile!$"
moska_quit "$a" key
moska_quit "$b"
cmp "$a/demo/maps/map0.map" "$b/demo/maps/map0.map" || fail "map0 differs"
moska_py "$b/demo/maps/map0.map" "$tile" <<'PY' || fail "the stroke is not in map0"
m = read_map(sys.argv[1])
assert m["layers"][-1][1][3 * m["w"] + 2] == int(sys.argv[2])
PY
