#!/usr/bin/env bash
# A client that trusts the installation's CA reaches the connector at the machine's
# non-loopback addresses (in two private ranges) and by host name. The "LAN" is a veth pair into
# a network namespace of our own, so no traffic leaves the machine.
# Usage: lan_access.sh PROGRAM. Exits 77 (skipped) where namespaces are not permitted.
set -euo pipefail
program=${1:?usage: lan_access.sh PROGRAM}
id=$$ key=lAnTeSt1v4.0 scratch=$(mktemp -d) pid=
ns=printarra-lan-$id host_if=pl${id}h peer_if=pl${id}n port=$((20000 + id % 20000))
net=10.213.$((id % 250)) net2=192.168.$((200 + id % 50))
cleanup() {
    set +e
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    ip link del "$host_if" 2>/dev/null
    ip netns del "$ns" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
ip netns add "$ns" 2>/dev/null || { echo "lan_access: network namespaces are not permitted here; skipped"; exit 77; }
ip link add "$host_if" type veth peer name "$peer_if"
ip link set "$peer_if" netns "$ns"
ip addr add "$net.1/24" dev "$host_if" && ip addr add "$net2.1/24" dev "$host_if"
ip link set "$host_if" up
ip netns exec "$ns" ip addr add "$net.2/24" dev "$peer_if"
ip netns exec "$ns" ip addr add "$net2.2/24" dev "$peer_if"
ip netns exec "$ns" ip link set "$peer_if" up
ip netns exec "$ns" ip link set lo up

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
    ip netns exec "$ns" curl -sS --max-time 5 --cacert "$ca" -H "Authorization: Bearer $key" "${@:2}" "$1"
}
for _ in $(seq 1 100); do
    [ -s "$ca" ] && call "https://$net.1:$port/getStatus" >/dev/null 2>&1 && break
    sleep 0.2
done

failed=0 name=$(hostname)
for target in "$net.1" "$net2.1" "$name" "${name%%.*}.local"; do
    answer=$(call "https://$target:$port/getStatus" --resolve "$target:$port:$net.1" 2>&1) || true
    if [[ $answer == *'"Device online"'* ]]; then
        echo "ok: https://$target:$port"
    else
        echo "FAILED: https://$target:$port: $answer" && failed=1
    fi
done
[ $failed -eq 0 ] || sed 's/^/program: /' "$scratch/out.log"
exit $failed
