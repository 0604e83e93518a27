# Sourced by the scripts that run Windows programs against the simulated
# device (after scripts/wine-env.sh).

# The window's font: wine's own Tahoma, which Debian's fonts-wine provides.
wine_install_tahoma() {
  local font
  for font in tahoma.ttf tahomabd.ttf; do
    if [ -e "/usr/share/wine/fonts/$font" ] && [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/$font" ]; then
      cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
  done
}

# start_device PORT WORK RECORDS: the simulated device ($SIMDEVICE) with
# RECORDS records on COM port PORT; its log goes to WORK/device-log.txt and
# its process id to DEVICE_PID.
start_device() {
  local simdevice link
  simdevice="$(realpath "${SIMDEVICE:-$WINE_REPO/build/test/tools/simdevice}")"
  link="$WINE_PORTS/${1,,}"
  rm -f "$link"
  "$simdevice" --link "$link" --records "$3" --dump "$2/device-log.txt" --log "$2/device.log" \
    > "$2/device.out" &
  DEVICE_PID=$!
  for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
}

# device_in_scratch_folder PORT RECORDS: a fresh folder in $work, with the
# simulated device started in it on COM port PORT; both go when the script
# exits.
device_in_scratch_folder() {
  wine_map_ports "$1"
  work="$(mktemp -d)"
  DEVICE_PID=""
  trap 'stop_scratch_device' EXIT
  start_device "$1" "$work" "$2"
}

stop_scratch_device() {
  [ -n "$DEVICE_PID" ] && kill "$DEVICE_PID" 2>/dev/null || true
  rm -rf "$work"
}

# The export file of a whole download of the device whose log is $1, as
# code page 1251 writes it: two header lines, the records from the newest
# down, one empty row.
expected_export_cp1251() {
  {
    printf 'Версия прибора: V2.14\r\nСерийный номер: 20231187\r\n'
    tac "$1" | awk '{ printf "%d %s\r\n", NR, $0 }'
    printf ' \r\n'
  } | iconv -f UTF-8 -t CP1251
}
