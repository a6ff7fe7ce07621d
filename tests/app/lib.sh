# Shared by the tests that run the installed program: a scratch folder that
# is removed on exit, an installed copy of the build, and a private X server.
# Sourced; the including script runs with set -euo pipefail.

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
}

# Installs the build folder $1 under $work/prefix.
install_build() {
  cmake --install "$1" --prefix "$work/prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
}

# Starts Xvfb on a free display and points DISPLAY at it.
start_xvfb() {
  need Xvfb xdotool
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 "$@" \
    3>"$work/displayfd" 2>"$work/xvfb.log" &
  pids+=($!)
  local display
  read -r -t 30 display <"$work/displayfd" ||
    { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
  export DISPLAY=:$display
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
}

# Prints the id of the visible window titled $1 once it is mapped.
wait_window() {
  timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -n 1 ||
    fail "no window titled '$1' within 30 s"
}
