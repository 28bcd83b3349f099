# Sourced by the Wine scripts: which Windows architecture this machine runs
# (cmake/wine-arch.sh), Wine's loader for it and the build tree's prefix.
zetora_cmake_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${ZETORA_WIN_ARCH:=$(bash "$zetora_cmake_dir/wine-arch.sh")}"
export ZETORA_WIN_ARCH WINEARCH=$ZETORA_WIN_ARCH
if [ "$ZETORA_WIN_ARCH" = win64 ]; then
  # /usr/bin/wine prefers the 32-bit loader whenever it is installed.
  ZETORA_WINE=/usr/lib/wine/wine64
  export WINELOADER=$ZETORA_WINE
else
  ZETORA_WINE=wine
fi
export ZETORA_WINE
: "${WINEPREFIX:=$zetora_cmake_dir/../build/wineprefix-$ZETORA_WIN_ARCH}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
