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
//     // Optional: the audio service stops (the connections to it fail) and starts again with
//     // a default capture device. Without them the service case skips.
//     void StopService();
//     void StartService();
//     // Optional: what the legacy mixer's read answers here, and whether a value written is
//     // read back by the next operation (each one opens the mixer afresh).
//     MixerResult ExpectedMixerResult();
//     bool MixerKeepsItsValue();
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyPlatform, AudioContract, ::testing::Types<MyEnv>);
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio.h"

namespace kv::platform::contract {

// What a capture-device watch reported, for a test thread to wait on.
class DeviceEvents {
 public:
  CaptureDeviceNotify Notify() {
    return [this](const CaptureDeviceEvent& e) {
      std::lock_guard lock(m_);
      events_.push_back(e);
      offCaller_ = offCaller_ && std::this_thread::get_id() != caller_;
      cv_.notify_all();
    };
  }
  // True once an event of that kind (and device, when given) has come, within `limit`.
  bool WaitFor(CaptureDeviceChange change, const std::string& device = "",
               std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] {
      for (const auto& e : events_)
        if (e.change == change && (device.empty() || e.device == device)) return true;
      return false;
    });
  }
  std::size_t Count() {
    std::lock_guard lock(m_);
    return events_.size();
  }
  bool AllOffTheCallingThread() {
    std::lock_guard lock(m_);
    return offCaller_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<CaptureDeviceEvent> events_;
  std::thread::id caller_ = std::this_thread::get_id();
  bool offCaller_ = true;
};

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
  void NeedServiceControl() {
    NeedDevices();
    if constexpr (!requires { env.StopService(); })
      GTEST_SKIP() << "this environment cannot stop the audio service";
  }
  void StopService() {
    if constexpr (requires { env.StopService(); }) env.StopService();
  }
  void StartService() {
    if constexpr (requires { env.StartService(); }) env.StartService();
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

TYPED_TEST_P(AudioContract, ADefaultChangeIsReportedAndEndpointsKeepTheirDevice) {
  this->NeedDevices();
  if (this->IsSkipped()) return;
  const std::string first = this->env.AddDefaultCaptureDevice(false);
  DeviceEvents events;
  auto watch = this->audio().WatchCaptureDevices(events.Notify());
  ASSERT_NE(watch, nullptr);
  auto old = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->DeviceId(), first);
  const std::string second = this->env.AddDefaultCaptureDevice(false);
  ASSERT_TRUE(events.WaitFor(CaptureDeviceChange::DefaultChanged));
  EXPECT_TRUE(events.AllOffTheCallingThread());
  auto now = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(now->DeviceId(), second);
  // The earlier endpoint still acts on its own device, and on nothing else.
  EXPECT_TRUE(old->SetMute(true));
  EXPECT_EQ(this->env.Muted(first), true);
  EXPECT_EQ(this->env.Muted(second), false);
  EXPECT_FALSE(old->Invalidated());
  // A withdrawn watch hears nothing more.
  watch.reset();
  const std::size_t before = events.Count();
  this->env.AddDefaultCaptureDevice(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(events.Count(), before);
}

TYPED_TEST_P(AudioContract, ARemovedDeviceFailsQuietlyIsReportedAndInvalidatesItsEndpoint) {
  this->NeedDevices();
  if (this->IsSkipped()) return;
  this->env.AddDefaultCaptureDevice(false);
  const std::string dev = this->env.AddDefaultCaptureDevice(false);
  DeviceEvents events;
  auto watch = this->audio().WatchCaptureDevices(events.Notify());
  ASSERT_NE(watch, nullptr);
  auto ep = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  EXPECT_FALSE(ep->Invalidated());
  this->env.RemoveCaptureDevice(dev);
  EXPECT_TRUE(events.WaitFor(CaptureDeviceChange::DeviceRemoved, dev));
  EXPECT_EQ(ep->GetMute(), std::nullopt);
  EXPECT_TRUE(ep->Invalidated());
  EXPECT_FALSE(ep->SetMute(true));
  EXPECT_TRUE(ep->Invalidated());
}

TYPED_TEST_P(AudioContract, AStoppedServiceEndsTheWatchAndAStartedOneOpensAgain) {
  this->NeedServiceControl();
  if (this->IsSkipped()) return;
  this->env.AddDefaultCaptureDevice(false);
  DeviceEvents events;
  auto watch = this->audio().WatchCaptureDevices(events.Notify());
  ASSERT_NE(watch, nullptr);
  auto ep = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(ep, nullptr);
  this->StopService();
  ASSERT_TRUE(events.WaitFor(CaptureDeviceChange::ServiceLost));
  EXPECT_EQ(ep->GetMute(), std::nullopt);
  EXPECT_TRUE(ep->Invalidated());
  EXPECT_EQ(this->audio().OpenDefaultCaptureEndpoint(), nullptr);
  EXPECT_EQ(this->audio().WatchCaptureDevices(events.Notify()), nullptr);
  this->StartService();
  auto again = this->audio().OpenDefaultCaptureEndpoint();
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->GetMute().has_value());
  EXPECT_NE(this->audio().WatchCaptureDevices(events.Notify()), nullptr);
  EXPECT_TRUE(ep->Invalidated());  // the old one stays dead
}

TYPED_TEST_P(AudioContract, TheMixerNamesTheStepItReachedAndWritesOnlyOnOk) {
  LegacyMixer* mixer = this->audio().Mixer();
  if (!mixer) GTEST_SKIP() << "no legacy mixer on this platform";
  // A value that no read can have left behind: a failed read must leave it as it was.
  bool muted = true;
  const MixerResult got = mixer->GetMicrophoneMute(muted);
  if constexpr (requires { this->env.ExpectedMixerResult(); }) {
    EXPECT_EQ(got, this->env.ExpectedMixerResult());
  }
  if (got != MixerResult::Ok) {
    EXPECT_TRUE(muted);
    // A write goes through the same steps and stops at the same one.
    EXPECT_EQ(mixer->SetMicrophoneMute(false), got);
    return;
  }
  const bool before = muted;
  EXPECT_EQ(mixer->SetMicrophoneMute(!before), MixerResult::Ok);
  bool keeps = false;
  if constexpr (requires { this->env.MixerKeepsItsValue(); })
    keeps = this->env.MixerKeepsItsValue();
  if (keeps) {
    bool after = before;
    EXPECT_EQ(mixer->GetMicrophoneMute(after), MixerResult::Ok);
    EXPECT_EQ(after, !before);
  }
  EXPECT_EQ(mixer->SetMicrophoneMute(before), MixerResult::Ok);
}

REGISTER_TYPED_TEST_SUITE_P(AudioContract, MuteWrittenIsMuteReadBack,
                            MuteWrittenIsWhatTheSystemSees,
                            NotificationsComeOffTheCallingThreadAndEndWithTheEndpoint,
                            ADefaultChangeIsReportedAndEndpointsKeepTheirDevice,
                            ARemovedDeviceFailsQuietlyIsReportedAndInvalidatesItsEndpoint,
                            AStoppedServiceEndsTheWatchAndAStartedOneOpensAgain,
                            TheMixerNamesTheStepItReachedAndWritesOnlyOnOk);

}  // namespace kv::platform::contract
