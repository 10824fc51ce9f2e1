#!/usr/bin/env bash
# The record every automatic run leaves in the system's log, read where journald and syslog read
# it: journald's own socket (/run/systemd/journal/socket, the record as fields) where it listens,
# the datagram socket /dev/log otherwise. Machines like CI's have neither, so the test makes its
# own, in a private mount namespace with a tmpfs /dev (null, zero, urandom and the socket) and a
# tmpfs /run. Also: a log that nobody reads, or none at all, changes nothing about the run.
#
# Usage: tests/hardening/system_log_test.sh QUORVANE
# Needs root (unshare -m); without it, it says so loudly and ends 77 (ctest: skipped).
set -uo pipefail

quorvane=${1:?usage: $0 QUORVANE}
if [ "${2:-}" != --inside ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the system log: a private /dev needs root (the journal is NOT tested here)"
    exit 77
  fi
  exec unshare -m --propagation private "$0" "$quorvane" --inside
fi

# The counts and check() that the other test parts use.
# shellcheck source-path=SCRIPTDIR source=../../scripts/test-lib.sh
. "$(dirname "$0")/../../scripts/test-lib.sh"

mount -t tmpfs -o mode=755 tmpfs /dev || exit 1
mknod -m 666 /dev/null c 1 3 && mknod -m 666 /dev/zero c 1 5 && mknod -m 444 /dev/urandom c 1 9
mount -t tmpfs -o mode=755 tmpfs /run && mkdir -p /run/systemd/journal || exit 1
journal_socket=/run/systemd/journal/socket
work=$(mktemp -d)
trap 'kill "$listener" "$journal_listener" 2>/dev/null; rm -rf "$work"' EXIT
records=$work/records

# listen MODE [SOCKET]: a socket at SOCKET (/dev/log); "read" writes each datagram as a line of
# $records, "deaf" reads nothing, so that its queue fills, and "journal" reads journald's fields,
# each written NAME=value with a tab between them, a line end in a value as \n.
listen() {
  local socket=${2:-/dev/log}
  rm -f "$socket"
  python3 - "$1" "$records" "$socket" <<'PY' &
import socket, struct, sys, time
mode, out, path = sys.argv[1:]
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
if mode == "deaf":
    # Fill the queue, as a log daemon that has fallen behind leaves it.
    filler = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    filler.connect(path)
    try:
        while True:
            filler.send(b"<14>filler: x" * 50, socket.MSG_DONTWAIT)
    except BlockingIOError:
        pass
    open(out + ".full", "w").close()
    time.sleep(600)


def fields(datagram):
    # journald's native protocol: NAME=value, or NAME, its value's length (64 bits, little-endian)
    # and the value; each ended by a line end.
    found, at = [], 0
    while at < len(datagram):
        end = datagram.index(b"\n", at)
        line = datagram[at:end]
        if b"=" in line:
            name, value = line.split(b"=", 1)
            at = end + 1
        else:
            (length,) = struct.unpack("<Q", datagram[end + 1:end + 9])
            name, value = line, datagram[end + 9:end + 9 + length]
            assert datagram[end + 9 + length:end + 10 + length] == b"\n", "no line end after a value"
            at = end + 10 + length
        found.append(name + b"=" + value.replace(b"\n", b"\\n"))
    return b"\t".join(found)


with open(out, "ab", buffering=0) as f:
    while True:
        datagram = s.recv(65536)
        f.write((fields(datagram) if mode == "journal" else datagram.replace(b"\n", b" ")) + b"\n")
PY
  listener=$!
  for _ in $(seq 100); do
    if [ -S "$socket" ] && { [ "$1" != deaf ] || [ -e "$records.full" ]; }; then return 0; fi
    sleep 0.05
  done
  echo "FAIL the test's $socket did not come up"
  exit 1
}

home=$work/home
data=$home/Documents/Brenvale/MFCQuorvane
# run INPUT [ARGUMENT...]: drops INPUT (no file when "-") and starts quorvane; its status.
run() {
  local input=$1
  shift
  mkdir -p "$data/AutoFile"
  [ "$input" = - ] || printf "%b" "$input" >"$data/AutoFile/Bintake.tbin"
  HOME=$home LANG=C.UTF-8 timeout 20 "$quorvane" "$@" 2>/dev/null
}
# The last record; waits a moment for the listener to write it.
last_record() {
  sleep 0.2
  tail -n 1 "$records" 2>/dev/null
}

listen read
run '101\r\n11\r\n' --batch
check "--batch: converted" "$?" 0
record=$(last_record)
check "one record for it" "$(wc -l <"$records")" 1
# <14>: a user program's information; the tag journalctl -t quorvane finds.
check "its priority and tag" "$(echo "$record" | grep -c -E '^<14>[A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} quorvane\[[0-9]+\]: ')" 1
check "its status, input and lines" "$(echo "$record" | grep -c -E '終了状態 0: .* 入力 9 バイト、2 行、[0-9]+ ミリ秒$')" 1

run '1\r\n1 0\r\n' --batch
check "--batch: refused" "$?" 13
record=$(last_record)
check "an error (<11>), its status and line" "$(echo "$record" | grep -c -E '^<11>.*終了状態 13: .*（2行目）')" 1

# A silent start without options (messages off, the default) is recorded all the same.
run '11\r\n'
check "a start without options" "$?" 0
check "is recorded too" "$(last_record | grep -c -E '^<14>.*引数なしの起動.*終了状態 0')" 1

rm -rf "$data/Result"
printf x >"$data/Result"
run '1\r\n' --batch
check "--batch: the Result folder is a file" "$?" 16
check "the record names the cause" "$(last_record | grep -c -E '^<11>.*終了状態 16: .*原因: ')" 1
rm -f "$data/Result"
check "four runs, four records" "$(wc -l <"$records")" 4
check "nothing written into the drop folder" "$(ls -A "$data/AutoFile")" Bintake.tbin
rm -f "$data/AutoFile/Bintake.tbin"

# A log that nobody reads: its queue is full, and the run neither waits nor changes its status.
kill "$listener"
listen deaf
start=$(date +%s%N)
run '110\r\n' --batch
check "with a log nobody reads: converted" "$?" 0
check "... without waiting for it" "$(( ($(date +%s%N) - start) / 1000000 < 5000 ))" 1
check "... its result" "$(od -An -c "$data/Result/Decyield.tbin" | tr -d ' ')" '6\r\n'
kill "$listener"

# Where journald listens, the record goes to it as fields, and /dev/log hears nothing.
listen read
syslog_listener=$listener
listen journal "$journal_socket"
journal_listener=$listener
before=$(wc -l <"$records")
run '101\r\n' --batch
check "journald: converted" "$?" 0
record=$(last_record)
check "one record for it" "$(($(wc -l <"$records") - before))" 1
check "as journald's fields: information, a user program's, the tag, the status" \
  "$(echo "$record" | grep -c -P '^PRIORITY=6\tSYSLOG_FACILITY=1\tSYSLOG_IDENTIFIER=quorvane\tMESSAGE=.*終了状態 0: .*入力 5 バイト、1 行')" 1
# A value may hold a line end (here the tag: the program's file name); it goes whole.
odd_name=$work/$'quor\nvane'
cp "$quorvane" "$odd_name"
printf '1\r\n0\r\n' >"$data/AutoFile/Bintake.tbin"
HOME=$home LANG=C.UTF-8 timeout 20 "$odd_name" --batch 2>/dev/null
check "journald: a program whose name holds a line end: converted" "$?" 0
check "its tag whole" \
  "$(last_record | grep -c -P '^PRIORITY=6\t.*\tSYSLOG_IDENTIFIER=quor\\nvane\tMESSAGE=.*入力 6 バイト、2 行')" 1
# Started through a link of another name, it is still known by its file's own name.
ln -s "$(readlink -f "$quorvane")" "$work/linked-name"
printf '1\r\n' >"$data/AutoFile/Bintake.tbin"
HOME=$home LANG=C.UTF-8 timeout 20 "$work/linked-name" --batch 2>/dev/null
check "journald: started through a link: converted" "$?" 0
check "the tag is the file's name" \
  "$(last_record | grep -c -P '^PRIORITY=6\t.*\tSYSLOG_IDENTIFIER='"$(basename "$quorvane")"'\t')" 1
# A journald that has fallen behind (its queue full) misses the record: it does not go to /dev/log
# instead, which journald reads too.
kill "$journal_listener"
wait "$journal_listener" 2>/dev/null
rm -f "$records.full"
listen deaf "$journal_socket"
journal_listener=$listener
before=$(wc -l <"$records")
run '111\r\n' --batch
check "journald behind: converted" "$?" 0
check "... and /dev/log hears nothing" "$(sleep 0.2; echo $(($(wc -l <"$records") - before)))" 0
# A journald that has gone away leaves its socket behind: the record goes to /dev/log.
kill "$journal_listener"
wait "$journal_listener" 2>/dev/null
run '110\r\n' --batch
check "journald gone: converted" "$?" 0
check "the record went to /dev/log" "$(last_record | grep -c -E '^<14>[A-Z][a-z]{2} .* quorvane\[[0-9]+\]: .*終了状態 0')" 1
kill "$syslog_listener"
rm -f "$journal_socket"

# No log at all.
rm -f /dev/log
run '111\r\n' --batch
check "with no /dev/log: converted" "$?" 0
check "... its result" "$(od -An -c "$data/Result/Decyield.tbin" | tr -d ' ')" '7\r\n'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
