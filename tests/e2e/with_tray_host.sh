#!/usr/bin/env bash
# Runs a test on a virtual X display of its own, with a system tray host (trayer) when the first
# argument is "tray" and without one when it is "none"; the test learns which from TEODAL_TRAY_HOST.
set -euo pipefail
host=$1
shift
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids=("$xvfb")
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
export DISPLAY=":$display"
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
if [ "$host" = tray ]; then
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
  pids+=("$!")
  sleep 1
fi
# No session bus, so Qt uses the X11 tray protocol that trayer speaks.
env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb TEODAL_TRAY_HOST="$host" "$@"
