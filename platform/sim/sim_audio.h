#pragma once
// Simulated audio: capture devices with a mute state that tests plug in, remove and change, a
// default-device choice, and a legacy mixer whose steps can be made to fail. Volume
// notifications are delivered on a notifier thread of the sim, as the real audio system does.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/audio.h"

namespace kv::platform::sim {

class SimAudio : public Audio {
 public:
  SimAudio();
  ~SimAudio() override;

  bool HasCaptureEndpoint() override { return hasEndpoint_; }
  std::unique_ptr<CaptureEndpoint> OpenDefaultCaptureEndpoint() override;
  LegacyMixer* Mixer() override;

  // --- test controls (any thread) ---
  // An older system without the endpoint interface: the microphone is reached by the mixer.
  void SetHasCaptureEndpoint(bool has) { hasEndpoint_ = has; }
  // Adds (or re-adds) a capture device; the first one added becomes the default.
  void AddCaptureDevice(const std::string& id, bool muted = false);
  // The device disappears: endpoints opened on it fail their reads and writes.
  void RemoveCaptureDevice(const std::string& id);
  void SetDefaultCaptureDevice(const std::string& id);  // "" = no default device
  // Another program changes the mute state (notifications are delivered as for our own writes).
  void SetMutedElsewhere(const std::string& id, bool muted);
  // Reads and writes on the device fail while set, the device staying present.
  void FailReads(const std::string& id, bool fail);
  void FailWrites(const std::string& id, bool fail);
  // nullopt when there is no such device.
  std::optional<bool> Muted(const std::string& id) const;
  // Count of every call a component made into the audio services (opens, reads, writes, mixer).
  std::size_t CallCount() const;
  std::size_t OpenCount() const;
  // Waits until every queued notification has been delivered.
  void WaitNotificationsDelivered();
  std::size_t NotificationsDelivered() const;

  // Legacy mixer state: the mute control's value and the step at which operations fail.
  void SetMixerMuted(bool muted);
  bool MixerMuted() const;
  void SetMixerFailure(MixerResult failAt);  // Ok = no failure
  std::size_t MixerOpenCount() const;        // mixer opens, each closed by the same operation

 private:
  class Endpoint;
  class SimMixer;
  struct Device {
    bool present = true;
    bool muted = false;
    bool failReads = false;
    bool failWrites = false;
  };
  struct Registration {
    std::string device;
    VolumeNotify notify;
  };
  std::optional<bool> Get(const std::string& id);
  bool Set(const std::string& id, bool muted, bool countCall);
  void QueueNotifications(const std::string& id, bool muted);  // mutex_ held
  std::uint64_t Register(const std::string& device, VolumeNotify notify);
  void Unregister(std::uint64_t id);
  void NotifierMain();

  mutable std::mutex mutex_;
  std::map<std::string, Device> devices_;
  std::string default_;
  bool hasEndpoint_ = true;
  std::size_t calls_ = 0, opens_ = 0;
  // Mixer.
  std::unique_ptr<SimMixer> mixer_;
  bool mixerMuted_ = false;
  MixerResult mixerFailure_ = MixerResult::Ok;
  std::size_t mixerOpens_ = 0;
  // Notifications.
  std::map<std::uint64_t, Registration> registrations_;
  std::uint64_t nextRegistration_ = 1;
  std::deque<std::pair<std::uint64_t, VolumeNotification>> queue_;
  std::size_t delivered_ = 0;
  bool delivering_ = false;
  bool stop_ = false;
  std::condition_variable cv_;
  std::mutex deliveryMutex_;  // held while a callback runs; Unregister takes it
  std::thread notifier_;
};

}  // namespace kv::platform::sim
