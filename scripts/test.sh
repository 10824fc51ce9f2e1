#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test: the Linux build's unit,
# widget and end-to-end tests, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)"

for extra in scripts/test-*.sh; do
  [ -x "$extra" ] || continue
  echo "== $extra"
  "$extra"
done
