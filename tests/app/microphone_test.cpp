#include <gtest/gtest.h>

#include "app/microphone.h"
#include "platform/sim/sim_audio.h"
#include "platform/sim/sim_platform.h"

using namespace kv;
using kv::platform::MixerResult;
namespace sim = kv::platform::sim;

namespace {

struct Mic : ::testing::Test {
  sim::SimAudio audio;
  sim::SimMessageBoxes boxes;
  MicrophoneControl mic{&audio, &boxes};
};

TEST_F(Mic, EachToggleReadsAfreshAndWritesTheInverse) {
  audio.AddCaptureDevice("mic");
  mic.OpenCaptureEndpoint();
  mic.MicrophoneMute();
  EXPECT_EQ(audio.Muted("mic"), true);
  mic.MicrophoneMute();
  EXPECT_EQ(audio.Muted("mic"), false);
  audio.SetMutedElsewhere("mic", true);  // another program
  mic.MicrophoneMute();
  EXPECT_EQ(audio.Muted("mic"), false);
  audio.WaitNotificationsDelivered();
  EXPECT_EQ(mic.NotificationsSeen(), 4u);
  EXPECT_EQ(audio.OpenCount(), 1u);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, NoDeviceDoesNothingUntilOneIsPluggedIn) {
  mic.OpenCaptureEndpoint();
  EXPECT_FALSE(mic.EndpointOpen());
  mic.MicrophoneMute();
  mic.MicrophoneMute();
  EXPECT_FALSE(mic.EndpointOpen());
  audio.AddCaptureDevice("late");
  mic.MicrophoneMute();  // opens, then toggles
  EXPECT_TRUE(mic.EndpointOpen());
  EXPECT_EQ(audio.Muted("late"), true);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, KeepsTheDeviceItOpenedAndWritesNothingWhenTheStateCannotBeRead) {
  audio.AddCaptureDevice("a");
  audio.AddCaptureDevice("b");
  mic.OpenCaptureEndpoint();
  audio.SetDefaultCaptureDevice("b");
  mic.MicrophoneMute();
  EXPECT_EQ(audio.Muted("a"), true);
  EXPECT_EQ(audio.Muted("b"), false);
  audio.FailReads("a", true);
  mic.MicrophoneMute();
  EXPECT_EQ(audio.Muted("a"), true);  // unknown state: not guessed
  audio.FailReads("a", false);
  audio.FailWrites("a", true);
  mic.MicrophoneMute();  // a failed write is silent
  EXPECT_EQ(audio.Muted("a"), true);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Mic, OlderSystemsGoThroughTheMixer) {
  audio.SetHasCaptureEndpoint(false);
  audio.AddCaptureDevice("mic");
  mic.MicrophoneMute();
  EXPECT_TRUE(audio.MixerMuted());
  EXPECT_EQ(audio.Muted("mic"), false);  // the endpoint is not used
  mic.MicrophoneMute();
  EXPECT_FALSE(audio.MixerMuted());
  EXPECT_EQ(audio.OpenCount(), 0u);
}

TEST_F(Mic, MixerFailuresShowTheirMessagesOnceAndWriteNothing) {
  audio.SetHasCaptureEndpoint(false);
  audio.SetMixerMuted(true);
  for (MixerResult silent :
       {MixerResult::NoDevice, MixerResult::OpenFailed, MixerResult::NoMicrophoneLine}) {
    audio.SetMixerFailure(silent);
    mic.MicrophoneMute();
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
  EXPECT_TRUE(audio.MixerMuted());
  EXPECT_EQ(mic.GetMixerLineMute(), std::nullopt);
  audio.SetMixerFailure(MixerResult::Ok);
  EXPECT_EQ(mic.GetMixerLineMute(), true);
  EXPECT_TRUE(mic.SetMixerLineMute(false));
  EXPECT_FALSE(audio.MixerMuted());
}

TEST(MicNoAudio, APlatformWithoutAudioIgnoresToggles) {
  MicrophoneControl mic(nullptr, nullptr);
  mic.OpenCaptureEndpoint();
  mic.MicrophoneMute();
  EXPECT_FALSE(mic.EndpointOpen());
  EXPECT_EQ(mic.GetMixerLineMute(), std::nullopt);
}

}  // namespace
