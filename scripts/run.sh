#!/usr/bin/env bash
# Installs what is missing, builds the app and the development server (Release), starts the server
# on port 8731 with its database in the user's data folder unless something already answers on that
# port, runs the app, and stops the server it started when the app exits.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target teodal-calendar teodal-devserver

port=8731
data="${XDG_DATA_HOME:-$HOME/.local/share}/teodal-devserver"

answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

server=
stop_server() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -TERM "$server"
    wait "$server" 2>/dev/null || true
  fi
}
trap stop_server EXIT
trap 'exit 130' INT TERM

if answers; then
  echo "Using the server already answering on port $port."
else
  mkdir -p "$data"
  "$build/devserver/teodal-devserver" --port "$port" --database "$data/calendar.sqlite" &
  server=$!
  for _ in $(seq 1 100); do
    answers && break
    kill -0 "$server" 2>/dev/null || { echo "The development server did not start." >&2; exit 1; }
    sleep 0.1
  done
  answers || { echo "The development server did not answer on port $port." >&2; exit 1; }
fi

"$build/src/app/teodal-calendar"
