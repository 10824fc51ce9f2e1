#!/usr/bin/env bash
# Whole-process comparisons of Quorvane.exe under Wine, each side by side in the same prefix, the
# commands taking turns in rounds:
#  - a start with no options over the 2,077,000-byte input against one over a 5-byte input: the
#    ratio tells what the large input itself costs beyond Wine's process start;
#  - Quorvane.exe /batch over the 5-byte input against wine_floor.c, a MinGW program that does the
#    same file work and nothing else (read the input, write a temporary file, flush it, rename it
#    over the result, delete the input): the ratio tells what Quorvane's start-up costs (target
#    1.15; importing the windowing system's DLLs alone once cost some 40 ms of a 22 ms start);
#    and, for information, against the same floor built to also read the Documents folder from
#    the registry and report one event, as every automatic run does (ADVAPI32 and the journal).
# A report, not a test: it fails only when a run fails or gives a wrong result.
#
# Usage: bench/wine_compare.sh [Quorvane.exe]      (default: build/windows/Quorvane.exe)
# Environment:
#   RUNS=30, ROUNDS=15  timed runs per command, in rounds in which the commands take turns; on
#                       a shared machine short rounds let a burst of other work fall on all of
#                       them alike, where a long one can land on one command's runs alone
#   WINEPREFIX, DISPLAY used as they are when set (scripts/test-windows.sh runs it in its own
#                       prefix and Xvfb); otherwise a throw-away prefix and Xvfb are made here
# Exit status: 0 measured, 2 a failed run, a wrong result or a missing tool.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
exe=$(realpath "${1:-$source_dir/build/windows/Quorvane.exe}")
runs=${RUNS:-30}
rounds=${ROUNDS:-$(((runs + 1) / 2))}
runs_per_round=$(((runs + rounds - 1) / rounds))
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

die() {
  echo "wine_compare.sh: $*" >&2
  exit 2
}
[ -f "$exe" ] || die "no $exe; cmake --preset windows && cmake --build --preset windows"
for tool in "$wine" "$wineserver" hyperfine python3 Xvfb x86_64-w64-mingw32-gcc; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done

work=$(mktemp -d /tmp/quorvane-wine-bench.XXXXXX)
xvfb_pid=
own_prefix=
cleanup() {
  if [ -n "$own_prefix" ]; then timeout 10 "$wineserver" -k 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=1
  export WINEPREFIX=$work/prefix HOME=$work/home
  mkdir -p "$HOME"
  timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || die "wineboot failed"
fi
# A server kept running between the runs, so that no run pays for starting it (once the one
# that may still be running from an earlier program has ended).
timeout 30 "$wineserver" -w || true
"$wineserver" -p

# A first run makes the folder tree; the Documents folder is wherever the prefix puts it.
timeout 60 "$wine" "$exe" >/dev/null 2>&1 || true
data=
for candidate in "$WINEPREFIX"/drive_c/users/*/Documents/Brenvale/MFCQuorvane "$HOME"/Documents/Brenvale/MFCQuorvane; do
  [ -d "$candidate" ] && data=$candidate && break
done
[ -n "$data" ] || die "the first run made no folder tree"
mkdir -p "$data/AutoFile"
rm -f "$data/temp/Quorvane.tmp"  # no settings file: automatic runs are silent
rm -f "$data/Result/Decyield.tbin" "$data/AutoFile/Bintake.tbin"

# The floor, built here for the prefix's Windows, a windowed program as Quorvane.exe is. It takes
# Windows paths, written with slashes (hyperfine reads backslashes as escapes).
x86_64-w64-mingw32-gcc -O2 -municode -mwindows "$here/wine_floor.c" -o "$work/wine_floor.exe" ||
  die "wine_floor.c did not build"
x86_64-w64-mingw32-gcc -O2 -municode -mwindows -DWITH_JOURNAL "$here/wine_floor.c" \
  -o "$work/wine_floor_journal.exe" -ladvapi32 || die "wine_floor.c did not build"
case $data in
  "$WINEPREFIX"/drive_c/*) data_windows=C:/${data#"$WINEPREFIX/drive_c/"} ;;
  *) data_windows=Z:$data ;;
esac
floor_arguments="$data_windows/AutoFile/Bintake.tbin $data_windows/Result/Decyield.tbin"

python3 "$here/make_input.py" "$work/large.tbin" 2077000
printf '101\r\n' >"$work/small.tbin"
for size in large small; do
  python3 - "$work/$size.tbin" "$work/$size.expected" <<'EOF'
import sys
lines = open(sys.argv[1], "rb").read().replace(b"\r", b"").split(b"\n")
open(sys.argv[2], "wb").write(b"".join(b"%d\r\n" % int(line, 2) for line in lines if line))
EOF
done

# prepare.sh SIZE: checks the previous run's result (if any), then drops the input again.
cat >"$work/prepare.sh" <<EOF
set -e
result="$data/Result/Decyield.tbin"
if [ -e "\$result" ]; then
  cmp -s "\$result" "$work/\$(cat "$work/last")" || { echo "wrong result" >&2; exit 1; }
  rm -f "\$result"
fi
echo "\$1.expected" >"$work/last"
cp "$work/\$1.tbin" "$data/AutoFile/Bintake.tbin"
EOF
echo small.expected >"$work/last"

for round in $(seq 1 "$rounds"); do
  hyperfine -N --style basic --runs "$runs_per_round" --warmup 1 \
    --export-json "$work/times-$round.json" \
    --prepare "sh $work/prepare.sh large" --command-name "2,077,000 bytes" "$wine $exe" \
    --prepare "sh $work/prepare.sh small" --command-name "5 bytes" "$wine $exe" \
    --prepare "sh $work/prepare.sh small" --command-name "/batch, 5 bytes" "$wine $exe /batch" \
    --prepare "sh $work/prepare.sh small" --command-name "floor, 5 bytes" \
    "$wine $work/wine_floor.exe $floor_arguments" \
    --prepare "sh $work/prepare.sh small" --command-name "floor + journal" \
    "$wine $work/wine_floor_journal.exe $floor_arguments" \
    >"$work/hyperfine.txt" 2>&1 || {
    cat "$work/hyperfine.txt"
    die "a run failed or gave a wrong result"
  }
done
cmp -s "$data/Result/Decyield.tbin" "$work/$(cat "$work/last")" || die "wrong result"

python3 - "$work" "$runs" "$rounds" <<'EOF'
import glob, json, statistics, sys

work, runs, rounds = sys.argv[1:]
times = {}
for path in glob.glob(f"{work}/times-*.json"):
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
median = {name: statistics.median(values) for name, values in times.items()}
print(f"Quorvane.exe under Wine, automatic runs, {runs} runs each in {rounds} rounds")
for name, values in times.items():
    print(f"  {name:<16} median {median[name] * 1000:7.1f} ms  "
          f"(min {min(values) * 1000:.1f}, max {max(values) * 1000:.1f})")
print(f"ratio 2,077,000 bytes / 5 bytes: {median['2,077,000 bytes'] / median['5 bytes']:.2f}"
      "  (what the input costs)")
print(f"ratio /batch / floor, 5 bytes: {median['/batch, 5 bytes'] / median['floor, 5 bytes']:.2f}"
      "  (target 1.15)")
print(f"ratio /batch / (floor + journal), 5 bytes: "
      f"{median['/batch, 5 bytes'] / median['floor + journal']:.2f}  (for information)")
EOF
