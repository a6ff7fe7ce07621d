#!/usr/bin/env bash
# Runs a command in a private network namespace with its own Xvfb and its own
# wineserver for Norvane's prefix (see wine-run.sh), stopped at the end.
# NORVANE_WINE_DPI=N sets Wine's scaling to N dots per inch meanwhile.
# 77 (skipped) without Xvfb, Wine, xdotool or namespaces (needs root).
set -euo pipefail
if [ -z "${NORVANE_IN_NETNS:-}" ]; then
  for tool in Xvfb wine xdotool; do
    command -v $tool >/dev/null || { echo "in-xvfb: no $tool; skipping" >&2; exit 77; }
  done
  unshare -n -m true 2>/dev/null || { echo "in-xvfb: no network namespace; skipping" >&2; exit 77; }
  NORVANE_IN_NETNS=1 exec unshare -n -m "$0" "$@"
fi
ip link set lo up
source "$(dirname "$0")/../common/x11.sh"
isolate_x11
export WINEPREFIX=${NORVANE_WINEPREFIX:-/tmp/norvane-wine-$(id -u)} WINEDEBUG=${WINEDEBUG:--all}
dpi() { "$(dirname "$0")/wine-run.sh" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
work=$(mktemp -d /tmp/norvane-xvfb.XXXXXX) xvfb=
cleanup() {
  [ -z "${NORVANE_WINE_DPI:-}" ] || dpi 96 || true
  wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb" ] || { kill "$xvfb" && wait "$xvfb"; } 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
wineserver -k >/dev/null 2>&1 || true # one from outside would make sockets outside
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp "${xvfb_options[@]}" 3>"$work/display" >"$work/log" 2>&1 &
xvfb=$!
read -r -t 20 display <"$work/display" || { cat "$work/log" >&2; exit 1; }
export DISPLAY=:$display
[ -z "${NORVANE_WINE_DPI:-}" ] || dpi "$NORVANE_WINE_DPI"
"$@"
