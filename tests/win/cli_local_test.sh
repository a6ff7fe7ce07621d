#!/usr/bin/env bash
# norvane-cli.exe -l under Wine, in a private network namespace: the networks
# of the adapters that are up, from GetAdaptersAddresses, adapter by adapter,
# without network and broadcast addresses; loopback's and a down link's left
# out; and an IPv6 target refused with its reason. cli_local_test.sh WINE_RUN
# NORVANE_CLI_EXE. 77 means skipped.
set -euo pipefail
if [ -z "${NORVANE_IN_NETNS:-}" ]; then
  unshare -n -m true 2>/dev/null || { echo "cli_local_test: no network namespace; skipping" >&2; exit 77; }
  NORVANE_IN_NETNS=1 exec unshare -n -m "$0" "$@"
fi
wine_run=$1 cli=$2
export WINEPREFIX=${NORVANE_WINEPREFIX:-/tmp/norvane-wine-$(id -u)}
# A wineserver started outside would list the interfaces outside.
wineserver -k >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ip link set lo up
ip link add nv0 type veth peer name nv0p
ip addr add 198.51.100.1/29 dev nv0
ip link add nv1 type veth peer name nv1p
ip addr add 203.0.113.5/30 dev nv1
ip link add nv2 type veth peer name nv2p
ip addr add 192.0.2.1/24 dev nv2 # stays down
for link in nv0 nv0p nv1 nv1p; do ip link set $link up; done
for _ in $(seq 200); do
  [ "$(ip -o link show up | grep -c LOWER_UP)" -ge 5 ] && break
  sleep 0.01
done
got=$({ "$wine_run" "$cli" -l || true; } | cut -f1 | tr "\n" " ")
want="198.51.100.1 198.51.100.2 198.51.100.3 198.51.100.4 198.51.100.5 198.51.100.6 203.0.113.5 203.0.113.6 "
if [ "$got" != "$want" ]; then
  echo "FAIL: norvane-cli.exe -l scanned '$got', not '$want'" >&2
  exit 1
fi
echo "PASS: $got"

# IPv6 targets are read but not resolved here: the run says why and fails.
set +e
out=$("$wine_run" "$cli" -v 2001:db8::1 2>&1)
status=$?
set -e
if [ "$status" != 1 ] || ! grep -q "IPv6 addresses are not supported on this system" <<<"$out"; then
  echo "FAIL: norvane-cli.exe -v 2001:db8::1 ended $status with '$out'" >&2
  exit 1
fi
echo "PASS: $(grep -m1 IPv6 <<<"$out")"
