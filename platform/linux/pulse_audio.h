#pragma once
// Audio on Linux: the capture endpoint over libpulse (also PipeWire's pulse server) and the legacy
// mixer over ALSA's capture switch.
//
// An endpoint is the server's default source at the time it opens. It is bound to that source by
// its index (its DeviceId is the source's name), so it never acts on a source that replaced a
// removed one. Endpoints and watches opened while a connection to the server lives share it;
// the connection goes with the last of them. All connections run on one thread of the service,
// which sleeps in poll() while nothing happens.
#include <chrono>
#include <memory>
#include <string>

#include "platform/audio.h"

namespace kv::platform::linux_ {

// The microphone's capture switch of an ALSA card ("default" unless told otherwise). The switch
// is on while the microphone records, so "muted" is the switch being off.
class AlsaMixer : public LegacyMixer {
 public:
  explicit AlsaMixer(std::string card = "default") : card_(std::move(card)) {}
  MixerResult GetMicrophoneMute(bool& muted) override;
  MixerResult SetMicrophoneMute(bool muted) override;

 private:
  std::string card_;
};

class PulseConnection;
class PulseLoop;

class PulseAudio : public Audio {
 public:
  // A request (and the connection itself) that the server has not answered in this time fails,
  // so a hung server cannot freeze the caller.
  static constexpr std::chrono::milliseconds kRequestTimeout{3000};

  // `appName` is how the client shows in the server's lists.
  explicit PulseAudio(std::string appName = "kvmon");
  ~PulseAudio() override;
  bool HasCaptureEndpoint() override { return true; }
  std::unique_ptr<CaptureEndpoint> OpenDefaultCaptureEndpoint() override;
  // Follows the server's changes: a new default source (DefaultChanged), a source unloaded or
  // unplugged (DeviceRemoved with its name) and the connection's failure (ServiceLost).
  std::unique_ptr<CaptureDeviceWatch> WatchCaptureDevices(CaptureDeviceNotify notify) override;
  LegacyMixer* Mixer() override { return &mixer_; }

 private:
  std::shared_ptr<PulseConnection> Connection();

  std::string appName_;
  std::shared_ptr<PulseLoop> loop_;
  std::weak_ptr<PulseConnection> connection_;
  AlsaMixer mixer_;
};

}  // namespace kv::platform::linux_
