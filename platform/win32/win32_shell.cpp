#include "platform/win32/win32_shell.h"

#include <shellapi.h>

#include "platform/win32/wide.h"
#include "platform/win32/win32_loop.h"

namespace kv::platform::win32 {
namespace {

int ShowCommand(ShowStyle style) {
  return style == ShowStyle::ShowNormal ? SW_SHOWNORMAL : SW_SHOW;
}

// The shell's "open" verb, without any error dialog of its own (failures are the caller's to
// report).
bool ShellOpen(const std::wstring& file, const std::wstring& dir, ShowStyle style) {
  if (file.empty()) return false;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpDirectory = dir.empty() ? nullptr : dir.c_str();
  info.nShow = ShowCommand(style);
  return ShellExecuteExW(&info) != FALSE;
}

}  // namespace

std::unique_ptr<TrayIcon> Win32Shell::CreateTrayIcon(TrayIconSpec spec) {
  std::unique_ptr<Win32TrayIcon> tray(new Win32TrayIcon(loop_, std::move(spec), trays_));
  if (!tray->Window()) return nullptr;
  return tray;
}

bool Win32Shell::ShowNotification(const Notification& notification) {
  return !trays_->empty() && trays_->back()->ShowBalloon(notification);
}

std::unique_ptr<ContentWindow> Win32Shell::CreateContentWindow(
    const WindowContent& content, std::function<void(const std::string&)> onClick) {
  std::unique_ptr<Win32ContentWindow> window(
      new Win32ContentWindow(loop_, content, std::move(onClick), title_, windows_));
  if (!window->Window()) return nullptr;
  return window;
}

void Win32Shell::SetApplicationTitle(std::string_view title) {
  title_ = Widen(title);
  for (HWND window : *windows_) SetWindowTextW(window, title_.c_str());
}

bool Win32Shell::ShowAndRaise(WindowHandle window) {
  HWND hwnd = Win32Windows::ToHwnd(window);
  if (!hwnd || !IsWindow(hwnd)) return false;
  ShowWindow(hwnd, IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
  // Windows may refuse the foreground to a program the user is not working in; the window is
  // shown all the same.
  SetForegroundWindow(hwnd);
  return true;
}

bool Win32Shell::Launch(std::string_view path, std::string_view workingDir, ShowStyle style) {
  return ShellOpen(Widen(path), Widen(workingDir), style);
}

bool Win32Shell::OpenUrl(std::string_view url, ShowStyle style) {
  return ShellOpen(Widen(url), L"", style);
}

}  // namespace kv::platform::win32
