#pragma once
// Microphone mute: toggles the default capture device's mute state, through the capture
// endpoint where the system has one and through the legacy mixer otherwise. Main thread.
//
// The endpoint follows the system: a watch on the capture devices reopens it on the new default
// when the default changes or the opened device goes away, so a press always acts on the
// microphone in use. When the connection to the audio service breaks, the control reconnects
// with a growing delay (kFirstRetry doubling up to kLastRetry); while connected no timer runs.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio.h"
#include "platform/platform.h"

namespace kv {

class MicrophoneControl {
 public:
  static constexpr std::chrono::milliseconds kFirstRetry{250};
  static constexpr std::chrono::milliseconds kLastRetry{30'000};

  // `audio` may be null (a platform without audio): every toggle then does nothing.
  MicrophoneControl(platform::EventLoop& loop, platform::DebugOutput& debug, platform::Audio* audio,
                    platform::MessageBoxes* boxes);
  ~MicrophoneControl();
  MicrophoneControl(const MicrophoneControl&) = delete;
  MicrophoneControl& operator=(const MicrophoneControl&) = delete;

  // Toggles the mute state: reads it, then writes the inverse. When the state cannot be read
  // nothing is written, so a failed read never mutes or unmutes by guesswork. An endpoint whose
  // device is gone is replaced by the current default before the toggle. Returns the state
  // written, nullopt when nothing was written.
  std::optional<bool> MicrophoneMute();
  // Starts following the default capture device (the watch) and opens its endpoint with the
  // volume notification; a failure leaves it closed, to be tried again by the next toggle, by a
  // device change or, when the audio service is unreachable, by the reconnection.
  void OpenCaptureEndpoint();
  bool EndpointOpen() const { return FEndpoint != nullptr; }
  // True while the watch on the capture devices runs (the audio service is reachable).
  bool Connected() const { return watch_ != nullptr; }
  // True while a reconnection is scheduled.
  bool Reconnecting() const { return retryTimer_ != 0; }

  // The default microphone's mute state as last seen: nullopt when there is none (no capture
  // device, or no connection to the audio service). Follows changes made anywhere.
  std::optional<bool> Muted() const { return state_; }
  // Fired on the main thread whenever Muted() changes.
  std::function<void(std::optional<bool>)> OnStateChanged;

  // The caption of the mixer's message boxes: the application's title.
  void SetMessageCaption(std::string caption) { caption_ = std::move(caption); }

  // The legacy mixer's microphone mute control: nullopt when it could not be read.
  std::optional<bool> GetMixerLineMute();
  bool SetMixerLineMute(bool muted);

  // Volume notifications received on the audio system's thread.
  std::size_t NotificationsSeen() const;

 private:
  struct Inbox;
  void Connect();
  void ScheduleReconnect();
  void Reopen();   // the current default, with its notification
  void Refresh();  // reads the state of the open endpoint
  void SetState(std::optional<bool> state);
  void OnDeviceEvent(const platform::CaptureDeviceEvent& e);
  void ShowMixerError(platform::MixerResult result);

  platform::EventLoop& loop_;
  platform::DebugOutput& debug_;
  platform::Audio* audio_;
  platform::MessageBoxes* boxes_;
  std::string caption_;
  std::shared_ptr<Inbox> inbox_;
  std::unique_ptr<platform::CaptureDeviceWatch> watch_;
  std::uint64_t watchGeneration_ = 0;
  std::unique_ptr<platform::CaptureEndpoint> FEndpoint;
  std::optional<bool> state_;
  platform::TimerId retryTimer_ = 0;
  std::chrono::milliseconds retry_ = kFirstRetry;
  bool unreachable_ = false;  // since the last connection failed or was lost
};

}  // namespace kv
