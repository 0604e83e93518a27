#!/usr/bin/env bash
# Builds the tool and the simulated device, starts the device on a new
# pseudo-terminal and the window in a demo folder whose "Settings.txt" names
# the device's port at 19200 bit/s, address 1. Press Connect, Start, Save.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh demo
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build/release -j2 --target ActionLog actionlog simdevice

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to show the window on. On a desktop, run this from its terminal;" >&2
  echo "scripts/screenshot.sh runs the same demo under a virtual display instead;" >&2
  echo "build/release/app/actionlog does the download without one (see README.md)." >&2
  exit 1
fi

demo=$root/build/demo
mkdir -p "$demo"
rm -f "$demo/ttyDEMO"
build/release/tools/simdevice --link "$demo/ttyDEMO" --pace --delay-ms 2 \
  --dump "$demo/device-log.txt" --log "$demo/device.log" > "$demo/device.out" &
device=$!
trap 'kill $device 2>/dev/null; wait $device 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$demo/ttyDEMO" ] && break; sleep 0.05; done
printf '%s\r\n19200\r\n1\r\n' "$demo/ttyDEMO" > "$demo/Settings.txt"

echo "The simulated device is on $demo/ttyDEMO; the saved log goes to $demo."
cd "$demo"
"$root/build/release/app/ActionLog"
