#!/usr/bin/env bash
# Whole-process comparison of `quorvane --batch` with the I/O floor (bench/io_floor.c), the same
# floor as a C++ program (bench/io_floor_cxx.cc), the floor (bench/floor.c), the yardstick
# (bench/yardstick.c) and, on inputs of up to 4 KiB, the floor with the promises' system calls
# (bench/io_promises.c), side by side on the same input, for each input size in SIZES: the
# largest input a run accepts and a 5-byte one. Also the peak memory of quorvane and of the I/O
# floor on the largest input.
#
# Usage: bench/compare.sh [QUORVANE]
#   QUORVANE     the executable; by default the first of build/bench, build/release, build/* that
#                has one.
# Environment:
#   SIZES="2077000 5"  bytes of input (make_input.py), one comparison each
#   RUNS=60            timed runs per command and size, made in ROUNDS=3 rounds in which the
#                      commands take turns run by run; WARMUP=2 untimed runs per command and round
#   MAX_IO_FLOOR_RATIO="1.7 1.1"  per size in SIZES' order, fail when median(quorvane) /
#                      median(io_floor) is above; unset, 1.1 for inputs up to 4 KiB and 1.7 above
#   MAX_FLOOR_RATIO=1.25  fail when median(quorvane) / median(floor) is above this (largest size)
#   MAX_RATIO=1.5      fail when median(quorvane) / median(yardstick) is above this (largest size)
#   MAX_RSS_OVER_FLOOR_KB=1024  fail when quorvane's peak RSS exceeds the I/O floor's by more
#   BENCH_DIR=$TMPDIR  where the throw-away HOME is made (its file system decides what fsync costs:
#                      /dev/shm leaves the disk out)
#   YARDSTICK, FLOOR, IO_FLOOR, IO_FLOOR_CXX, IO_PROMISES, IO_FLOOR_JOURNAL  the programs; by
#                      default the ones built next to quorvane (bench/...), else compiled here
#                      with ${CC:-cc} -O2 (the C++ one with ${CXX:-c++}, its runtime and heap as
#                      quorvane's are)
#   KEEP=1             keep the throw-away folder (its path is printed)
#   JOURNAL=1          a reader listens on journald's socket, so that quorvane's record of each run
#                      is sent and read, as on a desktop with journald (needs root: the script runs
#                      itself in a mount namespace of its own, with a private /run). The I/O floor's
#                      limit then applies to the I/O floor that sends the same record
#                      (io_floor.c built with WITH_JOURNAL: waking the log's reader costs any
#                      program that sends one); the plain floor's ratio is printed for
#                      information. Unset, no log listens, as on CI, and the record ends at
#                      looking for the log's sockets
#
# Every run is checked: before each run the previous run's result file is compared byte for byte
# with the yardstick's first result and removed, and the input file is put back in place.
# Exit status: 0 within every limit, 1 a limit exceeded, 2 a failed run, a wrong result or a
# missing tool.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
read -r -a sizes <<<"${SIZES:-2077000 5}"
read -r -a max_io_floor_ratios <<<"${MAX_IO_FLOOR_RATIO:-}"
runs=${RUNS:-60}
rounds=${ROUNDS:-3}
warmup=${WARMUP:-2}
runs_per_round=$(((runs + rounds - 1) / rounds))
runs=$((runs_per_round * rounds))
max_ratio=${MAX_RATIO:-1.5}
max_floor_ratio=${MAX_FLOOR_RATIO:-1.25}
max_rss_over_floor_kb=${MAX_RSS_OVER_FLOOR_KB:-1024}

die() {
  echo "compare.sh: $*" >&2
  exit 2
}

if [ "${JOURNAL:-0}" = 1 ] && [ "${QUORVANE_BENCH_NAMESPACE:-0}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || die "JOURNAL=1 needs root, for a private /run"
  exec env QUORVANE_BENCH_NAMESPACE=1 unshare -m --propagation private "$0" "$@"
fi

for tool in /usr/bin/time python3; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done

quorvane=${1:-}
if [ -z "$quorvane" ]; then
  for candidate in "$source_dir"/build/bench/quorvane "$source_dir"/build/release/quorvane \
    "$source_dir"/build/*/quorvane; do
    if [ -x "$candidate" ]; then
      quorvane=$candidate
      break
    fi
  done
fi
if [ -z "$quorvane" ] || [ ! -x "$quorvane" ]; then
  die "no quorvane executable found; give its path"
fi
quorvane=$(cd "$(dirname "$quorvane")" && pwd)/$(basename "$quorvane")

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/quorvane-bench.XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then
  echo "throw-away folder: $work"
else
  trap 'rm -rf "$work"' EXIT
fi

# JOURNAL=1: the reader, which notes one byte in $work/journal-records for each record it reads: q
# for quorvane's, f for the floors', so that it does the same work for each.
if [ "${JOURNAL:-0}" = 1 ]; then
  { mount -t tmpfs -o mode=755 tmpfs /run && mkdir -p /run/systemd/journal; } ||
    die "cannot make a private /run"
  python3 - "$work/journal-records" <<'EOF' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind("/run/systemd/journal/socket")
with open(sys.argv[1], "ab", buffering=0) as noted:
    while True:
        record = s.recv(65536)
        if record.startswith(b"PRIORITY="):
            noted.write(b"q" if b"\nSYSLOG_IDENTIFIER=quorvane\n" in record else b"f")
EOF
  journal_reader=$!
  trap 'kill "$journal_reader"; rm -rf "$work"' EXIT
  for _ in $(seq 100); do [ -S /run/systemd/journal/socket ] && break; sleep 0.05; done
fi

# The program NAME built beside quorvane, or compiled here from bench/NAME.c.
program() {
  local built
  built=$(dirname "$quorvane")/bench/$1
  if [ -x "$built" ]; then
    echo "$built"
  else
    case $1 in
      io_floor_cxx)
        { "${CC:-cc}" -O2 -c -o "$work/io_floor.o" "$here/io_floor.c" &&
          "${CXX:-c++}" -std=c++20 -O2 -fno-builtin -DQUORVANE_STARTUP_HEAP -I"$here/.." -static-libstdc++ \
            -static-libgcc -o "$work/$1" "$work/io_floor.o" "$here/io_floor_cxx.cc" \
            "$here/../platform/linux/startup_heap_linux.cc"; } || die "cannot build $1"
        ;;
      io_floor_journal)
        "${CC:-cc}" -O2 -DWITH_JOURNAL -o "$work/$1" "$here/io_floor.c" || die "cannot build $1"
        ;;
      *) "${CC:-cc}" -O2 -o "$work/$1" "$here/$1.c" || die "cannot build $1" ;;
    esac
    echo "$work/$1"
  fi
}
yardstick=${YARDSTICK:-$(program yardstick)}
floor=${FLOOR:-$(program floor)}
io_floor=${IO_FLOOR:-$(program io_floor)}
io_floor_cxx=${IO_FLOOR_CXX:-$(program io_floor_cxx)}
io_promises=${IO_PROMISES:-$(program io_promises)}
if [ "${JOURNAL:-0}" = 1 ]; then io_floor_journal=${IO_FLOOR_JOURNAL:-$(program io_floor_journal)}; fi

# The throw-away HOME: no settings file, no user-dirs.dirs, no display, so that quorvane takes the
# drop folder under $HOME/Documents and ends by itself without a word.
home=$work/home
drop=$home/Documents/Brenvale/MFCQuorvane
mkdir -p "$drop/AutoFile" "$work/config" "$work/yard" "$work/floor-out" "$work/io-floor" \
  "$work/io-floor-cxx" "$work/io-floor-journal" "$work/promises/AutoFile" "$work/promises/Result" \
  "$work/promises/temp"
export HOME=$home XDG_CONFIG_HOME=$work/config
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# prepare.sh EXPECTED INPUT RESULT [TARGET]: checks the previous run's result (if any) against
# EXPECTED and removes it, then puts INPUT in place as TARGET.
cat >"$work/prepare.sh" <<'EOF'
set -e
expected=$1 input=$2 result=$3 target=${4:-}
if [ -e "$result" ]; then
  if ! cmp -s "$expected" "$result"; then
    echo "compare.sh: $result differs from the yardstick's result" >&2
    exit 1
  fi
  rm -f "$result"
fi
[ -z "$target" ] || cp "$input" "$target"
EOF

status=0
index=0
for size in "${sizes[@]}"; do
  if [ ${#max_io_floor_ratios[@]} -eq 0 ]; then
    # Chosen by the size, not its place in SIZES, so that SIZES=5 alone keeps the tiny input's
    # limit.
    if [ "$size" -le 4096 ]; then max_io_floor_ratio=1.1; else max_io_floor_ratio=1.7; fi
  else
    max_io_floor_ratio=${max_io_floor_ratios[$index]:-${max_io_floor_ratios[-1]}}
  fi
  index=$((index + 1))
  input=$work/input-$size.tbin
  expected=$work/expected-$size.tbin
  rm -f "$drop/Result/Decyield.tbin" "$work"/*/out.tbin
  python3 "$here/make_input.py" "$input" "$size"
  "$yardstick" "$input" "$expected" || die "the yardstick failed on the input"
  # The yardstick is checked once against a third reckoning, so that the programs cannot agree
  # on a wrong answer.
  python3 - "$input" "$expected" <<'EOF' || die "the yardstick's result is wrong"
import sys
lines = open(sys.argv[1], "rb").read().replace(b"\r", b"").split(b"\n")
want = b"".join(b"%d\r\n" % int(line, 2) for line in lines if line)
sys.exit(open(sys.argv[2], "rb").read() != want)
EOF

  prepare="sh $work/prepare.sh $expected $input"
  prepare_quorvane="$prepare $drop/Result/Decyield.tbin $drop/AutoFile/Bintake.tbin"
  prepare_io_floor="$prepare $work/io-floor/out.tbin $work/io-floor/in.tbin"
  prepare_io_floor_cxx="$prepare $work/io-floor-cxx/out.tbin $work/io-floor-cxx/in.tbin"
  prepare_floor="$prepare $work/floor-out/out.tbin $work/floor-out/in.tbin"
  prepare_yardstick="$prepare $work/yard/out.tbin $work/yard/in.tbin"
  # The promises' system calls without quorvane (io_promises.c), on small inputs only.
  promises=()
  if [ "$size" -le 4096 ]; then
    promises=(io_promises
      "$prepare $work/promises/Result/Decyield.tbin $work/promises/AutoFile/Bintake.tbin"
      "$io_promises $work/promises $expected")
  fi
  # With a log listening, the I/O floor that sends the same record.
  journal_floor=()
  if [ "${JOURNAL:-0}" = 1 ]; then
    journal_floor=(io_floor_journal
      "$prepare $work/io-floor-journal/out.tbin $work/io-floor-journal/in.tbin"
      "$io_floor_journal $work/io-floor-journal/in.tbin $work/io-floor-journal/out.tbin $expected")
  fi

  # One run of quorvane first, so that a broken build stops here with its own message.
  $prepare_quorvane
  "$quorvane" --batch || die "quorvane --batch ended with status $? (see docs/exit-status.md)"
  [ ! -e "$drop/AutoFile/Bintake.tbin" ] || die "quorvane left the input file in place"
  $prepare "$drop/Result/Decyield.tbin" || die "quorvane's result is wrong"

  # The commands take turns run by run, in rounds, so that other load on the machine falls on all
  # of them alike; the medians are taken over the runs of all rounds. Each run is timed from its
  # start to its end alone (its prepare is not), and its user and system times are its own.
  python3 - "$work/times-$size" "$rounds" "$runs_per_round" "$warmup" \
    quorvane "$prepare_quorvane" "$quorvane --batch" \
    io_floor "$prepare_io_floor" "$io_floor $work/io-floor/in.tbin $work/io-floor/out.tbin $expected" \
    io_floor_cxx "$prepare_io_floor_cxx" \
    "$io_floor_cxx $work/io-floor-cxx/in.tbin $work/io-floor-cxx/out.tbin $expected" \
    floor "$prepare_floor" "$floor $work/floor-out/in.tbin $work/floor-out/out.tbin" \
    yardstick "$prepare_yardstick" "$yardstick $work/yard/in.tbin $work/yard/out.tbin" \
    "${journal_floor[@]}" "${promises[@]}" <<'EOF' ||
import json, os, shlex, subprocess, sys, time

out, rounds, runs, warmup = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
commands = [(name, shlex.split(prepare), shlex.split(command))
            for name, prepare, command in zip(*[iter(sys.argv[5:])] * 3)]
null = os.open(os.devnull, os.O_RDWR)
quiet = [(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1),
         (os.POSIX_SPAWN_DUP2, null, 2)]


def run(name, prepare, command):
    subprocess.run(prepare, check=True)
    start = time.perf_counter()
    pid = os.posix_spawn(command[0], command, os.environ, file_actions=quiet)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"compare.sh: {name} ended with {os.waitstatus_to_exitcode(status)}")
    return wall, usage.ru_utime, usage.ru_stime


for round in range(1, rounds + 1):
    for _ in range(warmup):
        for command in commands:
            run(*command)
    times = {name: ([], [], []) for name, _, _ in commands}
    for _ in range(runs):
        for command in commands:
            for column, value in zip(times[command[0]], run(*command)):
                column.append(value)
    # As hyperfine writes it, which the summary below reads.
    json.dump({"results": [{"command": name, "times": wall, "user": sum(user) / len(user),
                            "system": sum(system) / len(system)}
                           for name, (wall, user, system) in times.items()]},
              open(f"{out}-{round}.json", "w"))
EOF
    die "a run failed or gave a wrong result"
  # The last run of each command has not been checked by a following prepare yet.
  for result in "$drop/Result/Decyield.tbin" "$work/io-floor/out.tbin" \
    "$work/io-floor-cxx/out.tbin" "$work/io-floor-journal/out.tbin" "$work/floor-out/out.tbin" \
    "$work/yard/out.tbin" "$work/promises/Result/Decyield.tbin"; do
    $prepare "$result" || die "wrong result"
  done

  # Peak memory of quorvane and of the I/O floor (the largest of three runs each).
  peak() {
    local most=0 kb
    for _ in 1 2 3; do
      $2
      /usr/bin/time -v -o "$work/time.txt" "${@:3}" || die "$1 failed under /usr/bin/time"
      kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
      if [ "$kb" -gt "$most" ]; then most=$kb; fi
    done
    echo "$most"
  }
  rss_kb=$(peak quorvane "$prepare_quorvane" "$quorvane" --batch)
  io_floor_rss_kb=$(peak io_floor "$prepare_io_floor" \
    "$io_floor" "$work/io-floor/in.tbin" "$work/io-floor/out.tbin" "$expected")
  $prepare "$drop/Result/Decyield.tbin" || die "wrong result"

  python3 - "$work" "$size" "$rss_kb" "$io_floor_rss_kb" "$(stat -f -c %T "$work")" "$runs" \
    "$rounds" "$max_io_floor_ratio" "$max_floor_ratio" "$max_ratio" "$max_rss_over_floor_kb" \
    "${sizes[0]}" <<'EOF' || status=1
import glob, json, statistics, sys

(work, size, rss, io_floor_rss, fs_type, runs, rounds, max_io_floor_ratio, max_floor_ratio,
 max_ratio, max_rss_over, largest) = sys.argv[1:]
results = [r for path in sorted(glob.glob(f"{work}/times-{size}-*.json"))
           for r in json.load(open(path))["results"]]
names = list(dict.fromkeys(r["command"] for r in results))
times = {name: {"wall": [], "user": [], "system": []} for name in names}
for r in results:
    for key, values in (("wall", r["times"]), ("user", [r["user"]] * len(r["times"])),
                        ("system", [r["system"]] * len(r["times"]))):
        times[r["command"]][key] += values
median = {name: statistics.median(times[name]["wall"]) for name in names}
print(f"== input of {int(size):,} bytes; throw-away HOME on {fs_type}; {runs} runs each in "
      f"{rounds} rounds")
for name in names:
    t = times[name]
    print(f"  {name:<16} median {median[name] * 1000:7.2f} ms  "
          f"(min {min(t['wall']) * 1000:.2f}, max {max(t['wall']) * 1000:.2f}; "
          f"mean user {statistics.mean(t['user']) * 1000:.2f}, "
          f"system {statistics.mean(t['system']) * 1000:.2f})")
# With a log listening, the limit is on the floor that sends the same record.
limited_floor = "io_floor_journal" if "io_floor_journal" in median else "io_floor"
io_floor_ratio = median["quorvane"] / median[limited_floor]
floor_ratio = median["quorvane"] / median["floor"]
ratio = median["quorvane"] / median["yardstick"]
full = size == largest
print(f"ratio quorvane / {limited_floor}:  {io_floor_ratio:.2f}  (limit {max_io_floor_ratio})")
if limited_floor != "io_floor":
    print(f"for information: quorvane / io_floor {median['quorvane'] / median['io_floor']:.2f}, "
          f"io_floor_journal / io_floor {median['io_floor_journal'] / median['io_floor']:.2f} "
          f"(the record's delivery, made by a C program)")
print(f"ratio quorvane / floor:     {floor_ratio:.2f}" + (f"  (limit {max_floor_ratio})" if full else ""))
print(f"ratio quorvane / yardstick: {ratio:.2f}" + (f"  (limit {max_ratio})" if full else ""))
cpu = {n: statistics.mean(times[n]["user"]) + statistics.mean(times[n]["system"]) for n in names}
print(f"for information: quorvane / io_floor_cxx {median['quorvane'] / median['io_floor_cxx']:.2f}, "
      f"io_floor_cxx / io_floor {median['io_floor_cxx'] / median['io_floor']:.2f} (the C++ runtime's "
      f"share)")
if "io_promises" in median:
    print(f"for information: quorvane / io_promises {median['quorvane'] / median['io_promises']:.2f}, "
          f"io_promises / io_floor {median['io_promises'] / median['io_floor']:.2f} (the promises' "
          f"system calls, made by a C program)")
print(f"for information, against the I/O floor: ratio of the fastest runs "
      f"{min(times['quorvane']['wall']) / min(times['io_floor']['wall']):.2f}, of CPU time "
      f"(user + system) {cpu['quorvane'] / cpu['io_floor']:.2f}")
print(f"peak RSS: quorvane {rss} KiB, I/O floor {io_floor_rss} KiB: {int(rss) - int(io_floor_rss):+d} KiB"
      + (f" (limit +{max_rss_over})" if full else ""))
failed = []
if io_floor_ratio > float(max_io_floor_ratio):
    failed.append(f"{io_floor_ratio:.2f} times the time of {limited_floor}")
if full and floor_ratio > float(max_floor_ratio):
    failed.append(f"{floor_ratio:.2f} times the floor's time")
if full and ratio > float(max_ratio):
    failed.append(f"{ratio:.2f} times the yardstick's time")
if full and int(rss) - int(io_floor_rss) > int(max_rss_over):
    failed.append(f"a peak RSS {int(rss) - int(io_floor_rss)} KiB above the I/O floor's")
for reason in failed:
    print(f"FAIL: quorvane takes {reason}")
print("FAIL" if failed else "OK")
sys.exit(1 if failed else 0)
EOF
done
if [ "${JOURNAL:-0}" = 1 ]; then
  echo "journal: $(tr -cd q <"$work/journal-records" | wc -c) records read from quorvane's runs," \
    "$(tr -cd f <"$work/journal-records" | wc -c) from the floors'"
fi
exit "$status"
