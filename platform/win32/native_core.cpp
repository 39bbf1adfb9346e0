#include "platform/native.h"
#include "platform/win32/win32_core.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/win32_registry.h"

namespace kv::platform {
namespace {

class Win32NativeCore : public NativeCore {
 public:
  Registry& registry() override { return registry_; }
  Paths& paths() override { return paths_; }
  Clock& clock() override { return clock_; }
  DebugOutput& debug() override { return debug_; }
  MessageWindows* windows() override { return &windows_; }

 private:
  win32::Win32Registry registry_;
  win32::Win32Paths paths_;
  win32::Win32Clock clock_;
  win32::Win32DebugOutput debug_;
  win32::Win32Windows windows_;
};

}  // namespace

std::unique_ptr<NativeCore> OpenNativeCore() { return std::make_unique<Win32NativeCore>(); }

}  // namespace kv::platform
