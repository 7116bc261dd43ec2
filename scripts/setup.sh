#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those
# missing), using sudo when not root.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format
          googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          python3)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
