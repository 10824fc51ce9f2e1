#!/usr/bin/env bash
# `quorvane --convert` streaming SIZE_MB (100) megabytes of standard input (lines of 1 to 31
# binary digits with LF, a fixed-seed block repeated): its output checked byte for byte on every
# converter path this machine runs, its peak memory, and its throughput beside `cat` and the AVX2
# reference converter (bench/reference_convert.c) on the same input, all writing to /dev/null. The
# commands take turns in ROUNDS (3) rounds; the medians are compared.
#
# Usage: bench/convert_stream.sh [QUORVANE [REFERENCE]]
#   QUORVANE    default: build/release/quorvane
#   REFERENCE   default: bench/reference_convert beside QUORVANE; left out when missing
# Environment:
#   SIZE_MB=100, ROUNDS=3
#   MAX_RSS_KB=4096  the most peak memory (KiB) any run may take; 0: not checked (a sanitizer's
#                    memory says nothing about the program's)
# Exit status: 0 every output right and within the memory limit, 1 above the limit, 2 a wrong
# output or a failed run. The throughput figures pass or fail nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
quorvane=${1:-$here/../build/release/quorvane}
reference=${2:-$(dirname "$quorvane")/bench/reference_convert}
size_mb=${SIZE_MB:-100}
rounds=${ROUNDS:-3}
max_rss_kb=${MAX_RSS_KB:-4096}
work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/quorvane-stream.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One block of 4096 random lines and its decimals, repeated to the size asked for.
python3 - "$work" "$size_mb" <<'PY'
import random, sys
work, size_mb = sys.argv[1], int(sys.argv[2])
random.seed(20261207)
numbers = [random.getrandbits(random.randint(1, 31)) for _ in range(4096)]
block = "".join(format(n, "b").zfill(1) + "\n" for n in numbers).encode()
result = "".join(f"{n}\n" for n in numbers).encode()
repeat = size_mb * 1_000_000 // len(block) + 1
with open(f"{work}/input", "wb") as f:
    f.write(block * repeat)
with open(f"{work}/expected", "wb") as f:
    f.write(result * repeat)
PY
bytes=$(stat -c %s "$work/input")
echo "input: $bytes bytes"

# The converter paths this machine runs; a path it lacks is said, never passed over in silence.
paths=(portable)
flags=$(sed -n 's/^flags[[:space:]]*: //p' /proc/cpuinfo | head -n1)
if [[ " $flags " == *" avx2 "* && " $flags " == *" bmi2 "* && " $flags " == *" popcnt "* ]]; then
  paths+=(avx2)
else
  echo "SKIPPED: the avx2 path (this machine lacks AVX2, BMI2 or POPCNT)"
fi

status=0
for path in "${paths[@]}"; do
  if ! QUORVANE_CONVERTER=$path "$quorvane" --convert <"$work/input" >"$work/output"; then
    echo "convert_stream.sh: quorvane --convert failed on the $path path"
    exit 2
  fi
  if ! cmp -s "$work/output" "$work/expected"; then
    echo "convert_stream.sh: wrong output on the $path path"
    exit 2
  fi
  rss_kb=$(QUORVANE_CONVERTER=$path /usr/bin/time -f %M "$quorvane" --convert <"$work/input" 2>&1 >/dev/null | tail -n1)
  if [ "$max_rss_kb" -eq 0 ]; then
    echo "$path path: output right; peak RSS $rss_kb KiB (not checked: a sanitizer build)"
  elif [ "$rss_kb" -le "$max_rss_kb" ]; then
    echo "$path path: output right; peak RSS $rss_kb KiB (limit $max_rss_kb)"
  else
    echo "$path path: output right; peak RSS $rss_kb KiB, ABOVE the limit of $max_rss_kb"
    status=1
  fi
done

# Throughput: the commands take turns, round after round, so that other load on the machine falls
# on all of them alike.
commands=("cat" "$quorvane --convert")
[ "${#paths[@]}" -gt 1 ] && commands+=("env QUORVANE_CONVERTER=portable $quorvane --convert")
if [ -x "$reference" ] && "$reference" </dev/null >/dev/null 2>&1; then
  commands+=("$reference")
else
  echo "SKIPPED: the reference converter (missing, or this machine lacks AVX2): no ratio to it"
fi
python3 - "$work/input" "$bytes" "$rounds" "${commands[@]}" <<'PY'
import os, re, statistics, subprocess, sys, time
path, size, rounds, commands = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
wall = {c: [] for c in commands}
cpu = {c: [] for c in commands}
for _ in range(rounds):
    for command in commands:
        with open(path, "rb") as source, open(os.devnull, "wb") as sink:
            start = time.perf_counter()
            child = subprocess.Popen(command.split(), stdin=source, stdout=sink)
            _, status, usage = os.wait4(child.pid, 0)
            wall[command].append(time.perf_counter() - start)
            cpu[command].append(usage.ru_utime + usage.ru_stime)
        if status != 0:
            sys.exit(f"convert_stream.sh: {command} failed")
median = {c: statistics.median(wall[c]) for c in commands}
median_cpu = {c: statistics.median(cpu[c]) for c in commands}
print(f"throughput to /dev/null, medians of {rounds} rounds (wall; CPU time for information):")
for c in commands:
    name = re.sub(r"\S*/", "", c)
    print(f"  {name:<55} {size / 1e6 / median[c]:7.0f} MB/s  ({median[c] * 1000:6.1f} ms; CPU {median_cpu[c] * 1000:6.1f} ms)")
quorvane = commands[1]
reference = [c for c in commands if c.endswith("reference_convert")]
if reference:
    r = reference[0]
    print(f"ratio quorvane / reference (throughput): {median[r] / median[quorvane]:.2f}  "
          f"(CPU time: {median_cpu[r] / median_cpu[quorvane]:.2f})")
print(f"ratio quorvane / cat (throughput): {median['cat'] / median[quorvane]:.2f}")
PY
exit "$status"
