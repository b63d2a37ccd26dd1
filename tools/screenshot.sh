#!/usr/bin/env bash
# Makes the README's screenshot of the main window: the sample program stream parsed in both
# layers, a picture header selected, on a virtual X server.
#   tools/screenshot.sh [OUT.png]   (default: docs/screenshot.png)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$top/docs/screenshot.png}"
need() { command -v "$1" >/dev/null || { apt-get update -qq && apt-get install -y -qq "$2" >/dev/null; }; }
need Xvfb xvfb
cmake --build "$top/build" --target bitloupe >/dev/null
mkdir -p "$(dirname "$out")"
disp=:$((90 + RANDOM % 9))
Xvfb "$disp" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$disp "$top/build/src/app/bitloupe" "$top/tests/data/mpeg2-ps-mplex.mpg" --parse both \
  --select "(Picture #3," --select "Picture Coding Extension" --screenshot "$out" --quit
echo "$out"
