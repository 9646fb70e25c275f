#!/usr/bin/env bash
# Refreshes the translation sources (qml/printclient_*.ts) from the texts of the screens, of the
# controller's tray messages and of the test print. Existing translations are kept; new texts
# arrive unfinished and need their English, Spanish and Portuguese text filled in (Qt Linguist,
# or by hand).
set -euo pipefail
cd "$(dirname "$0")/.."
LUPDATE=$(command -v lupdate || echo /usr/lib/qt5/bin/lupdate)
for language in en es pt; do
    "$LUPDATE" -locations relative -no-obsolete -source-language pt -target-language "$language" \
        qml app/printclient.cpp app/testprint.cpp -ts "qml/printclient_${language}.ts"
done
