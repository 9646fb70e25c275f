#!/usr/bin/env bash
# Pictures of every screen in Portuguese, English and Spanish, from a real window on a private
# X server with a private print scheduler holding three receipt queues (one stopped).
# Usage: screenshots.sh PROGRAM OUTPUT_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/printarra-shots-XXXXXX)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
trap 'kill $xvfb_pid; "$root/scripts/cups-sandbox.sh" stop "$work/cups" >/dev/null 2>&1; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
"$root/scripts/cups-sandbox.sh" start "$work/cups"
export CUPS_SERVER="$work/cups/cups.sock"
for queue in Balcao_Termica_80mm Cozinha_58mm Escritorio; do
    lpadmin -h "$CUPS_SERVER" -p "$queue" -E -v socket://127.0.0.1:9
done
cupsdisable -h "$CUPS_SERVER" Escritorio
rm -rf "$2"
for locale in pt_PT en_GB es_ES; do
    LC_ALL=$locale.UTF-8 LANG=$locale.UTF-8 QT_QPA_PLATFORM=xcb "$1" "$2/${locale%_*}"
done
echo "screenshots: $(find "$2" -name '*.png' | wc -l) pictures in $2"
