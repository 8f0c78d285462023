#!/usr/bin/env bash
# Takes PNG screenshots of the app on a virtual X display: the sign-in view, the waiting state with
# its verification code, the calendar with events, the editor, quick add and settings, signed in to
# a development server that runs with an in-memory database. The browser is played by
# teodal-approve-in-browser, which approves the request on the server's approval page a few seconds
# after the app opens it.
#
#   bash scripts/screenshots.sh [--lang es]
#
# Writes screenshots/{sign-in,waiting,workspace,editor,quick-add,settings}.png, or with --lang the
# app in that language (its catalogue, its date formats) into screenshots/<lang>/. TEODAL_BUILD_DIR
# picks another build folder than build/release (an existing one is used as configured);
# TEODAL_SEED_EVENTS=N adds N generated events to the month shown (a busy team's calendar).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TEODAL_BUILD_DIR:-$root/build/release}
build=$(realpath -m "$build")
lang=
if [ "${1:-}" = --lang ]; then
  lang=${2:?"--lang needs a language, for example es"}
  shift 2
fi
out=$root/screenshots${lang:+/$lang}

if [ "${1:-}" != --inside ]; then
  bash scripts/install-deps.sh
  # Only this script needs these two: screen capture and typing into the window.
  missing=()
  for p in imagemagick xdotool; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || { echo "Run as root: apt-get install -y ${missing[*]}" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target teodal-calendar teodal-devserver teodal-approve-in-browser
  mkdir -p "$out"
  exec env TEODAL_BUILD_DIR="$build" xvfb-run -a -s "-screen 0 1080x800x24" \
    dbus-run-session -- bash "$0" ${lang:+--lang "$lang"} --inside
fi

# Inside the virtual display and a private D-Bus session: a fresh home, so no stored address or
# session is found, and an unlocked keyring of its own for the session cookie.
work=$(mktemp -d)
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export TZ=${TZ:-Europe/Madrid} # a zone with a name, as on a person's desktop, rather than bare UTC
mkdir -p "$HOME"
echo -n screenshots | gnome-keyring-daemon --unlock --components=secrets >/dev/null

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=18731
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
"$build/devserver/teodal-devserver" --port "$port" --database :memory: --seed-events "${TEODAL_SEED_EVENTS:-0}" \
  >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  grep -qm1 '^http' "$work/server.log" && break
  sleep 0.1
done
origin=$(grep -m1 '^http' "$work/server.log") || { echo "The development server did not start." >&2; exit 1; }

cat >"$work/browser" <<BROWSER
#!/bin/sh
exec "$build/tests/e2e/teodal-approve-in-browser" "\$1" 6 >>"$work/browser.log" 2>&1
BROWSER
chmod +x "$work/browser"
export BROWSER=$work/browser

# The app alone speaks the language: the locale's name for its dates, LANGUAGE for its catalogue.
if [ -n "$lang" ]; then
  territory=$(echo "$lang" | tr '[:lower:]' '[:upper:]')
  env LANG="${lang}_${territory}.UTF-8" LANGUAGE="$lang" "$build/src/app/teodal-calendar" >"$work/app.log" 2>&1 &
else
  "$build/src/app/teodal-calendar" >"$work/app.log" 2>&1 &
fi
app=$!
pids+=("$app")
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$app" | head -n1)
sleep 2
import -window root "$out/sign-in.png"

xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 15 "$origin"
xdotool key Return
sleep 2.5
import -window root "$out/waiting.png"

sleep 10
import -window root "$out/workspace.png"

# Each sheet by its shortcut, pictured, then closed before the next.
sheet() {
  xdotool windowfocus --sync "$window"
  xdotool key --clearmodifiers "$1"
  sleep 1.5
  if [ -n "${3:-}" ]; then
    xdotool type --delay 15 "$3"
    sleep 2
  fi
  import -window root "$out/$2.png"
  xdotool key --clearmodifiers Escape
  sleep 0.5
}
sheet ctrl+n editor
sheet ctrl+k quick-add "Lunch with Ben tomorrow at 1pm for an hour"
sheet ctrl+comma settings
echo "Screenshots in $out:"
ls -1 "$out"
