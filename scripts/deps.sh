#!/usr/bin/env bash
# Installs the Debian packages that building and testing kvmon needs. Run as root (or with sudo).
# KV_DEPS_WINDOWS=0 leaves out the Windows cross-build and Wine.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
pkgs=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev nlohmann-json3-dev
  libglib2.0-dev
  qt6-base-dev libudev-dev libpulse-dev libasound2-dev libdbus-1-dev
  dbus dbus-x11 pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber xdg-user-dirs xvfb
  systemd libglib2.0-bin
  clang libclang-rt-14-dev clang-format
)
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
