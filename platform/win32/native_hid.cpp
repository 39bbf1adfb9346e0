#include "platform/native_hid.h"

#include "platform/win32/win32_hid.h"

namespace kv::platform {

std::unique_ptr<Hid> OpenNativeHid() { return std::make_unique<win32::Win32Hid>(); }

}  // namespace kv::platform
