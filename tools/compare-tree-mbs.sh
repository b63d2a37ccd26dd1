#!/usr/bin/env bash
# Compares `bitloupe-cli tree --mbs` of two builds on every committed stream, and on damaged
# copies of some (for the error items): the text outline and the JSON form (which adds the
# icons and item kinds), default mode and, for program streams, the "both" mode. For checking that a change of the macroblock parse leaves the tree
# as it was: build the reference (say, main) elsewhere and give its bitloupe-cli.
#   tools/compare-tree-mbs.sh REFERENCE_CLI [CLI]   (CLI default: build/src/cli/bitloupe-cli)
# Exits 0 when every output is the same, 1 when any differs (the first lines of each
# difference are printed).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -ge 1 ] || { echo "usage: $0 REFERENCE_CLI [CLI]" >&2; exit 2; }
ref="$1"
cli="${2:-$top/build/src/cli/bitloupe-cli}"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# Damaged copies: one byte in every 251 (after the first sequence header) flipped.
for name in mpeg1.m1v mpeg2-interlaced.m2v mpeg2-fieldpic.m2v mpeg2-422.m2v; do
  python3 - "$top/tests/data/$name" "$out/damaged-$name" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
for i in range(300, len(data), 251):
    data[i] ^= 0x5A
open(sys.argv[2], "wb").write(data)
PY
done

# The file's access time is listed in the tree and moves between the two runs.
clock() { sed -E 's/Data Accessed: [^"]*/Data Accessed: (time)/'; }

status=0
for file in "$top"/tests/data/*.m1v "$top"/tests/data/*.m2v "$top"/tests/data/*.mpg \
  "$out"/damaged-*; do
  modes=("")
  case "$file" in *.mpg) modes+=("--mode both") ;; esac
  for mode in "${modes[@]}"; do
    for format in text json; do
      # shellcheck disable=SC2086
      "$ref" tree "$file" --mbs $mode --format "$format" 2>&1 | clock > "$out/ref.txt" || true
      # shellcheck disable=SC2086
      "$cli" tree "$file" --mbs $mode --format "$format" 2>&1 | clock > "$out/new.txt" || true
      name="$(basename "$file") ${mode:-default} $format"
      if cmp -s "$out/ref.txt" "$out/new.txt"; then
        echo "same:    $name ($(wc -c < "$out/new.txt") bytes)"
      else
        echo "DIFFERS: $name"
        diff "$out/ref.txt" "$out/new.txt" | head -20 || true
        status=1
      fi
    done
  done
done
exit $status
