#!/usr/bin/env bash
# Builds the program, makes the sample database in sample-db/ (once) and starts the program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
[ -f sample-db/bd_test.DBF ] || build/tools/morv-db sample sample-db
# A sample database made before the tables had their index files gets them.
ls sample-db/*.MDX >/dev/null 2>&1 || build/tools/morv-db reindex sample-db >/dev/null
# The alias lives in a file of the work tree, so the user's own configuration is left alone.
export MORV_ALIASES="$PWD/build/aliases.ini"
build/tools/morv-db alias morv sample-db >/dev/null
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
The program is built and the sample database is ready, but there is no display to show its windows
(neither DISPLAY nor WAYLAND_DISPLAY is set). Run it from a desktop session, or on a virtual X server:
    xvfb-run -a ./scripts/run.sh
or see the windows as pictures: ./scripts/test.sh writes every window to build/screenshots/.
MSG
  exit 2
fi
exec build/src/morvanta "$@"
