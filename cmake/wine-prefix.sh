#!/usr/bin/env bash
# Creates the Wine prefix once. The Mono and Gecko installers are disabled,
# otherwise the first start waits on their dialogs.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
if [ -f "$WINEPREFIX/.zetora-ready-2" ]; then exit 0; fi
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zetora-ready-2" ]; then
  echo "wine: creating prefix $WINEPREFIX" >&2
  DISPLAY= "$ZETORA_WINE" wineboot -i >/dev/null 2>&1 || true
  # Chinese text: link the dialog fonts to WenQuanYi Micro Hei and map the
  # usual Chinese face names to it, whatever the host's locale.
  link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    "$ZETORA_WINE" reg add "$link" /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null 2>&1
  done
  substitutes='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for face in "SimSun" "NSimSun" "Microsoft YaHei" "宋体" "微软雅黑"; do
    "$ZETORA_WINE" reg add "$substitutes" /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/.zetora-ready-2"
fi
