#!/usr/bin/env bash
# Builds the two Debian packages from a built tree and checks that each file lands where a Debian
# system looks for it, that the control fields are filled in, and that an install under another
# prefix keeps the same layout. Usage: check_packages.sh BUILD_DIR APPLICATION_ID
set -euo pipefail
build=$1 id=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
app=$(ls "$work"/out/teodal-calendar_*.deb) || fail "no teodal-calendar package"
server=$(ls "$work"/out/teodal-devserver_*.deb) || fail "no teodal-devserver package"

dpkg-deb -c "$app" | awk '{print $6}' | sed 's|^\./|/|' >"$work/app.files"
dpkg-deb -c "$server" | awk '{print $6}' | sed 's|^\./|/|' >"$work/server.files"
expect() { # LIST PATH…
  local list=$1; shift
  for path; do grep -qxF "$path" "$work/$list.files" || fail "$path missing from $list package"; done
}
expect app /usr/bin/teodal-calendar "/usr/share/applications/$id.desktop" "/usr/share/metainfo/$id.metainfo.xml" \
  "/usr/share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 22 24 32 48 64 128 256; do expect app "/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"; done
if [ -n "${TEODAL_EXPECT_TRANSLATIONS:-}" ]; then
  for lang in $TEODAL_EXPECT_TRANSLATIONS; do expect app "/usr/share/teodal-calendar/translations/teodal_$lang.qm"; done
fi
expect server /usr/bin/teodal-devserver
! grep -q teodal-devserver "$work/app.files" || fail "the app package carries the server"
! grep -q /usr/share "$work/server.files" || fail "the server package carries desktop files"

field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$app" Package)" = teodal-calendar ] || fail "app package name"
[ "$(field "$server" Package)" = teodal-devserver ] || fail "server package name"
for deb in "$app" "$server"; do
  depends=$(field "$deb" Depends)
  [[ $depends == *libc6* && $depends == *libqt6core6* ]] || fail "$(basename "$deb"): Depends not computed: '$depends'"
  [ -n "$(field "$deb" Description)" ] || fail "$(basename "$deb"): no description"
done
[[ $(field "$app" Depends) == *libqt6widgets6* ]] || fail "the app does not depend on Qt Widgets"
[[ $(field "$app" Recommends) == *gnome-keyring* ]] || fail "the app does not recommend a Secret Service store"

# Another prefix: the same layout below it, nothing outside it.
cmake --install "$build" --prefix "$work/opt" --component app >/dev/null
for path in bin/teodal-calendar "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
  "share/icons/hicolor/48x48/apps/$id.png"; do
  [ -f "$work/opt/$path" ] || fail "$path missing under another prefix"
done
echo "packages and layout as expected"
