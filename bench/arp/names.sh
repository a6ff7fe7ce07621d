#!/usr/bin/env bash
# Times norvane-cli over the test /24 with and without -n, side by side in
# one run, and shows one -n run's output. Everything runs inside private
# network and mount namespaces; nothing leaves them. Needs root.
#
#   bench/arp/names.sh [BUILD_DIR]     (default: build/release)
#
# RUNS sets the runs per case (default 5); each row shows the median.
#
#   nv0 198.51.100.1/24 -- .2 to .10 and .12: hosts with hardware addresses
#                          of their own (macvlans), named by multicast DNS
#                          or NetBIOS through name_host.py, or not at all;
#                          .4 named in this namespace's /etc/hosts; .13 a
#                          permanent entry of the broadcast address; the
#                          rest of the /24 silent
set -euo pipefail

if [ -z "${NORVANE_BENCH_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench/arp: needs root to create a private network namespace" >&2
    exit 77
  fi
  exec env NORVANE_BENCH_NETNS=1 unshare -n -m --propagation private -- \
    bash "$0" "$@"
fi

build=${1:-build/release}
cli=$(realpath "$build/bin/norvane-cli")
[ -x "$cli" ] || { echo "bench/arp: $cli not built" >&2; exit 1; }
runs=${RUNS:-5}
here=$(dirname "$(realpath "$0")")

folder=$(mktemp -d /tmp/norvane-names-bench.XXXXXX)
cp "$cli" "$folder/"
printf '00-0C-29   (hex)        Test Vendor\r\n02-60-8C   (hex)        3COM\r\n' \
  >"$folder/oui.ieee"
# The resolver's files, this namespace's own: no DNS server is reachable.
printf '127.0.0.1 localhost\n198.51.100.4 files-host\n' >"$folder/hosts"
printf 'nameserver 192.0.2.53\n' >"$folder/resolv.conf"
printf 'hosts: files dns\n' >"$folder/nsswitch.conf"
for file in hosts resolv.conf nsswitch.conf; do
  mount --bind "$folder/$file" "/etc/$file"
done
chmod -R a+rX "$folder"
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"

echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6
ip link set lo up
unshare -n sleep infinity &
peer=$!
trap 'kill $peer $responder 2>/dev/null; rm -rf "$folder"' EXIT
responder=
sleep 0.1
P="nsenter -t $peer -n"
$P sh -c 'for f in all default; do
  echo 1 >/proc/sys/net/ipv6/conf/$f/disable_ipv6; done
  echo 1 >/proc/sys/net/ipv4/conf/all/arp_ignore'
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p netns "$peer"
$P ip link set nv0p up
for host in 2,00:0c:29:00:00:02 3,da:a1:19:00:00:03 4,52:54:00:00:00:04 \
  5,00:0c:29:00:00:05 6,00:0c:29:00:00:06 7,02:60:8c:00:00:07 \
  8,00:0c:29:00:00:08 9,00:0c:29:00:00:09 10,00:0c:29:00:00:0a \
  12,00:0c:29:00:00:0c; do
  i=${host%,*}
  $P ip link add link nv0p name "m$i" address "${host#*,}" type macvlan mode bridge
  $P ip addr add "198.51.100.$i/24" dev "m$i"
  $P ip link set "m$i" up
done
ip addr add 198.51.100.1/24 dev nv0
ip link set nv0 up
ip neigh add 198.51.100.13 lladdr ff:ff:ff:ff:ff:ff nud permanent dev nv0
$P python3 "$here/name_host.py" 198.51.100.2 "$folder/questions.log" &
responder=$!
for _ in $(seq 500); do
  grep -q ready "$folder/questions.log" 2>/dev/null && break
  sleep 0.01
done
sleep 0.5

echo "== one run: norvane-cli -n 198.51.100.1-13 (as nobody)"
ip neigh flush dev nv0 nud reachable 2>/dev/null || true
$nobody "$folder/norvane-cli" -v -n 198.51.100.1-13 2>&1 || true
echo

# The median wall time in seconds of a command run RUNS times, the cache
# flushed before each.
median() {
  for _ in $(seq "$runs"); do
    ip neigh flush dev nv0 nud reachable nud stale 2>/dev/null || true
    start=$EPOCHREALTIME
    bash -c "$1" >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
  done | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

echo "== the /24 (198.51.100.0/24: this machine, 10 hosts and a permanent entry" \
  "answer, 242 are silent), as nobody;" \
  "median of $runs"
printf '%-36s %9s %9s %9s\n' case "without" "with -n" added
for extra in "" "--timeout 0.5"; do
  base="$nobody $folder/norvane-cli --found $extra 198.51.100.0/24"
  names="$nobody $folder/norvane-cli --found -n $extra 198.51.100.0/24"
  without=$(median "$base")
  with=$(median "$names")
  printf '%-36s %9s %9s %9s\n' "norvane-cli ${extra:-(defaults)}" "$without" \
    "$with" "$(echo "$with $without" | awk '{ printf "%.3f", $1 - $2 }')"
done
