#!/usr/bin/env bash
# The Windows stage of the test run: cross-builds Norvane.exe and its tests
# with MinGW-w64 (the windows preset), runs them under Wine in a Wine prefix
# made fresh for this run, and packs the release zip. Skips, saying so, when
# the cross compiler or Wine is not installed.
#
#   bash tests/win/stage.sh          (JOBS=N to set the build's parallelism)
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  missing+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null 2>&1 || missing+=(wine)
if [ ${#missing[@]} -ne 0 ]; then
  echo "== windows: skipped, not installed: ${missing[*]} (tools/install-deps.sh installs them)"
  exit 0
fi

jobs=${JOBS:-$(nproc)}
root=$(mktemp -d /tmp/norvane-wine-stage.XXXXXX)
export NORVANE_WINEPREFIX=$root/prefix
cleanup() {
  WINEPREFIX=$NORVANE_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  rm -rf "$root"
}
trap cleanup EXIT

echo "== windows: build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --build --preset windows --target norvane_zip >/dev/null
echo "== windows: test (Wine prefix $NORVANE_WINEPREFIX)"
ctest --preset windows -j "$jobs"
ls -l build/windows/bin/Norvane.exe build/windows/Norvane-*-win64.zip
echo "== windows: done in $(($(date +%s) - start)) s"
