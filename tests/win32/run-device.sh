#!/bin/sh
# Runs the simulated device for a Windows test program under wine. Wine can
# start a Linux program but gives no handle to wait for it or stop it, so
# the device runs until the test creates DIR/stop; DIR/stopped tells the test
# it has ended. Its output goes to DIR/out, its process id to DIR/pid.
# Usage: run-device.sh DIR SIMDEVICE [OPTIONS...]
dir="$1"
shift
"$@" > "$dir/out" 2> "$dir/err" &
pid=$!
echo "$pid" > "$dir/pid"
while [ ! -e "$dir/stop" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
kill "$pid" 2>/dev/null
wait "$pid"
touch "$dir/stopped"
