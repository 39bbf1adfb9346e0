#!/usr/bin/env bash
# The real-kernel leg: boots Debian's kernel in QEMU (software emulation; no KVM needed) with a
# busybox initramfs, shares the host's root read-only with the machine, and runs checks of the
# Linux HID, udev and input paths (hidraw, uhid, uinput, a USB HID gadget, systemd-udevd, the
# hook library, kvmon) inside it against the build tree; another machine runs the Windows build
# under Wine against the same kind of devices. Prints one line per check and the totals, and
# exits non-zero when a check fails.
#
#   scripts/test-kernel.sh [--linux-only | --windows-only] [BUILD_DIR]   (default: build)
#   scripts/test-kernel.sh --descriptor FILE...   plugs each report descriptor (hex text or
#                                                 binary) in as a uhid device, prints kvhid list --json
#
# The Windows part needs the cross-build in build-win/ (built here when missing).
# The Linux checks run in two machines at once: "kvhid reads kvmon idle udev latency" and "hook
# usb". KV_KERNEL_CHECKS="GROUP..." runs only the groups named, in one machine. KV_KERNEL_KEEP=1
# keeps the run's folder (the machines' logs) in /tmp. KV_KERNEL_KVM=1 uses KVM where /dev/kvm
# works (not on hosts that are themselves guests without nested virtualisation: there it hangs).
# KV_KERNEL_TIMEOUT (seconds, default 420) bounds each machine.
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."
src=$PWD
t_start=$EPOCHREALTIME
since() { awk -v now="$EPOCHREALTIME" -v t0="$1" 'BEGIN {printf "%.3f", now - t0}'; }

mode=all build=build descriptors=()
while [ $# -gt 0 ]; do
  case "$1" in
    --linux-only) mode=linux ;;
    --windows-only) mode=windows ;;
    --descriptor)
      mode=descriptor; shift
      for f in "$@"; do case "$f" in /*) descriptors+=("$f") ;; *) descriptors+=("$caller/$f") ;; esac; done
      break ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "test-kernel.sh: unknown option $1" >&2; exit 2 ;;
    *) build=$1 ;;
  esac
  shift
done
if [ "$mode" = descriptor ] && [ ${#descriptors[@]} -eq 0 ]; then
  echo "test-kernel.sh: --descriptor needs at least one file" >&2; exit 2
fi
for f in "${descriptors[@]}"; do
  [ -r "$f" ] || { echo "test-kernel.sh: cannot read $f" >&2; exit 2; }
done

# --- packages and the kernel -------------------------------------------------------------------
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
pkgs=(qemu-system-x86 busybox-static udev jq xz-utils)
[ "$mode" = all ] || [ "$mode" = windows ] && pkgs+=(wine64)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

cache=${KV_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kvmon-kernel}
mkdir -p "$cache"
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
kpkg=$(kernel_package)
if [ -z "$kpkg" ]; then $SUDO apt-get update -q >&2; kpkg=$(kernel_package); fi
[ -n "$kpkg" ] || { echo "test-kernel.sh: no Debian kernel package found (apt-get update?)" >&2; exit 1; }
kver=${kpkg#linux-image-}
if [ ! -s "$cache/$kver/vmlinux" ]; then
  echo "== fetching the kernel ($kpkg)" >&2
  rm -rf "$cache/$kver" && mkdir -p "$cache/$kver"
  (cd "$cache/$kver" && apt-get download "$kpkg" >&2 && dpkg-deb -x ./*.deb pkg && rm -f ./*.deb)
  # The uncompressed kernel boots through its PVH entry, twice as fast under emulation as the
  # bzImage: it is the XZ stream inside the bzImage.
  vmlinuz="$cache/$kver/pkg/boot/vmlinuz-$kver"
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dc >"$cache/$kver/vmlinux" 2>/dev/null || true
  [ -s "$cache/$kver/vmlinux" ] || { echo "test-kernel.sh: cannot unpack $vmlinuz" >&2; exit 1; }
fi
kdir="$cache/$kver/pkg/lib/modules/$kver"

# --- the build ----------------------------------------------------------------------------------
build=$(cd "$build" && pwd)
cmake --build "$build" --target kvmon kvhid kvstore kv_fake_configurator kv_uhid kv_evdev kv_hidraw_probe \
  kv_hook_driver kv_latency >&2
if [ "$mode" = all ] || [ "$mode" = windows ]; then
  scripts/test-windows.sh --build-only
fi

work=$(mktemp -d /tmp/kvkernel.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${KV_KERNEL_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# --- the initramfs ------------------------------------------------------------------------------
modules=(drivers/hid/hid.ko drivers/hid/uhid.ko drivers/hid/hid-generic.ko drivers/input/misc/uinput.ko
  drivers/input/evdev.ko net/9p/9pnet.ko net/9p/9pnet_virtio.ko fs/9p/9p.ko fs/fscache/fscache.ko
  fs/netfs/netfs.ko drivers/virtio/virtio.ko drivers/virtio/virtio_ring.ko drivers/virtio/virtio_pci.ko
  drivers/virtio/virtio_pci_modern_dev.ko drivers/virtio/virtio_pci_legacy_dev.ko
  drivers/usb/common/usb-common.ko drivers/usb/core/usbcore.ko drivers/usb/gadget/udc/udc-core.ko
  drivers/usb/gadget/udc/dummy_hcd.ko fs/configfs/configfs.ko drivers/usb/gadget/libcomposite.ko
  drivers/usb/gadget/function/usb_f_hid.ko drivers/hid/usbhid/usbhid.ko)
root="$work/initramfs"
mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/lib/modules/$kver"
cp /bin/busybox "$root/bin/busybox"
cp tests/kernel/init.sh "$root/init"
for m in "${modules[@]}"; do
  mkdir -p "$root/lib/modules/$kver/kernel/$(dirname "$m")"
  cp "$kdir/kernel/$m" "$root/lib/modules/$kver/kernel/$m"
done
cp "$kdir"/modules.order "$kdir"/modules.builtin "$root/lib/modules/$kver/" 2>/dev/null || true
busybox depmod -b "$root" "$kver"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initramfs.gz"

# --- one machine --------------------------------------------------------------------------------
# boot NAME PAYLOAD MEMORY MODULES [CHECKS]: runs tests/kernel/PAYLOAD inside (with the groups
# of checks named); its "KV ..." lines go to $work/NAME.log stamped with the host's clock (the
# machine's own clock runs slow under emulation).
boot() {
  local name=$1 payload=$2 mem=$3 modules=$4 checks=${5:-} share="$work/$1"
  mkdir -p "$share"
  local src_share=""
  case "$src" in /tmp/*|/run/*) src_share=1 ;; esac
  {
    printf 'KV_SRC=%q\nKV_BUILD=%q\nKV_PAYLOAD=%q\nKV_MODULES=%q\nKV_SRC_SHARE=%q\nKV_ARGS=%q\n' \
      "$src" "$build" "$payload" "$modules" "$src_share" "$checks"
  } >"$share/params"
  local extra=()
  [ -n "$src_share" ] && extra=(-virtfs "local,path=$src,mount_tag=src,security_model=none,readonly=on,multidevs=remap")
  local accel=tcg cpu=qemu64
  if [ "${KV_KERNEL_KVM:-0}" = 1 ] && [ -w /dev/kvm ]; then accel=kvm cpu=host; fi
  local t0 try
  for try in 1 2; do
  t0=$EPOCHREALTIME
  timeout "${KV_KERNEL_TIMEOUT:-420}" qemu-system-x86_64 -accel $accel -cpu $cpu -smp 1 -m "$mem" \
    -nographic -no-reboot -nic none -kernel "$cache/$kver/vmlinux" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 no_timer_check" \
    -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$share,mount_tag=vm,security_model=none,multidevs=remap" "${extra[@]}" \
    </dev/null 2>"$work/$name.qemu.err" |
    while IFS= read -r line; do
      line=${line%$'\r'}
      case "$line" in
        *"KV "*) echo "$(since "$t0") ${line#*KV }" ;;
        *) printf -- '- console %s\n' "$line" ;;
      esac
    done >"$work/$name.log"
  echo "$(since "$t0") end" >>"$work/$name.log"
  # Under a heavily loaded host the emulated kernel can panic before init; once, start it again.
  grep -q '^[0-9.]* boot$' "$work/$name.log" || [ "$try" = 2 ] && break
  mv "$work/$name.log" "$work/$name.try1.log"
  done
}

# report NAME TITLE: prints a machine's checks and figures; counts into passed/failed/skipped.
passed=0 failed=0 skipped=0
report() {
  local name=$1 title=$2 log="$work/$1.log"
  echo "== $title"
  local boot shell rc
  boot=$(awk '$2 == "boot" {print $1; exit}' "$log")
  shell=$(awk '$2 == "shell" {print $1; exit}' "$log")
  rc=$(awk '$2 == "rc" {print $3; exit}' "$log")
  echo "machine: kernel running at ${boot:-?} s, payload started at ${shell:-?} s, powered off at $(awk '$2 == "end" {print $1}' "$log") s"
  local own_fails=0
  while read -r stamp kind rest; do
    case "$kind" in
      ok) passed=$((passed + 1)); printf 'ok    %7.1fs  %s\n' "$stamp" "$rest" ;;
      FAIL) failed=$((failed + 1)); own_fails=$((own_fails + 1)); printf 'FAIL  %7.1fs  %s\n' "$stamp" "$rest" ;;
      skip) skipped=$((skipped + 1)); printf 'skip  %7.1fs  %s\n' "$stamp" "$rest" ;;
      info|figure) printf '%-5s %7.1fs  %s\n' "$kind" "$stamp" "$rest" ;;
      json) echo "$rest" ;;
    esac
  done <"$log"
  if [ -n "$rc" ] && [ "$rc" != "$own_fails" ]; then
    failed=$((failed + 1))
    echo "FAIL  the checks ended early (exit status $rc); the end of the console:"
    grep '^- console' "$log" | tail -n 10 | sed 's/^- console /  /'
  elif [ -z "$rc" ]; then
    failed=$((failed + 1))
    echo "FAIL  the machine did not finish its checks; the end of its console:"
    grep '^- console' "$log" | tail -n 30 | sed 's/^- console /  /'
    tail -n 5 "$work/$name.qemu.err" | sed 's/^/  qemu: /'
  fi
}

linux_modules="uhid hid-generic uinput evdev usbhid dummy_hcd libcomposite usb_f_hid"
case "$mode" in
  descriptor)
    mkdir -p "$work/desc/files"
    i=0
    for f in "${descriptors[@]}"; do i=$((i + 1)); cp "$f" "$work/desc/files/$(printf '%02d' $i)"; done
    boot desc descriptor.sh 512 "uhid hid-generic" || true
    i=0
    for f in "${descriptors[@]}"; do
      i=$((i + 1))
      echo "== $f"
      awk -v n="$(printf '%02d' $i)" '$2 == "json" && $3 == n {sub(/^[^ ]* [^ ]* [^ ]* /, ""); print}' "$work/desc.log"
      awk -v n="$(printf '%02d' $i)" '$2 == "error" && $3 == n {sub(/^[^ ]* [^ ]* [^ ]* /, ""); print "error: " $0}' "$work/desc.log"
    done
    if ! grep -q ' rc 0$' "$work/desc.log"; then
      echo "test-kernel.sh: the machine did not finish; the end of its console:" >&2
      grep '^- console' "$work/desc.log" | tail -n 20 | sed 's/^- console /  /' >&2
      exit 1
    fi
    # A descriptor that could not be plugged in is a failure of the run.
    ! awk '$2 == "error"' "$work/desc.log" | grep -q .
    exit $?
    ;;
esac

linux_machines=(linux)
if [ "$mode" != windows ]; then
  if [ -n "${KV_KERNEL_CHECKS:-}" ]; then
    boot linux linux.sh 1024 "$linux_modules" "$KV_KERNEL_CHECKS" &
    pids+=($!)
  else
    linux_machines=(linux linux2)
    boot linux linux.sh 1024 "$linux_modules" "kvhid reads kvmon idle udev latency" &
    pids+=($!)
    boot linux2 linux.sh 1024 "$linux_modules" "hook usb" &
    pids+=($!)
  fi
fi
if [ "$mode" != linux ]; then
  t_prefix=$EPOCHREALTIME
  tests/kernel/wine-prefix.sh "$work/wine" "$build" "$src/build-win" >"$work/wine-prefix.log" 2>&1 || {
    echo "test-kernel.sh: the Wine prefix could not be made:" >&2; cat "$work/wine-prefix.log" >&2; exit 1; }
  echo "== Wine prefix made on the host in $(since "$t_prefix") s"
  boot wine wine.sh 2048 "uhid hid-generic" &
  pids+=($!)
fi
wait "${pids[@]}" || true
pids=()

if [ "$mode" != windows ]; then
  for m in "${linux_machines[@]}"; do report "$m" "Linux on the real kernel ($m)"; done
fi
[ "$mode" != linux ] && report wine "the Windows build under Wine on the real kernel"
total=$((passed + failed))
pct=100
[ $total -gt 0 ] && pct=$((passed * 100 / total))
echo
echo "$pct% tests passed, $failed tests failed out of $total ($skipped skipped)"
echo "real-kernel leg: $(since "$t_start") s in total"
[ "$failed" -eq 0 ] && [ "$total" -gt 0 ]
