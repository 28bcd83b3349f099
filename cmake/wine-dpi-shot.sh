#!/usr/bin/env bash
# Shows the installer's main window with the skin viewer on a display of
# another DPI and checks what it drew: the window and its drawing are
# dpi/96 times their 96-DPI size and, where the 2x images are drawn at their
# own scale, every pixel of a column through the band and the body is one of
# the background's colours (nothing stretched, nothing blurred).
# The DPI is the prefix's LogPixels, so this runs in a copy of the test
# prefix with a wineserver of its own.
#   wine-dpi-shot.sh <dpi> <skin_viewer.exe> <output.bmp>
set -eu
dpi=$1
viewer=$2
out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
prefix=${WINEPREFIX}-dpi
if [ ! -f "$prefix/.copied" ]; then
  rm -rf "$prefix"
  cp -a "$WINEPREFIX" "$prefix"
  touch "$prefix/.copied"
fi
export WINEPREFIX=$prefix
trap 'wineserver -k 2>/dev/null || true' EXIT
"$ZETORA_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# Programs read LogPixels when they start: a fresh server has it saved.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
rm -f "$out"
"$ZETORA_WINE" "$viewer" --shot "Z:${out//\//\\}" --exit-after 1500 > "$out.txt" 2>&1 || true
python3 - "$dpi" "$out" <<'PY'
import struct, sys
dpi, path = int(sys.argv[1]), sys.argv[2]
report = open(path + ".txt", errors="replace").read()
data = open(path, "rb").read()
width, height = struct.unpack("<ii", data[18:26])
height = abs(height)
want = (round(620 * dpi / 96), round(282 * dpi / 96))
failures = []
if (width, height) != want:
    failures.append("drawing %dx%d, expected %dx%d" % (width, height, *want))
if "window %dx%d at %d dpi" % (want[0], want[1], dpi) not in report:
    failures.append("viewer said: %r" % report.strip())
def pixel(x, y):
    b, g, r = data[54 + (y * width + x) * 4:54 + (y * width + x) * 4 + 3]
    return r, g, b
if dpi % 96 == 0 and not failures:
    # Column 500 (96-DPI units) crosses the band, the body and the outline.
    colours = [(0x1A, 0x73, 0xE8), (0xFF, 0xFF, 0xFF), (0xC5, 0xCC, 0xD6)]
    x = 500 * dpi // 96
    stray = [y for y in range(height - 8)
             if min(sum((a - b) ** 2 for a, b in zip(pixel(x, y), c)) for c in colours) > 48]
    if stray:
        failures.append("%d pixels of column %d are none of the background's colours (first at y=%d: %s)"
                        % (len(stray), x, stray[0], pixel(x, stray[0])))
if failures:
    sys.exit("at %d DPI: %s" % (dpi, "; ".join(failures)))
print("at %d DPI: %dx%d, sharp" % (dpi, width, height))
PY
