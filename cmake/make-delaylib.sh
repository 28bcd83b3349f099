#!/usr/bin/env bash
# Writes a delay-import library for one system DLL from the toolchain's
# ordinary import library (cmake/DelayImports.cmake).
#
#   make-delaylib.sh <mingw prefix> <import library> <dll name> <output .a>
#
# The import library's "__imp_" symbols become the module definition; on
# 32-bit x86 the stdcall decoration ("@N") stays in the symbol and is dropped
# from the imported name (dlltool -k), as the system DLLs export them.
set -euo pipefail
prefix=$1 implib=$2 dll=$3 out=$4
def="$out.def"
case "$prefix" in
  i686-*) strip='__imp__'; kill_at=-k ;;
  *) strip='__imp_'; kill_at= ;;
esac
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$prefix-nm" -g "$implib" | awk -v p="$strip" '$2 == "I" && index($3, p) == 1 { print substr($3, length(p) + 1) }' | sort -u
} > "$def"
"$prefix-dlltool" $kill_at --input-def "$def" --dllname "$dll" --output-delaylib "$out"
