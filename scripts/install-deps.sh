#!/usr/bin/env bash
# Installs the Debian 12 packages Quorvane needs: directly as root, through sudo otherwise. Does
# nothing when everything is there already.
#   scripts/install-deps.sh         everything that building, testing and packaging need
#   scripts/install-deps.sh --run   only what building the program and showing its dialog need
#                                   (scripts/run.sh)
set -euo pipefail

# Building the program and its Qt module (lld lays out the executable's start-up code), and
# showing the dialog with a Japanese font.
run_packages=(
  cmake g++ make lld
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-ipafont-gothic
)
# The tests, the Windows cross-build and its Wine tests, the sanitizers and fuzzers, the
# benchmarks, and the packages with their checks (scripts/package.sh, scripts/test-package.sh);
# the file systems the drop folder is tested on (loop-mounted ext4 and xfs, bindfs over FUSE) and
# the throw-away accounts of the two-account test.
test_packages=(
  pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev libqt6test6
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  xvfb xdotool x11-utils imagemagick qt6-wayland
  dbus at-spi2-core python3-pyatspi locales
  clang libclang-rt-14-dev
  hyperfine time strace man-db python3
  dpkg-dev debhelper zip unzip wixl msitools faketime lintian diffoscope-minimal desktop-file-utils
  appstream shellcheck
  bindfs fuse3 xfsprogs e2fsprogs util-linux passwd
)

case "${1:-}" in
  --run) packages=("${run_packages[@]}") ;;
  "") packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [--run]" >&2; exit 2 ;;
esac

# Wine takes its user interface language from LANG: the Windows tests run the Japanese texts under
# ja_JP.UTF-8 and the English ones under en_US.UTF-8, and the Qt test reads English under the
# latter. Debian generates neither until asked.
generate_locales() {
  [ "${packages[*]}" = "${run_packages[*]}" ] && return 0
  local wanted=() locale
  for locale in ja_JP.UTF-8 en_US.UTF-8; do
    locale -a 2>/dev/null | grep -qix "${locale%.UTF-8}.utf8" || wanted+=("$locale")
  done
  [ ${#wanted[@]} -eq 0 ] && return 0
  echo "Generating locales: ${wanted[*]}"
  for locale in "${wanted[@]}"; do
    "${as_root[@]}" sed -i "s/^# *\($locale UTF-8\)/\1/" /etc/locale.gen
  done
  "${as_root[@]}" locale-gen >/dev/null
}

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
generate_locales
