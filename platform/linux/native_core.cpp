#include "platform/native.h"

#include "platform/linux/linux_core.h"
#include "platform/linux/sqlite_registry.h"

namespace kv::platform {
namespace {

class LinuxNativeCore : public NativeCore {
 public:
  LinuxNativeCore() : registry_(linux_::SqliteRegistry::DefaultFile()) {}
  Registry& registry() override { return registry_; }
  Paths& paths() override { return paths_; }
  Clock& clock() override { return clock_; }
  DebugOutput& debug() override { return debug_; }
  MessageWindows* windows() override { return nullptr; }

 private:
  linux_::SqliteRegistry registry_;
  linux_::LinuxPaths paths_;
  linux_::LinuxClock clock_;
  linux_::LinuxDebugOutput debug_;
};

}  // namespace

std::unique_ptr<NativeCore> OpenNativeCore() { return std::make_unique<LinuxNativeCore>(); }

}  // namespace kv::platform
