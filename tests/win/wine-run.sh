#!/usr/bin/env bash
# Runs a Windows program under Wine in Norvane's own prefix, creating the
# prefix on first use:
#
#   tests/win/wine-run.sh PROGRAM.exe [ARGS...]
#
# NORVANE_WINEPREFIX names the prefix (default /tmp/norvane-wine-<uid>); the
# Windows test stage points it at a fresh one per run. Exits with 77, which the
# tests register as "skipped", when Wine is not installed.
set -euo pipefail

if ! command -v wine >/dev/null 2>&1; then
  echo "wine-run: wine is not installed (tools/install-deps.sh installs it); skipping" >&2
  exit 77
fi

export WINEPREFIX=${NORVANE_WINEPREFIX:-/tmp/norvane-wine-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET and no Gecko: Wine would otherwise offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Several tests may start at once; the first creates the prefix.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.norvane-ready" ]; then
  rm -rf "$WINEPREFIX"
  DISPLAY='' wineboot --init >/dev/null 2>&1
  # Debian's Wine ships Tahoma but does not find it until it lies in the
  # prefix's font folder.
  cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wineserver -w
  touch "$WINEPREFIX/.norvane-ready"
fi
flock -u 9
exec 9>&-

exec wine "$@"
