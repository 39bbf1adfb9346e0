#pragma once
// Audio services: the default capture device's mute state, through the capture endpoint or,
// on systems that have no endpoint interface, through the legacy mixer.
//
// Threads: every call is made on the main thread. The only exception is the volume
// notification, which the audio system delivers on a thread of its own (see CaptureEndpoint).
// Nothing here throws: failures come back as the documented results.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv::platform {

// What the audio system reports when the endpoint's volume or mute state changes (by this
// program or any other).
struct VolumeNotification {
  bool muted = false;
  float masterVolume = 0.0f;          // 0.0 .. 1.0
  std::vector<float> channelVolumes;  // one per channel, 0.0 .. 1.0
};

// Called on a thread of the audio system, never on the main thread. It must not touch
// components; a callback that needs to act posts to the event loop.
using VolumeNotify = std::function<void(const VolumeNotification&)>;

// One opened capture endpoint. It stays bound to the device it was opened on, also when the
// system's default capture device changes later (a CaptureDeviceWatch says when that happens).
class CaptureEndpoint {
 public:
  // Releases the endpoint; a registered notification is withdrawn before this returns, so the
  // callback is never called after destruction.
  virtual ~CaptureEndpoint() = default;
  // The current mute state; nullopt when it cannot be read (device removed, service gone).
  virtual std::optional<bool> GetMute() = 0;
  // Writes the mute state with no event context. False when it could not be written.
  virtual bool SetMute(bool muted) = 0;
  // Registers the volume notification (one per endpoint; a second call replaces the first).
  // False when the audio system refuses it.
  virtual bool RegisterVolumeNotify(VolumeNotify notify) = 0;
  // The device this endpoint is bound to, as CaptureDeviceEvent names it.
  virtual std::string DeviceId() const = 0;
  // True once a call failed because the device is gone for good (removed, disabled, or the
  // connection to the audio service lost): the endpoint will never work again, and the default
  // device has to be opened anew. A failure for any other reason leaves it false.
  virtual bool Invalidated() const = 0;
};

// What a CaptureDeviceWatch reports.
enum class CaptureDeviceChange {
  DefaultChanged,  // the default capture device for the multimedia role is another one, or none
  DeviceRemoved,   // the device `device` went away (unplugged, disabled, unloaded)
  ServiceLost,     // the connection to the audio service broke: every endpoint is invalidated
                   // and the watch has ended; nothing more comes from it
};

struct CaptureDeviceEvent {
  CaptureDeviceChange change = CaptureDeviceChange::DefaultChanged;
  std::string device;  // DeviceRemoved: the device's id (CaptureEndpoint::DeviceId); else empty
};

// Called on a thread of the audio system, never on the main thread, under the same rules as
// VolumeNotify.
using CaptureDeviceNotify = std::function<void(const CaptureDeviceEvent&)>;

// A registration for capture device changes; destroying it withdraws the registration, and the
// callback is not called after the destructor returns.
class CaptureDeviceWatch {
 public:
  virtual ~CaptureDeviceWatch() = default;
};

// Outcome of one legacy mixer operation. Each operation opens mixer device 0, finds its
// microphone source line and that line's mute control, reads or writes the control's value and
// closes the mixer again; the result names the step that failed.
enum class MixerResult {
  Ok,
  NoDevice,          // the system has no mixer device
  OpenFailed,        // mixer device 0 could not be opened
  NoMicrophoneLine,  // no microphone source line
  NoMuteControl,     // the line has no mute control
  DetailsFailed,     // reading or writing the control's value failed
};

class LegacyMixer {
 public:
  virtual ~LegacyMixer() = default;
  // `muted` is written only when the result is Ok.
  virtual MixerResult GetMicrophoneMute(bool& muted) = 0;
  virtual MixerResult SetMicrophoneMute(bool muted) = 0;
};

class Audio {
 public:
  virtual ~Audio() = default;
  // True when this system has the capture endpoint interface (on Windows: the NT family from
  // major version 6); false when the microphone is reached through the legacy mixer only.
  virtual bool HasCaptureEndpoint() = 0;
  // Opens the default capture device for the multimedia role (the platform initialises what it
  // needs for that on the calling thread). nullptr when there is no such device or the audio
  // system fails; a later call may succeed.
  virtual std::unique_ptr<CaptureEndpoint> OpenDefaultCaptureEndpoint() = 0;
  // Watches the capture devices: `notify` learns when the default changes, when a device goes
  // and when the connection to the audio service is lost. nullptr when the audio service
  // cannot be reached now; a later call may succeed.
  virtual std::unique_ptr<CaptureDeviceWatch> WatchCaptureDevices(CaptureDeviceNotify notify) = 0;
  // The legacy mixer; nullptr on a platform that has none.
  virtual LegacyMixer* Mixer() = 0;
};

}  // namespace kv::platform
