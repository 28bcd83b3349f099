#!/usr/bin/env bash
# Creates the Wine prefix once. The Mono and Gecko installers are disabled,
# otherwise the first start waits on their dialogs.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
if [ -f "$WINEPREFIX/.zetora-ready-3" ]; then exit 0; fi
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zetora-ready-3" ]; then
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
  # The skin's faces (and Arial, the fallback of its text drawing) are
  # replaced by WenQuanYi Micro Hei for GDI+. A .reg file carries the CJK
  # names, which must be UTF-16.
  reg_file="$WINEPREFIX/zetora-fonts.reg"
  python3 - "$reg_file" <<'PY'
import sys
faces = ["宋体", "新宋体", "微软雅黑", "SimSun", "NSimSun", "Microsoft YaHei", "Arial"]
lines = ["Windows Registry Editor Version 5.00", "",
         "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
lines += ['"%s"="WenQuanYi Micro Hei"' % face for face in faces]
open(sys.argv[1], "w", encoding="utf-16").write("\r\n".join(lines) + "\r\n")
PY
  "$ZETORA_WINE" regedit /S "$reg_file" >/dev/null 2>&1 || echo "wine: could not import $reg_file" >&2
  wineserver -w
  touch "$WINEPREFIX/.zetora-ready-3"
fi
