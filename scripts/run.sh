#!/usr/bin/env bash
# Installs what is missing, builds Printarra (Release) into build/ and starts the
# connector. Arguments go to the program ("DebugModeOn" keeps a log for the log screen).
# Without a display it runs headless and still serves the API (port 5080, or
# $PRINTARRA_PORT when set).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PRINTARRA_BUILD:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRINTARRA_BUILD_TESTS=OFF \
    -DPRINTARRA_BUILD_BENCH=OFF
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

program=$build/app/printarra
# The port the program serves: PRINTARRA_PORT when it is a number, else 5080.
port=5080
[[ ${PRINTARRA_PORT:-} =~ ^[0-9]+$ ]] && port=$PRINTARRA_PORT
ca=$("$program" --tls-material 2>/dev/null) || ca="none yet"
echo "Starting Printarra: https://localhost:$port"
echo "  root CA: $ca (trust it with: sudo $root/scripts/printarra-trust)"
exec "$program" "$@"
