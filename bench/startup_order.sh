#!/usr/bin/env bash
# Writes the functions of the executable that a drop-folder run executes, as the LLVM linker's
# symbol ordering file: the build lays them side by side at the start of the code, so that a
# short run faults in two or three 64 KiB stretches of it rather than six or seven. Run it again
# after a change that renames or adds functions on that path; a name that is gone is only skipped.
# The run has a log listening on journald's socket, as on a desktop, so that the functions of its
# journal record are on the path too: the script runs itself in a mount namespace of its own with
# a private /run (as root, or as the root of a user namespace of its own).
# Needs valgrind (callgrind), python3 and unshare.
# Usage: bench/startup_order.sh [path/to/quorvane] > platform/linux/startup_order.txt
set -euo pipefail
if [ "${QUORVANE_ORDER_NAMESPACE:-0}" != 1 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
  exec env QUORVANE_ORDER_NAMESPACE=1 unshare "${as_root[@]}" -m --propagation private "$0" "$@"
fi
executable=$(realpath "${1:-build/release/quorvane}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
drop=$work/home/Documents/Brenvale/MFCQuorvane
# As a caller's second run finds it: the folders made, a result of the first run in place.
mkdir -p "$drop/AutoFile" "$drop/Result" "$drop/temp" "$work/config"
printf '11\r\n' >"$drop/Result/Decyield.tbin"
printf '1011\r\n' >"$drop/AutoFile/Bintake.tbin"
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /run/systemd/journal
python3 -c '
import socket, sys
log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
log.bind("/run/systemd/journal/socket")
open(sys.argv[1], "w").close()
log.recv(65536)
open(sys.argv[2], "w").close()
' "$work/listening" "$work/recorded" &
reader=$!
while [ ! -e "$work/listening" ]; do sleep 0.05; done
HOME=$work/home XDG_CONFIG_HOME=$work/config DISPLAY='' WAYLAND_DISPLAY='' \
  valgrind -q --tool=callgrind --demangle=no --callgrind-out-file="$work/profile" \
  "$executable" --batch >/dev/null
[ ! -e "$drop/AutoFile/Bintake.tbin" ] || { echo "the run did not take its input" >&2; exit 1; }
wait "$reader"
[ -e "$work/recorded" ] || { echo "the run sent no journal record" >&2; exit 1; }

echo "# The functions a drop-folder run executes, most executed first (bench/startup_order.sh)."
callgrind_annotate --threshold=100 "$work/profile" |
  sed -n "s|^ *[0-9,]* *([ 0-9.]*%) *[^ :]*:\([^ ]*\) \[$executable\]\$|\1|p" |
  grep -v -e '^0x' -e '^(' || true
