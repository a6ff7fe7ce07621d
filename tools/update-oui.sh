#!/usr/bin/env bash
# Regenerates res/oui.ieee from the IEEE registries: MA-L, MA-M and MA-S as
# carried by the npm package oui-data (the freshest snapshot reachable from
# the build machines), and the IAB blocks, which oui-data lacks, from Debian's
# ieee-data (iab.txt; the IAB is closed, so it no longer changes). Versions
# and checksums are pinned, so a rerun gives the same table byte for byte. To
# move to a newer registry, change the values below, rerun, and commit
# res/oui.ieee.
#
# usage: tools/update-oui.sh [--package-dir DIR] [--iab FILE]
#   --package-dir DIR  use an already unpacked oui-data package (DIR holds
#                      package.json and index.json) instead of npm pack
#   --iab FILE         the IAB listing (default /usr/share/ieee-data/iab.txt)
# Environment: OUI_CONVERT names a built oui-convert to use; otherwise it is
# built in OUI_BUILD_DIR (default build/update-oui).
set -euo pipefail

version=2.1.9
published=2026-08-26
index_sha256=1417fe0fa04546e2a658c3639ecdd604d1a8640414ec60a9b8183e7c96bf3eb8
iab_version=20220827.1
iab_sha256=bf150cf159ab30aacda530ae2bfa51437c08598ab4be64e3393c72efea25a2e5

root=$(cd "$(dirname "$0")/.." && pwd)
package_dir=
iab=/usr/share/ieee-data/iab.txt
while [ $# -gt 0 ]; do
  case "$1" in
    --package-dir) package_dir=${2:?--package-dir needs a folder}; shift 2 ;;
    --iab) iab=${2:?--iab needs a file}; shift 2 ;;
    -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; exit 0 ;;
    *) echo "update-oui: unknown argument $1" >&2; exit 2 ;;
  esac
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [ -z "$package_dir" ]; then
  echo "update-oui: fetching oui-data@$version"
  (cd "$tmp" && npm pack --silent "oui-data@$version" >/dev/null)
  tar -xzf "$tmp/oui-data-$version.tgz" -C "$tmp"
  package_dir=$tmp/package
fi

found=$(sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$package_dir/package.json")
if [ "$found" != "$version" ]; then
  echo "update-oui: $package_dir holds oui-data $found, not $version" >&2
  exit 1
fi
echo "$index_sha256  $package_dir/index.json" | sha256sum --check --quiet - || {
  echo "update-oui: index.json of oui-data $version is not the pinned one" >&2
  exit 1
}

echo "$iab_sha256  $iab" | sha256sum --check --quiet - || {
  echo "update-oui: $iab is not the IAB listing of ieee-data $iab_version" >&2
  exit 1
}

convert=${OUI_CONVERT:-}
if [ -z "$convert" ]; then
  build=${OUI_BUILD_DIR:-$root/build/update-oui}
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DNORVANE_TESTS=OFF -DNORVANE_BENCH=OFF -DNORVANE_QT_WINDOW=OFF >/dev/null
  cmake --build "$build" --target oui-convert -j2 >/dev/null
  convert=$build/bin/oui-convert
fi

"$convert" --date "$published" -o "$tmp/oui.ieee" \
  --format json --source "IEEE MA-L, MA-M, MA-S via npm oui-data $version" \
  "$package_dir/index.json" \
  --format text --source "IEEE IAB via Debian ieee-data $iab_version (iab.txt)" \
  "$iab"
mv "$tmp/oui.ieee" "$root/res/oui.ieee"
echo "update-oui: wrote $root/res/oui.ieee"
