#!/usr/bin/env bash
# Installs what is missing, builds the release preset and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/bin/norvane "$@"
