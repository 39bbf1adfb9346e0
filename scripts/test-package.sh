#!/usr/bin/env bash
# CI's check of the Debian package: builds it (scripts/package.sh), lists its contents and
# control data into ARTIFACTS, runs lintian (errors fail), installs it with apt-get, runs
# kvmon --version and kvmon --status --json from /usr/bin, and removes it again (purge).
# It changes the machine it runs on: root only, meant for CI's fresh machine.
# Usage: scripts/test-package.sh [BUILD_DIR] [ARTIFACTS]   (defaults: build, .ci/artifacts)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
artifacts="${2:-.ci/artifacts}"
[ "$(id -u)" -eq 0 ] || { echo "test-package.sh: installs a package system-wide; run it as root (CI)" >&2; exit 2; }
mkdir -p "$artifacts"
t0=$(date +%s)
deb=$(scripts/package.sh "$build" | tail -n 1)
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
echo "package: $deb ($(stat -c %s "$deb") bytes, built in $(( $(date +%s) - t0 )) s)"
{ dpkg-deb --info "$deb"; echo; dpkg-deb --contents "$deb"; } | tee "$artifacts/package-contents.txt"

failures=0
check() {  # check NAME COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
lintian --fail-on error --display-level '>=warning' "$deb" | tee "$artifacts/lintian.txt" && lint=0 || lint=$?
check "lintian finds no error" test "$lint" -eq 0

DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$artifacts/apt-install.txt" 2>&1 ||
  { cat "$artifacts/apt-install.txt"; echo "test-package.sh: apt-get could not install $deb"; exit 1; }
home=$(mktemp -d /tmp/kvpkg.XXXXXX)
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_CONFIG_HOME HOME="$home" "$@"; }
check "kvmon --version from /usr/bin" test "$(run /usr/bin/kvmon --version)" = "kvmon $(dpkg-deb -f "$deb" Version)"
run /usr/bin/kvmon --status --json >"$artifacts/status.json" 2>&1 && status=0 || status=$?
cat "$artifacts/status.json"
check "kvmon --status --json from /usr/bin" test "$status" -eq 0
check "status is JSON with the store" grep -q '"store"' "$artifacts/status.json"
for tool in kvstore kvhid kvmouse; do
  check "$tool --version from /usr/bin" test "$(run /usr/bin/$tool --version)" = "$tool $(dpkg-deb -f "$deb" Version)"
  check "man page of $tool" test -f "/usr/share/man/man1/$tool.1.gz"
done
check "autostart entry in /etc/xdg/autostart" test -f /etc/xdg/autostart/kvmon.desktop
check "udev rule in /usr/lib/udev/rules.d" test -f /usr/lib/udev/rules.d/70-kvmon.rules
check "systemd user unit" test -f /usr/lib/systemd/user/kvmon.service
check "the hook library in the private folder" sh -c 'ls /usr/lib/*/kvmon/libgxHook.so /usr/lib/kvmon/libgxHook.so 2>/dev/null | grep -q .'
cp /usr/lib/udev/rules.d/70-kvmon.rules "$artifacts/70-kvmon.rules"
# udev parses the installed rule without complaint (it names a rule's faults as "FILE:LINE ...").
# Matching it against a hidraw node needs a real kernel's sysfs (the real-kernel checks do that).
udevadm test --action=add /sys/devices/virtual/mem/null >"$artifacts/udevadm-test.txt" 2>&1 || true
check "udev reads the installed rule" grep -q "Reading rules file: /usr/lib/udev/rules.d/70-kvmon.rules" "$artifacts/udevadm-test.txt"
check "udev finds no fault in it" sh -c "! grep -q '70-kvmon.rules:[0-9]' '$artifacts/udevadm-test.txt'"
rm -rf "$home"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -q kvmon >"$artifacts/apt-purge.txt" 2>&1
check "kvmon is removed" test ! -e /usr/bin/kvmon
check "its conffiles are purged" test ! -e /etc/kvmon/config.ini
echo "package check took $(( $(date +%s) - t0 )) s"
if [ "$failures" -ne 0 ]; then echo "test-package.sh: $failures check(s) failed"; exit 1; fi
echo "test-package.sh: all checks passed"
