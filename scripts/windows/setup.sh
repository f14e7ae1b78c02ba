#!/usr/bin/env bash
# Makes the setup program build-windows/morvanta-VERSION-setup.exe from the cross build (made
# first by build.sh when missing): stages the installed tree, lists its files for the installer
# and the uninstaller (which removes exactly those), and runs makensis.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$here/versions.sh"
out=${MORV_WIN_BUILD:-$repo/build-windows}
[ -f "$out/morvanta.exe" ] || [ -f "$out/src/morvanta.exe" ] || MORV_CORE_ONLY=OFF "$here/build.sh"
work=$out/setup
rm -rf "$work" && mkdir -p "$work/stage"
cmake --install "$out" --prefix "$work/stage" --strip >"$work/install.log"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $out/CMakeCache.txt" >&2; exit 1; }

win() { printf '%s' "$1" | sed 's|^\./||; s|/|\\|g'; }
(
  cd "$work/stage"
  last=
  find . -type f | LC_ALL=C sort | while read -r f; do
    d=$(dirname "$f")
    if [ "$d" != "$last" ]; then
      if [ "$d" = . ]; then echo 'SetOutPath "$INSTDIR"'; else echo "SetOutPath \"\$INSTDIR\\$(win "$d")\""; fi
      last=$d
    fi
    echo "File \"$work/stage/${f#./}\""
  done >"$work/install-files.nsh"
  find . -type f | LC_ALL=C sort | while read -r f; do echo "Delete \"\$INSTDIR\\$(win "$f")\""; done \
    >"$work/uninstall-files.nsh"
  # Deepest folders first; RMDir without /r leaves a folder that holds anything else.
  find . -mindepth 1 -type d | awk -F/ '{ print NF "\t" $0 }' | sort -rn | cut -f2 |
    while read -r d; do echo "RMDir \"\$INSTDIR\\$(win "$d")\""; done >>"$work/uninstall-files.nsh"
)
setup=$out/morvanta-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DLISTS="$work" -DOUTFILE="$setup" \
  "$repo/resources/windows/setup.nsi"
echo "$setup"
