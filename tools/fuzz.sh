#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for a fixed time on its corpus, then runs the saved failing inputs of tests/data/fuzz/.
#
#   tools/fuzz.sh [-t SECONDS] [-m MAX_LEN] [TARGET...]     TARGET: parse macroblocks decode payload
#
# The corpus of each target grows in build-fuzz/corpus/TARGET between runs; it starts from the
# seed corpus, the test streams of tests/data/ cut small. An input that fails lands in
# build-fuzz/artifacts/TARGET/ and the script exits 1. FUZZ_BUILD names another build folder.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD:-$top/build-fuzz}"
seconds=30
max_len=65536
while getopts "t:m:" opt; do
  case "$opt" in
    t) seconds="$OPTARG" ;;
    m) max_len="$OPTARG" ;;
    *) sed -n 2,10p "$0" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(parse macroblocks decode payload)

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DBITLOUPE_FUZZ=ON \
  -DBITLOUPE_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1" \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

# Seeds: the beginning of every encoder-made test stream, a short and a longer cut; program streams only
# for the payload listing.
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds/all" "$seeds/ps"
for f in "$top"/tests/data/*.m1v "$top"/tests/data/*.m2v "$top"/tests/data/*.mpg; do
  name="$(basename "$f")"
  case "$name" in large-*) continue ;; esac  # pictures claimed large: slow seeds
  for cut in 6144 20480; do
    head -c "$cut" "$f" >"$seeds/all/$name-$cut"
    case "$name" in *.mpg) cp "$seeds/all/$name-$cut" "$seeds/ps/" ;; esac
  done
done

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  seed_dir="$seeds/all"
  [ "$t" = payload ] && seed_dir="$seeds/ps"
  echo "== fuzz $t for $seconds s"
  log="$build/fuzz-$t.log"
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -max_len="$max_len" -dict="$top/fuzz/start-codes.dict" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "$seed_dir" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$t found a failing input: see $artifacts/" >&2
    status=1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  peak="$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")"
  echo "   ${runs:-?} runs, $(( ${runs:-0} / (seconds > 0 ? seconds : 1) )) per second," \
       "peak ${peak:-?} MB, corpus $(ls "$corpus" | wc -l) inputs"
  saved=("$top"/tests/data/fuzz/"$t"/*)
  if [ -e "${saved[0]}" ]; then
    echo "== saved inputs of $t"
    "$build/fuzz/fuzz_$t" -timeout=10 -rss_limit_mb=4096 "${saved[@]}" >"$log.saved" 2>&1 ||
      { tail -n 60 "$log.saved"; status=1; }
  fi
done
exit $status
