#!/usr/bin/env bash
# Renders the application icon's PNGs from its SVG. Run after changing
# dist/icons/org.kelvane.Kelvane.svg and commit the PNGs: the build and the
# package use them as they stand.
set -euo pipefail
cd "$(dirname "$0")/../dist/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}"
  rsvg-convert -w "$size" -h "$size" org.kelvane.Kelvane.svg \
    -o "${size}x${size}/org.kelvane.Kelvane.png"
done
