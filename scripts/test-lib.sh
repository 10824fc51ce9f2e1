# Sourced by the test parts that count their own checks (test-package.sh, test-windows.sh): the
# counts each part reports on its last line, and the Wine commands and throw-away setup they share.
# shellcheck shell=bash disable=SC2034  # the variables are the sourcing script's to use

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "got '$2', expected '$3'"; fi
}

wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# use_throwaway_wine HOME PREFIX: Wine runs with its own HOME and prefix, prints no debug output,
# asks for no Mono or Gecko and makes no menu entries.
use_throwaway_wine() {
  export HOME=$1 WINEPREFIX=$2 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
  unset WAYLAND_DISPLAY
  mkdir -p "$HOME"
}
