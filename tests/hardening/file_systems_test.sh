#!/usr/bin/env bash
# The drop folder's promises on every kind of file system a home folder lives on: for each of
# ext4 and xfs (loop-mounted images), tmpfs and a FUSE mount (bindfs, which, like NFS, 9p and
# sshfs, has no renameat2 flags and lets a reader miss a file that a rename replaces), the
# end-to-end tests of a plain run and every exit status, a rewrite during the run, a killed run's
# claim put back, and two copies at once run with their throw-away homes on that file system.
#
# Usage: tests/hardening/file_systems_test.sh TEST_BIN_DIR
#   TEST_BIN_DIR holds exit_status_test, concurrency_test and kill_test.
# Mounting needs root. A file system the kernel lacks, or a test run without root, is skipped
# with a loud line naming it; when every file system was skipped the status is 77 (ctest: skipped).
set -uo pipefail

bin=${1:?usage: $0 TEST_BIN_DIR}
tests=(exit_status_test concurrency_test kill_test)
work=$(mktemp -d /var/tmp/quorvane-fs.XXXXXX)
mounts=()
cleanup() {
  local mount
  for mount in "${mounts[@]}"; do umount -l "$mount" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

skip() { echo "SKIPPED: $1: $2 (the drop folder is NOT tested on $1 here)"; skipped=$((skipped + 1)); }
kernel_has() { grep -qw "$1" /proc/filesystems; }

# mount_one NAME MOUNTPOINT: makes the file system NAME and mounts it there.
mount_one() {
  local name=$1 point=$2
  mkdir -p "$point"
  case $name in
    ext4 | xfs)
      truncate -s 320M "$work/$name.img" &&
        "mkfs.$name" -q "$work/$name.img" &&
        mount -o loop "$work/$name.img" "$point"
      ;;
    tmpfs) mount -t tmpfs -o size=256m tmpfs "$point" ;;
    bindfs)
      mkdir -p "$work/bindfs-under" && bindfs "$work/bindfs-under" "$point"
      ;;
  esac
}

passed=0
failed=0
skipped=0
for name in ext4 xfs tmpfs bindfs; do
  if [ "$(id -u)" -ne 0 ]; then
    skip "$name" "mounting needs root"
    continue
  fi
  case $name in
    bindfs)
      if ! kernel_has fuse || [ ! -e /dev/fuse ] || ! command -v bindfs >/dev/null; then
        skip "$name" "no FUSE in this kernel, no /dev/fuse or no bindfs"
        continue
      fi
      ;;
    *)
      if ! kernel_has "$name"; then
        skip "$name" "the kernel has no $name (/proc/filesystems)"
        continue
      fi
      ;;
  esac
  point=$work/$name
  if ! mount_one "$name" "$point"; then
    echo "FAILED: $name: could not be made or mounted"
    failed=$((failed + 1))
    continue
  fi
  mounts+=("$point")
  chmod 1777 "$point"
  for test in "${tests[@]}"; do
    log=$work/$name-$test.log
    if TMPDIR=$point "$bin/$test" >"$log" 2>&1; then
      echo "ok   $name: $test ($(grep -c '^\[       OK' "$log") tests)"
      passed=$((passed + 1))
    else
      echo "FAIL $name: $test"
      grep -E '^\[  FAILED|Failure|row [0-9]+:|round [0-9]+' "$log" | head -n 20
      failed=$((failed + 1))
    fi
  done
  umount "$point" && mounts=("${mounts[@]/$point/}")
done

echo "$passed passed, $failed failed, $skipped file systems skipped"
[ "$failed" -eq 0 ] || exit 1
[ "$passed" -gt 0 ] || exit 77
