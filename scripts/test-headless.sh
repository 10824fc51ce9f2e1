#!/usr/bin/env bash
# The build without the Qt front end, which automatic mode on a server uses: it builds, passes
# its tests, and its executable links no GUI toolkit (the structure test checks that).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset headless >/dev/null
cmake --build --preset headless -j"$(nproc)"
if [ -e build/headless/libquorvane_qt.so ]; then
  echo "test-headless: the headless build made the Qt module"
  exit 1
fi
ctest --preset headless -j"$(nproc)"
