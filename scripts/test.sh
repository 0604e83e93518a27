#!/usr/bin/env bash
# Builds everything under AddressSanitizer and UBSan and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
cmake --build build/test -j2
ctest --test-dir build/test -j2 --output-on-failure
