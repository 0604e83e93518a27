#!/usr/bin/env bash
# Runs one Windows test program under wine in the run's prefix, with the
# serial lines it asks for on the COM ports that scripts/test-windows.sh
# mapped (COMn is the symlink $WINE_PORTS/comn, pointed here at a
# pseudo-terminal).
#
# Usage: run-test.sh [options] -- PROGRAM [ARGS...]
#   --lang LANG            the locale wine takes its code pages from
#   --null-modem COMa COMb two ports wired to each other (socat); the program
#                          finds them in TEST_NULL_MODEM="COMa COMb"
#   --simdevice COMn ARGS  the simulated device on COMn, started with ARGS
#                          (one word list); TEST_SIMDEVICE=COMn, and its
#                          records, one UTF-8 line each, in the file
#                          TEST_SIMDEVICE_RECORDS (a Windows path)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../../scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"

simdevice="${SIMDEVICE:-$WINE_REPO/build/test/tools/simdevice}"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do pkill -P "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

wait_for_link() {
  for _ in $(seq 100); do
    [ -e "$1" ] && return 0
    sleep 0.05
  done
  echo "run-test.sh: $1 did not appear" >&2
  exit 1
}

windows_path() {
  echo "Z:${1//\//\\}"
}

mkdir -p "$WINE_PORTS"
while [ $# -gt 0 ]; do
  case "$1" in
    --lang) export WINE_LANG="$2"; shift 2 ;;
    --null-modem)
      a="$WINE_PORTS/${2,,}"; b="$WINE_PORTS/${3,,}"
      rm -f "$a" "$b"
      socat "pty,raw,echo=0,link=$a" "pty,raw,echo=0,link=$b" &
      pids+=($!)
      wait_for_link "$a"; wait_for_link "$b"
      export TEST_NULL_MODEM="$2 $3"
      shift 3 ;;
    --simdevice)
      link="$WINE_PORTS/${2,,}"
      rm -f "$link"
      # shellcheck disable=SC2086
      "$simdevice" --link "$link" --dump "$work/records.txt" --log "$work/simdevice.log" $3 >"$work/simdevice.out" &
      pids+=($!)
      wait_for_link "$link"
      export TEST_SIMDEVICE="$2"
      TEST_SIMDEVICE_RECORDS="$(windows_path "$work/records.txt")"
      export TEST_SIMDEVICE_RECORDS
      shift 3 ;;
    --) shift; break ;;
    *) echo "run-test.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

wine_prefix_ready
status=0
# In the background, so that a time-out's signal reaches the trap at once.
wine_run "$@" &
pids+=($!)
wait $! || status=$?
if [ $status -ne 0 ] && [ -f "$work/simdevice.log" ]; then
  echo "--- the simulated device's log (last lines) ---"
  tail -n 40 "$work/simdevice.log"
fi
exit $status
