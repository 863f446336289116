#!/usr/bin/env bash
# A session between sites over WireGuard, with the userspace wireguard-go (no
# kernel module): two namespaces whose only link is a veth that lets nothing
# but UDP through (the tunnel's), each editor known to the other by its
# tunnel address, both listening on port 40000 (settings). Alice joins
# bob's "10.87.0.2:40000", takes his different map0, and both paint; both
# end with the same map0, and the tunnel carried it.
set -u
source "$(dirname "$0")/lib.sh"
[ -c /dev/net/tun ] || { echo "SKIP: /dev/net/tun is missing, so wireguard-go cannot make a tunnel"; exit 0; }
command -v wireguard-go > /dev/null && command -v wg > /dev/null ||
  fail "wireguard-go or wg missing (bash scripts/deps.sh installs them)"
WG_PIDS=()
wg_cleanup() {
  local status=$? p
  for p in "${WG_PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  (exit $status)
  moska_cleanup
}
moska_root wg_cleanup
a=$root/alice b=$root/bob
ip link add wva$$ type veth peer name wvb$$
for s in a b; do
  ns=wg$s$$ dev=wv$s$$ wgi=wg$s$$ n=$([ $s = a ] && echo 1 || echo 2)
  ip netns add $ns && MOSKA_NS+=($ns)
  ip link set $dev netns $ns
  ip -n $ns addr add 192.168.87.$n/30 dev $dev
  ip -n $ns link set $dev up && ip -n $ns link set lo up
  # The underlay carries the tunnel's UDP and nothing else.
  printf 'table inet underlay {\n chain out {\n  type filter hook output priority 0;\n  oifname "%s" meta l4proto != udp drop\n }\n}\n' \
    $dev | ip netns exec $ns nft -f - || fail "nft"
  ip netns exec $ns wireguard-go -f $wgi > "$root/wg$s.log" 2>&1 &
  WG_PIDS+=($!)
  (umask 077; wg genkey > "$root/$s.key")
  wg pubkey < "$root/$s.key" > "$root/$s.pub"
done
for s in a b; do
  ns=wg$s$$ o=$([ $s = a ] && echo b || echo a) n=$([ $s = a ] && echo 1 || echo 2) m=$([ $s = a ] && echo 2 || echo 1)
  for ((i = 0; i < 50; i++)); do ip -n $ns link show wg$s$$ > /dev/null 2>&1 && break; sleep 0.1; done
  ip netns exec $ns wg set wg$s$$ private-key "$root/$s.key" listen-port 51820 \
    peer "$(cat "$root/$o.pub")" endpoint 192.168.87.$m:51820 allowed-ips 10.87.0.$m/32 || fail "wg set"
  ip -n $ns addr add 10.87.0.$n/24 dev wg$s$$ && ip -n $ns link set wg$s$$ up || fail "no tunnel in $ns"
done

for d in "$a" "$b"; do
  moska_demo "$d" username="$(basename "$d")" net=1
  echo "port 40000" >> "$d/settings.ini"
done
cp "$b/demo/maps/map1.map" "$b/demo/maps/map0.map"  # bob's map0 differs: it travels
moska_window -d wgb$$ "$b"
moska_window -d wga$$ "$a"
moska_has "$b" "^port: 40000$" || fail "the port setting was not read"
moska_on "$a" moska_join "$a" 10.87.0.2:40000
moska_wait_log "$a" "^Synchro: map map0 recue de bob" 20
hit="mousedown 1 sleep 0.15 mouseup 1"
for d in "$a" "$b"; do
  y=$([ "$d" = "$a" ] && echo 24 || echo 26)
  moska_on "$d" xdotool mousemove 150 10 $hit sleep 0.3 mousemove 57 94 $hit sleep 0.3 \
    mousemove 330 $((16 * y + 8)) mousedown 1 mousemove 380 $((16 * y + 8)) sleep 0.1 mouseup 1
done
moska_wait_log "$b" "^Action reseau: (PARTTHIS!|DRAWSQUARE),map0 [0-9]+ [0-9]+ 24 " 20
moska_wait_log "$a" "^Action reseau: (PARTTHIS!|DRAWSQUARE),map0 [0-9]+ [0-9]+ 26 " 20
received=$(ip netns exec wga$$ wg show wga$$ transfer | awk '{ print $2 }')
[ "${received:-0}" -gt 4000 ] || fail "the tunnel carried ${received:-0} bytes"
for d in "$a" "$b"; do moska_quit "$d" key; done
moska_py "$a" "$b" <<'EOF' || fail "map0 differs"
m = [read_map(d + "/demo/maps/map0.map") for d in sys.argv[1:]]
assert (m[0]["w"], m[0]["h"], m[0]["layers"]) == (m[1]["w"], m[1]["h"], m[1]["layers"])
EOF
echo "wireguard: ok ($received bytes received through alice's tunnel)"
