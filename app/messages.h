#pragma once
// Private window messages between the monitor and the configurator (and the tools that stand in
// for the configurator). The numbers are shared with the configurator and must not change.
#include <cstdint>

#include "platform/platform.h"

namespace kv {

inline constexpr std::uint32_t WM_PROFILE_CHANGED = 7035;  // lParam: profile index
inline constexpr std::uint32_t WM_MONITOR_EXIT = 7036;
inline constexpr std::uint32_t WM_GLOBAL_SETTINGS_CHANGED = 7037;
inline constexpr std::uint32_t WM_PROFILE_SWITCHED = 7040;
inline constexpr std::uint32_t WM_DEVICE_NOTIFY = 7042;
inline constexpr std::uint32_t WM_DEVICE_EVENT = 7524;  // the monitor to itself
// kvmon's own, outside the configurator's numbers: `kvmon --quit` to the running monitor, which
// then exits as from its tray menu.
inline constexpr std::uint32_t WM_KVMON_QUIT = 7600;

// WM_DEVICE_EVENT carries a button press (wParam the button index, lParam 1) or an on-board
// profile switch (wParam 21 + the profile number, lParam 0). The two share wParam's range, so a
// button on bit 21 to 23 is told from a profile switch by lParam alone.
struct DeviceEvent {
  enum class Kind { Button, OnBoardProfile, Unknown };
  Kind kind = Kind::Unknown;
  int index = 0;  // button index or profile number
};
inline constexpr int kOnBoardProfileEventBase = 21;
inline constexpr int kOnBoardProfileCount = 5;

inline platform::WindowMessage ButtonPressedEvent(int button) {
  return {WM_DEVICE_EVENT, static_cast<std::uintptr_t>(button), 1};
}
inline platform::WindowMessage OnBoardProfileEvent(int profile) {
  return {WM_DEVICE_EVENT, static_cast<std::uintptr_t>(kOnBoardProfileEventBase + profile), 0};
}
inline DeviceEvent DecodeDeviceEvent(std::uintptr_t wParam, std::intptr_t lParam) {
  if (lParam == 1) return {DeviceEvent::Kind::Button, static_cast<int>(wParam)};
  if (wParam >= kOnBoardProfileEventBase &&
      wParam < kOnBoardProfileEventBase + kOnBoardProfileCount)
    return {DeviceEvent::Kind::OnBoardProfile, static_cast<int>(wParam) - kOnBoardProfileEventBase};
  return {};
}

// Window classes by which the two programs find each other.
inline constexpr const char* kMonitorWindowClass = "TKVMONMAIN";
inline constexpr const char* kConfiguratorWindowClass = "TKVCFGMAIN";

}  // namespace kv
