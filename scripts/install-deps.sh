#!/usr/bin/env bash
# Installs the Debian packages a command needs, only those missing.
# Usage: scripts/install-deps.sh test|demo|screenshot|fuzz|package|windows|windows-test
set -euo pipefail

build=(cmake make g++ pkg-config qt6-base-dev)
# The Debian package: dpkg-shlibdeps and dpkg-buildflags; and what its test
# checks it with.
package=(dpkg-dev)
package_checks=(lintian desktop-file-utils appstream xvfb xdotool)
# The Windows cross-build, and wine with a display to run its tests.
windows=(cmake make g++-mingw-w64-x86-64-posix googletest)
windows_test=("${windows[@]}" wine wine64 locales xvfb xauth xdotool socat fonts-wine)
case "${1:-test}" in
  test) packages=("${build[@]}" libgtest-dev libgmock-dev locales fonts-dejavu-core fonts-dejavu-extra
                  "${package[@]}" "${package_checks[@]}" "${windows_test[@]}") ;;
  demo) packages=("${build[@]}" fonts-liberation2) ;;
  screenshot) packages=("${build[@]}" fonts-liberation2 xvfb xauth xdotool imagemagick) ;;
  fuzz) packages=("${build[@]}" clang libclang-rt-dev) ;;
  package) packages=("${build[@]}" "${package[@]}") ;;
  windows) packages=("${windows[@]}") ;;
  windows-test) packages=("${build[@]}" "${windows_test[@]}") ;;
  *) echo "usage: $0 test|demo|screenshot|fuzz|package|windows|windows-test" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
