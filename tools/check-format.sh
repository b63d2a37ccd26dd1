#!/usr/bin/env bash
# Checks that every C++ file of src/, tests/ and fuzz/ is formatted as .clang-format says;
# prints the files that are not and exits 1. With -i it formats them instead.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
mapfile -t files < <(find src tests fuzz \( -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${1:-}" = "-i" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f (tools/check-format.sh -i formats it)"
    bad=1
  fi
done
exit $bad
