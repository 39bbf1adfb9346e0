// Stands in for the configurator in the end-to-end run: owns a "TKVCFGMAIN" window on the session
// bus and prints one line per message ("msg wParam lParam"); ends on WM_MONITOR_EXIT (7036).
// Given a window class as an argument it stands in for that window instead (tests use
// TKVMONMAIN to see what the tools tell the monitor).
//   --answer-switch  answers WM_PROFILE_SWITCHED (7040) with a sent WM_PROFILE_CHANGED (7035)
//                    whose lParam is the new profile, and prints "answered <result>"
//   --stall-ms N     takes N ms over every WM_PROFILE_SWITCHED before it answers
#include <QCoreApplication>
#include <QDBusConnection>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/linux/dbus_windows.h"
#include "platform/linux/qt_loop.h"

int main(int argc, char** argv) {
  bool answerSwitch = false;
  int stallMs = 0;
  const char* windowClass = "TKVCFGMAIN";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--answer-switch") == 0) answerSwitch = true;
    else if (std::strcmp(argv[i], "--stall-ms") == 0 && i + 1 < argc)
      stallMs = std::atoi(argv[++i]);
    else windowClass = argv[i];
  }
  QCoreApplication app(argc, argv);
  kv::platform::linux_::QtEventLoop loop;
  kv::platform::linux_::DbusWindows windows(loop, QDBusConnection::sessionBus());
  auto window =
      windows.Create(windowClass, [&](const kv::platform::WindowMessage& m) -> std::intptr_t {
        std::printf("%u %llu %lld\n", m.msg, static_cast<unsigned long long>(m.wParam),
                    static_cast<long long>(m.lParam));
        std::fflush(stdout);
        if (m.msg == 7036) loop.Quit(0);
        if (m.msg == 7040 && stallMs > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
        if (m.msg == 7040 && answerSwitch) {
          const auto result = windows.Send(windows.Find("TKVMONMAIN"),
                                           {7035, 0, static_cast<std::intptr_t>(m.wParam)});
          if (result) std::printf("answered %lld\n", static_cast<long long>(*result));
          else std::printf("answer failed\n");
          std::fflush(stdout);
        }
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
