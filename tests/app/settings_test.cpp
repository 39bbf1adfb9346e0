// kvmon's own settings on the sim platform: what they read, what they write, and that a running
// monitor follows the writes as it follows the configurator's.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/embedded_languages.h"
#include "app/messages.h"
#include "base/utf16.h"
#include "monitor_fixture.h"
#include "profile/records.h"

using namespace kv;
using namespace std::chrono_literals;

namespace {

class Settings : public kvtest::MonitorFixture {
 protected:
  void SetUp() override {
    MonitorFixture::SetUp();
    std::ofstream(w.sim.paths.ConfigFile()) << "[Options]\nProfileRegFolder=kvtest\n";
  }
  SettingsService Service(SettingsService::Switches switches = {}) {
    return SettingsService(w.platform(), kLanguageUS, std::move(switches));
  }
  std::unique_ptr<TMouseProfileInfo> Stored(int profile) {
    TDM store(w.platform());
    auto info = std::make_unique<TMouseProfileInfo>();
    EXPECT_TRUE(store.ReadProfileInfo(*info, profile));
    return info;
  }
  std::string PlugControl(const std::string& path, std::vector<std::string> ids) {
    kvtest::pf::sim::SimHid::InterfaceSpec spec;
    spec.path = path;
    spec.hardwareIds = std::move(ids);
    spec.descriptor = kvtest::MouseDescriptor();
    return w.hid.Plug(spec);
  }
};

TEST_F(Settings, TheMouseIsReadyMissingDeniedOrBrokenAsTheMonitorWouldOpenIt) {
  auto settings = Service();
  EXPECT_EQ(settings.ReadMouse().state, MouseState::NotFound);
  EXPECT_NE(MouseFix(settings.ReadMouse()).find("kvhid list"), std::string::npos);

  const std::string mouse = w.PlugMouse();  // its IDs do not say the usage: it is asked
  auto status = settings.ReadMouse();
  EXPECT_EQ(status.state, MouseState::Ready);
  ASSERT_EQ(status.interfaces.size(), 1u);
  EXPECT_EQ(status.interfaces[0].path, mouse);
  EXPECT_EQ(MouseFix(status), "");

  // Present, but the user may not open it: the IDs tell that it is the mouse's.
  w.hid.Unplug(mouse);
  const std::string denied =
      PlugControl("denied", {"HID\\VID_1234&PID_5678", "HID_DEVICE_UP:FFA0_U:0001"});
  w.hid.DenyOpen(denied, true);
  status = settings.ReadMouse();
  EXPECT_EQ(status.state, MouseState::NoAccess);
  ASSERT_EQ(status.interfaces.size(), 1u);
  ASSERT_TRUE(status.interfaces[0].failure);
  EXPECT_TRUE(status.interfaces[0].failure->accessDenied);
  EXPECT_NE(MouseFix(status).find("udev"), std::string::npos);
  w.hid.DenyOpen(denied, false);
  w.hid.FailOpen(denied, true);
  EXPECT_EQ(settings.ReadMouse().state, MouseState::CannotOpen);
  w.hid.FailOpen(denied, false);
  EXPECT_EQ(settings.ReadMouse().state, MouseState::Ready);

  // A keyboard is not the mouse; an include list that names another device leaves it out.
  kvtest::pf::sim::SimHid::InterfaceSpec keyboard;
  keyboard.path = "kbd";
  keyboard.hardwareIds = {"HID\\VID_1234&PID_5678&MI_00"};
  keyboard.descriptor = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0x00, 0x29, 0x01,
                         0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xC0};
  w.hid.Plug(keyboard);
  EXPECT_EQ(settings.ReadMouse().interfaces.size(), 1u);
  std::ofstream(w.sim.paths.ConfigFile())
      << "[Options]\nProfileRegFolder=kvtest\n[IncludeHIDDeviceList]\nid1=HID\\VID_9999\n";
  EXPECT_EQ(settings.ReadMouse().state, MouseState::NotFound);

  w.hid.SetInterfacesUnavailable(true);
  EXPECT_EQ(settings.ReadMouse().state, MouseState::NoHidService);
}

TEST_F(Settings, TheMuteButtonMovesAndGivesTheOldButtonItsDefaultBack) {
  auto settings = Service();
  settings.SetMuteButton(2, 3);
  auto p = Stored(2);
  EXPECT_EQ(Button(*p, 3).FunctionCode, kMicMuteFunction);
  EXPECT_EQ(Button(*p, 3).TypeCode, kFunctionTable[kMicMuteFunction].TypeCode);
  EXPECT_EQ(Button(*p, 3).ValueCode, kFunctionTable[kMicMuteFunction].ValueCode);
  EXPECT_EQ(Stored(1)->ConfigInfo.ButtonFuncInfo[3].FunctionCode, 30);  // other profiles alone

  settings.SetMuteButton(2, 5);
  p = Stored(2);
  EXPECT_EQ(Button(*p, 5).FunctionCode, kMicMuteFunction);
  // Button 3 is the default's again, its parameters included.
  EXPECT_EQ(Button(*p, 3).FunctionCode, 30);
  EXPECT_EQ(Button(*p, 3).FunctionKind, 13);
  EXPECT_EQ(Button(*p, 3).TypeCode, 25);
  EXPECT_EQ(Button(*p, 3).ValueCode, 12);
  EXPECT_EQ(Button(*p, 3).FuncParam.AuxWord3, 129);

  const auto snapshot = settings.Read();
  ASSERT_EQ(snapshot.profiles.size(), 5u);
  EXPECT_EQ(snapshot.profiles[2].muteButtons, std::vector<int>{5});
  EXPECT_TRUE(snapshot.profiles[1].muteButtons.empty());
  EXPECT_EQ(snapshot.profiles[2].fileName, "Profile3.pfd");
  EXPECT_EQ(snapshot.profiles[2].buttonCount, 18);

  settings.SetMuteButton(2, -1);
  p = Stored(2);
  for (int b = 0; b < kButtonRecords; ++b) EXPECT_NE(Button(*p, b).FunctionCode, kMicMuteFunction);
  EXPECT_EQ(Button(*p, 5).FunctionCode, 34);

  EXPECT_THROW(settings.SetMuteButton(5, 0), std::invalid_argument);
  EXPECT_THROW(settings.SetMuteButton(0, 19), std::invalid_argument);
}

TEST_F(Settings, AProfileStoredInAFileIsSavedThereAndOneWithoutStorageIsRefused) {
  {
    TDM store(w.platform());
    auto& entry = store.FProfileSettingGroup.ProfileSettingList[1];
    entry.StorageType = kStorageFile;
    store.SaveBackToProfileGroupSettingInfo();
    store.SaveProfileGroupSettingInfoToRegistry();
  }
  auto settings = Service();
  settings.SetMuteButton(1, 7);
  TDM store(w.platform());
  const auto& entry = store.FProfileSettingGroup.ProfileSettingList[1];
  const std::string file = ReadField(entry.ProfileFilePath) + ReadField(entry.ProfileFileName);
  ASSERT_TRUE(std::filesystem::exists(file)) << file;
  TMouseProfileInfo fromFile{};
  std::ifstream(file, std::ios::binary).read(reinterpret_cast<char*>(&fromFile), sizeof fromFile);
  EXPECT_EQ(fromFile.ConfigInfo.ButtonFuncInfo[7].FunctionCode, kMicMuteFunction);
  EXPECT_FALSE(
      w.sim.registry.Value(kvtest::pf::RootKey::CurrentUser, "software\\kvtest", "Profile2.pfd"));

  store.FProfileSettingGroup.ProfileSettingList[4].StorageType = 7;
  store.SaveBackToProfileGroupSettingInfo();
  store.SaveProfileGroupSettingInfoToRegistry();
  EXPECT_THROW(settings.SetMuteButton(4, 0), std::runtime_error);
}

TEST_F(Settings, ARunningMonitorReloadsAndTheNewButtonMutesKeepingTheOnBoardProfile) {
  w.audio.AddCaptureDevice("mic");
  Start();
  ASSERT_TRUE(main->WriteProfileIDToRegistry(3));
  auto settings = Service();
  settings.SetMuteButton(0, 4);
  w.sim.loop.RunPending();
  EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode, kMicMuteFunction);
  EXPECT_EQ(StoredProfileId(), 3u) << "an edit is not an on-board switch";
  EXPECT_EQ(settings.Read().onBoardProfile, 3u);
  EXPECT_TRUE(settings.Read().monitorRunning);

  w.windows.Post(main->Handle(), ButtonPressedEvent(4));
  w.sim.loop.RunPending();
  EXPECT_EQ(w.audio.Muted("mic"), true);
}

TEST_F(Settings, TheLanguageIsStoredAndTheMonitorsMenuFollows) {
  Start();
  EXPECT_EQ(w.shell.VisibleMenu(), (std::vector<std::string>{"打开配置", "退出软件"}));
  int applied = 0;
  main->OnCaptionsApplied = [&] { ++applied; };
  auto settings = Service();
  settings.SetLanguage(kLanguageUS);
  w.sim.loop.RunPending();
  EXPECT_EQ(w.shell.VisibleMenu(), (std::vector<std::string>{"Config", "Exit"}));
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(settings.Read().languageShortId, "US");
  EXPECT_THROW(settings.SetLanguage(2), std::invalid_argument);
  EXPECT_EQ(settings.Read().language, kLanguageUS);
}

TEST_F(Settings, SwitchesOwnedElsewhereAreReadAndSetThroughTheirOwners) {
  bool login = true;
  auto settings =
      Service({std::nullopt, SettingSwitch{[&] { return login; }, [&](bool on) { login = on; }}});
  auto s = settings.Read();
  EXPECT_EQ(s.startAtLogin, true);
  EXPECT_EQ(s.muteNotifications, std::nullopt);
  settings.SetStartAtLogin(false);
  EXPECT_FALSE(login);
  EXPECT_THROW(settings.SetMuteNotifications(true), std::logic_error);
}

}  // namespace
