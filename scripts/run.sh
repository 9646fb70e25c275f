#!/usr/bin/env bash
# Installs what is missing, builds Printarra (Release) into build/ and starts the
# connector. Arguments go to the program ("DebugModeOn" keeps a log for the log screen).
# Without a display it runs headless and still serves the API on port 5080.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PRINTARRA_BUILD:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRINTARRA_BUILD_TESTS=OFF \
    -DPRINTARRA_BUILD_BENCH=OFF
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

echo "Starting Printarra: https://localhost:5080 (trust $build/ssl/rootca.pem in the browser)"
exec "$build/app/printarra" "$@"
