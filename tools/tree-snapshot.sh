#!/usr/bin/env bash
# Writes the tree that bitloupe-cli prints for every committed stream, in every mode, with and
# without --mbs, --start-offset and --start-picture, one file per run, into OUTDIR. Two
# snapshots made by different builds compare with `diff -r`.
#   tools/tree-snapshot.sh CLI OUTDIR [DATADIR]
set -uo pipefail
cli="$1"; out="$2"; data="${3:-$(cd "$(dirname "$0")/.." && pwd)/tests/data}"
mkdir -p "$out"
for f in "$data"/*.m1v "$data"/*.m2v "$data"/*.mpg "$data"/*.ts "$data"/*.bin; do
  [ -e "$f" ] || continue
  name="$(basename "$f")"
  for mode in video ps both; do
    for extra in "" "--mbs" "--start-offset 3000" "--start-picture I:2" "--start-picture B:3" \
                 "--start-picture any:4 --mbs" "--start-offset 20000 --start-picture P:2"; do
      tag="$(echo "$mode $extra" | tr ' :' '__')"
      # Dates of the file item change with every checkout: leave them out.
      "$cli" tree "$f" --mode "$mode" $extra 2>&1 | grep -v '^	Data \(Created\|Modified\|Accessed\):' \
        >"$out/$name.$tag.txt"
      echo "exit=${PIPESTATUS[0]}" >>"$out/$name.$tag.txt"
    done
  done
done
