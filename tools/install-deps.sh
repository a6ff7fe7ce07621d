#!/usr/bin/env bash
# Installs the Debian 12 packages Norvane needs.
#
#   bash tools/install-deps.sh run    building and running the two programs
#   bash tools/install-deps.sh test   that, plus everything the tests, the
#                                     benchmarks, the fuzz targets, the package
#                                     checks and the Windows cross-build need
#                                     (the default)
#
# Idempotent: packages already present are skipped and apt is only asked when
# something is missing. Before installing anything it checks that apt knows
# every missing package, and stops with the names it does not know.
set -euo pipefail

set_name=${1:-test}

# Each line: package, then why it is needed.
run_packages=(
  "g++               the C++20 compiler"
  "cmake             the build"
  "ninja-build       the build"
  "pkg-config        finding libmnl"
  "qt6-base-dev      the Linux window (Qt 6 Widgets)"
  "libmnl-dev        building and parsing rtnetlink messages for the query"
  "fonts-dejavu-core the labels' face where Tahoma is not installed"
  "nlohmann-json3-dev reading JSON lines (norvane-cli --watch --known; the converter)"
)
test_packages=(
  "libgtest-dev      the unit and integration tests"
  "libgmock-dev      the unit and integration tests"
  "googletest        GoogleTest's sources, built for the Windows tests"
  "libbenchmark-dev  the benchmarks"
  "clang             the fuzz targets (libFuzzer)"
  "libclang-rt-14-dev the fuzz targets' sanitizer runtimes"
  "clang-format      the code style"
  "iproute2          private network namespaces for the query's tests"
  "arping            the peer the query's benchmark is timed against"
  "iputils-ping      the IPv6 benchmark's echo to all nodes, before ip -6 neigh"
  "ieee-data         the registry's text and CSV forms for the converter"
  "xvfb              the real window under a private X server"
  "xauth             the real window under a private X server"
  "xdotool           driving the real window in tests"
  "xclip             reading the window's boxes in tests"
  "x11-apps          xwd, screenshots under Xvfb"
  "python3           the icon generator and resource splitter, start-up benchmark"
  "desktop-file-utils validating the desktop entry"
  "appstream         validating the AppStream metadata"
  "appstream-compose composing the software-centre catalogue from the .deb"
  "dpkg-dev          the .deb's library dependencies (dpkg-shlibdeps)"
  "lintian           checking the .deb as the distribution does"
  "man-db            checking the manual pages (man --warnings)"
  "g++-mingw-w64-x86-64-posix cross-building Norvane.exe"
  "wine              running Norvane.exe and its tests"
  "wine64            running Norvane.exe and its tests"
  "fonts-wine        Wine's Tahoma for the Windows window's tests"
  "icoutils          listing Norvane.exe's resources (wrestool)"
)

case $set_name in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [run|test]" >&2
    exit 2
    ;;
esac

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=() reasons=()
for line in "${wanted[@]}"; do
  read -r name why <<<"$line"
  if ! installed "$name"; then
    missing+=("$name")
    reasons+=("  $name: $why")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#wanted[@]} packages for '$set_name' present"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: updating the package lists"
"${sudo_cmd[@]}" apt-get update -qq

# A name apt has no candidate for would stop apt-get half-way: refuse first.
unknown=()
for name in "${missing[@]}"; do
  candidate=$(apt-cache policy "$name" 2>/dev/null | sed -n 's/^ *Candidate: //p')
  if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
    unknown+=("$name")
  fi
done
if [ ${#unknown[@]} -gt 0 ]; then
  echo "install-deps: apt knows no package named: ${unknown[*]}" >&2
  echo "install-deps: nothing was installed. Is this Debian 12 (bookworm)" \
    "with the main component in its apt sources?" >&2
  exit 1
fi

echo "install-deps: installing ${#missing[@]} package(s) for '$set_name'" \
  "(and what they depend on):"
printf '%s\n' "${reasons[@]}"
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
