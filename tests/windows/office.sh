#!/usr/bin/env bash
# A mixed office: a Windows workstation (the cross-built workstation child under Wine) and a Linux
# one on one database folder at once, doing what the registration, testing and test-server code
# does: registering testees in one institution (every number once), answering the same testee's
# test (one row per question), and running whole tests through the server's write side. Then the
# Linux morv-db check, dbfread, and where ../shared has them, mdx-peer and peer-check.
#   office.sh LINUX_CHILD WINDOWS_CHILD.exe MORV_DB SHARED_TOOLS_DIR
# Exit 77 (skipped) without a Windows build.
set -uo pipefail
linux=$1 windows=$2 morvdb=$3 shared=$4
here=$(cd "$(dirname "$0")" && pwd)
wine=$here/../../scripts/windows/wine-run.sh
[ -f "$windows" ] || { echo "skipped: no Windows build ($windows; scripts/windows/build.sh makes it)"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
n=${MORV_OFFICE_ROUNDS:-100}
export QT_QPA_PLATFORM=offscreen

"$morvdb" sample "$dir/db" >/dev/null || fail "morv-db sample"
db=$dir/db
# Wine's first start of a prefix takes seconds: start it before the races so both really overlap.
"$wine" "$windows" >/dev/null 2>&1
both() { # mode count: both workstations at once; their outputs in $dir/{linux,windows}.out
  rm -f "$dir/go"
  export MORV_START_AFTER=$dir/go
  "$linux" "$1" "$db" "$2" >"$dir/linux.out" 2>&1 &
  local l=$!
  "$wine" "$windows" "$1" "$db" "$2" >"$dir/windows.out" 2>&1 &
  local w=$!
  for _ in $(seq 1 600); do
    grep -q ready "$dir/linux.out" && grep -q ready "$dir/windows.out" && break
    sleep 0.1
  done
  touch "$dir/go"
  wait $l || { cat "$dir/linux.out"; fail "the Linux workstation's $1 failed"; }
  wait $w || { cat "$dir/windows.out"; fail "the Windows workstation's $1 failed"; }
}
rows() { # table: its rows as JSON lines, read by dbfread
  /usr/bin/python3 - "$db/$1" <<'PY'
import json, sys
from dbfread import DBF
for r in DBF(sys.argv[1], encoding='cp866', char_decode_errors='strict'):
    print(json.dumps({k: (v.isoformat() if hasattr(v, 'isoformat') else v) for k, v in r.items()}, ensure_ascii=False))
PY
}

before=$(rows bd_anket.dbf | wc -l)
both testees "$n"
rows bd_anket.dbf | /usr/bin/python3 -c '
import json, sys
n, before = int(sys.argv[1]), int(sys.argv[2])
rows = [json.loads(l) for l in sys.stdin]
assert len(rows) == before + 2 * n, "%d rows, %d expected" % (len(rows), before + 2 * n)
ours = [r["NOMTESTIR"] for r in rows if r["NOMU"] == 1]
assert len(ours) == len(set(ours)), "a testee number given twice: %s" % sorted(ours)
# Who went when, for the log: the order in which the rows of the two were stored.
who = [r["FAMTESTIR"].split()[0] for r in rows[before:]]
switches = sum(1 for a, b in zip(who, who[1:]) if a != b)
print("testees: %d registered at once, numbers unique; the two took turns %d times" % (2 * n, switches))
' "$n" "$before" || fail "testees registered at once"

both answers 30
rows bd_rezult.dbf | /usr/bin/python3 -c '
import json, sys
rows = [json.loads(l) for l in sys.stdin]
ours = [r["NOMVOPR"] for r in rows if (r["NOMU"], r["NOMTESTIR"], r["NOMTESTA"]) == (1, 1, 1)]
missing = sorted(set(range(1, 31)) - set(ours))
twice = sorted(q for q in set(ours) if ours.count(q) > 1)
assert not missing and not twice, "missing %s, twice %s" % (missing, twice)
print("answers: the same testee answered at once, one row per question")
' || fail "the same testee answered at once"

both runs 4
/usr/bin/python3 - "$dir/linux.out" "$dir/windows.out" <<'PY' || fail "whole runs"
import sys
got = [int(l.split()[1]) for f in sys.argv[1:] for l in open(f) if l.startswith('testee ')]
assert len(got) == 8 and len(set(got)) == 8, got
print('runs: 8 testees registered and answered through the server write side, numbers', sorted(got))
PY

"$morvdb" check "$db" >"$dir/check.out" 2>&1 || { cat "$dir/check.out"; fail "morv-db check"; }
echo "morv-db check: clean"
if [ -x "$shared/mdx-peer" ]; then
  for t in bd_anket bd_rezult; do
    "$shared/mdx-peer" check "$db/$t.dbf" >"$dir/peer.out" 2>&1 || { cat "$dir/peer.out"; fail "mdx-peer on $t"; }
  done
  echo "mdx-peer: the indexes hold"
else
  echo "mdx-peer: not beside this checkout, not run"
fi
if [ -x "$shared/peer-check" ]; then
  "$shared/peer-check" "$db" >"$dir/peer.out" 2>&1 || { cat "$dir/peer.out"; fail "peer-check"; }
  echo "peer-check: clean"
else
  echo "peer-check: not beside this checkout, not run"
fi
echo PASS
