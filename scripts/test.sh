#!/usr/bin/env bash
# The whole test suite: builds everything and runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
