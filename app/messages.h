#pragma once
// Private window messages between the monitor and the configurator (and the tools that stand in
// for the configurator). The numbers are shared with the configurator and must not change.
#include <cstdint>

namespace kv {

inline constexpr std::uint32_t WM_PROFILE_CHANGED = 7035;          // lParam: profile index
inline constexpr std::uint32_t WM_MONITOR_EXIT = 7036;
inline constexpr std::uint32_t WM_GLOBAL_SETTINGS_CHANGED = 7037;
inline constexpr std::uint32_t WM_PROFILE_SWITCHED = 7040;
inline constexpr std::uint32_t WM_DEVICE_NOTIFY = 7042;
inline constexpr std::uint32_t WM_DEVICE_EVENT = 7524;  // the monitor to itself

// Window classes by which the two programs find each other.
inline constexpr const char* kMonitorWindowClass = "TKVMONMAIN";
inline constexpr const char* kConfiguratorWindowClass = "TKVCFGMAIN";

}  // namespace kv
