#!/usr/bin/env bash
# Times norvane-cli over 1, 16, 64 and 254 addresses of a /24 that holds
# three live hosts, side by side with arp-scan, nmap's ARP ping, fping and
# arping on the same link. Everything runs inside a private network
# namespace; nothing leaves it. Needs root. The peers are installed here,
# for this benchmark only (Debian packages arp-scan, nmap, fping, arping).
#
#   bench/arp/scan.sh [BUILD_DIR]     (default: build/release)
#
# RUNS sets the runs per case (default 3); each row shows the median.
#
#   nv0 198.51.100.1/24 -- 198.51.100.2, .3, .4: three hosts (macvlans with
#                          hardware addresses of their own); the rest silent
set -euo pipefail

if [ -z "${NORVANE_BENCH_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench/arp: needs root to create a private network namespace" >&2
    exit 77
  fi
  missing=
  for tool in arp-scan:arp-scan nmap:nmap fping:fping arping:arping; do
    command -v "${tool%%:*}" >/dev/null || missing="$missing ${tool#*:}"
  done
  if [ -n "$missing" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      $missing >/dev/null
  fi
  exec env NORVANE_BENCH_NETNS=1 unshare -n -- bash "$0" "$@"
fi

build=${1:-build/release}
cli=$(realpath "$build/bin/norvane-cli")
[ -x "$cli" ] || { echo "bench/arp: $cli not built" >&2; exit 1; }
runs=${RUNS:-3}

# norvane-cli beside a table of its own, readable by nobody.
folder=$(mktemp -d /tmp/norvane-scan-bench.XXXXXX)
cp "$cli" "$folder/"
printf '00-0C-29   (hex)        Test Vendor\r\n' >"$folder/oui.ieee"
chmod -R a+rX "$folder"
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"

echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6
ip link set lo up
unshare -n sleep infinity &
host=$!
trap 'kill $host 2>/dev/null; rm -rf "$folder"' EXIT
sleep 0.1
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p netns "$host"
nsenter -t "$host" -n sh -c '
  sysctl -qw net.ipv4.conf.all.arp_ignore=1
  ip link set nv0p up
  for i in 2 3 4; do
    ip link add link nv0p name m$i address 00:0c:29:00:00:0$i type macvlan mode bridge
    ip addr add 198.51.100.$i/24 dev m$i
    ip link set m$i up
  done'
ip addr add 198.51.100.1/24 dev nv0
ip link set nv0 up
for _ in $(seq 100); do
  ip -o link show nv0 | grep -q LOWER_UP && break
  sleep 0.01
done
sleep 0.5

neigh=/proc/sys/net/ipv4/neigh/nv0
echo "kernel resolution time: $(cat $neigh/mcast_solicit) probes x" \
  "$(cat $neigh/retrans_time_ms) ms; $(nproc) cores"

# The median wall time in seconds of a command run RUNS times, the cache
# flushed before each; also leaves the last run's output in $out.
out=$(mktemp)
median() {
  for _ in $(seq "$runs"); do
    ip neigh flush dev nv0 2>/dev/null || true
    start=$EPOCHREALTIME
    bash -c "$1" >"$out" 2>/dev/null || true
    end=$EPOCHREALTIME
    echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
  done | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

# The addresses of each size: one live host alone, else the first n of the
# /24, as a range or a list.
range() { if [ "$1" = 1 ]; then echo 198.51.100.2; else echo "198.51.100.1-$1"; fi; }
list() { if [ "$1" = 1 ]; then echo 198.51.100.2; else seq 1 "$1" | sed 's/^/198.51.100./'; fi; }

printf '%-34s %8s %8s %8s %8s\n' tool 1 16 64 254
row() {
  local label=$1 make=$2 found=""
  printf '%-34s' "$label"
  for n in 1 16 64 254; do
    local command
    command=$($make "$n")
    if [ -z "$command" ]; then
      printf ' %8s' -
      continue
    fi
    printf ' %8s' "$(median "$command")"
    found="$found $(grep -oE '198\.51\.100\.[0-9]+' "$out" | sort -u |
      grep -cE '\.[234]$' || true)"
  done
  echo "   live hosts found:$found"
}

ours() { echo "$nobody $folder/norvane-cli --found $(range "$1")"; }
ours_fast() { echo "$nobody $folder/norvane-cli --found --timeout 0.5 $(range "$1")"; }
ours_root() { echo "$folder/norvane-cli --found $(range "$1")"; }
arpscan() { echo "arp-scan -q -I nv0 $(list "$1" | tr '\n' ' ')"; }
nmap_arp() { echo "nmap -sn -PR -n $(range "$1")"; }
fping_() { echo "fping -a -q $(list "$1" | tr '\n' ' ')"; }
# arping asks for one address at a time, one second each for a silent one.
arping_() {
  [ "$1" -le 16 ] || return 0
  echo "for a in $(list "$1" | tr '\n' ' '); do arping -q -c 1 -w 1 -i nv0 \$a && echo \$a; done"
}

row "norvane-cli (nobody)" ours
row "norvane-cli --timeout 0.5 (nobody)" ours_fast
row "norvane-cli (root, NTF_USE)" ours_root
row "arp-scan" arpscan
row "nmap -sn -PR" nmap_arp
row "fping" fping_
row "arping, one after another" arping_
rm -f "$out"
