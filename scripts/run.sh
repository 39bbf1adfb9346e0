#!/usr/bin/env bash
# Sets up a fresh Debian machine (packages, a CJK font for the Chinese captions), builds kvmon
# and starts it.
# Extra arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
KV_DEPS_WINDOWS=0 KV_DEPS_CHECKS=0 scripts/deps.sh
dir=$(scripts/build.sh | tail -n 1)
if [ -x "$dir/bin/kvmon" ]; then
  exec "$dir/bin/kvmon" "$@"
elif [ -x "$dir/tools/kvstore/kvstore" ]; then
  # Until the monitor is built on this platform, show the settings store it will use.
  exec "$dir/tools/kvstore/kvstore" dump "$@"
else
  echo "run.sh: built $dir; no runnable program yet (the tests run with scripts/test.sh)" >&2
fi
