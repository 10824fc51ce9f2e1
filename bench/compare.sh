#!/usr/bin/env bash
# Whole-process comparison of an automatic run of quorvane with the yardstick (bench/yardstick.c)
# and the floor (bench/floor.c), side by side on the same 2,077,000-byte input, and the peak memory
# of quorvane on that input.
#
# Usage: bench/compare.sh [QUORVANE]
#   QUORVANE     the executable; by default the first of build/bench, build/release, build/* that
#                has one.
# Environment:
#   RUNS=100           timed runs per command, made in ROUNDS=10 rounds in which the commands
#                      take turns; WARMUP=2 untimed runs per command and round
#   SIZE=2077000       bytes of input (make_input.py); the limits are meant for the full size
#   MAX_FLOOR_RATIO=1.25  fail when median(quorvane) / median(floor) is above this
#   MAX_RATIO=1.5      fail when median(quorvane) / median(yardstick) is above this
#   MAX_RSS_KB=16384   fail when quorvane's maximum resident set size is above this
#   BENCH_DIR=$TMPDIR  where the throw-away HOME is made (its file system decides what fsync costs)
#   YARDSTICK, FLOOR   the yardstick and floor executables; by default the ones built next to
#                      quorvane (bench/yardstick, bench/floor), else compiled here with ${CC:-cc} -O2
#   KEEP=1             keep the throw-away folder (its path is printed)
#
# Every run is checked: before each run the previous run's result file is compared byte for byte
# with the yardstick's first result and removed, and the input file is put back in place.
# Exit status: 0 within both limits, 1 a limit exceeded, 2 a failed run, a wrong result or a
# missing tool.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
runs=${RUNS:-100}
rounds=${ROUNDS:-10}
warmup=${WARMUP:-2}
runs_per_round=$(((runs + rounds - 1) / rounds))
runs=$((runs_per_round * rounds))
max_ratio=${MAX_RATIO:-1.5}
max_floor_ratio=${MAX_FLOOR_RATIO:-1.25}
max_rss_kb=${MAX_RSS_KB:-16384}

die() {
  echo "compare.sh: $*" >&2
  exit 2
}

for tool in hyperfine /usr/bin/time python3; do
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

yardstick=${YARDSTICK:-$(dirname "$quorvane")/bench/yardstick}
if [ ! -x "$yardstick" ]; then
  yardstick=$work/yardstick
  "${CC:-cc}" -O2 -o "$yardstick" "$here/yardstick.c"
fi
floor=${FLOOR:-$(dirname "$quorvane")/bench/floor}
if [ ! -x "$floor" ]; then
  floor=$work/floor
  "${CC:-cc}" -O2 -o "$floor" "$here/floor.c"
fi

# The throw-away HOME: no settings file, no user-dirs.dirs, no display, so that quorvane takes the
# drop folder under $HOME/Documents and ends by itself without a word.
home=$work/home
drop=$home/Documents/Brenvale/MFCQuorvane
input=$work/input.tbin
expected=$work/expected.tbin
mkdir -p "$drop/AutoFile" "$work/config" "$work/yard" "$work/floor-out"
export HOME=$home XDG_CONFIG_HOME=$work/config
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

python3 "$here/make_input.py" "$input" "${SIZE:-2077000}"
"$yardstick" "$input" "$expected" || die "the yardstick failed on the input"
# The yardstick is checked once against a third reckoning, so that the two programs cannot agree
# on a wrong answer.
python3 - "$input" "$expected" <<'EOF' || die "the yardstick's result is wrong"
import sys
lines = open(sys.argv[1], "rb").read().replace(b"\r", b"").split(b"\n")
want = b"".join(b"%d\r\n" % int(line, 2) for line in lines if line)
sys.exit(open(sys.argv[2], "rb").read() != want)
EOF

# prepare.sh RESULT [INPUT]: checks the previous run's result (if any) and removes it, then puts
# the input file back in place.
cat >"$work/prepare.sh" <<EOF
set -e
result=\$1 target=\${2:-}
if [ -e "\$result" ]; then
  if ! cmp -s "$expected" "\$result"; then
    echo "compare.sh: \$result differs from the yardstick's result" >&2
    cp "\$result" "$work/wrong-result.tbin"
    exit 1
  fi
  rm -f "\$result"
fi
[ -z "\$target" ] || cp "$input" "\$target"
EOF
prepare_quorvane="sh $work/prepare.sh $drop/Result/Decyield.tbin $drop/AutoFile/Bintake.tbin"
prepare_yardstick="sh $work/prepare.sh $work/yard/out.tbin $work/yard/in.tbin"
run_yardstick="$yardstick $work/yard/in.tbin $work/yard/out.tbin"
prepare_floor="sh $work/prepare.sh $work/floor-out/out.tbin $work/floor-out/in.tbin"
run_floor="$floor $work/floor-out/in.tbin $work/floor-out/out.tbin"

# One run of quorvane first, so that a broken build stops here with its own message.
$prepare_quorvane
"$quorvane" || die "quorvane ended with status $? (see ui/run_outcome.h)"
[ ! -e "$drop/AutoFile/Bintake.tbin" ] || die "quorvane left the input file in place"
sh "$work/prepare.sh" "$drop/Result/Decyield.tbin" || die "quorvane's result is wrong"

# The commands take turns in rounds, so that other load on the machine falls on all of them alike;
# the medians are taken over the runs of all rounds.
for round in $(seq 1 "$rounds"); do
  hyperfine -N --style basic --runs "$runs_per_round" --warmup "$warmup" \
    --export-json "$work/times-$round.json" \
    --prepare "$prepare_quorvane" --command-name quorvane "$quorvane" \
    --prepare "$prepare_yardstick" --command-name yardstick "$run_yardstick" \
    --prepare "$prepare_yardstick" --command-name "yardstick --fsync" "$run_yardstick --fsync" \
    --prepare "$prepare_floor" --command-name floor "$run_floor" \
    >"$work/hyperfine.txt" 2>&1 || {
    cat "$work/hyperfine.txt"
    die "a run failed or gave a wrong result"
  }
done
# The last run of each command has not been checked by a following prepare yet.
sh "$work/prepare.sh" "$drop/Result/Decyield.tbin" || die "wrong result"
sh "$work/prepare.sh" "$work/yard/out.tbin" || die "wrong result"
sh "$work/prepare.sh" "$work/floor-out/out.tbin" || die "wrong result"

# Peak memory of quorvane on the same input (the largest of three runs).
rss_kb=0
for _ in 1 2 3; do
  $prepare_quorvane
  /usr/bin/time -v -o "$work/time.txt" "$quorvane" || die "quorvane failed under /usr/bin/time"
  kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
  if [ "$kb" -gt "$rss_kb" ]; then rss_kb=$kb; fi
done
sh "$work/prepare.sh" "$drop/Result/Decyield.tbin" || die "wrong result"
/usr/bin/time -v -o "$work/time.txt" "$yardstick" "$input" "$work/yard/out.tbin"
yard_rss_kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")

python3 - "$work" "$max_ratio" "$rss_kb" "$yard_rss_kb" "$max_rss_kb" \
  "$(stat -f -c %T "$work")" "$runs" "$rounds" "$max_floor_ratio" <<'EOF'
import glob, json, os, statistics, sys

work, max_ratio, rss, yard_rss, max_rss, fs_type, runs, rounds, max_floor_ratio = sys.argv[1:]
names = ("quorvane", "floor", "yardstick", "yardstick --fsync")
times = {name: {"wall": [], "user": [], "system": []} for name in names}
for path in glob.glob(f"{work}/times-*.json"):
    for r in json.load(open(path))["results"]:
        for key, values in (("wall", r["times"]), ("user", [r["user"]] * len(r["times"])),
                            ("system", [r["system"]] * len(r["times"]))):
            times[r["command"]][key] += values
median = {name: statistics.median(times[name]["wall"]) for name in names}
print(f"input: {os.path.getsize(work + '/input.tbin'):,} bytes; throw-away HOME in {work} ({fs_type}); "
      f"{runs} runs each in {rounds} rounds")
for name in names:
    t = times[name]
    print(f"  {name:<18} median {median[name] * 1000:6.2f} ms  "
          f"(min {min(t['wall']) * 1000:.2f}, max {max(t['wall']) * 1000:.2f}; "
          f"mean user {statistics.mean(t['user']) * 1000:.2f}, "
          f"system {statistics.mean(t['system']) * 1000:.2f})")
ratio = median["quorvane"] / median["yardstick"]
ratio_fsync = median["quorvane"] / median["yardstick --fsync"]
floor_ratio = median["quorvane"] / median["floor"]
print(f"ratio quorvane / floor:             {floor_ratio:.2f}  (limit {max_floor_ratio})")
print(f"ratio quorvane / yardstick:         {ratio:.2f}  (limit {max_ratio})")
print(f"ratio quorvane / yardstick --fsync: {ratio_fsync:.2f}  (for information)")
# Less moved by other load on the machine, for information: the fastest runs, and CPU time.
cpu = {n: statistics.mean(times[n]["user"]) + statistics.mean(times[n]["system"]) for n in names}
fastest = min(times["quorvane"]["wall"]) / min(times["floor"]["wall"])
print(f"for information, against the floor: ratio of the fastest runs {fastest:.2f}, "
      f"of CPU time (user + system) {cpu['quorvane'] / cpu['floor']:.2f}")
print(f"peak RSS quorvane: {rss} kB (limit {max_rss} kB); yardstick: {yard_rss} kB")
failed = False
if floor_ratio > float(max_floor_ratio):
    print(f"FAIL: quorvane takes {floor_ratio:.2f} times the floor's time")
    failed = True
if ratio > float(max_ratio):
    print(f"FAIL: quorvane takes {ratio:.2f} times the yardstick's time")
    failed = True
if int(rss) > int(max_rss):
    print(f"FAIL: quorvane's peak RSS {rss} kB is above {max_rss} kB")
    failed = True
print("FAIL" if failed else "OK")
sys.exit(1 if failed else 0)
EOF
