#include "platform/linux/linux_platform.h"

#include <QDBusConnection>

namespace kv::platform::linux_ {

LinuxPlatform::LinuxPlatform()
    : registry(SqliteRegistry::DefaultFile()),
      windows(loop, QDBusConnection::sessionBus()),
      platform_{registry, paths, clock, loop, windows, instance, debug} {
  platform_.messageBoxes = &messageBoxes;
  platform_.hid = &hid;
  platform_.devices = &devices;
  platform_.audio = &audio;
  platform_.shell = &shell;
  platform_.libraries = &libraries;
  platform_.locale = &locale;
  platform_.keyboard = &keyboard;
}

}  // namespace kv::platform::linux_
