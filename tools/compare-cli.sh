#!/usr/bin/env bash
# Runs two bitloupe-cli binaries over the same command lines (every subcommand over every
# committed stream, with the options that change what comes out, and the error cases) and
# prints every difference in standard output, standard error, exit code or written file.
# Exits 1 on any difference.
#
#   tools/compare-cli.sh OLD-CLI NEW-CLI SCRATCH-DIR [DATA-DIR]
#
# Timings that --stats prints are masked; everything else must match byte for byte.
set -u
if [ $# -lt 3 ]; then
  echo "usage: $0 OLD-CLI NEW-CLI SCRATCH-DIR [DATA-DIR]" >&2
  exit 2
fi
old="$(realpath "$1")"
new="$(realpath "$2")"
scratch="$3"
data="$(realpath "${4:-$(dirname "$0")/../tests/data}")"
mkdir -p "$scratch"
scratch="$(realpath "$scratch")"

cases=0
differ=0

# Runs one binary in its own empty directory (so that output files have the same relative
# names for both) and keeps stdout, stderr and the exit code there.
run_one() {  # binary, dir, args...
  local bin="$1" dir="$2"
  shift 2
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && "$bin" "$@" >.stdout 2>.stderr; echo $? >.rc)
  # Timings differ from run to run.
  sed -E -i 's/[0-9]+\.[0-9]+ (s|ms|MB\/s)/N \1/g' "$dir/.stderr"
}

compare() {  # args...
  cases=$((cases + 1))
  local a="$scratch/old" b="$scratch/new"
  run_one "$old" "$a" "$@"
  run_one "$new" "$b" "$@"
  if ! diff -rq "$a" "$b" >/dev/null; then
    differ=$((differ + 1))
    echo "DIFFERS: bitloupe-cli $*"
    diff -rq "$a" "$b" | sed 's/^/  /'
    for f in .rc .stderr; do
      cmp -s "$a/$f" "$b/$f" || diff "$a/$f" "$b/$f" | head -10 | sed 's/^/    /'
    done
  fi
}

mapfile -t streams < <(find "$data" -maxdepth 1 -type f ! -name '*.md' -printf '%f\n' | sort)
# The streams of 8192x8192 pictures are decoded only to /dev/null, below: their frames would
# take gigabytes.
video=()
for f in "${streams[@]}"; do
  case "$f" in large-*) ;; *.m1v | *.m2v | *.mpg) video+=("$f") ;; esac
done

# --- tree ---
for f in "${streams[@]}"; do
  p="$data/$f"
  compare tree "$p"
  for m in video ps both; do compare tree "$p" --mode $m; done
  compare tree "$p" --mode both --mbs
  for flt in all non-virtual ycbcr; do
    compare tree "$p" --mbs --filter $flt
    compare tree "$p" --mbs --filter $flt --format json
  done
  compare tree "$p" --format text
  compare tree "$p" --format json --mode both
  compare tree "$p" --crlf
  compare tree "$p" --crlf --mode ps --filter non-virtual
  for sp in any:1 I:2 P:1 B:3 D:1 any:5; do compare tree "$p" --start-picture $sp; done
  for so in 0 100 0x800 017 99999999; do compare tree "$p" --start-offset $so; done
  compare tree --start-offset 2048 --start-picture I:1 "$p" --mode both
  compare tree "$p" --quiet
  compare tree "$p" --stats --mbs --quiet
done

# --- decode ---
for f in "${video[@]}"; do
  p="$data/$f"
  for n in 1 3 8 999; do compare decode "$p" --picture $n -o out.bmp; done
  for d in auto raw diff0 diff1 null; do compare decode "$p" --picture 2 -o out.bmp --display $d; done
  for fld in frame top bottom; do compare decode "$p" --picture 4 -o out.bmp --field $fld; done
  for c in normal y cb cr red green blue yellow magenta cyan; do
    compare decode -o out.bmp --colour $c "$p" --picture 3
  done
  compare decode "$p" --picture 5 -o out.bmp --display diff0 --field bottom --colour cb
done

# --- frames ---
for f in "${video[@]}"; do
  p="$data/$f"
  for fmt in gray yuv444p bgr24 yuv; do
    for o in display decode; do compare frames "$p" -o out.raw --format $fmt --order $o; done
  done
  compare frames "$p" -o out.raw
  compare frames "$p" -o - --format yuv
  compare frames --stats "$p" -o out.raw --order decode
done

compare decode "$data/large-many-pictures.m2v" --picture 300 -o /dev/null
compare decode "$data/large-size-switches.m2v" --picture 399 -o /dev/null --display raw
compare frames "$data/large-many-pictures.m2v" -o /dev/null --format gray --order decode
# A frame size that changes from picture to picture, each change reported.
compare frames "$data/large-size-switches.m2v" -o /dev/null --format gray --stats

# --- what goes wrong ---
p="$data/mpeg2-progressive.m2v"
compare
compare --help
compare -h
compare nonsense
compare tree
compare tree /nonexistent.mpg
compare tree "$data/empty.bin"
compare tree "$p" "$p"
compare tree "" "$p"
compare tree "$p" ""
compare tree -
compare tree "$p" -
compare tree "$p" --help
compare tree "$p" --bogus
compare tree "$p" -x
compare tree "$p" --mode=both
for o in --mode --filter --format --start-offset --start-picture; do
  compare tree "$p" $o
  compare tree "$p" $o nonsense
  compare tree "$p" $o ""
done
for v in -1 1x 0x 99999999999999999999 " 5" +5; do compare tree "$p" --start-offset "$v"; done
for v in I I: I:0 I:-1 I:x X:1 i:1 :1 I:2147483647 I:2147483648 I:0x10 I:010; do
  compare tree "$p" --start-picture "$v"
done
compare tree "$p" --mode ps --mode video
compare tree "$p" --format json --format text
compare tree "$p" --format json --format nonsense
compare tree "$p" --filter ycbcr --filter all --mbs
compare tree "$p" --mode nonsense --bogus
compare tree "$p" --bogus --mode nonsense

compare decode
compare decode "$p"
compare decode "$p" -o out.bmp
compare decode "$p" --picture 1
compare decode /nonexistent.mpg --picture 1 -o out.bmp
compare decode "$data/random.bin" --picture 1 -o out.bmp
compare decode "$p" --picture 1 -o /nonexistent/dir/out.bmp
compare decode "$p" --picture 1 -o ""
compare decode "$p" --picture 1 -o
compare decode "$p" -o out.bmp --picture
for v in 0 -1 x 0x10 010 1.5 " 2" +2 99999999999999999999; do
  compare decode "$p" -o out.bmp --picture "$v"
done
for o in --display --field --colour; do
  compare decode "$p" --picture 1 -o out.bmp $o
  compare decode "$p" --picture 1 -o out.bmp $o nonsense
  compare decode "$p" --picture 1 -o out.bmp $o ""
done
compare decode "$p" --picture 1 -o out.bmp --bogus
compare decode "$p" --picture 1 -o out.bmp -
compare decode "$p" --picture 1 -o out.bmp "$p"
compare decode "$p" --picture 1 -o out.bmp --format gray
compare decode "$p" --picture 1 --picture 2 -o a.bmp -o out.bmp
compare decode "$p" --bogus --picture 0
compare decode "$p" --picture 0 --bogus

compare frames
compare frames "$p"
compare frames -o out.raw
compare frames /nonexistent.mpg -o out.raw
compare frames "$data/empty.bin" -o out.raw
compare frames "$data/transport.ts" -o out.raw
compare frames "$p" -o /nonexistent/dir/out.raw
compare frames "$p" -o ""
compare frames "$p" -o
compare frames - -o out.raw
compare frames "$p" - -o out.raw
compare frames "$p" -o out.raw "$p"
for o in --format --order; do
  compare frames "$p" -o out.raw $o
  compare frames "$p" -o out.raw $o nonsense
  compare frames "$p" -o out.raw $o ""
done
compare frames "$p" -o out.raw --bogus
compare frames "$p" -o out.raw --picture 1
compare frames "$p" -o out.raw --format yuv --format gray
compare frames "$p" --order x --bogus

echo "$cases command lines, $differ differ"
[ $differ -eq 0 ]
