# Sourced by the scripts that run Windows programs under wine on this
# machine. Sets up one wine prefix under build/windows (made once, then
# reused) and offers:
#   wine_prefix_ready           make the prefix if it is not there yet
#   wine_run PROGRAM [ARGS...]  run a Windows program, its exit status kept
#   wine_map_port COMn PATH     wine's COMn is the tty (or the symlink) PATH
#   wine_map_ports COMn...      each COMn is the symlink $WINE_PORTS/comn
#   wine_unmap_port COMn
# Windows programs run with the ANSI code page of WINE_LANG, ru_RU.UTF-8 by
# default (code page 1251), as on a Russian Windows.

WINE_REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$WINE_REPO/build/windows/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# No menu entries or file associations on the build machine, no prompt for
# the Mono or Gecko installers.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe,mscoree,mshtml=}"
WINE_LANG="${WINE_LANG:-ru_RU.UTF-8}"
# The symlinks the mapped COM ports point at; a test re-points one at its
# own pseudo-terminal without restarting wine.
WINE_PORTS="${WINE_PORTS:-$WINE_REPO/build/windows/ports}"

wine_prefix_ready() {
  if [ -f "$WINEPREFIX/.actionlog-ready" ]; then return 0; fi
  # A half-made prefix of ours is made again; anyone else's is left alone.
  case "$WINEPREFIX" in "$WINE_REPO"/build/*) rm -rf "$WINEPREFIX" ;; esac
  mkdir -p "$(dirname "$WINEPREFIX")"
  echo "Making the wine prefix $WINEPREFIX"
  DISPLAY= wineboot -i >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.actionlog-ready"
}

# Wine takes the Windows locale and code pages from the locale's name, but
# its file names need the locale's character set from the C library: a
# locale the system lacks is made once under build/windows/locale.
WINE_LOCALES="$WINE_REPO/build/windows/locale"

wine_locale_path() {
  local name="$1" normal
  normal="$(echo "$name" | sed 's/UTF-8$/utf8/')"
  if locale -a 2>/dev/null | grep -qx -e "$name" -e "$normal"; then return 0; fi
  if [ ! -d "$WINE_LOCALES/$name" ]; then
    mkdir -p "$WINE_LOCALES"
    localedef -i "${name%%.*}" -f UTF-8 "$WINE_LOCALES/$name" >/dev/null 2>&1 || true
  fi
  echo "$WINE_LOCALES"
}

wine_run() {
  local locpath
  locpath="$(wine_locale_path "$WINE_LANG")"
  if [ -n "$locpath" ]; then
    LOCPATH="$locpath" LANG="$WINE_LANG" LC_ALL="$WINE_LANG" wine "$@"
  else
    LANG="$WINE_LANG" LC_ALL="$WINE_LANG" wine "$@"
  fi
}

# Wine reads its port table when it starts: the next start after
# `wineserver -k` makes dosdevices/comN and the SERIALCOMM value.
wine_map_port() {
  local port="$1" path="$2"
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$path" /f >/dev/null
  wineserver -k || true
  wineserver -w
}

# Maps each port to $WINE_PORTS/<port> unless the prefix has it already,
# with one restart of wine for all of them.
wine_map_ports() {
  local port changed=0 lower
  mkdir -p "$WINE_PORTS"
  for port in "$@"; do
    lower="${port,,}"
    if [ "$(readlink "$WINEPREFIX/dosdevices/$lower" 2>/dev/null)" != "$WINE_PORTS/$lower" ]; then
      wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$WINE_PORTS/$lower" /f >/dev/null
      changed=1
    fi
  done
  if [ $changed -eq 1 ]; then
    wineserver -k || true
    wineserver -w
    # The next start makes the links and the SERIALCOMM values.
    wine reg query 'HKLM\Hardware\Devicemap\SerialComm' >/dev/null
  fi
}

wine_unmap_port() {
  local port="$1"
  wine reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/${port,,}"
  wineserver -k || true
  wineserver -w
}
