#!/usr/bin/env bash
# Runs a Windows program under Wine in Norvane's prefix (NORVANE_WINEPREFIX,
# default /tmp/norvane-wine-<uid>), creating the prefix on first use; with no
# program it only creates the prefix. 77 (skipped) without Wine.
set -euo pipefail
command -v wine >/dev/null 2>&1 || { echo "wine-run: no wine; skipping" >&2; exit 77; }
export WINEPREFIX=${NORVANE_WINEPREFIX:-/tmp/norvane-wine-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.norvane-ready" ]; then
  rm -rf "$WINEPREFIX"
  DISPLAY='' wineboot --init >/dev/null 2>&1
  # Debian's Wine finds its own Tahoma only in the prefix's font folder.
  cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  wineserver -w
  touch "$WINEPREFIX/.norvane-ready"
fi
exec 9>&-
[ $# -eq 0 ] || exec wine "$@"
