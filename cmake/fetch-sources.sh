#!/usr/bin/env bash
# Fetches the Debian source packages that the Windows build cross-compiles
# (minizip, jsoncpp, tinyxml) into the given folder, once.
set -eu
dest=$1
mkdir -p "$dest"
cd "$dest"
for pkg in minizip libjsoncpp tinyxml; do
  if ! ls -d "$pkg"-[0-9]*/ >/dev/null 2>&1; then
    apt-get source -qq "$pkg" >/dev/null 2>&1 || apt-get source "$pkg"
  fi
done
