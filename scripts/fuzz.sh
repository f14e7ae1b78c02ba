#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz and runs each for a time or a number of runs.
#   scripts/fuzz.sh 300              each target 300 s, one after the other
#   scripts/fuzz.sh -p 600           both at once (one process each)
#   scripts/fuzz.sh -r 100000 fuzz_dbf
# Prints libFuzzer's final "Done N runs in S second(s)" line per target; exits 1 on a finding,
# whose input lands in build-fuzz/fuzz-artifacts/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
limit=(-max_total_time=60)
parallel=0
targets=()

while [[ $# -gt 0 ]]; do
  case $1 in
    -p) parallel=1 ;;
    -r) limit=(-runs="$2"); shift ;;
    [0-9]*) limit=(-max_total_time="$1") ;;
    fuzz_*) targets+=("$1") ;;
    *) echo "usage: $0 [-p] [-r RUNS | SECONDS] [fuzz_dbf] [fuzz_filter] [fuzz_mdx]" >&2; exit 2 ;;
  esac
  shift
done
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_dbf fuzz_filter fuzz_mdx)

"$root/scripts/deps.sh" clang libclang-rt-14-dev
if [[ ! -f $build/build.ninja ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DMORV_BUILD_FUZZ=ON -DMORV_BUILD_TESTS=OFF -DMORV_BUILD_BENCH=OFF
fi
ninja -C "$build" "${targets[@]}"

# Scratch dirs of crashed runs (named fuzz_<target>.<pid>.*) whose process is gone.
for d in /dev/shm/fuzz_dbf.* /dev/shm/fuzz_filter.* "${TMPDIR:-/tmp}"/fuzz_dbf.* "${TMPDIR:-/tmp}"/fuzz_filter.* "${TMPDIR:-/tmp}"/fuzz_mdx.*; do
  [[ -d $d ]] || continue
  pid=${d##*/}; pid=${pid#*.}; pid=${pid%%.*}
  [[ $pid =~ ^[0-9]+$ ]] && ! kill -0 "$pid" 2>/dev/null && rm -rf -- "$d"
done

run() {
  local name=$1 seeds dict
  seeds=$root/tests/fuzz/corpus/${name#fuzz_}
  dict=$root/tests/fuzz/corpus/${name#fuzz_}.dict
  local work=$build/fuzz-corpus/$name log=$build/fuzz-logs/$name.log
  mkdir -p "$work" "$build/fuzz-artifacts" "$build/fuzz-logs"
  local extra=()
  # Tables plus memo need room; filters get room for deep nesting.
  case $name in fuzz_dbf) extra=(-max_len=16384) ;; fuzz_mdx) extra=(-max_len=65536) ;; *) extra=(-max_len=32768) ;; esac
  # New inputs go to the work dir (first), the committed seeds stay untouched.
  "$build/tests/fuzz/$name" "${limit[@]}" "${extra[@]}" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="$dict" -artifact_prefix="$build/fuzz-artifacts/$name-" "$work" "$seeds" >"$log" 2>&1
}

report() {
  local name=$1 status=$2 log=$build/fuzz-logs/$1.log
  if [[ $status -eq 0 ]]; then
    echo "$name: $(grep -E '^Done [0-9]+ runs' "$log" | tail -1)"
  else
    echo "$name: FINDING (exit $status), log $log"
    grep -E 'ERROR|runtime error|SUMMARY|Test unit written' "$log" | head -5
  fi
}

failed=0
if [[ $parallel -eq 1 ]]; then
  declare -A pids
  for t in "${targets[@]}"; do run "$t" & pids[$t]=$!; done
  for t in "${targets[@]}"; do
    status=0; wait "${pids[$t]}" || status=$?
    report "$t" $status; [[ $status -eq 0 ]] || failed=1
  done
else
  for t in "${targets[@]}"; do
    status=0; run "$t" || status=$?
    report "$t" $status; [[ $status -eq 0 ]] || failed=1
  done
fi
exit $failed
