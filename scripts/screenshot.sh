#!/usr/bin/env bash
# Runs the demo under a virtual display, clicks Connect and Start as an
# operator would, and saves a picture of the window after the download to
# docs/screenshot.png, or to the file given.
# The window's fonts are the machine's; to see it with other faces, point
# FONTCONFIG_FILE at a fontconfig file that lists only those.
# Usage: scripts/screenshot.sh [picture.png]
set -euo pipefail
picture=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
root=$PWD
picture=${picture:-$root/docs/screenshot.png}
scripts/install-deps.sh screenshot
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build/release -j2 --target ActionLog simdevice

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
build/release/tools/simdevice --link "$work/ttyDEMO" --records 60 --dump "$work/device-log.txt" \
  --log "$work/device.log" > "$work/device.out" &
for _ in $(seq 100); do [ -e "$work/ttyDEMO" ] && break; sleep 0.05; done
printf '%s\r\n19200\r\n1\r\n' "$work/ttyDEMO" > "$work/Settings.txt"

xvfb-run -a -s "-screen 0 560x500x24" bash -c '
  set -e
  cd "$1"
  "$2/build/release/app/ActionLog" &
  app=$!
  for _ in $(seq 100); do xdotool search --name "ЛОРНИК" >/dev/null 2>&1 && break; sleep 0.1; done
  window=$(xdotool search --name "ЛОРНИК" | head -1)
  xdotool mousemove --window "$window" 66 124 click 1   # Connect
  sleep 1
  xdotool mousemove --window "$window" 277 123 click 1  # Start
  sleep 3
  xdotool mousemove --window "$window" 360 153 click 1  # Save
  sleep 0.5
  import -window "$window" "$3"
  kill $app
' _ "$work" "$root" "$picture"
ls "$work"/Журнал_ЛОРНИК_*.txt >/dev/null
echo "$picture written"
