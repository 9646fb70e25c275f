#!/usr/bin/env bash
# A real browser against the real program: headless Chromium with a fresh profile loads the
# example page from http://localhost, and the page, through fetch() with the Bearer header,
# lists the printers, prints a receipt, pushes a notification and reads it back. The browser
# trusts the connector only because printarra-trust put the root CA into the NSS database of
# the scratch HOME (no flag that ignores certificate errors). The same page served from an
# origin outside the allowed list cannot read the answers.
#
#   test_browser.sh PROGRAM TRUST_COMMAND ROOT_CA EXAMPLES_DIR     (CUPS_SERVER set by ctest)
set -uo pipefail
program=$1 trust=$2 rootca=$3 examples=$4
. "$(dirname "$0")/../checks.sh"

work=$(mktemp -d /tmp/printarra-browser-XXXXXX)
chmod 755 "$work"
pids=()
queue=browser_$$
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    lpadmin -h "$CUPS_SERVER" -x "$queue" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# A socket printer: each job's bytes go to a file of their own.
python3 "$(dirname "$0")/../../tools/socket-printer.py" "$work" >"$work/printer.port" &
pids+=($!)
for _ in $(seq 1 50); do [ -s "$work/printer.port" ] && break; sleep 0.1; done
lpadmin -h "$CUPS_SERVER" -p "$queue" -E -v "socket://127.0.0.1:$(cat "$work/printer.port")"

# The program, its store holding accepted terms, a known key and the printer switched on.
key="Br0wser+v4.0"
api_port=$(free_port)
hash=$(python3 -c 'import base64,hashlib,sys; print(base64.b64encode(hashlib.sha1(sys.argv[1].encode("latin-1")).digest()).decode().replace("=", "%3D"))' "$queue")
mkdir -p "$work/config/Velora" "$work/tmp"
printf '[General]\nlicenseAccepted=true\nsecurityKey=%s\nprinters/%s=true\n' "$key" "$hash" \
    >"$work/config/Velora/Printarra.conf"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/config" \
    TMPDIR="$work/tmp" PRINTARRA_PORT="$api_port" PRINTARRA_UPDATE_URL=http://127.0.0.1:1 \
    "$program" >"$work/program.log" 2>&1 &
pids+=($!)
api=https://localhost:$api_port
for _ in $(seq 1 150); do curl -s --cacert "$rootca" "$api/" >/dev/null && break; sleep 0.2; done

# The example page from http://localhost.
page_port=$(free_port)
python3 -m http.server "$page_port" --bind 127.0.0.1 --directory "$examples" \
    >"$work/http.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do curl -s "http://127.0.0.1:$page_port/" >/dev/null && break; sleep 0.1; done

# A fresh profile whose only trust in the connector is what printarra-trust puts there.
home=$work/home
mkdir -p "$home/.pki/nssdb"
certutil -N -d "sql:$home/.pki/nssdb" --empty-password
HOME=$home PRINTARRA_TRUST_SYSTEM_DIR=$work/system PRINTARRA_TRUST_UPDATE_CMD=true \
    "$trust" --ca "$rootca" >"$work/trust.log" 2>&1
check "printarra-trust added the CA" grep -q "$home/.pki/nssdb: added" "$work/trust.log"

browse() { # origin host, then the output file
    HOME=$home timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic \
        --no-first-run --disable-background-networking --disable-component-update \
        --disable-sync --user-data-dir="$work/profile-$1" --virtual-time-budget=30000 \
        --dump-dom "http://$1:$page_port/index.html#auto&key=${key//+/%2B}&printer=$queue&address=$api" \
        2>"$work/chromium-$1.log" | python3 -c 'import html,re,sys; m=re.search(r"<pre id=\"output\">(.*?)</pre>", sys.stdin.read(), re.S); print(html.unescape(m.group(1)) if m else "no output")' >"$2"
}

browse localhost "$work/page.txt"
cat "$work/page.txt"
check "the page finished" grep -q '^finished$' "$work/page.txt"
check "the page listed the printer" grep -q "^printers \[\"$queue\"\]" "$work/page.txt"
check "the page printed" grep -q '^print {"data":"Job completed successfully","status":true}$' "$work/page.txt"
check "the page pushed a notification" grep -q '^notify {"data":"Notification received","status":true}$' "$work/page.txt"
check "the page read the notification back" grep -q '^status .*"title":"Pedido pronto"' "$work/page.txt"

# The same receipt sent straight to the API: both must reach the printer byte for byte alike,
# and the browser's copy must be a whole receipt (initialisation first, the cut last).
for _ in $(seq 1 100); do [ -s "$work/job1.bin" ] && break; sleep 0.1; done
python3 -c 'import json,sys; print(json.dumps({"printer": sys.argv[1], "job": json.load(open(sys.argv[2]))}))' \
    "$queue" "$examples/receipt.json" >"$work/direct.json"
curl -s --cacert "$rootca" -H "Authorization: Bearer $key" -H "Content-Type: application/json" \
    --data-binary @"$work/direct.json" "$api/sendJob" >"$work/direct.out"
for _ in $(seq 1 100); do [ -s "$work/job2.bin" ] && break; sleep 0.1; done
check "the browser's receipt arrived" test -s "$work/job1.bin"
check "byte for byte the direct receipt" cmp -s "$work/job1.bin" "$work/job2.bin"
check "a whole receipt" python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.exit(not (d.startswith(b"\x1b\x40") and d.endswith(b"\x1d\x56\x42\x0a") and b"Central" in d))' "$work/job1.bin"

# A page from an origin outside the allowed list: the browser refuses it every answer, and
# with no answer to its preflight it never sends the calls themselves.
before=$(curl -s --cacert "$rootca" -H "Authorization: Bearer $key" "$api/getStatus?with_notifications=1" | grep -c '"title"')
browse 127.0.0.1 "$work/foreign.txt"
cat "$work/foreign.txt"
check "the foreign page finished" grep -q '^finished$' "$work/foreign.txt"
check "the foreign page read no printers" grep -q '^printers failed' "$work/foreign.txt"
check "the foreign page read no status" grep -q '^status failed' "$work/foreign.txt"
after=$(curl -s --cacert "$rootca" -H "Authorization: Bearer $key" "$api/getStatus?with_notifications=1" | grep -c '"title"')
check "the foreign page added no notification" test "$before" = "$after"

finish
