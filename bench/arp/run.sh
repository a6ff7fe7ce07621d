#!/usr/bin/env bash
# Times the hardware address query inside a private network namespace, side
# by side with arping's reply time and `ip neigh get` for the same host.
# Needs root; nothing leaves the namespace.
#
#   bench/arp/run.sh [BUILD_DIR]     (default: build/release)
#
# RUNS sets the runs per case (default 200; the silent host runs 3 times).
# SLOW_MS sets the reply delay of the slow host (default 0.5 ms).
# BASELINE=DIR, a build of an earlier version, adds its query's rows beside
# each uncached, cached and silent case.
#
#   nv0 198.51.100.1/24 -- host 198.51.100.2: its kernel answers at once
#                               198.51.100.4: slow_host.py answers after
#                                             SLOW_MS, like a host on a LAN
#                               198.51.100.9: nobody answers
#   203.0.113.0/24 via 198.51.100.2 (off-link)
set -euo pipefail

if [ -z "${NORVANE_BENCH_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench/arp: needs root to create a private network namespace" >&2
    exit 77
  fi
  exec env NORVANE_BENCH_NETNS=1 unshare -n -- bash "$0" "$@"
fi

build=${1:-build/release}
bench=$build/bin/bench_arp_query
[ -x "$bench" ] || { echo "bench/arp: $bench not built" >&2; exit 1; }
runs=${RUNS:-200}
slow_ms=${SLOW_MS:-0.5}
here=$(dirname "$0")

echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6
ip link set lo up
unshare -n sleep infinity &
host=$!
responder=
trap 'kill $host $responder 2>/dev/null' EXIT
sleep 0.1
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p \
  address 00:0c:29:0a:0b:ff
ip link set nv0p netns "$host"
nsenter -t "$host" -n sh -c \
  'ip addr add 198.51.100.2/24 dev nv0p && ip link set nv0p up'
ip addr add 198.51.100.1/24 dev nv0
ip link set nv0 up
ip route add 203.0.113.0/24 via 198.51.100.2
nsenter -t "$host" -n python3 "$here/slow_host.py" nv0p 00:0c:29:0a:0b:ff \
  198.51.100.4 "$slow_ms" &
responder=$!
for _ in $(seq 100); do
  ip -o link show nv0 | grep -q LOWER_UP && break
  sleep 0.01
done
sleep 0.2

# Prints one row from times in milliseconds on standard input.
row() {
  sort -n | awk -v label="$1" '{ a[NR] = $1 } END {
    printf "%-24s %-33s %5d %10.3f %10.3f %10.3f\n",
      label, "", NR, a[int((NR + 1) / 2)], a[1], a[NR] }'
}

# arping's own reply times (it reports each in usec or msec); the first
# reply is left out, as it may answer an earlier request.
arping_row() {
  arping -i nv0 -c 21 -W 0.01 "$2" |
    sed -n 's/.*index=[1-9][0-9]* time=\([0-9.]*\) \(usec\|msec\).*/\1 \2/p' |
    awk '{ print ($2 == "usec") ? $1 / 1000 : $1 }' | row "$1"
}

# `ip neigh get` for a cached host, its process start included.
ip_neigh_row() {
  for _ in $(seq 50); do
    start=$EPOCHREALTIME
    ip neigh get "$2" dev nv0 >/dev/null
    end=$EPOCHREALTIME
    echo "$start $end" | awk '{ printf "%.3f\n", ($2 - $1) * 1000 }'
  done | row "$1"
}

neigh=/proc/sys/net/ipv4/neigh/nv0
echo "kernel resolution time: $(($(cat $neigh/mcast_solicit) + \
$(cat $neigh/app_solicit))) probes x $(cat $neigh/retrans_time_ms) ms"
echo
printf '%-24s %-33s %5s %10s %10s %10s\n' \
  case result runs median_ms min_ms max_ms
flush="ip neigh flush dev nv0"
baseline=${BASELINE:+$BASELINE/bin/bench_arp_query}
"$bench" "uncached host" 198.51.100.2 "$runs" "$flush"
[ -z "$baseline" ] || "$baseline" "uncached host, baseline" 198.51.100.2 "$runs" "$flush"
"$bench" "cached host" 198.51.100.2 "$runs"
[ -z "$baseline" ] || "$baseline" "cached host, baseline" 198.51.100.2 "$runs"
ip_neigh_row "ip neigh get, cached" 198.51.100.2
arping_row "arping reply time" 198.51.100.2
"$bench" "uncached slow host" 198.51.100.4 "$runs" "$flush"
arping_row "arping, slow host" 198.51.100.4
"$bench" "refused (127.0.0.1)" 127.0.0.1 "$runs"
"$bench" "refused (224.0.0.1)" 224.0.0.1 "$runs"
"$bench" "off-link (gateway)" 203.0.113.7 "$runs"
"$bench" "silent host" 198.51.100.9 3
[ -z "$baseline" ] || "$baseline" "silent host, baseline" 198.51.100.9 3
