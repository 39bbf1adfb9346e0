#pragma once
// LoadLibraryW / GetProcAddress, and the keyboard state through GetKeyState.
#include "platform/dynlib.h"
#include "platform/keyboard.h"

namespace kv::platform::win32 {

class Win32DynamicLibraries : public DynamicLibraries {
 public:
  std::string FileName(std::string_view name) const override { return std::string(name) + ".dll"; }
  std::unique_ptr<DynamicLibrary> Load(std::string_view fileName) override;
};

class Win32Keyboard : public Keyboard {
 public:
  std::uint8_t KeyState(int virtualKey) override;
};

}  // namespace kv::platform::win32
