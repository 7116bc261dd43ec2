#!/usr/bin/env bash
# Builds and runs the benchmarks, printing their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
build/bench/kelvane_bench --benchmark_min_time=0.2 "$@"
if [ -x build/bench/kelvane_gui_bench ]; then
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} build/bench/kelvane_gui_bench --benchmark_min_time=0.2 "$@"
fi
