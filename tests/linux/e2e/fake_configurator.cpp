// Stands in for the configurator in the end-to-end run: owns a "TKVCFGMAIN" window on the session
// bus and prints one line per message ("msg wParam lParam"); ends on WM_MONITOR_EXIT (7036).
// Given a window class as its argument it stands in for that window instead (tests use
// TKVMONMAIN to see what the tools tell the monitor).
#include <QCoreApplication>
#include <QDBusConnection>
#include <cstdio>

#include "platform/linux/dbus_windows.h"
#include "platform/linux/qt_loop.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  kv::platform::linux_::QtEventLoop loop;
  kv::platform::linux_::DbusWindows windows(loop, QDBusConnection::sessionBus());
  const char* windowClass = argc > 1 ? argv[1] : "TKVCFGMAIN";
  auto window =
      windows.Create(windowClass, [&](const kv::platform::WindowMessage& m) -> std::intptr_t {
        std::printf("%u %llu %lld\n", m.msg, static_cast<unsigned long long>(m.wParam),
                    static_cast<long long>(m.lParam));
        std::fflush(stdout);
        if (m.msg == 7036) loop.Quit(0);
        return 0;
      });
  if (!window) {
    std::fprintf(stderr, "kv_fake_configurator: cannot create the window (no session bus?)\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return loop.Run();
}
