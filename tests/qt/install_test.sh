#!/usr/bin/env bash
# Installs the build into a throw-away prefix, checks the desktop layout, and runs the
# end-to-end test against the installed executable, which must find the module in
# ../lib/quorvane.
set -euo pipefail
cmake=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
missing=0
for file in bin/quorvane lib/quorvane/libquorvane_qt.so share/applications/quorvane.desktop \
    share/icons/hicolor/scalable/apps/quorvane.svg share/metainfo/example.brenvale.Quorvane.metainfo.xml \
    share/man/man1/quorvane.1 \
    share/icons/hicolor/{16x16,24x24,32x32,48x48,256x256}/apps/quorvane.png; do
  [ -f "$prefix/$file" ] || { echo "FAIL: $file was not installed"; missing=1; }
done
[ "$missing" = 0 ] || exit 1
for size in 16 24 32 48 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/quorvane.png"
  # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || { echo "FAIL: $png is $dims"; exit 1; }
done
# The launcher is a person's start: it asks for the dialog.
grep -qx 'Exec=quorvane --dialog' "$prefix/share/applications/quorvane.desktop" || { echo "FAIL: Exec"; exit 1; }
grep -qx 'Icon=quorvane' "$prefix/share/applications/quorvane.desktop" || { echo "FAIL: Icon"; exit 1; }
# scripts/install-deps.sh installs desktop-file-utils; a missing validator is a failure.
desktop-file-validate "$prefix/share/applications/quorvane.desktop" || { echo "FAIL: desktop-file-validate"; exit 1; }
# The installed program runs from the prefix alone: nothing of the build folder is next to it.
exec "$(dirname "$0")/end_to_end_test.sh" "$prefix/bin/quorvane"
