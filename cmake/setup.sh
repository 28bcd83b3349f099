#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (bookworm).
# Idempotent: when every package is present it only checks and returns.
# Usage: cmake/setup.sh            (run as root, or with sudo available)
#
# A mirror that fails to deliver one package index must not stop the build:
# the package lists are fetched up to three times, and the install goes on
# with whatever lists arrived; only an install that fails stops the script.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Overridable for the script's own test (a stub apt in a scratch folder).
apt_tries=${ZETORA_APT_TRIES:-3}
apt_pause=${ZETORA_APT_PAUSE:-10}
src_list=${ZETORA_APT_SOURCES:-/etc/apt/sources.list.d/zetora-deb-src.sources}
win_arch=${ZETORA_WIN_ARCH:-$(bash "$here/wine-arch.sh")}

packages=(
  cmake make g++ python3 pkg-config
  g++-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
  wine wine64
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  xvfb xauth x11-apps imagemagick fonts-wqy-microhei
  libgtest-dev googletest
  dpkg-dev
  osslsigncode clang aria2 curl nginx-light
  libclang-rt-14-dev
  librsvg2-bin libjsoncpp-dev libtinyxml-dev
  libcpp-httplib-dev libsqlite3-dev libpqxx-dev libssl-dev postgresql chromium
)
# Wine's 32-bit loader only helps where the kernel runs 32-bit programs; on
# other machines the tests run the 64-bit build, and the i386 package lists
# (often the first to fail on a mirror) are not needed at all.
if [ "$win_arch" = win32 ]; then
  packages+=(wine32:i386)
fi

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  # dpkg-query prints "install ok installed" for packages that are there.
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

need_update=0
if [ "$win_arch" = win32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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

# apt-get update exits non-zero when an index failed to download; a later try
# often succeeds, and when none does, the lists that did arrive may still hold
# every package needed.
update_package_lists() {
  local try
  for try in $(seq 1 "$apt_tries"); do
    if "${sudo_cmd[@]}" apt-get update -qq; then
      return 0
    fi
    echo "setup: package lists incomplete (try $try of $apt_tries)" >&2
    if [ "$try" -lt "$apt_tries" ]; then sleep "$apt_pause"; fi
  done
  echo "setup: going on with the package lists that arrived" >&2
}

if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  echo "setup: installing: ${missing[*]:-(package lists only)}"
  update_package_lists
  if [ ${#missing[@]} -gt 0 ]; then
    if ! "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
         apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
      echo "setup: could not install: ${missing[*]}" >&2
      exit 1
    fi
  fi
fi
echo "setup: all packages present"
