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
exit $status
