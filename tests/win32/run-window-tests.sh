#!/usr/bin/env bash
# Runs the native window's test program under wine on a virtual display,
# with the simulated device (a Linux program) on a pseudo-terminal that wine
# shows as a COM port.
# Usage: run-window-tests.sh SIMDEVICE PROGRAM [GTEST ARGS...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
simdevice="$(realpath "$1")"
shift
# shellcheck source=../../scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
wine_prefix_ready

port=COM5
mkdir -p "$WINE_PORTS"
link="$WINE_PORTS/window-tests"
scratch="$(mktemp -d)"
cleanup() {
  # Devices a failed test left running, by the ids the runner wrote down.
  for pidfile in "$scratch"/device-*/pid; do
    [ -e "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  if [ -n "${KEEP_TEST_DIR:-}" ]; then echo "device files kept in $scratch"; else rm -rf "$scratch"; fi
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
if [ "$(readlink "$WINEPREFIX/dosdevices/${port,,}" 2>/dev/null)" != "$link" ]; then
  wine_map_port "$port" "$link"
fi

# Wine's desktop belongs to the display it was started on: a fresh start
# on the virtual display, and none left behind on it.
wineserver -k 2>/dev/null || true
wineserver -w
export WINTEST_PORT="$port" WINTEST_PORT_LINK="$link" WINTEST_SIMDEVICE="$simdevice" \
  WINTEST_DEVICE_RUNNER="$here/run-device.sh" WINTEST_SCRATCH="$scratch"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c 'source "$1/../../scripts/wine-env.sh"; shift; wine_run "$@"' \
  _ "$here" "$@"
