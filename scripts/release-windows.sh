#!/usr/bin/env bash
# The Windows programs as they are handed out: KVMON.EXE, kvstore.exe and kvhid.exe built for
# release and stripped of symbols and debug information (the icon and version resource stay),
# in dist/windows/. Prints each file's size and the DLLs it imports, and fails when one needs a
# DLL that Windows does not ship.
# Usage: scripts/release-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build-win-release
out=dist/windows
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >&2
fi
cmake --build "$build" -j "$jobs" --target KVMON kvstore kvhid >&2
rm -rf "$out"
mkdir -p "$out"
for program in app/win32/KVMON.EXE tools/kvstore/kvstore.exe tools/kvhid/kvhid.exe; do
  x86_64-w64-mingw32-strip --strip-all -o "$out/$(basename "$program")" "$build/$program"
done
scripts/check-windows-exe.sh "$out"/*
