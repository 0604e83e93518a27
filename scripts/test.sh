#!/usr/bin/env bash
# Builds everything and runs the whole suite: first the threaded serial tests
# under ThreadSanitizer, then every test under AddressSanitizer and UBSan,
# then the Windows test programs under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread
cmake --build build/tsan -j2 --target serial_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/serial_tests

export ASAN_OPTIONS=detect_stack_use_after_return=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
cmake --build build/test -j2
ctest --test-dir build/test -j2 --output-on-failure

# The Windows build's test programs, under wine.
SIMDEVICE="$PWD/build/test/tools/simdevice" scripts/test-windows.sh
