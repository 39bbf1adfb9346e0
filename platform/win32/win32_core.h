#pragma once
// Win32 services that need no window: paths, clock, debug output, the single-instance mutex and
// message boxes.
#include "platform/platform.h"

namespace kv::platform::win32 {

class Win32Paths : public Paths {
 public:
  std::string ExecutableDir() override;
  // SHGetFolderPathW(CSIDL_PERSONAL).
  std::string DocumentsDir() override;
  // The ANSI code page (GetACP), as GetPrivateProfileStringW reads a file without a mark.
  std::string DecodeUnmarkedText(std::string_view bytes) override;
};

class Win32Clock : public Clock {
 public:
  std::uint32_t TickCount() override;
  LocalTime Now() override;
};

// OutputDebugStringW: seen by a debugger or a debug-output viewer only.
class Win32DebugOutput : public DebugOutput {
 public:
  void Write(std::string_view text) override;
};

// A named kernel mutex. A name that already exists (held or not, by any process of the
// session) refuses the guard; a mutex that cannot be created at all gives a guard without one,
// so that start-up goes on unguarded rather than not at all.
class Win32SingleInstance : public SingleInstance {
 public:
  std::unique_ptr<InstanceGuard> Acquire(std::string_view name) override;
};

class Win32MessageBoxes : public MessageBoxes {
 public:
  void ShowError(std::string_view text, std::string_view caption) override;
};

}  // namespace kv::platform::win32
