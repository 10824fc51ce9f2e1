#!/usr/bin/env bash
# How long the dialog takes to appear, beside the plainest Qt dialog with the same controls
# (bench/dialog_minimal.cc): from the start of the process to its window mapped on a virtual X
# server (bench/dialog_map_time.c), the two taking turns, run after run, so that other load on
# the machine falls on both alike. For information it also reports the CPU time each had used by
# then and the time to the window's first picture.
#
# Usage: bench/dialog_start.sh [BUILD_DIR]      (default: build/release)
#   BUILD_DIR holds quorvane, libquorvane_qt.so, bench/dialog_minimal and bench/dialog_map_time.
# Environment:
#   RUNS=20        timed starts of each program per round; ROUNDS=3 rounds; WARMUP=3 untimed
#                  starts of each first
#   MAX_RATIO=1.05 fail when the median of the rounds' medians of quorvane over that of the
#                  minimal dialog is above this
#   BENCH_LANG     the dialog's language, as LANG (default ja_JP.UTF-8: Japanese in IPA Gothic)
#   OTHERS         more builds of quorvane to time in the same turns, for information, as
#                  NAME=BUILD_DIR words (e.g. OTHERS="before=/tmp/old/build")
#   COLD=1         time first starts, which measure their text before the window shows
# Exit status: 0 within the limit, 1 above it, 2 a start that showed no window or a missing tool.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$(dirname "$here")/build/release}
runs=${RUNS:-20}
rounds=${ROUNDS:-3}
warmup=${WARMUP:-3}
max_ratio=${MAX_RATIO:-1.05}

die() {
  echo "dialog_start.sh: $*" >&2
  exit 2
}

command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/install-deps.sh installs it)"
quorvane=$build/quorvane
minimal=$build/bench/dialog_minimal
timer=$build/bench/dialog_map_time
for program in "$quorvane" "$minimal" "$timer"; do
  [ -x "$program" ] || die "$program is missing: build the targets quorvane, quorvane_qt, dialog_minimal and dialog_map_time"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-dialog-bench.XXXXXX")
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || die "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
# A throw-away home, the same for both: the font cache and the drop folder's parents are made
# during the untimed starts, and quorvane's layout memo by a first start left open for a moment,
# as a user's first start is (a timed start ends at its first picture, before it keeps the memo).
# The timed starts are then the ones a user makes every day; the first after a change of font,
# language, screen or Qt measures its text before its window shows, as every start did before.
# COLD=1 times those first starts instead: the memo's folder can then not be made.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
if [ "${COLD:-0}" = 1 ]; then XDG_CACHE_HOME=/dev/null/cache; fi
export XDG_RUNTIME_DIR=$work/runtime
export LANG=${BENCH_LANG:-ja_JP.UTF-8}
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM LC_ALL LC_MESSAGES LANGUAGE

# time_start NAME COMMAND...: one start, its microseconds to the window mapped, of CPU time by then
# and to the window's first picture appended to $work/NAME. A start whose
# X connection failed outright (one in a few hundred on a busy virtual machine, a bare
# xcb_connect loop shows it too) ends before any window; it is started again, and counted.
retries=0
time_start() {
  local name=$1 attempt
  shift
  for attempt in 1 2 3; do
    "$timer" "$@" >>"$work/$name" 2>"$work/timer.err" && return 0
    [ "$attempt" = 3 ] || retries=$((retries + 1))
  done
  die "$name: $(cat "$work/timer.err")"
}

read -r -a others <<<"${OTHERS:-}"
for other in "${others[@]}"; do
  [ -x "${other#*=}/quorvane" ] || die "${other#*=}/quorvane is missing"
done
for program in "$quorvane" "${others[@]#*=}"; do
  [ "$program" = "$quorvane" ] || program=$program/quorvane
  timeout -s TERM 2 "$program" --dialog >/dev/null 2>&1 || true
done
for _ in $(seq "$warmup"); do
  time_start warmup "$quorvane" --dialog
  time_start warmup "$minimal"
  for other in "${others[@]}"; do time_start warmup "${other#*=}/quorvane" --dialog; done
done
for round in $(seq "$rounds"); do
  for _ in $(seq "$runs"); do
    time_start "quorvane.$round" "$quorvane" --dialog
    time_start "minimal.$round" "$minimal"
    for other in "${others[@]}"; do time_start "${other%%=*}.$round" "${other#*=}/quorvane" --dialog; done
  done
done

[ "$retries" = 0 ] || echo "($retries starts failed to reach the display and were made again)"
python3 - "$work" "$rounds" "$runs" "$max_ratio" "$LANG" "${others[@]%%=*}" <<'EOF'
import statistics, sys

work, rounds, runs, max_ratio, lang = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4]), sys.argv[5]
names = ("quorvane", "minimal", *sys.argv[6:])
def times(name, round, column):
    return [int(line.split()[column]) / 1000 for line in open(f"{work}/{name}.{round}")]
wall = {name: [] for name in names}
cpu = {name: [] for name in names}
shown = {name: [] for name in names}
print(f"start to window mapped under Xvfb, LANG={lang}; {runs} starts of each per round, taking turns")
for round in range(1, rounds + 1):
    line = []
    for name in names:
        t = times(name, round, 0)
        wall[name].append(statistics.median(t))
        cpu[name].append(statistics.median(times(name, round, 1)))
        shown[name].append(statistics.median(times(name, round, 2)))
        line.append(f"{name} {wall[name][-1]:6.2f} ms (min {min(t):.2f}, CPU {cpu[name][-1]:.2f}, "
                    f"first picture {shown[name][-1]:.2f})")
    ratio = wall["quorvane"][-1] / wall["minimal"][-1]
    print(f"  round {round}, medians: " + ", ".join(line) + f"; ratio {ratio:.3f}")
q = statistics.median(wall["quorvane"])
m = statistics.median(wall["minimal"])
ratio = q / m
cpu_ratio = statistics.median(cpu["quorvane"]) / statistics.median(cpu["minimal"])
print(f"median of the rounds: quorvane {q:.2f} ms, minimal Qt dialog {m:.2f} ms")
print(f"ratio quorvane / minimal: {ratio:.3f}  (limit {max_ratio}); "
      f"of the CPU time used until then, for information: {cpu_ratio:.3f}")
print(f"  to the first picture: {statistics.median(shown['quorvane']) / statistics.median(shown['minimal']):.3f}")
for name in names[2:]:
    print(f"for information, {name} / minimal: {statistics.median(wall[name]) / m:.3f}; "
          f"of the CPU time: {statistics.median(cpu[name]) / statistics.median(cpu['minimal']):.3f}; "
          f"to the first picture: {statistics.median(shown[name]) / statistics.median(shown['minimal']):.3f}")
print("OK" if ratio <= max_ratio else f"FAIL: the dialog takes {ratio:.3f} times the minimal dialog's time")
sys.exit(0 if ratio <= max_ratio else 1)
EOF
