#include "platform/win32/win32_dynlib.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

namespace kv::platform::win32 {
namespace {

class Win32Library : public DynamicLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  void* Symbol(std::string_view name) override {
    return reinterpret_cast<void*>(GetProcAddress(module_, std::string(name).c_str()));
  }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> Win32DynamicLibraries::Load(std::string_view fileName) {
  if (fileName.empty()) return nullptr;
  // No "cannot find the DLL" box from the system: the caller reports a missing library itself.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryW(Widen(fileName).c_str());
  SetErrorMode(oldMode);
  if (!module) return nullptr;
  return std::make_unique<Win32Library>(module);
}

std::uint8_t Win32Keyboard::KeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return 0;
  const SHORT state = GetKeyState(virtualKey);
  std::uint8_t out = 0;
  if (state & 0x8000) out |= kDown;
  if (state & 0x0001) out |= kToggled;
  return out;
}

}  // namespace kv::platform::win32
