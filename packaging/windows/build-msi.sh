#!/usr/bin/env bash
# Builds the Windows installer with wixl:  build-msi.sh VERSION FOLDER OUTPUT.msi
# FOLDER holds Quorvane.exe, LICENSE.txt and README.txt as they are to be installed.
# scripts/package.sh calls it; scripts/test-package.sh also builds a later version with it.
#
# The same inputs give the same bytes: wixl would draw a new ProductCode and package code for
# every build and stamp the clock into the summary, so the ProductCode is derived from the version,
# the package code from everything the package is made of, and the clock stands still at
# SOURCE_DATE_EPOCH (debian/changelog's date unless the caller sets it).
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 VERSION FOLDER OUTPUT.msi"; exit 2; }
version=$1
folder=$2
output=$3
here=$(dirname "$0")
wxs=$here/quorvane.wxs
icon=$here/../../resources/win32/quorvane.ico
epoch=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l"$here/../../debian/changelog" -STimestamp)}

# uuid5 NAMESPACE NAME: the name-based UUID (RFC 4122, SHA-1) of NAME within NAMESPACE, in capitals.
uuid5() {
  local hash
  hash=$({ printf '%b' "$(printf '%s' "$1" | tr -d '-' | sed 's/../\\x&/g')"; printf '%s' "$2"; } |
    sha1sum | cut -c1-32)
  printf '%s-%s-5%s-%x%s-%s\n' "${hash:0:8}" "${hash:8:4}" "${hash:13:3}" \
    $((0x${hash:16:1} & 3 | 8)) "${hash:17:3}" "${hash:20:12}" | tr 'a-f' 'A-F'
}
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$wxs")
[ -n "$upgrade_code" ] || { echo "build-msi.sh: no UpgradeCode in $wxs"; exit 1; }
# One ProductCode per version, so that a rebuild of a version is that version; a newer version
# gets a new one, as a major upgrade needs.
product_code=$(uuid5 "$upgrade_code" "ProductCode $version")
# The package code names one exact package: it changes with anything the package is made of.
package_code=$(uuid5 "$upgrade_code" "PackageCode $version $(cat "$folder/Quorvane.exe" \
  "$folder/LICENSE.txt" "$folder/README.txt" "$wxs" "$icon" | sha256sum | cut -c1-64)")

# Windows Installer compares only the first three parts of a version: the installer also
# replaces any copy of the same first three parts, up to the next patch level.
patch_level=${version%.*}
next_patch_level=${patch_level%.*}.$((${patch_level##*.} + 1))
clock=(env TZ=UTC faketime -f "$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')")
"${clock[@]}" wixl -a x64 -D Version="$version" -D PatchLevel="$patch_level" \
  -D NextPatchLevel="$next_patch_level" -D ProductCode="$product_code" -D ExeDir="$folder" \
  -D DocDir="$folder" -D IconFile="$icon" -o "$output" "$wxs"
# msibuild -s writes the subject (its first argument), the author, the template and the package
# code: the rest of wixl's summary stays.
summary() { msiinfo suminfo "$output" | sed -n "s/^$1: //p"; }
"${clock[@]}" msibuild "$output" -s "$(summary Subject)" "$(summary Author)" "$(summary Template)" \
  "{$package_code}"
