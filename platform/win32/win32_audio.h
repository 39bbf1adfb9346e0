#pragma once
// Audio on Windows: the default capture endpoint through Core Audio (MMDevice enumerator and
// endpoint volume) and the legacy winmm mixer's microphone mute control.
#include "platform/audio.h"

namespace kv::platform::win32 {

// A mixer device's (the monitor's: device 0) microphone source line and its mute control.
// Every call opens the mixer and closes it again before returning.
class Win32Mixer : public LegacyMixer {
 public:
  explicit Win32Mixer(unsigned device = 0) : device_(device) {}
  MixerResult GetMicrophoneMute(bool& muted) override;
  MixerResult SetMicrophoneMute(bool muted) override;

 private:
  unsigned device_;
};

class Win32Audio : public Audio {
 public:
  // The NT family from major version 6, read from the kernel (not from the version the
  // program's manifest lets it see).
  bool HasCaptureEndpoint() override;
  // Initialises COM on the calling thread (single-threaded apartment) for the endpoint's
  // lifetime; the endpoint must be released on the thread that opened it.
  std::unique_ptr<CaptureEndpoint> OpenDefaultCaptureEndpoint() override;
  // An IMMNotificationClient registered with an enumerator of its own. Core Audio has no
  // connection to lose, so ServiceLost is never reported; a removed device shows in
  // DeviceRemoved and, on the endpoint, as AUDCLNT_E_DEVICE_INVALIDATED (Invalidated()).
  // Like the endpoint, it is made and released on one thread (COM is initialised for it).
  std::unique_ptr<CaptureDeviceWatch> WatchCaptureDevices(CaptureDeviceNotify notify) override;
  LegacyMixer* Mixer() override { return &mixer_; }

 private:
  Win32Mixer mixer_;
};

}  // namespace kv::platform::win32
