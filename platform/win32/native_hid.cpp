#include "platform/native_hid.h"

#include "platform/win32/win32_core.h"
#include "platform/win32/win32_hid.h"

namespace kv::platform {

std::unique_ptr<Hid> OpenNativeHid() { return std::make_unique<win32::Win32Hid>(); }

std::string NativeConfigFile() { return win32::Win32Paths().ConfigFile(); }
std::string NativeExecutableDir() { return win32::Win32Paths().ExecutableDir(); }

}  // namespace kv::platform
