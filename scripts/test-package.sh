#!/usr/bin/env bash
# The release artefacts as users get them. Checks that debian/changelog carries project()'s
# version, runs scripts/package.sh (umask 022), then:
#  - the zip holds Quorvane.exe, LICENSE.txt and README.txt, the texts with CR LF line ends;
#  - lintian finds no error and no warning in the .deb and its -dbgsym (its output is shown); the
#    .deb depends on the C library alone, recommends Qt, is hardened and optimised as the
#    benchmarked Release build; desktop-file-validate and appstreamcli validate --no-net pass on its
#    files; the README and exit-status.md are in /usr/share/doc/quorvane, compressed, as the manual
#    page says, and every relative link of theirs resolves there, as it does where
#    `cmake --install` puts the same documents; the packages the missing-Qt hint names are the
#    ones the package recommends for the dialog;
#  - as root: apt-get installs the .deb, the worked example runs through /usr/bin/quorvane,
#    --version answers, and apt-get purge leaves no file of the package behind (skipped, and
#    said so, when not root);
#  - under Wine, in a throw-away prefix and HOME: msiexec installs the MSI (Program Files, the
#    Start menu, the list of installed programs, the Application log's event source), the worked
#    example runs through the installed Quorvane.exe, msiexec /x removes it, and a newer build
#    replaces an installed one in place;
#  - a second scripts/package.sh, in a copy of the source tree in another folder, under umask 077
#    and another time zone, gives byte for byte the same .deb, -dbgsym, zip and MSI (cmp decides;
#    diffoscope shows what differs).
# Ends with "N passed, N failed". Every wait is bounded.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

# shellcheck source-path=SCRIPTDIR source=test-lib.sh
. scripts/test-lib.sh
for tool in lintian desktop-file-validate appstreamcli unzip wixl Xvfb strings readelf git \
  dpkg-parsechangelog diffoscope "$wine" "$wineserver"; do
  command -v "$tool" >/dev/null || { echo "test-package: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

work=$(mktemp -d /tmp/quorvane-package.XXXXXX)
xvfb_pid=
installed_deb=
cleanup() {
  [ -n "$installed_deb" ] && apt-get purge -y -qq quorvane >/dev/null 2>&1
  WINEPREFIX=$work/prefix timeout 10 "$wineserver" -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

expect() {  # expect NAME COMMAND...: passes when COMMAND succeeds, else shows what it said
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then pass "$name"; else fail "$name" "$out"; fi
}
present() { [ -e "$1" ] && echo yes || echo no; }

# project() in CMakeLists.txt sets the version; the Debian package, native, takes it whole.
project_version=$(sed -n 's/^project(Quorvane VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
check "debian/changelog's version is project()'s ($project_version)" \
  "$(dpkg-parsechangelog -SVersion)" "$project_version"

echo "-- scripts/package.sh"
if ! (umask 022 && scripts/package.sh) >"$work/package.log" 2>&1; then
  tail -n 30 "$work/package.log"
  echo "test-package: scripts/package.sh failed"
  echo "test-package: $passed passed, $((failed + 1)) failed"
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/deb/CMakeCache.txt)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb=dist/quorvane_${version}_${arch}.deb
dbgsym=dist/quorvane-dbgsym_${version}_${arch}.deb
zip=dist/Quorvane-${version}-win64.zip
msi=dist/Quorvane-${version}-win64.msi
sed -n '/^-- artefacts/,$p' "$work/package.log"
# The worked example: the two lines 101 and 11 give 5 and 3, and the input is deleted.
drop_example() { mkdir -p "$1/AutoFile" && printf '101\r\n11\r\n' >"$1/AutoFile/Bintake.tbin"; }
check_example() {  # check_example WHERE DATA_FOLDER EXIT_STATUS
  check "worked example through $1: exit status" "$3" 0
  check "worked example: result file" "$(od -An -tx1 "$2/Result/Decyield.tbin" | tr -d ' \n')" 350d0a330d0a
  check "worked example: input deleted" "$(present "$2/AutoFile/Bintake.tbin")" no
}

# ---- The Windows zip
check "the zip holds the three files" "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" \
  "LICENSE.txt Quorvane.exe README.txt "
unzip -q "$zip" -d "$work/zip"
expect "the zip's Quorvane.exe is the Windows build" cmp "$work/zip/Quorvane.exe" build/windows/Quorvane.exe
for text in LICENSE.txt README.txt; do
  check "$text: every line ends in CR LF" "$(grep -c -v $'\r$' "$work/zip/$text")" 0
done
# The Windows reader gets every status a calling program can see (the README's table).
check "README.txt lists the README's exit statuses" \
  "$(sed -n 's/^  \([0-9][0-9]*\)  .*/\1/p' "$work/zip/README.txt" | sort -n | tr '\n' ' ')" \
  "$(sed -n '/^| Status | Meaning/,/^$/s/^| \([0-9][0-9]*\) |.*/\1/p' README.md | sort -n | tr '\n' ' ')"

# ---- The Debian package, as built
check "the .deb's version is project()'s" "$(dpkg-deb -f "$deb" Version)" "$project_version"
lintian --fail-on error,warning -I "$deb" "$dbgsym" >"$work/lintian.log" 2>&1
check "lintian: no error and no warning in the .deb and its -dbgsym" "$?" 0
grep -v -x 'running with root privileges is not recommended!' "$work/lintian.log" | sed 's/^/     /' |
  grep . || echo "     (lintian names no tag, not even an informational one)"
check "automatic mode needs no Qt: Depends: $(dpkg-deb -f "$deb" Depends)" \
  "$(dpkg-deb -f "$deb" Depends | grep -c -i qt)" 0
check "the C library is all it depends on" \
  "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -e 's/^ *//' -e 's/ .*//' | sort -u | tr '\n' ' ')" "libc6 "
check "the Qt libraries are recommended" "$(dpkg-deb -f "$deb" Recommends | grep -c libqt6widgets6)" 1
dpkg-deb -x "$deb" "$work/deb"
dpkg-deb -x "$dbgsym" "$work/dbgsym"
# Debian's hardening (hardening=+all): relocations read-only after start-up, all bound at once.
for elf in usr/bin/quorvane usr/lib/quorvane/libquorvane_qt.so; do
  check "$elf: RELRO and BIND_NOW" \
    "$(readelf -lW "$work/deb/$elf" | grep -c GNU_RELRO) $(readelf -d "$work/deb/$elf" | grep -c -w BIND_NOW)" "1 1"
done
# The package runs the code the benchmarks measure: every compile unit's last -O option, as its
# debugging symbols record it, is the one of CMake's Release build type.
release_optimisation=$(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:STRING=//p' build/deb/CMakeCache.txt |
  grep -o -E -- '-O[0-9sz]' | tail -n1)
check "every compile unit is optimised as the benchmarked Release build ($release_optimisation)" \
  "$(find "$work/dbgsym" -type f -name '*.debug' -exec readelf -z -p .debug_str {} + 2>/dev/null |
    grep -o -E 'GNU C[^ ]* [0-9.]+ .*' | while read -r producer; do
      grep -o -E -- ' -O[0-9sz]?' <<<"$producer" | tail -n1 | tr -d ' '
    done | sort -u | tr '\n' ' ')" "$release_optimisation "
# What an interactive start without Qt tells the user to install is what the package recommends
# for the dialog: everything but the completion sound's libcanberra0.
recommended=$(dpkg-deb -f "$deb" Recommends | tr ',' '\n' | sed -e 's/^ *//' -e 's/ .*//' |
  grep -v -x libcanberra0 | sort | tr '\n' ' ')
# The packaged program beside a Qt module that cannot be loaded says what it says without Qt.
mkdir -p "$work/no-qt/bin" "$work/no-qt/home"
cp "$work/deb/usr/bin/quorvane" "$work/no-qt/bin/"
: >"$work/no-qt/bin/libquorvane_qt.so"
hinted=$(env -i HOME="$work/no-qt/home" DISPLAY=:99 timeout 20 "$work/no-qt/bin/quorvane" --dialog 2>&1 |
  sed -n 's/.*sudo apt install \([^)]*\)).*/\1/p' | tr ' ' '\n' | sort | tr '\n' ' ')
check "the missing-Qt hint names the dialog's recommended packages ($recommended)" "$hinted" "$recommended"
check "the Wayland display plugin is recommended" "$(dpkg-deb -f "$deb" Recommends | grep -c qt6-wayland)" 1
# The documents the manual page sends readers to, compressed, where it says they are.
for document in README.md.gz exit-status.md.gz; do
  check "/usr/share/doc/quorvane/$document is installed" \
    "$(gzip -t "$work/deb/usr/share/doc/quorvane/$document" 2>&1 && echo ok)" ok
done
# Its links are rewritten for the folder it is installed in; nothing else changes.
unlinked() { sed -E 's/\]\([^)]*\)/](...)/g'; }
check "the README in the package is the source tree's, but for where its links point" \
  "$(zcat "$work/deb/usr/share/doc/quorvane/README.md.gz" | unlinked | cmp - <(unlinked <README.md) && echo same)" same
check "the manual page's SEE ALSO names them there" \
  "$(zcat "$work/deb/usr/share/man/man1/quorvane.1.gz" | sed -n '/^\.SH SEE ALSO/,/^\.SH/p' | sed 's/\\-/-/g' |
    grep -c -E '/usr/share/doc/quorvane/(README\.md|exit-status\.md)\.gz')" 2
# links_resolve FOLDER: the relative links of the Markdown documents in FOLDER (compressed or not)
# that lead nowhere there, or a note when none was found at all.
links_resolve() {
  local document target found=0
  for document in "$1"/*.md "$1"/*.md.gz; do
    [ -f "$document" ] || continue
    while read -r target; do
      found=$((found + 1))
      [ -e "$1/${target%%#*}" ] || echo "${document##*/} -> $target"
    done < <(zcat -f "$document" | grep -o -E '\]\([^)]+\)' | sed -E 's/^\]\((.*)\)$/\1/' |
      grep -v -E '^(#|[a-z]+:)')
  done
  [ "$found" -gt 0 ] || echo "no relative link found in $1"
}
check "every relative link of the documents in /usr/share/doc/quorvane resolves" \
  "$(links_resolve "$work/deb/usr/share/doc/quorvane")" ""
# cmake --install puts the same documents in the same folder, uncompressed, linked as such.
if cmake -S . -B "$work/cmake" -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCH=OFF \
  -DQUORVANE_BUILD_QT=OFF >"$work/cmake.log" 2>&1 &&
  cmake --install "$work/cmake" --prefix "$work/cmake-install" --component documents >>"$work/cmake.log" 2>&1; then
  check "cmake --install installs the documents of the .deb" \
    "$(find "$work/cmake-install/share/doc/quorvane" -type f -printf '%f\n' | sort | tr '\n' ' ')" \
    "$(find "$work/deb/usr/share/doc/quorvane" -type f -printf '%f\n' | sed 's/\.gz$//' |
      grep -v -x changelog | sort | tr '\n' ' ')"
  check "every relative link of the documents cmake --install puts in share/doc/quorvane resolves" \
    "$(links_resolve "$work/cmake-install/share/doc/quorvane")" ""
else
  fail "cmake --install --component documents" "$(tail -n 10 "$work/cmake.log")"
fi
# The license the package states is LICENSE's, word for word.
check "debian/copyright carries the text of LICENSE" \
  "$(sed -e '1,/^License: Expat$/d' -e 's/^ //' -e 's/^\.$//' debian/copyright | cmp - <(sed -e '1,/^Copyright/d' LICENSE | sed '/./,$!d') && echo same)" same
expect "desktop-file-validate" desktop-file-validate "$work/deb/usr/share/applications/quorvane.desktop"
expect "appstreamcli validate --no-net" \
  appstreamcli validate --no-net "$work/deb/usr/share/metainfo/example.brenvale.Quorvane.metainfo.xml"

# ---- The Debian package, installed and removed as a user does it
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP installing the .deb: apt-get install and purge need root"
elif dpkg-query -W -f='${Status}' quorvane 2>/dev/null | grep -q "ok installed"; then
  echo "SKIP installing the .deb: quorvane is installed already; apt-get purge quorvane first"
else
  apt_get=(apt-get -o DPkg::Lock::Timeout=300 -y -qq --no-install-recommends)
  if "${apt_get[@]}" install "./$deb" >"$work/apt.log" 2>&1; then
    installed_deb=yes
    pass "apt-get install ./$deb"
    home=$work/deb-home
    data=$home/Documents/Brenvale/MFCQuorvane
    drop_example "$data"
    env -i HOME="$home" PATH=/usr/bin:/bin timeout 20 /usr/bin/quorvane
    check_example /usr/bin/quorvane "$data" $?
    check "quorvane --version" "$(env -i PATH=/usr/bin:/bin quorvane --version)" "quorvane $version"
    dpkg -L quorvane >"$work/files"
    if "${apt_get[@]}" purge quorvane >>"$work/apt.log" 2>&1; then
      installed_deb=
      pass "apt-get purge quorvane"
    else
      fail "apt-get purge quorvane" "$(tail -n 5 "$work/apt.log")"
    fi
    # Shared folders (/usr/share/icons/...) stay; nothing of Quorvane's own may.
    left=$(while read -r path; do
      if [ -e "$path" ] && { [ ! -d "$path" ] || [[ "$path" == *quorvane* ]]; }; then echo "$path"; fi
    done <"$work/files")
    check "no file of the package remains" "$left" ""
  else
    fail "apt-get install ./$deb" "$(tail -n 10 "$work/apt.log")"
  fi
fi

# ---- The MSI under Wine
use_throwaway_wine "$work/wine-home" "$work/prefix"
# The Windows Documents folder is then $HOME/Documents.
mkdir -p "$HOME/Documents"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
installed=$WINEPREFIX/drive_c/Program\ Files/Quorvane
entries() { timeout 30 "$wine" uninstaller --list 2>/dev/null | grep -c '|||Quorvane'; }
shortcut() { find "$WINEPREFIX/drive_c" -name Quorvane.lnk 2>/dev/null | head -n1; }
# Each waits until the prefix's earlier programs, and Wine's desktop process with them, have ended:
# started while that desktop was shutting down, msiexec once failed with "ShellExecuteEx failed:
# Internal error".
msiexec() {
  timeout 30 "$wineserver" -w
  timeout 120 "$wine" msiexec "$@" /qn
}
# The Application log's event source, as "reg query" shows its VALUE ("REG_SZ C:\..."), or nothing.
event_source() {
  timeout 30 "$wine" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quorvane' \
    /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 \{1,\}//p" | tr -s ' '
}

if ! timeout 180 "$wine" wineboot -i >/dev/null 2>&1; then
  fail "a fresh Wine prefix" "wineboot failed"
else
  msiexec /i "$msi"
  check "msiexec /i: exit status" "$?" 0
  check "Quorvane.exe, LICENSE.txt and README.txt in Program Files\\Quorvane" \
    "$(find "$installed" -type f -printf '%f\n' 2>/dev/null | sort | tr '\n' ' ')" \
    "LICENSE.txt Quorvane.exe README.txt "
  check "a Start-menu shortcut that opens the dialog (/dialog)" \
    "$(strings -el "$(shortcut)" 2>/dev/null | grep -x /dialog)" /dialog
  check "listed among the installed programs" "$(entries)" 1
  check "an event source of the Application log: its messages in Quorvane.exe" \
    "$(event_source EventMessageFile)" 'REG_SZ C:\Program Files\Quorvane\Quorvane.exe'
  check "an event source of the Application log: errors, warnings and information" \
    "$(event_source TypesSupported)" "REG_DWORD 0x7"

  data=$HOME/Documents/Brenvale/MFCQuorvane
  drop_example "$data"
  timeout 60 "$wine" 'C:\Program Files\Quorvane\Quorvane.exe'
  check_example "the installed Quorvane.exe" "$data" $?

  msiexec /x "$msi"
  check "msiexec /x: exit status" "$?" 0
  check "msiexec /x removes Quorvane.exe" "$(present "$installed/Quorvane.exe")" no
  check "msiexec /x removes the shortcut" "$(shortcut)" ""
  check "msiexec /x removes the installed-programs entry" "$(entries)" 0
  check "msiexec /x removes the event source" "$(event_source EventMessageFile)$(event_source TypesSupported)" ""

  # A later build whose version differs only in the fourth part, which Windows Installer itself
  # does not compare, replaces the installed one instead of going beside it.
  next_version=${version%.*}.$((${version##*.} + 1))
  packaging/windows/build-msi.sh "$next_version" build/package-stage/windows "$work/next.msi" >/dev/null 2>&1
  msiexec /i "$msi" && msiexec /i "$work/next.msi"
  check "$next_version installed over $version: exit status" "$?" 0
  check "$next_version installed over $version: one entry among the installed programs" "$(entries)" 1
  check "$next_version installed over $version: the event source stays" \
    "$(event_source EventMessageFile)" 'REG_SZ C:\Program Files\Quorvane\Quorvane.exe'
  msiexec /x "$work/next.msi"
  check "$next_version removed: Quorvane.exe gone" "$(present "$installed/Quorvane.exe")" no
  check "$next_version removed: the event source gone" "$(event_source EventMessageFile)" ""
fi
WINEPREFIX=$work/prefix timeout 10 "$wineserver" -k 2>/dev/null

# ---- The same sources, built again elsewhere, give the same bytes
# The first build is the one above; the second runs in a copy of the source tree (the files git
# tracks, and new ones it does not ignore) in another folder, whose path has another length, under
# another umask and time zone.
again=$work/again/quorvane-source
mkdir -p "$again"
if ! git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$again"; then
  fail "a copy of the source tree in $again"
elif ! (cd "$again" && umask 077 && TZ=JST-9 scripts/package.sh) >"$work/package-again.log" 2>&1; then
  fail "scripts/package.sh in $again" "$(tail -n 20 "$work/package-again.log")"
else
  for artefact in "$deb" "$dbgsym" "$zip" "$msi"; do
    if cmp "$artefact" "$again/$artefact" >"$work/cmp.log" 2>&1; then
      pass "$artefact: the same bytes from another folder, umask and time zone"
    else
      fail "$artefact: the same bytes from another folder, umask and time zone" \
        "$(cat "$work/cmp.log"; timeout 600 diffoscope "$artefact" "$again/$artefact" 2>&1 | head -n 60)"
    fi
  done
fi

echo "test-package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
