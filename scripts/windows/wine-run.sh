#!/usr/bin/env bash
# Runs a cross-built program under wine64 with no display: the Qt and MinGW runtime libraries of
# the toolchain on its path, the offscreen platform, a Wine prefix of the project's own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/versions.sh"
export WINEPREFIX=${MORV_WINEPREFIX:-/var/tmp/morvanta-wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs on a new prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
export WINEPATH="Z:$MORV_WIN_PREFIX/qt6-mingw/bin;Z:$gcc_dir;Z:/usr/x86_64-w64-mingw32/lib"
export QT_PLUGIN_PATH="Z:$MORV_WIN_PREFIX/qt6-mingw/plugins"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64
exec "$wine" "$@"
