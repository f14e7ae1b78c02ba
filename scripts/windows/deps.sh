#!/usr/bin/env bash
# The Debian packages the Windows build, its tests under Wine and the setup program need; kept
# apart from scripts/deps.sh so that the Linux build does not need them.
set -euo pipefail
"$(dirname "$0")/../deps.sh" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools \
  wine64 nsis tcl perl make xz-utils autoconf automake libtool python3-pil
