#!/usr/bin/env bash
# Builds everything and runs all tests. MODEM_SANITIZE=1 builds into
# build-sanitize with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the tests there instead (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${MODEM_SANITIZE:-0}" == 1 ]]; then
    scripts/install-deps.sh
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMODEM_SANITIZE=ON >/dev/null
    ninja -C build-sanitize
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:abort_on_error=1 \
        ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)" --timeout 600
    exit
fi
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 300
