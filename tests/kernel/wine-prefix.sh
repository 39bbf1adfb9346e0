#!/usr/bin/env bash
# Makes the Wine prefix of the real-kernel leg on the host (wineboot takes minutes inside the
# emulated machine) and the folder of Windows programs it runs there.
#   wine-prefix.sh SHARE BUILD_DIR WIN_BUILD_DIR
set -euo pipefail
share=$1 build=$2 winbuild=$3
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$share/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$share/win"
"$wine" wineboot -i
# Wine's HID bus reads hidraw nodes only with its SDL bus off; crashes must not wait on a dialog;
# windows need no X server with the null graphics driver.
"$wine" reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
# The programs, and as the suite's hook DLL the stand-in the Windows end-to-end tests use.
for f in KVMON.EXE kvhid.exe kvstore.exe gxHook.dll; do
  found=$(find "$winbuild" -name "$f" -not -path '*/CMakeFiles/*' | head -n 1)
  [ -n "$found" ] || { echo "wine-prefix.sh: no $f in $winbuild" >&2; exit 1; }
  cp "$found" "$share/win/"
done
printf '[options]\r\nProfileRegFolder=software\\KVgmmouse\r\n\r\n[IncludeHIDDeviceList]\r\nid1=HID\\VID_4B56&PID_0001\r\n' \
  >"$share/win/config.ini"
(cd "$share/win" && "$wine" kvstore.exe set-button 0 3 28)
"$wineserver" -w
