#!/usr/bin/env bash
# Installs what Quorvane needs, builds it and opens its dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
exec build/release/quorvane --dialog
