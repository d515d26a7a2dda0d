#!/bin/sh
# Builds Kelvox and runs every test: the normal build, the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer) and short fuzzing runs.
#   KELVOX_FUZZ_SECONDS  seconds per fuzzer (default 20; 0 skips fuzzing)
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== debug build and tests"
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

echo "== sanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

seconds=${KELVOX_FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzzing (${seconds}s per target)"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  for f in build/fuzz/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="fuzz/corpus/$name"
    [ -d "$seeds" ] || seeds=""
    echo "-- $name"
    # A finding (crash, sanitizer report, leak) ends the run with a failure.
    if ! "$f" -max_total_time="$seconds" -print_final_stats=0 "$corpus" $seeds >"build/fuzz/$name.log" 2>&1; then
      tail -n 40 "build/fuzz/$name.log"
      echo "== $name found a failure (log: build/fuzz/$name.log)" >&2
      exit 1
    fi
    tail -n 1 "build/fuzz/$name.log"
  done
fi

echo "== all tests passed"
