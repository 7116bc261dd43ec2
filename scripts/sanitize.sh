#!/usr/bin/env bash
# Builds the core, the tests and the fuzz targets with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer; runs the tests, then each fuzz target for a
# bounded time on its seed corpus (FUZZ_SECONDS, default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVANE_SANITIZE=ON -DKELVANE_FUZZ=ON -DKELVANE_BENCH=OFF -DKELVANE_WERROR="${KELVANE_WERROR:-OFF}" >/dev/null
cmake --build build-asan -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600

seconds=${FUZZ_SECONDS:-20}
for target in build-asan/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$work/" "$work" >"$work.log" 2>&1 || {
    tail -50 "$work.log"
    echo "fuzz target $name failed; artifacts in $work" >&2
    exit 1
  }
  grep -E '^Done|stat::number_of_executed_units' "$work.log" | tail -1 || true
  rm -rf "$work" "$work.log"
done
