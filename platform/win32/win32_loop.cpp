#include "platform/win32/win32_loop.h"

#include <algorithm>

#include "platform/win32/wide.h"
#include "platform/win32/window_owner.h"

namespace kv::platform::win32 {
namespace {

constexpr UINT kRunTask = WM_APP + 0x100;
constexpr UINT kQuit = WM_APP + 0x101;
constexpr wchar_t kLoopClass[] = L"KvmonEventLoop";

}  // namespace

bool EnsureWindowClass(const std::wstring& className, WNDPROC proc) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, className.c_str(), &existing)) return existing.lpfnWndProc == proc;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = className.c_str();
  return RegisterClassExW(&wc) != 0;
}

// ---------------------------------------------------------------------------------------------

struct Win32EventLoop::Waiter {
  enum Phase { Pending, Running, Done, Cancelled } phase = Pending;
};

Win32EventLoop::Win32EventLoop() : mainThread_(GetCurrentThreadId()) {
  EnsureWindowClass(kLoopClass, &WindowProc);
  window_ = CreateWindowExW(0, kLoopClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), this);
  if (!window_)
    throw std::runtime_error("event loop: cannot create its window: " + ErrorText(GetLastError()));
}

Win32EventLoop::~Win32EventLoop() {
  Quit(0);  // releases threads still waiting in RunAndWait
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, timer] : timers_) KillTimer(window_, static_cast<UINT_PTR>(id));
    timers_.clear();
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

LRESULT CALLBACK Win32EventLoop::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = WindowOwner<Win32EventLoop>(hwnd, msg, lParam);
  if (self) {
    switch (msg) {
      case kRunTask: self->RunOneTask(); return 0;
      case WM_TIMER: self->FireTimer(wParam); return 0;
      case kQuit: {
        int code;
        {
          std::lock_guard lock(self->mutex_);
          code = self->exitCode_;
        }
        PostQuitMessage(code);
        return 0;
      }
      default: break;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Win32EventLoop::Post(Task task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  if (!wakePosted_) wakePosted_ = PostMessageW(window_, kRunTask, 0, 0) != 0;
}

// One task per message: a task that enters a modal loop lets the next ones run inside it, in
// order, instead of holding the whole queue.
void Win32EventLoop::RunOneTask() {
  Task task;
  {
    std::lock_guard lock(mutex_);
    wakePosted_ = false;
    if (tasks_.empty()) return;
    task = std::move(tasks_.front());
    tasks_.pop_front();
    if (!tasks_.empty()) wakePosted_ = PostMessageW(window_, kRunTask, 0, 0) != 0;
  }
  task();
}

bool Win32EventLoop::RunAndWait(Task task) {
  if (IsMainThread()) {
    task();
    return true;
  }
  auto waiter = std::make_shared<Waiter>();
  std::unique_lock lock(mutex_);
  if (quit_) return false;
  waiters_.insert(waiter);
  tasks_.push_back([this, waiter, t = std::move(task)] {
    {
      std::lock_guard l(mutex_);
      if (waiter->phase != Waiter::Pending) return;  // the loop quit meanwhile
      waiter->phase = Waiter::Running;
    }
    t();
    std::lock_guard l(mutex_);
    waiter->phase = Waiter::Done;
    cv_.notify_all();
  });
  if (!wakePosted_) wakePosted_ = PostMessageW(window_, kRunTask, 0, 0) != 0;
  cv_.wait(lock,
           [&] { return waiter->phase == Waiter::Done || waiter->phase == Waiter::Cancelled; });
  waiters_.erase(waiter);
  return waiter->phase == Waiter::Done;
}

TimerId Win32EventLoop::StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) {
  std::lock_guard lock(mutex_);
  const TimerId id = nextTimer_++;
  const auto ms = std::clamp<long long>(interval.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  if (!SetTimer(window_, static_cast<UINT_PTR>(id), static_cast<UINT>(ms), nullptr)) return 0;
  timers_[id] = Timer{repeat, std::make_shared<Task>(std::move(onTimer))};
  return id;
}

void Win32EventLoop::StopTimer(TimerId id) {
  std::lock_guard lock(mutex_);
  if (timers_.erase(id)) KillTimer(window_, static_cast<UINT_PTR>(id));
}

void Win32EventLoop::FireTimer(UINT_PTR id) {
  std::shared_ptr<Task> task;
  {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;  // stopped while its message was queued
    task = it->second.task;
    if (!it->second.repeat) {
      KillTimer(window_, id);
      timers_.erase(it);
    }
  }
  (*task)();
}

int Win32EventLoop::Run() {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return exitCode_;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  std::lock_guard lock(mutex_);
  return quit_ ? exitCode_ : static_cast<int>(msg.wParam);
}

void Win32EventLoop::Quit(int exitCode) {
  std::lock_guard lock(mutex_);
  if (quit_) return;
  quit_ = true;
  exitCode_ = exitCode;
  for (auto& w : waiters_)
    if (w->phase == Waiter::Pending) w->phase = Waiter::Cancelled;
  cv_.notify_all();
  PostMessageW(window_, kQuit, 0, 0);
}

bool Win32EventLoop::IsMainThread() const { return GetCurrentThreadId() == mainThread_; }

void Win32EventLoop::ProcessPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for Run
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// ---------------------------------------------------------------------------------------------

namespace {

bool Forwarded(UINT msg) {
  return msg >= WM_USER || msg == WM_CLOSE || msg == WM_QUERYENDSESSION || msg == WM_ENDSESSION ||
         msg == WM_DEVICECHANGE;
}

LRESULT CALLBACK MessageWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* proc = WindowOwner<WindowProc>(hwnd, msg, lParam);
  if (proc && *proc && Forwarded(msg))
    return (*proc)(WindowMessage{msg, static_cast<std::uintptr_t>(wParam),
                                 static_cast<std::intptr_t>(lParam)});
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class Win32MessageWindow : public MessageWindow {
 public:
  Win32MessageWindow(HWND hwnd, std::unique_ptr<WindowProc> proc)
      : hwnd_(hwnd), proc_(std::move(proc)) {}
  ~Win32MessageWindow() override {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  WindowHandle Handle() const override { return Win32Windows::FromHwnd(hwnd_); }

 private:
  HWND hwnd_;
  std::unique_ptr<WindowProc> proc_;
};

}  // namespace

std::unique_ptr<MessageWindow> Win32Windows::Create(std::string_view className, WindowProc proc) {
  const std::wstring cls = Widen(className);
  if (cls.empty() || !EnsureWindowClass(cls, &MessageWindowProc)) return nullptr;
  auto holder = std::make_unique<WindowProc>(std::move(proc));
  HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, cls.c_str(), L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, GetModuleHandleW(nullptr), holder.get());
  if (!hwnd) return nullptr;
  return std::make_unique<Win32MessageWindow>(hwnd, std::move(holder));
}

WindowHandle Win32Windows::Find(std::string_view className) {
  const std::wstring cls = Widen(className);
  if (cls.empty()) return 0;
  return FromHwnd(FindWindowW(cls.c_str(), nullptr));
}

bool Win32Windows::Post(WindowHandle window, const WindowMessage& m) {
  HWND hwnd = ToHwnd(window);
  if (!hwnd || !IsWindow(hwnd)) return false;
  return PostMessageW(hwnd, m.msg, static_cast<WPARAM>(m.wParam), static_cast<LPARAM>(m.lParam)) !=
         0;
}

std::optional<std::intptr_t> Win32Windows::Send(WindowHandle window, const WindowMessage& m) {
  HWND hwnd = ToHwnd(window);
  if (!hwnd || !IsWindow(hwnd)) return std::nullopt;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, m.msg, static_cast<WPARAM>(m.wParam),
                           static_cast<LPARAM>(m.lParam), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &result))
    return std::nullopt;
  return static_cast<std::intptr_t>(result);
}

}  // namespace kv::platform::win32
