#!/usr/bin/env bash
# Writes tests/data/open-gop-start.m2v: a stream that opens with an open GOP, whose first B
# pictures (shown before its I picture) have no forward reference. Made from an encoder's open
# GOPs: the sequence header of the stream, then everything from its second GOP on.
set -euo pipefail
out="${1:-$(cd "$(dirname "$0")/.." && pwd)/tests/data/open-gop-start.m2v}"
tmp="$(mktemp)"
trap 'rm -f "$tmp"' EXIT
ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -t 0.48 -c:v mpeg2video -g 6 -bf 2 \
  -flags -cgop -f mpeg2video "$tmp"
python3 - "$tmp" "$out" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
gops = [i for i in range(len(data) - 3) if data[i:i + 4] == b"\x00\x00\x01\xb8"]
assert len(gops) >= 2, "the encoder made one GOP"
open(sys.argv[2], "wb").write(data[:gops[0]] + data[gops[1]:])
PY
