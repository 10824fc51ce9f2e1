#!/usr/bin/env bash
# The real executable on a virtual X server, in a throw-away home folder:
#  - the interactive dialog appears as "Quorvane"; Enter and Escape leave it open; Space presses
#    the exit button, which has the focus, and the settings file then holds 30 0D 0A 30;
#  - an interactive start where no dialog can be shown ends with status 1 and a message naming the
#    cause (nobody could see it, no Qt platform plugin for Wayland, no display, no home folder),
#    never with an abort;
#  - an automatic run with a display never loads Qt;
#  - an automatic run whose settings allow messages shows its message in a real message box;
#  - --dialog opens the dialog over an AutoFile folder, and through AT-SPI, as a screen reader
#    sees it: every field has a name, the links are links, the check boxes and buttons work by
#    their actions; unticking auto-run removes an empty folder, and keeps one holding a file,
#    ticked again, which 終了 then saves;
#  - under LC_ALL=en_US.UTF-8 every control is named in English and shows its text whole.
# Every wait is bounded; Xvfb, the accessibility bus and the program are ended on the way out.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
at_spi_bus=/usr/libexec/at-spi-bus-launcher
for tool in dbus-run-session dbus-send "$at_spi_bus"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
  { echo "FAIL: pyatspi is missing for /usr/bin/python3 (scripts/install-deps.sh)"; exit 1; }
# A D-Bus session of its own, so that the accessibility checks see only this program and the
# user's session is never touched.
if [ -z "${QUORVANE_TEST_PRIVATE_BUS:-}" ]; then
  QUORVANE_TEST_PRIVATE_BUS=1 exec dbus-run-session -- "$here/$(basename "$0")" "$@"
fi
exe=$(realpath "$1")
for tool in Xvfb xdotool xprop od; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
bus_pid=""
cleanup() {
  for pid in "$app_pid" "$bus_pid" "$xvfb_pid"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/out" ] && sed 's/^/  program: /' "$work/out"; exit 1; }

# Xvfb takes the first free display number itself and writes it to the file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

fresh_home() {
  export HOME="$work/home-$1" XDG_CONFIG_HOME="$work/home-$1/.config" XDG_CACHE_HOME="$work/home-$1/.cache"
  data="$HOME/Documents/Brenvale/MFCQuorvane"
  mkdir -p "$HOME"
}

# Waits up to 10 s for a visible window titled exactly $1 and prints its id.
find_window() {
  for _ in $(seq 100); do
    for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
      [ "$(xdotool getwindowname "$id")" = "$1" ] && { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}

running() { kill -0 "$app_pid" 2>/dev/null; }

# xdotool with the same allowance for a failed X connection.
xdo() {
  for _ in 1 2 3; do
    timeout 5 xdotool "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Starts the program (with the arguments after $1) and waits for a window titled $1, whose id it
# leaves in $found. On this kind of virtual
# machine about one X connection in fifty fails outright (a bare xcb_connect loop shows it too),
# and then the program rightly ends before any window; only that failure earns another try.
start_with_window() {
  for _ in 1 2 3; do
    "$exe" "${@:2}" >"$work/out" 2>&1 &
    app_pid=$!
    found=$(find_window "$1") && return 0
    running && return 1
    wait "$app_pid" || true
    app_pid=""
    grep -q -E 'could not connect to display|no display could be opened' "$work/out" || return 1
    echo "  (the X connection failed; starting again)" >&2
  done
  return 1
}

# Waits up to 10 s for the program to end and leaves its exit status in $status.
await_exit() {
  for _ in $(seq 100); do running || break; sleep 0.1; done
  running && return 1
  status=0
  wait "$app_pid" || status=$?
  app_pid=""
}

echo "== interactive dialog"
fresh_home interactive
start_with_window Quorvane || fail "no window titled Quorvane appeared"
window=$found
# The icon comes to the window manager in all its sizes, read as the PNGs they are: no image
# plugin (nor the JPEG library behind one) is loaded to guess their format.
for _ in $(seq 50); do
  icons=$(xprop -len 1000000 -id "$window" _NET_WM_ICON 2>/dev/null | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ' || true)
  [ -n "$icons" ] && break
  sleep 0.1
done
[ "$icons" = "Icon (16 x 16) Icon (24 x 24) Icon (32 x 32) Icon (48 x 48) Icon (256 x 256) " ] ||
  fail "the window's icons are: $icons"
grep -E 'imageformats|libjpeg' "/proc/$app_pid/maps" && fail "the dialog loaded image plugins for its icon"
# Its text's measures are kept once it is on the screen, for the next start to lay out from.
for _ in $(seq 50); do [ -s "$XDG_CACHE_HOME/quorvane/dialog-layout" ] && break; sleep 0.1; done
[ -s "$XDG_CACHE_HOME/quorvane/dialog-layout" ] || fail "the dialog kept no layout memo"
first_layout=$(xdotool getwindowgeometry "$window" | grep Geometry)
xdo windowfocus --sync "$window" || fail "the dialog did not take the focus"
for key in Return Escape KP_Enter; do
  xdo key "$key" || fail "xdotool could not press $key"
  sleep 0.5
  running || fail "$key ended the program"
  find_window Quorvane >/dev/null || fail "$key closed the dialog"
done
[ -e "$data/temp/Quorvane.tmp" ] && fail "the settings file was written before the exit button"
xdo key space || fail "xdotool could not press Space"
await_exit || fail "Space did not end the program"
[ "$status" = 0 ] || fail "exit status $status after the exit button"
bytes=$(od -An -tx1 "$data/temp/Quorvane.tmp" | tr -s ' \n' ' ')
[ "$bytes" = " 30 0d 0a 30 " ] || fail "the settings file holds$bytes"
# A second start, laid out from that memo, looks the same.
start_with_window Quorvane || fail "no window titled Quorvane appeared the second time"
second_layout=$(xdotool getwindowgeometry "$found" | grep Geometry)
[ "$second_layout" = "$first_layout" ] || fail "laid out from the memo: $second_layout, not $first_layout"
xdo windowfocus --sync "$found" || fail "the second start did not take the focus"
xdo key space || fail "xdotool could not press Space"
await_exit || fail "Space did not end the second start"

echo "== no dialog possible: status 1 and the cause, never an abort"
# A platform plugin folder without plugins stands for a machine without qt6-wayland; the Wayland
# plugin itself is installed here (scripts/install-deps.sh), as on a desktop.
mkdir "$work/no-plugins"
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
  fail "the Qt Wayland plugin is missing (scripts/install-deps.sh installs qt6-wayland)"
# name | environment | what the message must say
no_dialog=(
  "offscreen platform|QT_QPA_PLATFORM=offscreen|QT_QPA_PLATFORM=offscreen shows no window"
  "Wayland asked for, no plugin|QT_QPA_PLATFORM=wayland QT_QPA_PLATFORM_PLUGIN_PATH=$work/no-plugins|no usable Qt platform plugin: wayland"
  "Wayland asked for, no compositor|QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=wayland-quorvane-test|no Wayland compositor answers at WAYLAND_DISPLAY=wayland-quorvane-test"
  "pure Wayland session, no plugin|DISPLAY= WAYLAND_DISPLAY=wayland-quorvane-test QT_QPA_PLATFORM_PLUGIN_PATH=$work/no-plugins|no usable Qt platform plugin: wayland"
  "pure Wayland session, no compositor|DISPLAY= WAYLAND_DISPLAY=wayland-quorvane-test|no Wayland compositor answers at WAYLAND_DISPLAY=wayland-quorvane-test"
  "no display at all|DISPLAY=|there is no display"
  "X server that does not answer|DISPLAY=:999|no display could be opened (DISPLAY=:999)"
  "no home folder, no display|HOME=/nonexistent XDG_CONFIG_HOME=/nonexistent/.config DISPLAY=|the Documents folder /nonexistent/Documents cannot be found or created"
)
for row in "${no_dialog[@]}"; do
  IFS='|' read -r name settings says <<<"$row"
  fresh_home invisible
  status=0
  # shellcheck disable=SC2086 # the settings are words for env
  env LC_ALL=en_US.UTF-8 $settings timeout 20 "$exe" >"$work/out" 2>&1 || status=$?
  [ "$status" = 1 ] || fail "$name: an interactive start ended with $status"
  grep -q -F "$says" "$work/out" || fail "$name: the message does not say \"$says\""
done

echo "== automatic run with a display"
fresh_home automatic
mkdir -p "$data/AutoFile" "$data/temp"
printf '1\r\n0' >"$data/temp/Quorvane.tmp"
printf '101\r\n11\r\n' >"$data/AutoFile/Bintake.tbin"
status=0
LD_DEBUG=files timeout 20 "$exe" >"$work/out" 2>"$work/loads" || status=$?
[ "$status" = 0 ] || fail "automatic run ended with $status"
[ "$(cat "$data/Result/Decyield.tbin")" = "$(printf '5\r\n3\r\n')" ] || fail "wrong result file"
grep -q 'libc.so' "$work/loads" || fail "LD_DEBUG reported no loads"
grep -q -E 'libquorvane_qt|libQt6' "$work/loads" && fail "the automatic run loaded Qt"

echo "== automatic run's message box"
fresh_home message
mkdir -p "$data/AutoFile" "$data/temp"
printf '1\r\n1' >"$data/temp/Quorvane.tmp"
start_with_window "$(basename "$exe")" || fail "no message box captioned $(basename "$exe")"
box=$found
xdo windowfocus --sync "$box" || fail "the message box did not take the focus"
xdo key Return || fail "xdotool could not press Enter"
await_exit || fail "the message box did not go away"
[ "$status" = 10 ] || fail "exit status $status for a missing input file"

echo "== --batch in the same place: no window, nothing to wait for"
for input in "" $'101\r\n'; do  # none, then one to convert
  fresh_home "batch${#input}"
  mkdir -p "$data/AutoFile" "$data/temp"
  printf '1\r\n1' >"$data/temp/Quorvane.tmp"
  [ -z "$input" ] || printf '%s' "$input" >"$data/AutoFile/Bintake.tbin"
  "$exe" --batch >"$work/out" 2>&1 &
  app_pid=$!
  # Polled as the message box above was found, for as long as the run lasts.
  shown=""
  for _ in $(seq 100); do
    running || break
    shown+=$(xdotool search --onlyvisible --name "^$(basename "$exe")\$" 2>/dev/null || true)
    sleep 0.1
  done
  await_exit || fail "--batch waited (for a person?)"
  [ -z "$shown" ] || fail "--batch showed a window"
  if [ -z "$input" ]; then
    [ "$status" = 10 ] || fail "--batch ended with $status for a missing input file"
  else
    [ "$status" = 0 ] || fail "--batch ended with $status"
    [ "$(cat "$data/Result/Decyield.tbin")" = "$(printf '5\r')" ] || fail "--batch: wrong result"
  fi
done

echo "== --dialog over an empty AutoFile folder, through AT-SPI"
"$at_spi_bus" --launch-immediately >"$work/bus.log" 2>&1 &
bus_pid=$!
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null 2>&1 && break
  sleep 0.1
done
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
fresh_home dialog
mkdir -p "$data/AutoFile" "$data/temp"
printf '1\r\n1' >"$data/temp/Quorvane.tmp"
start_with_window Quorvane --dialog || fail "--dialog showed no dialog"
/usr/bin/python3 "$here/atspi_dialog.py" >"$work/atspi" 2>&1 || fail "$(cat "$work/atspi")"
await_exit || fail "終了 pressed through AT-SPI did not end the program"
[ "$status" = 0 ] || fail "exit status $status after 終了"
[ -e "$data/AutoFile" ] && fail "unticking auto-run left the empty AutoFile folder"
bytes=$(od -An -tx1 "$data/temp/Quorvane.tmp" | tr -s ' \n' ' ')
[ "$bytes" = " 30 0d 0a 30 " ] || fail "the settings file holds$bytes"

echo "== --dialog with an input file waiting, through AT-SPI"
fresh_home waiting
mkdir -p "$data/AutoFile"
printf '101\r\n' >"$data/AutoFile/Bintake.tbin"
start_with_window Quorvane --dialog || fail "--dialog showed no dialog over a waiting input file"
/usr/bin/python3 "$here/atspi_dialog.py" --box-after-untick >"$work/atspi" 2>&1 ||
  fail "$(cat "$work/atspi")"
await_exit || fail "終了 pressed through AT-SPI did not end the program"
[ "$status" = 0 ] || fail "exit status $status after 終了"
[ "$(od -An -tx1 "$data/AutoFile/Bintake.tbin" | tr -d ' \n')" = 3130310d0a ] ||
  fail "the waiting input file did not stay as it was"
[ -e "$data/Result/Decyield.tbin" ] && fail "--dialog converted the waiting input file"
bytes=$(od -An -tx1 "$data/temp/Quorvane.tmp" | tr -s ' \n' ' ')
[ "$bytes" = " 31 0d 0a 30 " ] || fail "終了 saved$bytes, not the ticked auto-run box"

echo "== the dialog in English, whole: through AT-SPI, and a picture for a person to look at"
fresh_home english
# The Qt module reads the language from the environment as the executable does.
LC_ALL=en_US.UTF-8 start_with_window Quorvane --dialog || fail "--dialog showed no English dialog"
sleep 1
if [ -n "${QUORVANE_SHOTS:-}" ] && command -v import >/dev/null; then
  mkdir -p "$QUORVANE_SHOTS"
  import -window "$found" "$QUORVANE_SHOTS/qt-english.png" 2>/dev/null || true
fi
/usr/bin/python3 "$here/atspi_dialog.py" --english >"$work/atspi" 2>&1 || fail "$(cat "$work/atspi")"
await_exit || fail "Exit pressed through AT-SPI did not end the program"
[ "$status" = 0 ] || fail "exit status $status after Exit"

echo "7 passed, 0 failed"
