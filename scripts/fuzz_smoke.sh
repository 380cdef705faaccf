#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while from generated seeds.
# Usage: scripts/fuzz_smoke.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-20}"
# FUZZ_BUILD names a build folder already configured with TANDREL_FUZZ (the test suite's sanitizer
# build); without it a fuzz-only build is made in build-fuzz.
BUILD="${FUZZ_BUILD:-build-fuzz}"

if ! grep -q '^TANDREL_FUZZ:BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTANDREL_FUZZ=ON -DTANDREL_TESTS=OFF -DTANDREL_BENCH=OFF >/dev/null
fi
targets=$(cmake --build "$BUILD" --target help | sed -n 's/^\([a-z_]*_fuzz\):.*/\1/p' | sort -u)
# shellcheck disable=SC2086
cmake --build "$BUILD" --target $targets

corpus_root="$BUILD/corpus"
python3 scripts/make_fuzz_seeds.py "$corpus_root"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$PWD/fuzz/ubsan.supp"
status=0
for target in $targets; do
  corpus="$corpus_root/${target%_fuzz}"
  mkdir -p "$corpus"
  echo "== $target (${SECONDS_PER_TARGET}s)"
  # An input that runs over 20 s is a fault (libFuzzer stops with a timeout artifact), and so is a
  # target that overruns its time by a minute: parsers of outside input must stay fast on any bytes.
  rc=0
  timeout -s KILL $((SECONDS_PER_TARGET + 60)) "$BUILD/bin/$target" -max_total_time="$SECONDS_PER_TARGET" \
    -rss_limit_mb=2048 -print_final_stats=0 -timeout=20 -artifact_prefix="$BUILD/" \
    "$corpus" 2>"$BUILD/$target.log" || rc=$?
  if [ "$rc" = 137 ]; then
    echo "!! $target overran its ${SECONDS_PER_TARGET}s by a minute and was ended; see $BUILD/$target.log"
    tail -40 "$BUILD/$target.log"
    status=1
  elif [ "$rc" != 0 ]; then
    if grep -q "libFuzzer: timeout" "$BUILD/$target.log"; then
      echo "!! $target: an input ran over 20 s; see $BUILD/$target.log"
    else
      echo "!! $target found a fault; see $BUILD/$target.log"
    fi
    tail -40 "$BUILD/$target.log"
    status=1
  fi
done
exit $status
