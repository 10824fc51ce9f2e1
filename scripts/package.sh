#!/usr/bin/env bash
# Builds every release artefact into dist/, from the version that CMake's project() sets:
#   dist/quorvane_<version>_<arch>.deb         the Debian package, by dpkg-buildpackage (debian/)
#   dist/quorvane-dbgsym_<version>_<arch>.deb  its debugging symbols
#   dist/quorvane_<version>_<arch>.buildinfo   and .changes: what was built, and from what
#   dist/Quorvane-<version>-win64.zip          Quorvane.exe, LICENSE.txt, README.txt (CR LF)
#   dist/Quorvane-<version>-win64.msi          the Windows installer (wixl)
# Quorvane.exe comes from the "windows" preset. The same sources give byte-identical artefacts in
# any folder, under any umask (scripts/test-package.sh builds twice and compares).
# scripts/install-deps.sh installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
jobs=${QUORVANE_JOBS:-$(nproc)}

for tool in cmake dpkg-buildpackage dh wixl msibuild msiinfo faketime zip x86_64-w64-mingw32-g++; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

# Every timestamp inside every artefact is debian/changelog's date, as dpkg-buildpackage takes it:
# the sources alone decide the bytes, not when or where they are built.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -STimestamp)}
export SOURCE_DATE_EPOCH

stage=build/package-stage
rm -rf "$stage" dist
mkdir -p "$stage" dist

# ---- Debian package
echo "-- building the Debian package (dpkg-buildpackage; log in $stage/dpkg-buildpackage.log)"
# dpkg-buildpackage leaves its results beside the source tree, in a folder others may share: they
# go into dist/ at once, whether the build went through or not. debian/files names them.
take_debian_results() {
  local name
  [ -f debian/files ] || return 0
  for name in $(cut -d' ' -f1 debian/files) "$(dpkg-parsechangelog -SSource)_$(dpkg-parsechangelog -SVersion)_$(dpkg-architecture -qDEB_HOST_ARCH).changes"; do
    [ -f "../$name" ] && mv "../$name" dist/
  done
  return 0
}
if ! DEB_BUILD_OPTIONS="parallel=$jobs${DEB_BUILD_OPTIONS:+ $DEB_BUILD_OPTIONS}" \
  dpkg-buildpackage -us -uc -b >"$stage/dpkg-buildpackage.log" 2>&1; then
  take_debian_results
  tail -n 30 "$stage/dpkg-buildpackage.log"
  echo "package.sh: dpkg-buildpackage failed"
  exit 1
fi
take_debian_results

# ---- Windows zip and MSI: the same three files in both.
echo "-- building the Windows Quorvane.exe"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" --target Quorvane >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
[ -n "$version" ] || { echo "package.sh: no version in build/windows/CMakeCache.txt"; exit 1; }
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$@"; }

win=$stage/windows
mkdir -p "$win"
cp build/windows/Quorvane.exe "$win/"
crlf LICENSE >"$win/LICENSE.txt"
# A byte-order mark, so that every Notepad reads the Japanese check-box names as UTF-8.
{ printf '\357\273\277'; sed -e "s/@VERSION@/$version/g" packaging/windows/README.txt | crlf; } >"$win/README.txt"
# The zip keeps each file's mode and time: set both, not the umask and the clock of this build.
chmod 0755 "$win/Quorvane.exe"
chmod 0644 "$win/LICENSE.txt" "$win/README.txt"
touch -d "@$SOURCE_DATE_EPOCH" "$win"/*
zip_file=dist/Quorvane-${version}-win64.zip
(cd "$win" && TZ=UTC zip -q -X -9 "$source_dir/$zip_file" Quorvane.exe LICENSE.txt README.txt)

msi=dist/Quorvane-${version}-win64.msi
packaging/windows/build-msi.sh "$version" "$win" "$msi"

echo "-- artefacts"
(cd dist && stat -c "%s bytes  dist/%n" -- *)
