// The main window's stages and handlers, driven directly on the sim platform.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/monitor.h"
#include "app/monitor_settings.h"
#include "base/path.h"
#include "platform/sim/sim_dynlib.h"
#include "monitor_fixture.h"

using namespace kv;
using namespace std::chrono_literals;
using kvtest::World;

namespace {

// "title: text" of each problem the monitor showed as a notification.
std::vector<std::string> ProblemNotes(const kv::platform::sim::SimShell& shell) {
  std::vector<std::string> notes;
  for (const auto& n : shell.Notifications())
    if (n.icon == kv::platform::NotificationIcon::Warning) notes.push_back(n.title + ": " + n.body);
  return notes;
}

class Monitor : public kvtest::MonitorFixture {
 protected:
  void SetUp() override {
    MonitorFixture::SetUp();
    std::ofstream(w.sim.paths.ConfigFile()) << "[Options]\nProfileRegFolder=kvtest\n";
  }
  void SetStoredLanguage(int language) {
    TDM cfg(w.platform());
    cfg.FAllProfileSettingInfo.CurrentLanguage = static_cast<BYTE>(language);
    cfg.SaveBackAllProfileSettingInfo();
  }
  void Report(std::uint8_t id, std::vector<std::uint8_t> data) {
    main->gxHIDData1Data("HID\\VID_1234&PID_5678", "path", id, data.data(),
                         static_cast<std::uint16_t>(data.size()));
  }
  std::vector<std::string> Calls() { return w.log.Lines(); }
};

TEST_F(Monitor, DecodingPostsOneEventPerSingleButtonAndNothingElse) {
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  w.log.Clear();
  w.sim.debug.Clear();
  Report(7, {0x01, 0, 0, 9, 9, 9, 9});     // bit 0
  Report(7, {0, 0, 0x04, 0, 0, 0, 0});     // bit 18, the last button
  Report(7, {0, 0, 0, 0, 0, 0, 0});        // released
  Report(7, {0x03, 0, 0, 0, 0, 0, 0});     // two buttons
  Report(7, {0x01, 0, 0, 0, 0, 0, 0, 0});  // eight data bytes
  Report(7, {0x01, 0, 0, 0, 0, 0});        // six
  Report(8, {1, 3, 0, 0, 0, 0, 0});        // profile 3
  Report(8, {1, 5, 0, 0, 0, 0, 0});        // no such profile
  Report(8, {2, 9, 0, 0, 0, 0, 0});        // notification for the configurator
  Report(8, {3, 1, 0, 0, 0, 0, 0});        // unknown sub-type
  Report(9, {1, 0, 0, 0, 0, 0, 0});        // unknown report
  const std::string own = std::to_string(WM_DEVICE_EVENT);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "post " + own + " 0 1", "post " + own + " 18 1", "post " + own + " 24 0",
                         "find TKVCFGMAIN", "post " + std::to_string(WM_DEVICE_NOTIFY) + " 9 0"}));
  EXPECT_EQ(w.sim.debug.Lines(), (std::vector<std::string>{"KeyIndex = 0 postmessage record!",
                                                           "KeyIndex = 18 postmessage record!"}));
  EXPECT_TRUE(cfg.Received().empty());  // posted: nothing delivered inside the hand-over
}

TEST_F(Monitor, TheHandOverTouchesNoRegistryNoAudioAndSendsNothing) {
  BindButton(0, 28);
  w.audio.AddCaptureDevice("mic");
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  const std::vector<std::vector<std::uint8_t>> reports[] = {
      {{7, 1, 0, 0, 0, 0, 0, 0}, {7, 0, 0, 0x20, 0, 0, 0, 0}},
      {{8, 1, 0, 0, 0, 0, 0, 0}, {8, 1, 4, 0, 0, 0, 0, 0}, {8, 2, 1, 0, 0, 0, 0, 0}}};
  for (const auto& group : reports) {
    for (const auto& r : group) {
      w.log.Clear();
      Report(r[0], {r.begin() + 1, r.end()});
      for (const auto& call : Calls())
        EXPECT_TRUE(call.rfind("post ", 0) == 0 || call == "find TKVCFGMAIN")
            << "inside the hand-over: " << call;
    }
  }
  // The work happens afterwards, from the queue.
  w.log.Clear();
  w.sim.loop.RunPending();
  const auto after = Calls();
  EXPECT_NE(std::find(after.begin(), after.end(), "audio set-mute 1"), after.end());
  EXPECT_NE(std::find(after.begin(), after.end(), "dword ProfileID=4"), after.end());
  EXPECT_NE(
      std::find(after.begin(), after.end(), "send " + std::to_string(WM_PROFILE_SWITCHED) + " 4 0"),
      after.end());
}

TEST_F(Monitor, ButtonBoundToMicrophoneMuteTogglesOncePerPress) {
  BindButton(0, 28);
  w.audio.AddCaptureDevice("mic");
  Start();
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), true);
  // Button 0 held while button 1 goes down and up: only the lone bit posts again.
  Report(7, {3, 0, 0, 0, 0, 0, 0});
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), false);
  // A button with another function does nothing on the host.
  Report(7, {2, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), false);
}

TEST_F(Monitor, CodesWithoutAButtonOrAProfileAreIgnored) {
  BindButton(0, 28);
  w.audio.AddCaptureDevice("mic");
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  const std::uint32_t writesBefore = static_cast<std::uint32_t>(w.sim.registry.WriteCount());
  w.log.Clear();
  // Bits 19 to 23 of a button report: 19 and 20 name no button, 21 to 23 are not profile
  // switches even though their numbers match the profile codes.
  for (int bit = 19; bit <= 23; ++bit) {
    const std::uint32_t mask = 1u << bit;
    Report(7, {std::uint8_t(mask), std::uint8_t(mask >> 8), std::uint8_t(mask >> 16), 0, 0, 0, 0});
  }
  for (std::uintptr_t code : {26u, 100u, 0xFFFFFFFFu})
    w.windows.Post(main->Handle(), {WM_DEVICE_EVENT, code, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.sim.registry.WriteCount(), writesBefore);
  EXPECT_TRUE(cfg.Received().empty());
  for (const auto& call : Calls()) EXPECT_EQ(call.rfind("audio", 0), std::string::npos) << call;
  EXPECT_EQ(w.audio.Muted("mic"), false);
}

TEST_F(Monitor, OnBoardSwitchRecordsTheProfileAndTellsTheConfigurator) {
  BindButton(0, 28);
  w.audio.AddCaptureDevice("mic");
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  Report(8, {1, 3, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(StoredProfileId(), 3u);
  const auto got = cfg.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msg, WM_PROFILE_SWITCHED);
  EXPECT_EQ(got[0].wParam, 3u);
  EXPECT_EQ(got[0].lParam, 0);
  // The button lookups keep the profile loaded before, until the configurator answers.
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), true);
  // Without a configurator the value is still written.
  cfg.Close();
  Report(8, {1, 1, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(StoredProfileId(), 1u);
  // Notifications are forwarded as they came.
  kvtest::FakeConfigurator cfg2(w.windows);
  Report(8, {2, 9, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  ASSERT_EQ(cfg2.Received().size(), 1u);
  EXPECT_EQ(cfg2.Received()[0].msg, WM_DEVICE_NOTIFY);
  EXPECT_EQ(cfg2.Received()[0].wParam, 9u);
}

TEST_F(Monitor, ProfileIdIsNeverWrittenIntoAMissingOrBrokenFolder) {
  Start();
  const std::string folder = dm->FOptionsFromConfigFile.ProfileRegFolder;
  dm->FOptionsFromConfigFile.ProfileRegFolder = "software\\nowhere";
  EXPECT_FALSE(main->WriteProfileIDToRegistry(2));
  EXPECT_FALSE(w.sim.registry.KeyExists(platform::RootKey::CurrentUser, "software\\nowhere"));
  dm->FOptionsFromConfigFile.ProfileRegFolder = folder;
  w.sim.registry.FailWrites(true);
  EXPECT_FALSE(main->WriteProfileIDToRegistry(2));
  kvtest::FakeConfigurator cfg(w.windows);
  Report(8, {1, 2, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();  // the switch is still told
  ASSERT_EQ(cfg.Received().size(), 1u);
  w.sim.registry.FailWrites(false);
  EXPECT_TRUE(main->WriteProfileIDToRegistry(-1));
  EXPECT_EQ(StoredProfileId(), 0xFFFFFFFFu);
}

TEST_F(Monitor, ProfileChangedReloadsGroupThenSettingsThenProfileThenWritesTheId) {
  Start();
  w.log.Clear();
  w.windows.Post(main->Handle(), {WM_PROFILE_CHANGED, 0, 2});
  w.sim.loop.RunPending();
  std::vector<std::string> order;
  for (const auto& call : Calls())
    if (call.rfind("query ", 0) == 0 || call.rfind("dword ", 0) == 0) order.push_back(call);
  ASSERT_EQ(order.size(), 4u) << ::testing::PrintToString(order);
  EXPECT_EQ(order[0], "query ProfileSettingGroup.pfd");
  EXPECT_EQ(order[1], "query allsettings.pfd");
  EXPECT_EQ(order[2].rfind("query ", 0), 0u);
  EXPECT_EQ(order[3], "dword ProfileID=2");
}

TEST_F(Monitor, ProfileChangedMakesTheNewBindingsCount) {
  w.audio.AddCaptureDevice("mic");
  Start();
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), false);
  BindButton(0, 28);
  w.windows.Post(main->Handle(), {WM_PROFILE_CHANGED, 0, 0});
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), true);
}

TEST_F(Monitor, AFailingReloadIsTracedAndTheLoopGoesOn) {
  Start();
  // A group record selecting group 7 cannot be accepted by the store.
  {
    TDM cfg(w.platform());
    cfg.FProfileSettingGroup.CurrentProfileGroup = 7;
    cfg.SaveProfileGroupSettingInfoToRegistry();
  }
  w.windows.Post(main->Handle(), {WM_PROFILE_CHANGED, 0, 1});
  w.sim.loop.RunPending();
  EXPECT_EQ(StoredProfileId(), 1u);
  const auto lines = w.sim.debug.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("reload failed"), std::string::npos) << lines.back();
}

TEST_F(Monitor, AfterAStartUpErrorTheRepairedStoreIsFollowedAndNothingCrashes) {
  BindButton(0, 28);
  w.audio.AddCaptureDevice("mic");
  // A group record selecting group 2 ends the store's start-up early.
  const auto setGroup = [&](std::int32_t group) {
    const std::string folder = "software\\kvtest";
    auto v =
        w.sim.registry.Value(kv::platform::RootKey::CurrentUser, folder, "ProfileSettingGroup.pfd");
    ASSERT_TRUE(v && v->data.size() == sizeof(TProfileSettingGroup));
    std::memcpy(v->data.data(), &group, sizeof group);
    w.sim.registry.SetRawValue(kv::platform::RootKey::CurrentUser, folder,
                               "ProfileSettingGroup.pfd", 3, v->data);
  };
  setGroup(2);
  Start();
  ASSERT_NE(dm->StartupError(), "");
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), false) << "no profile was loaded";
  // The configurator repairs the record and tells the monitor.
  setGroup(0);
  w.windows.Post(main->Handle(), {WM_PROFILE_CHANGED, 0, 0});
  w.sim.loop.RunPending();
  Report(7, {1, 0, 0, 0, 0, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), true) << "the repaired store's binding does not count";
}

TEST_F(Monitor, FirstStartShowsTheChineseMenuAndKeepsTheTitles) {
  Start();
  EXPECT_EQ(w.shell.VisibleMenu(), (std::vector<std::string>{"打开配置", "退出软件"}));
  EXPECT_EQ(w.shell.Tray().menu[1].caption, "关于软件");
  EXPECT_FALSE(w.shell.Tray().menu[1].visible);
  // The title stays as it is; the microphone's state below it is translated.
  EXPECT_EQ(w.shell.Tray().hint, "GAMING MOUSE DRIVER\n未找到麦克风");
  EXPECT_EQ(w.shell.ApplicationTitle(), "GAMING MOUSE MONITOR");
  EXPECT_EQ(main->gxLanguage1->Lang(), "CH");
  ASSERT_NE(w.shell.Content(), nullptr);
  EXPECT_FALSE(w.shell.ContentVisible());
}

TEST_F(Monitor, StoredEnglishAndLaterLanguageChanges) {
  SetStoredLanguage(1);
  Start();
  EXPECT_EQ(w.shell.VisibleMenu(), (std::vector<std::string>{"Config", "Exit"}));
  int selections = 0;
  main->gxLanguage1->OnLanguageChanged = [&](lang::TgxLanguage&, const std::string&,
                                             const std::string&) { ++selections; };
  w.windows.Post(main->Handle(), {WM_GLOBAL_SETTINGS_CHANGED, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(selections, 0);  // unchanged language: no selection, captions still set
  EXPECT_EQ(w.shell.VisibleMenu(), (std::vector<std::string>{"Config", "Exit"}));
  SetStoredLanguage(0);
  w.windows.Post(main->Handle(), {WM_GLOBAL_SETTINGS_CHANGED, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(selections, 1);
  EXPECT_EQ(w.shell.VisibleMenu(), (std::vector<std::string>{"打开配置", "退出软件"}));
  EXPECT_EQ(main->vgScene1->Text("BtnOK"), "确定");
}

TEST_F(Monitor, TrayImageComesFromTheIconBesideTheProgramWhenItReads) {
  Start();
  EXPECT_EQ(w.shell.Tray().imageFile, "");
  main.reset();
  const std::string folder = w.sim.paths.ExecutableDir() + "images";
  std::filesystem::create_directories(folder + "/0409/icons");
  const std::string icon =
      kv::path::Join(kv::path::Join(kv::path::Join(folder, "0409"), "icons"), "logo.ico");
  std::ofstream(icon) << "not really an icon";
  w.shell.SetIconLoadable(false);
  main = std::make_unique<TKVMonMain>(w.platform(), *dm);
  EXPECT_EQ(w.shell.Tray().imageFile, "");
  main.reset();
  w.shell.SetIconLoadable(true);
  main = std::make_unique<TKVMonMain>(w.platform(), *dm);
  EXPECT_EQ(w.shell.Tray().imageFile, icon);
}

TEST_F(Monitor, ClickRaisesARunningConfiguratorOrStartsIt) {
  Start();
  w.shell.ClickTray();
  w.sim.loop.RunPending();
  ASSERT_EQ(w.shell.Launches().size(), 1u);
  EXPECT_EQ(w.shell.Launches()[0].path, w.sim.paths.ExecutableDir() + "KVCFG.EXE");
  EXPECT_EQ(w.shell.Launches()[0].workingDir, w.sim.paths.ExecutableDir());
  kvtest::FakeConfigurator cfg(w.windows);
  w.shell.AddRaisableWindow(cfg.Handle());
  w.shell.ClickTray();
  ASSERT_TRUE(w.shell.ChooseMenuItem(0));
  w.sim.loop.RunPending();
  EXPECT_EQ(w.shell.Launches().size(), 1u);
  EXPECT_EQ(w.shell.Raised(), (std::vector<platform::WindowHandle>{cfg.Handle(), cfg.Handle()}));
}

TEST_F(Monitor, AboutShowsRaisesHidesAndOpensTheAddress) {
  Start();
  EXPECT_FALSE(w.shell.ChooseMenuItem(1));  // hidden in the menu
  main->About1Click();
  EXPECT_TRUE(w.shell.ContentVisible());
  EXPECT_FALSE(w.shell.ContentInFront());
  w.sim.loop.Advance(50ms);
  EXPECT_TRUE(w.shell.ContentInFront());
  w.shell.ClickElement("BtnGoWeb");
  w.shell.ClickElement("BtnOK");
  w.sim.loop.RunPending();
  EXPECT_EQ(w.shell.OpenedUrls(), std::vector<std::string>{kWebSiteAddress});
  EXPECT_FALSE(w.shell.ContentVisible());
}

TEST_F(Monitor, ExitTellsTheConfiguratorAndEndsTheLoop) {
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  ASSERT_TRUE(w.shell.ChooseMenuItem(2));
  w.sim.loop.RunPending();
  EXPECT_TRUE(w.sim.loop.HasQuit());
  ASSERT_EQ(cfg.Received().size(), 1u);
  EXPECT_EQ(cfg.Received()[0].msg, WM_MONITOR_EXIT);
  EXPECT_EQ(cfg.Received()[0].wParam, 0u);
  EXPECT_EQ(cfg.Received()[0].lParam, 0);
}

TEST_F(Monitor, CaptureEndpointOpensAtCreationOnlyWhereTheSystemHasOne) {
  w.audio.AddCaptureDevice("mic");
  Start();
  EXPECT_TRUE(main->Microphone().EndpointOpen());
  main.reset();
  w.audio.SetHasCaptureEndpoint(false);
  main = std::make_unique<TKVMonMain>(w.platform(), *dm);
  EXPECT_FALSE(main->Microphone().EndpointOpen());
}

TEST_F(Monitor, HookLibraryIsBoundButTheMonitorStartsNoHook) {
  platform::sim::SimDynamicLibraries libraries;
  libraries.AddSearchFolder(KV_TEST_HOOK_DIR);
  w.platform().libraries = &libraries;
  auto control = libraries.Load(libraries.FileName(kHookLibraryName));
  ASSERT_NE(control, nullptr);
  reinterpret_cast<void (*)()>(control->Symbol("TestHookReset"))();
  const auto query = reinterpret_cast<int (*)(int, int)>(control->Symbol("TestHookQuery"));
  Start();
  EXPECT_TRUE(main->gxHook1->DLLLoaded());
  EXPECT_EQ(query(0, 1), 0);  // keyboard hook never enabled
  EXPECT_EQ(query(1, 1), 0);  // nor the mouse hook
  EXPECT_TRUE(w.sim.messageBoxes.Shown().empty());
  main.reset();
}

TEST_F(Monitor, WithoutTheHookLibraryTheMonitorStillRuns) {
  Start();
  EXPECT_FALSE(main->gxHook1->DLLLoaded());
  ASSERT_EQ(w.sim.messageBoxes.Shown().size(), 1u);
  EXPECT_NE(w.sim.messageBoxes.Shown()[0].text.find("can not be found"), std::string::npos);
  EXPECT_EQ(w.shell.VisibleMenu().size(), 2u);
}

}  // namespace

namespace {

TEST(MonitorSettingsTest, OnlyAStoredDwordZeroTurnsMuteNotificationsOff) {
  kv::platform::sim::SimPlatform sim;
  kv::MonitorSettings settings(sim.registry, "kvtest");
  EXPECT_TRUE(settings.MuteNotifications());  // nothing stored, not even the key
  settings.SetMuteNotifications(false);
  EXPECT_FALSE(settings.MuteNotifications());
  auto key = sim.registry.OpenKey(kv::platform::RootKey::CurrentUser, "kvtest");
  ASSERT_NE(key, nullptr);
  const auto stored = key->QueryValue(kv::kMuteNotificationsValue);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->kind, kv::platform::ValueKind::Dword);
  key->SetDword(kv::kMuteNotificationsValue, 2);
  EXPECT_TRUE(settings.MuteNotifications());
  const std::uint8_t zero[4] = {0, 0, 0, 0};
  key->SetBinary(kv::kMuteNotificationsValue, zero);  // a binary zero is not the setting
  EXPECT_TRUE(settings.MuteNotifications());
  settings.SetMuteNotifications(true);
  EXPECT_TRUE(settings.MuteNotifications());
}

TEST_F(Monitor, WithoutAConfiguratorToStartTheClickOpensTheOwnSettings) {
  Start();
  int opened = 0;
  main->OnOpenSettings = [&] { ++opened; };
  w.shell.ClickTray();
  ASSERT_TRUE(w.shell.ChooseMenuItem(0));
  w.sim.loop.RunPending();
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(w.shell.Launches().size(), 2u);  // the configurator is always tried first
  // With the configurator beside the monitor, it is started instead.
  std::ofstream(w.sim.paths.ExecutableDir() + "KVCFG.EXE") << "";
  w.shell.ClickTray();
  w.sim.loop.RunPending();
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(w.shell.Launches().size(), 3u);
}

TEST_F(Monitor, NoAccessToTheMouseIsInTheHintAndShownOnceUntilItIsFixed) {
  kvtest::pf::sim::SimHid::InterfaceSpec spec;
  spec.path = "mouse";
  spec.hardwareIds = {"HID\\VID_1234&PID_5678", "HID_DEVICE_UP:FFA0_U:0001"};
  spec.descriptor = kvtest::MouseDescriptor();
  w.hid.Plug(spec);
  w.hid.DenyOpen("mouse", true);
  SetStoredLanguage(1);
  Start();
  w.sim.loop.Advance(3500ms);  // the first open of the read channel
  const std::string hint = w.shell.Tray().hint;
  EXPECT_EQ(
      hint.rfind("GAMING MOUSE DRIVER\nNo microphone\nThe mouse cannot be opened: no permission.",
                 0),
      0u)
      << hint;
  EXPECT_NE(hint.find("udev"), std::string::npos);
  ASSERT_EQ(ProblemNotes(w.shell).size(), 1u);
  EXPECT_EQ(ProblemNotes(w.shell)[0].rfind("GAMING MOUSE MONITOR: The mouse cannot", 0), 0u);
  EXPECT_NE(w.sim.debug.Lines().back().find("no permission"), std::string::npos);

  // The next open finds the same: nothing new is shown.
  main->RestartHIDRead();
  w.sim.loop.Advance(100ms);
  EXPECT_EQ(ProblemNotes(w.shell).size(), 1u);
  // Fixed (the rule installed, the mouse plugged in again): the hint is the title again.
  w.hid.DenyOpen("mouse", false);
  main->RestartHIDRead();
  w.sim.loop.Advance(100ms);
  EXPECT_EQ(w.shell.Tray().hint, "GAMING MOUSE DRIVER\nNo microphone");
  EXPECT_EQ(ProblemNotes(w.shell).size(), 1u);

  // In the stored language, as every text the user reads.
  SetStoredLanguage(0);
  w.windows.Post(main->Handle(), {WM_GLOBAL_SETTINGS_CHANGED, 0, 0});
  w.hid.DenyOpen("mouse", true);
  main->RestartHIDRead();
  w.sim.loop.Advance(100ms);
  EXPECT_EQ(
      w.shell.Tray().hint.rfind("GAMING MOUSE DRIVER\n未找到麦克风\n无法打开鼠标：没有权限。", 0),
      0u)
      << w.shell.Tray().hint;
}

TEST_F(Monitor, ProblemsKeepTheirLinesThroughALanguageChange) {
  Start();
  main->ReportProblem("store", "first");
  main->ReportProblem("lock", "second");
  main->ReportProblem("store", "first again");
  EXPECT_EQ(w.shell.Tray().hint, "GAMING MOUSE DRIVER\n未找到麦克风\nfirst again\nsecond");
  EXPECT_EQ(ProblemNotes(w.shell).size(), 3u);
  w.windows.Post(main->Handle(), {WM_GLOBAL_SETTINGS_CHANGED, 0, 0});
  w.sim.loop.RunPending();
  EXPECT_EQ(w.shell.Tray().hint, "GAMING MOUSE DRIVER\n未找到麦克风\nfirst again\nsecond");
  main->ClearProblem("store");
  EXPECT_EQ(w.shell.Tray().hint, "GAMING MOUSE DRIVER\n未找到麦克风\nsecond");
}

TEST_F(Monitor, QuitMessageEndsTheMonitorAsExitDoes) {
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  w.windows.Post(main->Handle(), {WM_KVMON_QUIT, 0, 0});
  w.sim.loop.RunPending();
  ASSERT_EQ(cfg.Received().size(), 1u);
  EXPECT_EQ(cfg.Received()[0].msg, WM_MONITOR_EXIT);
  EXPECT_TRUE(w.sim.loop.HasQuit());
}

}  // namespace
