#!/usr/bin/env bash
# Pictures of every screen in Portuguese, English and Spanish, from a real window on a
# private X server (Xvfb) with a private print scheduler holding three receipt queues.
# Usage: screenshots.sh PROGRAM OUTPUT_DIR
set -euo pipefail
program=$1
out=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/printarra-shots-XXXXXX)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    "$root/scripts/cups-sandbox.sh" stop "$work/cups" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb chooses a free display itself and writes its number to the given descriptor.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshots: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

"$root/scripts/cups-sandbox.sh" start "$work/cups"
export CUPS_SERVER="$work/cups/cups.sock"
for queue in Balcao_Termica_80mm Cozinha_58mm Escritorio; do
    lpadmin -h "$CUPS_SERVER" -p "$queue" -E -v socket://127.0.0.1:9
done
cupsdisable -h "$CUPS_SERVER" Escritorio   # a stopped queue shows its red badge

rm -rf "$out"
for locale in pt_PT en_GB es_ES; do
    LC_ALL=$locale.UTF-8 LANG=$locale.UTF-8 QT_QPA_PLATFORM=xcb "$program" "$out/${locale%_*}"
done
echo "screenshots: $(find "$out" -name '*.png' | wc -l) pictures in $out"
