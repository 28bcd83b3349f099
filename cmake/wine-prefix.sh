#!/usr/bin/env bash
# Creates the Wine prefix once. The Mono and Gecko installers are disabled,
# otherwise the first start waits on their dialogs.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINEPREFIX:=$here/../build/wineprefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$WINEPREFIX/.zetora-ready" ]; then exit 0; fi
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zetora-ready" ]; then
  echo "wine: creating prefix $WINEPREFIX" >&2
  DISPLAY= wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  touch "$WINEPREFIX/.zetora-ready"
fi
