#!/usr/bin/env bash
# Runs one Windows program under Wine in the build tree's own prefix.
# The prefix, display and persistent wineserver are prepared by wine-session.sh;
# used alone (e.g. by hand) this still works, only each start is slower.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
if [ ! -f "$WINEPREFIX/.zetora-ready-3" ]; then
  "$here/wine-prefix.sh" >&2 || exit 1
fi
exec "$ZETORA_WINE" "$@"
