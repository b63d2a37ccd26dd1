#!/usr/bin/env bash
# Times decoding every picture of generated MPEG-2 streams (bitloupe-cli frames to /dev/null,
# luma only, stream order) next to ffmpeg's single-threaded decode of the same file, in the
# same run.
#   tools/bench-decode.sh [FILE...]   (default: bench/es720.m2v and bench/es1080.m2v, made on
#                                      first use)
# BITLOUPE_CLI overrides the tool's path (default build/src/cli/bitloupe-cli).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cli="${BITLOUPE_CLI:-$top/build/src/cli/bitloupe-cli}"

make_stream() {  # file, size, pictures, bit rate
  local file="$1" size="$2" pictures="$3" rate="$4"
  [ -f "$file" ] && return
  command -v ffmpeg >/dev/null || apt-get install -y -qq ffmpeg
  mkdir -p "$(dirname "$file")"
  echo "making $file ($size, $pictures pictures, $rate)"
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25,noise=alls=12:allf=t" \
    -frames:v "$pictures" -c:v mpeg2video -b:v "$rate" -g 12 -bf 2 -f mpeg2video "$file"
}

if [ $# -eq 0 ]; then
  make_stream "$top/bench/es720.m2v" 720x576 250 8M
  make_stream "$top/bench/es1080.m2v" 1920x1080 100 20M
  set -- "$top/bench/es720.m2v" "$top/bench/es1080.m2v"
fi

best=""
besttime() {  # command...  (best of 3 wall-clock runs: this kind of machine is noisy)
  local t0 t1 s
  best=""
  for _ in 1 2 3; do
    t0=$(date +%s.%N)
    "$@" > /dev/null 2> /tmp/bench-decode-err || { echo "failed: $*" >&2; cat /tmp/bench-decode-err >&2; exit 1; }
    t1=$(date +%s.%N)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b-a}')
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN{exit !(a<b)}'; then
      best=$s
      cp /tmp/bench-decode-err /tmp/bench-decode-best
    fi
  done
}

for file in "$@"; do
  cat "$file" > /dev/null  # warm the page cache
  size=$(stat -c %s "$file")
  echo "file: $file ($(awk -v s="$size" 'BEGIN{printf "%.1f", s/1e6}') MB)"

  besttime "$cli" frames "$file" -o /dev/null --format gray --order decode --stats
  ours=$best
  pictures=$(awk -F': ' '/^pictures decoded:/{print $2}' /tmp/bench-decode-best)
  decodeOnly=$(awk -F': ' '/^decode time:/{print $2}' /tmp/bench-decode-best)
  besttime ffmpeg -v error -threads 1 -i "$file" -f null -
  theirs=$best

  per() { awk -v s="$1" -v n="$pictures" 'BEGIN{printf "%.2f", n ? 1000*s/n : 0}'; }
  echo "pictures: $pictures"
  printf "  %-52s %8s s %8s ms/picture\n" "bitloupe-cli frames --order decode (parse + decode)" \
    "$ours" "$(per "$ours")"
  printf "  %-52s %8s s %8s ms/picture\n" "  of which DecodePicture (--stats)" \
    "${decodeOnly% s}" "$(per "${decodeOnly% s}")"
  printf "  %-52s %8s s %8s ms/picture\n" "ffmpeg -threads 1 -f null" "$theirs" "$(per "$theirs")"
  echo "  ratio bitloupe-cli / ffmpeg: $(awk -v a="$ours" -v b="$theirs" 'BEGIN{printf "%.2f", (b > 0) ? a / b : 0}')"
done
rm -f /tmp/bench-decode-err /tmp/bench-decode-best
