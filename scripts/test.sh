#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test: the Linux build's unit,
# widget and end-to-end tests, then each scripts/test-*.sh (sanitizers and fuzzing, the Windows
# build under Wine). Every part runs even when an earlier one failed; the status says if any did.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
scripts/install-deps.sh || exit 1

failed=()
run_part() {
  echo "== $1"
  shift
  "$@" || failed+=("$1")
}

linux_tests() {
  cmake --preset release >/dev/null &&
    cmake --build --preset release -j"$(nproc)" &&
    ctest --preset release -j"$(nproc)"
}
run_part "Linux build: unit, end-to-end and Qt tests" linux_tests

for extra in scripts/test-*.sh; do
  [ -x "$extra" ] && run_part "$extra" "$extra"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All test parts passed."
