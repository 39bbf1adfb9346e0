#include <gtest/gtest.h>

#include "app/microphone.h"
#include "platform/sim/sim_audio.h"
#include "platform/sim/sim_loop.h"
#include "platform/sim/sim_platform.h"

using namespace kv;
using namespace std::chrono_literals;
using kv::platform::MixerResult;
namespace sim = kv::platform::sim;

namespace {

struct Mic : ::testing::Test {
  // What the audio thread handed over has reached the main thread.
  void Settle() {
    audio.WaitNotificationsDelivered();
    loop.RunPending();
  }
  bool Traced(const std::string& line) {
    const auto lines = debug.Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  sim::SimClock clock;
  sim::SimEventLoop loop{clock};
  sim::SimDebugOutput debug;
  sim::SimAudio audio;
  sim::SimMessageBoxes boxes;
  MicrophoneControl mic{loop, debug, &audio, &boxes};
};

TEST_F(Mic, EachToggleReadsAfreshAndWritesTheInverse) {
  audio.AddCaptureDevice("mic");
  mic.OpenCaptureEndpoint();
  EXPECT_EQ(mic.MicrophoneMute(), true);
  EXPECT_EQ(audio.Muted("mic"), true);
  EXPECT_EQ(mic.MicrophoneMute(), false);
  EXPECT_EQ(audio.Muted("mic"), false);
  audio.SetMutedElsewhere("mic", true);  // another program
  EXPECT_EQ(mic.MicrophoneMute(), false);
  EXPECT_EQ(audio.Muted("mic"), false);
  audio.WaitNotificationsDelivered();
  EXPECT_EQ(mic.NotificationsSeen(), 4u);
  EXPECT_EQ(audio.OpenCount(), 1u);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, NoDeviceDoesNothingUntilOneIsPluggedIn) {
  mic.OpenCaptureEndpoint();
  EXPECT_FALSE(mic.EndpointOpen());
  EXPECT_TRUE(mic.Connected());
  EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);
  EXPECT_FALSE(mic.EndpointOpen());
  // Plugged in while a press has not yet come: a later press opens it and toggles it.
  audio.AddCaptureDevice("late");
  EXPECT_EQ(mic.MicrophoneMute(), true);
  EXPECT_TRUE(mic.EndpointOpen());
  EXPECT_EQ(audio.Muted("late"), true);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, FollowsTheDefaultDeviceAndLeavesTheOldOneAlone) {
  audio.AddCaptureDevice("a");
  audio.AddCaptureDevice("b");
  mic.OpenCaptureEndpoint();
  audio.SetDefaultCaptureDevice("b");
  Settle();
  EXPECT_EQ(mic.MicrophoneMute(), true);
  EXPECT_EQ(audio.Muted("b"), true);
  EXPECT_EQ(audio.Muted("a"), false);
  // Even before the watch's news has arrived, a press reads the new default's state.
  audio.SetMutedElsewhere("a", true);
  audio.SetDefaultCaptureDevice("a");
  Settle();
  EXPECT_EQ(mic.Muted(), true);
  EXPECT_EQ(mic.MicrophoneMute(), false);
  EXPECT_EQ(audio.Muted("a"), false);
  EXPECT_EQ(audio.Muted("b"), true);
}

TEST_F(Mic, ARemovedDeviceIsReplacedByTheNewDefaultEvenBeforeItsNewsArrives) {
  audio.AddCaptureDevice("headset");
  audio.AddCaptureDevice("builtin");
  mic.OpenCaptureEndpoint();
  // The press comes before the notifier thread has told anyone: the endpoint reports its device
  // gone, and the press goes to the default that replaced it.
  audio.RemoveCaptureDevice("headset");
  audio.SetDefaultCaptureDevice("builtin");
  EXPECT_EQ(mic.MicrophoneMute(), true);
  EXPECT_EQ(audio.Muted("builtin"), true);
  Settle();
  EXPECT_EQ(mic.Muted(), true);
  // The last device goes: nothing to toggle, and the state says so.
  audio.RemoveCaptureDevice("builtin");
  Settle();
  EXPECT_FALSE(mic.EndpointOpen());
  EXPECT_EQ(mic.Muted(), std::nullopt);
  EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, WritesNothingWhenTheStateCannotBeRead) {
  audio.AddCaptureDevice("a");
  mic.OpenCaptureEndpoint();
  audio.FailReads("a", true);
  EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);
  EXPECT_EQ(audio.Muted("a"), false);  // unknown state: not guessed
  EXPECT_TRUE(mic.EndpointOpen());     // a failure that is no removal keeps the device
  audio.FailReads("a", false);
  audio.FailWrites("a", true);
  EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);  // a failed write is silent
  EXPECT_EQ(audio.Muted("a"), false);
  EXPECT_EQ(audio.OpenCount(), 1u);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, AServiceRestartReconnectsWithGrowingDelaysAndNoTimerWhileConnected) {
  audio.AddCaptureDevice("mic");
  mic.OpenCaptureEndpoint();
  EXPECT_EQ(loop.ActiveTimers(), 0u);
  audio.StopService();
  Settle();
  EXPECT_FALSE(mic.Connected());
  EXPECT_EQ(mic.Muted(), std::nullopt);
  EXPECT_TRUE(Traced("microphone: lost the connection to the audio service; reconnecting"));
  // Attempts at 250 ms, then 500, 1000, ... after the one before, up to the last delay.
  std::vector<std::int64_t> attempts;
  const std::size_t watchesBefore = audio.CallCount();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(loop.ActiveTimers(), 1u);
    const std::int64_t wait = loop.NextTimerIn();
    attempts.push_back(wait);
    loop.Advance(std::chrono::milliseconds(wait));
  }
  EXPECT_EQ(attempts, (std::vector<std::int64_t>{250, 500, 1000, 2000, 4000, 8000, 16000, 30000,
                                                 30000, 30000}));
  EXPECT_EQ(audio.CallCount() - watchesBefore, 10u);  // one try per attempt, nothing between
  // A press while the service is down tries once at once, changes nothing and says why.
  EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);
  EXPECT_TRUE(Traced("microphone: no connection to the audio service; the press changes nothing"));
  EXPECT_EQ(audio.Muted("mic"), false);
  // Back: the next attempt connects, reads the state, and no timer is left.
  audio.StartService();
  audio.SetMutedElsewhere("mic", true);
  loop.Advance(30000ms);
  EXPECT_TRUE(mic.Connected());
  EXPECT_EQ(mic.Muted(), true);
  EXPECT_EQ(loop.ActiveTimers(), 0u);
  EXPECT_EQ(mic.MicrophoneMute(), false);
  EXPECT_EQ(audio.Muted("mic"), false);
  // A second loss starts again from the shortest delay.
  audio.StopService();
  Settle();
  EXPECT_EQ(loop.NextTimerIn(), 250);
}

TEST_F(Mic, APressWhileTheServiceIsBackButNotYetRetriedReconnectsAndToggles) {
  audio.AddCaptureDevice("mic");
  mic.OpenCaptureEndpoint();
  audio.StopService();
  Settle();
  loop.Advance(250ms);  // a failed attempt; the next is 500 ms away
  audio.StartService();
  EXPECT_EQ(mic.MicrophoneMute(), true);
  EXPECT_EQ(audio.Muted("mic"), true);
  EXPECT_EQ(loop.ActiveTimers(), 0u);
}

TEST_F(Mic, TheStateFollowsChangesMadeElsewhereAndIsReportedOncePerChange) {
  std::vector<std::optional<bool>> seen;
  mic.OnStateChanged = [&](std::optional<bool> s) { seen.push_back(s); };
  audio.AddCaptureDevice("mic", true);
  mic.OpenCaptureEndpoint();
  audio.SetMutedElsewhere("mic", false);
  Settle();
  audio.SetMutedElsewhere("mic", false);  // no change: nothing reported
  Settle();
  mic.MicrophoneMute();
  Settle();
  EXPECT_EQ(seen, (std::vector<std::optional<bool>>{true, false, true}));
}

TEST_F(Mic, NewsThatArrivesAfterTheControlIsGoneFindsNoOne) {
  audio.AddCaptureDevice("mic");
  {
    MicrophoneControl other(loop, debug, &audio, &boxes);
    other.OpenCaptureEndpoint();
    other.OnStateChanged = [](std::optional<bool>) { FAIL() << "called after destruction"; };
    audio.SetMutedElsewhere("mic", true);
    audio.WaitNotificationsDelivered();  // posted, not yet run
  }
  EXPECT_GE(loop.RunPending(), 1u);
}

TEST_F(Mic, OlderSystemsGoThroughTheMixer) {
  audio.SetHasCaptureEndpoint(false);
  audio.AddCaptureDevice("mic");
  EXPECT_EQ(mic.MicrophoneMute(), true);
  EXPECT_TRUE(audio.MixerMuted());
  EXPECT_EQ(audio.Muted("mic"), false);  // the endpoint is not used
  mic.MicrophoneMute();
  EXPECT_FALSE(audio.MixerMuted());
  EXPECT_EQ(audio.OpenCount(), 0u);
}

TEST_F(Mic, MixerFailuresShowTheirMessagesOnceUnderTheTitleAndWriteNothing) {
  audio.SetHasCaptureEndpoint(false);
  audio.SetMixerMuted(true);
  mic.SetMessageCaption("GAMING MOUSE MONITOR");
  for (MixerResult silent :
       {MixerResult::NoDevice, MixerResult::OpenFailed, MixerResult::NoMicrophoneLine}) {
    audio.SetMixerFailure(silent);
    EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);
  }
  EXPECT_TRUE(boxes.Shown().empty());
  audio.SetMixerFailure(MixerResult::NoMuteControl);
  mic.MicrophoneMute();
  audio.SetMixerFailure(MixerResult::DetailsFailed);
  mic.MicrophoneMute();
  const auto shown = boxes.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "GetLineInfo Error");
  EXPECT_EQ(shown[1].text, "SetControlDetails Error");
  EXPECT_EQ(shown[0].caption, "GAMING MOUSE MONITOR");
  EXPECT_EQ(shown[1].caption, "GAMING MOUSE MONITOR");
  EXPECT_TRUE(audio.MixerMuted());
  EXPECT_EQ(mic.GetMixerLineMute(), std::nullopt);
  audio.SetMixerFailure(MixerResult::Ok);
  EXPECT_EQ(mic.GetMixerLineMute(), true);
  EXPECT_TRUE(mic.SetMixerLineMute(false));
  EXPECT_FALSE(audio.MixerMuted());
}

TEST(MicNoAudio, APlatformWithoutAudioIgnoresToggles) {
  sim::SimClock clock;
  sim::SimEventLoop loop{clock};
  sim::SimDebugOutput debug;
  MicrophoneControl mic(loop, debug, nullptr, nullptr);
  mic.OpenCaptureEndpoint();
  EXPECT_EQ(mic.MicrophoneMute(), std::nullopt);
  EXPECT_FALSE(mic.EndpointOpen());
  EXPECT_EQ(mic.GetMixerLineMute(), std::nullopt);
  EXPECT_EQ(loop.ActiveTimers(), 0u);
}

}  // namespace
