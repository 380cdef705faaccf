#!/usr/bin/env bash
# The whole test suite from scratch: dependencies, a warnings-as-errors build with every unit
# and integration test, the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, the
# concurrency tests under ThreadSanitizer, and a short run of every fuzz target.
# Usage: scripts/test.sh [--quick]   (--quick: only the first build and its tests)
set -euo pipefail
cd "$(dirname "$0")/.."
QUICK=0
[ "${1:-}" = "--quick" ] && QUICK=1
JOBS="$(nproc)"

run_suite() {
  local build="$1"
  echo "== unit tests in $build"
  ctest --test-dir "$build" -L unit --output-on-failure -j"$JOBS" --timeout 300
  # Integration tests start programs and watch the clock; one at a time keeps them honest.
  echo "== integration tests in $build"
  ctest --test-dir "$build" -L integration --output-on-failure -j1 --timeout 600
}

scripts/build.sh build -DTANDREL_WERROR=ON
run_suite build
[ "$QUICK" = 1 ] && exit 0

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$PWD/fuzz/ubsan.supp"
# One clang build serves both the sanitizer run of the whole suite and the fuzz targets: everything
# is built once with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's coverage hooks.
# (The first build already holds the warnings-as-errors line with gcc.)
scripts/build.sh build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTANDREL_SANITIZE=ON -DTANDREL_FUZZ=ON -DTANDREL_BENCH=OFF
run_suite build-asan

echo "== concurrency tests under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_TSAN=ON -DTANDREL_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$JOBS" --target platform_tests ipc_tests
TSAN_OPTIONS="halt_on_error=1" build-tsan/bin/platform_tests
TSAN_OPTIONS="halt_on_error=1" build-tsan/bin/ipc_tests

echo "== fuzz smoke run"
FUZZ_BUILD=build-asan scripts/fuzz_smoke.sh "${FUZZ_SECONDS:-5}"
echo "== all tests passed"
