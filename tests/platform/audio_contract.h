#pragma once
// The contract of the audio service (platform/audio.h) as a typed GoogleTest suite. Every
// implementation instantiates it with an environment type:
//
//   struct MyEnv {
//     kv::platform::Audio& audio();
//     // False where the test cannot make capture devices of its own: those cases then skip.
//     bool CanMakeDevices();
//     // A capture device that becomes the system's default; returns its name.
//     std::string AddDefaultCaptureDevice(bool muted);
//     void RemoveCaptureDevice(const std::string& name);
//     // What the system says of the device, and a change made by another program.
//     std::optional<bool> Muted(const std::string& name);
//     void SetMutedElsewhere(const std::string& name, bool muted);
//     // Optional: true where the system already has a default capture device that the test
//     // may toggle (and restores), for environments that cannot make devices.
//     bool HasDefaultCaptureDevice();
//     // Optional: why CanMakeDevices() is false, shown with the skipped cases.
//     std::string WhyNoDevices();
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyPlatform, AudioContract, ::testing::Types<MyEnv>);
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/audio.h"

namespace kv::platform::contract {

template <typename Env>
class AudioContract : public ::testing::Test {
 protected:
  Env env;
  Audio& audio() { return env.audio(); }
  void NeedDevices() {
    if (!env.CanMakeDevices()) {
      std::string why = "this environment cannot make capture devices";
      if constexpr (requires { env.WhyNoDevices(); }) why = env.WhyNoDevices();
      GTEST_SKIP() << why;
    }
    if (!audio().HasCaptureEndpoint()) GTEST_SKIP() << "no capture endpoint on this system";
  }
  // A default capture device: one made by the test, or else the system's own.
  void NeedACaptureDevice() {
    if (!audio().HasCaptureEndpoint()) GTEST_SKIP() << "no capture endpoint on this system";
    if (env.CanMakeDevices()) {
      env.AddDefaultCaptureDevice(false);
      return;
    }
    bool present = false;
    if constexpr (requires { env.HasDefaultCaptureDevice(); })
      present = env.HasDefaultCaptureDevice();
    if (!present) GTEST_SKIP() << "no capture device here, and this environment cannot make one";
  }
};

TYPED_TEST_SUITE_P(AudioContract);

TYPED_TEST_P(AudioContract, MuteWrittenIsMuteReadBack) {
  this->NeedACaptureDevice();
  if (this->IsSkipped()) return;
  auto ep = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  const std::optional<bool> before = ep->GetMute();
  ASSERT_TRUE(before.has_value());
  for (const bool muted : {!*before, !*before, *before}) {  // a repeated write is no failure
    EXPECT_TRUE(ep->SetMute(muted));
    EXPECT_EQ(ep->GetMute(), muted);
  }
}

TYPED_TEST_P(AudioContract, MuteWrittenIsWhatTheSystemSees) {
  this->NeedDevices();
  if (this->IsSkipped()) return;
  const std::string dev = this->env.AddDefaultCaptureDevice(false);
  auto ep = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  EXPECT_EQ(ep->GetMute(), false);
  EXPECT_TRUE(ep->SetMute(true));
  EXPECT_EQ(ep->GetMute(), true);
  EXPECT_EQ(this->env.Muted(dev), true);
  this->env.SetMutedElsewhere(dev, false);
  EXPECT_EQ(ep->GetMute(), false);
}

TYPED_TEST_P(AudioContract, NotificationsComeOffTheCallingThreadAndEndWithTheEndpoint) {
  this->NeedDevices();
  if (this->IsSkipped()) return;
  const std::string dev = this->env.AddDefaultCaptureDevice(false);
  auto ep = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  struct Seen {
    std::mutex m;
    std::condition_variable cv;
    int calls = 0;
    bool sawMuted = false;
    bool onCaller = false;
  };
  auto seen = std::make_shared<Seen>();
  const auto caller = std::this_thread::get_id();
  ASSERT_TRUE(ep->RegisterVolumeNotify([seen, caller](const VolumeNotification& n) {
    std::lock_guard lock(seen->m);
    ++seen->calls;
    seen->sawMuted = seen->sawMuted || n.muted;
    seen->onCaller = seen->onCaller || std::this_thread::get_id() == caller;
    seen->cv.notify_all();
  }));
  this->env.SetMutedElsewhere(dev, true);
  {
    std::unique_lock lock(seen->m);
    ASSERT_TRUE(seen->cv.wait_for(lock, std::chrono::seconds(5), [&] { return seen->sawMuted; }));
    EXPECT_FALSE(seen->onCaller);
  }
  ep.reset();
  int before;
  {
    std::lock_guard lock(seen->m);
    before = seen->calls;
  }
  this->env.SetMutedElsewhere(dev, false);
  std::unique_lock lock(seen->m);
  EXPECT_FALSE(seen->cv.wait_for(lock, std::chrono::milliseconds(300),
                                 [&] { return seen->calls != before; }));
}

TYPED_TEST_P(AudioContract, ARemovedDeviceFailsQuietly) {
  this->NeedDevices();
  if (this->IsSkipped()) return;
  const std::string dev = this->env.AddDefaultCaptureDevice(false);
  auto ep = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  this->env.RemoveCaptureDevice(dev);
  EXPECT_EQ(ep->GetMute(), std::nullopt);
  EXPECT_FALSE(ep->SetMute(true));
}

TYPED_TEST_P(AudioContract, TheMixerAnswersWithAResultNeverACrash) {
  LegacyMixer* mixer = this->audio().Mixer();
  if (!mixer) GTEST_SKIP() << "no legacy mixer on this platform";
  bool muted = false;
  const MixerResult got = mixer->GetMicrophoneMute(muted);
  if (got != MixerResult::Ok) return;  // no microphone line here: the result names why
  EXPECT_EQ(mixer->SetMicrophoneMute(muted), MixerResult::Ok);
}

REGISTER_TYPED_TEST_SUITE_P(AudioContract, MuteWrittenIsMuteReadBack,
                            MuteWrittenIsWhatTheSystemSees,
                            NotificationsComeOffTheCallingThreadAndEndWithTheEndpoint,
                            ARemovedDeviceFailsQuietly, TheMixerAnswersWithAResultNeverACrash);

}  // namespace kv::platform::contract
