#pragma once
// Microphone mute: toggles the default capture device's mute state, through the capture
// endpoint where the system has one and through the legacy mixer otherwise. Main thread.
#include <memory>
#include <optional>

#include "platform/audio.h"

namespace kv {

class MicrophoneControl {
 public:
  // `audio` may be null (a platform without audio): every toggle then does nothing.
  MicrophoneControl(platform::Audio* audio, platform::MessageBoxes* boxes);
  ~MicrophoneControl();

  // Toggles the mute state: reads it, then writes the inverse. When the state cannot be read
  // nothing is written, so a failed read never mutes or unmutes by guesswork.
  void MicrophoneMute();
  // Opens the default capture endpoint and registers the volume notification; a failure leaves
  // it closed, to be tried again by the next toggle.
  void OpenCaptureEndpoint();
  bool EndpointOpen() const { return FEndpoint != nullptr; }

  // The legacy mixer's microphone mute control: nullopt when it could not be read.
  std::optional<bool> GetMixerLineMute();
  bool SetMixerLineMute(bool muted);

  // The volume notification acts on nothing; it is counted so that its delivery can be seen.
  std::size_t NotificationsSeen() const;

 private:
  void ShowMixerError(platform::MixerResult result);

  platform::Audio* audio_;
  platform::MessageBoxes* boxes_;
  std::unique_ptr<platform::CaptureEndpoint> FEndpoint;
  struct Notifications;
  std::shared_ptr<Notifications> notifications_;
};

}  // namespace kv
