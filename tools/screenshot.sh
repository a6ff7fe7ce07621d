#!/usr/bin/env bash
# Makes the README's picture of the window, docs/window.png, under a private
# X server: the built program beside the shipped table, after a query for a
# test host. The query runs only inside a private network namespace made
# here (as root), against a veth peer with a documentation address and a MAC
# of IANA's documentation block; without root the picture shows the window
# as it opens.
#
#   bash tools/screenshot.sh [BUILD_DIR [OUT.png]]   (default build/run)
# Needs Xvfb, xdotool, xwd (x11-apps) and python3: tools/install-deps.sh test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/run} out=${2:-docs/window.png}
[ -x "$build/bin/norvane" ] || { echo "screenshot: no $build/bin/norvane (bash tools/run.sh builds it)" >&2; exit 1; }

if [ -z "${NORVANE_SCREENSHOT_NETNS:-}" ] && [ "$(id -u)" -eq 0 ] &&
  unshare -n -m true 2>/dev/null; then
  exec unshare -n -m env NORVANE_SCREENSHOT_NETNS=1 bash "$0" "$build" "$out"
fi

work=$(mktemp -d)
pids=()
trap '{ kill "${pids[@]}"; wait; } 2>/dev/null || true; rm -rf "$work"' EXIT
host=198.51.100.2
if [ -n "${NORVANE_SCREENSHOT_NETNS:-}" ]; then
  mkdir -p /run/netns && mount -t tmpfs tmpfs /run/netns
  ip netns add peer
  ip link add norvane0 type veth peer norvane1 netns peer address 00:00:5e:00:53:2a
  ip addr add 198.51.100.1/24 dev norvane0
  ip link set norvane0 up
  ip -n peer addr add $host/24 dev norvane1
  ip -n peer link set norvane1 up
fi

mkfifo "$work/displayfd"
source "$(dirname "$0")/../tests/common/x11.sh"
[ -z "${NORVANE_SCREENSHOT_NETNS:-}" ] || isolate_x11
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 "${xvfb_options[@]}" 3>"$work/displayfd" 2>"$work/xvfb.log" &
pids+=($!)
read -r -t 30 display <"$work/displayfd" || { echo "screenshot: no Xvfb" >&2; exit 1; }
export DISPLAY=:$display QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

"$build/bin/norvane" >"$work/log" 2>&1 &
pids+=($!)
window=$(wait_window 30 --onlyvisible --name "Norvane v1.0")
if [ -n "${NORVANE_SCREENSHOT_NETNS:-}" ]; then
  # The focus starts in txtIP; 212,88 is the button's centre.
  focus_window "$window"
  xdotool key --clearmodifiers ctrl+a type "$host"
  xdotool mousemove --window "$window" 212 88 click 1
  sleep 1
fi
# The text cursor off the picture: the focus on the button.
xdotool mousemove --window "$window" 300 300
sleep 0.5
xwd -silent -id "$window" -out "$work/window.xwd"
mkdir -p "$(dirname "$out")"
python3 tools/xwd_to_png.py "$work/window.xwd" "$out"
echo "screenshot: $out"
