#include "platform/native.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include "platform/linux/dbus_windows.h"
#include "platform/linux/linux_core.h"
#include "platform/linux/posix_locale.h"
#include "platform/linux/qt_loop.h"
#include "platform/linux/sqlite_registry.h"

namespace kv::platform {
namespace {

class LinuxNativeCore : public NativeCore {
 public:
  // The store is opened on first use: a command that only reads config.ini never touches it.
  Registry& registry() override {
    if (!registry_)
      registry_ = std::make_unique<linux_::SqliteRegistry>(linux_::SqliteRegistry::DefaultFile());
    return *registry_;
  }
  Paths& paths() override { return paths_; }
  Clock& clock() override { return clock_; }
  DebugOutput& debug() override { return debug_; }

  // The session bus is joined on first use only: most tool commands never notify anyone.
  // Without a session bus no other program's window can be reached: nullptr.
  MessageWindows* windows() override {
    if (!windows_ && !triedBus_) {
      triedBus_ = true;
      if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "kvtool";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QCoreApplication>(argc, argv);
      }
      QDBusConnection bus = QDBusConnection::sessionBus();
      if (!bus.isConnected()) return nullptr;
      loop_ = std::make_unique<linux_::QtEventLoop>();
      windows_ = std::make_unique<linux_::DbusWindows>(*loop_, bus);
    }
    return windows_.get();
  }

  std::optional<std::uint16_t> FirstStartLanguageId() override {
    return linux_::PosixLocale().SystemDefaultLanguageId();
  }

  ~LinuxNativeCore() override {
    windows_.reset();
    loop_.reset();
  }

 private:
  std::unique_ptr<linux_::SqliteRegistry> registry_;
  linux_::LinuxPaths paths_;
  linux_::LinuxClock clock_;
  linux_::LinuxDebugOutput debug_;
  std::unique_ptr<QCoreApplication> app_;
  std::unique_ptr<linux_::QtEventLoop> loop_;
  std::unique_ptr<linux_::DbusWindows> windows_;
  bool triedBus_ = false;
};

}  // namespace

std::unique_ptr<NativeCore> OpenNativeCore() { return std::make_unique<LinuxNativeCore>(); }

}  // namespace kv::platform
