#!/usr/bin/env bash
# The window program where no graphical session is: one line that says so
# and status 1, not Qt's abort with a page about platform plugins. Platforms
# that need no session (offscreen, in window_test) are left alone.
set -u
want="norvane: the window needs a graphical session, and neither DISPLAY nor WAYLAND_DISPLAY is set"
for platform in "" xcb "wayland;xcb"; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM="$platform" "$1" 2>&1)
  status=$?
  if [ "$status" != 1 ] || [ "$out" != "$want" ]; then
    echo "QT_QPA_PLATFORM='$platform': status $status, said: $out"
    exit 1
  fi
done
