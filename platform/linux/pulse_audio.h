#pragma once
// Audio on Linux: the capture endpoint over libpulse (also PipeWire's pulse server) and the legacy
// mixer over ALSA's capture switch.
//
// An endpoint is the server's default source at the time it opens, held by name: the monitor
// keeps toggling the device it opened when the default changes later, as on Windows.
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

class PulseAudio : public Audio {
 public:
  // `appName` is how the client shows in the server's lists.
  explicit PulseAudio(std::string appName = "kvmon") : appName_(std::move(appName)) {}
  bool HasCaptureEndpoint() override { return true; }
  std::unique_ptr<CaptureEndpoint> OpenDefaultCaptureEndpoint() override;
  LegacyMixer* Mixer() override { return &mixer_; }

 private:
  std::string appName_;
  AlsaMixer mixer_;
};

}  // namespace kv::platform::linux_
