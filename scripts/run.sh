#!/usr/bin/env bash
# Builds the program, makes the sample database in sample-db/ (once) and starts the program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
[ -f sample-db/bd_test.DBF ] || build/tools/morv-db sample sample-db
# The alias lives in a file of the work tree, so the user's own configuration is left alone.
export MORV_ALIASES="$PWD/build/aliases.ini"
build/tools/morv-db alias morv sample-db >/dev/null
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec xvfb-run -a build/src/morvanta "$@"
fi
exec build/src/morvanta "$@"
