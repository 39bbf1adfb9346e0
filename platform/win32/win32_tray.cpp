#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <thread>
#include <utility>
#include <vector>

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

// The pixels of `icon` drawn at cx × cy, as premultiplied BGRA, top row first. The alpha comes
// from drawing it once on black and once on white, so icons with and without an alpha channel
// both come out right.
std::vector<std::uint32_t> IconPixels(HICON icon, int cx, int cy) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(cx) * cy);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = cx;
  bi.bmiHeader.biHeight = -cy;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return out;
  std::vector<std::uint32_t> onBlack, onWhite;
  for (const COLORREF background : {RGB(0, 0, 0), RGB(255, 255, 255)}) {
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib) break;
    HGDIOBJ old = SelectObject(dc, dib);
    RECT all{0, 0, cx, cy};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    DrawIconEx(dc, 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
    GdiFlush();
    const auto* px = static_cast<const std::uint32_t*>(bits);
    (background == RGB(0, 0, 0) ? onBlack : onWhite).assign(px, px + out.size());
    SelectObject(dc, old);
    DeleteObject(dib);
  }
  DeleteDC(dc);
  if (onBlack.size() != out.size() || onWhite.size() != out.size()) return out;
  for (std::size_t i = 0; i < out.size(); ++i) {
    // On black a pixel shows colour × alpha; on white colour × alpha + (255 - alpha).
    const int alpha = 255 - static_cast<int>((onWhite[i] >> 8 & 0xFF) - (onBlack[i] >> 8 & 0xFF));
    out[i] = (onBlack[i] & 0x00FFFFFFu) | static_cast<std::uint32_t>(std::clamp(alpha, 0, 255))
                                              << 24;
  }
  return out;
}

// `base` with a badge drawn over its lower right quarter (for a muted microphone: a red disc with
// a white bar), as a new icon the caller destroys; nullptr when it cannot be made.
HICON DrawBadge(HICON base, int cx, int cy) {
  std::vector<std::uint32_t> px = IconPixels(base, cx, cy);
  // The disc and its bar, with 4 × 4 samples per pixel for smooth edges.
  const double r = cx * 0.27, mx = cx * 0.715, my = cy * 0.715, bar = r * 0.22;
  for (int y = 0; y < cy; ++y)
    for (int x = 0; x < cx; ++x) {
      int inDisc = 0, inBar = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          const double dx = x + (sx + 0.5) / 4 - mx, dy = y + (sy + 0.5) / 4 - my;
          if (dx * dx + dy * dy > r * r) continue;
          ++inDisc;
          // The bar runs from upper left to lower right through the centre.
          if (std::abs(dx - dy) / 1.4142 < bar && std::abs(dx + dy) / 1.4142 < r * 0.62) ++inBar;
        }
      if (!inDisc) continue;
      const double cover = inDisc / 16.0, white = inBar / static_cast<double>(inDisc);
      const auto channel = [&](double red) {
        return static_cast<std::uint32_t>(std::lround(255 * (white + (1 - white) * red)));
      };
      // Badge colour (premultiplied) over what is there.
      std::uint32_t& p = px[static_cast<std::size_t>(y) * cx + x];
      const std::uint32_t br = channel(0.88), bg = channel(0.13), bb = channel(0.13);
      const auto mix = [&](std::uint32_t under, std::uint32_t over) {
        return static_cast<std::uint32_t>(std::lround(over * cover + under * (1 - cover)));
      };
      const std::uint32_t a = mix(p >> 24, 255), rr = mix(p >> 16 & 0xFF, br),
                          gg = mix(p >> 8 & 0xFF, bg), bl = mix(p & 0xFF, bb);
      p = a << 24 | rr << 16 | gg << 8 | bl;
    }
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof(header);
  header.bV5Width = cx;
  header.bV5Height = -cy;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                   &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!color) return nullptr;
  std::copy(px.begin(), px.end(), static_cast<std::uint32_t*>(bits));
  // The alpha channel decides; the mask only has to exist.
  std::vector<std::uint8_t> zeros(static_cast<std::size_t>((cx + 15) / 16 * 2) * cy, 0);
  HBITMAP mask = CreateBitmap(cx, cy, 1, 1, zeros.data());
  ICONINFO info{TRUE, 0, 0, mask, color};
  HICON icon = mask ? CreateIconIndirect(&info) : nullptr;
  if (mask) DeleteObject(mask);
  DeleteObject(color);
  return icon;
}

}  // namespace

Win32TrayIcon::Win32TrayIcon(EventLoop& loop, TrayIconSpec spec, NotificationArea area)
    : Win32TrayIcon(loop, std::move(spec), area, std::make_shared<std::vector<Win32TrayIcon*>>()) {}

Win32TrayIcon::Win32TrayIcon(EventLoop& loop, TrayIconSpec spec,
                             std::shared_ptr<std::vector<Win32TrayIcon*>> registry)
    : Win32TrayIcon(loop, std::move(spec), NotificationArea{}, std::move(registry)) {}

Win32TrayIcon::Win32TrayIcon(EventLoop& loop, TrayIconSpec spec, NotificationArea area,
                             std::shared_ptr<std::vector<Win32TrayIcon*>> registry)
    : loop_(loop), spec_(std::move(spec)), registry_(std::move(registry)), area_(area) {
  registry_->push_back(this);
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
  icon_ = baseIcon_ = DefaultIcon();
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
  std::erase(*registry_, this);
  if (menuOpen_) EndMenu();
  if (window_) {
    if (shown_) Notify(NIM_DELETE, 0);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  if (menu_) DestroyMenu(menu_);
  if (loadedIcon_) DestroyIcon(loadedIcon_);
  if (badgedIcon_) DestroyIcon(badgedIcon_);
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
  baseIcon_ = loadedIcon_ = icon;
  UpdateImage();
  if (old) DestroyIcon(old);
  return true;
}

void Win32TrayIcon::SetBadge(TrayBadge badge) {
  if (badge == badge_) return;
  badge_ = badge;
  UpdateImage();
}

void Win32TrayIcon::UpdateImage() {
  HICON old = badgedIcon_;
  badgedIcon_ = nullptr;
  if (badge_ != TrayBadge::None)
    badgedIcon_ =
        DrawBadge(baseIcon_, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
  // Without a badge drawn (or when drawing fails) the plain image still shows.
  icon_ = badgedIcon_ ? badgedIcon_ : baseIcon_;
  if (shown_) Notify(NIM_MODIFY, NIF_ICON);
  if (old) DestroyIcon(old);
}

bool Win32TrayIcon::ShowBalloon(const Notification& n) {
  if (!window_ || !shown_) return false;
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof(d);
  d.hWnd = window_;
  d.uID = kIconId;
  d.uFlags = NIF_INFO;
  // A balloon without text is not shown at all, so a lone title becomes the text.
  std::wstring title = Widen(n.title), text = Widen(n.body);
  if (text.empty()) std::swap(title, text);
  // Cut to the fields, never between the halves of a surrogate pair.
  const auto copy = [](const std::wstring& from, wchar_t* to, std::size_t size) {
    std::size_t count = std::min(from.size(), size - 1);
    if (count < from.size() && count > 0 && IS_HIGH_SURROGATE(from[count - 1])) --count;
    from.copy(to, count);
  };
  copy(title, d.szInfoTitle, std::size(d.szInfoTitle));
  copy(text, d.szInfo, std::size(d.szInfo));
  d.uTimeout = static_cast<UINT>(n.timeout.count());
  d.dwInfoFlags = (n.icon == NotificationIcon::Error     ? NIIF_ERROR
                   : n.icon == NotificationIcon::Warning ? NIIF_WARNING
                                                         : NIIF_INFO) |
                  NIIF_NOSOUND;
  return area_.notify(NIM_MODIFY, &d) != FALSE;
}

void Win32TrayIcon::SetHint(std::string_view hint) {
  hint_ = Widen(hint);
  if (shown_) Notify(NIM_MODIFY, NIF_TIP);
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
