#!/usr/bin/env bash
# Installs what the build needs, builds, and opens a bundled sample stream (or the file given
# as the first argument) in the desktop application, parsed in both layers. Without a display
# it says so and lists the sample's syntax tree with bitloupe-cli instead; further arguments
# then go to `bitloupe-cli tree`.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target bitloupe bitloupe-cli
file="${1:-$top/tests/data/mpeg2-ps-mplex.mpg}"
[ $# -gt 0 ] && shift
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$top/build/src/app/bitloupe" "$file" --parse both
fi
echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): listing the tree with bitloupe-cli instead."
exec "$top/build/src/cli/bitloupe-cli" tree "$file" "$@"
