#!/usr/bin/env bash
# The setup program under Wine: a silent install into a new Wine prefix, the installed programs
# (morv-db.exe makes a database that dbfread reads natively; morvanta.exe shows the first-start
# window, then the main window on that database, on a virtual display), and a silent uninstall
# that leaves the database. Screenshots: build/screenshots/Windows*.png. Exit 77 without a setup.
#   installed.sh BUILD-WINDOWS SCREENSHOT-DIR
set -uo pipefail
win=$(cd "$1" && pwd) shots=$2
setup=$(ls "$win"/morvanta-*-setup.exe 2>/dev/null | head -1)
if [ -z "$setup" ]; then
  echo "skipped: no setup program in $win (scripts/windows/setup.sh makes it)"
  exit 77
fi
for tool in wine wineserver xvfb-run /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c 'import dbfread, PIL' 2>/dev/null || { echo "skipped: python3-dbfread or python3-pil is missing"; exit 77; }
work=$(mktemp -d /var/tmp/morv-installed.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64
fail() { echo "FAILED: $*"; exit 1; }
mkdir -p "$shots"

"$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot"
"$wine" "$setup" /S || fail "the silent install exited $?"
wineserver -w
inst="$WINEPREFIX/drive_c/Program Files/Morvanta"
for f in morvanta.exe morv-db.exe uninstall.exe Qt6Core.dll Qt6Widgets.dll platforms/qwindows.dll libstdc++-6.dll; do
  [ -f "$inst/$f" ] || fail "not installed: $f"
done
link=$(find "$WINEPREFIX/drive_c" -name 'Психологическое тестирование.lnk' | head -1)
[ -n "$link" ] || fail "no Start-menu entry"
echo "installed into C:\\Program Files\\Morvanta, Start-menu entry $(basename "$link")"

# The installed morv-db.exe makes the demonstration database, inside the program's folder as a
# careless user might (the uninstaller must keep it), under a Cyrillic name; dbfread reads it here.
db=$inst/База
"$wine" "$inst/morv-db.exe" sample 'C:\Program Files\Morvanta\База' >"$work/sample.log" 2>&1 || { cat "$work/sample.log"; fail "morv-db.exe sample"; }
/usr/bin/python3 - "$db" <<'PY' || fail "dbfread on the tables morv-db.exe wrote"
import sys, glob, os
from dbfread import DBF
tables = sorted(glob.glob(os.path.join(sys.argv[1], '*.dbf')) + glob.glob(os.path.join(sys.argv[1], '*.DBF')))
assert len(tables) >= 10, tables
rows = {os.path.basename(t).lower(): len(list(DBF(t, encoding='cp866', char_decode_errors='strict'))) for t in tables}
assert rows.get('bd_test.dbf', 0) > 0 and rows.get('bd_vopros.dbf', 0) > 0, rows
print('dbfread:', ', '.join(f'{k} {v}' for k, v in rows.items()))
PY

# The window program on a virtual display: first the first-start window (no alias yet), then,
# with the alias bound, the main window.
shot() { # name, seconds to wait, program arguments...
  local name=$1 wait=$2
  shift 2
  # A Wine session begun without a display (the console programs' ones) has no window driver:
  # wait for it to end so that the window program begins one on the virtual display.
  wineserver -w
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    "$0" "$@" >"'"$work/$name.log"'" 2>&1 & pid=$!
    sleep '"$wait"'
    /usr/bin/python3 -c "import os, sys; from PIL import ImageGrab; ImageGrab.grab(xdisplay=os.environ[\"DISPLAY\"]).save(sys.argv[1])" "'"$shots/$name"'"
    kill $pid 2>/dev/null; wineserver -k >/dev/null 2>&1; true' "$wine" "$@"
  [ -s "$shots/$name" ] || { cat "$work/$name.log"; fail "no screenshot $name"; }
  echo "screenshot $shots/$name"
}
shot WindowsFirstStart.png 25 "$inst/morvanta.exe" --desktop
"$wine" "$inst/morv-db.exe" alias morv 'C:\Program Files\Morvanta\База' >/dev/null 2>&1 || fail "morv-db.exe alias"
shot WindowsMainWindow.png 25 "$inst/morvanta.exe" --desktop
/usr/bin/python3 - "$shots/WindowsFirstStart.png" "$shots/WindowsMainWindow.png" <<'PY' || { cat "$work"/*.png.log; fail "a screenshot is blank"; }
import sys
from PIL import Image
for f in sys.argv[1:]:
    colours = len(Image.open(f).convert('RGB').getcolors(1 << 24))
    assert colours > 20, f'{f}: {colours} colours: no window drawn'
PY

# The silent uninstall removes the program and keeps the database.
"$wine" "$inst/uninstall.exe" /S "_?=C:\\Program Files\\Morvanta" || fail "the silent uninstall exited $?"
wineserver -w
for f in morvanta.exe morv-db.exe Qt6Core.dll platforms/qwindows.dll; do
  [ ! -f "$inst/$f" ] || fail "$f left after the uninstall"
done
[ "$(ls "$db" | grep -ci '\.dbf$')" -ge 10 ] || fail "the uninstall removed the database"
echo "uninstalled; the database is kept"
