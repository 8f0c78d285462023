#!/usr/bin/env bash
# Takes PNG screenshots of the app on a virtual X display: the sign-in view, the waiting state with
# its verification code, and the calendar with events, signed in to a development server that runs
# with an in-memory database. The browser is played by teodal-approve-in-browser, which approves
# the request on the server's approval page a few seconds after the app opens it.
# Writes screenshots/sign-in.png, screenshots/waiting.png and screenshots/workspace.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/release
out=$root/screenshots

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
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target teodal-calendar teodal-devserver teodal-approve-in-browser
  mkdir -p "$out"
  exec xvfb-run -a -s "-screen 0 1080x800x24" dbus-run-session -- bash "$0" --inside
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
"$build/devserver/teodal-devserver" --port "$port" --database :memory: >"$work/server.log" 2>&1 &
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

"$build/src/app/teodal-calendar" >"$work/app.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --name '^Calendar$' | head -n1)
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
echo "Screenshots in $out:"
ls -1 "$out"
