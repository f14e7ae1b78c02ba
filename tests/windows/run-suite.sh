#!/usr/bin/env bash
# The Windows build's own tests, run under Wine by its CTest (the cross build sets Wine as the
# emulator); exit 77 (skipped) when there is no Windows build: scripts/windows/build.sh makes it.
set -uo pipefail
win=$1
if [ ! -f "$win/CTestTestfile.cmake" ]; then
  echo "skipped: no Windows build in $win (scripts/windows/build.sh makes it)"
  exit 77
fi
ctest --test-dir "$win" --output-on-failure -j2 -L windows
