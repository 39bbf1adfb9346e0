# A desktop session for kvmon inside the test machine (sourced): its own D-Bus session bus,
# PulseAudio daemon with a null source "kvtest_mic", a stand-in configurator, and kvmon with
# Qt's offscreen platform, all run as one user (root, or an unprivileged uid through setpriv).
declare -A sess_runas sess_pids
# sess_env NAME: the command prefix (in SENV) that runs a command in that session's environment
# and as its user; env and setpriv exec, so a process started with it keeps one process ID.
sess_env() {
  local dir="$W/$1"
  SENV=(env HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" XDG_RUNTIME_DIR="$dir/run"
    KVMON_REGISTRY="$dir/registry.db" QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
    PULSE_RUNTIME_PATH="$dir/pulse" PULSE_STATE_PATH="$dir/pulse" PULSE_SERVER="unix:$dir/pulse/native"
    ${sess_runas[$1]})
}
in_session() { sess_env "$1"; shift; "${SENV[@]}" "$@"; }
mute() { in_session "$1" pactl get-source-mute kvtest_mic 2>/dev/null | awk '{print $2}'; }
profile_id() {
  in_session "$1" "$kvstore" dump --json 2>/dev/null | sed -n 's/.*"profile_id": *\([0-9-]*\).*/\1/p' | head -n 1
}
# session_start NAME RUNAS: RUNAS is empty for root or a setpriv command line.
session_start() {
  local name=$1 dir="$W/$1"
  sess_runas[$name]=$2
  mkdir -p "$dir/home" "$dir/run" "$dir/pulse" && chmod 700 "$dir/run" "$dir/pulse"
  [ -z "$2" ] || chown -R "$(echo "$2" | sed -n 's/.*--reuid=\([0-9]*\).*/\1/p')" "$dir"
  sess_env "$name"
  "${SENV[@]}" dbus-daemon --session --address="unix:path=$dir/bus" --nofork --nopidfile \
    >"$dir/dbus.log" 2>&1 &
  sess_pids[$name]="$!"
  "${SENV[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit=false --realtime=false --high-priority=false \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse/native" \
    -L "module-null-source source_name=kvtest_mic" -L module-null-sink >"$dir/pulse.log" 2>&1 &
  sess_pids[$name]+=" $!"
  wait_for 60 in_session "$name" pactl set-default-source kvtest_mic ||
    fail "$name session: PulseAudio starts" "$(tail -n 3 "$dir/pulse.log")"
  "${SENV[@]}" "$KV_BUILD/bin/kv_fake_configurator" >"$dir/cfg.out" 2>&1 &
  sess_pids[$name]+=" $!"
  wait_for 60 grep -q ready "$dir/cfg.out" || fail "$name session: the stand-in configurator starts"
}
# session_kvmon NAME ID...: a copy of kvmon whose config.ini includes the IDs, button 3 of
# profile 0 bound to the microphone mute. Its process ID is left in KVMON_PID.
session_kvmon() {
  local name=$1 dir="$W/$1"; shift
  mkdir -p "$dir/bin"
  cp "$KV_BUILD/bin/kvmon" "$KV_BUILD/bin/libgxHook.so" "$dir/bin/"
  {
    printf '[options]\nProfileRegFolder=software\\KVgmmouse\n\n[IncludeHIDDeviceList]\n'
    local i=0 id
    for id in "$@"; do i=$((i + 1)); printf 'id%d=%s\n' "$i" "$id"; done
  } >"$dir/bin/config.ini"
  [ -z "${sess_runas[$name]}" ] || chown -R "$(stat -c %u "$dir")" "$dir/bin"
  in_session "$name" "$kvstore" set-button 0 3 28 >/dev/null 2>&1
  sess_env "$name"
  "${SENV[@]}" env KVMON_DEBUG=1 "$dir/bin/kvmon" >"$dir/kvmon.out" 2>&1 &
  KVMON_PID=$!
  sess_pids[$name]+=" $KVMON_PID"
}
session_stop() {
  local p
  for p in ${sess_pids[$1]}; do kill "$p" 2>/dev/null; done
  sleep 0.5
}
