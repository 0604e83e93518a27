#!/usr/bin/env bash
# Builds the Debian package and checks it: its control fields, every file in
# it with its mode, lintian, the desktop entry and the AppStream data, and the
# programs installed into a scratch root and started from there: the window
# on a virtual display, from its menu entry, and the command line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/package.sh

caption="ЛОРНИК журнал действий пользователя"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
mapfile -t programs < build/release/packaging/programs.txt
metainfo=$(cat build/release/packaging/metainfo.txt)
deb=build/package/actionlog_${version}_amd64.deb

failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what" >&2
    failed=1
  fi
}
contains() { [[ $1 == *"$2"* ]]; }

[ -f "$deb" ] || { echo "FAILED: $deb was not written" >&2; exit 1; }

# Control fields. The dependencies come from dpkg-shlibdeps: the Qt
# libraries the window links to and the C library are among them.
field() { dpkg-deb -f "$deb" "$1"; }
check "Package: actionlog" test "$(field Package)" = actionlog
check "Version: $version" test "$(field Version)" = "$version"
check "Architecture: amd64" test "$(field Architecture)" = amd64
for library in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6; do
  check "Depends names $library" contains "$(field Depends)" "$library "
done
check "the description names the dialout group" contains "$(field Description)" dialout

# Every file, with its mode and owner; nothing else.
expected=(
  "-rw-r--r-- ./usr/share/applications/actionlog.desktop"
  "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/actionlog.svg"
  "-rw-r--r-- ./usr/share/metainfo/$metainfo"
  "-rw-r--r-- ./usr/share/doc/actionlog/README.md.gz"
  "-rw-r--r-- ./usr/share/doc/actionlog/changelog.gz"
  "-rw-r--r-- ./usr/share/doc/actionlog/copyright"
)
for program in "${programs[@]}"; do
  expected+=("-rwxr-xr-x ./usr/bin/$program" "-rw-r--r-- ./usr/share/man/man1/$program.1.gz")
done
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing" | sort)
check "the files and their modes: ${programs[*]}, desktop entry, icon, metainfo, manual pages, documents" \
  test "$files" = "$(printf '%s\n' "${expected[@]}" | sort)"
check "every entry belongs to root" test -z "$(awk '$2 != "root/root"' <<<"$listing")"
check "every folder is drwxr-xr-x and under /usr" \
  test -z "$(awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $6 !~ /^\.\/usr\//)' <<<"$listing")"

check "lintian finds no error and no warning" lintian --fail-on error,warning "$deb"

scratch=$(mktemp -d)
pids=()
cleanup() {
  [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
root=$scratch/root
dpkg -x "$deb" "$root"

desktop=$root/usr/share/applications/actionlog.desktop
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$root/usr/share/metainfo/$metainfo"
for key in "Name=" "Name\[ru\]=" "Comment=" "Categories=.*Utility;" "Categories=.*Engineering;" \
  "Icon=actionlog$" "Terminal=false$"; do
  check "the desktop entry has $key" grep -q "^$key" "$desktop"
done
check "the metainfo launches the desktop entry" grep -q '<launchable type="desktop-id">actionlog.desktop<' \
  "$root/usr/share/metainfo/$metainfo"
check "the metainfo has a screenshot" grep -q '<screenshot type="default">' "$root/usr/share/metainfo/$metainfo"

for program in "${programs[@]}"; do
  check "$program finds every library it needs" test -z "$(ldd "$root/usr/bin/$program" | grep 'not found')"
done

if [[ " ${programs[*]} " == *" actionlog "* ]]; then
  check "actionlog --help" bash -c '"$1" --help | head -1 | grep -q "^Usage: actionlog"' _ "$root/usr/bin/actionlog"
  check "actionlog --version names $version" \
    bash -c '"$1" --version | grep -qx "actionlog $2"' _ "$root/usr/bin/actionlog" "$version"
fi

# The window as the menu starts it: the entry's command line, with the
# package's programs on the PATH, from a folder other than home, on a virtual
# display of its own. It shows its caption, is still running a moment later,
# and its Settings.txt lands in the home folder.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
check "the desktop entry's command takes no file arguments" test "${exec_line//%/}" = "$exec_line"
home=$scratch/home
elsewhere=$scratch/elsewhere
mkdir -p "$home" "$elsewhere"
# The server picks a free display itself, so parallel runs do not collide.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.err" &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$scratch/display")
(
  cd "$elsewhere"
  eval "set -- $exec_line"
  HOME=$home PATH=$root/usr/bin:$PATH exec "$@"
) 2>"$scratch/window.err" &
app=$!
pids+=("$app")
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name "ЛОРНИК" 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
title=$([ -n "$window" ] && xdotool getwindowname "$window" || true)
sleep 1
check "the installed window shows its caption" test "$title" = "$caption"
check "the installed window keeps running" kill -0 "$app"
[ "$title" = "$caption" ] || cat "$scratch/xvfb.err" "$scratch/window.err" >&2
check "started from the menu, the window works in the home folder" test -f "$home/Settings.txt"
check "started from the menu, the window leaves its starting folder alone" test ! -e "$elsewhere/Settings.txt"

[ "$failed" -eq 0 ] && echo "package test: all checks passed"
exit "$failed"
