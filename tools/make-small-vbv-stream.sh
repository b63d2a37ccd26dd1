#!/usr/bin/env bash
# Writes tests/data/small-vbv.m2v: noise coded at a fixed fine quantiser into a stream that
# declares 300 kbit/s and a 40 kbit buffer, so that its pictures are larger than the buffer can
# take in (the encoder itself warns of the buffer's underflow). The stream chart and
# bitloupe-cli stats must report those underflows.
set -euo pipefail
out="${1:-$(cd "$(dirname "$0")/.." && pwd)/tests/data/small-vbv.m2v}"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=176x144:rate=25,noise=alls=60:allf=t" -t 0.24 \
  -c:v mpeg2video -qmin 1 -qmax 3 -b:v 300k -maxrate 300k -bufsize 40k -g 12 -bf 2 "$out" 2>/dev/null
