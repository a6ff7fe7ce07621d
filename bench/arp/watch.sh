#!/usr/bin/env bash
# norvane-cli --watch over a /24 with churn, as nobody, for DURATION seconds
# (default 240): the CPU time it uses, its memory and open files at the
# start and at the end, and the delay from each change on the link to its
# line. Everything runs inside a private network namespace; nothing leaves
# it. Needs root.
#
#   bench/arp/watch.sh [BUILD_DIR]     (default: build/release)
#
# EVERY sets --every (default 30), STEP the seconds between changes
# (default 4), RETURN_AFTER how long a host that left stays away (default
# 100: long enough for the kernel's defaults to find it gone). The kernel's neighbour settings are its defaults (an entry
# reachable for 15 to 45 s, a stale one probed after 5 s), so a host that
# leaves is found gone only once its entry is stale and fails.
#
#   nv0 198.18.0.1/24 -- 12 hosts 198.18.0.2-13 (macvlans with hardware
#   addresses of their own); during the run, in turn:
#     changed  a host takes another hardware address and says so
#              (gratuitous ARP: the kernel reports it)
#     talks    a new address sends to this machine (the kernel reports it)
#     joins    a new address that stays quiet (the next re-scan finds it)
#     leaves   such an address, after two re-scans, goes (its entry goes
#              stale and fails: gone)
#     returns  RETURN_AFTER s later it comes back (the next re-scan finds it)
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
duration=${DURATION:-240}
every=${EVERY:-30}
step=${STEP:-4}

folder=$(mktemp -d /tmp/norvane-watch-bench.XXXXXX)
cp "$cli" "$folder/"
printf '00-0C-29   (hex)        Test Vendor\r\n' >"$folder/oui.ieee"
chmod -R a+rX "$folder"
chmod a+w "$folder"

echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6
ip link set lo up
unshare -n sleep infinity &
host=$!
watcher=
trap 'kill $host $watcher 2>/dev/null; rm -rf "$folder"' EXIT
sleep 0.1
A="nsenter -t $host -n"
ip link add nv0 address 02:00:00:00:00:01 type veth peer name nv0p netns "$host"
$A sh -c '
  echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
  sysctl -qw net.ipv4.conf.all.arp_ignore=1 net.ipv4.conf.all.arp_notify=1
  sysctl -qw net.ipv4.conf.default.arp_notify=1
  ip link set nv0p up
  for i in $(seq 2 13); do
    ip link add link nv0p name m$i address 00:0c:29:00:00:$(printf %02x $i) \
      type macvlan mode bridge
    ip addr add 198.18.0.$i/24 dev m$i
    ip link set m$i up
  done'
ip addr add 198.18.0.1/24 dev nv0
ip link set nv0 up
for _ in $(seq 100); do
  ip -o link show nv0 | grep -q LOWER_UP && break
  sleep 0.01
done

now() { date +%s.%N; }
fields() {  # utime+stime in ticks, RSS and peak RSS in KiB, open files
  local stat
  stat=$(cat /proc/$watcher/stat)
  stat=${stat##*) }
  set -- $stat
  echo "$((${12} + ${13})) $(awk '/VmRSS/ { r = $2 } /VmHWM/ { h = $2 } END { print r, h }' /proc/$watcher/status) $(ls /proc/$watcher/fd | wc -l)"
}

cd "$folder"
setpriv --reuid=65534 --regid=65534 --clear-groups ./norvane-cli --watch \
  --json --every "$every" 198.18.0.0/24 >out.json 2>err.txt &
watcher=$!
# The first scan: every host new.
for _ in $(seq 3000); do
  [ "$(grep -c '"new"' out.json)" -ge 13 ] && break
  sleep 0.01
done
read -r cpu0 rss0 hwm0 fds0 <<<"$(fields)"
t0=$(now)

: >changes.txt
k=0
joined=()  # "time address" of the quiet ones that joined, oldest first
left=()    # "time address" of those that left, oldest first
end=$(echo "$t0 + $duration" | bc)
while [ "$(echo "$(now) < $end" | bc)" = 1 ]; do
  n=$((k / 4))
  case $((k % 4)) in
    0) i=$((2 + n % 12))
       echo "$(now) changed 198.18.0.$i" >>changes.txt
       $A ip link set m$i address \
         00:0c:29:01:$(printf %02x $((n % 256))):$(printf %02x $i) ;;
    1) a=198.18.0.$((40 + n % 60))
       $A ip addr add $a/24 dev m2 2>/dev/null || true
       $A ip neigh flush dev m2  # a new device knows nobody yet
       # The time is taken just before it sends, not before python starts.
       $A python3 -c "import socket, time
s = socket.socket(2, 2); s.bind(('$a', 0))
print('%.6f talks $a' % time.time(), flush=True)
s.sendto(b'', ('198.18.0.1', 9))" >>changes.txt ;;
    2) a=198.18.0.$((120 + n % 100))
       echo "$(now) joins $a" >>changes.txt
       $A ip addr add $a/24 dev m3
       joined+=("$(now) $a") ;;
    3) # One that joined stays long enough for two re-scans first.
       if [ ${#joined[@]} -gt 0 ] && read -r since a <<<"${joined[0]}" &&
          [ "$(echo "$(now) - $since > 2 * $every + 5" | bc)" = 1 ]; then
         joined=("${joined[@]:1}")
         echo "$(now) leaves $a" >>changes.txt
         $A ip addr del $a/24 dev m3
         left+=("$(now) $a")
       fi ;;
  esac
  # One that left a while ago returns, once it has had time to be gone.
  if [ ${#left[@]} -gt 0 ]; then
    read -r since a <<<"${left[0]}"
    if [ "$(echo "$(now) - $since > ${RETURN_AFTER:-100}" | bc)" = 1 ]; then
      left=("${left[@]:1}")
      echo "$(now) returns $a" >>changes.txt
      $A ip addr add $a/24 dev m3
    fi
  fi
  k=$((k + 1))
  sleep "$step"
done
sleep 1
read -r cpu1 rss1 hwm1 fds1 <<<"$(fields)"
t1=$(now)
kill -INT $watcher
wait $watcher && status=0 || status=$?
watcher=

hz=$(getconf CLK_TCK)
echo "norvane-cli --watch --every $every over a /24, ${duration} s, $k changes, every $step s"
echo "exit status on SIGINT: $status"
awk -v c0=$cpu0 -v c1=$cpu1 -v hz=$hz -v t0=$t0 -v t1=$t1 'BEGIN {
  s = (c1 - c0) / hz; printf "CPU time after the first scan: %.2f s in %.0f s, %.3f %% of one core\n", s, t1 - t0, 100 * s / (t1 - t0) }'
echo "RSS after the first scan: $rss0 KiB, at the end: $rss1 KiB (peak $hwm1 KiB)"
echo "open files after the first scan: $fds0, at the end: $fds1"
python3 - changes.txt out.json <<'PY'
import json, sys
from datetime import datetime
expected = {"changed": "changed", "talks": "new", "joins": "new",
            "leaves": "gone", "returns": "back"}
changes = [line.split() for line in open(sys.argv[1])]
events = []
for line in open(sys.argv[2]):
    e = json.loads(line)
    events.append((datetime.fromisoformat(e["time"]).timestamp(), e["event"], e["address"]))
delays = {kind: [] for kind in expected}
missed = {kind: 0 for kind in expected}
for when, kind, address in changes:
    when = float(when)
    match = [t for t, event, a in events if a == address and event == expected[kind] and t >= when - 0.002]
    if match:
        delays[kind].append(max(0.0, min(match) - when))
    else:
        missed[kind] += 1
print("| change | source | lines | median delay | largest |")
print("|---|---|---|---|---|")
source = {"changed": "kernel (gratuitous ARP)", "talks": "kernel (host talks)",
          "joins": "re-scan", "leaves": "stale entry probed, failed", "returns": "re-scan"}
for kind, values in delays.items():
    values.sort()
    if values:
        median = values[len(values) // 2]
        print(f"| {kind} | {source[kind]} | {len(values)} of {len(values) + missed[kind]} | {median * 1000:.0f} ms | {values[-1] * 1000:.0f} ms |")
    else:
        print(f"| {kind} | {source[kind]} | 0 of {missed[kind]} | | |")
PY
