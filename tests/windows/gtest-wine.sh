#!/usr/bin/env bash
# Runs a GoogleTest program of the Windows build under Wine and passes only when GoogleTest
# itself says every test ran and none failed: a crash under Wine ends in its debugger, whose
# exit code is 0. usage: gtest-wine.sh PROGRAM.exe [ARGS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Into a file, not a pipe: Wine's own services started by the run keep a pipe open after it ends.
"$here/../../scripts/windows/wine-run.sh" "$@" >"$log" 2>&1
rc=$?
cat "$log"
if ! grep -q '^\[==========\] .* ran\.' "$log"; then
  echo "gtest-wine.sh: the run ended before GoogleTest's summary (a crash?); exit code $rc"
  exit 1
fi
if grep -q '^\[  FAILED  \]' "$log"; then
  exit 1
fi
exit "$rc"
