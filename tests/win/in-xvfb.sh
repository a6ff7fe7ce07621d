#!/usr/bin/env bash
# Runs a command inside a private network namespace with an X server (Xvfb)
# and a wineserver of its own, so that Windows programs under test can open
# windows and can reach no network:
#
#   tests/win/in-xvfb.sh COMMAND [ARGS...]
#
# Xvfb and every X client share the namespace. The wineserver of the prefix
# (NORVANE_WINEPREFIX, as in wine-run.sh) is restarted inside it and stopped
# at the end. NORVANE_WINE_DPI=N sets Wine's display scaling to N dots per
# inch for the command (96 again afterwards). Exits with 77 (skipped) when
# Xvfb, Wine or namespaces are missing.
set -euo pipefail

skip() {
  echo "in-xvfb: $*; skipping" >&2
  exit 77
}

if [ -z "${NORVANE_IN_NETNS:-}" ]; then
  command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is not installed"
  command -v wine >/dev/null 2>&1 || skip "wine is not installed"
  command -v xdotool >/dev/null 2>&1 || skip "xdotool is not installed"
  unshare -n true 2>/dev/null || skip "cannot create a network namespace (needs root)"
  export NORVANE_IN_NETNS=1
  exec unshare -n "$0" "$@"
fi

ip link set lo up 2>/dev/null || true

export NORVANE_WINEPREFIX=${NORVANE_WINEPREFIX:-/tmp/norvane-wine-$(id -u)}
export WINEPREFIX=$NORVANE_WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d /tmp/norvane-xvfb.XXXXXX)
xvfb_pid=
set_dpi() {
  "$(dirname "$0")/wine-run.sh" reg add 'HKCU\Control Panel\Desktop' \
    /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
cleanup() {
  [ -n "${NORVANE_WINE_DPI:-}" ] && set_dpi 96
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A wineserver started outside this namespace would make sockets outside it.
wineserver -k >/dev/null 2>&1 || true

# Xvfb picks a free display and writes its number once it accepts clients.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display <"$work/display" || {
  cat "$work/xvfb.log" >&2
  echo "in-xvfb: Xvfb did not start" >&2
  exit 1
}
export DISPLAY=:$display

[ -n "${NORVANE_WINE_DPI:-}" ] && set_dpi "$NORVANE_WINE_DPI"
"$@"
