# A real USB HID device: a configfs gadget on dummy_hcd with a mouse interface (0) and the vendor
# interface (1), bound by usbhid; then the installed udev rule's access grant (sourced by
# linux.sh, with systemd-udevd and the root session's kvmon running).
# A configfs attribute takes its value in one write: the descriptor is made whole first.
hex2bin() { local b; for b in $(sed 's/#.*//' "$1"); do printf "\\x$b"; done >"$W/desc.bin"; cat "$W/desc.bin"; }
g=/sys/kernel/config/usb_gadget/kv
mkdir -p $g/strings/0x409 $g/configs/c.1/strings/0x409 $g/functions/hid.mouse $g/functions/hid.vendor
echo 0x4b56 >$g/idVendor; echo 0x0004 >$g/idProduct; echo 0x0205 >$g/bcdDevice
echo kvtest >$g/strings/0x409/manufacturer; echo "kvtest USB mouse" >$g/strings/0x409/product
echo 100 >$g/configs/c.1/MaxPower
sed -n '/^05 01 09 02/,/^c0 c0/p' "$fixtures/mouse_and_vendor.hex" >"$W/mouse.hex"
echo 2 >$g/functions/hid.mouse/protocol; echo 1 >$g/functions/hid.mouse/subclass
echo 5 >$g/functions/hid.mouse/report_length
hex2bin "$W/mouse.hex" >$g/functions/hid.mouse/report_desc
echo 0 >$g/functions/hid.vendor/protocol; echo 0 >$g/functions/hid.vendor/subclass
echo 8 >$g/functions/hid.vendor/report_length
hex2bin "$fixtures/vendor_only.hex" >$g/functions/hid.vendor/report_desc
ln -s $g/functions/hid.mouse $g/configs/c.1/
ln -s $g/functions/hid.vendor $g/configs/c.1/
t_usb=$(now_ms)
ls /sys/class/udc >"$W/udc.out"
head -n 1 "$W/udc.out" >$g/UDC
usb_nodes() { grep -l 'HID_ID=0003:00004B56:00000004' /sys/class/hidraw/*/device/uevent 2>/dev/null | wc -l; }
if wait_until 30 '[ "$(usb_nodes)" = 2 ]'; then
  info "USB gadget enumerated, two hidraw nodes in $(( $(now_ms) - t_usb )) ms"
else
  fail "USB gadget: two hidraw nodes appear" "$(usb_nodes) after 30 s"
fi
usb_vendor=""
for u in $(grep -l 'HID_ID=0003:00004B56:00000004' /sys/class/hidraw/*/device/uevent); do
  n=$(basename "$(dirname "$(dirname "$u")")")
  [ "$(cat "/sys/class/hidraw/$n/device/../bInterfaceNumber" 2>/dev/null)" = 01 ] && usb_vendor=/dev/$n
done
"$kvhid" list --json >"$W/list-usb.json"
check "USB: the vendor interface's IDs carry &REV_ and &MI_" \
  '["HID\\VID_4B56&PID_0004&REV_0205&MI_01","HID\\VID_4B56&PID_0004&MI_01","HID\\VID_4B56&UP:FFA0_U:0001","HID_DEVICE_UP:FFA0_U:0001","HID_DEVICE"]' \
  "$(jq -c --arg p "$usb_vendor" '.interfaces[] | select(.path == $p) | .hardware_ids' "$W/list-usb.json")"
check "USB: the mouse interface is &MI_00" 'HID\VID_4B56&PID_0004&REV_0205&MI_00' \
  "$(jq -r '.interfaces[] | .hardware_ids[0] | select(startswith("HID\\VID_4B56&PID_0004&REV_0205&MI_00"))' "$W/list-usb.json")"
hidg=/dev/hidg$(cat $g/functions/hid.vendor/dev | cut -d: -f2)
if wait_until 30 '[ "$(fds_to "$mon" "$usb_vendor")" -ge 1 ]'; then ok "USB: kvmon opens the included &MI_01 interface"
else fail "USB: kvmon opens the included &MI_01 interface" "no descriptor to $usb_vendor"; fi
m0=$(mute root)
printf '\x07\x08\x00\x00\x00\x00\x00\x00' >"$hidg"; printf '\x07\x00\x00\x00\x00\x00\x00\x00' >"$hidg"
wait_until 30 '[ "$(mute root)" != "$m0" ]'
check "USB: a press from the gadget toggles the mute" "$([ "$m0" = yes ] && echo no || echo yes)" "$(mute root)"

# The rule the tree installs, as systemd-udevd applied it to the mouse's nodes.
# (udevadm settle does nothing in a chroot: udevd's database entry for the node tells instead.)
wait_for 30 test -e "/run/udev/data/c$(cat "/sys/class/hidraw/${usb_vendor#/dev/}/dev")"
props=$(udevadm info -q property "$usb_vendor")
check "udev rule: the mouse's vendor node is tagged for the seat's user (uaccess)" yes \
  "$(echo "$props" | grep -q '^CURRENT_TAGS=.*:uaccess:' && echo yes || echo no)"
info "uaccess: logind turns the tag into an ACL for the active seat's user; this machine runs no logind"
read -r node_gid node_mode < <(stat -c '%g %a' "$usb_vendor")
if [ "$node_gid" = 0 ] || [ $(( 8#$node_mode & 8#060 )) -ne $(( 8#060 )) ]; then
  skip "udev rule: an unprivileged user in the rule's group reads the mouse" \
    "the rule grants no group access (node $usb_vendor is $(stat -c '%U:%G %a' "$usb_vendor"))"
else
  # kvmon as nobody, whose only way to the node is the group the rule gave it.
  session_start user "setpriv --reuid=65534 --regid=65534 --groups=$node_gid"
  session_kvmon user 'HID\VID_4B56&PID_0004&MI_01'
  umon=$KVMON_PID
  if wait_until 60 '[ "$(fds_to "$umon" "$usb_vendor")" -ge 1 ]'; then ok "udev rule: kvmon as an unprivileged user opens the mouse"
  else fail "udev rule: kvmon as an unprivileged user opens the mouse" "$(tail -n 3 "$W/user/kvmon.out")"; fi
  printf '\x07\x08\x00\x00\x00\x00\x00\x00' >"$hidg"; printf '\x07\x00\x00\x00\x00\x00\x00\x00' >"$hidg"
  wait_until 30 '[ "$(mute user)" = yes ]'
  check "udev rule: the unprivileged kvmon mutes on a press" yes "$(mute user)"
  session_stop user
fi
echo "" >$g/UDC
