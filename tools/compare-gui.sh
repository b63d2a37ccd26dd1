#!/usr/bin/env bash
# Runs two builds of the desktop application offscreen over every committed stream and
# compares what they write: the tree after a parse (--probe, timings left out), the exports
# of the popup menu (--export) and the saved pictures (--save), with their exit codes.
#   tools/compare-gui.sh OLD-BITLOUPE NEW-BITLOUPE SCRATCH-DIR [DATA-DIR]
# Exits 1 on any difference.
set -u
[ $# -ge 3 ] || { echo "usage: $0 OLD NEW SCRATCH-DIR [DATA-DIR]" >&2; exit 2; }
old="$(realpath "$1")"; new="$(realpath "$2")"; scratch="$3"
data="$(realpath "${4:-$(dirname "$0")/../tests/data}")"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$scratch"; scratch="$(realpath "$scratch")"
cases=0; differ=0

run() {  # run TAG ARGS...: both builds in their own folder, then compare everything written
  local tag="$1"; shift
  for side in old new; do
    local dir="$scratch/$side/$tag"; rm -rf "$dir"; mkdir -p "$dir"
    local bin="$old"; [ $side = new ] && bin="$new"
    (cd "$dir" && timeout 300 "$bin" "$@" --quit >stdout.txt 2>stderr.txt; echo "exit=$?" >>stdout.txt)
    # The file's dates and the probe's timing line change from run to run.
    [ -f "$dir/probe.txt" ] && sed -i '/^	Data \(Created\|Modified\|Accessed\):/d' "$dir/probe.txt"
    sed -i '/^probe: /d' "$dir/stdout.txt" "$dir/stderr.txt"
  done
  cases=$((cases + 1))
  if ! diff -r -q "$scratch/old/$tag" "$scratch/new/$tag" >/dev/null; then
    differ=$((differ + 1)); echo "DIFFERS: $tag: $*"
    diff -r "$scratch/old/$tag" "$scratch/new/$tag" | head -5
  fi
  rm -rf "$scratch/old/$tag" "$scratch/new/$tag"
}

for f in "$data"/*.m1v "$data"/*.m2v "$data"/*.mpg; do
  name="$(basename "$f")"
  case "$name" in large-*) continue ;; esac
  modes="video"; case "$name" in *.mpg) modes="video ps both" ;; esac
  for m in $modes; do
    run "$name.$m.probe" "$f" --parse "$m" --probe probe.txt
  done
  run "$name.export" "$f" --parse video --select "Picture #2" --export item
  run "$name.export-all" "$f" --parse video --export all
  run "$name.save" "$f" --parse video --select "Picture #2" --save frame frame.bmp --save big big.bmp
  run "$name.mbs" "$f" --parse video --parse-mbs 2 --select "Macroblock" --export item \
      --save snapshot snap.bmp
done
echo "$cases runs, $differ differ"
[ "$differ" -eq 0 ]
