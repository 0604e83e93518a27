#!/usr/bin/env bash
# The program as a user gets it: ActionLog.exe under wine on a virtual
# display, clicked at its controls' client coordinates, downloads the whole
# log of the simulated device and saves it; the saved file must hold the
# device's log byte for byte in code page 1251. With --screenshot FILE the
# window is photographed after the download.
# The simulated device is $SIMDEVICE, on COM6.
# Usage: run-exe-test.sh [--screenshot FILE] ACTIONLOG.EXE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
screenshot=""
if [ "${1:-}" = "--screenshot" ]; then screenshot="$(realpath -m "$2")"; shift 2; fi
exe="$(realpath "$1")"
records=60
# shellcheck source=../../scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
# shellcheck source=../wine/test-helpers.sh
source "$here/../wine/test-helpers.sh"
wine_prefix_ready
wine_install_tahoma
port=COM6
device_in_scratch_folder "$port" "$records"
printf '%s\r\n19200\r\n1\r\n' "$port" > "$work/Settings.txt"
cp "$exe" "$work/ActionLog.exe"

export WORK="$work" RECORDS="$records" SCREENSHOT="$screenshot"
xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash -c '
  set -euo pipefail
  source "$1/../../scripts/wine-env.sh"
  cd "$WORK"
  wine_run ActionLog.exe &
  # xdotool matches no Cyrillic name pattern here; the names are compared whole.
  find_window() {
    local w
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
      [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
    done
    return 1
  }
  window=""
  for _ in $(seq 300); do window=$(find_window "ЛОРНИК журнал действий пользователя") && break; sleep 0.1; done
  [ -n "$window" ] || { echo "the window did not appear" >&2; exit 1; }
  click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
  save() { click 360 153; sleep 0.2; }
  export_file="Журнал_ЛОРНИК_20231187.txt"
  sleep 1
  click 66 124   # Подключение: the serial number names the export file
  for _ in $(seq 100); do save; [ -e "$export_file" ] && break; done
  [ -e "$export_file" ] || { echo "the device was not identified" >&2; exit 1; }
  sleep 0.5      # the record count follows the serial number
  click 277 123  # Старт
  for _ in $(seq 200); do
    save
    [ "$(wc -l < "$export_file")" -eq $((RECORDS + 3)) ] && break
  done
  # Any other window (a message box) means something went wrong.
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    if [ "$w" != "$window" ]; then echo "unexpected window: $(xdotool getwindowname "$w")" >&2; exit 1; fi
  done
  if [ -n "$SCREENSHOT" ]; then
    xdotool mousemove 790 590  # no pointer over the window
    sleep 1
    import -window "$window" "$SCREENSHOT"
  fi
  # Closing the window ends the program.
  xdotool windowfocus --sync "$window"
  xdotool key alt+F4
  for _ in $(seq 100); do jobs -r | grep -q . || break; sleep 0.1; done
  if jobs -r | grep -q .; then echo "ActionLog.exe did not end when its window closed" >&2; exit 1; fi
' _ "$here"

expected_export_cp1251 "$work/device-log.txt" > "$work/expected.txt"
if ! cmp "$work/expected.txt" "$work/Журнал_ЛОРНИК_20231187.txt"; then
  echo "the saved log differs from the device's log" >&2
  exit 1
fi
echo "ActionLog.exe downloaded and saved all $records records"
