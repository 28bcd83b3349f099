#!/usr/bin/env bash
# Fetches the Debian source packages that the Windows build cross-compiles
# (minizip, jsoncpp, tinyxml) into the given folder, once.
set -eu
patches=$(cd "$(dirname "$0")/patches" && pwd)
dest=$1
mkdir -p "$dest"
cd "$dest"
for pkg in minizip libjsoncpp tinyxml; do
  if ! ls -d "$pkg"-[0-9]*/ >/dev/null 2>&1; then
    apt-get source -qq "$pkg" >/dev/null 2>&1 || apt-get source "$pkg"
  fi
done

# Adjustments for the statically linked installer, applied once per source
# tree (a stamp beside it records each). Neither changes what is parsed:
# - tinyxml without Debian's enforce-use-stl patch: the installer uses the
#   char* interface, and the STL build's stream operators drag in iostream;
# - jsoncpp without iostream (cmake/patches/jsoncpp-without-iostream.patch).
adjust() {  # adjust <source dir> <stamp name> <patch arguments...>
  local dir=$1 stamp=$2
  shift 2
  [ -e "$dir/.zetora-$stamp" ] && return 0
  patch -d "$dir" -p1 --quiet --forward "$@"
  touch "$dir/.zetora-$stamp"
}
tinyxml=$(ls -d tinyxml-[0-9]*/ | head -1)
adjust "$tinyxml" no-enforced-stl -R -i debian/patches/enforce-use-stl.patch
jsoncpp=$(ls -d libjsoncpp-[0-9]*/ | head -1)
adjust "$jsoncpp" without-iostream -i "$patches/jsoncpp-without-iostream.patch"
