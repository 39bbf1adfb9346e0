#!/usr/bin/env bash
# Builds the Debian package kvmon_VERSION_ARCH.deb with CPack from a built tree (by default the
# one scripts/build.sh makes), stripped, for /usr. Prints the package's path.
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(cd "${1:-build}" && pwd)
[ -f "$dir/CPackConfig.cmake" ] || { echo "package.sh: $dir is not a configured build (scripts/build.sh)" >&2; exit 2; }
cmake --build "$dir" -j "$(nproc)" >&2
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake) >&2
ls "$dir"/kvmon_*.deb
