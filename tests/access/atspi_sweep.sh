#!/usr/bin/env bash
# Runs atspi_sweep.py on a virtual X display with a session bus of its own and the
# accessibility bus started on it. usage: atspi_sweep.sh PROGRAM MORV_DB
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
for tool in xvfb-run dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/deps.sh installs it)"; exit 77; }
done
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || { echo "SKIPPED: python3-pyatspi is missing"; exit 77; }
exec xvfb-run -a dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately & launcher=$!
  sleep 1
  /usr/bin/python3 "$0" "$1" "$2"; rc=$?
  kill $launcher 2>/dev/null
  exit $rc' "$here/atspi_sweep.py" "$1" "$2"
