#!/usr/bin/env bash
# Measures bitloupe-cli check against ffmpeg's decoder on damaged versions of the committed
# encoder streams: of the versions where `ffmpeg -v error` reports an error, the share where
# `check --mbs` reports an error too (recall), and of the versions whose bytes changed, the
# share where check stays silent (no error, no warning).
#
#   tools/check-recall.sh CLI [VERSIONS]
#
# VERSIONS per stream (default 30), seeds 1..VERSIONS of tools/corrupt-stream.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cli="$1"
versions="${2:-30}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
both=0 ffmpeg_errors=0 changed=0 silent=0 total=0
for f in mpeg1.m1v mpeg2-progressive.m2v mpeg2-interlaced.m2v mpeg2-fieldpic.m2v mpeg2-422.m2v \
         mpeg2-custom-matrix.m2v mpeg2-ps.mpg mpeg2-ps-mplex.mpg mpeg1-system.mpg; do
  src="$top/tests/data/$f"
  for seed in $(seq 1 "$versions"); do
    out="$tmp/$seed-$f"
    "$top/tools/corrupt-stream" "$src" "$out" --seed "$seed"
    total=$((total + 1))
    cmp -s "$src" "$out" && { rm -f "$out"; continue; }
    changed=$((changed + 1))
    ff=0
    [ -n "$(ffmpeg -v error -i "$out" -f null - 2>&1 | head -1)" ] && ff=1
    rc=0
    timeout 60 "$cli" check "$out" --mbs >/dev/null 2>&1 || rc=$?
    [ "$rc" -eq 0 ] && silent=$((silent + 1))
    if [ "$ff" -eq 1 ]; then
      ffmpeg_errors=$((ffmpeg_errors + 1))
      [ "$rc" -eq 4 ] && both=$((both + 1))
    fi
    rm -f "$out"
  done
done
echo "versions: $total, bytes changed: $changed"
echo "ffmpeg reports an error: $ffmpeg_errors; check --mbs reports an error on $both of them" \
     "($(awk "BEGIN{printf \"%.1f\", $ffmpeg_errors ? 100*$both/$ffmpeg_errors : 0}") %)"
echo "bytes changed but check silent: $silent" \
     "($(awk "BEGIN{printf \"%.1f\", $changed ? 100*$silent/$changed : 0}") %)"
