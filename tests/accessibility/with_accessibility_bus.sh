#!/usr/bin/env bash
# Runs a command on a virtual X display of its own, in a private D-Bus session whose accessibility
# bus (at-spi2-core's, started on demand by the session bus) Qt's bridge reports every widget to.
# Exits 77 (skipped) only when no X display can be started here at all.
set -euo pipefail
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait 2>/dev/null || true; rm -f "$displayfile"' EXIT
for _ in $(seq 1 100); do [ -s "$displayfile" ] && break; sleep 0.05; done
if [ ! -s "$displayfile" ]; then
  echo "Xvfb could not start a display" >&2
  exit 77
fi
export DISPLAY=":$(cat "$displayfile")" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
dbus-run-session -- "$@"
