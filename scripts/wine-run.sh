#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix that scripts/test-windows.sh prepared
# (WINEPREFIX). CTest calls this as the cross-build's emulator.
set -euo pipefail
: "${WINEPREFIX:?wine-run.sh: WINEPREFIX is not set (scripts/test-windows.sh prepares one)}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "${KV_WINE:-/usr/lib/wine/wine64}" "$@"
