#pragma once
// The Win32 platform: every service of the boundary this build offers, wired together for the
// executables' main(). Optional services are filled in as they exist on this platform.
#include <memory>

#include "platform/platform.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_core.h"
#include "platform/win32/win32_dynlib.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"

namespace kv::platform::win32 {

class Win32Platform {
 public:
  // The creating thread becomes the main thread.
  Win32Platform();
  ~Win32Platform();
  Platform& platform() { return platform_; }

  Win32Registry registry;
  Win32Paths paths;
  Win32Clock clock;
  Win32EventLoop loop;
  Win32Windows windows;
  Win32SingleInstance instance;
  Win32DebugOutput debug;
  Win32MessageBoxes messageBoxes;
  Win32DynamicLibraries libraries;
  Win32Keyboard keyboard;
  Win32Audio audio;
  Win32Shell shell{loop};
  Win32Locale locale;
  Win32Hid hid;
  Win32DeviceNotifications devices{hid};

 private:
  Platform platform_;
};

}  // namespace kv::platform::win32
