// Hidden top-level message windows, the named mutex, paths and clock on the real Win32 API.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "base/path.h"
#include "platform/win32/win32_core.h"
#include "platform/win32/win32_loop.h"

using namespace kv::platform;
using namespace kv::platform::win32;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kPrivate = 7035;

TEST(Win32Windows, FoundByClassNameAloneAndGoneWhenDestroyed) {
  Win32Windows windows;
  EXPECT_EQ(windows.Find("KvTestNoSuchClass"), 0u);
  auto w = windows.Create("KvTestFindMe", [](const WindowMessage&) { return 0; });
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(windows.Find("KvTestFindMe"), w->Handle());
  EXPECT_EQ(windows.Find("kvtestfindme"), w->Handle());  // class names ignore case
  HWND hwnd = Win32Windows::ToHwnd(w->Handle());
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetParent(hwnd), nullptr);  // top-level, so other programs can find it
  const WindowHandle old = w->Handle();
  w.reset();
  EXPECT_EQ(windows.Find("KvTestFindMe"), 0u);
  EXPECT_FALSE(windows.Post(old, {kPrivate, 0, 0}));
  EXPECT_FALSE(windows.Send(old, {kPrivate, 0, 0}));
  EXPECT_FALSE(windows.Post(0, {kPrivate, 0, 0}));
}

TEST(Win32Windows, PostedAndSentMessagesReachTheProcWithTheirParameters) {
  Win32EventLoop loop;
  Win32Windows windows;
  std::vector<WindowMessage> got;
  auto w = windows.Create("KvTestReceiver", [&](const WindowMessage& m) -> std::intptr_t {
    got.push_back(m);
    if (m.msg == kPrivate + 1) loop.Quit(0);
    return m.lParam * 2;
  });
  ASSERT_NE(w, nullptr);
  // Sent on the same thread: answered at once.
  EXPECT_EQ(windows.Send(w->Handle(), {kPrivate, 1, 21}), std::optional<std::intptr_t>(42));
  // Sent from another thread while the loop runs: the main thread answers.
  std::optional<std::intptr_t> fromThread;
  std::thread t([&] {
    fromThread = windows.Send(windows.Find("KvTestReceiver"), {kPrivate, 2, -5});
    windows.Post(windows.Find("KvTestReceiver"), {kPrivate + 1, 0xFFFFFFFFu, -1});
  });
  EXPECT_EQ(loop.Run(), 0);
  t.join();
  EXPECT_EQ(fromThread, std::optional<std::intptr_t>(-10));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].wParam, 2u);
  EXPECT_EQ(got[2].msg, kPrivate + 1);
  EXPECT_EQ(got[2].wParam, 0xFFFFFFFFu);
  EXPECT_EQ(got[2].lParam, -1);
}

TEST(Win32Windows, CloseAndSessionEndReachTheProcAndTheWindowStays) {
  Win32Windows windows;
  std::vector<std::uint32_t> got;
  auto w = windows.Create("KvTestClose", [&](const WindowMessage& m) -> std::intptr_t {
    got.push_back(m.msg);
    return m.msg == WM_QUERYENDSESSION ? 1 : 0;
  });
  ASSERT_NE(w, nullptr);
  HWND hwnd = Win32Windows::ToHwnd(w->Handle());
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(hwnd));  // the program decides what a close means
  EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0), 1);
  SendMessageW(hwnd, WM_ENDSESSION, TRUE, 0);
  SendMessageW(hwnd, WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(L"t"));  // system message: not forwarded
  EXPECT_EQ(got, (std::vector<std::uint32_t>{WM_CLOSE, WM_QUERYENDSESSION, WM_ENDSESSION}));
}

TEST(Win32Instance, ANameIsHeldOnceUntilItsGuardIsReleased) {
  Win32SingleInstance instance;
  const std::string name = "KvTestMutex" + std::to_string(GetCurrentProcessId());
  auto first = instance.Acquire(name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(instance.Acquire(name), nullptr);
  // The guard is a named kernel mutex that other processes can open.
  HANDLE h = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, std::wstring(name.begin(), name.end()).c_str());
  EXPECT_NE(h, nullptr);
  if (h) CloseHandle(h);
  first.reset();
  EXPECT_NE(instance.Acquire(name), nullptr);
}

TEST(Win32Paths, ExecutableFolderHoldsThisProgramAndDocumentsExist) {
  Win32Paths paths;
  const std::string exe = paths.ExecutableDir();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), '\\');
  EXPECT_TRUE(kv::path::FileExists(exe + "kv_win32_tests.exe"));
  const std::string docs = paths.DocumentsDir();
  ASSERT_FALSE(docs.empty());
  EXPECT_NE(docs.back(), '\\');
  EXPECT_TRUE(kv::path::FolderExists(docs));
  EXPECT_EQ(paths.ConfigFile(), exe + "config.ini");
}

TEST(Win32Clock, TickCountAdvancesAndLocalTimeIsPlausible) {
  Win32Clock clock;
  const std::uint32_t t0 = clock.TickCount();
  Sleep(60);
  const std::uint32_t elapsed = clock.TickCount() - t0;  // wraps correctly as unsigned
  EXPECT_GE(elapsed, 45u);
  EXPECT_LT(elapsed, 5000u);
  const LocalTime now = clock.Now();
  SYSTEMTIME st;
  GetLocalTime(&st);
  EXPECT_EQ(now.year, st.wYear);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LE(now.hour, 23);
}

}  // namespace
