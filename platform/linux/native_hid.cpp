#include "platform/native_hid.h"

#include "platform/linux/linux_core.h"
#include "platform/linux/hidraw_hid.h"

namespace kv::platform {

std::unique_ptr<Hid> OpenNativeHid() { return std::make_unique<linux_::HidrawHid>(); }

std::string NativeConfigFile() { return linux_::LinuxPaths().ConfigFile(); }
std::string NativeExecutableDir() { return linux_::LinuxPaths().ExecutableDir(); }

}  // namespace kv::platform
