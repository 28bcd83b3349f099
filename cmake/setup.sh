#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (bookworm).
# Idempotent: when every package is present it only checks and returns.
# Usage: cmake/setup.sh            (run as root, or with sudo available)
set -euo pipefail

packages=(
  cmake make g++ python3 pkg-config
  g++-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
  wine wine32:i386 wine64
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  xvfb xauth x11-apps imagemagick fonts-wqy-microhei
  libgtest-dev googletest
  dpkg-dev
  osslsigncode clang aria2 curl nginx-light
  libclang-rt-14-dev
  librsvg2-bin libjsoncpp-dev libtinyxml-dev
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  # dpkg-query prints "install ok installed" for packages that are there.
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

src_list=/etc/apt/sources.list.d/zetora-deb-src.sources
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi
if [ ! -f "$src_list" ]; then
  # Source packages (minizip, jsoncpp, tinyxml) are cross-built from Debian's sources.
  "${sudo_cmd[@]}" tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  echo "setup: installing: ${missing[*]:-(package lists only)}"
  "${sudo_cmd[@]}" apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi
echo "setup: all packages present"
