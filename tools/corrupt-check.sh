#!/usr/bin/env bash
# Runs corrupted versions of the committed streams through `bitloupe-cli tree --mbs` and
# `frames` under AddressSanitizer + UndefinedBehaviorSanitizer, and reports every crash,
# sanitizer report or run over the time limit.
#
#   tools/corrupt-check.sh [-m] [-n VERSIONS] [-t SECONDS] [STREAM...]
#
# VERSIONS per stream (default 1000), seeds 1..VERSIONS of tools/corrupt-stream; STREAM
# defaults to the encoder-made video and program streams of tests/data/. -m runs the release
# build under valgrind's memcheck instead, which also sees reads of memory never written
# (about 30 times slower). Failing inputs are kept in BUILD/corrupt-failures/ with the seed in
# their names; the script exits 1 when there are any.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${ASAN_BUILD:-$top/build-asan}"
versions=1000
limit=60
memcheck=0
while getopts "mn:t:" opt; do
  case "$opt" in
    m) memcheck=1 ;;
    n) versions="$OPTARG" ;;
    t) limit="$OPTARG" ;;
    *) sed -n 2,11p "$0" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
streams=("$@")
if [ ${#streams[@]} -eq 0 ]; then
  for f in "$top"/tests/data/*.m1v "$top"/tests/data/*.m2v "$top"/tests/data/*.mpg; do
    case "$(basename "$f")" in large-*) ;; *) streams+=("$f") ;; esac
  done
fi

run=()
if [ $memcheck -eq 1 ]; then
  command -v valgrind >/dev/null || apt-get install -y -qq valgrind >/dev/null
  build="${RELEASE_BUILD:-$top/build}"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  run=(valgrind -q --error-exitcode=86)
else
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBITLOUPE_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS="-O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target bitloupe-cli >/dev/null
cli="$build/src/cli/bitloupe-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures="$build/corrupt-failures"
mkdir -p "$failures"
export ASAN_OPTIONS=detect_leaks=1:exitcode=86
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86

found=0
runs=0
start=$SECONDS
# Runs one command on a damaged stream; a failure keeps the stream and its report.
check() {
  local name="$1" input="$2"
  shift 2
  local rc=0
  timeout "$limit" "${run[@]}" "$cli" "$@" >/dev/null 2>"$work/err" || rc=$?
  runs=$((runs + 1))
  if [ $rc -gt 2 ] || grep -q "Sanitizer\|runtime error\|^==[0-9]*== " "$work/err"; then
    found=$((found + 1))
    cp "$input" "$failures/$name"
    { echo "bitloupe-cli $* -> exit $rc"; head -n 40 "$work/err"; } >"$failures/$name.txt"
    echo "FAIL $name: bitloupe-cli $1 (exit $rc), see $failures/$name.txt"
  fi
}
for stream in "${streams[@]}"; do
  base="$(basename "$stream")"
  mode=video
  case "$base" in *.mpg) mode=both ;; esac
  for seed in $(seq 1 "$versions"); do
    damaged="$work/$seed-$base"
    "$top/tools/corrupt-stream" "$stream" "$damaged" --seed "$seed"
    check "$seed-$base" "$damaged" tree "$damaged" --mode "$mode" --mbs --quiet
    # Every second version as colour frames, which make the shown chroma their own way.
    check "$seed-$base" "$damaged" frames "$damaged" -o /dev/null \
      --format "$([ $((seed % 2)) -eq 0 ] && echo bgr24 || echo gray)"
    rm -f "$damaged"
  done
  echo "$base: $versions versions, $found failures so far, $((SECONDS - start)) s"
done
echo "$runs runs, $found failures"
[ $found -eq 0 ]
