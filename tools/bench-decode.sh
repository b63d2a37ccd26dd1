#!/usr/bin/env bash
# Times decoding every picture of generated MPEG-2 streams (bitloupe-cli frames to /dev/null,
# stream order; luma written out, then the colour picture) next to ffmpeg's single-threaded
# decode of the same file, in the same run. BENCH_FORMATS picks the formats (gray bgr24).
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

# Paired, alternating runs (farm-bench --vs) and their medians; without farm-bench, the median
# of five runs of each.
median_time() {  # command...  -> seconds
  local t0 t1 times=()
  for _ in 1 2 3 4 5; do
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s.%N)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b-a}')")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}

for file in "$@"; do
  cat "$file" > /dev/null  # warm the page cache
  size=$(stat -c %s "$file")
  echo "file: $file ($(awk -v s="$size" 'BEGIN{printf "%.1f", s/1e6}') MB)"
  pictures=$("$cli" frames "$file" -o /dev/null --format gray --order decode --stats 2>&1 |
    awk -F': ' '/^pictures decoded:/{print $2}')
  echo "pictures: $pictures"
  theirs="ffmpeg -v error -threads 1 -i $file -f null -"
  per() { awk -v s="$1" -v n="$pictures" 'BEGIN{printf "%.2f", n ? 1000*s/n : 0}'; }
  # gray: the decode alone (every component reconstructed, luma written out); bgr24: the
  # decode, the display chroma and the colour conversion, as a picture is shown.
  for format in ${BENCH_FORMATS:-gray bgr24}; do
    ours_cmd=("$cli" frames "$file" -o /dev/null --format "$format" --order decode)
    if command -v farm-bench >/dev/null; then
      report=$(farm-bench -n 9 --timeout 600 --vs "$theirs" -- "${ours_cmd[@]}" 2>&1)
      ours=$(awk '/^A wall s/{print $5}' <<<"$report")
      theirs_s=$(awk '/^B wall s/{print $5}' <<<"$report")
      ratio=$(awk '/^A\/B wall/{print $4}' <<<"$report")
    else
      ours=$(median_time "${ours_cmd[@]}")
      # shellcheck disable=SC2086
      theirs_s=$(median_time $theirs)
      ratio=$(awk -v a="$ours" -v b="$theirs_s" 'BEGIN{printf "%.2f", (b > 0) ? a / b : 0}')
    fi
    printf "  %-52s %8s s %8s ms/picture\n" "bitloupe-cli frames --format $format (median)" \
      "$ours" "$(per "$ours")"
    printf "  %-52s %8s s %8s ms/picture\n" "ffmpeg -threads 1 -f null (median)" "$theirs_s" \
      "$(per "$theirs_s")"
    echo "  ratio bitloupe-cli / ffmpeg, $format (median of paired runs): $ratio"
  done
done
