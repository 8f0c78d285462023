#!/bin/sh
# Runs a command against a private, unlocked gnome-keyring (Secret Service) in a private D-Bus
# session, with a fresh HOME that is removed afterwards. Nothing touches the user's own keyring.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c '
  printf pw | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
  trap "kill $! 2>/dev/null" EXIT
  for try in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true" && break
    [ "$try" -lt 100 ] || { echo "the keyring did not start" >&2; exit 1; }
    sleep 0.1
  done
  "$@"' sh "$@"
