#!/usr/bin/env bash
# Cross-builds the Windows program and its test programs and runs them under
# wine (ctest in build/windows). COM5 to COM9 of the run's wine prefix are
# mapped once to symlinks under build/windows/ports, which each test points
# at its own pseudo-terminals (tests/wine/run-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows-test
scripts/build-windows.sh

# The simulated device runs on this machine.
if [ -z "${SIMDEVICE:-}" ]; then
  if [ ! -x build/test/tools/simdevice ]; then
    cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined >/dev/null
    cmake --build build/test -j2 --target simdevice
  fi
  export SIMDEVICE="$PWD/build/test/tools/simdevice"
fi

# shellcheck source=wine-env.sh
source scripts/wine-env.sh
wine_prefix_ready
wine_map_ports COM5 COM6 COM7 COM8 COM9

ctest --test-dir build/windows -j2 --output-on-failure --timeout 600
