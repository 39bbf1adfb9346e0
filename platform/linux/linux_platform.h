#pragma once
// Every service of the Linux desktop, wired into one Platform for the monitor's main().
#include <memory>

#include "platform/linux/dbus_windows.h"
#include "platform/linux/hidraw_hid.h"
#include "platform/linux/linux_core.h"
#include "platform/linux/pulse_audio.h"
#include "platform/linux/qt_desktop.h"
#include "platform/linux/qt_loop.h"
#include "platform/linux/sqlite_registry.h"
#include "platform/linux/udev_devices.h"

namespace kv::platform::linux_ {

class LinuxPlatform {
 public:
  // Needs the QApplication to exist. Throws RegistryError when the settings store cannot be
  // opened.
  LinuxPlatform();
  Platform& platform() { return platform_; }
  // Without a display the desktop's services (tray icon, windows, starting programs) are not
  // offered; everything else works as before.
  void WithoutDisplay() { platform_.shell = nullptr; }

  SqliteRegistry registry;
  LinuxPaths paths;
  LinuxClock clock;
  QtEventLoop loop;
  DbusWindows windows;
  LinuxSingleInstance instance;
  LinuxDebugOutput debug;
  QtMessageBoxes messageBoxes;
  HidrawHid hid;
  UdevDeviceNotifications devices{loop, hid};
  PulseAudio audio;
  QtShell shell{windows, QDBusConnection::sessionBus()};
  DlDynamicLibraries libraries{paths};
  PosixLocale locale;
  QtKeyboard keyboard;

 private:
  Platform platform_;
};

}  // namespace kv::platform::linux_
