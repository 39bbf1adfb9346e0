#pragma once
// The Windows message loop as the event loop, and hidden top-level windows as message windows.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/platform.h"

namespace kv::platform::win32 {

// Tasks and timers ride on a message-only window of the main thread, so that they also run
// while a modal loop (message box, popup menu) has the thread.
class Win32EventLoop : public EventLoop {
 public:
  // The creating thread is the main thread.
  Win32EventLoop();
  ~Win32EventLoop() override;

  void Post(Task task) override;
  bool RunAndWait(Task task) override;
  TimerId StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) override;
  void StopTimer(TimerId id) override;
  int Run() override;
  void Quit(int exitCode = 0) override;
  bool IsMainThread() const override;

  // Runs every message already queued for the main thread, without waiting (tests, and the
  // monitor's short "process pending messages" pauses).
  void ProcessPending();

 private:
  struct Waiter;
  struct Timer {
    bool repeat;
    std::shared_ptr<Task> task;
  };
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void RunOneTask();
  void FireTimer(UINT_PTR id);

  DWORD mainThread_;
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> tasks_;
  bool wakePosted_ = false;
  std::set<std::shared_ptr<Waiter>> waiters_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  bool quit_ = false;
  int exitCode_ = 0;
};

// Windows of a registered class per class name, created hidden (top-level, no taskbar button),
// so that other programs find them with FindWindowW(className, NULL). The window procedure
// receives the private messages (WM_USER and above) and the session and close messages
// (WM_CLOSE, WM_QUERYENDSESSION, WM_ENDSESSION, WM_DEVICECHANGE); everything else gets the
// default handling. A window procedure that handles WM_QUERYENDSESSION answers 1 to let the
// session end.
class Win32Windows : public MessageWindows {
 public:
  std::unique_ptr<MessageWindow> Create(std::string_view className, WindowProc proc) override;
  WindowHandle Find(std::string_view className) override;
  bool Post(WindowHandle window, const WindowMessage& message) override;
  // A window that does not answer within `sendTimeout` (hung) is given up: nullopt.
  std::optional<std::intptr_t> Send(WindowHandle window, const WindowMessage& message) override;

  static HWND ToHwnd(WindowHandle h) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(h));
  }
  static WindowHandle FromHwnd(HWND h) { return reinterpret_cast<std::uintptr_t>(h); }
  static constexpr unsigned kSendTimeoutMs = 10000;
};

// Registers (once per process) a window class of that name whose procedure is the given one.
bool EnsureWindowClass(const std::wstring& className, WNDPROC proc);

}  // namespace kv::platform::win32
