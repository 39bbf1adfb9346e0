#!/usr/bin/env bash
# Fails when a tracked C++ file is not formatted as .clang-format says. Prints the files and how
# to fix them. Usage: scripts/check-format.sh [FILE...]   (default: every tracked .cpp and .h)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed (scripts/deps.sh installs it)" >&2; exit 2; }
if [ $# -gt 0 ]; then files=("$@"); else mapfile -t files < <(git ls-files '*.cpp' '*.h'); fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: ${#bad[@]} file(s) are not formatted:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  echo "fix with: clang-format -i <file>   (or: git clang-format main)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
