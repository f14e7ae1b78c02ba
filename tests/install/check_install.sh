#!/usr/bin/env bash
# The install tree and the Debian package: what lands where, the validators, and the installed
# program started on a database from a scratch root.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expected="bin/morv-db
bin/morvanta
share/applications/org.morvanta.Morvanta.desktop
share/doc/morvanta/help/morvanta.html
share/icons/hicolor/128x128/apps/morvanta.png
share/icons/hicolor/16x16/apps/morvanta.png
share/icons/hicolor/22x22/apps/morvanta.png
share/icons/hicolor/24x24/apps/morvanta.png
share/icons/hicolor/256x256/apps/morvanta.png
share/icons/hicolor/32x32/apps/morvanta.png
share/icons/hicolor/48x48/apps/morvanta.png
share/icons/hicolor/64x64/apps/morvanta.png
share/icons/hicolor/scalable/apps/morvanta.svg
share/metainfo/org.morvanta.Morvanta.metainfo.xml"

# 1. cmake --install: exactly these files, nothing of the tests or benchmarks.
cmake --install "$build" --prefix "$work/tree" >/dev/null
got=$(cd "$work/tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$got" = "$(echo "$expected" | LC_ALL=C sort)" ] || fail "install tree differs:
$(diff <(echo "$expected" | LC_ALL=C sort) <(echo "$got") || true)"
for size in 16 32 256; do
  dims=$(file -b "$work/tree/share/icons/hicolor/${size}x${size}/apps/morvanta.png")
  [[ "$dims" == *"$size x $size"* ]] || fail "icon ${size}: $dims"
done
grep -q '<path' "$work/tree/share/icons/hicolor/scalable/apps/morvanta.svg" || fail "the scalable icon has no vector paths"
desktop-file-validate "$work/tree/share/applications/org.morvanta.Morvanta.desktop" || fail "desktop entry"
grep -qx 'Name=Психологическое тестирование' "$work/tree/share/applications/org.morvanta.Morvanta.desktop" || fail "desktop name"
appstreamcli validate --no-net "$work/tree/share/metainfo/org.morvanta.Morvanta.metainfo.xml" >/dev/null ||
  fail "AppStream metadata: $(appstreamcli validate --no-net "$work/tree/share/metainfo/org.morvanta.Morvanta.metainfo.xml")"

# 2. The Debian package: its layout and declared dependencies.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null) || fail "cpack"
deb=$(ls "$work"/pkg/*.deb)
layout=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | LC_ALL=C sort)
[ "$layout" = "$(echo "$expected" | LC_ALL=C sort)" ] || fail "package layout differs:
$(diff <(echo "$expected" | LC_ALL=C sort) <(echo "$layout") || true)"
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libsqlite3-0 fonts-liberation; do
  [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need: $depends"
done
# The charts and the icon are drawn by the program: no module a Windows build cannot have.
for gone in libqt6charts6 libqt6svg6; do
  [[ "$depends" != *"$gone"* ]] || fail "Depends names $gone: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = morvanta ] || fail "package name"

# 3. Installed into a scratch root, the programs make a database and the program starts on it.
dpkg-deb -x "$deb" "$work/root"
export MORV_ALIASES="$work/aliases.ini" QT_QPA_PLATFORM=offscreen
"$work/root/usr/bin/morv-db" sample "$work/db" >/dev/null
"$work/root/usr/bin/morv-db" alias morv "$work/db" >/dev/null
set +e
timeout 6 "$work/root/usr/bin/morvanta" >"$work/out" 2>&1
rc=$?
set -e
[ $rc -eq 124 ] || fail "the installed program ended (status $rc) instead of running: $(cat "$work/out")"
! grep -qi "cannot\|error\|not found" "$work/out" || fail "the installed program reported: $(cat "$work/out")"
# The same on a folder without the tables: the start fails with the engine's message.
mkdir "$work/empty"
"$work/root/usr/bin/morv-db" alias morv "$work/empty" >/dev/null
set +e
timeout 6 "$work/root/usr/bin/morvanta" >"$work/out" 2>&1
set -e
grep -q "empty" "$work/out" || fail "a start on an empty folder said: $(cat "$work/out")"
echo "install tree, package and installed program: ok"
