#!/usr/bin/env bash
# Configures and builds the native tree. Usage: scripts/build.sh [--asan|--tsan] [--release]
# The build folder is build/ (build-asan/, build-tsan/ with a sanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize="" dir="build" type="RelWithDebInfo"
for arg in "$@"; do
  case "$arg" in
    --asan) sanitize="address"; dir="build-asan"; type="Debug" ;;
    --tsan) sanitize="thread"; dir="build-tsan"; type="Debug" ;;
    --release) type="Release" ;;
    *) echo "build.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE="$type" -DKV_SANITIZE="$sanitize" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
