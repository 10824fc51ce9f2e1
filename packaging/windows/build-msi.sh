#!/usr/bin/env bash
# Builds the Windows installer with wixl:  build-msi.sh VERSION FOLDER OUTPUT.msi
# FOLDER holds Quorvane.exe, LICENSE.txt and README.txt as they are to be installed.
# scripts/package.sh calls it; scripts/test-package.sh also builds a later version with it.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 VERSION FOLDER OUTPUT.msi"; exit 2; }
version=$1
folder=$2
here=$(dirname "$0")
# Windows Installer compares only the first three parts of a version: the installer also
# replaces any copy of the same first three parts, up to the next patch level.
patch_level=${version%.*}
next_patch_level=${patch_level%.*}.$((${patch_level##*.} + 1))
wixl -a x64 -D Version="$version" -D PatchLevel="$patch_level" -D NextPatchLevel="$next_patch_level" \
  -D ExeDir="$folder" -D DocDir="$folder" -D IconFile="$here/../../resources/win32/quorvane.ico" \
  -o "$3" "$here/quorvane.wxs"
