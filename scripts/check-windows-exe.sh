#!/usr/bin/env bash
# Says what a Windows program carries and needs: its size, its resources and the DLLs it
# imports. Fails when one imports a DLL that is not part of Windows (a MinGW run-time, say), or
# when KVMON.EXE lacks its icon or version resource.
# Usage: scripts/check-windows-exe.sh FILE.exe...
set -euo pipefail
objdump=x86_64-w64-mingw32-objdump
# DLLs every Windows installation has in its system folder.
system='^(kernel32|user32|gdi32|shell32|advapi32|ole32|oleaut32|winmm|msvcrt|comctl32|comdlg32|shlwapi|setupapi|hid|version|ws2_32|uxtheme|dwmapi|bcrypt|ntdll|crypt32|imm32|rpcrt4|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
for exe in "$@"; do
  dump=$("$objdump" -p "$exe")
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr -d '\r')
  printf '%s: %s bytes; imports %s\n' "$(basename "$exe")" "$(stat -c %s "$exe")" \
    "$(tr '\n' ' ' <<<"$imports" | sed 's/ $//')"
  while read -r dll; do
    [ -z "$dll" ] && continue
    if ! tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$system"; then
      echo "$(basename "$exe"): imports $dll, which Windows does not ship" >&2
      status=1
    fi
  done <<<"$imports"
  if [ "$(basename "$exe")" = KVMON.EXE ]; then
    # Resource types are the first level of the resource directory (three blanks in):
    # 14 an icon group, 16 a version.
    types=$(sed -n 's/^[0-9a-f]*   Entry: ID: 0x0*\([0-9a-f]*\),.*/\1/p' <<<"$dump")
    for type in e 10; do
      grep -qx "$type" <<<"$types" || {
        echo "KVMON.EXE: no resource of type 0x$type (0xe icon group, 0x10 version)" >&2
        status=1
      }
    done
  fi
done
exit $status
