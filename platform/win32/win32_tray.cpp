#include <algorithm>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/win32/wide.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/window_owner.h"

#include <shellapi.h>

namespace kv::platform::win32 {
namespace {

constexpr UINT kIconId = 1;
// Posted to the owner window when the taskbar that refused the icon has answered.
constexpr UINT kRetryAddMessage = WM_APP + 0x201;
// Refusals by a running taskbar that are followed by another attempt, per taskbar start.
constexpr int kAddRetries = 3;

// The program's own icon (the first icon group among the executable's resources), else the
// system's application icon.
HICON DefaultIcon() {
  HMODULE exe = GetModuleHandleW(nullptr);
  struct Found {
    bool any = false;
    ULONG_PTR id = 0;
    std::wstring name;
  } found;
  EnumResourceNamesW(
      exe, RT_GROUP_ICON,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
        auto* f = reinterpret_cast<Found*>(param);
        f->any = true;
        if (IS_INTRESOURCE(name)) f->id = reinterpret_cast<ULONG_PTR>(name);
        else f->name = name;  // only valid during the call
        return FALSE;
      },
      reinterpret_cast<LONG_PTR>(&found));
  HICON icon = nullptr;
  if (found.any) {
    LPCWSTR resource = found.name.empty() ? MAKEINTRESOURCEW(found.id) : found.name.c_str();
    icon = static_cast<HICON>(LoadImageW(exe, resource, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  }
  return icon ? icon : LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
}

// Menu captions are shown as written: an "&" would otherwise turn the next letter into a hot key.
std::wstring MenuText(std::string_view caption) {
  std::wstring out;
  for (wchar_t c : Widen(caption)) {
    if (c == L'&') out += L'&';
    out += c;
  }
  return out;
}

}  // namespace

Win32TrayIcon::Win32TrayIcon(EventLoop& loop, TrayIconSpec spec)
    : Win32TrayIcon(loop, std::move(spec), NotificationArea{}) {}

Win32TrayIcon::Win32TrayIcon(EventLoop& loop, TrayIconSpec spec, NotificationArea area)
    : loop_(loop), spec_(std::move(spec)), area_(area) {
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  if (!EnsureWindowClass(kTrayWindowClass, &WindowProc)) return;
  // Top-level (not message-only): the taskbar's restart is announced by a broadcast, which
  // message-only windows do not receive.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kTrayWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) return;
  // An elevated monitor still hears the (unelevated) taskbar's announcement.
  if (taskbarCreated_) ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
  menu_ = CreatePopupMenu();
  for (std::size_t i = 0; i < spec_.menu.size(); ++i)
    if (spec_.menu[i].visible && menu_)
      AppendMenuW(menu_, MF_STRING, i + 1, MenuText(spec_.menu[i].caption).c_str());
  icon_ = DefaultIcon();
  hint_ = Widen(spec_.hint);
  Add();
}

void Win32TrayIcon::Add() {
  // An add that timed out may still have reached the taskbar: a modify finds out.
  shown_ = Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP) ||
           Notify(NIM_MODIFY, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  if (shown_ || retryPending_ || refusedAdds_ >= kAddRetries) return;
  HWND taskbar = area_.findTaskbar ? area_.findTaskbar() : FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!taskbar) return;  // none runs yet: it announces itself with TaskbarCreated
  // A taskbar that runs but refuses the icon is busy (the start of a session): try again as
  // soon as it has handled a message of ours, which a helper thread waits for, rather than on a
  // timer. A window gone by then drops the posted message.
  ++refusedAdds_;
  retryPending_ = true;
  std::thread([taskbar, window = window_] {
    SendMessageW(taskbar, WM_NULL, 0, 0);
    PostMessageW(window, kRetryAddMessage, 0, 0);
  }).detach();
}

Win32TrayIcon::~Win32TrayIcon() {
  alive_.reset();
  if (menuOpen_) EndMenu();
  if (window_) {
    if (shown_) Notify(NIM_DELETE, 0);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (menu_) DestroyMenu(menu_);
  if (loadedIcon_) DestroyIcon(loadedIcon_);
}

bool Win32TrayIcon::Notify(DWORD action, UINT flags) {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof(d);
  d.hWnd = window_;
  d.uID = kIconId;
  d.uFlags = flags;
  d.uCallbackMessage = kTrayCallbackMessage;
  d.hIcon = icon_;
  std::size_t n = std::min(hint_.size(), std::size(d.szTip) - 1);
  if (n < hint_.size() && n > 0 && IS_HIGH_SURROGATE(hint_[n - 1])) --n;  // no half characters
  hint_.copy(d.szTip, n);
  return area_.notify(action, &d) != FALSE;
}

bool Win32TrayIcon::SetImageFromFile(std::string_view path) {
  if (!window_ || path.empty()) return false;
  auto* icon = static_cast<HICON>(LoadImageW(nullptr, Widen(path).c_str(), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE));
  if (!icon) return false;
  HICON old = loadedIcon_;
  icon_ = loadedIcon_ = icon;
  if (shown_) Notify(NIM_MODIFY, NIF_ICON);
  if (old) DestroyIcon(old);
  return true;
}

void Win32TrayIcon::SetHint(std::string_view hint) {
  hint_ = Widen(hint);
  if (shown_) Notify(NIM_MODIFY, NIF_TIP);
}

void Win32TrayIcon::ShowMessage(std::string_view title, std::string_view text) {
  if (!shown_) return;
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof(d);
  d.hWnd = window_;
  d.uID = kIconId;
  d.uFlags = NIF_INFO;
  d.dwInfoFlags = NIIF_WARNING;
  const auto copy = [](const std::wstring& from, wchar_t* to, std::size_t size) {
    std::size_t n = std::min(from.size(), size - 1);
    if (n < from.size() && n > 0 && IS_HIGH_SURROGATE(from[n - 1])) --n;
    from.copy(to, n);
  };
  copy(Widen(text), d.szInfo, std::size(d.szInfo));
  copy(Widen(title), d.szInfoTitle, std::size(d.szInfoTitle));
  Shell_NotifyIconW(NIM_MODIFY, &d);
}

void Win32TrayIcon::SetMenuCaption(std::size_t index, std::string_view caption) {
  if (index >= spec_.menu.size()) return;
  spec_.menu[index].caption = std::string(caption);
  if (!spec_.menu[index].visible || !menu_) return;
  std::wstring text = MenuText(caption);
  MENUITEMINFOW item{};
  item.cbSize = sizeof(item);
  item.fMask = MIIM_STRING;
  item.dwTypeData = text.data();
  SetMenuItemInfoW(menu_, static_cast<UINT>(index + 1), FALSE, &item);
}

template <typename Fn>
void Win32TrayIcon::Deliver(Fn fn) {
  // Through the loop: a handler may destroy this icon, which must not happen inside its own
  // window procedure.
  loop_.Post([alive = std::weak_ptr<bool>(alive_), fn = std::move(fn)] {
    if (!alive.expired()) fn();
  });
}

void Win32TrayIcon::ShowMenu() {
  if (!menu_ || menuOpen_) return;
  POINT at{};
  GetCursorPos(&at);
  // The foreground window and the null message afterwards make the menu close when the user
  // clicks elsewhere, and open again on the next click.
  SetForegroundWindow(window_);
  const std::weak_ptr<bool> alive = alive_;
  HWND window = window_;
  menuOpen_ = true;
  // The choice arrives as WM_COMMAND with the item's command ID.
  TrackPopupMenu(menu_, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
  if (alive.expired()) return;  // destroyed by a task that ran inside the menu's loop
  menuOpen_ = false;
  PostMessageW(window, WM_NULL, 0, 0);
}

LRESULT CALLBACK Win32TrayIcon::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (auto* self = WindowOwner<Win32TrayIcon>(hwnd, msg, lParam)) {
    if (msg == WM_NCCREATE) self->window_ = hwnd;
    return self->Handle(msg, wParam, lParam);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Win32TrayIcon::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kTrayCallbackMessage) {
    switch (LOWORD(lParam)) {
      case WM_LBUTTONDBLCLK: afterDoubleClick_ = true; break;
      case WM_LBUTTONUP:
        // A double click is one click: its second release would start a second configurator
        // before the first one's window exists.
        if (std::exchange(afterDoubleClick_, false)) break;
        Deliver([this] {
          if (spec_.onClick) spec_.onClick();
        });
        break;
      case WM_RBUTTONUP:
      case WM_CONTEXTMENU: ShowMenu(); break;
      default: break;
    }
    return 0;
  }
  if (msg == WM_COMMAND && HIWORD(wParam) == 0) {
    const std::size_t id = LOWORD(wParam);
    if (id >= 1 && id <= spec_.menu.size() && spec_.menu[id - 1].visible)
      Deliver([this, index = id - 1] {
        if (spec_.onMenuItem) spec_.onMenuItem(index);
      });
    return 0;
  }
  if (taskbarCreated_ != 0 && msg == taskbarCreated_) {
    // A new taskbar knows no icons: add ours again (or refresh it, if it survived).
    refusedAdds_ = 0;
    Add();
    return 0;
  }
  if (msg == kRetryAddMessage) {
    retryPending_ = false;
    if (!shown_) Add();
    return 0;
  }
  return DefWindowProcW(window_, msg, wParam, lParam);
}

}  // namespace kv::platform::win32
