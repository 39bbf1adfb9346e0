#pragma once
// The binary contract between the hook component and a hook library ("gxHook.dll" on Windows,
// "libgxHook.so" on Linux, and the test library the project builds): four entry points exported
// by name, a callback with the context it was registered with, and the platform's low-level
// input records. Plain C types only: both sides may be built by different compilers.
#include <cstdint>

namespace kv::hooklib {

// Low-level keyboard record.
struct KeyboardRecord {
  std::uint32_t vkCode;
  std::uint32_t scanCode;
  std::uint32_t flags;
  std::uint32_t time;  // millisecond tick count
  std::uintptr_t dwExtraInfo;
};

// Low-level mouse record.
struct MouseRecord {
  std::int32_t x, y;  // screen coordinates
  // High 16 bits: the signed wheel delta for wheel messages, the X-button number (1, 2) for
  // X-button messages.
  std::uint32_t mouseData;
  std::uint32_t flags;
  std::uint32_t time;  // millisecond tick count
  std::uintptr_t dwExtraInfo;
};

// KeyboardRecord::flags
constexpr std::uint32_t kKeyExtended = 0x01;
constexpr std::uint32_t kKeyInjected = 0x10;
constexpr std::uint32_t kKeyReleased = 0x80;
// MouseRecord::flags
constexpr std::uint32_t kMouseInjected = 0x01;

// Message numbers passed as wParam.
constexpr std::uintptr_t kKeyDown = 0x100, kKeyUp = 0x101, kSysKeyDown = 0x104, kSysKeyUp = 0x105;
constexpr std::uintptr_t kMouseMove = 0x200, kLButtonDown = 0x201, kLButtonUp = 0x202,
                         kRButtonDown = 0x204, kRButtonUp = 0x205, kMButtonDown = 0x207,
                         kMButtonUp = 0x208, kMouseWheel = 0x20A, kXButtonDown = 0x20B,
                         kXButtonUp = 0x20C, kMouseHWheel = 0x20E;
constexpr std::int32_t kWheelDelta = 120;  // one notch

// Called for every event, synchronously, on the thread that enabled the hook. `record` is the
// address of a KeyboardRecord or MouseRecord. `blocked` is false on entry; true on return makes
// the library swallow the event.
using HookCallback = void (*)(void* context, std::int32_t nCode, std::uintptr_t wParam,
                              std::intptr_t record, bool* blocked);
using EnableHookFn = void (*)(HookCallback callback, void* context, std::int32_t reserved);
using DisableHookFn = void (*)();

constexpr const char* kEnableKeyboardHook = "EnableKeyboardHook";
constexpr const char* kDisableKeyboardHook = "DisableKeyboardHook";
constexpr const char* kEnableMouseHook = "EnableMouseHook";
constexpr const char* kDisableMouseHook = "DisableMouseHook";

}  // namespace kv::hooklib
