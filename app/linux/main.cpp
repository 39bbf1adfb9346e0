// kvmon on Linux: the monitor with its tray icon, on Qt, D-Bus, hidraw and PulseAudio.
//   kvmon [--virtual-mouse SOCKET]
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/linux/virtual_mouse.h"
#include "app/monitor.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/qt_display.h"
#include "platform/linux/termination_signals.h"

namespace {

using kv::platform::linux_::LinuxPlatform;

// Runs the monitor on the platform; the virtual mouse's socket is made only once this copy is
// the one instance, so a second copy never touches the first one's socket.
int RunOn(LinuxPlatform& platform, const std::string& virtualMousePath) {
  // Logout, `systemctl --user stop`, Ctrl-C: the same orderly end as the tray's Exit.
  kv::platform::linux_::TerminationSignals termination(
      [&platform](int) { kv::ExitMonitor(platform.windows, platform.loop); });
  std::unique_ptr<kv::app::VirtualMouse> mouse;
  return kv::RunMonitor(platform.platform(), [&] {
    if (!virtualMousePath.empty())
      mouse = std::make_unique<kv::app::VirtualMouse>(platform.hid, virtualMousePath);
  });
}

}  // namespace

int main(int argc, char** argv) {
  kv::platform::linux_::TerminationSignals::Catch();
  std::string virtualMouse;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--virtual-mouse") == 0 && i + 1 < argc) {
      virtualMouse = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "usage: kvmon [--virtual-mouse SOCKET]\n"
          "  --virtual-mouse SOCKET  add a simulated mouse whose reports come from SOCKET (see "
          "kvmouse)\n");
      return 0;
    } else {
      std::fprintf(stderr, "kvmon: unknown argument '%s' (try --help)\n", argv[i]);
      return 2;
    }
  }
  kv::platform::linux_::DisplayChoice display;
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // closing About must not end the monitor
  const std::string noDisplay = display.Finish();
  if (!noDisplay.empty())
    std::fprintf(stderr, "kvmon: %s; running without a tray icon\n", noDisplay.c_str());
  try {
    LinuxPlatform platform;
    if (!noDisplay.empty()) platform.WithoutDisplay();
    return RunOn(platform, virtualMouse);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvmon: %s\n", e.what());
    return 1;
  }
}
