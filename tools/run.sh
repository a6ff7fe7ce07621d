#!/usr/bin/env bash
# Installs what building and running needs, builds the two programs a user
# runs (the window and norvane-cli, in the run preset: no tests, benchmarks or
# build aids) and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh run
cmake --preset run >/dev/null
cmake --build --preset run -j "$(nproc)"
exec build/run/bin/norvane "$@"
