#!/usr/bin/env bash
# Cross-builds the Windows Quorvane.exe with MinGW-w64 and runs the Windows tests under Wine, with
# a throw-away HOME, WINEPREFIX and Xvfb display: the executable's imports, its resources against
# the dialog templates, the Win32 file system, the interactive dialog driven by keys, and automatic
# runs through the AutoFile drop folder as a calling program makes them. Every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

# shellcheck source-path=SCRIPTDIR source=test-lib.sh
. scripts/test-lib.sh
for tool in "$wine" "$wineserver" Xvfb xdotool x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "test-windows: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

echo "-- cross-building Quorvane.exe"
if ! { cmake --preset windows && cmake --build --preset windows -j2; } >"${TMPDIR:-/tmp}/quorvane-windows-build.log" 2>&1; then
  tail -n 40 "${TMPDIR:-/tmp}/quorvane-windows-build.log"
  echo "test-windows: the cross build failed"
  exit 1
fi
build=$source_dir/build/windows
exe=$build/Quorvane.exe

work=$(mktemp -d /tmp/quorvane-wine.XXXXXX)
use_throwaway_wine "$work/home" "$work/prefix"
xvfb_pid=
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  WINEPREFIX=$work/prefix timeout 10 "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Polls CONDITION (a command) every 0.2 s for at most SECONDS; false when it never held.
wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 5))
  while [ $tries -gt 0 ]; do
    "$@" && return 0
    sleep 0.2
    tries=$((tries - 1))
  done
  return 1
}

echo "-- starting Xvfb and a fresh Wine prefix in $work"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for 15 test -s "$work/display" || { echo "test-windows: Xvfb did not start"; exit 1; }
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
# Wine takes the user interface language from LANG (English under C): the dialog's Japanese texts
# are tested under ja_JP.UTF-8, and the English ones once below (scripts/install-deps.sh makes
# both locales).
for locale in ja_JP en_US; do
  locale -a | grep -qix "$locale.utf8" || { echo "test-windows: the $locale.UTF-8 locale is missing (scripts/install-deps.sh)"; exit 1; }
done
export LANG=ja_JP.UTF-8
unset LC_ALL LC_MESSAGES LANGUAGE
timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { echo "test-windows: wineboot failed"; exit 1; }

# Only DLLs that every Windows has: the C and C++ runtimes are linked in. And none of the windowing
# system or the shell at load time: they are delay-loaded when something is shown (importing them
# costs every start, an automatic run's included, some 40 ms under Wine).
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
[ -n "$imports" ] || fail "objdump lists the imports of Quorvane.exe"
unexpected=$(echo "$imports" | tr ' ' '\n' | grep -v -x -E 'KERNEL32.DLL|MSVCRT.DLL|ADVAPI32.DLL|' || true)
check "Quorvane.exe imports only KERNEL32, ADVAPI32 and msvcrt at load time ($imports)" "$unexpected" ""
heavy=$(echo "$imports" | tr ' ' '\n' | grep -x -E 'USER32.DLL|GDI32.DLL|COMCTL32.DLL|SHELL32.DLL|OLE32.DLL' || true)
check "Quorvane.exe imports no USER32, GDI32, COMCTL32, SHELL32 or OLE32 at load time" "$heavy" ""
# Sections at page-aligned file offsets, so that Wine maps the image instead of reading all of it.
alignments=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\(Section\|File\)Alignment\s*/\1 /p' | tr '\n' ' ')
check "Quorvane.exe's sections sit at page-aligned file offsets" "$alignments" "Section 00001000 File 00001000 "

# The file-system test twice in the one prefix: Wine hands out process ids again, and what a first
# run leaves must not fail a second.
for program in quorvane_resource_check quorvane_file_system_test quorvane_file_system_test; do
  args=()
  [ $program = quorvane_resource_check ] && args=("$exe")
  if out=$(timeout 60 "$wine" "$build/tests/win32/$program.exe" "${args[@]}" 2>&1); then
    pass "$program: $(echo "$out" | tail -n1)"
  else
    fail "$program" "$(echo "$out" | tr -d '\r')"
  fi
done

# Starts a Windows program and leaves its exit status in STATUS_FILE once it has ended (within
# three minutes: the keyboard session takes two); the caller waits for $app_pid.
run_in_background() {
  local status_file=$1
  shift
  (
    status=0
    timeout 180 "$wine" "$@" || status=$?
    echo "$status" >"$status_file"
  ) &
  app_pid=$!
}

# ---- The interactive dialog: keys as a user types them.
window_open() { timeout 5 xdotool search --name '^Quorvane$' >/dev/null 2>&1; }
app_running() { kill -0 "$app_pid" 2>/dev/null; }
app_ended() { ! app_running; }
# Wine takes up to about two seconds from a key to the end of the process; a key that should
# change nothing is given longer than that. Space must then end it, which shows that keys arrive.
press() {
  focus_dialog
  timeout 5 xdotool key --clearmodifiers "$1"
  sleep "${2:-0}"
}
# Gives the main dialog the keyboard (there is no window manager to do it) and waits until the
# X server says it has it, so that no key goes astray while Wine is still settling a new window.
has_focus() { [ "$(timeout 5 xdotool getwindowfocus 2>/dev/null)" = "$window" ]; }
focus_dialog() {
  local tries=25
  while [ $tries -gt 0 ]; do
    timeout 5 xdotool windowfocus "$window" 2>/dev/null || true
    sleep 0.2
    if has_focus; then
      sleep 0.5  # Wine takes the focus change in before the key, not after it
      return 0
    fi
    tries=$((tries - 1))
  done
  echo "     (the dialog did not take the keyboard focus)"
}

# What the running dialog shows: the id of the focused control, or a control's text. A start of
# the probe that finds no dialog (Wine still settling a focus change) is tried again.
probe() {
  local tries=3 out
  while [ $tries -gt 0 ]; do
    if out=$(timeout 20 "$wine" "$build/tests/win32/quorvane_dialog_probe.exe" "$@" 2>/dev/null); then
      echo "$out" | tr -d '\r'
      return 0
    fi
    sleep 0.5
    tries=$((tries - 1))
  done
}
# Presses KEY and checks that the focus lands on control ID.
tab_to() {
  press "$1" 1
  check "$1 moves the focus to control $2" "$(probe focus)" "$2"
}
stays_open() {
  press "$1" 4
  if window_open && app_running; then pass "$1 $2 leaves the dialog open"; else fail "$1 $2 leaves the dialog open"; fi
}

# The whole session from the keyboard alone: Tab and Shift+Tab walk the tab stops in template
# order (the show-messages box and the progress text are hidden), a number is converted without
# the mouse, Enter and Escape never close the dialog, not even Escape in a multi-line field, and a
# changed input empties the result.
run_in_background "$work/interactive.status" "$exe"
if wait_for 30 window_open; then
  pass "the window titled Quorvane appears"
  window=$(timeout 5 xdotool search --name '^Quorvane$' | head -n1)
  sleep 1
  focus_dialog
  check "the exit button starts with the focus" "$(probe focus)" 1
  # The Japanese captions are wider than the template allowed for in the font Wine gives the
  # dialog: their controls grow, inside the dialog and clear of each other.
  check "Japanese: every caption whole, every control inside the dialog and clear of the others" \
    "$(probe fits)" "ok"
  stays_open Return "on the exit button"
  stays_open Escape "on the exit button"
  tab_to Tab 1000
  tab_to Tab 1001
  focus_dialog
  timeout 5 xdotool type --delay 100 1011
  tab_to Tab 1002
  press space 2
  check "Tab, 1011, Tab, Space: the result" "$(probe text 1003)" "11"
  tab_to shift+Tab 1001
  press End  # the dialog manager selects a field's whole text when Tab brings the focus in
  press BackSpace 2
  check "BackSpace in the input field: the input" "$(probe text 1001)" "101"
  check "BackSpace in the input field: the stale result is gone" "$(probe text 1003)" ""
  stays_open Escape "in the input field"
  tab_to Tab 1002
  tab_to Tab 1003
  stays_open Escape "in the output field"
  stays_open Return "in the output field"
  tab_to Tab 1005
  tab_to Tab 1007
  tab_to Tab 1008
  tab_to Tab 1010
  stays_open Escape "in the full-path field"
  tab_to Tab 1
  tab_to shift+Tab 1010
  tab_to Tab 1
  press space
  if wait_for 15 app_ended; then pass "Space on the exit button ends the process"; else fail "Space on the exit button ends the process"; fi
else
  fail "the window titled Quorvane appears"
fi
wait "$app_pid" 2>/dev/null || true
app_pid=
check "the exit button's exit status" "$(cat "$work/interactive.status" 2>/dev/null)" "0"

# The same dialog for a user whose language is English: every caption in English and whole in its
# control, and a picture of it for a person to look at (QUORVANE_SHOTS, when set).
# Its DLL loads are traced: the common controls 6.0 (whose SysLink class the two links are) come
# from the manifest the program activates itself before it shows a window, and Wine then loads
# that comctl32 from its winsxs folder.
LANG=en_US.UTF-8 WINEDEBUG=+loaddll run_in_background "$work/english.status" "$exe" /dialog \
  2>"$work/english-dlls.txt"
if wait_for 30 window_open; then
  window=$(timeout 5 xdotool search --name '^Quorvane$' | head -n1)
  sleep 1
  themed=no
  grep -q 'Loaded .*winsxs.*common-controls.*comctl32\.dll' "$work/english-dlls.txt" && themed=yes
  check "English: the dialog has the common controls 6.0" "$themed" "yes"
  check "English: the convert button" "$(probe text 1002)" "To decimal"
  check "English: the auto-run box" "$(probe text 1005)" "Auto-run"
  check "English: every caption whole, every control inside the dialog and clear of the others" \
    "$(probe fits)" "ok"
  if [ -n "${QUORVANE_SHOTS:-}" ]; then
    mkdir -p "$QUORVANE_SHOTS"
    import -window "$window" "$QUORVANE_SHOTS/wine-english.png" 2>/dev/null || true
  fi
  focus_dialog
  press space
  wait_for 15 app_ended || true
else
  fail "English: the window titled Quorvane appears"
fi
wait "$app_pid" 2>/dev/null || true
app_pid=

# The program asked the shell for the Documents folder: find where its folders went.
documents=
for candidate in "$WINEPREFIX"/drive_c/users/*/Documents; do
  [ -d "$candidate/Brenvale/MFCQuorvane" ] && documents=$candidate
done
[ -n "$documents" ] || fail "the folders are made in the Documents folder" "no Brenvale folder under $WINEPREFIX/drive_c/users"
data=$documents/Brenvale/MFCQuorvane
check "the settings file written by the exit button" \
  "$(od -An -tx1 "$data/temp/Quorvane.tmp" 2>/dev/null | tr -d ' \n')" "300d0a30"

# ---- A second session with the mouse: the version dialog, the input check's message box, and a
# close request from the window system, which ends the dialog without saving the settings.
windows_named() { timeout 5 xdotool search --name "$1" 2>/dev/null | wc -l; }
version_dialog_open() { [ "$(windows_named 'バージョン情報')" -ge 1 ]; }
version_dialog_closed() { [ "$(windows_named 'バージョン情報')" -eq 0 ]; }
message_box_open() { [ "$(windows_named '^Quorvane$')" -eq 2 ]; }
message_box_closed() { [ "$(windows_named '^Quorvane$')" -eq 1 ]; }
# Clicks at a point given in the main dialog's units (455 by 210).
click_at() {
  local geometry width height
  geometry=$(timeout 5 xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
  width=${geometry%x*}
  height=${geometry#*x}
  timeout 5 xdotool mousemove --window "$window" $(($1 * width / 455)) $(($2 * height / 210)) click 1
  sleep 1
}
if [ -n "$documents" ]; then
  printf '1\r\n1' >"$data/temp/Quorvane.tmp"
  run_in_background "$work/second.status" "$exe"
  if wait_for 30 window_open; then
    window=$(timeout 5 xdotool search --name '^Quorvane$' | head -n1)
    click_at 423 14  # the version button
    if wait_for 10 version_dialog_open; then
      pass "the version button opens the version dialog"
      timeout 5 xdotool windowfocus --sync "$(timeout 5 xdotool search --name 'バージョン情報' | head -n1)" || true
      timeout 5 xdotool key --clearmodifiers Escape
      if wait_for 10 version_dialog_closed && app_running; then
        pass "Escape closes the version dialog and leaves the main one"
      else
        fail "Escape closes the version dialog and leaves the main one"
      fi
    else
      fail "the version button opens the version dialog"
    fi
    click_at 152 32  # the input field
    timeout 5 xdotool type --delay 100 2
    # The message box is captioned with the executable's name, as the dialog is titled.
    if wait_for 10 message_box_open; then
      pass "typing 2 raises the input check's message box, captioned Quorvane"
      timeout 5 xdotool key --clearmodifiers Return
      if wait_for 10 message_box_closed; then
        pass "Return dismisses the message box"
      else
        fail "Return dismisses the message box"
      fi
    else
      fail "typing 2 raises the input check's message box, captioned Quorvane"
    fi
    press alt+F4
    if wait_for 15 app_ended; then pass "a close request ends the process"; else fail "a close request ends the process"; fi
  else
    fail "the window titled Quorvane appears again"
  fi
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  check "a close request leaves the settings file as it was" \
    "$(od -An -tx1 "$data/temp/Quorvane.tmp" 2>/dev/null | tr -d ' \n')" "310d0a31"
  # Without a settings file automatic runs are silent: no message box waits for a user.
  rm -f "$data/temp/Quorvane.tmp"
fi

# ---- Automatic runs: drop an input file, start the program, read what it left.
# name | input (printf format; "-" for no input file) | exit status | result file (hex; "-" none) | input kept
# The longest line and the largest value come from the one header that sets them.
max_digits=$(sed -n 's/.*kMaxLineDigits = \([0-9]*\);.*/\1/p' convert/limits.h)
[ -n "$max_digits" ] || { echo "test-windows: no kMaxLineDigits in convert/limits.h"; exit 1; }
ones=$(printf '1%.0s' $(seq "$max_digits"))
largest_hex=$(printf '%s\r\n' "$((2 ** max_digits - 1))" | od -An -tx1 | tr -d ' \n')
runs=(
  "worked example|101\r\n11\r\n|0|350d0a330d0a|no"
  "LF line ends and blank lines|101\n\n11\n\n|0|350d0a330d0a|no"
  "$max_digits ones, the largest value|$ones\r\n|0|$largest_hex|no"
  "line of $((max_digits + 1)) digits refused|101\r\n1${ones//1/0}\r\n|15|-|yes"
  "input file missing|-|10|-|-"
  "input file empty||11|-|yes"
  "character other than 0 and 1|101\r\n12\r\n|13|-|yes"
)
if [ -n "$documents" ]; then
  for row in "${runs[@]}"; do
    IFS='|' read -r name input status result kept <<<"$row"
    rm -rf "$data/AutoFile" "$data/Result/Decyield.tbin"
    mkdir -p "$data/AutoFile"
    [ "$input" = "-" ] || printf '%b' "$input" >"$data/AutoFile/Bintake.tbin"
    set +e
    timeout 20 "$wine" "$exe"
    actual=$?
    set -e
    check "$name: exit status" "$actual" "$status"
    if [ -f "$data/Result/Decyield.tbin" ]; then
      check "$name: result file" "$(od -An -tx1 "$data/Result/Decyield.tbin" | tr -d ' \n')" "$result"
    else
      check "$name: result file" "-" "$result"
    fi
    if [ "$kept" != "-" ]; then
      [ -e "$data/AutoFile/Bintake.tbin" ] && present=yes || present=no
      check "$name: input file kept" "$present" "$kept"
    fi
    check "$name: AutoFile folder stays" "$([ -d "$data/AutoFile" ] && echo yes || echo no)" "yes"
  done
  rm -rf "$data/AutoFile"
fi

# ---- A long input: 30,000 lines put the progress range past 65,535, which the bar must take.
if [ -n "$documents" ]; then
  mkdir -p "$data/AutoFile"
  printf '101\r\n%.0s' $(seq 30000) >"$data/AutoFile/Bintake.tbin"
  printf '5\r\n%.0s' $(seq 30000) >"$work/expected.tbin"
  set +e
  timeout 60 "$wine" "$exe"
  actual=$?
  set -e
  check "30,000 lines: exit status" "$actual" "0"
  if cmp -s "$data/Result/Decyield.tbin" "$work/expected.tbin"; then
    pass "30,000 lines: every line converted"
  else
    fail "30,000 lines: every line converted"
  fi
  rm -rf "$data/AutoFile"
fi

# ---- Messages in automatic mode, allowed by the settings file, from a renamed executable: the
# box is captioned with the new name, and the run ends once it is dismissed.
if [ -n "$documents" ]; then
  cp "$exe" "$work/Renamed.exe"
  printf '1\r\n1' >"$data/temp/Quorvane.tmp"
  mkdir -p "$data/AutoFile"
  run_in_background "$work/renamed.status" "$work/Renamed.exe"
  renamed_box_open() { timeout 5 xdotool search --name '^Renamed$' >/dev/null 2>&1; }
  if wait_for 30 renamed_box_open; then
    pass "a missing input file is reported in a box captioned Renamed"
    window=$(timeout 5 xdotool search --name '^Renamed$' | head -n1)
    press Return
  else
    fail "a missing input file is reported in a box captioned Renamed"
  fi
  wait_for 15 app_ended || kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  check "the reported run's exit status" "$(cat "$work/renamed.status" 2>/dev/null)" "10"
  rm -rf "$data/AutoFile" "$data/temp/Quorvane.tmp"
fi

# ---- Ways in for calling programs, through cmd with redirection as a caller's script writes them.
if [ -n "$documents" ]; then
  c=$WINEPREFIX/drive_c
  cp "$exe" "$c/Quorvane.exe"
  # cmd COMMAND: runs it through wine cmd /c; its status in $status.
  run_cmd() {
    set +e
    timeout 60 "$wine" cmd /c "$1"
    status=$?
    set -e
  }
  hex() { od -An -tx1 "$1" 2>/dev/null | tr -d ' \n'; }
  data_windows="C:\\${data#"$c/"}"
  data_windows=${data_windows//\//\\}
  run_cmd 'C:\Quorvane.exe /where > C:\where.txt 2> C:\where.err'
  check "/where: exit status" "$status" 0
  check "/where: the four paths, in order, with CR LF" "$(cat "$c/where.txt")" \
    "$(printf 'autofile=%s\\AutoFile\r\ninput=%s\\AutoFile\\Bintake.tbin\r\nresult=%s\\Result\\Decyield.tbin\r\nsettings=%s\\temp\\Quorvane.tmp\r' \
      "$data_windows" "$data_windows" "$data_windows" "$data_windows")"
  # name | command | standard input (printf format) | status | standard output (hex) | in stderr
  convert_rows=(
    "numbers|C:\\Quorvane.exe /convert 1011 1 > C:\\out.txt 2> C:\\err.txt||0|31310d0a310d0a|"
    "input with trailing zero bytes|C:\\Quorvane.exe /convert < C:\\in.txt > C:\\out.txt 2> C:\\err.txt|101\r\n11\n\0\0|0|350d0a330d0a|"
    "line of 32 digits|C:\\Quorvane.exe --convert < C:\\in.txt > C:\\out.txt 2> C:\\err.txt|1\n11111111111111111111111111111111\n1\n|15|310d0a|2行目"
    "zero byte inside|C:\\Quorvane.exe /CONVERT < C:\\in.txt > C:\\out.txt 2> C:\\err.txt|1\n1\0001\n|13|310d0a|2行目"
    "not a number|C:\\Quorvane.exe /convert 1 12 > C:\\out.txt 2> C:\\err.txt||13|310d0a|'12'"
    "unknown dash option|C:\\Quorvane.exe --frobnicate > C:\\out.txt 2> C:\\err.txt||2||/?"
    # The program splits its own command line: quotes group, \" is a quote of the argument
    # (from a .cmd file, which hands the line on as it is written).
    "quoted arguments|C:\\quoted.cmd||13|350d0a|'1\"1\"'"
  )
  printf '%s\r\n' '@C:\Quorvane.exe "/convert" "101" 1\"1\" > C:\out.txt 2> C:\err.txt' \
    '@exit /b %ERRORLEVEL%' >"$c/quoted.cmd"
  for row in "${convert_rows[@]}"; do
    IFS='|' read -r name command input expected output error <<<"$row"
    printf '%b' "$input" >"$c/in.txt"
    rm -f "$c/out.txt" "$c/err.txt"
    run_cmd "$command"
    check "/convert, $name: exit status" "$status" "$expected"
    check "/convert, $name: output" "$(hex "$c/out.txt")" "$output"
    if [ -n "$error" ] && ! grep -q -F -- "$error" "$c/err.txt"; then
      fail "/convert, $name: the message names $error" "$(cat "$c/err.txt")"
    fi
  done
  # A slash word of the caller's own is ignored with a note, never offered to /convert as a number.
  rm -f "$c/out.txt" "$c/err.txt"
  run_cmd 'C:\Quorvane.exe /where /foo > C:\out.txt 2> C:\err.txt'
  check "/where /foo: exit status" "$status" 0
  if grep -q -F "'/foo'" "$c/err.txt" && ! grep -q -F '/convert /foo' "$c/err.txt"; then
    pass "/where /foo: the note names /foo and offers it no conversion"
  else
    fail "/where /foo: the note names /foo and offers it no conversion" "$(cat "$c/err.txt")"
  fi
  run_cmd 'C:\Quorvane.exe /? > C:\help.txt'
  run_cmd 'C:\Quorvane.exe -h > C:\out.txt 2> C:\err.txt'
  check "-h: exit status" "$status" 0
  if [ -s "$c/out.txt" ] && cmp -s "$c/out.txt" "$c/help.txt"; then
    pass "-h prints the usage, as /? does"
  else
    fail "-h prints the usage, as /? does" "$(head -c 200 "$c/out.txt")"
  fi
  # /batch never shows a box, even with messages allowed: it ends by itself, with its line.
  mkdir -p "$data/AutoFile"
  rm -f "$data/AutoFile/Bintake.tbin"
  printf '1\r\n1' >"$data/temp/Quorvane.tmp"
  run_cmd 'C:\Quorvane.exe /batch 2> C:\err.txt'
  check "/batch with messages allowed: exit status, with no box waiting" "$status" 10
  check "/batch: one line on standard error" "$(grep -c 'status 10' "$c/err.txt")" 1
  rm -rf "$data/AutoFile" "$data/temp/Quorvane.tmp"

  # Every automatic run reports one event to the Application log. Wine 8 stores none, but its
  # trace shows the call and the record's text (in English here: the trace writes any other
  # script as escapes). The activation contexts are traced too: a run that shows nothing has
  # no business looking up the common controls.
  mkdir -p "$data/AutoFile"
  printf '101\r\n11\r\n' >"$data/AutoFile/Bintake.tbin"
  set +e
  trace=$(LANG=en_US.UTF-8 WINEDEBUG=+eventlog,+actctx timeout 60 "$wine" "$exe" /batch 2>&1)
  status=$?
  set -e
  check "/batch with the event log traced: exit status" "$status" 0
  check "/batch reports one event, with its status, input and lines" \
    "$(echo "$trace" | grep -c 'ReportEventW L"automatic run (--batch): status 0: Processing is complete\. Input 9 bytes, 2 lines, [0-9]* ms"')" 1
  check "/batch looks up no common controls" "$(echo "$trace" | grep -c 'Common-Controls')" 0
  rm -rf "$data/AutoFile"

  # The README's cmd example as written, with the program where the MSI installs it.
  mkdir -p "$c/Program Files/Quorvane"
  cp "$exe" "$c/Program Files/Quorvane/Quorvane.exe"
  # shellcheck disable=SC2016 # the backquotes are the fence of a Markdown block
  sed -n '/^## Calling Quorvane/,/^## /p' README.md | sed -n '/^```bat$/,/^```$/p' | sed '1d;$d' |
    sed 's/$/\r/' >"$c/example.cmd"
  rm -rf "$data/AutoFile" "$data/Result/Decyield.tbin"
  set +e
  example_output=$(timeout 60 "$wine" cmd /c 'C:\example.cmd' | od -An -tx1 | tr -d ' \n')
  set -e
  check "the README's cmd example prints the result" "$example_output" "350d0a330d0a"
  rm -rf "$data/AutoFile"
fi

# Nothing of Quorvane's in the registry once the prefix has saved it.
timeout 30 "$wineserver" -w || true
if grep -a -q -i -E 'quorvane|brenvale' "$WINEPREFIX"/user.reg "$WINEPREFIX"/system.reg; then
  fail "nothing is written to the registry" "$(grep -a -i -E 'quorvane|brenvale' "$WINEPREFIX"/*.reg | head -n3)"
else
  pass "nothing is written to the registry"
fi

echo "test-windows: $passed passed, $failed failed"

# How much a 2 MB input costs an automatic run beyond Wine's own start: reported, not tested.
echo "-- bench/wine_compare.sh (a measurement, not a test)"
RUNS=${WINE_BENCH_RUNS:-20} bench/wine_compare.sh "$exe" || echo "(the measurement did not complete)"

[ "$failed" -eq 0 ]
