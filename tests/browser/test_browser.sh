#!/usr/bin/env bash
# Real browsers trusting the real program only through printarra-trust: headless Chromium from an
# allowed and a foreign origin, as a public origin without and with the policy, and Firefox ESR
# through its policy (/etc is put back afterwards).
#   test_browser.sh PROGRAM TRUST_COMMAND EXAMPLES_DIR  (CUPS_SERVER set by ctest)
set -uo pipefail
program=$1 trust=$2 examples=$3
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
cleanup() {
    if [ "$saved" -eq 1 ]; then # /etc as it was
        rm -f "${system_files[@]}"; tar -xPf "$work/saved.tar"
        for d in "${new_dirs[@]}"; do rmdir "$d" 2>/dev/null; done
    fi
    kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null
    lpadmin -h "$CUPS_SERVER" -x "$queue" 2>/dev/null; rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# A socket printer: each job's bytes go to a file of their own.
python3 "$here/../../tools/socket-printer.py" "$work" >"$work/printer.port" & pids+=($!)
wait_for 50 '[ -s "$work/printer.port" ]'
lpadmin -h "$CUPS_SERVER" -p "$queue" -E -v "socket://127.0.0.1:$(cat "$work/printer.port")"

# The program: accepted terms, a known key, the printer switched on, its own data folder.
key="Br0wser+v4.0"
api_port=$(free_port)
mkdir -p "$work/config/Velora" "$work/tmp" "$work/data"
printf '[General]\nlicenseAccepted=true\nsecurityKey=%s\n' "$key" \
    >"$work/config/Velora/Printarra.conf"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data TMPDIR=$work/tmp
export PRINTARRA_PORT=$api_port PRINTARRA_UPDATE_URL=http://127.0.0.1:1 PRINTARRA_PROGRAM=$program
# Switched on by the program itself: a queue's settings key is a hash that may hold "//",
# which a hand-written file would not spell as the program reads it.
env -u DISPLAY -u WAYLAND_DISPLAY "$program" --enable-printer "$queue"
# This installation's CA, which printarra-trust also asks the program for.
ca=$(timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY "$program" --tls-material | tail -n1)
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" >"$work/program.log" 2>&1 & pids+=($!)
api=https://localhost:$api_port
get() { curl -s --cacert "$ca" -H "Authorization: Bearer $key" "$@"; }
wait_for 150 'curl -s --cacert "$ca" "$api/" >/dev/null'
# The program lists printers from its own refresh: the page comes once the queue is there.
wait_for 150 'get "$api/getPrinters" | grep -q "\"$queue\""'
# The example page, and a probe beside it that calls the connector once and then goes to
# /result?OUTCOME, which the server's log keeps (for browsers whose document cannot be dumped).
cp -r "$examples" "$work/site"
cat >"$work/site/probe.html" <<'EOF'
<!doctype html><meta charset="utf-8"><title>probe</title><script>
const q = new URLSearchParams(location.hash.slice(1));
fetch(q.get("address") + "/getStatus", {headers: {"Authorization": "Bearer " + q.get("key")}})
  .then((r) => r.json()).then((a) => "reached " + a.data, (e) => "failed " + e.message)
  .then((t) => { location.href = "/result?" + encodeURIComponent(t); });
</script>
EOF
page_port=$(free_port)
python3 -m http.server -b 127.0.0.1 -d "$work/site" "$page_port" >/dev/null 2>"$work/page.log" & pids+=($!)
wait_for 50 'curl -s "http://127.0.0.1:$page_port/" >/dev/null'

# A HOME as before any browser ran: printarra-trust must make the store Chromium then uses.
home=$work/home && mkdir -p "$home"
HOME=$home "$trust" --user >"$work/trust.log" 2>&1
cat "$work/trust.log"
# has FILE PATTERN...: every pattern is in the file (the first missing one is named).
has() { for p in "${@:2}"; do grep -q -- "$p" "$1" || { echo "missing: $p" && return 1; }; done; }
check "printarra-trust created the store and added the CA" has "$work/trust.log" 'nssdb: created' 'nssdb: added'

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
check "the page listed the printer, printed, pushed a notification, read it back and finished" \
    has "$work/page.txt" "^printers \[\"$queue\"\]" '^print {"data":"Job completed successfully","status":true}$' \
    '^notify {"data":"Notification received","status":true}$' '^status .*"title":"Pedido pronto"' '^finished$'

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

[ "$(id -u)" -eq 0 ] || { echo "note not root: the policy and Firefox checks (they write to /etc) skipped" && finish; }

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
check "printarra-trust --system exits 0" env HOME="$home" PRINTARRA_TRUST_UPDATE_CMD=true "$trust" --system
check "printarra-trust --check: everything in place" env HOME="$home" "$trust" --check
browse localhost "$work/public-after.txt" "${public[@]}"
check "with the policy the public page reaches the connector, its calls with the key succeed" \
    has "$work/public-after.txt" "^printers \[\"$queue\"\]" '^status .*"Device online"'

# Firefox ESR, a profile it makes itself: only the policy can make it trust the CA.
if command -v firefox-esr >/dev/null 2>&1; then
    HOME=$home timeout 90 firefox-esr --headless --no-remote --profile "$(mktemp -d "$work/firefox-XXXX")" \
        "http://localhost:$page_port/probe.html#key=${key//+/%2B}&address=$api" >"$work/firefox.log" 2>&1 &
    pids+=($!)
    wait_for 450 'grep -q "GET /result?" "$work/page.log"'
    kill "${pids[-1]}" 2>/dev/null
    check "Firefox ESR reaches the connector through the policy" grep -q 'GET /result?reached%20Device%20online ' "$work/page.log"
fi
finish
