# The Windows build under Wine on the real kernel (run by the machine's init; the prefix was made
# on the host). Wine's HID bus reads the hidraw nodes of uhid fixtures.
set -u
. "$KV_SRC/tests/kernel/lib.sh"
mkdir -p "$HOME"
fixtures="$KV_SRC/tests/kernel"
wine=/usr/lib/wine/wine64
export WINEPREFIX="$KV_WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Programs run from the machine's memory: run from the share, a PE image faults at its data.
cp -r "$KV_WORK/win" "$W/win"

uhid_start vo --pid 0001 --name "kvtest vendor" "$fixtures/vendor_only.hex"
uhid_start mv --pid 0002 --name "kvtest mouse" "$fixtures/mouse_and_vendor.hex"
info "uhid nodes: vendor-only $(uhid_node vo), mouse+vendor $(uhid_node mv)"
t0=$(now_ms)
setsid -f /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
list() { (cd "$W/win" && "$wine" kvhid.exe list --json) >"$W/list.json" 2>"$W/list.err"; }
list
figure "kvhid.exe list on a cold Wine: $(( $(now_ms) - t0 )) ms"
entry() { jq -c --arg id "$1" '[.interfaces[] | select(.hardware_ids | index($id))] | map([.usage_page, .usage, .input_len, .output_len, .feature_len])' "$W/list.json"; }
# On a slow start Wine's HID bus may list a device before it can open it (no capabilities yet):
# list again, a few times, before judging.
for i in 1 2 3 4 5; do
  case "$(entry 'HID\VID_4B56&PID_0001')$(entry 'HID\VID_4B56&PID_0002')" in *null*) ;; *) break ;; esac
  info "Wine listed a device without its capabilities; listing again ($i)"
  sleep 3
  list
done
check "kvhid.exe lists the vendor-only device with usage 0xFFA0/1" '[[65440,1,8,8,8]]' "$(entry 'HID\VID_4B56&PID_0001')"
check "Wine 8 lists the two-collection device as one interface with the mouse's usage" '[[1,2]]' \
  "$(entry 'HID\VID_4B56&PID_0002' | jq -c 'map(.[0:2])')"
check "Wine 8 gives the two-collection device no &ColNN IDs" 0 \
  "$(jq -r '.interfaces[].hardware_ids[]' "$W/list.json" | grep -c 'PID_0002&Col')"
info "Wine's input/output/feature lengths of the two-collection device: $(entry 'HID\VID_4B56&PID_0002' | jq -c 'map(.[2:5])')"
info "Wine's IDs of the two-collection device: $(jq -r '[.interfaces[] | select(.hardware_ids | index("HID\\VID_4B56&PID_0002")) | .hardware_ids[]] | join(" ")' "$W/list.json")"

# KVMON.EXE with the vendor-only device in its include list.
t0=$(now_ms)
(cd "$W/win" && WINEDEBUG=warn+seh exec "$wine" KVMON.EXE) >"$W/kvmon.log" 2>&1 &
kvmon=$!
seen=no
for i in $(seq 120); do
  uhid_send vo "input 07 08 00 00 00 00 00 00"; uhid_send vo "input 07 00 00 00 00 00 00 00"
  if grep -q 'KeyIndex = 3 postmessage record' "$W/kvmon.log"; then seen=yes; break; fi
  sleep 1
done
figure "KVMON.EXE start to its first report read: $(( $(now_ms) - t0 )) ms"
check "KVMON.EXE reads report 7 through its overlapped ReadFile path (KeyIndex = 3)" yes "$seen"
uhid_send vo "input 08 01 02 00 00 00 00 00"
profile=""
for i in $(seq 10); do
  sleep 1
  profile=$("$wine" reg query 'HKCU\software\software\KVgmmouse' /v ProfileID 2>/dev/null | tr -d '\r' | awk '/ProfileID/ {print $3}')
  [ "$profile" = 0x2 ] && break
done
check "KVMON.EXE: report 8 (on-board profile 2) sets ProfileID" 0x2 "$profile"
kill "$kvmon" 2>/dev/null
/usr/lib/wine/wineserver -k 2>/dev/null
uhid_stop vo; uhid_stop mv
keep_logs
exit $fails
