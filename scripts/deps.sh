#!/usr/bin/env bash
# Installs the Debian packages that building and testing kvmon needs. Run as root (or with sudo).
# KV_DEPS_WINDOWS=0 leaves out the Windows cross-build and Wine; KV_DEPS_CHECKS=0 the tray host,
# X automation and package checker that only the desktop and package checks use (scripts/run.sh
# sets both: a user's desktop needs neither).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
pkgs=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev nlohmann-json3-dev libcli11-dev
  libglib2.0-dev
  qt6-base-dev libudev-dev libpulse-dev libasound2-dev libdbus-1-dev
  dbus dbus-x11 pulseaudio pulseaudio-utils xdg-user-dirs xvfb
  systemd libglib2.0-bin
  clang libclang-rt-14-dev clang-format
  fonts-wqy-microhei
)
if [ "${KV_DEPS_CHECKS:-1}" != "0" ]; then
  pkgs+=(xfce4-panel xdotool lintian dpkg-dev)
fi
if [ "${KV_DEPS_WINDOWS:-1}" != "0" ]; then
  pkgs+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 googletest)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
