#!/usr/bin/env bash
# Who may join. A session key: a base-protocol peer is cut off and its edit
# never lands, and it gets neither a reverse connection nor a user name; a
# relay between two keyed editors and a nonce flushed out then offered back
# are refused; same keys join and replicate with nothing of the map in clear
# on the wire, different keys refuse each other. `allow ask`: Accept and
# Refuse clicked, no prompt for whom we joined. An allow list: other
# addresses are closed before the handshake. Roles: an editor whose key is
# another's view key joins it as a viewer and its clicks change no copy; a
# peer that proves the view key, or is accepted as a viewer, and sends edits
# anyway changes nothing and stays; a peer left out is refused when it comes
# back (and says why when it is an editor), or asked about again with `allow ask`.
set -u
source "$(dirname "$0")/lib.sh"
moska_root
na=nk1$$ nb=nk2$$ nc=nk3$$ nm=nk4$$ nn=nk5$$ ne=nk6$$
for n in 1 2 3 4 5 6; do moska_netns nk$n$$ 10.79.0.$n; done
a=$root/alice b=$root/bob c=$root/carol
editor() {  # DIR NAME EXTRA-SETTINGS-LINES
  moska_demo "$1" username="$2" net=1 ipserver=10.79.0.2
  printf '%b' "$3" >> "$1/settings.ini"
}
peer() { local ns=$1; shift; ip netns exec "$ns" "$MOSKA_TOOL" "$@"; }

editor "$a" alice 'KEY s3cret words\n'
editor "$b" bob 'key s3cret words\n'
editor "$c" carol 'key other words\n'
moska_open $nb "$b"
moska_open $nc "$c"
moska_has "$b" "^key: 12 caracteres$" && ! moska_has "$b" s3cret || fail "key echo"

# A base-protocol peer is cut at its first edit; one that says nothing is cut
# when its 5 s are up. Neither gets a reverse connection or carol's name, no
# edit lands.
peer $nm 10.79.0.3 mallory 0.24a nowait join act PARTTHIS! "map0 0 3 2 5" sleep 2000 > "$root/m1.txt" 2>&1 || fail "mallory: $(cat "$root/m1.txt")"
moska_wait_log "$c" "^Cle de session: mallory refuse sur le tunnel 0: editeur du protocole de base, sans cle de session!$"
grep -q "^editor (cle de session) version 0.24a$" "$root/m1.txt" || fail "carol's name block: $(cat "$root/m1.txt")"
peer $nm 10.79.0.3 mallory 0.24a nowait join sleep 7000 > "$root/m2.txt" 2>&1 &
moska_wait_log "$c" "^Cle de session: mallory refuse sur le tunnel [0-9]+: aucune preuve de cle en 5 s!$" 15
# 300 proofs left unfinished, then the first one's nonce offered back with
# carol's own proof, then the nonce of a proof under way: all refused.
peer $nm 10.79.0.3 mallory 0.24a flush 300 > "$root/m5.txt" 2>&1 || fail "nonce flush: $(cat "$root/m5.txt")"
grep -q "^flush: 300 of 300 proofs started$" "$root/m5.txt" || fail "flush: $(cat "$root/m5.txt")"
moska_has "$c" "refuse sur le tunnel [0-9]+: nonce de cet editeur renvoye!$" || fail "live nonce"
moska_has "$c" "setElementAbsolute|Action reseau: PARTTHIS|Reciprocite|admis par la cle" && fail "carol let a peer without the key in"
grep -q "sent its name" "$root/m5.txt" && fail "carol sent her name before any proof"

# Alice joins bob (same key) from Join: both admit by key, and her paint
# replicates; a capture of their traffic holds neither a name nor an edit.
ip netns exec $nb tcpdump -i eth0 -U -w "$root/cap.pcap" tcp port 34567 2> "$root/tcpdump.txt" &
tcpd=$!
for t in $(seq 50); do grep -q "listening on" "$root/tcpdump.txt" && break; sleep 0.1; done
moska_xvfb_start
moska_window $na "$a"
moska_click 186 112
moska_wait_log "$b" "^Client alice admis par la cle de session sur le tunnel 0\.$"
moska_wait_log "$a" "^Client bob admis par la cle de session sur le tunnel 0\.$"
moska_pick21
moska_click 362 56
moska_wait_log "$b" "^Action reseau: PARTTHIS!,map0 0 2 3 21!$"
kill -INT $tcpd; wait $tcpd
grep -qa "AUTHPROOF" "$root/cap.pcap" || fail "nothing captured"
grep -qaE "map0|PARTTHIS|alice|bob|tiles" "$root/cap.pcap" && fail "map data or names in clear: $(strings "$root/cap.pcap" | grep -E "map0|PARTTHIS|alice|bob|tiles" | head -3)"
# Mallory relays between them: each one's nonce and proof handed to the
# other. Both refuse her, her edit lands nowhere and nobody connects back.
peer $nm 10.79.0.1 mallory 0.24a relay 10.79.0.2 > "$root/m6.txt" 2>&1 || fail "relay: $(cat "$root/m6.txt")"
grep -q "sent its name" "$root/m6.txt" && fail "a name before any proof: $(cat "$root/m6.txt")"
for d in "$a" "$b"; do
  moska_wait_log "$d" "^Cle de session: 10\.79\.0\.4 refuse sur le tunnel [0-9]+: cle de session differente!$"
  moska_has "$d" "PARTTHIS!,map0 0 7 7 7|Reciprocite: 10\.79\.0\.4" && fail "$d let the relay in"
done
# Alice joins carol (another key): each refuses the other and says why.
moska_join "$a" 10.79.0.3
moska_wait_log "$a" "^Cle de session: 10\.79\.0\.3 refuse sur le tunnel 1: cle de session differente!$"
moska_wait_log "$c" "^Cle de session: 10\.79\.0\.1 refuse sur le tunnel [0-9]+: cle de session differente!$"
moska_has "$c" "Action reseau: PARTTHIS" && fail "carol applied alice's edit"
for d in "$a" "$b" "$c"; do moska_quit "$d"; done
cmp -s "$MOSKA_DEMO/maps/map0.map" "$c/demo/maps/map0.map" || fail "carol's map changed"

# Alice's key is bob's view key: she joins him as a viewer, both know it, and
# her paint and her undo are refused on her side; no copy changes.
editor "$a" alice 'key other words\n'
editor "$b" bob 'key s3cret words\nviewkey other words\n'
da=$DISPLAY
moska_window -d $nb "$b"  # on a display of its own
DISPLAY=$da
moska_has "$b" "^viewkey: 11 caracteres$" && ! moska_has "$b" "other words" || fail "viewkey echo"
moska_window $na "$a"
moska_click 186 112
moska_wait_log "$b" "^Client alice admis par la cle de session sur le tunnel 0, en lecture seule\.$"
moska_wait_log "$a" "^Admis en lecture seule par bob sur le tunnel 0\.$"
moska_wait_log "$a" "^Synchro avec bob"
moska_pick21
moska_click 362 56
moska_ctrl z
moska_wait_count "$a" "^Modification refusee: lecture seule\.$" 2
moska_has "$b" "Action reseau: (PARTTHIS|DRAWSQUARE|CELLS)" && fail "the viewer's paint reached bob"
# A hostile viewer: mallory proves bob's view key (the editors' own proof and
# channel), is told so, then sends an edit of every kind: each is dropped and
# she stays. With bob's key (alice gone) she is an editor and her cell lands;
# with neither key she is cut.
d=$MOSKA_DEMO
peer $nm 10.79.0.2 mallory 0.24a key "other words" join collect VIEWONLY act PARTTHIS! "map0 0 7 7 9" \
  act DRAWSQUARE "map0 0 1 1 4 4 9" act CELLS "map0 0 0 0 1 1 AQAAAA==" act NEWMAP "evil 4 4" \
  act SENDMAPSYSNAME "map0 pwned" act DELETELAYER "0 0" act LAYERDEL "map0 0" act LAYERMOVE "map0 0 1" \
  act LAYERNAME "map0 0 pwned" act MAPRESIZE "map0 8 8" act SETLAYERBGXY "map0 0 1 3 3" \
  act ENTPLACE 'map0 1 1 {"id":"1","model":"m","x":1,"y":1}' sendpc default "$d/layerspc/dungeon.pss" \
  addlayer map0 dungeon "$d/layers/dungeon.png" "$d/layerspc/dungeon.pss" act ENTMODELDEL m sleep 300 bye \
  > "$root/v1.txt" 2>&1 || fail "hostile viewer: $(cat "$root/v1.txt")"
grep -q "^Admis en lecture seule par bob sur le tunnel 0\.$" "$root/v1.txt" || fail "mallory not told: $(cat "$root/v1.txt")"
moska_has "$b" "^Client mallory admis par la cle de session sur le tunnel [0-9]+, en lecture seule\.$" || fail "view key"
moska_wait_log "$b" "^Action ENTMODELDEL ignoree: envoyee par un lecteur"
for w in PARTTHIS! DRAWSQUARE CELLS NEWMAP SENDMAPSYSNAME DELETELAYER LAYERDEL LAYERMOVE LAYERNAME MAPRESIZE \
  SETLAYERBGXY ENTPLACE SENDPC ADDLAYER; do
  moska_has "$b" "^Action $w ignoree: envoyee par un lecteur \(lecture seule\)\.$" || fail "mallory's $w not dropped"
done
grep -q "^reply LEFTME$" "$root/v1.txt" || fail "tileset offer: $(cat "$root/v1.txt")"
moska_has "$b" "abandonne|Connexion perdue avec mallory|coupee" && fail "mallory the viewer was cut"
# Left out without `allow ask`: mallory is told, then refused at once when
# she comes back.
peer $nm 10.79.0.1 mallory 0.24a key "other words" join collect LEFTOUT > "$root/l1.txt" 2>&1 &
tl=$!
moska_wait_log "$a" "^Client mallory admis par la cle de session sur le tunnel 1\.$"
moska_menu main
moska_click 309 193
moska_wait_log "$a" "^mallory \(tunnel 1\) laisse de cote pour cette session\.$"
wait $tl || fail "mallory not told she was left out: $(cat "$root/l1.txt")"
peer $nm 10.79.0.1 mallory 0.24a key "other words" join > "$root/l2.txt" 2>&1 && fail "mallory came back"
moska_wait_log "$a" "^Connexion de 10\.79\.0\.4 refusee: pair laisse de cote pour cette session!$"
# Bob leaves alice out: both say so, and her join again is refused and says why.
moska_on "$b" moska_click 309 175
moska_wait_log "$b" "^alice \(tunnel 0\) laisse de cote pour cette session\.$"
moska_wait_log "$a" "^bob nous laisse de cote \(tunnel 0\): connexion fermee\.$"
moska_join "$a" 10.79.0.2
moska_wait_log "$b" "^Connexion de 10\.79\.0\.1 refusee: pair laisse de cote pour cette session!$"
moska_wait_log "$a" "^10\.79\.0\.2 nous a laisse de cote pour sa session: connexion refusee\.$"
moska_quit "$a"
peer $nm 10.79.0.2 mallory 0.24a key "s3cret words" join act PARTTHIS! "map0 0 9 9 21" sleep 300 bye \
  > "$root/v2.txt" 2>&1 || fail "mallory with the key: $(cat "$root/v2.txt")"
moska_wait_log "$b" "^setElementAbsolute\(0,0,9,9,21\);$"
moska_has "$b" "^Client mallory admis par la cle de session sur le tunnel [0-9]+\.$" || fail "key"
peer $nm 10.79.0.2 mallory 0.24a key "guessed words" join act PARTTHIS! "map0 0 9 9 22" > "$root/v3.txt" 2>&1 &&
  fail "a guessed key was admitted: $(cat "$root/v3.txt")"
moska_wait_log "$b" "^Cle de session: 10\.79\.0\.4 refuse sur le tunnel [0-9]+: cle de session differente!$"
moska_quit "$b"
# No copy changed but for mallory's one cell on bob's: not a file more, not a
# byte elsewhere.
moska_py "$MOSKA_DEMO" "$a/demo" "$b/demo" <<'EOF' || fail "a viewer changed a copy"
import os
def files(d):
    return sorted(os.path.relpath(os.path.join(r, f), d) for r, _, fs in os.walk(d) for f in fs
                  if not os.path.relpath(r, d).startswith("."))
demo, *copies = sys.argv[1:]
for c in copies:
    assert files(c) == files(demo), (c, files(c))
    for f in files(demo):
        if f != "maps/map0.map" or c != copies[1]:
            assert open(c + "/" + f, "rb").read() == open(demo + "/" + f, "rb").read(), (c, f)
want, got = read_map(demo + "/maps/map0.map"), read_map(copies[1] + "/maps/map0.map")
changed = [(k, v) for g, w in zip(got["layers"], want["layers"]) for k, (v, u) in enumerate(zip(g[1], w[1])) if v != u]
assert changed == [(9 * want["w"] + 9, 21)], changed
for g in got["layers"] + want["layers"]:
    g[1] = None
assert got == want
EOF

# Alice with `allow ask`, bob without key allowing alice's address only: her
# join to bob needs no prompt; mallory is closed by bob before the handshake.
editor "$a" alice 'allow ask\n'
editor "$b" bob 'allow 10.79.0.1\n'
moska_open $nb "$b"
moska_window $na "$a"
moska_click 186 112
moska_wait_log "$a" "^Connecte avec bob sur le tunnel 0 pour le serveur!$"
moska_wait_log "$b" "^client ok$"
moska_has "$a" "wants to join" && fail "alice was asked about bob, whom she joined"
peer $nm 10.79.0.2 mallory 0.24a join act PARTTHIS! "map0 0 3 2 5" > "$root/m4.txt" 2>&1 &&
  fail "mallory joined bob: $(cat "$root/m4.txt")"
moska_wait_log "$b" "^Connexion de 10\.79\.0\.4 refusee: adresse absente de la liste allow!$"
moska_has "$b" "mallory|setElementAbsolute" && fail "bob served mallory"
# Mallory is accepted with a click: her reverse connection opens, her edit lands.
peer $nm 10.79.0.1 mallory 0.24a join act PARTTHIS! "map0 0 5 5 9" sleep 500 bye > "$root/m3.txt" 2>&1 &
tm=$!
moska_wait_log "$a" "^mallory at 10\.79\.0\.4 wants to join: "
sleep 0.5
moska_click 66 158
wait $tm || fail "accepted mallory: $(cat "$root/m3.txt")"
moska_wait_log "$a" "^setElementAbsolute\(0,0,5,5,9\);$"
moska_has "$a" "^Connexion de mallory \(10.79.0.4\) acceptee\.$" || fail "accept log"
# Nick is refused with a click: no reverse connection, his edit never lands.
peer $nn 10.79.0.1 nick 0.24a nowait join act PARTTHIS! "map0 0 6 6 9" sleep 3000 > "$root/n.txt" 2>&1 &
moska_wait_log "$a" "^nick at 10\.79\.0\.5 wants to join: "
sleep 0.5
moska_click 216 158
moska_wait_log "$a" "^Connexion de nick \(10\.79\.0\.5\) refusee par l'utilisateur!$"
sleep 1
moska_has "$a" "Reciprocite: 10\.79\.0\.5|setElementAbsolute\(0,0,6,6,9\)" && fail "refused nick got in"
# Eve is accepted as a viewer, then sends edits anyway: each is dropped with
# a log line and she stays connected. Left out with the "x" of her line
# (bob's is the first), she is asked about again when she comes back.
peer $ne 10.79.0.1 eve 0.24a join act PARTTHIS! "map0 0 7 7 9" act DRAWSQUARE "map0 0 1 1 4 4 9" \
  act NEWMAP "evil 4 4" act SENDMAPSYSNAME "map0 pwned" sleep 5000 > "$root/e.txt" 2>&1 &
te=$!
moska_wait_log "$a" "^eve at 10\.79\.0\.6 wants to join: "
sleep 0.5
moska_click 140 188
moska_wait_log "$a" "^Connexion de eve \(10\.79\.0\.6\) acceptee en lecture seule\.$"
moska_wait_log "$a" "^Action SENDMAPSYSNAME ignoree: envoyee par un lecteur \(lecture seule\)\.$"
for w in PARTTHIS! DRAWSQUARE NEWMAP; do
  moska_has "$a" "^Action $w ignoree: envoyee par un lecteur" || fail "eve's $w not dropped"
done
moska_has "$a" "setElementAbsolute\(0,0,7,7,9\)|abandonne|Creation de la map evil" && fail "eve's edits applied or eve cut"
moska_menu main
moska_click 309 193
moska_wait_log "$a" "^eve \(tunnel [0-9]+\) laisse de cote pour cette session\.$"
wait $te  # her port free again
peer $ne 10.79.0.1 eve 0.24a nowait join sleep 3000 > "$root/e2.txt" 2>&1 &
moska_wait_log "$a" "^eve at 10\.79\.0\.6 wants to join \(laisse de cote dans cette session\): "
sleep 0.5
moska_click 216 158
moska_wait_log "$a" "^Connexion de eve \(10\.79\.0\.6\) refusee par l'utilisateur!$"
[ -e "$a/demo/maps/evil.map" ] && fail "eve's map was created"
# Alice, without a key, joins carol, who has one: within 5 s both refuse
# at the handshake and say why.
editor "$c" carol 'key s3cret words\n'
moska_open $nc "$c"
moska_join "$a" 10.79.0.3
moska_wait_log "$a" "^Cle de session: 10\.79\.0\.3 refuse sur le tunnel [0-9]+: l'autre editeur exige une cle de session, absente ici!$" 5
moska_wait_log "$c" "^Cle de session: alice refuse sur le tunnel 0: editeur sans cle de session!$" 5
moska_quit "$c"
moska_quit "$a"
moska_quit "$b"
echo "who may join: ok"
