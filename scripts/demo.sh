#!/usr/bin/env bash
# Builds the tool and starts it against the simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build/release -j2
echo "The protocol core is built. The window and the simulated device are not part of the tool yet;"
echo "until they are, this command has nothing to start."
