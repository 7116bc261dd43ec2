#!/usr/bin/env bash
# Builds and starts the desktop program Kelvane; any arguments go to it
# (e.g. --dir DIR). With --cli, builds and runs kelvane-cli instead (with
# --help when no more arguments are given):
#   scripts/run.sh                 # the desktop program
#   scripts/run.sh --cli check     # kelvane-cli check
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ "${1:-}" = "--cli" ]; then
  shift
  cmake --build build -j "$(nproc)" --target kelvane-cli >&2
  [ $# -eq 0 ] && set -- --help
  exec build/kelvane-cli "$@"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the desktop program needs a graphical session (DISPLAY or WAYLAND_DISPLAY)." >&2
  echo "Use the command-line tool instead, for example:" >&2
  echo "  scripts/run.sh --cli check" >&2
  echo "or start it in a virtual display: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
cmake --build build -j "$(nproc)" --target kelvane >&2
exec build/kelvane "$@"
