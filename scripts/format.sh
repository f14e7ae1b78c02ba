#!/usr/bin/env bash
# Formats the C++ sources with .clang-format; --check only lists the files that would change
# and fails if there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
case ${1:-} in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
scripts/deps.sh clang-format
mapfile -d '' files < <(find src tools tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if [[ $check -eq 0 ]]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --style=file --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [[ ${#bad[@]} -gt 0 ]]; then
  printf 'Not formatted (run scripts/format.sh):\n'; printf '  %s\n' "${bad[@]}"
  exit 1
fi
