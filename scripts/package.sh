#!/usr/bin/env bash
# Builds a release of the window and the command line and writes the Debian
# package build/package/actionlog_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh package

# The last commit's time is the release date, so the same sources make the
# same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
# Debian's hardening, all of it: fortified functions, stack protector,
# relocations read-only and bound at start.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build build/release -j2 --target package_contents

rm -rf build/package
(cd build/release && cpack -G DEB -B "$root/build/package")
rm -rf build/package/_CPack_Packages
ls build/package/*.deb
