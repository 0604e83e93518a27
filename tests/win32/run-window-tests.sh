#!/usr/bin/env bash
# Runs the native window's test program under wine on a virtual display,
# with the simulated device (a Linux program, $SIMDEVICE) on a
# pseudo-terminal that wine shows as COM5; the program starts the device
# itself for each test (run-device.sh).
# Usage: run-window-tests.sh PROGRAM [GTEST ARGS...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../../scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
# shellcheck source=../wine/test-helpers.sh
source "$here/../wine/test-helpers.sh"
simdevice="$(realpath "${SIMDEVICE:-$WINE_REPO/build/test/tools/simdevice}")"
wine_prefix_ready
wine_install_tahoma
port=COM5
wine_map_ports "$port"

scratch="$(mktemp -d)"
cleanup() {
  # Devices a failed test left running, by the ids the runner wrote down.
  for pidfile in "$scratch"/device-*/pid; do
    [ -e "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  if [ -n "${KEEP_TEST_DIR:-}" ]; then echo "device files kept in $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT

export WINTEST_PORT="$port" WINTEST_PORT_LINK="$WINE_PORTS/${port,,}" WINTEST_SIMDEVICE="$simdevice" \
  WINTEST_DEVICE_RUNNER="$here/run-device.sh" WINTEST_SCRATCH="$scratch"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c 'source "$1/../../scripts/wine-env.sh"; shift; wine_run "$@"' \
  _ "$here" "$@"
