#!/usr/bin/env bash
# Installs what is missing, builds Printarra with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-tests/ and runs every test with CTest.
# Services the tests need (a throwaway cupsd, a private Xvfb) are started and
# stopped by the tests themselves (a CTest fixture, xvfb-run in the screenshot tests), so
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

# The fuzz harnesses: a clang build of the bottom libraries of their own, each harness run
# briefly on its seeds (PRINTARRA_FUZZ_SECONDS each, two at a time). PRINTARRA_FUZZ=0, or
# arguments for ctest (a narrowed run), skip it.
if [ "${PRINTARRA_FUZZ:-1}" != 0 ] && [ $# -eq 0 ]; then
    fuzz=${PRINTARRA_FUZZ_BUILD:-$root/build-fuzz}
    CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DPRINTARRA_FUZZ=ON -DPRINTARRA_BUILD_TESTS=OFF -DPRINTARRA_BUILD_BENCH=OFF \
        -DPRINTARRA_SUBSYSTEMS="httpserver;escpos;tpa" \
        -DPRINTARRA_FUZZ_SECONDS="${PRINTARRA_FUZZ_SECONDS:-40}"
    cmake --build "$fuzz" -j "$jobs"
    (cd "$fuzz" && ctest --output-on-failure -j "$jobs")
fi

cd "$build"
ctest --output-on-failure --timeout 600 -j "$jobs" "$@"
