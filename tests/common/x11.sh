# Window lookups for the scripts that drive a program under Xvfb (sourced).
# xdotool gives up at the first X error, and a window that closes while it
# walks the tree (Wine and Qt make and drop short-lived ones at start-up and
# shutdown) is one, so a search that met one is made again.

find_windows() { # xdotool search arguments...: matching window ids, one a line
  local out
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    out=$(timeout 10 xdotool search "$@" 2>&1)
    grep -q '^X Error' <<<"$out" || { grep -E '^[0-9]+$' <<<"$out"; return 0; }
    sleep 0.1
  done
  echo "xdotool search $*: an X error each time" >&2
  return 1
}

wait_window() { # seconds, xdotool search arguments...: the first match's id
  local deadline=$((SECONDS + $1)) id
  shift
  while [ "$SECONDS" -lt "$deadline" ]; do
    id=$(find_windows "$@" | head -n 1)
    [ -z "$id" ] || { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

focus_window() { # id: gives it the keyboard focus; a window not yet viewable
  # refuses it with an X error, so it is asked again until it takes it
  local deadline=$((SECONDS + 10))
  while [ "$SECONDS" -lt "$deadline" ]; do
    timeout 5 xdotool windowfocus --sync "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "window $1 never took the focus" >&2
  return 1
}

# Two X servers started at the same time, or in different network
# namespaces, may take the same display number, one replacing the socket
# file the other made in /tmp/.X11-unix, so that the other's clients cannot
# connect (a failure seen here once under load, its cause not pinned down).
# A server in a mount namespace of its own therefore gets a socket folder of
# its own and no lock file (-nolock, for root, as namespaces are). Call it
# only there.
xvfb_options=()
isolate_x11() {
  mkdir -p /tmp/.X11-unix
  mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix
  xvfb_options=(-nolock)
}
