#!/usr/bin/env bash
# Builds bitloupe-cli if needed and lists the syntax tree of a bundled sample stream (or of
# the file given as the first argument; further arguments go to `bitloupe-cli tree`).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target bitloupe-cli
file="${1:-$top/tests/data/mpeg2-ps.mpg}"
[ $# -gt 0 ] && shift
exec "$top/build/src/cli/bitloupe-cli" tree "$file" "$@"
