#!/usr/bin/env bash
# Times norvane-cli over a /24, a /22 and a /20 (and a /16 with LARGE=1) of a
# link that holds up to six live hosts, side by side with arp-scan (default
# and --retry 1), nmap's ARP discovery and fping. Everything runs inside a
# private network namespace; nothing leaves it. Needs root. The peers are
# installed here, for this benchmark only (Debian packages arp-scan, nmap,
# fping).
#
#   bench/arp/scan.sh [BUILD_DIR]     (default: build/release)
#
# RUNS sets the runs per case (default 3), SIZES the block sizes (default
# "254 1022 4094"), TOOLS the cases by their function names below (default
# all). For each case: the median time,
# the live hosts found of those in the block (the fewest of the runs), the
# ARP frames on the link per address (requests and replies, the kernel's
# late probes included; median), the peak memory of the process (largest)
# and the most INCOMPLETE neighbour entries seen at once (sampled every
# 10 ms; largest). Every cache is flushed before each run.
#
#   nv0 198.18.0.1/16 -- live: 198.18.0.2, .0.3, .0.200 (in the /24),
#                        .2.77 (/22), .9.9 (/20), .200.5 (/16); macvlans
#                        with hardware addresses of their own, the rest silent
set -euo pipefail

if [ -z "${NORVANE_BENCH_NETNS:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench/arp: needs root to create a private network namespace" >&2
    exit 77
  fi
  missing=
  for tool in arp-scan:arp-scan nmap:nmap fping:fping; do
    command -v "${tool%%:*}" >/dev/null || missing="$missing ${tool#*:}"
  done
  if [ -n "$missing" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      $missing >/dev/null
  fi
  exec env NORVANE_BENCH_NETNS=1 unshare -n -- bash "$0" "$@"
fi

here=$(dirname "$(realpath "$0")")
build=${1:-build/release}
cli=$(realpath "$build/bin/norvane-cli")
[ -x "$cli" ] || { echo "bench/arp: $cli not built" >&2; exit 1; }
runs=${RUNS:-3}
sizes=${SIZES:-254 1022 4094}
[ -z "${LARGE:-}" ] || sizes="$sizes 65534"

# norvane-cli beside a table of its own, readable by nobody.
folder=$(mktemp -d /tmp/norvane-scan-bench.XXXXXX)
cp "$cli" "$folder/"
printf '00-0C-29   (hex)        Test Vendor\r\n' >"$folder/oui.ieee"
chmod -R a+rX "$folder"
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"

live="198.18.0.2 198.18.0.3 198.18.0.200 198.18.2.77 198.18.9.9 198.18.200.5"
echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6
ip link set lo up
unshare -n sleep infinity &
host=$!
counter=
trap 'kill $host $counter 2>/dev/null; rm -rf "$folder"' EXIT
sleep 0.1
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p netns "$host"
nsenter -t "$host" -n sh -c "
  echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
  sysctl -qw net.ipv4.conf.all.arp_ignore=1
  ip link set nv0p up
  i=2
  for a in $live; do
    ip link add link nv0p name m\$i address 00:0c:29:00:00:0\$i type macvlan mode bridge
    ip addr add \$a/16 dev m\$i
    ip link set m\$i up
    i=\$((i + 1))
  done"
ip addr add 198.18.0.1/16 dev nv0
ip link set nv0 up
for _ in $(seq 100); do
  ip -o link show nv0 | grep -q LOWER_UP && break
  sleep 0.01
done
nsenter -t "$host" -n python3 "$here/count_arp.py" nv0p "$folder/frames" &
counter=$!
sleep 0.5

neigh=/proc/sys/net/ipv4/neigh/nv0
echo "kernel resolution time: $(cat $neigh/mcast_solicit) probes x" \
  "$(cat $neigh/retrans_time_ms) ms; $(nproc) cores; $runs runs a case"

# The ARP frames counted so far.
frames() {
  local before
  before=$(cut -d' ' -f1 "$folder/frames")
  kill -USR1 "$counter"
  for _ in $(seq 200); do
    read -r n count <"$folder/frames"
    [ "$n" -gt "$before" ] && { echo "$count"; return; }
    sleep 0.01
  done
  echo "bench/arp: the frame counter does not answer" >&2
  exit 1
}
# Until the kernel has given up on every entry: its late probes belong to
# the run that caused them.
settle() {
  for _ in $(seq 100); do
    [ -n "$(ip neigh show nud incomplete)" ] || return 0
    sleep 0.1
  done
}

block() {
  case $1 in
    254) echo 198.18.0.0/24 ;; 1022) echo 198.18.0.0/22 ;;
    4094) echo 198.18.0.0/20 ;; 65534) echo 198.18.0.0/16 ;;
  esac
}
# The live hosts inside the block of size n.
present() {
  local n=$1 a
  for a in $live; do
    IFS=. read -r _ _ third _ <<<"$a"
    [ $((third * 256)) -lt $((n + 2)) ] && echo "$a"
  done
}

out=$(mktemp -p "$folder")
# One case RUNS times: prints "time found frames/address peak-KiB held".
measure() {
  local n=$1 command=$2 r
  present "$n" >"$folder/present"
  for r in $(seq "$runs"); do
    settle
    ip neigh flush dev nv0 2>/dev/null || true
    nsenter -t "$host" -n ip neigh flush all 2>/dev/null || true
    local f0 start end
    f0=$(frames)
    (while :; do ip neigh show dev nv0 nud incomplete | wc -l; sleep 0.01; done) \
      >"$folder/held" 2>/dev/null &
    local sampler=$!
    start=$EPOCHREALTIME
    /usr/bin/time -f %M -o "$folder/memory" bash -c "$command" >"$out" 2>/dev/null || true
    end=$EPOCHREALTIME
    settle
    kill $sampler
    wait $sampler 2>/dev/null || true
    local found
    found=$(grep -oE '198\.18\.[0-9]+\.[0-9]+' "$out" | sort -u |
      grep -cxF -f "$folder/present" || true)
    echo "$start $end $found $(($(frames) - f0)) $n $(tail -1 "$folder/memory")" \
      "$(sort -n "$folder/held" | tail -1)"
  done >"$folder/runs"
  local median='{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
  local time found frames
  time=$(awk '{ printf "%.2f\n", $2 - $1 }' "$folder/runs" | sort -n | awk "$median")
  frames=$(awk '{ printf "%.2f\n", $4 / $5 }' "$folder/runs" | sort -n | awk "$median")
  found=$(awk '{ print $3 }' "$folder/runs" | sort -n | head -1)
  printf '%s s|%s/%s|%s|%.1f MiB|%s\n' "$time" "$found" "$(wc -l <"$folder/present")" \
    "$frames" "$(awk '{ print $6 / 1024 }' "$folder/runs" | sort -n | tail -1)" \
    "$(awk '{ print $7 + 0 }' "$folder/runs" | sort -n | tail -1)"
}

ours() { echo "$nobody $folder/norvane-cli --found --large $(block "$1")"; }
ours_fast() { echo "$nobody $folder/norvane-cli --found --large --timeout 0.5 $(block "$1")"; }
# As root a scan uses the privileged engine where the build has one.
ours_root() { echo "$folder/norvane-cli --found --large $(block "$1")"; }
ours_root_once() { echo "$folder/norvane-cli --found --large --retry 1 $(block "$1")"; }
arpscan() { echo "arp-scan -q -I nv0 $(block "$1")"; }
arpscan_retry() { echo "arp-scan -q --retry 1 -I nv0 $(block "$1")"; }
nmap_arp() { [ "$1" -gt 4094 ] || echo "nmap -sn -PR -n $(block "$1")"; }
fping_() { [ "$1" -gt 4094 ] || echo "fping -a -q -g $(block "$1")"; }

echo
echo "| tool | addresses | time | live found | ARP frames / address | peak memory | most entries held |"
echo "|---|---|---|---|---|---|---|"
tools=${TOOLS:-ours ours_fast ours_root ours_root_once arpscan arpscan_retry nmap_arp fping_}
for tool in "norvane-cli (nobody):ours" "norvane-cli --timeout 0.5 (nobody):ours_fast" \
  "norvane-cli (root):ours_root" "norvane-cli --retry 1 (root):ours_root_once" \
  "arp-scan:arpscan" "arp-scan --retry 1:arpscan_retry" \
  "nmap -sn -PR:nmap_arp" "fping:fping_"; do
  [[ " $tools " == *" ${tool#*:} "* ]] || continue
  for n in $sizes; do
    command=$(${tool#*:} "$n")
    [ -n "$command" ] || continue
    result=$(measure "$n" "$command")
    echo "| ${tool%%:*} | $n | ${result//|/ | } |"
  done
done
