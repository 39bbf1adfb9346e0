#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/kvhid/kvhid.h"
#ifdef KV_HAVE_NATIVE_HID
#include "platform/native_hid.h"
#endif

int main(int argc, char** argv) {
  std::unique_ptr<kv::platform::Hid> hid;
  std::string config, self = "kvhid";
#ifdef KV_HAVE_NATIVE_HID
  hid = kv::platform::OpenNativeHid();
  config = kv::platform::NativeConfigFile();
  self = kv::platform::NativeExecutableDir() + "kvhid";
#endif
  return kv::tools::RunKvhid(std::vector<std::string>(argv + 1, argv + argc), hid.get(), std::cout,
                             std::cerr, config, self);
}
