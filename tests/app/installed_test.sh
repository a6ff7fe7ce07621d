#!/usr/bin/env bash
# installed_test.sh <build folder> package|window|missing_table: the build
# installed into a scratch prefix and run under a private X server. 77 means
# skipped.
set -euo pipefail
build=$(cd "$1" && pwd) mode=$2
# The window mode runs in a private network namespace, the X server too;
# every mode runs in a mount namespace of its own where one can be made, so
# that its X server has its own socket folder (isolate_x11 in x11.sh).
if [ -z "${NORVANE_TEST_NS:-}" ]; then
  if [ "$mode" = window ]; then
    [ "$(id -u)" -eq 0 ] && unshare -n -m true 2>/dev/null ||
      { echo "SKIP: needs root and a network namespace"; exit 77; }
    exec unshare -n -m env NORVANE_TEST_NS=1 bash "$0" "$@"
  elif [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    exec unshare -m env NORVANE_TEST_NS=1 bash "$0" "$@"
  fi
fi

fail() { echo "FAIL: $*" >&2; exit 1; }
need() { for t; do command -v "$t" >/dev/null || { echo "SKIP: no $t"; exit 77; }; done; }
need Xvfb xdotool
work=$(mktemp -d)
pids=()
trap '{ kill "${pids[@]}"; wait; } 2>/dev/null || true; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
source "$(dirname "$0")/../common/x11.sh"
[ -z "${NORVANE_TEST_NS:-}" ] || isolate_x11
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -nolisten tcp "${xvfb_options[@]}" 3>"$work/displayfd" 2>"$work/xvfb.log" &
pids+=($!)
read -r -t 30 display <"$work/displayfd" || fail "no Xvfb: $(<"$work/xvfb.log")"
export DISPLAY=:$display QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# run starts $1 as $program, again should it find no X server (which once
# happened under load right after the server said it was ready); window
# prints the id of the window titled $1.
run() {
  for _ in 1 2 3; do
    "$1" >"$work/log" 2>&1 &
    program=$! && pids+=($!)
    sleep 0.5
    kill -0 "$program" 2>/dev/null || ! grep -q "could not connect to display" "$work/log" ||
      continue
    return 0
  done
}
window() {
  wait_window 30 --onlyvisible --name "$1" ||
    fail "no window titled '$1' within 30 s; the program said: $(<"$work/log")"
}

case $mode in
package)
  need desktop-file-validate appstreamcli dpkg cpack lintian readelf
  [ -x /usr/libexec/appstreamcli-compose ] || { echo "SKIP: no appstream-compose"; exit 77; }
  cd "$work/prefix"
  ls lib/norvane/{norvane,norvane-cli,oui.ieee} >/dev/null
  for size in 16 32 48 64 128 256; do
    ls share/icons/hicolor/${size}x$size/apps/norvane.png >/dev/null
  done
  for name in norvane norvane-cli; do
    [ "$(readlink bin/$name)" = ../lib/norvane/$name ] || fail "bin/$name"
  done
  desktop-file-validate share/applications/net.velmora.Norvane.desktop
  appstreamcli validate --no-net share/metainfo/net.velmora.Norvane.metainfo.xml
  (cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
  deb=$(echo "$work"/deb/norvane_*.deb)

  # What a distribution checks: lintian clean of errors and warnings, the
  # control fields, and the hardening of both programs.
  lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian: $(grep -v 'root privileges' "$work/lintian.log")"
  [ "$(dpkg-deb -f "$deb" Recommends)" = qt6-wayland ] || fail "Recommends"
  [ -n "$(dpkg-deb -f "$deb" Homepage)" ] || fail "no Homepage"
  dpkg-deb -x "$deb" "$work/tree"
  optimised=$(grep -q '^CMAKE_BUILD_TYPE:STRING=\(Release\|RelWithDebInfo\|MinSizeRel\)$' \
    "$build/CMakeCache.txt" && echo yes || true)
  for name in norvane norvane-cli; do
    elf=$(readelf -hlsdW --dyn-syms "$work/tree/usr/lib/norvane/$name")
    for mark in 'Type: *DYN' GNU_RELRO BIND_NOW __stack_chk_fail; do
      grep -q "$mark" <<<"$elf" || fail "$name: no $mark"
    done
  done
  # Fortified calls exist only where the optimiser ran, and only where a
  # call's buffer size is unknown to it: every compilation must ask for them
  # and one of the programs must have some.
  if [ -n "$optimised" ]; then
    commands=$(grep '"command"' "$build/compile_commands.json")
    grep -v -q _FORTIFY_SOURCE <<<"$commands" &&
      fail "a compilation without _FORTIFY_SOURCE"
    symbols=$(readelf --dyn-syms -W "$work"/tree/usr/lib/norvane/norvane*)
    grep -q '__[a-z]*_chk@' <<<"$symbols" || fail "no fortified calls"
  fi

  # Software centres: the catalogue composed from the package's files holds
  # the component with an icon of 64 px or more.
  appstreamcli compose --no-color --print-report=full \
    --result-root="$work/catalogue" --origin=norvane "$work/tree" ||
    fail "appstreamcli compose"
  zcat "$work/catalogue/usr/share/swcatalog/xml/norvane.xml.gz" >"$work/catalogue.xml"
  grep -q '<id>net.velmora.Norvane</id>' "$work/catalogue.xml" || fail "no component"
  grep -q '<icon type="cached" width="128"' "$work/catalogue.xml" || fail "no large icon"

  # The .deb in a scratch root that knows this machine's packages: installed
  # (its dependencies checked), both programs run from PATH (norvane-cli
  # with an address that parses to 0, so no packet is sent), purged without
  # leftovers.
  root=$work/root admin=$work/root/var/lib/dpkg
  mkdir -p "$admin"/{info,updates,triggers}
  cp /var/lib/dpkg/status "$admin/status"
  touch "$admin/available"
  # (dpkg warns about each package whose file list the copied status lacks.)
  dpkg --root="$root" -i "$deb" >"$work/dpkg.log" 2>&1 ||
    fail "dpkg -i: $(grep -v 'files list file' "$work/dpkg.log")"
  PATH=$root/usr/bin:$PATH
  [ "$(command -v norvane-cli)" = "$root/usr/bin/norvane-cli" ] || fail "not on PATH"
  norvane-cli --version | grep -q '1\.0' || fail "norvane-cli --version"
  # grep reads it all: with -q it would leave at the first line, and the
  # help's later lines would meet a closed pipe.
  norvane-cli --help | grep '^Usage: norvane-cli' >/dev/null || fail "norvane-cli --help"
  status=0
  got=$(norvane-cli 0.0.0.0) || status=$?
  [ "$status/$got" = "1/0.0.0.0	Error: Gagal memanggil SendARP()	" ] ||
    fail "norvane-cli 0.0.0.0: status $status, '$got'"
  # Its bash completion offers the options.
  offered=$(bash -c 'source "$1"; COMP_WORDS=(norvane-cli --vers); COMP_CWORD=1
    _norvane_cli; echo "${COMPREPLY[*]}"' sh \
    "$root/usr/share/bash-completion/completions/norvane-cli")
  [ "$offered" = --version ] || fail "completion of --vers: '$offered'"
  run norvane
  window "Norvane v1.0" >/dev/null
  kill "$program"
  dpkg --root="$root" --purge norvane >"$work/dpkg.log" 2>&1 ||
    fail "dpkg --purge: $(grep -v 'files list file' "$work/dpkg.log")"
  left=$(find "$root" -path "$admin" -prune -o ! -type d -print)
  [ -z "$left" ] || fail "left after purge: $left"
  ;;
window)
  # Type an address, press Dapatkan, copy the answers out of the read-only
  # boxes. The only other host is behind a veth pair, with a MAC of IANA's
  # documentation block.
  need ip xclip
  host=198.51.100.2 mac=00-00-5E-00-53-2A vendor="ICANN, IANA Department"
  mkdir -p /run/netns && mount -t tmpfs tmpfs /run/netns
  ip netns add peer
  ip link add norvane0 type veth peer norvane1 netns peer address "${mac//-/:}"
  ip addr add 198.51.100.1/24 dev norvane0
  ip link set norvane0 up
  ip -n peer addr add $host/24 dev norvane1
  ip -n peer link set norvane1 up
  # Only ARP on the link: the count of packets below is the count of requests.
  sysctl -qw net.ipv6.conf.norvane0.disable_ipv6=1
  ip netns exec peer sysctl -qw net.ipv6.conf.norvane1.disable_ipv6=1
  run "$work/prefix/bin/norvane"
  window=$(window "Norvane v1.0")
  # The focus starts in txtIP; the points are the controls' centres.
  focus_window "$window"
  xdotool key --clearmodifiers ctrl+a type "$host"
  xdotool mousemove --window "$window" 212 88 click 1
  copy() {
    xdotool mousemove --window "$window" "$@" click 1 \
      key --clearmodifiers ctrl+a ctrl+c sleep 0.2
    xclip -o -selection clipboard 2>/dev/null || true
  }
  for _ in $(seq 150); do [ "$(copy 136 129)" = $mac ] && break; done
  got="$(copy 136 129) / $(copy 136 169)"
  [ "$got" = "$mac / $vendor" ] || fail "txtMAC / txtVendor show '$got'"
  # Twenty quick clicks for a host that never answers cost one query (a few
  # ARP requests over 3 s: four here), not twenty (a query every 3 s for a
  # minute): the clicks given while the window was blocked are dropped. The
  # window handles its input in order, so once a copy given after the clicks
  # shows the query's error, every query they caused has been made. The
  # peer's veth counts the requests.
  rx() { ip netns exec peer cat /sys/class/net/norvane1/statistics/rx_packets; }
  xdotool mousemove --window "$window" 84 89 click 1 \
    key --clearmodifiers ctrl+a type 198.51.100.3
  before=$(rx)
  xdotool mousemove --window "$window" 212 88 click --repeat 20 --delay 40 1
  error="Error: Gagal memanggil SendARP()"
  for _ in $(seq 150); do [ "$(copy 136 129)" = "$error" ] && break; done
  sent=$(($(rx) - before))
  [ "$sent" -le 5 ] || fail "20 clicks sent $sent packets: queued clicks replayed"
  echo "20 clicks on a silent host: $sent packets reached it"
  got=$(copy 136 129)
  [ "$got" = "$error" ] || fail "txtMAC shows '$got'"
  ;;
missing_table)
  rm "$work/prefix/lib/norvane/oui.ieee"
  run "$work/prefix/bin/norvane"
  box=$(window "ERROR: Can't Find File")
  [ -z "$(find_windows --onlyvisible --name "Norvane v1.0")" ] || fail "window shown"
  focus_window "$box"
  xdotool key Return
  timeout 30 tail --pid="$program" -f /dev/null || fail "still running after OK"
  status=0
  wait "$program" || status=$?
  [ $status -eq 2 ] || fail "status $status, not 2: $(<"$work/log")"
  ;;
esac
