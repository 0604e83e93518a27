#!/usr/bin/env bash
# Cross-builds the Windows program, runs it under wine on a virtual display
# against the simulated device, clicks Connect, Start and Save as an operator
# would, and saves a picture of the window after the download to
# docs/screenshot-windows.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh screenshot
scripts/install-deps.sh windows-test
scripts/build-windows.sh --target ActionLog
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build/release -j2 --target simdevice
SIMDEVICE=build/release/tools/simdevice tests/win32/run-exe-test.sh --screenshot docs/screenshot-windows.png \
  build/windows/ActionLog.exe
echo "docs/screenshot-windows.png written"
