#!/usr/bin/env bash
# Throughput and peak memory of `quorvane --convert` streaming standard input, beside `cat` on the
# same input: SIZE_MB (100) megabytes of lines of 1 to 31 binary digits with LF, read from a file
# and written to a file. The output is checked byte for byte; the peak RSS must stay under
# MAX_RSS_KB (16384), whatever the input's size.
#
# Usage: bench/convert_stream.sh [QUORVANE]   (default: build/release/quorvane)
# Exit status: 0 within the memory limit, 1 above it, 2 a wrong result or a failed run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
quorvane=${1:-$here/../build/release/quorvane}
size_mb=${SIZE_MB:-100}
max_rss_kb=${MAX_RSS_KB:-16384}
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

# Seconds of the fastest of three runs of COMMAND (a shell command line).
fastest() {
  local best=
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    sh -c "$1"
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-1e9}" | awk '{ t = $2 - $1; print (t < $3) ? t : $3 }')
  done
  echo "$best"
}
quorvane_s=$(fastest "'$quorvane' --convert <'$work/input' >'$work/output'")
cmp -s "$work/output" "$work/expected" || { echo "convert_stream.sh: wrong output"; exit 2; }
cat_s=$(fastest "cat <'$work/input' >'$work/cat-output'")
rss_kb=$(/usr/bin/time -f %M "$quorvane" --convert <"$work/input" 2>&1 >/dev/null | tail -n1)

awk -v b="$bytes" -v q="$quorvane_s" -v c="$cat_s" 'BEGIN {
  printf "input: %.1f MB\nquorvane --convert: %.3f s, %.0f MB/s\ncat:                %.3f s, %.0f MB/s\n",
         b / 1e6, q, b / 1e6 / q, c, b / 1e6 / c }'
echo "quorvane --convert peak RSS: $rss_kb KiB (limit $max_rss_kb)"
[ "$rss_kb" -le "$max_rss_kb" ]
