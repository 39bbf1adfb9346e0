#!/usr/bin/env bash
# The Windows leg: cross-builds the tree with mingw-w64 into build-win/ and runs every test of it
# (unit tests, the win32 contract suites and the end-to-end checks) under Wine, in a private
# prefix with its own X server (Xvfb), both removed afterwards.
# Usage: scripts/test-windows.sh [--build-only | ctest options, e.g. -R Win32Loop]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build-win
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_BENCH=OFF >&2
fi
cmake --build "$build" -j "$jobs" >&2
[ "${1:-}" = "--build-only" ] && exit 0

work=$(mktemp -d /tmp/kvmon-wine.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
pulse_pid=""
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Wine makes top-level windows (the monitor's, the tray icon) only on an X display.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "test-windows.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

# Core Audio under Wine has a capture device only while a PulseAudio daemon runs: this run's own,
# in a private runtime folder (so it also runs as root, next to any other daemon), with a null source
# as the default microphone. Wine's processes reach it through PULSE_SERVER.
pulse="$work/pulse"
mkdir -p "$pulse" && chmod 700 "$pulse"
export PULSE_RUNTIME_PATH="$pulse" PULSE_STATE_PATH="$pulse" PULSE_SERVER="unix:$pulse/native" \
  PULSE_COOKIE="$pulse/cookie"
HOME="$pulse" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit=false \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$pulse/native" \
  -L "module-null-source source_name=kvtest_mic" -L module-null-sink </dev/null >"$work/pulse.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do pactl set-default-source kvtest_mic >/dev/null 2>&1 && break; sleep 0.1; done
pactl get-default-source 2>/dev/null | grep -qx kvtest_mic || {
  echo "test-windows.sh: PulseAudio did not start" >&2; cat "$work/pulse.log" >&2; exit 1; }

t0=$(date +%s)
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w
# A server that outlives each test, started detached so that no test's output pipe stays open,
# and a keeper process so that window-creating programs never start against a dying desktop.
setsid -f "$wineserver" -p </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
setsid -f "$wine" start /min notepad </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
echo "== Wine prefix ready in $(( $(date +%s) - t0 )) s" >&2

# A test program that Wine fails to start (no output at all, seen under heavy load) gets one
# more run; a test that fails runs twice and still fails.
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2 "$@"
