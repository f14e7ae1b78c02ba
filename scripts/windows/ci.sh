#!/usr/bin/env bash
# CI's windows stage: the cross build, the setup program and the tests under Wine (ctest -L windows
# in the Linux build), with the toolchain already on the machine; without one it says so and CI
# goes on, as making the toolchain takes far longer than CI may (scripts/windows/toolchain.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$here/versions.sh"
if [ ! -e "$MORV_WIN_PREFIX/.stamps/libpq" ]; then
  echo "windows stage skipped: no toolchain (scripts/windows/toolchain.sh makes it)"
  exit 0
fi
"$here/deps.sh"
MORV_WERROR=ON "$here/build.sh"
"$here/setup.sh"
cmake --build "$repo/build" --target lock-child workstation-child morv-db
QT_QPA_PLATFORM=offscreen ctest --test-dir "$repo/build" --output-on-failure -L windows
