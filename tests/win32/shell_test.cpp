// The tray icon, its popup menu, the content window, the shell's "open" and the locale tables on
// the real Win32 API (under Wine with an X display for the windows and the notification area).
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "base/component.h"
#include "lang/gx_language.h"
#include "platform/win32/wide.h"
#include "platform/locale_contract.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/win32_shell.h"
#include "tests/win32/popup_menu.h"

using namespace kv::platform;
using namespace kv::platform::win32;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

struct Folder {
  Folder() {
    path = fs::temp_directory_path() /
           ("kvshell-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++n));
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const {
    return kv::platform::win32::Narrow((path / name).wstring());
  }
  fs::path path;
  static inline int n = 0;
};

// A 16 x 16 true-colour icon file.
void WriteIcon(const std::string& file) {
  std::vector<std::uint8_t> b;
  auto u16 = [&](unsigned v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  const unsigned image = 40 + 16 * 16 * 4 + 16 * 4;
  u16(0), u16(1), u16(1);  // icon directory, one image
  b.push_back(16), b.push_back(16), b.push_back(0), b.push_back(0);
  u16(1), u16(32), u32(image), u32(22);
  u32(40), u32(16), u32(32), u16(1), u16(32), u32(0), u32(16 * 16 * 4 + 16 * 4), u32(0), u32(0),
      u32(0), u32(0);
  for (int i = 0; i < 16 * 16; ++i) u32(0xFF2080E0);  // opaque pixels
  for (int i = 0; i < 16 * 4; ++i) b.push_back(0);    // AND mask: all shown
  std::ofstream(fs::path(Widen(file)), std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), b.size());
}

// Whether the notification area holds the icon (hwnd, 1): a modification succeeds only then.
bool IconPresent(HWND owner) {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof(d);
  d.hWnd = owner;
  d.uID = 1;
  d.uFlags = NIF_TIP;
  return Shell_NotifyIconW(NIM_MODIFY, &d) != FALSE;
}

std::vector<std::wstring> Captions(HMENU menu) {
  std::vector<std::wstring> out;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
    out.emplace_back(text);
  }
  return out;
}

// The monitor's menu: Config, a hidden About, Exit. A choice of `quitOn` ends the loop.
class Win32Tray : public ::testing::Test {
 protected:
  void SetUp() override {
    TrayIconSpec spec;
    spec.menu = {{"Config", true}, {"About", false}, {"Exit", true}};
    spec.hint = "GAMING MOUSE DRIVER";
    spec.onMenuItem = [this](std::size_t i) {
      chosen.push_back(i);
      if (i == quitOn) loop.Quit(0);
    };
    spec.onClick = [this] { ++clicks; };
    icon = shell.CreateTrayIcon(std::move(spec));
    ASSERT_NE(icon, nullptr);
    tray = &dynamic_cast<Win32TrayIcon&>(*icon);
    owner = tray->Window();
  }
  Win32EventLoop loop;
  Win32Shell shell{loop};
  std::vector<std::size_t> chosen;
  int clicks = 0;
  std::size_t quitOn = 99;
  std::unique_ptr<TrayIcon> icon;
  Win32TrayIcon* tray = nullptr;
  HWND owner = nullptr;
};

TEST_F(Win32Tray, IconIsAddedModifiedAndRemovedAndTheMenuLeavesHiddenItemsOut) {
  EXPECT_TRUE(tray->Shown());
  EXPECT_TRUE(IconPresent(owner));
  EXPECT_EQ(Captions(tray->Menu()), (std::vector<std::wstring>{L"Config", L"Exit"}));
  EXPECT_EQ(GetMenuItemID(tray->Menu(), 1), 3u);  // Exit keeps its index in the menu list

  tray->SetMenuCaption(0, "打开配置");
  tray->SetMenuCaption(2, "退出软件");
  tray->SetMenuCaption(1, "关于软件");  // hidden: stays out of the menu
  tray->SetMenuCaption(3, "past the end");
  EXPECT_EQ(Captions(tray->Menu()), (std::vector<std::wstring>{L"打开配置", L"退出软件"}));
  tray->SetMenuCaption(0, "Save & Exit");  // shown as written, not as a hot key
  EXPECT_EQ(Captions(tray->Menu())[0], L"Save && Exit");

  tray->SetHint(std::string(300, 'h'));  // longer than the notification area keeps
  EXPECT_TRUE(IconPresent(owner));
  icon.reset();
  EXPECT_FALSE(IconPresent(owner));
}

TEST_F(Win32Tray, ARestartedTaskbarGetsTheIconBack) {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof(d);
  d.hWnd = owner;
  d.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &d));  // what a taskbar that went away leaves
  ASSERT_FALSE(IconPresent(owner));
  SendMessageW(owner, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(IconPresent(owner));
}

// A notification area that refuses icons until told otherwise, and a stand-in taskbar window
// whose thread handles its messages only once the test lets it.
namespace refusing {
std::atomic<int> adds{0};
std::atomic<bool> accepts{false};
HWND taskbar = nullptr;
BOOL WINAPI Notify(DWORD action, PNOTIFYICONDATAW) {
  if (action == NIM_ADD) ++adds;
  return accepts.load() ? TRUE : FALSE;
}
HWND Taskbar() { return taskbar; }
}  // namespace refusing

TEST(Win32TrayRetry, AnIconARunningTaskbarRefusedIsAddedOnceTheTaskbarAnswers) {
  refusing::adds = 0;
  refusing::accepts = false;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE answer = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD taskbarThreadId = 0;
  std::thread taskbar([&] {
    taskbarThreadId = GetCurrentThreadId();
    refusing::taskbar = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    SetEvent(ready);
    WaitForSingleObject(answer, INFINITE);  // busy: no message is handled until then
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    DestroyWindow(refusing::taskbar);
  });
  WaitForSingleObject(ready, INFINITE);
  ASSERT_NE(refusing::taskbar, nullptr);

  Win32EventLoop loop;
  Win32TrayIcon tray(loop, {{{"Config", true}}, "hint", nullptr, nullptr},
                     {&refusing::Notify, &refusing::Taskbar});
  const auto pump = [&](int ms) {
    for (const DWORD end = GetTickCount() + ms; GetTickCount() < end && !tray.Shown();) {
      loop.ProcessPending();
      Sleep(10);
    }
  };
  EXPECT_FALSE(tray.Shown());
  EXPECT_EQ(refusing::adds, 1);
  pump(300);
  EXPECT_EQ(refusing::adds, 1) << "asked again before the taskbar answered";
  refusing::accepts = true;
  SetEvent(answer);
  pump(5000);
  EXPECT_TRUE(tray.Shown());
  EXPECT_EQ(refusing::adds, 2);

  PostThreadMessageW(taskbarThreadId, WM_QUIT, 0, 0);
  taskbar.join();
  CloseHandle(ready);
  CloseHandle(answer);
}

TEST(Win32TrayRetry, WithoutATaskbarTheIconWaitsForItsAnnouncementAndARefusalIsRetriedAFewTimes) {
  refusing::adds = 0;
  refusing::accepts = false;
  refusing::taskbar = nullptr;
  Win32EventLoop loop;
  Win32TrayIcon tray(loop, {{{"Config", true}}, "hint", nullptr, nullptr},
                     {&refusing::Notify, &refusing::Taskbar});
  loop.ProcessPending();
  EXPECT_EQ(refusing::adds, 1);  // no taskbar: nothing to wait for
  // A taskbar that answers at once but keeps refusing: a few more attempts, then it rests until
  // a taskbar announces itself again.
  refusing::taskbar = GetDesktopWindow();
  SendMessageW(tray.Window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  for (int i = 0; i < 50; ++i) {
    loop.ProcessPending();
    Sleep(10);
  }
  EXPECT_EQ(refusing::adds, 5);  // the first, the announcement's and three retries
  EXPECT_FALSE(tray.Shown());
}

TEST_F(Win32Tray, ImageComesOnlyFromAReadableIconFile) {
  Folder folder;
  EXPECT_FALSE(icon->SetImageFromFile(folder / "logo.ico"));
  std::ofstream(folder.path / "logo.ico") << "not an icon";
  EXPECT_FALSE(icon->SetImageFromFile(folder / "logo.ico"));
  EXPECT_FALSE(icon->SetImageFromFile(""));
  WriteIcon(folder / "good.ico");
  EXPECT_TRUE(icon->SetImageFromFile(folder / "good.ico"));
  EXPECT_TRUE(icon->SetImageFromFile(folder / "good.ico"));  // replacing a loaded image
  EXPECT_FALSE(icon->SetImageFromFile(folder / "logo.ico"));
  EXPECT_TRUE(IconPresent(owner));
}

TEST_F(Win32Tray, ClicksAndMenuCommandsArriveThroughTheLoopWithTheSpecIndex) {
  SendMessageW(owner, kTrayCallbackMessage, 1, WM_LBUTTONUP);
  SendMessageW(owner, WM_COMMAND, 3, 0);
  EXPECT_EQ(clicks, 0);  // not inside the window procedure
  EXPECT_TRUE(chosen.empty());
  loop.ProcessPending();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(chosen, (std::vector<std::size_t>{2}));
  // A double click (down, up, double click, up) is one click.
  for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_MOUSEMOVE})
    SendMessageW(owner, kTrayCallbackMessage, 1, m);
  loop.ProcessPending();
  EXPECT_EQ(clicks, 2);
  SendMessageW(owner, WM_COMMAND, 2, 0);  // the hidden About cannot be chosen
  SendMessageW(owner, WM_COMMAND, 9, 0);
  SendMessageW(owner, WM_COMMAND, 1, 0);
  icon.reset();  // gone before its event ran: the event is dropped
  loop.ProcessPending();
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(chosen, (std::vector<std::size_t>{2}));
}

TEST_F(Win32Tray, RightClickOpensThePopupAndAKeyboardChoiceReachesTheOwner) {
  quitOn = 2;
  icon->SetMenuCaption(2, "退出软件");
  std::vector<std::wstring> shown;
  std::thread user([&] {
    HWND popup = kvtest::RightClickTray(owner);
    if (!popup) return loop.Quit(1);
    shown = kvtest::PopupCaptions(popup);
    kvtest::PressKeys(popup, {VK_DOWN, VK_DOWN, VK_RETURN});
  });
  const int code = loop.Run();
  user.join();
  EXPECT_EQ(code, 0) << "the menu did not open";
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"Config", L"退出软件"}));
  EXPECT_EQ(chosen, (std::vector<std::size_t>{2}));
}

// The colour (0x00RRGGBB) and alpha of one pixel of an icon drawn at its own size.
std::pair<std::uint32_t, int> IconPixel(HICON icon, int x, int y) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {0, -1};
  BITMAP bm{};
  GetObjectW(info.hbmColor, sizeof bm, &bm);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> px(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight);
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, px.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  const std::uint32_t p = px[static_cast<std::size_t>(y) * bm.bmWidth + x];
  return {p & 0xFFFFFF, static_cast<int>(p >> 24)};
}

TEST_F(Win32Tray, TheMuteBadgeIsDrawnOverTheImageAndTakenAwayAgain) {
  HICON plain = tray->ShownIcon();
  const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  icon->SetBadge(TrayBadge::MicrophoneMuted);
  HICON badged = tray->ShownIcon();
  ASSERT_NE(badged, plain);
  EXPECT_TRUE(IconPresent(owner));
  // Inside the disc (lower right), off its bar: opaque red.
  const auto [rgb, alpha] = IconPixel(badged, cx * 72 / 100 - cx / 8, cy * 72 / 100 + cy / 8);
  EXPECT_EQ(alpha, 255);
  EXPECT_GT(rgb >> 16 & 0xFF, 0xC0u) << std::hex << rgb;
  EXPECT_LT(rgb & 0xFF, 0x60u) << std::hex << rgb;
  // A new image keeps the badge; None shows the image alone.
  Folder folder;
  WriteIcon(folder / "good.ico");
  ASSERT_TRUE(icon->SetImageFromFile(folder / "good.ico"));
  EXPECT_GT(
      IconPixel(tray->ShownIcon(), cx * 72 / 100 - cx / 8, cy * 72 / 100 + cy / 8).first >> 16 &
          0xFF,
      0xC0u);
  HICON loaded = tray->ShownIcon();
  icon->SetBadge(TrayBadge::None);
  EXPECT_NE(tray->ShownIcon(), loaded);
  icon->SetBadge(TrayBadge::None);
  EXPECT_TRUE(IconPresent(owner));
}

TEST_F(Win32Tray, NotificationsAreBalloonsOfTheIconThatExists) {
  Notification n;
  n.title = "Microphone muted";
  EXPECT_TRUE(shell.ShowNotification(n));
  n.body = std::string(300, 'b');  // longer than a balloon keeps
  n.icon = NotificationIcon::Error;
  EXPECT_TRUE(tray->ShowBalloon(n));
  icon.reset();
  EXPECT_FALSE(shell.ShowNotification(n)) << "no icon, no balloon";
}

// --- content window ----------------------------------------------------------------------------

WindowContent Dialog() {
  WindowContent c{"TKVTESTDIALOG", 504, 400, true, {}};
  c.elements.push_back({"Background",
                        ElementKind::Image,
                        -1,
                        0,
                        0,
                        504,
                        400,
                        "",
                        {},
                        TextAlign::Left,
                        0xFF000000u,
                        {"nope"},
                        true});
  c.elements.push_back({"BtnOK",
                        ElementKind::ImageButton,
                        -1,
                        208,
                        325,
                        94,
                        27,
                        "OK",
                        {"Myriad Pro", 13, true},
                        TextAlign::Center,
                        0xFF000000u,
                        {"n", "h", "p"},
                        true});
  c.elements.push_back(
      {"Box", ElementKind::Container, -1, 43, 81, 425, 223, "", {}, TextAlign::Left, 0, {}, true});
  c.elements.push_back({"Title",
                        ElementKind::Label,
                        2,
                        20,
                        25,
                        405,
                        26,
                        "Hardware & Software Information:",
                        {"Myriad Pro", 16, true},
                        TextAlign::Left,
                        0xFFFFFFFFu,
                        {},
                        true});
  c.elements.push_back({"Empty",
                        ElementKind::Label,
                        2,
                        25,
                        51,
                        400,
                        30,
                        "",
                        {"Myriad Pro", 13, false},
                        TextAlign::Right,
                        0xFFFFFFFFu,
                        {},
                        true});
  c.elements.push_back({"BtnGoWeb",
                        ElementKind::ClickableImage,
                        2,
                        25,
                        182,
                        77,
                        31,
                        "",
                        {},
                        TextAlign::Left,
                        0,
                        {"go"},
                        true});
  c.elements.push_back({"Hidden",
                        ElementKind::ClickableImage,
                        -1,
                        0,
                        0,
                        40,
                        40,
                        "",
                        {},
                        TextAlign::Left,
                        0,
                        {},
                        false});
  return c;
}

LPARAM At(const RECT& r) { return MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

// The client area as the window draws it.
struct Snapshot {
  explicit Snapshot(HWND window) {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, 504, 400);
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bitmap);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  }
  ~Snapshot() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
  // Pixels inside `r` that differ from the pixel at its top-left corner.
  int Marked(const RECT& r) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += At(x, y) != At(r.left, r.top);
    return n;
  }
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
};

struct Window {
  Window() : shell(loop) {
    content = shell.CreateContentWindow(
        Dialog(), [this](const std::string& name) { clicks.push_back(name); });
    if (content) self = dynamic_cast<Win32ContentWindow*>(content.get());
  }
  RECT Rect(const char* name) { return *self->ElementRect(name); }
  void Click(const char* down, const char* up) {
    SendMessageW(self->Window(), WM_LBUTTONDOWN, MK_LBUTTON, At(Rect(down)));
    SendMessageW(self->Window(), WM_LBUTTONUP, 0, At(Rect(up)));
    loop.ProcessPending();
  }
  Win32EventLoop loop;
  Win32Shell shell;
  std::unique_ptr<ContentWindow> content;
  Win32ContentWindow* self = nullptr;
  std::vector<std::string> clicks;
};

TEST(Win32ContentWindow, FixedClientSizeCentredWhenShownAndTitledByTheApplication) {
  Window w;
  ASSERT_NE(w.self, nullptr);
  HWND hwnd = w.self->Window();
  EXPECT_FALSE(w.content->IsVisible());
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 504);
  EXPECT_EQ(client.bottom, 400);
  w.content->Show();
  EXPECT_TRUE(w.content->IsVisible());
  // No taskbar button of its own: the taskbar shows an unowned window unless it is a tool
  // window, and always one marked as an application window.
  const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  EXPECT_TRUE(GetWindow(hwnd, GW_OWNER) != nullptr || (exStyle & WS_EX_TOOLWINDOW));
  EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
  RECT work, frame;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(hwnd, &frame);
  EXPECT_EQ(frame.right - frame.left, 504);  // no border, no caption
  EXPECT_NEAR(frame.left - work.left, work.right - frame.right, 1);
  EXPECT_NEAR(frame.top - work.top, work.bottom - frame.bottom, 1);
  w.content->BringToFront();
  w.shell.SetApplicationTitle("GAMING MOUSE MONITOR");
  wchar_t title[64] = {};
  GetWindowTextW(hwnd, title, 64);
  EXPECT_STREQ(title, L"GAMING MOUSE MONITOR");
  auto later = w.shell.CreateContentWindow(Dialog(), nullptr);
  ASSERT_NE(later, nullptr);
  GetWindowTextW(dynamic_cast<Win32ContentWindow&>(*later).Window(), title, 64);
  EXPECT_STREQ(title, L"GAMING MOUSE MONITOR");
  SendMessageW(hwnd, WM_CLOSE, 0, 0);  // Alt+F4 hides; the owner decides when it goes
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(w.content->IsVisible());
}

TEST(Win32ContentWindow, ClicksAreReportedByNameForAPressAndReleaseOnOneElement) {
  Window w;
  ASSERT_NE(w.self, nullptr);
  const RECT web = w.Rect("BtnGoWeb");
  EXPECT_EQ(web.left, 43 + 25);  // inside its container
  EXPECT_EQ(web.top, 81 + 182);
  EXPECT_EQ(web.right - web.left, 77);
  EXPECT_FALSE(w.self->ElementRect("NoSuchElement"));
  w.content->Show();
  w.Click("BtnGoWeb", "BtnGoWeb");
  w.Click("BtnOK", "BtnOK");
  w.Click("Title", "Title");     // labels do not click
  w.Click("Hidden", "Hidden");   // nor do hidden elements
  w.Click("BtnOK", "BtnGoWeb");  // pressed on one, released on another
  EXPECT_EQ(w.clicks, (std::vector<std::string>{"BtnGoWeb", "BtnOK"}));
  SendMessageW(w.self->Window(), WM_LBUTTONDOWN, MK_LBUTTON, At(w.Rect("BtnOK")));
  SendMessageW(w.self->Window(), WM_LBUTTONUP, 0, At(w.Rect("BtnOK")));
  w.content.reset();  // destroyed before the click was delivered
  w.loop.ProcessPending();
  EXPECT_EQ(w.clicks.size(), 2u);
}

TEST(Win32ContentWindow, ButtonDrawsItsNormalHotAndPressedStatesAndLabelsDrawText) {
  Window w;
  ASSERT_NE(w.self, nullptr);
  HWND hwnd = w.self->Window();
  w.content->Show();
  const RECT ok = w.Rect("BtnOK");
  auto face = [&] { return Snapshot(hwnd).At(ok.left + 3, ok.top + 3); };
  const COLORREF normal = face();
  SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(ok));
  const COLORREF hot = face();
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(ok));
  const COLORREF pressed = face();
  SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, 5));  // dragged off: not pressed
  const COLORREF draggedOff = face();
  SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_NE(normal, hot);
  EXPECT_NE(normal, pressed);
  EXPECT_NE(hot, pressed);
  EXPECT_EQ(draggedOff, normal);
  EXPECT_EQ(face(), normal);

  Snapshot shot(hwnd);
  EXPECT_GT(shot.Marked(w.Rect("Title")), 50) << "the label's text was not drawn";
  EXPECT_GT(shot.Marked(ok), 20) << "the button's text was not drawn";
  EXPECT_EQ(shot.Marked(w.Rect("Empty")), 0);
  // A new text (a language change) is drawn in place of the old one.
  WindowContent changed = Dialog();
  changed.elements[3].text.clear();
  w.content->SetContent(changed);
  EXPECT_EQ(Snapshot(hwnd).Marked(w.Rect("Title")), 0);
}

// --- shell -------------------------------------------------------------------------------------

TEST(Win32ShellOpen, LaunchStartsTheProgramInItsFolderAndFailsForAMissingOne) {
  Win32EventLoop loop;
  Win32Shell shell(loop);
  Folder folder;
  EXPECT_FALSE(shell.Launch(folder / "KVCFG.EXE", Narrow(folder.path.wstring()), ShowStyle::Show));
  EXPECT_FALSE(shell.Launch("", "", ShowStyle::Show));
  EXPECT_FALSE(shell.OpenUrl("", ShowStyle::ShowNormal));
  // A batch file that records where it ran.
  std::ofstream(folder.path / "where.cmd") << "@cd > where.txt\r\n";
  ASSERT_TRUE(shell.Launch(folder / "where.cmd", Narrow(folder.path.wstring()), ShowStyle::Show));
  std::string where;
  for (int i = 0; i < 500 && where.empty(); ++i) {
    std::this_thread::sleep_for(20ms);
    std::ifstream in(folder.path / "where.txt");
    std::getline(in, where);
  }
  while (!where.empty() && (where.back() == '\r' || where.back() == ' ')) where.pop_back();
  EXPECT_EQ(fs::path(Widen(where)), folder.path);
}

TEST(Win32ShellOpen, ShowAndRaiseShowsAnExistingWindowOnly) {
  Win32EventLoop loop;
  Win32Shell shell(loop);
  Win32Windows windows;
  EXPECT_FALSE(shell.ShowAndRaise(0));
  auto other = windows.Create("KvTestHiddenConfigurator", [](const WindowMessage&) { return 0; });
  ASSERT_NE(other, nullptr);
  HWND hwnd = Win32Windows::ToHwnd(other->Handle());
  ASSERT_FALSE(IsWindowVisible(hwnd));
  EXPECT_TRUE(shell.ShowAndRaise(other->Handle()));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  const WindowHandle gone = other->Handle();
  other.reset();
  EXPECT_FALSE(shell.ShowAndRaise(gone));
}

// --- locale ------------------------------------------------------------------------------------

// The national language tables list far more than the shipped languages, and always know the
// user's language (the contract also allows an empty answer).
TEST(Win32Locale, TheSystemTablesAreWholeAndKnowTheUsersLanguage) {
  Win32Locale locale;
  EXPECT_GT(locale.SupportedLocales().size(), 20u);
  EXPECT_EQ(locale.UserLanguageAbbreviation().size(), 3u);
}

// The system's locales in the opposite order of its own enumeration.
class ReversedLocales : public Locale {
 public:
  std::vector<LocaleInfo> SupportedLocales() override {
    auto all = system_.SupportedLocales();
    std::reverse(all.begin(), all.end());
    return all;
  }
  std::uint16_t SystemDefaultLanguageId() override { return system_.SystemDefaultLanguageId(); }
  std::string UserLanguageAbbreviation() override { return system_.UserLanguageAbbreviation(); }

 private:
  Win32Locale system_;
};

// Under Wine the first "CH" locale of the enumeration is Mapudungun (Chile) and the first "US"
// one Cherokee: the translation must still name Chinese (PRC) and English (United States), and
// every other short ID the same locale whichever order the system lists them in.
TEST(Win32Locale, ShortIdsNameTheSameLocaleInEitherOrderAndTheSuitesLanguagesTheirOwn) {
  Win32Locale system;
  ReversedLocales reversed;
  kv::Component owner("TDataModule", "dm", kv::Component::Role::DataModule);
  auto& forward = kv::lang::TgxLanguage::Create(owner, "a", {&system, nullptr, nullptr, false, {}});
  auto& backward =
      kv::lang::TgxLanguage::Create(owner, "b", {&reversed, nullptr, nullptr, false, {}});
  std::map<std::uint32_t, std::string> names;
  std::set<std::string> shortIds;
  for (const LocaleInfo& l : system.SupportedLocales()) {
    names[l.localeId] = l.nativeLanguageName;
    if (l.abbreviatedCountryName.size() >= 2)
      shortIds.insert(l.abbreviatedCountryName.substr(0, 2));
  }
  ASSERT_FALSE(names[0x0804].empty());
  EXPECT_EQ(forward.GetLanguageLongNameByShortID("CH"), names[0x0804]);
  EXPECT_EQ(forward.GetLanguageLongNameByShortID("US"), names[0x0409]);
  EXPECT_EQ(forward.GetLanguageLongNameByShortID("DE"), names[0x0407]);
  EXPECT_EQ(forward.GetLanguageLongNameByShortID("FR"), names[0x040C]);
  EXPECT_EQ(forward.GetLanguageLongNameByShortID("ES"), names[0x040A]);
  ASSERT_GT(shortIds.size(), 50u);
  for (const std::string& id : shortIds)
    EXPECT_EQ(forward.GetLanguageLongNameByShortID(id), backward.GetLanguageLongNameByShortID(id))
        << id;
}

struct Win32LocaleEnv {
  Win32Locale win32;
  Locale& locale() { return win32; }
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, LocaleContract, ::testing::Types<Win32LocaleEnv>);
}
