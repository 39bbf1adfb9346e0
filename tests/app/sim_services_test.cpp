// The sim audio and shell services behave as the boundary headers promise, so that scenario
// tests built on them mean something.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/sim/sim_audio.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_shell.h"

using namespace kv::platform;

TEST(SimAudio, EndpointStaysOnItsDeviceAndFailsWhenTheDeviceIsGone) {
  sim::SimAudio audio;
  EXPECT_EQ(audio.OpenDefaultCaptureEndpoint(), nullptr);  // no device yet
  audio.AddCaptureDevice("mic1");
  audio.AddCaptureDevice("mic2", true);
  auto ep = audio.OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  audio.SetDefaultCaptureDevice("mic2");
  EXPECT_TRUE(ep->SetMute(true));
  EXPECT_EQ(audio.Muted("mic1"), true);
  audio.SetMutedElsewhere("mic1", false);
  EXPECT_EQ(ep->GetMute(), false);
  audio.FailReads("mic1", true);
  EXPECT_EQ(ep->GetMute(), std::nullopt);
  audio.FailReads("mic1", false);
  audio.RemoveCaptureDevice("mic1");
  EXPECT_EQ(ep->GetMute(), std::nullopt);
  EXPECT_FALSE(ep->SetMute(true));
}

TEST(SimAudio, MixerFailsAtTheChosenStepAndClosesWhatItOpened) {
  sim::SimAudio audio;
  LegacyMixer* mixer = audio.Mixer();
  ASSERT_NE(mixer, nullptr);
  bool muted = true;
  EXPECT_EQ(mixer->GetMicrophoneMute(muted), MixerResult::Ok);
  EXPECT_FALSE(muted);
  EXPECT_EQ(mixer->SetMicrophoneMute(true), MixerResult::Ok);
  EXPECT_TRUE(audio.MixerMuted());
  audio.SetMixerFailure(MixerResult::NoDevice);
  EXPECT_EQ(mixer->SetMicrophoneMute(false), MixerResult::NoDevice);
  audio.SetMixerFailure(MixerResult::NoMuteControl);
  EXPECT_EQ(mixer->SetMicrophoneMute(false), MixerResult::NoMuteControl);
  EXPECT_TRUE(audio.MixerMuted());
  EXPECT_EQ(audio.MixerOpenCount(), 3u);  // two good operations, one that got past the open
}

TEST(SimShell, MenuEventsComeThroughTheLoopAndHiddenItemsCannotBeChosen) {
  sim::SimPlatform p;
  sim::SimShell shell(p.loop);
  std::vector<std::size_t> chosen;
  int clicks = 0;
  auto tray = shell.CreateTrayIcon(TrayIconSpec{
      {{"A", true}, {"B", false}, {"C", true}}, "hint",
      [&](std::size_t i) { chosen.push_back(i); }, [&] { ++clicks; }});
  EXPECT_EQ(shell.VisibleMenu(), (std::vector<std::string>{"A", "C"}));
  EXPECT_FALSE(shell.ChooseMenuItem(1));
  EXPECT_TRUE(shell.ChooseMenuItem(2));
  shell.ClickTray();
  EXPECT_TRUE(chosen.empty());  // not before the loop runs
  p.loop.RunPending();
  EXPECT_EQ(chosen, (std::vector<std::size_t>{2}));
  EXPECT_EQ(clicks, 1);
  tray.reset();
  EXPECT_FALSE(shell.Tray().exists);
}

TEST(SimShell, TrayImageOnlyFromAnExistingReadableFile) {
  sim::SimPlatform p;
  sim::SimShell shell(p.loop);
  auto tray = shell.CreateTrayIcon({});
  const std::string file = p.paths.ExecutableDir() + "x.ico";
  EXPECT_FALSE(tray->SetImageFromFile(file));
  std::ofstream(file) << "icon";
  shell.SetIconLoadable(false);
  EXPECT_FALSE(tray->SetImageFromFile(file));
  EXPECT_EQ(shell.Tray().imageFile, "");
  shell.SetIconLoadable(true);
  EXPECT_TRUE(tray->SetImageFromFile(file));
  EXPECT_EQ(shell.Tray().imageFile, file);
}
