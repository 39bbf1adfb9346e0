#pragma once
// The shell on Win32: the notification-area icon with its popup menu (Shell_NotifyIconW,
// TrackPopupMenu), the content window drawn with GDI, and ShellExecuteExW's "open".
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace kv::platform::win32 {

// The hidden window that owns a tray icon and receives its notifications.
inline constexpr wchar_t kTrayWindowClass[] = L"KvmonTrayOwner";
// The message the shell sends to that window for mouse actions on the icon (lParam: the mouse
// message, WM_LBUTTONUP, WM_RBUTTONUP, ...).
inline constexpr UINT kTrayCallbackMessage = WM_APP + 0x200;
// The class of the content windows. Not the content's own class name: that name belongs to the
// program's message window, which others find by class, and two windows of one class would make
// that lookup ambiguous.
inline constexpr wchar_t kContentWindowClass[] = L"KvmonContentWindow";

class Win32Shell;

class Win32TrayIcon : public TrayIcon {
 public:
  // How the icon reaches the notification area; a test puts stand-ins in their place.
  struct NotificationArea {
    BOOL(WINAPI* notify)(DWORD, PNOTIFYICONDATAW) = &Shell_NotifyIconW;
    HWND (*findTaskbar)() = nullptr;  // null: the taskbar's own window ("Shell_TrayWnd")
  };
  Win32TrayIcon(EventLoop& loop, TrayIconSpec spec, NotificationArea area);
  ~Win32TrayIcon() override;
  bool SetImageFromFile(std::string_view path) override;
  void SetHint(std::string_view hint) override;
  void SetMenuCaption(std::size_t index, std::string_view caption) override;
  // A balloon of the icon; nothing while the notification area does not hold it.
  void ShowMessage(std::string_view title, std::string_view text) override;

  HWND Window() const { return window_; }
  // The popup menu: the visible items only, command ID = the item's index in TrayIconSpec::menu
  // + 1.
  HMENU Menu() const { return menu_; }
  // True while the notification area holds the icon.
  bool Shown() const { return shown_; }

 private:
  friend class Win32Shell;
  Win32TrayIcon(EventLoop& loop, TrayIconSpec spec);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  bool Notify(DWORD action, UINT flags);
  // Adds the icon; when a running taskbar refuses it, tries again once the taskbar has
  // answered a message (a few times at most, until the next TaskbarCreated).
  void Add();
  void ShowMenu();
  template <typename Fn>
  void Deliver(Fn fn);

  EventLoop& loop_;
  TrayIconSpec spec_;
  HWND window_ = nullptr;
  HMENU menu_ = nullptr;
  HICON icon_ = nullptr;        // the image shown
  HICON loadedIcon_ = nullptr;  // one this object loaded from a file and must destroy
  std::wstring hint_;
  bool shown_ = false;
  bool menuOpen_ = false;
  bool afterDoubleClick_ = false;
  UINT taskbarCreated_ = 0;
  NotificationArea area_;
  bool retryPending_ = false;
  int refusedAdds_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class Win32ContentWindow : public ContentWindow {
 public:
  ~Win32ContentWindow() override;
  void SetContent(const WindowContent& content) override;
  void Show() override;
  void Hide() override;
  void BringToFront() override;
  bool IsVisible() const override;

  HWND Window() const { return window_; }
  // The element's rectangle in client coordinates (its containers' offsets added); nullopt
  // for an unknown name.
  std::optional<RECT> ElementRect(const std::string& name) const;

 private:
  friend class Win32Shell;
  Win32ContentWindow(EventLoop& loop, const WindowContent& content,
                     std::function<void(const std::string&)> onClick, const std::wstring& title,
                     std::shared_ptr<std::set<HWND>> registry);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  RECT Rect(std::size_t index) const;
  bool Visible(std::size_t index) const;
  int HitTest(POINT p) const;  // the topmost clickable element under `p`, or -1
  void Paint(HDC dc) const;
  void SetHot(int element);

  EventLoop& loop_;
  WindowContent content_;
  std::function<void(const std::string&)> onClick_;
  HWND window_ = nullptr;
  int hot_ = -1, pressed_ = -1;
  bool tracking_ = false;
  std::shared_ptr<std::set<HWND>> registry_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class Win32Shell : public Shell {
 public:
  explicit Win32Shell(EventLoop& loop) : loop_(loop) {}
  // nullptr only when the owner window cannot be created. An icon the notification area
  // refuses (no taskbar yet, at the start of a session) is added when the taskbar announces
  // itself.
  std::unique_ptr<TrayIcon> CreateTrayIcon(TrayIconSpec spec) override;
  std::unique_ptr<ContentWindow> CreateContentWindow(
      const WindowContent& content, std::function<void(const std::string&)> onClick) override;
  // The title of the content windows, present and future (what the task switcher shows).
  void SetApplicationTitle(std::string_view title) override;
  // A minimised window is restored, any other shown as it was.
  bool ShowAndRaise(WindowHandle window) override;
  bool Launch(std::string_view path, std::string_view workingDir, ShowStyle style) override;
  bool OpenUrl(std::string_view url, ShowStyle style) override;

 private:
  EventLoop& loop_;
  std::wstring title_;
  // Live content windows, for the title. Shared with them so that either may go first.
  std::shared_ptr<std::set<HWND>> windows_ = std::make_shared<std::set<HWND>>();
};

}  // namespace kv::platform::win32
