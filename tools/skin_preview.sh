#!/usr/bin/env bash
# Renders the skin in skin/ and saves every dialog as the skin viewer draws it,
# so a change to the skin can be looked at without running the installer:
#   bash tools/skin_preview.sh [out_dir] [dialog ...]
# Writes out_dir/<dialog>.png (magenta where the window is transparent) and
# out_dir/images/*.png (the rendered images); besides the skin's windows it
# shows the screens' states as preview_* windows (skin_preview_states.py). Needs a built skin_viewer.exe of
# the configuration this machine's Wine runs (build/win32 or build/win64).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
out=$(mkdir -p "${1:-$root/build/skin-preview}" && cd "${1:-$root/build/skin-preview}" && pwd)
shift $(( $# > 0 ? 1 : 0 ))
dialogs=("$@")

if [ -z "${ZETORA_PREVIEW_SESSION:-}" ]; then
  python3 "$here/make_skin.py" --source "$root/skin" --work "$out/images" --output "$out/skin.zip" || exit 1
  rm -rf "$out/unpacked" && mkdir -p "$out/unpacked" && (cd "$out/unpacked" && unzip -q "$out/skin.zip")
  python3 "$here/skin_preview_states.py" "$out/unpacked" || exit 1
  echo "skin.zip: $(stat -c %s "$out/skin.zip") bytes"
  export ZETORA_PREVIEW_SESSION=1
  exec bash "$root/cmake/wine-session.sh" bash "$0" "$out" "${dialogs[@]}"
fi

source "$root/cmake/wine-env.sh"
viewer="$root/build/$ZETORA_WIN_ARCH/skin_viewer.exe"
[ -f "$viewer" ] || { echo "skin_preview: build $viewer first"; exit 1; }
if [ ${#dialogs[@]} -eq 0 ]; then
  mapfile -t dialogs < <(python3 - "$out/unpacked/skin.txt" <<'PY'
import json, re, sys
text = open(sys.argv[1], encoding="utf-8-sig").read()
text = re.sub(r"^\s*//.*$", "", text, flags=re.M)
for name, node in sorted(json.loads(text).items()):
    if isinstance(node, dict) and node.get("type") == "dialog":
        print(name)
PY
)
fi
winpath() { echo "Z:${1//\//\\}"; }
for dialog in "${dialogs[@]}"; do
  rm -f "$out/$dialog.bmp"
  LC_ALL=zh_CN.UTF-8 "$ZETORA_WINE" "$viewer" --folder "$(winpath "$out/unpacked")" --dialog "$dialog" \
    --shot "$(winpath "$out/$dialog.bmp")" --exit-after 200 2>"$out/$dialog.log"
  if convert "$out/$dialog.bmp" -alpha off "$out/$dialog.png" 2>/dev/null; then
    echo "$dialog: $out/$dialog.png"
  else
    echo "$dialog: no screenshot (see $out/$dialog.log)"
  fi
done
