#!/usr/bin/env bash
# Installs the Debian 12 packages Norvane needs to build, run and test.
# Idempotent: packages already present are skipped, and apt is only asked
# when something is missing.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev pkg-config
  # libraries
  qt6-base-dev libmnl-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev
  # test and benchmark helpers
  iproute2 arping ieee-data xvfb xauth xdotool xclip
  # Windows program: MinGW-w64 cross compiler, Wine to run it, icoutils to list
  # its resources, x11-apps (xwd) for screenshots under Xvfb
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine icoutils x11-apps
  # Linux window program: the labels' fallback face, the icon generator, the
  # desktop entry and AppStream validators, the .deb's library dependencies
  fonts-dejavu-core python3 desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
