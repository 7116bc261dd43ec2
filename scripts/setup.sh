#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those
# missing), using sudo when not root.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format
          googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          python3 dovecot-pop3d openssl libssl-dev locales
          qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev qt6-multimedia-dev libxcb1-dev
          dbus python3-dbus python3-gi python3-dbusmock trayer
          libsecret-1-dev pkg-config gnome-keyring libsecret-tools
          xvfb xauth fonts-dejavu-core imagemagick xdotool
          desktop-file-utils appstream man-db zsh fish bash-completion librsvg2-bin
          dpkg-dev fakeroot lintian file poppler-utils x11-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  # The POP3 tests start private Dovecot instances of their own. Keep the
  # package's system service from starting (and taking port 110) on install.
  policy=/usr/sbin/policy-rc.d
  if [[ " ${missing[*]} " == *" dovecot-pop3d "* && ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    trap '$sudo rm -f "$policy"' EXIT
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
