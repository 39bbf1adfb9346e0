#include "platform/win32/win32_platform.h"

namespace kv::platform::win32 {

Win32Platform::Win32Platform()
    : platform_{registry, paths, clock, loop, windows, instance, debug, &messageBoxes} {
  platform_.libraries = &libraries;
  platform_.keyboard = &keyboard;
  platform_.audio = &audio;
  platform_.shell = &shell;
  platform_.locale = &locale;
  platform_.hid = &hid;
  platform_.devices = &devices;
}

Win32Platform::~Win32Platform() = default;

}  // namespace kv::platform::win32
