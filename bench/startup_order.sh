#!/usr/bin/env bash
# Writes the functions of the executable that a drop-folder run executes, as the LLVM linker's
# symbol ordering file: the build lays them side by side at the start of the code, so that a
# short run faults in two or three 64 KiB stretches of it rather than six or seven. Run it again
# after a change that renames or adds functions on that path; a name that is gone is only skipped.
# Needs valgrind (callgrind).
# Usage: bench/startup_order.sh [path/to/quorvane] > platform/linux/startup_order.txt
set -euo pipefail
executable=$(realpath "${1:-build/release/quorvane}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
drop=$work/home/Documents/Brenvale/MFCQuorvane
# As a caller's second run finds it: the folders made, a result of the first run in place.
mkdir -p "$drop/AutoFile" "$drop/Result" "$drop/temp" "$work/config"
printf '11\r\n' >"$drop/Result/Decyield.tbin"
printf '1011\r\n' >"$drop/AutoFile/Bintake.tbin"
HOME=$work/home XDG_CONFIG_HOME=$work/config DISPLAY='' WAYLAND_DISPLAY='' \
  valgrind -q --tool=callgrind --demangle=no --callgrind-out-file="$work/profile" \
  "$executable" --batch >/dev/null
[ ! -e "$drop/AutoFile/Bintake.tbin" ] || { echo "the run did not take its input" >&2; exit 1; }

echo "# The functions a drop-folder run executes, most executed first (bench/startup_order.sh)."
callgrind_annotate --threshold=100 "$work/profile" |
  sed -n "s|^ *[0-9,]* *([ 0-9.]*%) *[^ :]*:\([^ ]*\) \[$executable\]\$|\1|p" |
  grep -v -e '^0x' -e '^(' || true
