#!/usr/bin/env bash
# The installed layout and desktop files, then the .deb: built with CPack,
# installed into a scratch dpkg root that knows this machine's packages (so
# its dependencies are checked), started, and removed without leftovers.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build=$1
need desktop-file-validate appstreamcli dpkg cpack

install_build "$build"
p=$work/prefix
for f in lib/norvane/norvane lib/norvane/norvane-cli lib/norvane/oui.ieee \
  share/applications/net.velmora.Norvane.desktop \
  share/metainfo/net.velmora.Norvane.metainfo.xml \
  share/icons/hicolor/{16x16,32x32,48x48}/apps/norvane.png; do
  [ -f "$p/$f" ] || fail "$f not installed"
done
for name in norvane norvane-cli; do
  [ "$(readlink "$p/bin/$name")" = "../lib/norvane/$name" ] ||
    fail "bin/$name is not a relative link to lib/norvane/$name"
done
desktop-file-validate "$p/share/applications/net.velmora.Norvane.desktop"
appstreamcli validate --no-net "$p/share/metainfo/net.velmora.Norvane.metainfo.xml"

# The package.
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log") ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/deb/norvane_*.deb)
root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$admin"/{info,updates,triggers}
cp /var/lib/dpkg/status "$admin/status"
touch "$admin/available"
dpkg --root="$root" -i "$deb" >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
[ -x "$root/usr/bin/norvane" ] || fail "the package has no usr/bin/norvane"

start_xvfb
"$root/usr/bin/norvane" >"$work/norvane.log" 2>&1 &
program=$!
pids+=("$program")
wait_window "Norvane v1.0" >/dev/null
kill "$program"

dpkg --root="$root" --purge norvane >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg --purge failed"; }
left=$(find "$root" -path "$admin" -prune -o -type f -print -o -type l -print)
[ -z "$left" ] || fail "files left after removal: $left"
echo "installed layout, desktop files and package are sound"
