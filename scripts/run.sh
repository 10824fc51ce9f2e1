#!/usr/bin/env bash
# Installs what building Quorvane and showing its dialog need, builds the program and its Qt
# module only (no tests, fuzzers or benchmarks: the "app" preset, in build/app) and opens the
# dialog. Arguments go to quorvane.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --run
cmake --preset app >/dev/null
cmake --build --preset app -j"$(nproc)"
exec build/app/quorvane --dialog "$@"
