#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "platform/linux/sqlite_registry.h"
#include "platform/sim/sim_loop.h"
#include "profile/dm.h"
#include "app/messages.h"
#include "linux/test_env.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
  int code;
  std::string out, err;
};

// Paths as the tool sees them: its own folder and the documents folder below the test's HOME.
class ToolPaths : public kv::platform::Paths {
 public:
  ToolPaths(std::string exe, std::string docs) : exe_(std::move(exe)), docs_(std::move(docs)) {}
  std::string ExecutableDir() override { return exe_; }
  std::string DocumentsDir() override { return docs_; }

 private:
  std::string exe_, docs_;
};

// A copy of the tool in its own folder with a private store and home.
class Kvstore : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kvstore_" + std::to_string(std::random_device{}()));
    fs::create_directories(root_ / "bin");
    fs::create_directories(root_ / "home");
    fs::copy_file(KVSTORE_BINARY, root_ / "bin" / "kvstore");
  }
  void TearDown() override {
    if (monitor_ > 0) {
      kill(monitor_, SIGTERM);
      waitpid(monitor_, nullptr, 0);
    }
    fs::remove_all(root_);
  }

  // The tool reaches other programs over this bus: none unless a test starts a private one.
  std::string bus_ = "unix:path=/nonexistent/kvstore-test-bus";

  // A private session bus with a stand-in monitor window that writes what reaches it to a file.
  void StartMonitor() {
    std::string why;
    bus_ = kv::test::PrivateBusAddress(&why);
    ASSERT_NE(bus_, "") << why;
    monitor_ = fork();
    if (monitor_ == 0) {
      setenv("DBUS_SESSION_BUS_ADDRESS", bus_.c_str(), 1);
      freopen((root_ / "monitor.out").c_str(), "w", stdout);
      execl(KV_FAKE_WINDOW, KV_FAKE_WINDOW, kv::kMonitorWindowClass, static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_TRUE(WaitForMonitorLine("ready")) << "the stand-in monitor did not start";
  }
  // Waits (up to 10 s) until the stand-in monitor has printed `line`.
  bool WaitForMonitorLine(const std::string& line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      std::istringstream in(Slurp(root_ / "monitor.out"));
      for (std::string l; std::getline(in, l);)
        if (l == line) return true;
      usleep(20'000);
    }
    return false;
  }
  std::string MonitorHeard() { return Slurp(root_ / "monitor.out"); }

  Result Run(const std::string& args, const std::string& env = "") {
    const fs::path out = root_ / "out", err = root_ / "err";
    const std::string cmd = "env -u XDG_CONFIG_HOME " + env + " HOME='" +
                            (root_ / "home").string() + "' DBUS_SESSION_BUS_ADDRESS='" + bus_ +
                            "' KVMON_REGISTRY='" + Db() + "' '" +
                            (root_ / "bin" / "kvstore").string() + "' " + args + " >'" +
                            out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(cmd.c_str());
    return {WEXITSTATUS(status), Slurp(out), Slurp(err)};
  }
  std::string Db() const { return (root_ / "store.db").string(); }
  void WriteConfig(const std::string& text) { std::ofstream(root_ / "bin" / "config.ini") << text; }

  // The store as the monitor's start-up reads it.
  std::unique_ptr<kv::TDM> StartStore() {
    registry_ = std::make_unique<kv::platform::linux_::SqliteRegistry>(Db());
    paths_ = std::make_unique<ToolPaths>((root_ / "bin").string() + "/",
                                         (root_ / "home" / "Documents").string());
    auto dm = std::make_unique<kv::TDM>(*registry_, *paths_, clock_);
    EXPECT_EQ(dm->StartupError(), "");
    return dm;
  }
  void CloseStore() { registry_.reset(); }

  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string StoreBytes() { return fs::exists(Db()) ? Slurp(Db()) : ""; }

  fs::path root_;
  pid_t monitor_ = -1;
  std::unique_ptr<kv::platform::linux_::SqliteRegistry> registry_;
  std::unique_ptr<ToolPaths> paths_;
  kv::platform::sim::SimClock clock_;
};

TEST_F(Kvstore, FirstDumpCreatesTheDefaultsAndReportsTheWholeStoreAsJson) {
  const Result r = Run("dump --json");
  ASSERT_EQ(r.code, 0) << r.err;
  const json d = json::parse(r.out);
  EXPECT_TRUE(d["profile_id"].is_null());
  EXPECT_EQ(d["current_game"], 0);
  EXPECT_EQ(d["profile_index_of_group"], json({0, 1}));
  ASSERT_EQ(d["profiles"].size(), 5u);
  const json& p3 = d["profiles"][3];
  EXPECT_EQ(p3["file_name"], "Profile4.pfd");
  EXPECT_EQ(p3["storage_type"], 0);
  EXPECT_EQ(p3["file_version"], 259);
  EXPECT_EQ(p3["button_count"], 18);
  ASSERT_EQ(p3["buttons"].size(), 19u);
  EXPECT_EQ(
      p3["buttons"][3],
      json({{"function_code", 30}, {"function_kind", 13}, {"type_code", 25}, {"value_code", 12}}));
  ASSERT_EQ(p3["cpi"].size(), 11u);
  EXPECT_EQ(p3["cpi"][1], json({2000, 2000, 1}));
  EXPECT_EQ(p3["led"], json({255, 0, 255}));
  EXPECT_TRUE(fs::is_directory(root_ / "home" / "Documents" / "Profile" / "Profile5_Macros"));

  auto dm = StartStore();
  registry_
      ->CreateKey(kv::platform::RootKey::CurrentUser, dm->FOptionsFromConfigFile.ProfileRegFolder)
      ->SetDword("ProfileID", 3);
  CloseStore();
  EXPECT_EQ(json::parse(Run("dump --json").out)["profile_id"], 3);
  EXPECT_NE(Run("dump").out.find("Profile4.pfd"), std::string::npos);
}

TEST_F(Kvstore, SetButtonWritesTheFunctionAsTheConfiguratorWouldAndNothingElse) {
  ASSERT_EQ(Run("dump").code, 0);
  auto before = std::make_unique<kv::TMouseProfileInfo>();
  {
    auto dm = StartStore();
    // Give profile 2 bytes the tool does not interpret, stored in the registry; button 7 holds
    // the key function 5 with its key.
    auto p = std::make_unique<kv::TMouseProfileInfo>();
    EXPECT_TRUE(dm->ReadProfileInfo(*p, 2));
    p->ConfigInfo.ApplicationList[7] = 0x42;
    p->ConfigInfo.ButtonFuncInfo[7].Reserved4164[2] = 0x99;
    p->ConfigInfo.ButtonFuncInfo[7].FuncParam.Data1112[5] = 0x66;
    p->OtherConfig[3] = 0x11;
    EXPECT_TRUE(dm->SaveBackToProfileInfo(*p, 2));
    EXPECT_TRUE(dm->SaveProfileInfoToRegistry(2));
    *before = *p;
    CloseStore();
  }
  const Result r = Run("set-button 2 7 28");
  ASSERT_EQ(r.code, 0) << r.err;
  // No bus reaches a monitor from here, and the tool says so rather than claim a notice.
  EXPECT_NE(r.err.find("could not notify the monitor"), std::string::npos) << r.out << r.err;

  auto dm = StartStore();
  auto after = std::make_unique<kv::TMouseProfileInfo>();
  EXPECT_TRUE(dm->ReadProfileInfo(*after, 2));
  kv::TBUTTONFUNCINFO& b = after->ConfigInfo.ButtonFuncInfo[7];
  EXPECT_EQ(b.FunctionCode, 28);
  EXPECT_EQ(b.TypeCode, 19);
  EXPECT_EQ(b.ValueCode, 1008);
  EXPECT_EQ(b.FunctionKind, kv::kFunctionKindReportMask);
  EXPECT_EQ(kv::ReportMaskOf(b), 1u << 7);
  EXPECT_EQ(b.FuncParam.KeyCode, 0) << "the old function's key stayed";
  // The function's record as AssignFunction writes it, the place of the other-configuration
  // record stored as zeros; every other byte as it was.
  kv::TBUTTONFUNCINFO expected = before->ConfigInfo.ButtonFuncInfo[7];
  kv::AssignFunction(expected, 7, 28);
  EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);
  before->ConfigInfo.ButtonFuncInfo[7] = expected;
  EXPECT_EQ(after->OtherConfig[3], 0);
  after->OtherConfig[3] = before->OtherConfig[3];
  EXPECT_EQ(std::memcmp(before.get(), after.get(), sizeof *after), 0);
  CloseStore();

  // The key function needs its key, and only it takes one.
  EXPECT_EQ(Run("set-button 2 7 5").code, 2);
  EXPECT_EQ(Run("set-button 2 7 28 65").code, 2);
  ASSERT_EQ(Run("set-button 2 7 5 65").code, 0);
  dm = StartStore();
  EXPECT_TRUE(dm->ReadProfileInfo(*after, 2));
  EXPECT_EQ(after->ConfigInfo.ButtonFuncInfo[7].FunctionKind, kv::kFunctionKindKey);
  EXPECT_EQ(after->ConfigInfo.ButtonFuncInfo[7].FuncParam.KeyCode, 65);
  EXPECT_EQ(kv::ReportMaskOf(after->ConfigInfo.ButtonFuncInfo[7]), 0u);
}

TEST_F(Kvstore, EditsTellARunningMonitorWithoutChangingTheRecordedOnBoardProfile) {
  StartMonitor();
  // Before any on-board switch is recorded the active profile is the store's current one.
  Result r = Run("set-button 0 3 28");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "saved; the monitor was notified\n") << r.err;
  EXPECT_TRUE(WaitForMonitorLine("7035 0 0")) << MonitorHeard();

  // The mouse is on on-board profile 4: edits and resets say 4 again, so "ProfileID" stays.
  {
    auto dm = StartStore();
    registry_
        ->CreateKey(kv::platform::RootKey::CurrentUser, dm->FOptionsFromConfigFile.ProfileRegFolder)
        ->SetDword("ProfileID", 4);
    CloseStore();
  }
  ASSERT_EQ(Run("reset 3").code, 0);
  EXPECT_TRUE(WaitForMonitorLine("7035 0 4")) << MonitorHeard();
  ASSERT_EQ(Run("set-button 1 2 12").code, 0);
  ASSERT_EQ(Run("language 1").code, 0);
  EXPECT_TRUE(WaitForMonitorLine("7037 0 0")) << MonitorHeard();
  EXPECT_EQ(MonitorHeard().find("7035 0 3"), std::string::npos) << "a reset of 3 named 3";
  EXPECT_EQ(MonitorHeard().find("7035 0 1"), std::string::npos) << "an edit of 1 named 1";
  EXPECT_EQ(json::parse(Run("dump --json").out)["profile_id"], 4);
}

TEST_F(Kvstore, SwitchMakesTheReloadingMonitorFollow) {
  StartMonitor();
  ASSERT_EQ(Run("switch 3").code, 0);
  // WM_PROFILE_CHANGED is the message on which the monitor reloads its current profile.
  EXPECT_TRUE(WaitForMonitorLine("7035 0 3")) << MonitorHeard();
  // The monitor's reload takes the profile its current group selects.
  auto monitor = StartStore();
  monitor->LoadProfileGroupSettingInfoFromRegistry();
  monitor->LoadAllProfileInfoFromRegistry();
  (void)monitor->LoadCurrentProfileInfoFromRegistry();
  EXPECT_EQ(monitor->FProfileIndex, 3);
  EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentGame, 3);
  EXPECT_EQ(monitor->FCurrentProfileInfo.ConfigInfo.CurrentCPIIndex, 3) << "profile 3's defaults";
}

TEST_F(Kvstore, WithABusButNoMonitorTheEditIsSavedAndSaysSo) {
  StartMonitor();
  kill(monitor_, SIGTERM);
  waitpid(monitor_, nullptr, 0);
  monitor_ = -1;
  const Result r = Run("language 1");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "saved; the monitor is not running\n");
}

TEST_F(Kvstore, SwitchLanguageAndResetAreSaved) {
  ASSERT_EQ(Run("set-button 0 0 28").code, 0);
  ASSERT_EQ(Run("switch 3").code, 0);
  ASSERT_EQ(Run("language 2").code, 0);
  {
    auto dm = StartStore();
    EXPECT_EQ(dm->FProfileIndex, 3);
    EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, 2);
    auto p = std::make_unique<kv::TMouseProfileInfo>();
    EXPECT_TRUE(dm->ReadProfileInfo(*p, 0));
    EXPECT_EQ(p->ConfigInfo.ButtonFuncInfo[0].FunctionCode, 28);
    CloseStore();
  }
  ASSERT_EQ(Run("reset 0").code, 0);
  auto dm = StartStore();
  auto p = std::make_unique<kv::TMouseProfileInfo>();
  EXPECT_TRUE(dm->ReadProfileInfo(*p, 0));
  EXPECT_EQ(p->ConfigInfo.ButtonFuncInfo[0].FunctionCode, 0);
  EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 3);
}

TEST_F(Kvstore, AFirstRunSpeaksTheUsersLanguageAndALaterOneKeepsTheStoredOne) {
  // LC_ALL wins over LANG, as for every other program.
  const std::pair<const char*, int> cases[] = {
      {"LC_ALL= LC_MESSAGES= LANG=zh_CN.UTF-8", 0}, {"LC_ALL= LC_MESSAGES= LANG=zh_TW.UTF-8", 0},
      {"LC_ALL= LC_MESSAGES= LANG=zh_HK.UTF-8", 0}, {"LC_ALL= LC_MESSAGES= LANG=en_US.UTF-8", 1},
      {"LC_ALL= LC_MESSAGES= LANG=de_DE.UTF-8", 1}, {"LC_ALL=C LANG=zh_CN.UTF-8", 1},
      {"LC_ALL=zh_CN.UTF-8 LANG=en_US.UTF-8", 0},   {"LC_ALL= LC_MESSAGES= LANG=", 1}};
  for (const auto& [env, language] : cases) {
    fs::remove(Db());
    const Result r = Run("dump --json", env);
    ASSERT_EQ(r.code, 0) << env << ": " << r.err;
    EXPECT_EQ(json::parse(r.out)["current_language"], language) << env;
  }
  EXPECT_EQ(json::parse(Run("dump --json", "LANG=zh_CN.UTF-8").out)["current_language"], 1);
}

TEST_F(Kvstore, BadInputIsOneLineOnStderrAndWritesNothing) {
  for (const char* args :
       {"", "frobnicate", "set-button 5 0 0", "set-button 0 19 0", "set-button 0 0 39",
        "set-button 0 0", "switch -1", "switch x", "language 256", "reset 7", "dump --xml",
        "options extra", "mute-notifications", "mute-notifications maybe",
        "mute-notifications on off"}) {
    const Result r = Run(args);
    EXPECT_NE(r.code, 0) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
    EXPECT_FALSE(fs::exists(Db())) << args << " must not create the store";
  }
  std::ofstream(Db()) << std::string(4096, 'x');
  const std::string corrupt = StoreBytes();
  const Result r = Run("set-button 0 0 1");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not an SQLite database"), std::string::npos) << r.err;
  EXPECT_EQ(StoreBytes(), corrupt);
}

TEST_F(Kvstore, MuteNotificationsAreAValueOfKvmonsOwnInTheSettingsKey) {
  Result r = Run("dump --json");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(json::parse(r.out)["mute_notifications"], true);  // on until turned off
  r = Run("mute-notifications off");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "saved\n");
  EXPECT_EQ(json::parse(Run("dump --json").out)["mute_notifications"], false);
  {
    auto dm = StartStore();
    auto key = registry_->OpenKey(kv::platform::RootKey::CurrentUser,
                                  dm->FOptionsFromConfigFile.ProfileRegFolder);
    ASSERT_NE(key, nullptr);
    const auto v = key->QueryValue("KvmonMuteNotifications");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->kind, kv::platform::ValueKind::Dword);
    EXPECT_EQ(v->data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    CloseStore();
  }
  ASSERT_EQ(Run("mute-notifications on").code, 0);
  r = Run("dump");
  EXPECT_NE(r.out.find("mute notifications  on\n"), std::string::npos) << r.out;
}

TEST_F(Kvstore, APrefixTooLongForItsFieldCostsNoProfilesAndOptionsNeedNoStore) {
  WriteConfig("[options]\nprofilePrefix=P ; not a comment\n");
  const Result o = Run("options --json");
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(json::parse(o.out)["profile_name_prefix"], "P ; not a comment");
  EXPECT_FALSE(fs::exists(Db())) << "options opened the store";

  const Result d = Run("dump --json");
  ASSERT_EQ(d.code, 0) << d.err;
  EXPECT_NE(d.err.find("P ; not a comme1.pfd"), std::string::npos) << "the cut is said: " << d.err;
  const json dump = json::parse(d.out);
  for (int i = 0; i < kv::kProfileCount; ++i)
    EXPECT_EQ(dump["profiles"][i]["file_name"], "P ; not a comme" + std::to_string(i + 1) + ".pfd");
  // The profiles are the user's: an edit is saved and read back.
  ASSERT_EQ(Run("set-button 4 0 28").code, 0);
  EXPECT_EQ(json::parse(Run("dump --json").out)["profiles"][4]["buttons"][0]["function_code"], 28);
}

TEST_F(Kvstore, OptionsComeFromTheConfigBesideTheTool) {
  WriteConfig(
      "[options]\nProfileRegFolder=Acme\nprofilePrefix=G\n"
      "[OtherConfig]\nNoLogo=$1F\n"
      "[HelpFiles]\nen=a.chm\nde=\nfr=b.chm\n"
      "[IncludeHIDDeviceList]\nid1=HID\\VID_1234&PID_0001\nid2=HID\\VID_1234\nid4=late\n");
  const Result r = Run("options --json");
  ASSERT_EQ(r.code, 0) << r.err;
  const json o = json::parse(r.out);
  EXPECT_EQ(o["profile_reg_folder"], "software\\Acme");
  EXPECT_EQ(o["profile_name_prefix"], "G");
  EXPECT_EQ(o["no_logo"], 31);
  EXPECT_EQ(o["help_files"],
            json::array({json::array({"en", "a.chm"}), json::array({"fr", "b.chm"})}));
  EXPECT_EQ(o["include_hid_devices"], json({"HID\\VID_1234&PID_0001", "HID\\VID_1234"}));
  const json d = json::parse(Run("dump --json").out);
  EXPECT_EQ(d["registry_folder"], "software\\Acme");
  EXPECT_EQ(d["profiles"][0]["file_name"], "G1.pfd");
}

}  // namespace
