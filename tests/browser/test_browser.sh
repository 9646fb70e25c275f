#!/usr/bin/env bash
# Real browsers against the real program, trusting it only through printarra-trust (no flag that
# ignores certificate or local network checks): headless Chromium runs the example page from an
# allowed and from a foreign origin; as root, from an allowed origin Chromium counts as public,
# without and with the policy, and Firefox ESR through its policy (/etc is put back afterwards).
#   test_browser.sh PROGRAM TRUST_COMMAND BUILD_ROOT_CA EXAMPLES_DIR  (CUPS_SERVER set by ctest)
set -uo pipefail
program=$1 trust=$2 build_ca=$3 examples=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
work=$(mktemp -d /tmp/printarra-browser-XXXXXX) pids=() queue=browser_$$ saved=0
chmod 755 "$work"
# System files printarra-trust writes, and their folders; saved before and put back after.
system_files=(/etc/chromium/policies/managed/printarra.json
    /etc/opt/chrome/policies/managed/printarra.json /etc/firefox/policies/policies.json
    /usr/lib/firefox-esr/distribution/policies.json
    /usr/local/share/ca-certificates/printarra-root-ca.crt)
system_dirs=(/etc/chromium/policies/managed /etc/chromium/policies /etc/opt/chrome/policies/managed
    /etc/opt/chrome/policies /etc/opt/chrome /etc/firefox/policies /etc/firefox)
restore() {
    rm -f "${system_files[@]}"
    tar -xPf "$work/saved.tar"
    for d in "${new_dirs[@]}"; do rmdir "$d" 2>/dev/null; done
}
cleanup() {
    [ "$saved" -eq 0 ] || restore
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    lpadmin -h "$CUPS_SERVER" -x "$queue" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
wait_for() { for _ in $(seq 1 "$1"); do eval "$2" && return; sleep 0.2; done; } # tries, test
start() { "${@:2}" >"$work/$1.port" & pids+=($!); wait_for 50 "[ -s '$work/$1.port' ]"; } # name, command

# A socket printer: each job's bytes go to a file of their own.
start printer python3 "$here/../../tools/socket-printer.py" "$work"
lpadmin -h "$CUPS_SERVER" -p "$queue" -E -v "socket://127.0.0.1:$(cat "$work/printer.port")"

# The program: accepted terms, a known key, the printer switched on, its own data folder.
key="Br0wser+v4.0"
api_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
hash=$(python3 -c 'import base64,hashlib,sys; print(base64.b64encode(hashlib.sha1(sys.argv[1].encode("latin-1")).digest()).decode().replace("=", "%3D"))' "$queue")
mkdir -p "$work/config/Velora" "$work/tmp" "$work/data"
printf '[General]\nlicenseAccepted=true\nsecurityKey=%s\nprinters/%s=true\n' "$key" "$hash" \
    >"$work/config/Velora/Printarra.conf"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data TMPDIR=$work/tmp
export PRINTARRA_PORT=$api_port PRINTARRA_UPDATE_URL=http://127.0.0.1:1 PRINTARRA_PROGRAM=$program
# This installation's CA; a program without --tls-material still serves the build's chain.
ca=$(timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY "$program" --tls-material 2>"$work/tls.err" | tail -n1)
ca_option=()
if [ -z "$ca" ] || [ ! -f "$ca" ]; then
    echo "note the program has no --tls-material yet: using the build's CA"
    ca=$build_ca ca_option=(--ca "$build_ca")
fi
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" >"$work/program.log" 2>&1 &
pids+=($!)
api=https://localhost:$api_port
get() { curl -s --cacert "$ca" -H "Authorization: Bearer $key" "$@"; }
wait_for 150 'curl -s --cacert "$ca" "$api/" >/dev/null'
# The program lists printers from its own refresh: the page comes once the queue is there.
wait_for 150 'get "$api/getPrinters" | grep -q "\"$queue\""'
start page python3 "$here/page_server.py" "$examples" "$work/results"
page_port=$(cat "$work/page.port")

# A HOME as before any browser ran: printarra-trust must make the store Chromium then uses.
home=$work/home
mkdir -p "$home"
HOME=$home "$trust" --user "${ca_option[@]}" >"$work/trust.log" 2>&1
cat "$work/trust.log"
check "printarra-trust created the store and added the CA" \
    bash -c "grep -q 'nssdb: created' '$work/trust.log' && grep -q 'nssdb: added' '$work/trust.log'"

browse() { # host, output file, extra flags...
    HOME=$home timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic \
        --no-first-run --disable-background-networking --disable-component-update \
        --disable-sync --user-data-dir="$(mktemp -d "$work/profile-XXXX")" \
        --virtual-time-budget=30000 "${@:3}" \
        --dump-dom "http://$1:$page_port/index.html#auto&key=${key//+/%2B}&printer=$queue&address=$api" \
        2>>"$work/chromium.log" | python3 -c 'import html,re,sys; m=re.search(r"<pre id=\"output\">(.*?)</pre>", sys.stdin.read(), re.S); print(html.unescape(m.group(1)) if m else "no output")' >"$2"
    cat "$2"
}
browse localhost "$work/page.txt"
check "the page finished" grep -q '^finished$' "$work/page.txt"
check "the page listed the printer" grep -q "^printers \[\"$queue\"\]" "$work/page.txt"
check "the page printed" grep -q '^print {"data":"Job completed successfully","status":true}$' "$work/page.txt"
check "the page pushed a notification" grep -q '^notify {"data":"Notification received","status":true}$' "$work/page.txt"
check "the page read the notification back" grep -q '^status .*"title":"Pedido pronto"' "$work/page.txt"

# The same receipt sent straight to the API: both must reach the printer byte for byte alike.
wait_for 50 '[ -s "$work/job1.bin" ]'
python3 -c 'import json,sys; print(json.dumps({"printer": sys.argv[1], "job": json.load(open(sys.argv[2]))}))' \
    "$queue" "$examples/receipt.json" | get -H "Content-Type: application/json" --data-binary @- "$api/sendJob" >"$work/direct.out"
wait_for 50 '[ -s "$work/job2.bin" ]'
check "byte for byte the direct receipt" cmp -s "$work/job1.bin" "$work/job2.bin"
check "a whole receipt" python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.exit(not (d.startswith(b"\x1b\x40") and d.endswith(b"\x1d\x56\x42\x0a") and b"Central" in d))' "$work/job1.bin"

# An origin outside the allowed list: no answer to its preflight, so no call is sent.
notifications() { get "$api/getStatus?with_notifications=1" | grep -c '"title"'; }
before=$(notifications)
browse 127.0.0.1 "$work/foreign.txt"
check "the foreign page read no printers" grep -q '^printers failed' "$work/foreign.txt"
check "the foreign page added no notification" test "$before" = "$(notifications)"

if [ "$(id -u)" -ne 0 ]; then
    echo "note not root: the policy and Firefox checks need to write under /etc, skipped"
    finish
fi

# ---- policies: one copy of this test at a time touches /etc ----
exec 9>/tmp/printarra-system-policy.lock
flock -w 240 9 || { echo "FAIL the policy lock"; exit 1; }
new_dirs=()
for d in "${system_dirs[@]}"; do [ -e "$d" ] || new_dirs+=("$d"); done
tar -cPf "$work/saved.tar" --ignore-failed-read "${system_files[@]}" 2>/dev/null && saved=1
rm -f "${system_files[0]}" "${system_files[1]}"

public=(--ip-address-space-overrides="127.0.0.1:$page_port=public,[::1]:$page_port=public")
browse localhost "$work/public-before.txt" "${public[@]}"
check "without the policy the public page is refused" grep -q '^printers failed' "$work/public-before.txt"
# The system part as root; the system store's file is written, the bundle not rebuilt.
HOME=$home PRINTARRA_TRUST_UPDATE_CMD=true "$trust" --system "${ca_option[@]}"
check "printarra-trust --system exits 0" test "$?" -eq 0
HOME=$home "$trust" --check "${ca_option[@]}"
check "printarra-trust --check: everything in place" test "$?" -eq 0
browse localhost "$work/public-after.txt" "${public[@]}"
check "with the policy the public page reaches the connector" \
    grep -q "^printers \[\"$queue\"\]" "$work/public-after.txt"
check "and its calls with the key succeed" grep -q '^status .*"Device online"' "$work/public-after.txt"

# Firefox ESR, a profile it makes itself: only the policy can make it trust the CA.
if command -v firefox-esr >/dev/null 2>&1; then
    mkdir -p "$work/firefox"
    HOME=$home timeout 90 firefox-esr --headless --no-remote --profile "$work/firefox" \
        "http://localhost:$page_port/probe.html#key=${key//+/%2B}&address=$api" >"$work/firefox.log" 2>&1 &
    pids+=($!)
    wait_for 450 '[ -s "$work/results" ]'
    kill "${pids[-1]}" 2>/dev/null
    cat "$work/results" 2>/dev/null
    check "Firefox ESR reaches the connector through the policy" grep -qx 'reached Device online' "$work/results"
fi

HOME=$home PRINTARRA_TRUST_UPDATE_CMD=true "$trust" --remove >"$work/trust-remove.log" 2>&1
check "printarra-trust --remove exits 0" test "$?" -eq 0
check "--remove leaves no policy" test ! -e "${system_files[0]}" -a ! -e "${system_files[1]}"
check "--remove leaves the user's store without the CA" \
    bash -c "! certutil -L -d 'sql:$home/.pki/nssdb' | grep -q 'Printarra Local Root CA'"
finish
