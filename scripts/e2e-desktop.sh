#!/usr/bin/env bash
# kvmon on a desktop, as a new user meets it: an X server (Xvfb), a private D-Bus session bus,
# xfce4-panel with its StatusNotifier tray, a PulseAudio daemon with a null source, Qt on xcb and
# the virtual mouse, all started here and private to this run. A fresh store under an English and
# under a Chinese locale; the tray menu as the panel reads it (dbusmenu); a click on the icon in
# the panel opens the settings window; the mute button and the language are changed there with
# the keyboard; the store, the menu and a button press follow. Screenshots go to SHOTS.
# Usage: scripts/e2e-desktop.sh [BUILD_DIR] [SHOTS]   (defaults: build, .ci/artifacts/desktop)
set -euo pipefail
[ -n "${KV_TRACE:-}" ] && set -x
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
shots="${2:-.ci/artifacts/desktop}"
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)
if [ -z "${KV_DESKTOP_INSIDE_BUS:-}" ]; then
  work=$(mktemp -d /tmp/kvdesk.XXXXXX)
  mkdir -p "$work/home" "$work/run" "$work/xdg" && chmod 700 "$work/run"
  # The bus daemon passes its environment to the services it starts (xfconfd): set it first.
  status=0
  env -u DISPLAY -u WAYLAND_DISPLAY KV_DESKTOP_INSIDE_BUS=1 KV_WORK="$work" HOME="$work/home" \
    XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_DIRS="$work/xdg" \
    XDG_DATA_HOME="$work/home/.local/share" KVMON_REGISTRY="$work/registry.db" \
    dbus-run-session -- "$0" "$build" "$shots" || status=$?
  rm -rf "$work"
  exit $status
fi

work="$KV_WORK"
bin="$build/bin"
kvstore="$build/tools/kvstore/kvstore"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

. scripts/e2e-lib.sh  # the working folder is the top of the tree
shot() { "$build/tests/linux/kv_screenshot" "$shots/$1.png" || echo "(no screenshot $1)"; }

# --- the desktop ------------------------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display" || { echo "e2e-desktop: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

# One top panel that holds only the notification area (StatusNotifier host and XEmbed tray).
panel_xml="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
mkdir -p "$panel_xml"
cat >"$panel_xml/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
EOF
xfce4-panel --disable-wm-check >"$work/panel.log" 2>&1 &
pids+=($!)
host_ready() {
  gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
    IsStatusNotifierHostRegistered | grep -q true
}
wait_for 30 host_ready || { echo "e2e-desktop: the panel's tray did not start"; cat "$work/panel.log"; exit 1; }

export PULSE_RUNTIME_PATH="$work/pulse" PULSE_STATE_PATH="$work/pulse" PULSE_SERVER="unix:$work/pulse/native"
mkdir -p "$PULSE_RUNTIME_PATH"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit=false \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native" \
  -L "module-null-source source_name=kvtest_mic" -L module-null-sink >"$work/pulse.log" 2>&1 &
pids+=($!)
wait_for 10 pactl get-source-mute kvtest_mic || { echo "e2e-desktop: PulseAudio did not start"; exit 1; }
pactl set-default-source kvtest_mic
mute() { pactl get-source-mute kvtest_mic | awk '{print $2}'; }

# --- the tray item as the panel sees it ---------------------------------------------------------
item=""
find_item() {
  item=$(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
    RegisteredStatusNotifierItems | grep -o "'[^']*'" | head -n 1 | tr -d "'")
  [ -n "$item" ]
}
item_service() { echo "${item%%/*}"; }
item_path() { echo "/${item#*/}"; }
# The visible menu entries, in order, as the panel would draw them.
menu_labels() {
  local menu
  menu=$(gdbus call --session -d "$(item_service)" -o "$(item_path)" \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu | grep -o "'/[^']*'" | tr -d "'")
  gdbus call --session -d "$(item_service)" -o "$menu" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' |
    grep -o "{[^{}]*'label': <'[^']*'>[^{}]*}" | grep -v "'visible': <false>" |
    grep -o "'label': <'[^']*'>" | sed "s/'label': <'\(.*\)'>/\1/" | paste -sd '|'
}
# The function code of button 4 of profile 0, from kvstore's dump.
button_awk_program='/^profile 0:/ {p = 1} p && /button  4:/ && !done {print $4; done = 1}'
button_awk="awk '$button_awk_program'"
# kvmon's visible window whose title starts with $1 (Qt adds the application's title).
settings_window() {
  local w
  for w in $(xdotool search --onlyvisible --class kvmon 2>/dev/null); do
    case "$(xdotool getwindowname "$w" 2>/dev/null)" in "$1"*) echo "$w"; return 0 ;; esac
  done
  return 1
}

start_kvmon() {  # start_kvmon LANG
  LC_ALL= LC_MESSAGES= LANG="$1" QT_QPA_PLATFORM=xcb KVMON_DEBUG=1 \
    "$bin/kvmon" --virtual-mouse "$work/mouse.sock" >"$work/kvmon.out" 2>&1 &
  kvmon=$!
  pids+=($kvmon)
  wait_for 20 find_item || { echo "e2e-desktop: kvmon's tray item did not appear"; cat "$work/kvmon.out"; exit 1; }
}
stop_kvmon() {
  local status=0
  timeout 20 "$bin/kvmon" --quit >/dev/null || status=$?
  check "kvmon --quit ends the monitor" 0 "$status"
  wait "$kvmon" 2>/dev/null || true
}

# --- English -------------------------------------------------------------------------------------
start_kvmon en_US.UTF-8
check "English menu on a fresh store (en_US)" "Config|Exit" "$(menu_labels)"
shot 1-tray-english

# A click on the icon in the panel (the only item of its tray, at its left end), once the panel
# has drawn it.
sleep 2
xdotool mousemove 16 16 click 1
if ! wait_for 10 settings_window "Gaming Mouse Settings"; then
  echo "note: the click at the panel's first icon did not open the window; activating through the item"
  gdbus call --session -d "$(item_service)" -o "$(item_path)" -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
fi
wait_for 10 settings_window "Gaming Mouse Settings" || { echo "FAIL the settings window did not open"; failures=$((failures + 1)); }
win=$(settings_window "Gaming Mouse Settings")
sleep 1
shot 2-settings-english

# The microphone button of profile 1: the window's focus starts on "Check again"; Tab to the
# profile's list, then "Button 4" (None, Button 0, ..., Button 4).
xdotool windowfocus --sync "$win" 2>/dev/null || true
sleep 0.5
xdotool key --delay 150 Tab Down Down Down Down Down
wait_for 10 sh -c "[ \"\$('$kvstore' dump | $button_awk)\" = 28 ]" || true
code=$("$kvstore" dump | awk "$button_awk_program")
check "the window bound button 4 of profile 1 to the microphone" 28 "$code"
sleep 1
shot 3-settings-mute-button
"$bin/kvmouse" "$work/mouse.sock" press 4 || true
wait_for 10 sh -c "[ \"\$(pactl get-source-mute kvtest_mic | awk '{print \$2}')\" = yes ]" || true
check "button 4 now mutes the default source" yes "$(mute)"

# The language: five lists further on (the other four profiles', then the language), one step up
# from English to Chinese.
xdotool key --delay 150 Tab Tab Tab Tab Tab Up
wait_for 10 sh -c "[ \"\$(menu_labels 2>/dev/null)\" != 'Config|Exit' ]" || true
language=$("$kvstore" dump | awk '/^language/ {print $2}')
check "the window stored the Chinese language" 0 "$language"
check "the tray menu follows in Chinese" "打开配置|退出软件" "$(menu_labels)"
wait_for 10 settings_window "游戏鼠标设置" || true
check "the settings window follows in Chinese" yes "$([ -n "$(settings_window "游戏鼠标设置")" ] && echo yes || echo no)"
sleep 1
shot 4-settings-chinese
stop_kvmon

# --- Chinese -------------------------------------------------------------------------------------
rm -f "$KVMON_REGISTRY"
start_kvmon zh_CN.UTF-8
check "Chinese menu on a fresh store (zh_CN)" "打开配置|退出软件" "$(menu_labels)"
gdbus call --session -d "$(item_service)" -o "$(item_path)" -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
wait_for 10 settings_window "游戏鼠标设置" || { echo "FAIL the Chinese settings window did not open"; failures=$((failures + 1)); }
sleep 1
shot 5-settings-fresh-chinese
stop_kvmon

echo "screenshots: $shots"
if [ "$failures" -ne 0 ]; then
  echo "kvmon output:"; sed 's/^/  /' "$work/kvmon.out" | tail -n 20
  echo "e2e-desktop: $failures check(s) failed"; exit 1
fi
echo "e2e-desktop: all checks passed"
