#!/usr/bin/env bash
# actionlog.exe as a console program under wine: a whole download from the
# simulated device on COM8 saved byte for byte in code page 1251, and a port
# that does not exist ending with status 3 and no file.
# Usage: run-cli-test.sh ACTIONLOG.EXE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exe="$(realpath "$1")"
records=40
# shellcheck source=../../scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
# shellcheck source=../wine/test-helpers.sh
source "$here/../wine/test-helpers.sh"
wine_prefix_ready
port=COM8
device_in_scratch_folder "$port" "$records"
cp "$exe" "$work/actionlog.exe"
cd "$work"

status=0
wine_run actionlog.exe download --port "$port" --speed 19200 2> cli.err || status=$?
[ "$status" -eq 0 ] || { echo "download ended with status $status:" >&2; cat cli.err >&2; exit 1; }
expected_export_cp1251 device-log.txt > expected.txt
cmp expected.txt "Журнал_ЛОРНИК_20231187.txt" || { echo "the saved log differs from the device's log" >&2; exit 1; }

rm -f "Журнал_ЛОРНИК_20231187.txt"
status=0
wine_run actionlog.exe download --port COM99 2> missing.err || status=$?
[ "$status" -eq 3 ] || { echo "a missing port ended with status $status" >&2; cat missing.err >&2; exit 1; }
grep -q 'Unable to open com port (Error: 2)' missing.err || { cat missing.err >&2; exit 1; }
if ls Журнал_* 2>/dev/null | grep -q .; then echo "a file was left behind" >&2; exit 1; fi
echo "actionlog.exe downloaded and saved all $records records; a missing port is status 3"
