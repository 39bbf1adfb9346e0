#include "platform/native_hid.h"

#include "platform/linux/hidraw_hid.h"

namespace kv::platform {

std::unique_ptr<Hid> OpenNativeHid() { return std::make_unique<linux_::HidrawHid>(); }

}  // namespace kv::platform
