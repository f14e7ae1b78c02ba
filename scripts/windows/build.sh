#!/usr/bin/env bash
# Cross-builds the program for Windows into build-windows/ with the toolchain of toolchain.sh
# (made first when it is missing). Extra arguments go to the build, e.g. --target morv-db.
# The host Qt (moc, rcc, uic) comes from Debian's qt6-base-dev, as in the Linux build. -O2 as on
# Linux: GCC 12's -O3 warns falsely (-Wrestrict) inside std::string.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$here/versions.sh"
out=${MORV_WIN_BUILD:-$repo/build-windows}

[ -e "$MORV_WIN_PREFIX/.stamps/libpq" ] || [ -n "${MORV_WIN_NO_TOOLCHAIN:-}" ] || "$here/toolchain.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [ ! -f "$out/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DMORV_WIN_PREFIX="$MORV_WIN_PREFIX" -DCMAKE_PREFIX_PATH="$MORV_WIN_PREFIX;$MORV_WIN_PREFIX/qt6-mingw" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DMORV_BUILD_BENCH=OFF -DMORV_CORE_ONLY="${MORV_CORE_ONLY:-OFF}" -DMORV_WERROR="${MORV_WERROR:-OFF}" "${launcher[@]}"
fi
cmake --build "$out" -j"${MORV_WIN_JOBS:-2}" "$@"
