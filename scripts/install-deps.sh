#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the app need; installs only what is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qtkeychain-qt6-dev qcoro-qt6-dev
  libicu-dev tzdata libsqlite3-dev libcpp-httplib-dev libical-dev libssl-dev
  gnome-keyring dbus dbus-x11 libsecret-tools xvfb xauth openssl xdg-utils trayer at-spi2-core python3-pyatspi
  librsvg2-bin qt6-l10n-tools qt6-translations-l10n desktop-file-utils appstream file dpkg-dev
)
# The development server and the tests use http://localhost; a bare container may lack the name.
if ! getent hosts localhost >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    echo '127.0.0.1 localhost' >> /etc/hosts
  else
    echo "The name localhost does not resolve: add '127.0.0.1 localhost' to /etc/hosts." >&2
    exit 1
  fi
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root: apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
