#!/usr/bin/env bash
# A Windows process (the cross-built lock-child under Wine) and a Linux one on one folder at once:
# both append in a loop (every number once, nothing lost), then each holds a record lock while the
# other is refused. The table is then read by dbfread (dbf-crosscheck), a reader we did not write.
#   race.sh LINUX_LOCK_CHILD WINDOWS_LOCK_CHILD.exe DBF_CROSSCHECK
# Exit 77 (skipped) without a Windows build.
set -euo pipefail
linux=$1 windows=$2 crosscheck=$3
here=$(cd "$(dirname "$0")" && pwd)
wine=$here/../../scripts/windows/wine-run.sh
if [ ! -f "$windows" ]; then
  echo "skipped: no Windows build ($windows; scripts/windows/build.sh makes it)"
  exit 77
fi
n=${MORV_RACE_APPENDS:-150}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

"$linux" create "$dir"
# Wine's first start of a prefix takes seconds: start it before the race so both really overlap.
"$wine" "$windows" try "$dir" >/dev/null
"$linux" append "$dir" "$n" linux >"$dir/linux.out" &
lpid=$!
"$wine" "$windows" append "$dir" "$n" windows >"$dir/windows.out" &
wpid=$!
for _ in $(seq 1 600); do
  grep -q ready "$dir/linux.out" && grep -q ready "$dir/windows.out" && break
  sleep 0.1
done
touch "$dir/go"
wait $lpid || fail "the Linux process failed"
wait $wpid || fail "the Windows process failed"

"$crosscheck" "$dir" || fail "dbfread finds the table damaged"
"$crosscheck" "$dir" --dump counter | python3 -c '
import json, sys
n = int(sys.argv[1])
rows = [json.loads(line) for line in sys.stdin]
nums = [int(r["N"]) for r in rows[1:]]
by = {}
for r in rows[1:]:
    by[r["NAME"]] = by.get(r["NAME"], 0) + 1
assert len(rows) == 2 * n + 1, "%d rows, %d expected" % (len(rows), 2 * n + 1)
assert sorted(nums) == list(range(1, 2 * n + 1)), "numbers not 1..%d once each" % (2 * n)
assert by == {"linux": n, "windows": n}, by
# Who went when, for the log: Wine waits for a lock a Linux process holds by looking again now and
# then, so a Linux process appending in a tight loop mostly goes first.
print("order: " + "".join(r["NAME"][0] for r in rows[1:]))
print("appends: %d rows, numbers 1..%d once each" % (2 * n, 2 * n))
' "$n" || fail "the appended rows"

# One holds the first record in edit; the other is refused with the program's words.
lock_pair() { # holder, other, holder-name
  local holder=$1 other=$2 fifo=$dir/hold.fifo out
  rm -f "$fifo"
  mkfifo "$fifo"
  $holder hold "$dir" <"$fifo" >"$dir/hold.out" &
  local hpid=$!
  exec 9>"$fifo"
  for _ in $(seq 1 300); do
    grep -q locked "$dir/hold.out" 2>/dev/null && break
    sleep 0.1
  done
  grep -q locked "$dir/hold.out" || fail "$3 did not take the lock"
  out=$($other try "$dir" | tr -d '\r' || true)
  [ "$out" = "Record locked by another user." ] || fail "$3 holds the record, the other got: $out"
  echo >&9
  exec 9>&-
  wait $hpid || fail "$3 could not post"
  out=$($other try "$dir" | tr -d '\r')
  [ "$out" = "ok held" ] || fail "after $3 posted the other got: $out"
  echo "record lock held by $3: the other refused, then sees its post"
}
lock_pair "$linux" "$wine $windows" Linux
lock_pair "$wine $windows" "$linux" Windows
"$crosscheck" "$dir" || fail "dbfread finds the table damaged after the edits"
echo "PASS"
