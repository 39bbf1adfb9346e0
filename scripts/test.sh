#!/usr/bin/env bash
# Builds and runs every test of the native tree.
# Usage: scripts/test.sh [--asan|--tsan]   (ASan+UBSan, or TSan, in their own build folders)
#        scripts/test.sh --fuzz            (the libFuzzer targets in build-fuzz/, each for a
#                                          bounded time: see scripts/fuzz.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
# A fresh machine gets its packages first, as scripts/run.sh does (nothing happens when they are
# there); the Windows leg's are left to scripts/test-windows.sh's own machine set-up.
KV_DEPS_WINDOWS=0 scripts/deps.sh
if [ "${1:-}" = "--fuzz" ]; then exec scripts/fuzz.sh; fi
dir=$(scripts/build.sh "$@" | tail -n 1)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
