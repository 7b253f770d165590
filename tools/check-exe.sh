#!/usr/bin/env bash
# Checks the shipped executable: a 32-bit GUI program that needs only DLLs that
# ship with Windows, carries no debug sections (they live in Launcher.debug
# beside it) and stays small, since every player downloads it at self-update.
set -euo pipefail
exe=$1
max_bytes=$((4 * 1024 * 1024))
desc=$(file -b "$exe")
case "$desc" in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "check-exe: $exe is not a PE32 GUI executable for Intel 80386: $desc" >&2; exit 1 ;;
esac
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|version|winhttp|bcrypt|iphlpapi|ws2_32|uxtheme|dwmapi|msimg32|msvcrt|crypt32|secur32|winmm|imm32|rpcrt4|ntdll|userenv|winspool\.drv)\.dll$'
bad=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | grep -Ev "$system_dlls" || true)
if [ -n "$bad" ]; then
  echo "check-exe: $exe needs DLLs that Windows does not ship: $bad" >&2; exit 1
fi
debug=$(i686-w64-mingw32-objdump -h "$exe" | awk '$2 ~ /^\.z?debug/ { print $2 }' | tr '\n' ' ')
if [ -n "$debug" ]; then
  echo "check-exe: $exe carries debug sections: $debug(ship it stripped, the debug information in Launcher.debug)" >&2
  exit 1
fi
size=$(stat -c %s "$exe")
if [ "$size" -gt "$max_bytes" ]; then
  echo "check-exe: $exe is $size bytes, more than the $max_bytes allowed" >&2; exit 1
fi
echo "check-exe: $exe: $desc; $size bytes, no debug sections; DLLs: $(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
