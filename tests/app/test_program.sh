#!/usr/bin/env bash
# The real program end to end: a receipt over HTTPS, the commands beside it, a second start.
# Usage: test_program.sh PROGRAM BUILD_ROOT_CA  (CUPS_SERVER set by ctest)
set -uo pipefail
program=$1 build_ca=$2 here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
work=$(mktemp -d) queue=program_$$ pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; lpadmin -h "$CUPS_SERVER" -x "$queue"; rm -rf "$work"' EXIT
python3 "$here/../../tools/socket-printer.py" "$work" >"$work/printer.port" & pids+=($!)
wait_for 50 '[ -s "$work/printer.port" ]'
lpadmin -h "$CUPS_SERVER" -p "$queue" -E -v "socket://127.0.0.1:$(cat "$work/printer.port")"
# Its own settings store, data and temporary folder, and no display at all.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/config/data TMPDIR=$work/tmp
export PRINTARRA_UPDATE_URL=http://127.0.0.1:1 PRINTARRA_PORT=1
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
mkdir -p "$TMPDIR"
run() { timeout 20 "$program" "$@" 2>&1; }
is() { [ "$(cat; echo .)" = "$1." ]; } # standard input is exactly the text
answers() { python3 -c 'import json, sys; assert json.load(sys.stdin)[sys.argv[1]] == json.loads(sys.argv[2])' "$@"; }
key=$(run --show-key) # made by the first command, as on a first start
check "the first key: eight Base64 characters and v4.0" grep -Eqx '[A-Za-z0-9+/]{8}v4\.0' <<<"$key"
check "a queue never switched on is listed off" grep -qx "$queue	off" <(run --list-printers)
check "--enable-printer says nothing" is "" < <(run --enable-printer "$queue")
port=$(free_port)
PRINTARRA_PORT=$port "$program" >"$work/program.log" 2>&1 & pids+=($!)
wait_for 100 '[ -e "$TMPDIR/Printarra" ]' # its socket
check "--accept-terms beside it exits 0; it starts serving" run --accept-terms
ca=$work/config/data/Velora/Printarra/tls/rootca.pem api=https://localhost:$port
call() { curl -s --cacert "$ca" -H "Authorization: Bearer $key" -H "Content-Type: application/json" -d "$2" "$api/$1"; }
wait_for 150 'call getStatus "{}" | grep -q "Device online"'
sleep 1 && touch "$work/rest" && sleep 5
check "at rest it writes nothing, settings and data alike" is "" < <(find "$work/config" -newer "$work/rest")
check "served with the installation's own chain: the build's CA is refused" \
    bash -c '! curl -s --cacert "$1" "$2/getStatus"' - "$build_ca" "$api"
check "getPrinters lists the queue" answers data "[\"$queue\"]" < <(call getPrinters "{}")
job='[{"op": "text", "data": "Hello\n"}, {"op": "cut", "data": "full"}]'
check "sendJob succeeds" answers status true < <(call sendJob "{\"printer\": \"$queue\", \"job\": $job}")
wait_for 100 '[ -s "$work/arrivals" ]'
# Initialise, the reset's line feed, the text, feed and cut.
check "the printer gets the receipt byte for byte" \
    cmp "$work/job1.bin" <(printf '\x1b\x40\x1b\x74\x00\x0a\x1b\x74\x00Hello\n\x1d\x56\x42\x0a')

# The commands answer beside it, on the same store.
check "--show-key beside it: the same key" is "$key"$'\n' < <(run --show-key)
check "--disable-printer: silent, then listed off" is "$queue	off"$'\n' < <(run --disable-printer "$queue"; run --list-printers | grep "^$queue	")
check "--enable-printer: silent, then listed on" is "$queue	on"$'\n' < <(run --enable-printer "$queue"; run --list-printers | grep "^$queue	")
check "--tls-material names the CA under the organisation's folders" is "$ca"$'\n' < <(run --tls-material)
check "an unknown queue is refused" grep -q 'no printer "NoSuchQueue"' <(run --enable-printer NoSuchQueue)
# A second start asks this one to show its window and leaves without writing a store.
check "a second start exits 0" env XDG_CONFIG_HOME="$work/other" XDG_DATA_HOME="$work/other" timeout 20 "$program"
check "and writes no store" test ! -e "$work/other"
wait_for 100 'grep -q "asked: show" "$work/program.log"'
check "the first one shows its window and keeps running" bash -c 'grep -q "asked: show" "$1" && kill -0 "$2"' - "$work/program.log" "${pids[1]}"
# Outside debug mode the server writes no line per connection or request.
check "no line per connection" bash -c '! grep -q HttpConnectionHandler "$1"' - "$work/program.log"
finish
