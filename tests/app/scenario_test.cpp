// The whole monitor on the sim platform, with real read threads over the sim HID service.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "app/monitor.h"
#include "app/monitor_settings.h"
#include "monitor_fixture.h"

using namespace kv;
using namespace std::chrono_literals;
using kvtest::World;

namespace {

const std::vector<std::uint8_t> kPress0 = {7, 0x01, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kRelease = {7, 0, 0, 0, 0, 0, 0, 0};

class Scenario : public kvtest::MonitorFixture {
 protected:
  bool Until(const std::function<bool()>& pred) { return w.sim.loop.RunUntil(pred); }
  // Exactly one read thread, waiting on the mouse. Reaching the wait needs no main-thread
  // work, and a stopped thread ends on its own, so both are waited for in real time, and
  // together: a stopped reader may still count as waiting until it wakes.
  bool ReaderWaiting(const std::string& path) {
    const auto oneWaiting = [&] {
      return main->gxHIDData1->RunningThreads() == 1 && w.hid.WaitingReads(path) == 1;
    };
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!oneWaiting() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(1ms);
    return oneWaiting();
  }
};

TEST_F(Scenario, MouseAbsentAtStartThenPluggedInOpensAfterItsArrival) {
  Start();
  w.sim.loop.Advance(5000ms);  // start-up arrival at 1500, an empty open at 3050
  EXPECT_EQ(w.hid.Pulses(), 1u);
  EXPECT_EQ(main->gxHIDData1->RunningThreads(), 0u);
  const std::string path = w.PlugMouse();
  w.sim.loop.Advance(1499ms);
  EXPECT_EQ(w.hid.Pulses(), 1u);
  EXPECT_EQ(w.hid.OpenObjects(path), 0u);
  w.sim.loop.Advance(1ms);
  EXPECT_EQ(w.hid.Pulses(), 2u);  // the old channel is stopped first
  w.sim.loop.Advance(50ms);
  EXPECT_TRUE(ReaderWaiting(path));
}

TEST_F(Scenario, ABurstOfArrivalsGivesOneReopenAfterTheLast) {
  const std::string path = w.PlugMouse();
  Start();
  w.sim.loop.Advance(3100ms);
  ASSERT_TRUE(ReaderWaiting(path));
  ASSERT_EQ(w.hid.Pulses(), 1u);
  const platform::DeviceChange arrival{platform::DeviceChangeKind::Arrival, true, path};
  for (int i = 0; i < 3; ++i) {
    w.devices.Notify(arrival);
    w.sim.loop.Advance(500ms);
  }
  w.sim.loop.Advance(999ms);  // 1499 ms after the third
  EXPECT_EQ(w.hid.Pulses(), 1u);
  w.sim.loop.Advance(1ms);
  EXPECT_EQ(w.hid.Pulses(), 2u);
  w.sim.loop.Advance(5000ms);
  EXPECT_EQ(w.hid.Pulses(), 2u);
  EXPECT_TRUE(ReaderWaiting(path));  // one thread again, not two
}

TEST_F(Scenario, MicrophoneButtonTogglesAndTogglesBack) {
  BindButton(0, 28);
  w.audio.AddCaptureDevice("mic");
  const std::string path = w.PlugMouse();
  Start();
  w.sim.loop.Advance(3100ms);
  ASSERT_TRUE(ReaderWaiting(path));
  w.hid.Input(path, kPress0);
  ASSERT_TRUE(Until([&] { return w.audio.Muted("mic") == true; }));
  w.hid.Input(path, kRelease);
  w.hid.Input(path, kPress0);
  ASSERT_TRUE(Until([&] { return w.audio.Muted("mic") == false; }));
  const auto lines = w.sim.debug.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "KeyIndex = 0 postmessage record!"), 2);
}

TEST_F(Scenario, OnBoardSwitchReachesTheRegistryAndTheConfigurator) {
  const std::string path = w.PlugMouse();
  Start();
  kvtest::FakeConfigurator cfg(w.windows);
  w.sim.loop.Advance(3100ms);
  ASSERT_TRUE(ReaderWaiting(path));
  w.hid.Input(path, {8, 1, 3, 0, 0, 0, 0, 0});
  ASSERT_TRUE(Until([&] { return !cfg.Received().empty(); }));
  EXPECT_EQ(StoredProfileId(), 3u);
  EXPECT_EQ(cfg.Received()[0].msg, WM_PROFILE_SWITCHED);
  EXPECT_EQ(cfg.Received()[0].wParam, 3u);
}

TEST_F(Scenario, ConfiguratorChangesTheProfileAndTheMonitorFollows) {
  w.audio.AddCaptureDevice("mic");
  const std::string path = w.PlugMouse();
  Start();
  w.sim.loop.Advance(3100ms);
  ASSERT_TRUE(ReaderWaiting(path));
  BindButton(0, 28);
  w.log.Clear();
  const auto monitor = w.sim.windows.Find("TKVMONMAIN");
  ASSERT_NE(monitor, 0u);
  ASSERT_TRUE(w.sim.windows.Send(monitor, {WM_PROFILE_CHANGED, 0, 4}).has_value());
  std::vector<std::string> order;
  for (const auto& call : w.log.Lines())
    if (call.rfind("query ", 0) == 0 || call.rfind("dword ", 0) == 0) order.push_back(call);
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[0], "query ProfileSettingGroup.pfd");
  EXPECT_EQ(order[1], "query allsettings.pfd");
  EXPECT_EQ(order[3], "dword ProfileID=4");
  w.hid.Input(path, kPress0);
  EXPECT_TRUE(Until([&] { return w.audio.Muted("mic") == true; }));
}

TEST_F(Scenario, ASecondInstanceEndsAtOnceWithStatusZero) {
  auto first = w.sim.instance.Acquire("TKVMONMAIN");
  ASSERT_NE(first, nullptr);
  bool guardedWorkRan = false;
  MonitorOptions options;
  options.onGuarded = [&] { guardedWorkRan = true; };
  EXPECT_EQ(RunMonitor(w.platform(), options), 0);
  EXPECT_FALSE(guardedWorkRan);  // a second copy never reaches what the first one owns
  EXPECT_FALSE(w.shell.Tray().exists);
  EXPECT_EQ(w.sim.windows.Find("TKVMONMAIN"), 0u);
  EXPECT_EQ(w.sim.registry.WriteCount(), 0u);
  EXPECT_TRUE(w.log.Lines().empty());
}

TEST_F(Scenario, AGuardThatCannotBeMadeIsTracedAndStartUpGoesOn) {
  w.sim.instance.SetUnavailable("the lock folder belongs to another user");
  bool guardedWorkRan = false, trayAtExit = false;
  std::string hintAtExit;
  w.sim.loop.StartTimer(100ms, false, [&] {
    trayAtExit = w.shell.Tray().exists;
    hintAtExit = w.shell.Tray().hint;
    w.shell.ChooseMenuItem(2);
  });
  w.sim.loop.SetIdleAdvance(true);
  MonitorOptions options;
  options.onGuarded = [&] { guardedWorkRan = true; };
  EXPECT_EQ(RunMonitor(w.platform(), options), 0);
  EXPECT_TRUE(guardedWorkRan);
  EXPECT_TRUE(trayAtExit);
  // Said in the trace and on the tray, in the store's language (Chinese on a first start).
  const auto lines = w.sim.debug.Lines();
  const std::string said = "无法保证只运行一个实例： the lock folder belongs to another user";
  EXPECT_NE(std::find(lines.begin(), lines.end(), said), lines.end());
  EXPECT_NE(hintAtExit.find(said), std::string::npos) << hintAtExit;
}

TEST_F(Scenario, AFailureOfTheGuardedStartUpWorkEndsStartUpBeforeTheStore) {
  MonitorOptions options;
  options.onGuarded = [] { throw std::runtime_error("socket taken"); };
  EXPECT_THROW(RunMonitor(w.platform(), options), std::runtime_error);
  EXPECT_EQ(w.sim.windows.Find("TKVMONMAIN"), 0u);
  EXPECT_EQ(w.sim.registry.WriteCount(), 0u);
  EXPECT_NE(w.sim.instance.Acquire("TKVMONMAIN"), nullptr);  // the guard went with it
}

TEST_F(Scenario, FirstStartInChineseThenExitTellsTheConfiguratorBeforeTheReadersStop) {
  const std::string path = w.PlugMouse();
  kvtest::FakeConfigurator cfg(w.windows);
  std::vector<std::string> menu;
  std::size_t readersAtExit = 0, pulsesAtExit = 0;
  w.windows.beforeDelivery = [&](const platform::WindowMessage& m) {
    if (m.msg != WM_MONITOR_EXIT) return;
    readersAtExit = w.hid.WaitingReads(path);
    pulsesAtExit = w.hid.Pulses();
  };
  w.sim.loop.StartTimer(4000ms, false, [&] {
    ASSERT_TRUE(w.hid.WaitForReaders(path, 1));
    menu = w.shell.VisibleMenu();
    w.shell.ChooseMenuItem(2);
  });
  w.sim.loop.SetIdleAdvance(true);
  EXPECT_EQ(RunMonitor(w.platform()), 0);
  EXPECT_EQ(menu, (std::vector<std::string>{"打开配置", "退出软件"}));
  EXPECT_EQ(readersAtExit, 1u);
  EXPECT_EQ(pulsesAtExit, 1u);
  EXPECT_EQ(w.hid.Pulses(), 2u);  // the stop at shut-down came after the message
  EXPECT_EQ(w.hid.OpenObjects(path), 0u);
  EXPECT_FALSE(w.shell.Tray().exists);
  w.sim.loop.RunPending();
  ASSERT_EQ(cfg.Received().size(), 1u);
  EXPECT_EQ(cfg.Received()[0].msg, WM_MONITOR_EXIT);
  EXPECT_NE(w.sim.instance.Acquire("TKVMONMAIN"), nullptr);  // released at the end
}

// The microphone through the whole monitor: button 0 bound to it, presses through the mouse's
// read thread, devices and the audio service changed by the test. The store starts in Chinese.
class MicScenario : public Scenario {
 protected:
  void StartWithMouse() {
    BindButton(0, 28);
    path_ = w.PlugMouse();
    Start();
    w.sim.loop.Advance(3100ms);
    ASSERT_TRUE(ReaderWaiting(path_));
  }
  void Press() {
    w.hid.Input(path_, kPress0);
    w.hid.Input(path_, kRelease);
  }
  // The tray shows this state (hint and badge) once the news has reached the main thread.
  bool TrayShows(const std::string& state, platform::TrayBadge badge) {
    return Until([&] {
      const auto tray = w.shell.Tray();
      return tray.hint == "GAMING MOUSE DRIVER\n" + state && tray.badge == badge;
    });
  }
  bool MutedBecomes(const std::string& device, bool muted) {
    return Until([&] { return w.audio.Muted(device) == muted; });
  }
  MonitorSettings Settings() {
    return MonitorSettings(w.sim.registry, dm->FOptionsFromConfigFile.ProfileRegFolder);
  }
  static constexpr const char* kMuted = "麦克风已静音";
  static constexpr const char* kOn = "麦克风已开启";
  static constexpr const char* kNone = "未找到麦克风";
  std::string path_;
};

TEST_F(MicScenario, APressActsOnTheNewDefaultAndLeavesTheOldOneAlone) {
  w.audio.AddCaptureDevice("builtin");
  StartWithMouse();
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
  Press();
  ASSERT_TRUE(MutedBecomes("builtin", true));
  EXPECT_TRUE(TrayShows(kMuted, platform::TrayBadge::MicrophoneMuted));
  // A headset is plugged in and becomes the default: the tray shows its state at once.
  w.audio.AddCaptureDevice("headset");
  w.audio.SetDefaultCaptureDevice("headset");
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
  Press();
  ASSERT_TRUE(MutedBecomes("headset", true));
  EXPECT_TRUE(TrayShows(kMuted, platform::TrayBadge::MicrophoneMuted));
  Press();
  ASSERT_TRUE(MutedBecomes("headset", false));
  EXPECT_EQ(w.audio.Muted("builtin"), true);  // never touched again
}

TEST_F(MicScenario, ARemovedHeadsetHandsThePressesToTheDeviceThatTookOver) {
  w.audio.AddCaptureDevice("builtin", true);
  w.audio.AddCaptureDevice("headset");
  w.audio.SetDefaultCaptureDevice("headset");
  StartWithMouse();
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
  w.audio.RemoveCaptureDevice("headset");
  EXPECT_TRUE(TrayShows(kNone, platform::TrayBadge::None));
  w.audio.SetDefaultCaptureDevice("builtin");
  EXPECT_TRUE(TrayShows(kMuted, platform::TrayBadge::MicrophoneMuted));
  Press();
  ASSERT_TRUE(MutedBecomes("builtin", false));
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
}

TEST_F(MicScenario, AfterTheAudioServiceRestartsTheNextPressMutesAgain) {
  w.audio.AddCaptureDevice("mic");
  StartWithMouse();
  w.audio.StopService();
  EXPECT_TRUE(TrayShows(kNone, platform::TrayBadge::None));
  w.sim.debug.Clear();
  Press();
  EXPECT_TRUE(Until([&] {
    const auto lines = w.sim.debug.Lines();
    return std::count(lines.begin(), lines.end(),
                      "microphone: no connection to the audio service; the press changes "
                      "nothing") == 1;
  }));
  EXPECT_EQ(w.audio.Muted("mic"), false);
  // The daemon is back; the reconnection's next attempt finds it.
  w.audio.StartService();
  w.sim.loop.Advance(1000ms);
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
  EXPECT_EQ(main->Microphone().Reconnecting(), false);
  Press();
  ASSERT_TRUE(MutedBecomes("mic", true));
  EXPECT_TRUE(TrayShows(kMuted, platform::TrayBadge::MicrophoneMuted));
}

TEST_F(MicScenario, TheTrayFollowsAMuteChangedElsewhereWithoutANotification) {
  w.audio.AddCaptureDevice("mic");
  StartWithMouse();
  w.audio.SetMutedElsewhere("mic", true);
  EXPECT_TRUE(TrayShows(kMuted, platform::TrayBadge::MicrophoneMuted));
  w.audio.SetMutedElsewhere("mic", false);
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
  EXPECT_TRUE(w.shell.Notifications().empty());
}

TEST_F(MicScenario, EachPressNotifiesUnlessTheUserTurnedItOff) {
  w.audio.AddCaptureDevice("mic");
  StartWithMouse();
  EXPECT_TRUE(Settings().MuteNotifications());  // on by default
  Press();
  ASSERT_TRUE(MutedBecomes("mic", true));
  ASSERT_TRUE(Until([&] { return w.shell.Notifications().size() == 1; }));
  EXPECT_EQ(w.shell.Notifications()[0].title, kMuted);
  EXPECT_EQ(w.shell.Notifications()[0].tag, "microphone");
  // Turned off (as kvstore or the settings window do): a running monitor follows at once.
  Settings().SetMuteNotifications(false);
  EXPECT_FALSE(Settings().MuteNotifications());
  Press();
  ASSERT_TRUE(MutedBecomes("mic", false));
  Settings().SetMuteNotifications(true);
  Press();
  ASSERT_TRUE(MutedBecomes("mic", true));
  ASSERT_TRUE(Until([&] { return w.shell.Notifications().size() == 2; }));
  EXPECT_EQ(w.shell.Notifications()[1].title, kMuted);
  // A desktop without a notification service: the press still toggles.
  w.shell.SetNotificationsAvailable(false);
  Press();
  ASSERT_TRUE(MutedBecomes("mic", false));
  EXPECT_TRUE(TrayShows(kOn, platform::TrayBadge::None));
  EXPECT_EQ(w.shell.Notifications().size(), 2u);
}

}  // namespace
