#pragma once
// Simulated audio: capture devices with a mute state that tests plug in, remove and change, a
// default-device choice, an audio service that can go down and come back, and a legacy mixer
// whose steps can be made to fail. Volume notifications and device changes are delivered on a
// notifier thread of the sim, as the real audio systems do.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "platform/audio.h"

namespace kv::platform::sim {

class SimAudio : public Audio {
 public:
  SimAudio();
  ~SimAudio() override;

  bool HasCaptureEndpoint() override { return hasEndpoint_; }
  std::unique_ptr<CaptureEndpoint> OpenDefaultCaptureEndpoint() override;
  std::unique_ptr<CaptureDeviceWatch> WatchCaptureDevices(CaptureDeviceNotify notify) override;
  LegacyMixer* Mixer() override;

  // --- test controls (any thread) ---
  // An older system without the endpoint interface: the microphone is reached by the mixer.
  void SetHasCaptureEndpoint(bool has) { hasEndpoint_ = has; }
  // Adds (or plugs in again) a capture device; the first one added becomes the default.
  // Endpoints opened on an earlier plug of the same device stay invalid.
  void AddCaptureDevice(const std::string& id, bool muted = false);
  // The device disappears: endpoints opened on it fail their reads and writes for good.
  void RemoveCaptureDevice(const std::string& id);
  void SetDefaultCaptureDevice(const std::string& id);  // "" = no default device
  std::string DefaultCaptureDevice() const;
  // The audio service stops: watches hear ServiceLost and end, every endpoint is invalid, and
  // nothing opens until it starts again (with the devices and default it had).
  void StopService();
  void StartService();
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
  std::size_t WatchCount() const;  // live watches
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
  class Watch;
  class SimMixer;
  struct Device {
    bool present = true;
    bool muted = false;
    bool failReads = false;
    bool failWrites = false;
    std::uint64_t plug = 0;  // which plug-in of the device an endpoint was opened on
  };
  struct Registration {
    std::string device;
    VolumeNotify notify;
  };
  using Payload = std::variant<VolumeNotification, CaptureDeviceEvent>;
  // How a read or write on an endpoint ended.
  enum class Access { Ok, Failed, Gone };
  Access Get(const std::string& id, std::uint64_t plug, std::uint64_t service, bool& muted);
  Access Set(const std::string& id, std::uint64_t plug, std::uint64_t service, bool muted);
  bool SetLocked(const std::string& id, bool muted);   // mutex_ held
  void QueueDeviceEvent(const CaptureDeviceEvent& e);  // mutex_ held
  std::uint64_t Register(const std::string& device, std::uint64_t plug, VolumeNotify notify);
  void Unregister(std::uint64_t id);
  void NotifierMain();

  mutable std::mutex mutex_;
  std::map<std::string, Device> devices_;
  std::string default_;
  bool hasEndpoint_ = true;
  bool serviceUp_ = true;
  std::uint64_t service_ = 1;  // counts the service's starts
  std::uint64_t nextPlug_ = 1;
  std::size_t calls_ = 0, opens_ = 0;
  // Mixer.
  std::unique_ptr<SimMixer> mixer_;
  bool mixerMuted_ = false;
  MixerResult mixerFailure_ = MixerResult::Ok;
  std::size_t mixerOpens_ = 0;
  // Notifications: volume registrations and device watches share one id space.
  std::map<std::uint64_t, Registration> registrations_;
  std::map<std::uint64_t, CaptureDeviceNotify> watches_;
  std::uint64_t nextRegistration_ = 1;
  std::deque<std::pair<std::uint64_t, Payload>> queue_;
  std::size_t delivered_ = 0;
  bool delivering_ = false;
  bool stop_ = false;
  std::condition_variable cv_;
  std::mutex deliveryMutex_;  // held while a callback runs; Unregister takes it
  std::thread notifier_;
};

}  // namespace kv::platform::sim
