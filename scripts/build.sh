#!/usr/bin/env bash
# Configures and builds the program, the tests and the benchmarks in build/.
# KELVANE_WERROR=ON makes warnings errors (CI and developers).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVANE_WERROR="${KELVANE_WERROR:-OFF}" >/dev/null
cmake --build build -j "$(nproc)"
