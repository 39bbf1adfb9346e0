// KVMON.EXE as a user's session sees it: first start, a second copy, the configurator's
// messages and the ways it ends. Each test starts the monitor from a fresh folder of its own.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <functional>
#include <thread>

#include "app/monitor.h"
#include "base/path.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_core.h"
#include "platform/win32/win32_loop.h"
#include "platform/win32/win32_platform.h"
#include "tests/win32/popup_menu.h"

using namespace kv::platform;
using namespace kv::platform::win32;
using namespace std::chrono_literals;

namespace {

constexpr UINT kProfileChanged = 7035, kMonitorExit = 7036, kGlobalSettingsChanged = 7037;
constexpr std::size_t kCurrentLanguageOffset = 30952;  // in "allsettings.pfd"
constexpr wchar_t kStoreKey[] = L"software\\software\\KVgmmouse";

// The build's Linux paths, as Wine's Z: drive shows them.
std::wstring FromBuild(const char* linuxPath) {
  std::wstring w = L"Z:" + Widen(linuxPath);
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG msg;  // keep this thread's own windows answering
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(20);
  }
  return true;
}

HWND MonitorWindow() { return FindWindowW(L"TKVMONMAIN", nullptr); }

class Monitor {
 public:
  explicit Monitor(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring cmd = L"\"" + exe + L"\"";
    const std::wstring dir = exe.substr(0, exe.find_last_of(L'\\'));
    if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                       &si, &pi_))
      CloseHandle(pi_.hThread);
    else pi_.hProcess = nullptr;
  }
  ~Monitor() {
    if (!pi_.hProcess) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    WaitForSingleObject(pi_.hProcess, 5000);
    CloseHandle(pi_.hProcess);
  }
  bool Started() const { return pi_.hProcess != nullptr; }
  // nullopt while it still runs after `limit`.
  std::optional<DWORD> WaitExit(DWORD limitMs) {
    if (WaitForSingleObject(pi_.hProcess, limitMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION pi_{};
};

std::optional<std::pair<DWORD, std::vector<BYTE>>> StoredValue(const wchar_t* name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0, size = 0;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> out;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<BYTE> data(size);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
      out.emplace(type, std::move(data));
  }
  RegCloseKey(key);
  return out;
}

class MonitorE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh user: no stored profiles, no profile folders, the monitor alone in its folder.
    RegDeleteTreeW(HKEY_CURRENT_USER, kStoreKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kStoreKey);
    docs_ = Win32Paths().DocumentsDir();
    ASSERT_FALSE(docs_.empty());
    std::filesystem::remove_all(kv::path::ToFs(kv::path::Join(docs_, "Profile")));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"kvmon-e2e-" + std::to_wstring(GetCurrentProcessId());
    std::filesystem::create_directories(dir_);
    exe_ = dir_ + L"\\KVMON.EXE";
    ASSERT_TRUE(CopyFileW(FromBuild(KV_E2E_MONITOR).c_str(), exe_.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(FromBuild(KV_E2E_HOOK).c_str(), (dir_ + L"\\gxHook.dll").c_str(), FALSE));
    ASSERT_EQ(MonitorWindow(), nullptr) << "a monitor from an earlier run is still there";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string docs_;
  std::wstring dir_, exe_;
};

TEST_F(MonitorE2e, FirstStartWritesTheDefaultRecordsAndFoldersAndCloseEndsItWithZero) {
  Monitor monitor(exe_);
  ASSERT_TRUE(monitor.Started());
  ASSERT_TRUE(WaitFor([] { return MonitorWindow() != nullptr; })) << "no TKVMONMAIN window";
  auto group = StoredValue(L"ProfileSettingGroup.pfd");
  auto all = StoredValue(L"allsettings.pfd");
  ASSERT_TRUE(group && all);
  EXPECT_EQ(group->first, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(group->second.size(), 30964u);
  EXPECT_EQ(all->first, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(all->second.size(), 30954u);
  EXPECT_TRUE(kv::path::FolderExists(kv::path::Join(docs_, "Profile")));
  // One macro folder per profile inside the profile folder.
  int macroFolders = 0;
  std::error_code ec;
  for (const auto& e :
       std::filesystem::directory_iterator(kv::path::ToFs(kv::path::Join(docs_, "Profile")), ec)) {
    const std::string name = kv::path::FromFs(e.path().filename());
    if (e.is_directory() && name.size() > 7 && name.ends_with("_Macros")) ++macroFolders;
  }
  EXPECT_EQ(macroFolders, 5);
  PostMessageW(MonitorWindow(), WM_CLOSE, 0, 0);
  EXPECT_EQ(monitor.WaitExit(20000), std::optional<DWORD>(0));
  EXPECT_EQ(MonitorWindow(), nullptr);
}

TEST_F(MonitorE2e, ASecondCopyEndsAtOnceWithZeroAndLeavesTheFirstRunning) {
  Monitor first(exe_);
  ASSERT_TRUE(WaitFor([] { return MonitorWindow() != nullptr; }));
  HWND window = MonitorWindow();
  Monitor second(exe_);
  ASSERT_TRUE(second.Started());
  EXPECT_EQ(second.WaitExit(15000), std::optional<DWORD>(0));
  EXPECT_EQ(first.WaitExit(0), std::nullopt) << "the first copy must keep running";
  EXPECT_EQ(MonitorWindow(), window);
  // The end of the session ends it cleanly too.
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
  PostMessageW(window, WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(first.WaitExit(20000), std::optional<DWORD>(0));
}

TEST_F(MonitorE2e, ConfiguratorMessagesReloadRecordTheProfileAndHearTheExit) {
  Win32EventLoop loop;
  Win32Windows windows;
  std::vector<WindowMessage> heard;
  auto configurator = windows.Create("TKVCFGMAIN", [&](const WindowMessage& m) -> std::intptr_t {
    heard.push_back(m);
    return 0;
  });
  ASSERT_NE(configurator, nullptr);
  Monitor monitor(exe_);
  ASSERT_TRUE(WaitFor([] { return MonitorWindow() != nullptr; }));
  PostMessageW(MonitorWindow(), kProfileChanged, 0, 2);
  ASSERT_TRUE(WaitFor([] {
    auto v = StoredValue(L"ProfileID");
    return v && v->first == REG_DWORD && v->second == std::vector<BYTE>{2, 0, 0, 0};
  })) << "ProfileID did not become 2";
  PostMessageW(MonitorWindow(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] {
    for (auto& m : heard)
      if (m.msg == kMonitorExit) return true;
    return false;
  })) << "the configurator was not told";
  EXPECT_EQ(monitor.WaitExit(20000), std::optional<DWORD>(0));
}

// A process cannot read another process's menus under Wine (GetMenuStringW on a foreign menu
// fails with ERROR_INVALID_MENU_HANDLE), so the monitor runs in this process, on this thread, on
// the real Win32 platform, and another thread plays the configurator and the user.
TEST_F(MonitorE2e, StoredLanguageOneSwitchesTheTrayMenuToConfigAndExit) {
  Win32Platform native;
  std::vector<std::wstring> before, after;
  std::atomic<bool> heardExit = false;
  std::string failure;
  std::thread configurator([&] {
    auto fail = [&](std::string why) {
      failure = std::move(why);
      native.loop.Quit(3);
    };
    Win32Windows windows;
    auto cfg = windows.Create("TKVCFGMAIN", [&](const WindowMessage& m) -> std::intptr_t {
      if (m.msg == kMonitorExit) heardExit = true;
      return 0;
    });
    if (!cfg) return fail("no configurator window");
    HWND tray = nullptr;
    if (!WaitFor(
            [&] { return MonitorWindow() && (tray = FindWindowW(kTrayWindowClass, nullptr)); }))
      return fail("the monitor showed no tray icon");
    HWND popup = kvtest::RightClickTray(tray);
    if (!popup) return fail("the tray menu did not open");
    before = kvtest::PopupCaptions(popup);
    kvtest::PressKeys(popup, {VK_ESCAPE});
    if (!kvtest::WaitClosed(popup)) return fail("the tray menu did not close");

    auto all = StoredValue(L"allsettings.pfd");
    if (!all || all->second.size() != 30954u) return fail("no all-profiles record");
    all->second[kCurrentLanguageOffset] = 1;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
      return fail("cannot open the store");
    RegSetValueExW(key, L"allsettings.pfd", 0, REG_BINARY, all->second.data(),
                   static_cast<DWORD>(all->second.size()));
    RegCloseKey(key);
    SendMessageW(MonitorWindow(), kGlobalSettingsChanged, 0, 0);

    popup = kvtest::RightClickTray(tray);
    if (!popup) return fail("the tray menu did not open again");
    after = kvtest::PopupCaptions(popup);
    kvtest::PressKeys(popup, {VK_DOWN, VK_DOWN, VK_RETURN});  // Exit
    if (!WaitFor([&] { return heardExit.load(); }))
      return fail("Exit did not tell the configurator");
  });
  const int code = kv::RunMonitor(native.platform());
  configurator.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(before, (std::vector<std::wstring>{L"打开配置", L"退出软件"}));
  EXPECT_EQ(after, (std::vector<std::wstring>{L"Config", L"Exit"}));
  EXPECT_TRUE(heardExit);
}

#ifdef KV_E2E_KVSTORE
// kvstore.exe run to its end with its output in a file; nullopt when it did not start or end.
struct ToolRun {
  DWORD code = 0;
  std::string out;
};
std::optional<ToolRun> RunKvstore(const std::wstring& dir, const std::wstring& args) {
  static int runs = 0;
  const std::wstring outPath = dir + L"\\kvstore-out-" + std::to_wstring(++runs) + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return std::nullopt;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out;
  const std::wstring exe = dir + L"\\kvstore.exe";
  std::wstring cmd = L"\"" + exe + L"\" " + args;
  PROCESS_INFORMATION pi{};
  const bool started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, dir.c_str(), &si, &pi);
  CloseHandle(out);
  if (!started) {
    ADD_FAILURE() << "kvstore.exe did not start: error " << GetLastError();
    return std::nullopt;
  }
  CloseHandle(pi.hThread);
  std::optional<ToolRun> run;
  if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) {
    run.emplace();
    GetExitCodeProcess(pi.hProcess, &run->code);
    std::ifstream in(std::filesystem::path(outPath), std::ios::binary);
    run->out.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    TerminateProcess(pi.hProcess, 99);
  }
  CloseHandle(pi.hProcess);
  return run;
}

class KvstoreE2e : public MonitorE2e {
 protected:
  void SetUp() override {
    MonitorE2e::SetUp();
    ASSERT_TRUE(
        CopyFileW(FromBuild(KV_E2E_KVSTORE).c_str(), (dir_ + L"\\kvstore.exe").c_str(), FALSE));
  }
};

TEST_F(KvstoreE2e, BadInputWritesNothingAndEditsReachTheRunningMonitor) {
  // Checked before the store opens: a fresh user gets no records from a bad command.
  auto bad = RunKvstore(dir_, L"set-button 9 0 0");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->code, 2u);
  EXPECT_NE(bad->out.find("kvstore: "), std::string::npos) << bad->out;
  EXPECT_FALSE(StoredValue(L"allsettings.pfd"));

  // With no monitor the edit is saved and says so.
  auto language = RunKvstore(dir_, L"language 1");
  ASSERT_TRUE(language);
  EXPECT_EQ(language->code, 0u) << language->out;
  EXPECT_NE(language->out.find("the monitor is not running"), std::string::npos) << language->out;
  auto all = StoredValue(L"allsettings.pfd");
  ASSERT_TRUE(all && all->second.size() == 30954u);
  EXPECT_EQ(all->second[kCurrentLanguageOffset], 1);

  // A running monitor hears a reset of profile 3 as a change to reload; the on-board profile it
  // records ("ProfileID", here 2 from an earlier switch of the mouse) stays what it was.
  Monitor monitor(exe_);
  ASSERT_TRUE(WaitFor([] { return MonitorWindow() != nullptr; }));
  PostMessageW(MonitorWindow(), kProfileChanged, 0, 2);
  const auto profileIdIs = [](BYTE id) {
    auto v = StoredValue(L"ProfileID");
    return v && v->first == REG_DWORD && v->second == std::vector<BYTE>{id, 0, 0, 0};
  };
  ASSERT_TRUE(WaitFor([&] { return profileIdIs(2); })) << "ProfileID did not become 2";
  auto reset = RunKvstore(dir_, L"reset 3");
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->code, 0u) << reset->out;
  EXPECT_NE(reset->out.find("the monitor was notified"), std::string::npos) << reset->out;
  // A notice naming profile 3 would be recorded well within this time.
  EXPECT_FALSE(WaitFor([&] { return profileIdIs(3); }, 2s)) << "the reset changed ProfileID";
  EXPECT_TRUE(profileIdIs(2));
  PostMessageW(MonitorWindow(), WM_CLOSE, 0, 0);
  EXPECT_EQ(monitor.WaitExit(20000), std::optional<DWORD>(0));
}

// Replaces the store key's permissions (SDDL).
void SetStorePermissions(const wchar_t* sddl) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) {
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
  }
  RegCloseKey(key);
}

TEST_F(KvstoreE2e, AnEditOfAStoreTheUserMayOnlyReadFailsAndSaysSo) {
  auto first = RunKvstore(dir_, L"language 1");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->code, 0u) << first->out;
  SetStorePermissions(L"D:P(A;;KR;;;WD)");  // everyone may read, nobody may write
  struct Restore {
    ~Restore() { SetStorePermissions(L"D:P(A;;KA;;;WD)"); }
  } restore;
  for (const wchar_t* edit : {L"language 0", L"switch 2", L"set-button 1 0 28", L"reset 1"}) {
    auto r = RunKvstore(dir_, edit);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 1u) << r->out;
    EXPECT_NE(r->out.find("kvstore: "), std::string::npos) << r->out;
    EXPECT_EQ(r->out.find("saved;"), std::string::npos) << r->out;  // no success message
  }
  auto all = StoredValue(L"allsettings.pfd");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->second[kCurrentLanguageOffset], 1);
}
#endif

}  // namespace
