#!/usr/bin/env bash
# Times the full parse of a large generated program stream next to `cat`, ffprobe's packet
# listing and ffmpeg's stream copy on the same file in the same run.
#   tools/bench-parse.sh [FILE]   (default: bench/ps720.mpg, made on first use, ~150 MB)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cli="$top/build/src/cli/bitloupe-cli"
file="${1:-$top/bench/ps720.mpg}"
if [ ! -f "$file" ]; then
  command -v ffmpeg >/dev/null || apt-get install -y -qq ffmpeg
  mkdir -p "$(dirname "$file")"
  # 720x576 MPEG-2 at 15 Mbit/s with MP2 audio, about 80 seconds: ~150 MB.
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=12:allf=t" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 80 \
    -c:v mpeg2video -b:v 15M -minrate 15M -maxrate 15M -bufsize 1835k -g 12 -bf 2 \
    -c:a mp2 -b:a 192k -f vob "$file"
fi
size=$(stat -c %s "$file")
mb=$(awk -v s="$size" 'BEGIN{printf "%.1f", s/1e6}')
echo "file: $file ($mb MB)"
cat "$file" > /dev/null  # warm the page cache

timeit() {  # label, command...  (best of 3 runs: this kind of machine is noisy)
  local label="$1"; shift
  local best="" bestrss=0 t0 t1 s
  for _ in 1 2 3; do
    t0=$(date +%s.%N)
    /usr/bin/time -f "%M" -o /tmp/bench-rss "$@" > /dev/null 2>/tmp/bench-err || true
    t1=$(date +%s.%N)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b-a}')
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$s; fi
    bestrss=$(tail -1 /tmp/bench-rss)
  done
  printf "%-48s %8s s %9s MB/s  peak RSS %7s MB\n" "$label" "$best" \
    "$(awk -v m="$mb" -v s="$best" 'BEGIN{printf "%.1f", m/s}')" "$(awk -v k="$bestrss" 'BEGIN{printf "%.1f", k/1024}')"
}
timeit "cat FILE > /dev/null" cat "$file"
for m in video both ps; do
  timeit "bitloupe-cli tree --mode $m --quiet (parse)" "$cli" tree "$file" --mode $m --quiet
  timeit "bitloupe-cli tree --mode $m (parse + print)" "$cli" tree "$file" --mode $m
done
if command -v ffprobe >/dev/null; then
  timeit "ffprobe -show_packets" ffprobe -v error -show_packets "$file"
  timeit "ffmpeg -c copy -f null" ffmpeg -v error -i "$file" -c copy -f null -
fi
for m in video both ps; do
  n=$("$cli" tree "$file" --mode $m | wc -l)
  echo "items listed, mode $m: $n"
done
