#!/usr/bin/env bash
# A client trusting the installation's CA reaches the connector at non-loopback addresses in two
# private ranges and by host name, over a veth pair into a network namespace of our own.
# Usage: lan_access.sh PROGRAM. Exits 77 (skipped) where namespaces are not permitted.
set -euo pipefail
program=${1:?usage: lan_access.sh PROGRAM}
. "$(dirname "$0")/../checks.sh"
id=$$ key=lAnTeSt1v4.0 scratch=$(mktemp -d) pid=
ns=printarra-lan-$id host_if=pl${id}h peer_if=pl${id}n port=$((20000 + id % 20000))
net=10.213.$((id % 250)) net2=192.168.$((200 + id % 50))
trap '{ set +e; kill $pid && wait $pid; ip link del "$host_if"; ip netns del "$ns"; rm -rf "$scratch"; } 2>/dev/null' EXIT
ip netns add "$ns" 2>/dev/null || { echo "lan_access: network namespaces are not permitted here; skipped"; exit 77; }
in_ns() { ip netns exec "$ns" "$@"; }
ip link add "$host_if" type veth peer name "$peer_if"
ip link set "$peer_if" netns "$ns"
for n in "$net" "$net2"; do ip addr add "$n.1/24" dev "$host_if" && in_ns ip addr add "$n.2/24" dev "$peer_if"; done
ip link set "$host_if" up && in_ns ip link set "$peer_if" up && in_ns ip link set lo up

# Started after the veth exists, so that its certificate names the new address.
mkdir -p "$scratch/config/Velora"
printf '[General]\nsecurityKey=%s\n' "$key" >"$scratch/config/Velora/Printarra.conf"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$scratch" \
    XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" TMPDIR="$scratch" \
    PRINTARRA_PORT=$port PRINTARRA_UPDATE_URL=http://127.0.0.1:1 \
    "$program" --accept-terms >"$scratch/out.log" 2>&1 &
pid=$!
ca=$scratch/data/Velora/Printarra/tls/rootca.pem
call() { # URL [curl options...]: from inside the namespace
    in_ns curl -sS --max-time 5 --cacert "$ca" -H "Authorization: Bearer $key" "${@:2}" "$1" 2>&1
}
wait_for 100 '[ -s "$ca" ] && call "https://$net.1:$port/getStatus" >/dev/null'
name=$(hostname)
for target in "$net.1" "$net2.1" "$name" "${name%%.*}.local"; do
    answer=$(call "https://$target:$port/getStatus" --resolve "$target:$port:$net.1") || true
    check "https://$target:$port answers: $(tr -d " \n" <<<"$answer")" grep -q '"Device online"' <<<"$answer"
done
[ "$failed" -eq 0 ] || sed 's/^/program: /' "$scratch/out.log"
finish
