#!/usr/bin/env bash
# End-to-end run of kvmon on real Linux services, all started here and private to this run:
# a D-Bus session bus (dbus-run-session), a sound server with two null sources (its pulse server
# killed and started again on the way), Qt's offscreen platform, and the virtual mouse.
# Usage: scripts/e2e-linux.sh [BUILD_DIR]   (default: build)
# KV_E2E_SOUND_SERVER=pipewire runs PipeWire with its pulse server and session manager instead of
# PulseAudio (exit status 77, a skip, where PipeWire is not installed).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
server=${KV_E2E_SOUND_SERVER:-pulseaudio}
case "$server" in
  pulseaudio) ;;
  pipewire)
    for p in pipewire pipewire-pulse wireplumber; do
      command -v "$p" >/dev/null || { echo "e2e: $p is not installed; PipeWire run skipped"; exit 77; }
    done ;;
  *) echo "e2e: unknown sound server '$server'" >&2; exit 2 ;;
esac
if [ -z "${KV_E2E_INSIDE_BUS:-}" ]; then
  exec env KV_E2E_INSIDE_BUS=1 dbus-run-session -- "$0" "$build"
fi

bin="$build/bin"
work=$(mktemp -d /tmp/kve2e.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
export KVMON_REGISTRY="$work/registry.db" QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if [ "$server" = pulseaudio ]; then
  export PULSE_RUNTIME_PATH="$work/pulse" PULSE_STATE_PATH="$work/pulse" PULSE_SERVER="unix:$work/pulse/native"
  mkdir -p "$PULSE_RUNTIME_PATH"
else
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
fi

. scripts/e2e-lib.sh  # the working folder is the top of the tree
mute() { pactl get-source-mute "${1:-kvtest_mic}" | awk '{print $2}'; }
muted_is() { [ "$(mute "$1")" = "$2" ]; }  # muted_is SOURCE yes|no

pulse=""  # the process that serves the pulse protocol, which the run kills and starts again
pipewire_started=""
start_pulse() {  # the sound server with two microphones, kvtest_mic the default
  if [ "$server" = pulseaudio ]; then
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit=false \
      -L "module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native" \
      -L "module-null-source source_name=kvtest_mic" -L "module-null-source source_name=kvtest_other" \
      -L module-null-sink >>"$work/pulse.log" 2>&1 &
    pulse=$!
    pids+=($pulse)
  else
    if [ -z "$pipewire_started" ]; then  # PipeWire and its session manager stay up throughout
      pipewire >>"$work/pulse.log" 2>&1 &
      pids+=($!)
      wait_for 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { echo "e2e: PipeWire did not start"; cat "$work/pulse.log"; exit 1; }
      wireplumber >>"$work/pulse.log" 2>&1 &
      pids+=($!)
      pipewire_started=yes
    fi
    pipewire-pulse >>"$work/pulse.log" 2>&1 &
    pulse=$!
    pids+=($pulse)
    wait_for 10 pactl info || { echo "e2e: pipewire-pulse did not start"; cat "$work/pulse.log"; exit 1; }
    # Virtual sources made through the pulse server live as long as it does.
    for s in kvtest_mic kvtest_other; do
      pactl load-module module-null-sink sink_name=$s media.class=Audio/Source/Virtual >/dev/null
    done
  fi
  wait_for 10 pactl get-source-mute kvtest_other || { echo "e2e: $server did not start"; cat "$work/pulse.log"; exit 1; }
  pactl set-default-source kvtest_mic
  wait_for 5 sh -c '[ "$(pactl get-default-source)" = kvtest_mic ]'
}
start_pulse
echo "sound server: $server ($(pactl info | sed -n 's/^Server Name: //p'))"

# The desktop notifications kvmon sends, as the session bus carries them (there is no
# notification service on this bus: the calls fail, and kvmon must not mind).
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
  >"$work/notify.log" 2>&1 &
pids+=($!)
notifications() { grep -c 'member=Notify' "$work/notify.log" || true; }

# The configurator answers each on-board switch with a sent WM_PROFILE_CHANGED of its own.
"$bin/kv_fake_configurator" --answer-switch >"$work/cfg.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q ready "$work/cfg.out"

sock="$work/mouse.sock"
KVMON_DEBUG=1 "$bin/kvmon" --virtual-mouse "$sock" >"$work/kvmon.out" 2>&1 &
kvmon=$!
pids+=($kvmon)
wait_for 10 busctl --user status org.kvmon.window.TKVMONMAIN || { echo "e2e: kvmon did not start"; cat "$work/kvmon.out"; exit 1; }

# A second copy ends at once with status 0 and leaves the first running, its socket included.
status=0; timeout 10 "$bin/kvmon" --virtual-mouse "$sock" >"$work/second.out" 2>&1 || status=$?
check "second instance exits 0" 0 "$status"
check "second instance says nothing" "" "$(cat "$work/second.out")"
check "first instance still runs" yes "$(kill -0 $kvmon 2>/dev/null && echo yes || echo no)"
check "first instance keeps its socket" yes "$([ -S "$sock" ] && echo yes || echo no)"

# Button 3 of profile 0 bound to microphone mute; the monitor is told and reloads.
"$build/tools/kvstore/kvstore" set-button 0 3 28 >/dev/null
# The read channel opens about 3 s after start (watcher start-up plus the re-open timer).
sleep 3.5
check "microphone starts unmuted" no "$(mute)"
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_mic yes || true
check "press 3 mutes the default source" yes "$(mute)"
wait_for 5 grep -q 'string "麦克风已静音"' "$work/notify.log" || true
check "the press sent a desktop notification (Chinese: a fresh store)" 1 "$(notifications)"
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_mic no || true
check "a second press unmutes it" no "$(mute)"
"$bin/kvmouse" "$sock" press 4
sleep 0.5
check "an unbound button changes nothing" no "$(mute)"

# The user turns the notifications off: the running monitor follows at the next press.
"$build/tools/kvstore/kvstore" mute-notifications off >/dev/null
before=$(notifications)
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_mic yes || true
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_mic no || true
sleep 0.5
check "no notification while they are off" "$before" "$(notifications)"
"$build/tools/kvstore/kvstore" mute-notifications on >/dev/null

# Another microphone becomes the default (a headset plugged in): presses follow it and leave the
# first one alone.
pactl set-default-source kvtest_other
sleep 0.5
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_other yes || true
check "after a default change a press mutes the new default" yes "$(mute kvtest_other)"
check "... and leaves the old one as it was" no "$(mute kvtest_mic)"
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_other no || true
check "a second press unmutes the new default" no "$(mute kvtest_other)"

# The sound server dies: a press does nothing and says so; once a new server runs, the next
# press mutes its default source.
kill -9 "$pulse"; wait "$pulse" 2>/dev/null || true
wait_for 5 grep -q "lost the connection to the audio service" "$work/kvmon.out" || true
check "kvmon saw the server go" yes "$(grep -q 'lost the connection to the audio service' "$work/kvmon.out" && echo yes || echo no)"
"$bin/kvmouse" "$sock" press 3
wait_for 5 grep -q "no connection to the audio service; the press changes nothing" "$work/kvmon.out" || true
check "a press without a server is traced" yes "$(grep -q 'no connection to the audio service; the press changes nothing' "$work/kvmon.out" && echo yes || echo no)"
start_pulse
wait_for 10 grep -q "connected to the audio service" "$work/kvmon.out" || true
check "kvmon reconnected by itself" yes "$(grep -q 'microphone: connected to the audio service' "$work/kvmon.out" && echo yes || echo no)"
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_mic yes || true
check "after the restart a press mutes the default again" yes "$(mute kvtest_mic)"
check "... and only the default" no "$(mute kvtest_other)"
"$bin/kvmouse" "$sock" press 3
wait_for 5 muted_is kvtest_mic no || true
check "a second press after the restart unmutes it" no "$(mute kvtest_mic)"

# An on-board profile switch: ProfileID written, the configurator told (sent, wParam 3).
"$bin/kvmouse" "$sock" profile 3
wait_for 5 grep -q "^7040 3 0$" "$work/cfg.out" || true
check "configurator got WM_PROFILE_SWITCHED 3" yes "$(grep -q '^7040 3 0$' "$work/cfg.out" && echo yes || echo no)"
# The monitor serves the configurator's sent answer while its own send waits: no 10 s stall.
wait_for 3 grep -q "^answered" "$work/cfg.out" || true
check "the configurator's answer was served during the send" "answered 0" "$(grep -m 1 '^answer' "$work/cfg.out")"
check "ProfileID is 3" 3 "$("$build/tools/kvstore/kvstore" dump --json | sed -n 's/.*"profile_id": *\([0-9-]*\).*/\1/p' | head -n 1)"

# A device notification is posted on unchanged.
"$bin/kvmouse" "$sock" notify 9
wait_for 5 grep -q "^7042 9 0$" "$work/cfg.out" || true
check "configurator got WM_DEVICE_NOTIFY 9" yes "$(grep -q '^7042 9 0$' "$work/cfg.out" && echo yes || echo no)"

# The configurator's WM_PROFILE_CHANGED with lParam 2, through the bus's own tool.
busctl --user call org.kvmon.window.TKVMONMAIN /org/kvmon/window/TKVMONMAIN org.kvmon.Window Send utx 7035 0 2 >/dev/null
profile_id() { "$build/tools/kvstore/kvstore" dump --json | sed -n 's/.*"profile_id": *\([0-9-]*\).*/\1/p' | head -n 1; }
check "WM_PROFILE_CHANGED writes ProfileID 2" 2 "$(profile_id)"

# An edit tells the monitor to reload but leaves the recorded on-board profile alone.
"$build/tools/kvstore/kvstore" reset 3 >/dev/null
sleep 1
check "reset 3 leaves ProfileID 2" 2 "$(profile_id)"
# A switch makes the running monitor use the new profile: button 5 is bound in profile 1 only.
"$build/tools/kvstore/kvstore" set-button 1 5 28 >/dev/null
"$build/tools/kvstore/kvstore" switch 1 >/dev/null
sleep 1
"$bin/kvmouse" "$sock" press 5
wait_for 5 sh -c "[ \"\$(pactl get-source-mute kvtest_mic | awk '{print \$2}')\" = yes ]" || true
check "after switch 1, button 5 of profile 1 mutes" yes "$(mute)"
check "switch leaves ProfileID 2" 2 "$(profile_id)"
# Back to profile 0, whose button 3 the later runs press.
"$build/tools/kvstore/kvstore" switch 0 >/dev/null

# Idle cost with the virtual mouse open: context switches and resident memory over 10 s.
if [ "${KV_E2E_MEASURE:-1}" = 1 ]; then
  ctx() { awk '/ctxt_switches/ {s += $2} END {print s}' /proc/$kvmon/task/*/status; }
  before=$(ctx); sleep 10; after=$(ctx)
  rss=$(awk '/VmRSS/ {print $2, $3}' /proc/$kvmon/status)
  echo "idle kvmon: $(( after - before )) context switches in 10 s (all threads), VmRSS $rss"
fi

# kvmon --status sees the running monitor; kvmon --quit ends it through its window, as Exit does.
check "kvmon --status sees the running monitor" yes \
  "$("$bin/kvmon" --status --json | grep -q '"monitor_running": true' && echo yes || echo no)"
status=0; timeout 20 "$bin/kvmon" --quit >/dev/null || status=$?
check "kvmon --quit exits 0" 0 "$status"
wait_for 10 sh -c "! kill -0 $kvmon 2>/dev/null" || true
check "kvmon --quit ended the monitor" no "$(kill -0 $kvmon 2>/dev/null && echo yes || echo no)"
check "the configurator got WM_MONITOR_EXIT" yes "$(grep -q '^7036 0 0$' "$work/cfg.out" && echo yes || echo no)"

check "the socket is removed after --quit" no "$([ -e "$sock" ] && echo yes || echo no)"

# Started again, with a configurator again (the first one ended on WM_MONITOR_EXIT): SIGTERM
# (logout, systemctl --user stop) ends it as Exit does: the configurator is told, the socket goes,
# status 0.
"$bin/kv_fake_configurator" >"$work/cfg2.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q ready "$work/cfg2.out"
"$bin/kvmon" --virtual-mouse "$sock" >>"$work/kvmon.out" 2>&1 &
kvmon=$!
pids+=($kvmon)
wait_for 10 busctl --user status org.kvmon.window.TKVMONMAIN || { echo "e2e: kvmon did not start again"; cat "$work/kvmon.out"; }
kill -TERM $kvmon
status=0; wait $kvmon || status=$?
check "SIGTERM ends kvmon with status 0" 0 "$status"
wait_for 5 grep -q "^7036 0 0$" "$work/cfg2.out" || true
check "configurator got WM_MONITOR_EXIT after SIGTERM" yes "$(grep -q '^7036 0 0$' "$work/cfg2.out" && echo yes || echo no)"
check "the socket is removed" no "$([ -e "$sock" ] && echo yes || echo no)"

# A file at the socket's path is nobody's socket to replace.
echo keep >"$work/notes.txt"
status=0; timeout 10 "$bin/kvmon" --virtual-mouse "$work/notes.txt" >"$work/file.out" 2>&1 || status=$?
check "a regular file at the socket path is refused" 1 "$status"
check "the file is left as it was" keep "$(cat "$work/notes.txt")"

# No display at all: no tray, said once, and the mouse still toggles the microphone.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/kvmon" --virtual-mouse "$sock" >"$work/headless.out" 2>&1 &
headless=$!
pids+=($headless)
wait_for 10 busctl --user status org.kvmon.window.TKVMONMAIN || { echo "e2e: headless kvmon did not start"; cat "$work/headless.out"; }
check "no display is said once" 1 "$(grep -c 'no display' "$work/headless.out")"
sleep 3.5
before=$(mute)
"$bin/kvmouse" "$sock" press 3
wait_for 5 sh -c "[ \"\$(pactl get-source-mute kvtest_mic | awk '{print \$2}')\" != $before ]" || true
check "without a display press 3 still toggles the microphone" "$([ "$before" = yes ] && echo no || echo yes)" "$(mute)"
kill -INT $headless
status=0; wait $headless || status=$?
check "SIGINT ends kvmon with status 0" 0 "$status"
check "the socket is removed after SIGINT" no "$([ -e "$sock" ] && echo yes || echo no)"

# A display that cannot be opened, and a lock folder that cannot be used: both said, and kvmon
# runs on without a tray and without the single-instance guard.
echo "not a folder" >"$work/runtime-file"
QT_QPA_PLATFORM= DISPLAY=:97 XDG_RUNTIME_DIR="$work/runtime-file" "$bin/kvmon" >"$work/nolock.out" 2>&1 &
nolock=$!
pids+=($nolock)
wait_for 10 busctl --user status org.kvmon.window.TKVMONMAIN || { echo "e2e: kvmon without lock did not start"; cat "$work/nolock.out"; }
check "an unusable display is named" 1 "$(grep -c 'DISPLAY=:97 cannot be used' "$work/nolock.out")"
check "Qt's own display complaints stay off stderr" 0 "$(grep -c 'qt.qpa' "$work/nolock.out")"
check "an unusable lock is said" 1 "$(grep -c 'No single-instance guard' "$work/nolock.out")"
kill -HUP $nolock
status=0; wait $nolock || status=$?
check "SIGHUP ends kvmon with status 0" 0 "$status"

echo "kvmon debug output:"; sed 's/^/  /' "$work/kvmon.out" | tail -n 20
if [ "$failures" -ne 0 ]; then echo "e2e: $failures check(s) failed"; exit 1; fi
echo "e2e: all checks passed"
