#!/usr/bin/env bash
# The installed program, driven as a person would: type an address, press
# Dapatkan, copy the answers out of the read-only boxes. Everything runs in a
# private network namespace whose only other host is a test host behind a
# veth pair, at documentation addresses, with a hardware address we chose;
# the X server runs in the same namespace, so its sockets are private too.
set -euo pipefail
build=$1

if [ -z "${NORVANE_TEST_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for a network namespace"; exit 77; }
  unshare -n true 2>/dev/null || { echo "SKIP: cannot create a network namespace"; exit 77; }
  exec unshare -n env NORVANE_TEST_NETNS=1 bash "$0" "$@"
fi

source "$(dirname "$0")/lib.sh"
need ip nsenter xclip

host_ip=198.51.100.2
host_mac=00:00:5e:00:53:2a  # the documentation block of IANA's prefix
expected_mac=00-00-5E-00-53-2A

# The test host: a second namespace, kept open by a sleeping process.
ip link set lo up
unshare -n sleep 600 &
peer=$!
pids+=("$peer")
for _ in $(seq 100); do
  [ "$(readlink /proc/$peer/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
  sleep 0.05
done
ip link add norvane0 type veth peer name norvane1
ip link set norvane1 netns "$peer"
ip addr add 198.51.100.1/24 dev norvane0
ip link set norvane0 up
nsenter -t "$peer" -n ip link set lo up
nsenter -t "$peer" -n ip link set norvane1 address "$host_mac"
nsenter -t "$peer" -n ip addr add "$host_ip/24" dev norvane1
nsenter -t "$peer" -n ip link set norvane1 up

install_build "$build"
table=$work/prefix/lib/norvane/oui.ieee
expected_vendor=$(grep -m 1 "^${expected_mac:0:8}" "$table" | cut -c 25- | tr -d '\r')
[ -n "$expected_vendor" ] || fail "the shipped table has no ${expected_mac:0:8}"

start_xvfb
"$work/prefix/bin/norvane" >"$work/norvane.log" 2>&1 &
pids+=($!)
window=$(wait_window "Norvane v1.0")
xdotool windowfocus --sync "$window"

# Centres of the controls, in window pixels.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
copy_box() {  # copies the text of the box at $1,$2 through the clipboard
  click "$1" "$2"
  xdotool key --clearmodifiers ctrl+a ctrl+c
  sleep 0.2
  xclip -o -selection clipboard 2>/dev/null || true
}
txtIP=(84 89) cmdRetreive=(212 88) txtMAC=(136 129) txtVendor=(136 169)

# The focus starts in txtIP: replace its text by typing.
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "$host_ip"
click "${cmdRetreive[@]}"

mac=""
for _ in $(seq 40); do
  mac=$(copy_box "${txtMAC[@]}")
  [ -n "$mac" ] && break
  sleep 0.25
done
[ "$mac" = "$expected_mac" ] || fail "txtMAC shows '$mac', expected '$expected_mac'"
vendor=$(copy_box "${txtVendor[@]}")
[ "$vendor" = "$expected_vendor" ] || fail "txtVendor shows '$vendor', expected '$expected_vendor'"
ip=$(copy_box "${txtIP[@]}")
[ "$ip" = "$host_ip" ] || fail "txtIP shows '$ip'"

# Typing into a read-only box changes nothing.
click "${txtMAC[@]}"
xdotool key --clearmodifiers ctrl+a BackSpace
xdotool type "x"
mac=$(copy_box "${txtMAC[@]}")
[ "$mac" = "$expected_mac" ] || fail "typing changed txtMAC to '$mac'"
echo "window answered $mac / $vendor for $host_ip"
