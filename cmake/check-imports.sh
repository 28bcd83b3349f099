#!/usr/bin/env bash
# Fails when the installer imports, statically, a DLL that is not a KnownDLL
# (Windows 7 and later): such a DLL is searched for in the program's folder
# first, before any of the program's code runs (cmake/DelayImports.cmake).
#
#   check-imports.sh <objdump> <exe>
set -euo pipefail
objdump=$1 exe=$2
if [ ! -f "$exe" ]; then
  echo "no 32-bit installer built: $exe" >&2
  exit 1
fi
# KnownDLLs of Windows 7 and later, and comctl32, which the manifest's
# dependency on the common controls 6 assembly takes from the side-by-side
# store. The delay-loaded DLLs are listed apart ("DLL Name" of the delay
# import table is not matched here).
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll"
allowed+=" comdlg32.dll msvcrt.dll shlwapi.dll rpcrt4.dll ws2_32.dll comctl32.dll "
imports=$("$objdump" -p "$exe" | sed -n '/^The Import Tables/,/^The Delay Import Tables\|^The Export Tables\|^The Function Table\|^PE File Base Relocations/p' |
  awk '/DLL Name:/ { print tolower($3) }' | sort -u)
if [ -z "$imports" ]; then
  echo "no import table read from $exe" >&2
  exit 1
fi
status=0
for dll in $imports; do
  case "$allowed" in
    *" $dll "*) echo "ok      $dll" ;;
    *) echo "PLANTABLE $dll (not a KnownDLL: delay-load it)"; status=1 ;;
  esac
done

# Every call or jump through an import slot must find the slot filled in the
# file: the loader fills static imports, and a delay-loaded function's slot
# holds the address of its loading stub until the first call. A slot left
# zero (see the DECLSPEC_IMPORT note in CMakeLists.txt) jumps to address 0.
targets=$("$objdump" -d --no-show-raw-insn "$exe" | grep -oE '(call|jmp) +\*0x[0-9a-f]+' | grep -oE '0x[0-9a-f]+' | sort -u)
empty=$(python3 - "$exe" $targets <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections = struct.unpack_from("<H", data, pe + 6)[0]
optional = struct.unpack_from("<H", data, pe + 20)[0]
magic = struct.unpack_from("<H", data, pe + 24)[0]
base = struct.unpack_from("<I", data, pe + 52)[0] if magic == 0x10B else struct.unpack_from("<Q", data, pe + 48)[0]
table = pe + 24 + optional
imports = []
for i in range(sections):
    name, size, rva, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
    if name.rstrip(b"\0") == b".idata":
        imports.append((base + rva, size, raw))
for text in sys.argv[2:]:
    address = int(text, 16)
    for start, size, raw in imports:
        if start <= address < start + size and not any(data[raw + address - start:raw + address - start + 4]):
            print(text)
PY
)
for slot in $empty; do
  echo "ZERO SLOT $slot (a call through it jumps to address 0)"
  status=1
done
exit $status
