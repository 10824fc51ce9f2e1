#!/usr/bin/env bash
# Builds every release artefact into dist/, from the version that CMake's project() sets:
#   dist/quorvane_<version>_amd64.deb    the Debian package (dpkg-deb from a stripped install)
#   dist/Quorvane-<version>-win64.zip    Quorvane.exe, LICENSE.txt, README.txt (CR LF)
#   dist/Quorvane-<version>-win64.msi    the Windows installer (wixl)
# Builds the "package" preset (the program and its Qt module, no tests, Debian's hardening flags)
# and Quorvane.exe from the "windows" preset. scripts/install-deps.sh installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
jobs=${QUORVANE_JOBS:-$(nproc)}
umask 022  # the package's folders and files get the usual modes, whatever the caller's umask

for tool in cmake dpkg-deb dpkg-shlibdeps wixl zip x86_64-w64-mingw32-g++; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

echo "-- building the Linux program and the Windows Quorvane.exe"
cmake --preset package >/dev/null
cmake --build --preset package -j"$jobs" >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" --target Quorvane >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
[ -n "$version" ] || { echo "package.sh: no version in build/package/CMakeCache.txt"; exit 1; }
# Timestamps inside the artefacts: the last commit's, so that a rebuild gives the same files.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}

stage=build/package-stage
rm -rf "$stage" dist
mkdir -p "$stage" dist
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$@"; }
substitute() { sed -e "s/@VERSION@/$version/g" "$@"; }

# ---- Debian package
root=$stage/deb
DESTDIR=$source_dir/$root cmake --install build/package --prefix /usr --strip >/dev/null
# As Debian's own packages are stripped: without the compiler's notes either.
strip --remove-section=.comment --remove-section=.note "$root/usr/bin/quorvane" \
  "$root/usr/lib/quorvane/libquorvane_qt.so"
doc=$root/usr/share/doc/quorvane
mkdir -p "$doc"
gzip -9n "$root/usr/share/man/man1/quorvane.1"
# The documents the manual page points to: the README (the drop folder, the exit statuses, the
# glossary of the dialog's texts) and the exit statuses in detail, compressed as Debian does.
gzip -9n <README.md >"$doc/README.md.gz"
gzip -9n <docs/exit-status.md >"$doc/exit-status.md.gz"
substitute packaging/debian/changelog.in | gzip -9n >"$doc/changelog.Debian.gz"
# The machine-readable copyright file: the header, then the license text of LICENSE itself.
{
  cat packaging/debian/copyright.in
  sed -e '1,/^Copyright/d' LICENSE | sed -e '/./,$!d' -e 's/^$/./' -e 's/^/ /'
} >"$doc/copyright"

# Automatic runs need only what the executable links; Qt, its X11 and Wayland display plugins and
# a Japanese font are for the dialog, and libcanberra for the completion sound on a desktop
# (loaded when it is there), so they are recommended, never required. The dialog's packages are
# the ones the executable names when it cannot load the dialog (scripts/test-package.sh checks);
# libc6, libgcc-s1 and libstdc++6 are on every system that runs apt.
mkdir -p "$stage/debian"
printf 'Source: quorvane\n\nPackage: quorvane\nArchitecture: amd64\n' >"$stage/debian/control"
shlibs() {  # shlibs FIELD FILE: the packages FILE links, as dpkg-shlibdeps names them
  (cd "$stage" && dpkg-shlibdeps -O -d"$1" -e"${2#"$stage"/}" 2>/dev/null) | sed -n "s/^shlibs:$1=//p"
}
depends=$(shlibs Depends "$root/usr/bin/quorvane")
recommends=$(shlibs Recommends "$root/usr/lib/quorvane/libquorvane_qt.so" |
  tr ',' '\n' | sed 's/^ *//' | grep -v -E '^(libc6|libgcc-s1|libstdc\+\+6)( |$)' | paste -sd, | sed 's/,/, /g')
recommends="$recommends, qt6-qpa-plugins, qt6-wayland, fonts-ipafont-gothic, libcanberra0"
[ -n "$depends" ] || { echo "package.sh: dpkg-shlibdeps found no dependencies"; exit 1; }

mkdir -p "$root/DEBIAN"
substitute packaging/debian/control.in |
  sed -e "s/@INSTALLED_SIZE@/$(du -sk --apparent-size "$root/usr" | cut -f1)/" \
    -e "s/@DEPENDS@/$depends/" -e "s/@RECOMMENDS@/$recommends/" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=dist/quorvane_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null

# ---- Windows zip and MSI: the same three files in both.
win=$stage/windows
mkdir -p "$win"
cp build/windows/Quorvane.exe "$win/"
crlf LICENSE >"$win/LICENSE.txt"
# A byte-order mark, so that every Notepad reads the Japanese check-box names as UTF-8.
{ printf '\357\273\277'; substitute packaging/windows/README.txt | crlf; } >"$win/README.txt"
touch -d "@$SOURCE_DATE_EPOCH" "$win"/*
zip_file=dist/Quorvane-${version}-win64.zip
(cd "$win" && zip -q -X -9 "$source_dir/$zip_file" Quorvane.exe LICENSE.txt README.txt)

msi=dist/Quorvane-${version}-win64.msi
packaging/windows/build-msi.sh "$version" "$win" "$msi"

echo "-- artefacts"
stat -c "%s bytes  %n" "$deb" "$zip_file" "$msi"
