#!/usr/bin/env bash
# Installs what is missing, builds Printarra with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-tests/ and runs every test with CTest.
# Services the tests need (a throwaway cupsd, a private Xvfb) are started and
# stopped by the tests themselves (a CTest fixture, the screenshot script), so
# nothing of the machine is touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PRINTARRA_TEST_BUILD:-$root/build-tests}

"$root/scripts/install-deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPRINTARRA_SANITIZE=ON \
    -DPRINTARRA_BUILD_TESTS=ON -DPRINTARRA_BUILD_BENCH=ON
cmake --build "$build" -j "$jobs"

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Qt's own libraries are not instrumented: leaks inside them are not ours to find.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_init_order=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

cd "$build"
ctest --output-on-failure --timeout 600 -j "$jobs" "$@"
