#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Quorvane need: directly as root,
# through sudo otherwise. Does nothing when everything is there already.
set -euo pipefail

packages=(
  cmake g++ make pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-qpa-plugins libqt6test6 libgl-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic
  dbus at-spi2-core python3-pyatspi
  clang libclang-rt-14-dev
  hyperfine time
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
"${as_root[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
