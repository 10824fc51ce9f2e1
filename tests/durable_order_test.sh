#!/usr/bin/env bash
# The order in which a real automatic run puts things on the disk, read from its system calls:
# the temporary result's bytes (fdatasync) before its rename onto Decyield.tbin, the Result
# folder (fsync) after that rename, and only then the input's claim and deletion. A power cut at
# any moment then leaves the input, or the whole result.
#
# Usage: tests/durable_order_test.sh QUORVANE
set -uo pipefail
quorvane=${1:?usage: $0 QUORVANE}
command -v strace >/dev/null || { echo "durable order: strace is missing (scripts/install-deps.sh)"; exit 1; }

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
drop=$home/Documents/Brenvale/MFCQuorvane/AutoFile
mkdir -p "$drop"
printf '101\r\n11\r\n' >"$drop/Bintake.tbin"
trace=$home/trace.txt
# LeakSanitizer cannot run under ptrace; a sanitized build still has its other checks.
env -i HOME="$home" PATH=/usr/bin:/bin ASAN_OPTIONS=detect_leaks=0 strace -f -o "$trace" \
  -e trace=openat,fdatasync,fsync,rename,renameat,renameat2,unlink,unlinkat "$quorvane"
status=$?

# One event per line, in order: what was synced, moved or deleted.
events=$(awk '
  /openat\(.*Decyield\.tbin\..*\.partial/ { match($0, /= [0-9]+$/); temp_fd = substr($0, RSTART + 2) }
  /openat\(.*\/Result", .*O_DIRECTORY/   { match($0, /= [0-9]+$/); dir_fd = substr($0, RSTART + 2) }
  /fdatasync\(/ { split($0, a, /[()]/); if (a[2] == temp_fd) print "temporary synced" }
  /fsync\(/     { split($0, a, /[()]/); if (a[2] == dir_fd) print "Result folder synced" }
  /rename.*\.partial".*Decyield\.tbin"/ { print "result renamed" }
  /renameat2\(.*Bintake\.tbin", .*\.claim"/ { print "input claimed" }
  /unlink.*Bintake\.tbin\..*\.claim"/ { print "input deleted" }
' "$trace" | tr '\n' ',')
expected="temporary synced,result renamed,Result folder synced,input claimed,input deleted,"

if [ "$status" -eq 0 ] && [ "$events" = "$expected" ] &&
   [ "$(cat "$home/Documents/Brenvale/MFCQuorvane/Result/Decyield.tbin")" = "$(printf '5\r\n3\r')" ]; then
  echo "durable order: $events"
  echo "1 passed, 0 failed"
  exit 0
fi
echo "durable order: status $status"
echo "  seen:     $events"
echo "  expected: $expected"
echo "0 passed, 1 failed"
exit 1
