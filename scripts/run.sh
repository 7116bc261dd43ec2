#!/usr/bin/env bash
# Builds and runs kelvane-cli (with --help when no arguments are given).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >&2
[ $# -eq 0 ] && set -- --help
exec build/kelvane-cli "$@"
