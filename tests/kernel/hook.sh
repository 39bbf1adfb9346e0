# libgxHook.so on real evdev and uinput devices (sourced by linux.sh).
evdev="$bin/kv_evdev"
rm -f "$W/ev.in" && mkfifo "$W/ev.in"
"$evdev" devices <"$W/ev.in" >"$W/ev.out" 2>&1 &
ev_pid=$!
exec {ev_fd}>"$W/ev.in"
wait_for 30 grep -q '^mouse /dev' "$W/ev.out"
kb=$(sed -n 's/^keyboard //p' "$W/ev.out") ms=$(sed -n 's/^mouse //p' "$W/ev.out")
info "uinput devices: keyboard $kb, mouse $ms"
ev() { echo "$*" >&$ev_fd; }

# hook_run NAME RUNAS: the driver, with the hook library of the build, on the two devices.
hook_run() {
  rm -f "$W/$1.in" && mkfifo "$W/$1.in"
  env GXHOOK_DEVICES="$kb=keyboard:$ms=mouse" G_MESSAGES_DEBUG=gxHook $2 \
    "$bin/kv_hook_driver" "$KV_BUILD/bin/libgxHook.so" <"$W/$1.in" >"$W/$1.out" 2>&1 &
  hook_pid=$!
  exec {hook_fd}>"$W/$1.in"
  wait_for 30 grep -q '^running' "$W/$1.out"
}
# type_all: A and B on the keyboard, left and right button and a move on the mouse.
type_all() {
  ev key 30 1; ev key 30 0; ev key 48 1; ev key 48 0
  ev key 272 1; ev key 272 0; ev key 273 1; ev key 273 0; ev rel 0 5
}
watch_both() {  # watch_both PREFIX KB-EVENTS MOUSE-EVENTS: the devices "PREFIX keyboard" and "PREFIX mouse"
  "$evdev" watch "$1 keyboard" 10000 "$2" >"$W/watch-kb.out" 2>&1 &
  wk=$!
  "$evdev" watch "$1 mouse" 10000 "$3" >"$W/watch-ms.out" 2>&1 &
  wm=$!
  wait_for 30 grep -q watching "$W/watch-kb.out"; wait_for 30 grep -q watching "$W/watch-ms.out"
}
events() { grep -v watching "$W/$1" | paste -sd'|'; }

hook_run hook ""
check "hook: the keyboard is grabbed" 0 "$("$evdev" grabbed "$kb"; echo $?)"
check "hook: the mouse is grabbed" 0 "$("$evdev" grabbed "$ms"; echo $?)"
watch_both "gxHook pass-through kvtest" 2 3
type_all
wait $wk $wm
check "hook: A passes on, B (blocked) is swallowed" "1 30 1|1 30 0" "$(events watch-kb.out)"
check "hook: the right button and the move pass on, the left button (blocked) is swallowed" \
  "1 273 1|1 273 0|2 0 5" "$(events watch-ms.out)"
check "hook: every event reached the callback" \
  "key 0x100 vk 0x41|key 0x101 vk 0x41|key 0x100 vk 0x42 blocked|key 0x101 vk 0x42 blocked|mouse 0x201 blocked|mouse 0x202 blocked|mouse 0x204|mouse 0x205|mouse 0x200" \
  "$(grep -E '^(key|mouse) ' "$W/hook.out" | paste -sd'|')"
echo disable >&$hook_fd
wait_for 30 grep -q '^disabled' "$W/hook.out"
check "hook: disabling releases the keyboard's grab" 1 "$("$evdev" grabbed "$kb"; echo $?)"
check "hook: disabling releases the mouse's grab" 1 "$("$evdev" grabbed "$ms"; echo $?)"
check "hook: the pass-through devices are gone" 1 "$("$evdev" find "gxHook pass-through" >/dev/null; echo $?)"
exec {hook_fd}>&-
wait $hook_pid

# A user who may read the devices but not write /dev/uinput: events are observed only.
chmod o+r "$kb" "$ms"
hook_run hook-user "setpriv --reuid=65534 --regid=65534 --clear-groups"
check "observe only: the keyboard is not grabbed" 1 "$("$evdev" grabbed "$kb"; echo $?)"
watch_both "kvtest" 4 5
type_all
wait $wk $wm
check "observe only: blocked keys still reach the desktop" "1 30 1|1 30 0|1 48 1|1 48 0" "$(events watch-kb.out)"
check "observe only: the callback still sees every key" 4 "$(grep -c '^key ' "$W/hook-user.out")"
check "observe only: the library says so" 1 "$(grep -c 'input is observed only' "$W/hook-user.out")"
exec {hook_fd}>&-
wait $hook_pid
chmod o-r "$kb" "$ms"
ev quit
exec {ev_fd}>&-
wait $ev_pid
