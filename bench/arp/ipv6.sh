#!/usr/bin/env bash
# IPv6 neighbours, side by side in one run: norvane-cli as nobody over 16
# IPv6 targets of which 3 are live, and -l against `ip -6 neigh` after
# `ping -6 -c1 ff02::1%nv0`. Everything runs inside a private network
# namespace; nothing leaves it. Needs root.
#
#   bench/arp/ipv6.sh [BUILD_DIR]     (default: build/release)
#
# RUNS sets the runs of the 16 targets (default 5); the row shows the median.
#
#   nv0 2001:db8::1/64 -- 2001:db8::2, ::3 and ::4 on one peer
#                         (00:0c:29:0a:0b:ff), the rest of ::2 to ::11
#                         silent; duplicate address detection off
set -euo pipefail

if [ -z "${NORVANE_BENCH_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench/arp: needs root to create a private network namespace" >&2
    exit 77
  fi
  exec env NORVANE_BENCH_NETNS=1 unshare -n -- bash "$0" "$@"
fi

build=${1:-build/release}
cli=$(realpath "$build/bin/norvane-cli")
[ -x "$cli" ] || { echo "bench/arp: $cli not built" >&2; exit 1; }
runs=${RUNS:-5}

folder=$(mktemp -d /tmp/norvane-ipv6-bench.XXXXXX)
cp "$cli" "$folder/"
printf '00-0C-29   (hex)        Test Vendor\r\n' >"$folder/oui.ieee"
chmod -R a+rX "$folder"
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"

ip link set lo up
sysctl -qw net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.all.accept_dad=0
unshare -n sleep infinity &
peer=$!
trap 'kill $peer 2>/dev/null; rm -rf "$folder"' EXIT
sleep 0.1
P="nsenter -t $peer -n"
$P sysctl -qw net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.all.accept_dad=0
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p \
  address 00:0c:29:0a:0b:ff netns "$peer"
for h in 2 3 4; do $P ip addr add 2001:db8::$h/64 dev nv0p nodad; done
$P ip link set lo up
$P ip link set nv0p up
ip addr add 2001:db8::1/64 dev nv0 nodad
ip link set nv0 up
for i in $(seq 500); do
  ip -6 route get fe80::2 oif nv0 2>/dev/null | grep -q "src fe80" && break
  sleep 0.01
done

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
targets=$(for h in $(seq 2 17); do printf '2001:db8::%x ' "$h"; done)

times=()
for run in $(seq "$runs"); do
  ip -6 neigh flush dev nv0
  start=$(now)
  found=$($nobody "$folder/norvane-cli" --found $targets | wc -l)
  times+=("$(since "$start")")
done
retrans=$(cat /proc/sys/net/ipv6/neigh/nv0/retrans_time_ms)
printf '%-44s %8s s  %s found (kernel retransmission %s ms)\n' \
  "norvane-cli, 16 targets (3 live), nobody" \
  "$(printf '%s\n' "${times[@]}" | median)" "$found" "$retrans"

ip -6 neigh flush dev nv0
start=$(now)
ping -6 -c1 -w1 "ff02::1%nv0" >"$folder/ping.log" 2>&1 || cat "$folder/ping.log" >&2
ip_found=$(ip -6 neigh show dev nv0 | grep -c lladdr || true)
printf '%-44s %8s s  %s found\n' "ping -6 -c1 ff02::1%nv0; ip -6 neigh" \
  "$(since "$start")" "$ip_found"
start=$(now)
l_found=$($nobody "$folder/norvane-cli" --found -l | grep -c : || true)
printf '%-44s %8s s  %s IPv6 found\n' "norvane-cli --found -l, nobody, after it" \
  "$(since "$start")" "$l_found"
echo
echo "ip -6 neigh:"
ip -6 neigh show dev nv0
echo "norvane-cli --found -l:"
$nobody "$folder/norvane-cli" --found -l
