// KVMON.EXE: the monitor on Windows. A GUI program without a console; it reads no arguments.
#include <windows.h>

#include "app/monitor.h"
#include "platform/win32/win32_platform.h"
#include "app/messages.h"

namespace {

using namespace kv::platform;

// The monitor's window ends the program when it is closed or when the session ends, as the tray
// menu's Exit does: the configurator is told and the message loop ends, so that the read
// threads stop and everything is torn down in order.
class MonitorWindows : public MessageWindows {
 public:
  MonitorWindows(MessageWindows& inner, EventLoop& loop) : inner_(inner), loop_(loop) {}

  std::unique_ptr<MessageWindow> Create(std::string_view className, WindowProc proc) override {
    if (className != kv::kMonitorWindowClass) return inner_.Create(className, std::move(proc));
    return inner_.Create(className,
                         [this, proc = std::move(proc)](const WindowMessage& m) -> std::intptr_t {
                           switch (m.msg) {
                             case WM_CLOSE: Exit(); return 0;
                             case WM_QUERYENDSESSION:
                               return TRUE;  // never holds up the end of the session
                             case WM_ENDSESSION:
                               if (m.wParam) Exit();
                               return 0;
                             default: return proc(m);
                           }
                         });
  }
  WindowHandle Find(std::string_view className) override { return inner_.Find(className); }
  bool Post(WindowHandle w, const WindowMessage& m) override { return inner_.Post(w, m); }
  std::optional<std::intptr_t> Send(WindowHandle w, const WindowMessage& m) override {
    return inner_.Send(w, m);
  }

 private:
  void Exit() { kv::ExitMonitor(inner_, loop_); }

  MessageWindows& inner_;
  EventLoop& loop_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    win32::Win32Platform native;
    MonitorWindows windows(native.windows, native.loop);
    Platform platform = native.platform().WithWindows(windows);
    return kv::RunMonitor(platform);
  } catch (const std::exception& e) {
    // No console to write to: a debugger sees why the monitor could not run.
    OutputDebugStringA((std::string("KVMON: ") + e.what()).c_str());
    return 1;
  }
}
