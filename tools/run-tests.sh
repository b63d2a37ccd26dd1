#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then every test again under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threading tests under
# ThreadSanitizer, and a short run of every fuzz target. The desktop tests run offscreen.
set -euo pipefail
export QT_QPA_PLATFORM=offscreen
top="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$top/tools/install-deps.sh" clang libclang-rt-dev clang-format

echo "== formatting"
"$top/tools/check-format.sh"

echo "== layers (no include against the layer order)"
python3 "$top/tools/include-graph.py" --check | tail -1

echo "== build and test"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j "$jobs"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs"

echo "== Debian package"
"$top/tools/check-package.sh" "$top/build"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
# Line tables only (-g1): enough for the sanitizers' reports, and much quicker to build.
# Unoptimised: the build is the slow part, and the tests stay quick without optimisation.
cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBITLOUPE_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS="-O0" -DCMAKE_CXX_FLAGS_DEBUG="-g1" >/dev/null
cmake --build "$top/build-asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$top/tests/lsan-qt.supp" \
  ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (concurrent tree access, pause)"
cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBITLOUPE_TSAN=ON \
  -DCMAKE_CXX_FLAGS="-O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" >/dev/null
cmake --build "$top/build-tsan" -j "$jobs" --target engine_tests model_tests problems_tests
TSAN_OPTIONS=halt_on_error=1 "$top/build-tsan/tests/engine_tests" \
  --gtest_filter='*Thread*:*Concurrent*:*WhileWriter*:*Pause*:*HandsOver*'
# The figures and problems read while a parse waits at its gate, step by step.
TSAN_OPTIONS=halt_on_error=1 "$top/build-tsan/tests/problems_tests" --gtest_filter='*KeptUp*'
TSAN_OPTIONS="halt_on_error=1 suppressions=$top/tests/tsan-qt.supp" "$top/build-tsan/tests/model_tests"
echo "== fuzzing (clang, libFuzzer; ${FUZZ_SECONDS:-30} s per target, then the saved inputs)"
"$top/tools/fuzz.sh" -t "${FUZZ_SECONDS:-30}"
echo "== all tests passed"
