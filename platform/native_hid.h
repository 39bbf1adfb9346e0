#pragma once
// The real platform's HID and device-notification services, for command-line tools that run
// without a main window (kvhid list). Components never include this header.
//
// Hook for the native platform: the library that implements OpenNativeHid() makes a CMake
// target named `kv_native_hid` (an ALIAS of its own library is enough). tools/kvhid links it and
// defines KV_HAVE_NATIVE_HID when that target exists; without it the tool reports that no HID
// service is available.
#include <memory>
#include <string>

#include "platform/hid.h"

namespace kv::platform {

// nullptr when this machine offers no HID service that the program can use.
std::unique_ptr<Hid> OpenNativeHid();
// The config.ini the monitor reads on this machine, and the running program's folder (with its
// trailing separator), without opening the settings store.
std::string NativeConfigFile();
std::string NativeExecutableDir();

}  // namespace kv::platform
