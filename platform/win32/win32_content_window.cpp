#include <algorithm>

#include "platform/win32/wide.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/window_owner.h"

namespace kv::platform::win32 {
namespace {

// This platform has no pictures for the content's image names: every image is drawn as a plain
// panel, in colours that keep both black and white text readable on it.
constexpr COLORREF kBackground = RGB(0x1E, 0x22, 0x2A);
constexpr COLORREF kImage = RGB(0x70, 0x80, 0x98);
constexpr COLORREF kClickableImage = RGB(0x3A, 0x60, 0x90);
constexpr COLORREF kButton[3] = {RGB(0xC8, 0xCC, 0xD4), RGB(0xE4, 0xE8, 0xF0),
                                 RGB(0x98, 0x9C, 0xA8)};
constexpr COLORREF kOutline = RGB(0x20, 0x24, 0x2C);
// Sizes are in points at a fixed 96 pixels per inch: the window is not scaled with the screen.
constexpr int kPixelsPerInch = 96;
constexpr int kDefaultPoints = 9;
constexpr int kMaxDepth = 64;  // containers nested deeper than this are taken as a cycle

bool Clickable(ElementKind kind) {
  return kind == ElementKind::ImageButton || kind == ElementKind::ClickableImage;
}

COLORREF FromArgb(std::uint32_t argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void Outline(HDC dc, const RECT& r, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FrameRect(dc, &r, brush);
  DeleteObject(brush);
}

}  // namespace

Win32ContentWindow::Win32ContentWindow(EventLoop& loop, const WindowContent& content,
                                       std::function<void(const std::string&)> onClick,
                                       const std::wstring& title,
                                       std::shared_ptr<std::set<HWND>> registry)
    : loop_(loop), content_(content), onClick_(std::move(onClick)), registry_(std::move(registry)) {
  if (!EnsureWindowClass(kContentWindowClass, &WindowProc)) return;
  // A tool window: the About window is part of the monitor, not a program of its own on the
  // taskbar.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kContentWindowClass, title.c_str(), WS_POPUP, 0, 0,
                            std::max(content.clientWidth, 0), std::max(content.clientHeight, 0),
                            nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window_) registry_->insert(window_);
}

Win32ContentWindow::~Win32ContentWindow() {
  alive_.reset();
  if (!window_) return;
  registry_->erase(window_);
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void Win32ContentWindow::SetContent(const WindowContent& content) {
  content_ = content;
  if (hot_ >= static_cast<int>(content_.elements.size())) hot_ = -1;
  if (pressed_ >= static_cast<int>(content_.elements.size())) pressed_ = -1;
  SetWindowPos(window_, nullptr, 0, 0, std::max(content.clientWidth, 0),
               std::max(content.clientHeight, 0), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, FALSE);
}

void Win32ContentWindow::Show() {
  MONITORINFO screen{};
  screen.cbSize = sizeof(screen);
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &screen);
  const RECT& area = screen.rcWork;
  const int x = area.left + (area.right - area.left - content_.clientWidth) / 2;
  const int y = area.top + (area.bottom - area.top - content_.clientHeight) / 2;
  SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window_, SW_SHOW);
}

void Win32ContentWindow::Hide() {
  if (GetCapture() == window_) ReleaseCapture();
  hot_ = pressed_ = -1;
  ShowWindow(window_, SW_HIDE);
}

void Win32ContentWindow::BringToFront() {
  BringWindowToTop(window_);
  SetForegroundWindow(window_);
}

bool Win32ContentWindow::IsVisible() const { return IsWindowVisible(window_) != FALSE; }

RECT Win32ContentWindow::Rect(std::size_t index) const {
  const auto& e = content_.elements[index];
  RECT r{e.x, e.y, e.x + e.width, e.y + e.height};
  int parent = e.parent;
  for (int depth = 0; parent >= 0 && static_cast<std::size_t>(parent) < content_.elements.size() &&
                      depth < kMaxDepth;
       ++depth) {
    OffsetRect(&r, content_.elements[parent].x, content_.elements[parent].y);
    parent = content_.elements[parent].parent;
  }
  return r;
}

// A hidden container hides what it holds.
bool Win32ContentWindow::Visible(std::size_t index) const {
  std::size_t i = index;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const auto& e = content_.elements[i];
    if (!e.visible) return false;
    if (e.parent < 0 || static_cast<std::size_t>(e.parent) >= content_.elements.size()) return true;
    i = static_cast<std::size_t>(e.parent);
  }
  return true;
}

std::optional<RECT> Win32ContentWindow::ElementRect(const std::string& name) const {
  for (std::size_t i = 0; i < content_.elements.size(); ++i)
    if (content_.elements[i].name == name) return Rect(i);
  return std::nullopt;
}

int Win32ContentWindow::HitTest(POINT p) const {
  for (std::size_t i = content_.elements.size(); i-- > 0;) {
    if (!Clickable(content_.elements[i].kind) || !Visible(i)) continue;
    const RECT r = Rect(i);
    if (PtInRect(&r, p)) return static_cast<int>(i);
  }
  return -1;
}

void Win32ContentWindow::Paint(HDC dc) const {
  RECT client{0, 0, content_.clientWidth, content_.clientHeight};
  Fill(dc, client, kBackground);
  SetBkMode(dc, TRANSPARENT);
  for (std::size_t i = 0; i < content_.elements.size(); ++i) {
    if (!Visible(i)) continue;
    const auto& e = content_.elements[i];
    RECT r = Rect(i);
    const int at = static_cast<int>(i);
    switch (e.kind) {
      case ElementKind::Image: Fill(dc, r, kImage); break;
      case ElementKind::ClickableImage:
        Fill(dc, r, kClickableImage);
        Outline(dc, r, kOutline);
        break;
      case ElementKind::ImageButton: {
        const int state = (pressed_ == at && hot_ == at) ? 2 : hot_ == at ? 1 : 0;
        Fill(dc, r, kButton[state]);
        Outline(dc, r, kOutline);
        if (state == 2) OffsetRect(&r, 1, 1);  // the text sinks with the button
        break;
      }
      case ElementKind::Container:
      case ElementKind::Label: break;
    }
    if (e.text.empty()) continue;
    const int points = e.font.size > 0 ? e.font.size : kDefaultPoints;
    HFONT font =
        CreateFontW(-MulDiv(points, kPixelsPerInch, 72), 0, 0, 0, e.font.bold ? FW_BOLD : FW_NORMAL,
                    FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, Widen(e.font.face).c_str());
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, FromArgb(e.color));
    const UINT align = e.align == TextAlign::Center  ? DT_CENTER
                       : e.align == TextAlign::Right ? DT_RIGHT
                                                     : DT_LEFT;
    std::wstring text = Widen(e.text);
    // Texts are shown as written: "&" is not a hot-key marker.
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
    DeleteObject(font);
  }
}

void Win32ContentWindow::SetHot(int element) {
  if (element == hot_) return;
  hot_ = element;
  InvalidateRect(window_, nullptr, FALSE);
}

LRESULT CALLBACK Win32ContentWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (auto* self = WindowOwner<Win32ContentWindow>(hwnd, msg, lParam)) {
    if (msg == WM_NCCREATE) self->window_ = hwnd;
    return self->Handle(msg, wParam, lParam);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Win32ContentWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (msg) {
    case WM_ERASEBKGND: return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      // Drawn off screen first, so that a repaint does not flicker.
      HDC buffer = CreateCompatibleDC(dc);
      HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max(content_.clientWidth, 1),
                                              std::max(content_.clientHeight, 1));
      HGDIOBJ old = SelectObject(buffer, bitmap);
      Paint(buffer);
      BitBlt(dc, 0, 0, content_.clientWidth, content_.clientHeight, buffer, 0, 0, SRCCOPY);
      SelectObject(buffer, old);
      DeleteObject(bitmap);
      DeleteDC(buffer);
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: Paint(reinterpret_cast<HDC>(wParam)); return 0;
    case WM_MOUSEMOVE:
      SetHot(HitTest(at));
      if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window_, 0};
        tracking_ = TrackMouseEvent(&track) != FALSE;
      }
      return 0;
    case WM_MOUSELEAVE:
      tracking_ = false;
      if (pressed_ < 0) SetHot(-1);
      return 0;
    case WM_LBUTTONDOWN:
      pressed_ = HitTest(at);
      SetHot(pressed_);
      if (pressed_ >= 0) SetCapture(window_);
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      const int pressed = pressed_;
      pressed_ = -1;
      if (GetCapture() == window_) ReleaseCapture();
      const int over = HitTest(at);
      SetHot(over);
      InvalidateRect(window_, nullptr, FALSE);
      // A click is a press and a release on the same element.
      if (pressed >= 0 && over == pressed && onClick_)
        loop_.Post(
            [alive = std::weak_ptr<bool>(alive_), this, name = content_.elements[pressed].name] {
              if (!alive.expired() && onClick_) onClick_(name);
            });
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (pressed_ >= 0) {
        pressed_ = -1;
        InvalidateRect(window_, nullptr, FALSE);
      }
      return 0;
    case WM_CLOSE: Hide(); return 0;  // the owner decides when the window goes
    default: return DefWindowProcW(window_, msg, wParam, lParam);
  }
}

}  // namespace kv::platform::win32
