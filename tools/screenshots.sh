#!/usr/bin/env bash
# Makes the screenshots of docs/screenshots/ on a virtual X server: a P picture with its
# motion vectors and the macroblock grid, a macroblock in focus, a block, and one picture in
# three colour modes. The stream is a short 720x576 encode made here with ffmpeg (not kept in
# git); README's picture comes from tools/screenshot.sh.
#   tools/screenshots.sh [OUTDIR]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$top/docs/screenshots}"
need() { command -v "$1" >/dev/null || { apt-get update -qq && apt-get install -y -qq "$2" >/dev/null; }; }
need Xvfb xvfb
need ffmpeg ffmpeg
cmake --build "$top/build" --target bitloupe >/dev/null
stream="$top/bench/demo720.m2v"
if [ ! -f "$stream" ]; then
  mkdir -p "$(dirname "$stream")"
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25" -t 2 -c:v mpeg2video \
    -b:v 6M -g 12 -bf 2 -f mpeg2video "$stream"
fi
# The maps want a stream whose macroblocks differ: noise at a tight rate (the quantiser moves),
# interlaced (frame and field DCT, frame and field prediction).
maps="$top/bench/maps720.m2v"
if [ ! -f "$maps" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=8:allf=t" -t 1 \
    -c:v mpeg2video -b:v 3M -maxrate 3M -bufsize 1M -scplx_mask 0.3 -lumi_mask 0.1 -flags +ildct+ilme -top 1 -g 12 -bf 2 \
    -f mpeg2video "$maps"
fi
mkdir -p "$out"
disp=:$((90 + RANDOM % 9))
Xvfb "$disp" -screen 0 1440x900x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null || true' EXIT
sleep 1
shot() {  # name, options...
  local name="$1"; shift
  DISPLAY=$disp "$top/build/src/app/bitloupe" "${file:-$stream}" --parse video "$@" \
    --screenshot "$out/$name.png" --quit
  # A palette of 128 colours keeps the committed pictures small.
  if command -v convert >/dev/null; then convert "$out/$name.png" -colors 128 "PNG8:$out/$name.png"; fi
  echo "$out/$name.png"
}
shot p-picture-vectors-grid --select "(Picture #5," --select "Picture Header" --mvs 6 --grid
shot b-picture-vectors --select "(Picture #3," --select "Picture Header" --mvs 6 --grid
# The picture first, then one of its macroblocks (and a block of it) over it.
shot macroblock-focus --parse-mbs 5 --select "(Picture #5," --select "Picture Header" \
  --select "(x=352, y=288)" --mvs 6 --grid
shot block-view --parse-mbs 5 --select "(Picture #5," --select "Picture Header" \
  --select "(x=352, y=288)" --select "#5: Coded Cb-Block"
shot colour-y --select "(Picture #2," --select "Picture Header" --colour y
shot colour-cr --select "(Picture #2," --select "Picture Header" --colour cr
shot colour-magenta --select "(Picture #2," --select "Picture Header" --colour magenta
# The picture pane for daily use: a zoom with the sample values, and each macroblock map of a
# B picture (the map parses the picture's macroblocks first).
shot zoom-sample-values --goto-picture 5 --zoom 32 --hover 360 290 --grid
shot zoom-fit-grid --goto-picture 5 --zoom fit --grid
for map in mbtype quantiser cbp dct motion; do
  file="$maps" shot "map-$map" --goto-picture 5 --overlay "$map"
done
# The bytes pane: a field of a sequence header (its bits in the strip), a macroblock's bits, and
# a slice whose bits run across packets (the pack and the audio packet between hatched).
file="$top/tests/data/mpeg2-ps.mpg" shot bytes-sequence-field --select "horizontal_size_value" --bytes
file="$top/tests/data/mpeg2-progressive.m2v" shot bytes-macroblock --parse-mbs 1 \
  --select "(x=32, y=16)" --bytes
file="$top/tests/data/mpeg2-ps.mpg" shot bytes-across-packets --select "I-Picture #1" \
  --goto-offset 2040
# The stream at a glance: 8 s at a constant 4 Mbit/s (the buffer's saw-tooth), the chart with
# a picture selected, and the summary.
cbr="$top/bench/cbr720.m2v"
if [ ! -f "$cbr" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25" -t 8 -c:v mpeg2video \
    -b:v 4M -minrate 4M -maxrate 4M -bufsize 1835k -g 15 -bf 2 -f mpeg2video "$cbr"
fi
file="$cbr" shot stream-chart --select "(Picture #40," --chart
file="$cbr" shot stream-summary --select "(Picture #40," --stream-summary
# The problems of a stream with bits flipped (picture 2's macroblocks parsed), the first of
# its slices that breaks selected.
damaged="$(mktemp --suffix=.m2v)"
"$top/tools/corrupt-stream" "$stream" "$damaged" --seed 7 --damage flip --rate 2e-5
file="$damaged" shot problems --parse-mbs 2 --select "(Picture #2," --problems --problem-click 2
# The 8 s stream with sectors dropped and bits flipped, the parse paused halfway: the problems
# and the chart as they stand then (they fill in while it runs; the last bar is the picture
# being read).
"$top/tools/corrupt-stream" "$cbr" "$damaged" --seed 1 --damage drop,flip --rate 2e-5
file="$damaged" shot problems-while-parsing --pause-at $(( $(stat -c %s "$cbr") / 2 )) \
  --problems --chart
rm -f "$damaged"
