#!/usr/bin/env bash
# Cross-builds the Windows program and its test programs with Debian's
# mingw-w64 toolchain into build/windows; the program is
# build/windows/ActionLog.exe, one statically linked file that imports only
# DLLs every Windows 10 and 11 has.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows

cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release
cmake --build build/windows -j2 "$@"

# The system's own DLLs, present on every Windows 10 and 11.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|oleaut32|uxtheme|msvcrt|ntdll|shlwapi|version|imm32|winmm|dwmapi|ws2_32|bcrypt|api-ms-win-.*)\.dll$'
for exe in build/windows/ActionLog.exe build/windows/tests/windows/*.exe; do
  [ -f "$exe" ] || continue
  foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' | tr 'A-Z' 'a-z' |
    grep -Ev "$system_dlls" || true)
  if [ -n "$foreign" ]; then
    echo "$exe needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
done
if [ -f build/windows/ActionLog.exe ]; then echo "Built build/windows/ActionLog.exe"; fi
