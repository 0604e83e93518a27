#!/usr/bin/env bash
# Cross-builds the Windows program and its test programs with Debian's
# mingw-w64 toolchain into build/windows; the program is
# build/windows/ActionLog.exe, one statically linked file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows

cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release
cmake --build build/windows -j2 "$@"
